// Read with eval by each script test. A ScriptPhone is a copy of data/browser-phone.xml shown through
// capmgr/samples/browser.xml, with a service bound to it by PhoneSim.Control as the Device Manager.

var fso = new ActiveXObject("Scripting.FileSystemObject");
var shell = new ActiveXObject("WScript.Shell");
var scriptDir = fso.GetParentFolderName(WScript.ScriptFullName);
var sourceRoot = fso.GetParentFolderName(fso.GetParentFolderName(scriptDir));

var E_FAIL = 0x80004005 | 0;
var E_ACCESSDENIED = 0x80070005 | 0;

function check(cond, what) { if (!cond) throw new Error(what); }

function hex(n) { return "0x" + (n >>> 0).toString(16); }

// Runs f; an error it raises names what was being done.
function within(what, f) {
    try { return f(); } catch (e) {
        var message = e.message ? e.message : hex(e.number), wrapped = new Error(what + ": " + message);
        wrapped.number = e.number;
        throw wrapped;
    }
}

// Runs f, which must throw; returns the error's HRESULT.
function failure(f, what) {
    try { f(); } catch (e) {
        check((e.number | 0) < 0, what + ": not a failure code: " + hex(e.number));
        return e.number | 0;
    }
    throw new Error(what + ": no error");
}

// Wine's JScript cannot take typeof of a VT_DATE, but converts it with Date.
function millis(date) { return new Date(date).getTime(); }

// Each virtual folder with the phone folder behind it and what it shows. \Phone\ and Sounds are
// restricted: their files and unconfigured folders (and C:\Data\ itself) are hidden.
var virtualTree = {
    "\\": {parent: null, folders: ["Phone", "Memory card"], files: []},
    "\\Phone\\": {parent: "\\", phone: "C:\\", drive: "C", folders: ["Pictures", "Sounds", "Documents"], files: []},
    "\\Phone\\Pictures\\": {parent: "\\Phone\\", phone: "C:\\Images\\", folders: ["Holiday"], files: ["beach.jpg"]},
    "\\Phone\\Pictures\\Holiday\\": {parent: "\\Phone\\Pictures\\", phone: "C:\\Images\\Holiday\\", folders: [],
                                     files: ["sunset.png"]},
    "\\Phone\\Sounds\\": {parent: "\\Phone\\", phone: "C:\\Sounds\\", folders: [], files: []},
    "\\Phone\\Documents\\": {parent: "\\Phone\\", phone: "C:\\Data\\Documents\\", folders: ["Letters"],
                             files: ["notes.txt", "report.pdf", "todo.note"]},
    "\\Phone\\Documents\\Letters\\": {parent: "\\Phone\\Documents\\", phone: "C:\\Data\\Documents\\Letters\\",
                                      folders: [], files: ["letter.doc"]},
    "\\Memory card\\": {parent: "\\", phone: "E:\\", drive: "E", folders: ["Songs", "Videos", "Empty"],
                        files: ["readme.txt"]},
    "\\Memory card\\Empty\\": {parent: "\\Memory card\\", phone: "E:\\Empty\\", folders: [], files: []},
    "\\Memory card\\Songs\\": {parent: "\\Memory card\\", phone: "E:\\Music\\", folders: [],
                               files: ["track01.mp3", "track02.mp3"]},
    "\\Memory card\\Videos\\": {parent: "\\Memory card\\", phone: "E:\\Videos\\", folders: [], files: ["clip.3gp"]}
};

function virtualFolders() { var out = []; for (var path in virtualTree) out.push(path); return out; }

function ScriptPhone() { this.capmgrValue = "HKCU\\Software\\Morvane\\CapMgr\\Config"; }

ScriptPhone.prototype.open = function () {
    var data = fso.BuildPath(scriptDir, "data");
    this.folder = fso.BuildPath(fso.GetSpecialFolder(2).Path, "morvane-script-" + fso.GetBaseName(fso.GetTempName()));
    fso.CreateFolder(this.folder);
    fso.CopyFolder(fso.BuildPath(data, "browser-phone"), fso.BuildPath(this.folder, "browser-phone"));
    this.description = fso.BuildPath(this.folder, "browser-phone.xml");
    fso.CopyFile(fso.BuildPath(data, "browser-phone.xml"), this.description);
    // Git keeps no empty folder.
    fso.CreateFolder(this.pcPath("E:\\Empty"));
    (this.xml = new ActiveXObject("Msxml2.DOMDocument.6.0")).async = false;
    check(this.xml.load(this.description), "reading " + this.description);
    // Without MORVANE_CAPMGR_CONFIG the Capability Manager reads the registry; what was there is put back.
    this.previousCapmgr = null;
    try { this.previousCapmgr = shell.RegRead(this.capmgrValue); } catch (e) {}
    shell.RegWrite(this.capmgrValue, fso.BuildPath(sourceRoot, "components\\capmgr\\samples\\browser.xml"), "REG_SZ");
    // The control keeps the simulator's session, and so the loaded phone, alive.
    (this.control = new ActiveXObject("PhoneSim.Control")).LoadDescription(this.description);
    this.control.Reset();
    this.device = new ActiveXObject("PhoneSim.Application").Devices.Item(1);
    this.service = new ActiveXObject("Morvane.KVFileMgmtService");
    this.control.BindService(this.service, "phone-browser");
    this.fm = this.service.CreateFileMgmt();
};

ScriptPhone.prototype.pcPath = function (phonePath) {
    return fso.BuildPath(fso.BuildPath(this.folder, "browser-phone"), phonePath.charAt(0) + phonePath.substr(2));
};

ScriptPhone.prototype.phoneItem = function (phonePath) { return this.device.GetStorageItem(phonePath); };

ScriptPhone.prototype.drive = function (letter, attribute) {
    var node = this.xml.selectSingleNode("/phonesim/device/drive[@letter='" + letter + "']");
    check(node != null, "drive " + letter + " in the description");
    return node.getAttribute(attribute);
};

ScriptPhone.prototype.describedMime = function (extension) {
    var node = this.xml.selectSingleNode("/phonesim/mime[@extension='" + extension + "']");
    return node ? node.getAttribute("type") : null;
};

ScriptPhone.prototype.close = function () {
    if (this.service) try { this.control.UnbindService(this.service); } catch (e) {}
    if (this.previousCapmgr === null) {
        // Wine's WScript.Shell has no RegDelete.
        shell.Run("reg delete \"HKCU\\Software\\Morvane\\CapMgr\" /v Config /f", 0, true);
    } else if (this.previousCapmgr !== undefined) {
        shell.RegWrite(this.capmgrValue, this.previousCapmgr, "REG_SZ");
    }
    if (this.folder) try { fso.DeleteFolder(this.folder, true); } catch (e) {}
};

// Prints "ok" or the failure and sets the exit code.
function runWithPhone(body) {
    var phone = new ScriptPhone(), failed = null;
    try { phone.open(); body(phone); } catch (e) { failed = e; }
    try { phone.close(); } catch (e) { if (!failed) failed = e; }
    if (failed) {
        WScript.Echo("FAIL: " + failed.message + (failed.number ? " (" + hex(failed.number) + ")" : ""));
        WScript.Quit(1);
    }
    WScript.Echo("ok");
    WScript.Quit(0);
}
