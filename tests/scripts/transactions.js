// Asynchronous requests from a script client: transaction ids of listings
// and operations across objects, operations on the phone's files, and the
// end of the binding. Scripts get no events under Wine, so the effects are
// read from the files behind the phone.
var libFso = new ActiveXObject("Scripting.FileSystemObject");
eval(libFso.OpenTextFile(libFso.BuildPath(libFso.GetParentFolderName(WScript.ScriptFullName), "lib\\phone.js")).ReadAll());

runWithPhone(function (phone) {
    var fm = phone.fm;
    var root = fm.CreateFMFolder("\\");
    var documents = fm.CreateFMFolder("\\Phone\\Documents\\");
    var card = fm.CreateFMFolder("\\Memory card\\");
    var songs = fm.CreateFMFolder("\\Memory card\\Songs\\");

    // Listings: one id each, consecutive whichever object asks. (A mount
    // point's GetFilesAsynch and GetFoldersAsynch give E_NOTIMPL: not used.)
    var ids = within("listings", function () {
        return [documents.GetObjectsAsynch(), songs.GetFilesAsynch(), documents.GetFoldersAsynch(),
                root.GetObjectsAsynch(), card.GetObjectsAsynch(), documents.GetFilesAsynch()];
    });
    for (var i = 0; i < ids.length; i++) {
        check(typeof ids[i] == "number" && ids[i] == Math.floor(ids[i]), "transaction id " + ids[i]);
        if (i > 0) check(ids[i] == ids[i - 1] + 1, "ids " + ids[i - 1] + " then " + ids[i]);
    }
    var next = ids[ids.length - 1] + 1;
    function takes(id, what) {
        check(id == next, what + ": id " + id + ", expected " + next);
        next = id + 1;
    }

    // What browser.xml forbids is refused at once, spends no id and leaves
    // the phone as it was.
    var refused = [
        ["deleting a file of Documents", "C:\\Data\\Documents\\notes.txt", function () { return fm.CreateFMFile("\\Phone\\Documents\\notes.txt").Delete(); }],
        ["renaming a file of Pictures", "C:\\Images\\beach.jpg", function () { return fm.CreateFMFile("\\Phone\\Pictures\\beach.jpg").Rename("b.jpg"); }],
        ["deleting Sounds", "C:\\Sounds\\", function () { return fm.CreateFMFolder("\\Phone\\Sounds\\").Delete(); }],
        ["deleting Documents", "C:\\Data\\Documents\\", function () { return fm.CreateFMFolder("\\Phone\\Documents\\").Delete(); }]
    ];
    for (var r = 0; r < refused.length; r++) {
        failsWith(E_ACCESSDENIED, refused[r][2], refused[r][0]);
        var on = phone.pcPath(refused[r][1]);
        check(fso.FileExists(on) || fso.FolderExists(on), refused[r][0] + ": still on the phone");
    }
    check(fso.FileExists(phone.pcPath("C:\\Images\\beach.jpg")) && !fso.FileExists(phone.pcPath("C:\\Images\\b.jpg")),
          "the refused rename left the name");
    takes(within("listing after refusals", function () { return songs.GetFoldersAsynch(); }),
          "refused requests spend no id");

    // Operations take the next ids and change the phone.
    var pcReadme = phone.pcPath("E:\\readme.txt");
    takes(fm.CreateFMFile("\\Memory card\\readme.txt").Delete(), "Delete");
    check(waitFor(function () { return !fso.FileExists(pcReadme); }), "the deleted file is gone from the phone");
    var videos = fm.CreateFMFolder("\\Memory card\\Videos\\");
    takes(videos.NewFolder("x"), "NewFolder");
    check(waitFor(function () { return fso.FolderExists(phone.pcPath("E:\\Videos\\x")); }), "the new folder is on the phone");
    takes(within("listing after the operations", function () { return videos.GetFilesAsynch(); }),
          "a listing after the operations");

    // Without the phone, nothing opens. Objects made before keep what they
    // read but reach the phone no more, even once it is bound again.
    var notes = fm.CreateFMFile("\\Phone\\Documents\\notes.txt");
    var size = notes.Size;
    phone.unbind();
    failsWith(E_FAIL, function () { return fm.CreateFMFolder("\\"); }, "CreateFMFolder after unbinding");
    failsWith(E_FAIL, function () { return fm.CreateFMFile("\\Phone\\Documents\\notes.txt"); },
              "CreateFMFile after unbinding");
    failsWith(E_FAIL, function () { return phone.service.CreateFileMgmt().CreateFMFolder("\\Phone\\"); },
              "a new file management object after unbinding");
    check(notes.Path == "\\Phone\\Documents\\notes.txt" && notes.Size == size, "an old file keeps its values");
    failsWith(E_FAIL, function () { return notes.Parent; }, "Parent after unbinding");
    failsWith(E_FAIL, function () { return documents.Objects; }, "Objects after unbinding");
    failsWith(E_FAIL, function () { return documents.GetObjectsAsynch(); }, "GetObjectsAsynch after unbinding");

    within("binding again", function () { phone.control.BindService(phone.service, "phone-browser"); });
    failsWith(E_FAIL, function () { return documents.GetObjectsAsynch(); }, "an old folder after binding again");
    var again = fm.CreateFMFolder("\\Phone\\Documents\\");
    var expected = virtualTree["\\Phone\\Documents\\"];
    check(again.Objects.Count == expected.files.length + expected.folders.length, "listing after binding again");
    // Refused calls spent no id; the service goes on counting.
    takes(again.GetObjectsAsynch(), "a listing after binding again");
});
