// The object model from a script client: every folder and file by virtual path, its properties checked
// against the phone description and the files behind it, parents, and paths that must fail.
var libFso = new ActiveXObject("Scripting.FileSystemObject");
eval(libFso.OpenTextFile(libFso.BuildPath(libFso.GetParentFolderName(WScript.ScriptFullName), "lib\\phone.js")).ReadAll());

var TYPE_FILE = 1, TYPE_FOLDER = 2, TYPE_MOUNT_POINT = 3;
var SCOM_FILE = 3;  // the phone's item types: 1 drive, 2 directory, 3 file

function folderName(path) { var parts = path.split("\\"); return path == "\\" ? "" : parts[parts.length - 2]; }
function folderType(path) { return virtualTree[path].drive ? TYPE_MOUNT_POINT : TYPE_FOLDER; }

// What files, folders and mount points share.
function checkObject(object, path, name, type, parentPath, what) {
    check(object.Path == path, what + ": Path " + object.Path);
    check(object.Name == name, what + ": Name " + object.Name);
    check(object.Type == type, what + ": Type " + object.Type);
    check(typeof object.FileAttributes == "number", what + ": FileAttributes");
    var times = [object.Created, object.Accessed, object.Changed];
    for (var i = 0; i < times.length; i++) check(isFinite(millis(times[i])), what + ": time " + i + " is a date");
    if (parentPath === null) {
        failure(function () { return object.Parent; }, what + ": Parent of the root");
    } else {
        var parent = object.Parent;
        check(parent.Path == parentPath, what + ": Parent.Path " + parent.Path);
        check(parent.Type == folderType(parentPath), what + ": Parent.Type");
    }
}

function checkFolders(phone) {
    var paths = virtualFolders();
    for (var i = 0; i < paths.length; i++) {
        var path = paths[i];
        var entry = virtualTree[path];
        var what = "folder " + path;
        var folder = within(what, function () { return phone.fm.CreateFMFolder(path); });
        var type = folderType(path);
        within(what, function () { checkObject(folder, path, folderName(path), type, entry.parent, what); });
        if (!entry.phone) continue;
        // Behind every folder but the root is a directory of the phone.
        check(phone.phoneItem(entry.phone).Type != SCOM_FILE, what + ": on the phone");
        if (type != TYPE_MOUNT_POINT) continue;
        // Capacity, Free and Used are checked in the object model tests.
        within(what, function () {
            check(folder.Label == phone.drive(entry.drive, "label"), what + ": Label " + folder.Label);
            check(folder.Media >= 1 && folder.Media <= 3, what + ": Media " + folder.Media);
        });
    }
    // A folder's path may leave out its last backslash.
    check(phone.fm.CreateFMFolder("\\Phone\\Documents").Path == "\\Phone\\Documents\\", "folder path without its backslash");
}

function checkFiles(phone) {
    var seen = {};
    var paths = virtualFolders();
    for (var i = 0; i < paths.length; i++) {
        var entry = virtualTree[paths[i]];
        for (var j = 0; j < entry.files.length; j++) {
            var name = entry.files[j];
            var path = paths[i] + name;
            var phonePath = entry.phone + name;
            var what = "file " + path;
            var file = within(what, function () { return phone.fm.CreateFMFile(path); });
            within(what, function () { checkObject(file, path, name, TYPE_FILE, paths[i], what); });
            var backing = fso.GetFile(phone.pcPath(phonePath));
            var onPhone = phone.phoneItem(phonePath);
            check(file.Size == backing.Size, what + ": Size " + file.Size + " of " + backing.Size);
            check(file.MIMEType == onPhone.MIMEType, what + ": MIMEType " + file.MIMEType);
            check(millis(file.Changed) == millis(onPhone.LastModified), what + ": Changed " + new Date(file.Changed));
            check(file.FileAttributes == onPhone.Attributes, what + ": FileAttributes " + hex(file.FileAttributes));
            check((file.FileAttributes & 0x10) == 0, what + ": not a directory");
            seen[name.substr(name.lastIndexOf(".") + 1)] = file.MIMEType;
        }
    }
    // MIME types by extension: a common one, and one only the phone description defines.
    check(seen["txt"] == "text/plain", "MIME type of .txt: " + seen["txt"]);
    check(seen["note"] == phone.describedMime("note") && seen["note"] != null, "MIME type of .note: " + seen["note"]);
}

function checkBadPaths(phone) {
    // Items that exist on the phone but not in the virtual tree are refused too.
    var hidden = ["C:\\Other\\hidden.txt", "C:\\Sounds\\Tones\\tone.mid", "C:\\Sounds\\ring.amr", "C:\\welcome.txt"];
    for (var i = 0; i < hidden.length; i++) check(phone.phoneItem(hidden[i]).Type == SCOM_FILE, hidden[i] + " exists");
    var folders = ["\\Nowhere\\", "\\Phone\\Other\\", "\\Phone\\Sounds\\Tones\\", "\\Phone\\Pictures\\Missing\\",
                   "\\Phone\\Documents\\notes.txt\\", "\\Phone\\..\\Phone\\", "Phone\\", "\\Phone\\Pic*\\", "\\Images\\"];
    for (var f = 0; f < folders.length; f++)
        failure(function () { return phone.fm.CreateFMFolder(folders[f]); }, "CreateFMFolder(" + folders[f] + ")");
    var files = ["\\Phone\\Documents\\missing.txt", "\\Phone\\Other\\hidden.txt", "\\Phone\\Sounds\\Tones\\tone.mid",
                 "\\Phone\\Sounds\\ring.amr", "\\Phone\\welcome.txt", "\\Phone\\Documents\\Letters", "\\Phone\\Documents\\Letters\\", "\\",
                 "\\Phone\\Documents\\..\\Documents\\notes.txt", "\\Phone\\Documents\\*.txt", "Phone\\Documents\\notes.txt", ""];
    for (var g = 0; g < files.length; g++)
        failure(function () { return phone.fm.CreateFMFile(files[g]); }, "CreateFMFile(" + files[g] + ")");
}

runWithPhone(function (phone) {
    checkFolders(phone);
    checkFiles(phone);
    checkBadPaths(phone);
});
