// Objects, Files and Folders of every virtual folder from a script client: enumerated, compared with
// Count and the tree, items by index and by name, and keys that must fail (names in another case fail in
// the object model tests).
var libFso = new ActiveXObject("Scripting.FileSystemObject");
eval(libFso.OpenTextFile(libFso.BuildPath(libFso.GetParentFolderName(WScript.ScriptFullName), "lib\\phone.js")).ReadAll());

function sortedNames(items) { var names = []; for (var i = 0; i < items.length; i++) names.push(items[i].Name); return names.sort().join("|"); }

// isFolder tells the folders among the expected names.
function checkCollection(collection, folderPath, expected, isFolder, what) {
    var items = [], count = collection.Count;
    for (var e = new Enumerator(collection); !e.atEnd(); e.moveNext()) items.push(e.item());
    check(items.length == count, what + ": " + items.length + " enumerated, Count " + count);
    check(sortedNames(items) == expected.slice(0).sort().join("|"), what + ": " + sortedNames(items));

    for (var i = 0; i < items.length; i++) {
        var item = items[i];
        var folder = isFolder[item.Name] === true;
        var path = folderPath + item.Name + (folder ? "\\" : "");
        check(item.Path == path, what + ": Path " + item.Path);
        check(folder ? item.Type != 1 : item.Type == 1, what + ": Type of " + item.Name + " " + item.Type);
        if (folder && folderPath == "\\") check(item.Type == 3, what + ": " + item.Name + " is a mount point");
        // By position, in the order of the enumeration, and by name.
        check(collection.Item(i + 1).Path == path, what + ": Item(" + (i + 1) + ")");
        check(collection.Item(item.Name).Path == path, what + ": Item(\"" + item.Name + "\")");
    }
    if (count > 0) check(collection(1).Path == items[0].Path, what + ": default member");
    var bad = [0, -1, count + 1, "no such item", ""];
    for (var b = 0; b < bad.length; b++) failure(function () { return collection.Item(bad[b]); }, what + ": Item(" + bad[b] + ")");
}

function checkFolder(phone, path) {
    var entry = virtualTree[path];
    var folder = phone.fm.CreateFMFolder(path);
    var isFolder = {};
    for (var i = 0; i < entry.folders.length; i++) isFolder[entry.folders[i]] = true;
    var all = entry.folders.concat(entry.files);
    var kinds = [["Objects", all], ["Files", entry.files], ["Folders", entry.folders]];
    for (var k = 0; k < kinds.length; k++) within(path + " " + kinds[k][0], function () {
        checkCollection(folder[kinds[k][0]], path, kinds[k][1], isFolder, path + " " + kinds[k][0]);
    });
    // A folder is not among the files.
    if (entry.folders.length > 0) failure(function () { return folder.Files.Item(entry.folders[0]); }, path + " Files.Item(a folder)");
    if (entry.files.length > 0) {
        // A file is not among the folders; an item of a collection is the object the path opens.
        failure(function () { return folder.Folders.Item(entry.files[0]); }, path + " Folders.Item(a file)");
        var viaCollection = folder.Files.Item(entry.files[0]);
        var viaPath = phone.fm.CreateFMFile(path + entry.files[0]);
        check(viaCollection.Size == viaPath.Size && viaCollection.MIMEType == viaPath.MIMEType &&
              millis(viaCollection.Changed) == millis(viaPath.Changed), path + ": listed and opened file agree");
    }
}

runWithPhone(function (phone) {
    var paths = virtualFolders();
    for (var i = 0; i < paths.length; i++) checkFolder(phone, paths[i]);
    // A folder opened later lists what the phone holds by then.
    var before = phone.fm.CreateFMFolder("\\Memory card\\").Objects.Count;
    fso.CreateTextFile(phone.pcPath("E:\\later.txt")).Close();
    var card = phone.fm.CreateFMFolder("\\Memory card\\");
    check(card.Objects.Count == before + 1, "a file added on the phone is listed");
    check(card.Files.Item("later.txt").Path == "\\Memory card\\later.txt", "the added file by name");
});
