// The simulator from a script client: late-bound calls through the type
// library, enumeration of the collections, the control object.
// Argument: the phone description to load.
function check(cond, what) { if (!cond) throw new Error(what); }
try {
    var control = new ActiveXObject("PhoneSim.Control");
    control.LoadDescription(WScript.Arguments(0));
    control.ResetCallCounts();
    var app = new ActiveXObject("PhoneSim.Application");
    check(app.Devices.Count == 1, "one device");
    var imeis = [];
    for (var e = new Enumerator(app.Devices); !e.atEnd(); e.moveNext()) imeis.push(e.item().IMEI);
    check(imeis.join() == "004400000000011", "device by enumeration: " + imeis.join());
    var device = app.Devices.Item(1);
    check(device.Model == "Orra 7", "model");
    var drives = [];
    for (var d = new Enumerator(device.Drives); !d.atEnd(); d.moveNext()) drives.push(d.item().Path + d.item().Label);
    check(drives.join("|") == "C:Phone memory|E:Memory card", "drives: " + drives.join("|"));
    var data = device.GetStorageItem("C:\\Data\\");
    check(data.Type == 2 && data.Path == "C:\\Data\\", "directory item");
    var names = [];
    for (var f = new Enumerator(data.Files); !f.atEnd(); f.moveNext()) names.push(f.item().Name + "=" + f.item().MIMEType);
    check(names.join("|") == "contact.vcf=text/x-vcard|notes.txt=text/plain", "files: " + names.join("|"));
    var folders = [];
    for (var s = new Enumerator(data.Subdirectories); !s.atEnd(); s.moveNext()) folders.push(s.item().Path);
    folders.sort();
    check(folders.join("|") == "C:\\Data\\Documents\\|C:\\Data\\Images\\", "subdirectories: " + folders.join("|"));
    check(control.CallCount(7) == 1, "one storage item call counted");
    WScript.Echo("ok");
} catch (err) {
    WScript.Echo("FAILED: " + err.message);
    WScript.Quit(1);
}
