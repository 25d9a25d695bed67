// A late-bound Morvane client: lists a phone folder with the properties of
// each object. The phone simulator plays the Device Manager.
//
//   cscript //nologo listing.js UID FOLDER [PHONE.xml CONFIG.xml]
//   cscript //nologo listing.js phone-browser \Phone\Pictures\
//
// The last two arguments, for trying it with the simulator, name its phone
// description (loaded into the simulator) and the folder configuration
// (stored as the configuration server's setting of this user); without them
// the environment and the registry decide.
var args = WScript.Arguments;
if (args.length != 2 && args.length != 4) {
    WScript.Echo("usage: listing.js UID FOLDER [PHONE.xml CONFIG.xml]");
    WScript.Quit(2);
}

function hex(n) { return "0x" + (n >>> 0).toString(16); }

try {
    var service = new ActiveXObject("Morvane.KVFileMgmtService");
    var deviceManager = new ActiveXObject("PhoneSim.Control");
    if (args.length == 4) {
        deviceManager.LoadDescription(args(2));
        new ActiveXObject("WScript.Shell").RegWrite("HKCU\\Software\\Morvane\\CapMgr\\Config", args(3), "REG_SZ");
    }
    deviceManager.BindService(service, args(0));
    var fm = service.CreateFileMgmt();
    var folder = fm.CreateFMFolder(args(1));
    WScript.Echo(folder.Path + " (" + folder.Objects.Count + " objects)");
    for (var e = new Enumerator(folder.Objects); !e.atEnd(); e.moveNext()) {
        var item = e.item();
        var line = (item.Type == 1 ? "file   " : "folder ") + item.Name;
        if (item.Type == 1) line += "  " + item.Size + " bytes, " + item.MIMEType;
        line += ", attributes " + hex(item.FileAttributes);
        var changed = new Date(item.Changed);  // 0.0 when the phone gives no time
        if (changed.getTime() > 0) line += ", changed " + changed.toUTCString();
        WScript.Echo("  " + line);
    }
    deviceManager.UnbindService(service);
    WScript.Echo("ok");
} catch (err) {
    WScript.Echo("listing.js: " + (err.message || "") + " " + hex(err.number));
    WScript.Quit(1);
}
