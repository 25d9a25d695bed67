// Late-bound use from a script host: every class by its ProgID, the service's
// dispatch interface, and a failure reported as a script error.
function check(cond, what) {
    if (!cond) throw new Error(what);
}

try {
    var progIds = ["Morvane.KVFileMgmtService", "Morvane.KVFileMgmt", "Morvane.FMFile", "Morvane.FMFolder",
                   "Morvane.FMMountPoint", "Morvane.FMObjects", "Morvane.FMFiles", "Morvane.FMFolders"];
    for (var i = 0; i < progIds.length; i++) {
        var o = new ActiveXObject(progIds[i] + ".1");
        check(o != null, "creating " + progIds[i]);
    }

    var service = new ActiveXObject("Morvane.KVFileMgmtService");
    var fm = service.CreateFileMgmt();
    check(typeof fm == "object" && fm != null, "CreateFileMgmt returns an object");
    var other = service.CreateFileMgmt();
    check(other != fm, "each call makes a new file management object");

    var failed = false;
    try {
        fm.CreateFMFolder("\\");
    } catch (e) {
        failed = (e.number | 0) == (0x80004005 | 0);
    }
    check(failed, "opening a folder without a phone fails with E_FAIL");

    WScript.Echo("ok");
    WScript.Quit(0);
} catch (e) {
    WScript.Echo("FAIL: " + e.message);
    WScript.Quit(1);
}
