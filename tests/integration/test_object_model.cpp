// The object model over the simulated phone: paths, identities, refusals, ids, collections, events.
#include "test_fixture.h"

#include "objects/FMFile.h"
#include "objects/FMFolder.h"
#include "objects/FMMountPoint.h"

namespace {

using namespace itest;

const wchar_t kPictures[] = L"\\Phone\\Pictures\\";

class ObjectModel : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(true);  // C: 64 MB, its free space following what it holds
        m_image.Fill(L'C', {File(L"Images\\a.jpg", "jpeg!"),
                            File(L"Images\\ro.png", "png", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
                            File(L"Images\\scratch.txt", "s"), Dir(L"Images\\Holiday\\"), Dir(L"Images\\Empty\\"),
                            File(L"Images\\Gone\\g.txt", "g"), Dir(L"Images\\Numbered\\Sub\\"),
                            File(L"Images\\Numbered\\1", "one"), File(L"Images\\Numbered\\b.txt", "bee"),
                            File(L"Sounds\\ring.mp3", "mp3"), File(L"Data\\Documents\\report.txt", "report")});
        m_probePath = L"\\Phone\\Pictures\\Empty\\";
    }
    void BindBrowser() { Bind(SamplePath(L"browser.xml"), L"phone-browser"); }
};

TEST_F(ObjectModel, PathsAreNormalisedAndBadPathsRefused) {
    BindBrowser();
    for (const wchar_t* path : {L"\\Phone\\\\Pictures", L"\\Phone\\\\Pictures\\", L"\\\\Phone\\Pictures\\\\",
                                L"\\Phone\\Pictures"}) {
        auto opened = Folder(path);
        EXPECT_EQ(kPictures, PathOf(opened.Get())) << Narrow(path);
        EXPECT_EQ(L"Pictures", NameOf(opened.Get())) << Narrow(path);
    }
    EXPECT_EQ(L"\\Phone\\Pictures\\a.jpg", PathOf(FileAt(L"\\Phone\\\\Pictures\\\\a.jpg").Get()));

    // Refusals leave the out-argument empty; a file is "not a folder", an absent item is not.
    const std::wstring tooLong = std::wstring(kPictures) + std::wstring(300, L'a');
    const struct {
        std::wstring path;
        bool asFolder;
        HRESULT expected;  // S_FALSE: any failure
    } refused[] = {
        {tooLong, true, S_FALSE},
        {tooLong, false, S_FALSE},
        {L"\\Phone\\Pictures\\a.jpg", true, E_INVALIDARG},
        {L"\\Phone\\Pictures\\Holiday\\", false, S_FALSE},
        {L"\\Phone\\..\\Phone\\Pictures\\a.jpg", false, S_FALSE},  // never leaves its entry
        {L"\\Phone\\Pictures\\*", true, S_FALSE},
    };
    for (const auto& r : refused) {
        ComPtr<IKVFMFolder> folder;
        ComPtr<IKVFMFile> file;
        const HRESULT hr = r.asFolder ? m_fm->CreateFMFolder(B(r.path).Get(), folder.Receive())
                                      : m_fm->CreateFMFile(B(r.path).Get(), file.Receive());
        EXPECT_TRUE(FAILED(hr)) << Narrow(r.path);
        if (r.expected != S_FALSE) {
            EXPECT_EQ(r.expected, hr) << Narrow(r.path);
        }
        EXPECT_FALSE(folder || file) << Narrow(r.path);
    }
    ComPtr<IKVFMFolder> missing;
    EXPECT_NE(E_INVALIDARG, m_fm->CreateFMFolder(B(L"\\Phone\\Pictures\\none.jpg").Get(), missing.Receive()));
    EXPECT_EQ(E_INVALIDARG, m_fm->CreateFMFolder(B(kPictures).Get(), nullptr));
    EXPECT_EQ(E_INVALIDARG, m_fm->CreateFMFile(B(L"\\Phone\\Pictures\\a.jpg").Get(), nullptr));
}

TEST_F(ObjectModel, NamesParentsKindsAndIdentities) {
    BindBrowser();
    auto root = Folder(L"\\");
    ASSERT_TRUE(root);
    IKVFMFolder* untouched = reinterpret_cast<IKVFMFolder*>(0x1234);
    EXPECT_EQ(E_FAIL, root->get_Parent(&untouched));
    EXPECT_EQ(reinterpret_cast<IKVFMFolder*>(0x1234), untouched);

    // Parents by a path without its last backslash.
    ComPtr<IKVFMFolder> parent, grandParent;
    ASSERT_EQ(S_OK, Folder(L"\\Phone\\Pictures")->get_Parent(parent.Receive()));
    EXPECT_EQ(L"\\Phone\\", PathOf(parent.Get()));
    ASSERT_EQ(S_OK, parent->get_Parent(grandParent.Receive()));
    EXPECT_EQ(L"\\", PathOf(grandParent.Get()));
    EXPECT_EQ(E_NOINTERFACE, FileAt(L"\\Phone\\Pictures\\a.jpg").As(parent, IID_IKVFMFolder));

    // A drive-backed top-level folder is a mount point: one object whatever it is asked as.
    auto phone = Folder(L"\\Phone\\");
    ComPtr<IKVFMMountPoint> mountPoint, back;
    ComPtr<IKVFMObject> asObject;
    ComPtr<IDispatch> asDispatch;
    ComPtr<IKVFMFolder> asFolder;
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, phone.As(mountPoint, IID_IKVFMMountPoint));
    ASSERT_EQ(S_OK, mountPoint.As(asObject, IID_IKVFMObject));
    ASSERT_EQ(S_OK, mountPoint.As(asDispatch, IID_IDispatch));
    ASSERT_EQ(S_OK, asObject.As(asFolder, IID_IKVFMFolder));
    ASSERT_EQ(S_OK, mountPoint.As(container, IID_IConnectionPointContainer));
    IUnknown* identity = Identity(phone.Get());
    ASSERT_NE(nullptr, identity);
    for (IUnknown* other : std::initializer_list<IUnknown*>{mountPoint.Get(), asObject.Get(), asDispatch.Get(),
                                                            asFolder.Get(), container.Get()})
        EXPECT_EQ(identity, Identity(other));  // the aggregated parts answer for the outer object
    EXPECT_EQ(S_OK, container.As(back, IID_IKVFMMountPoint));

    // A plain folder is no mount point; its connection point container is the folder too.
    auto pictures = Folder(kPictures);
    EXPECT_EQ(E_NOINTERFACE, pictures.As(back, IID_IKVFMMountPoint));
    ComPtr<IConnectionPointContainer> folderContainer;
    ASSERT_EQ(S_OK, pictures.As(folderContainer, IID_IConnectionPointContainer));
    EXPECT_EQ(Identity(pictures.Get()), Identity(folderContainer.Get()));
}

// R1 to R5 and Documents forbid one folder operation and at most one file
// operation each, so a method that tests another operation's flag is caught;
// R6 forbids them all at once.
const char kRulesConfig[] = R"(<applications><devices><device uid="phone-rules"><foldermapping>
  <mountpoint realpath="C:\" virtualpath="Phone">
    <subfolders restricted="false">
      <subfolder realpath="Images" virtualname="Pictures"/>
      <subfolder realpath="R1"><folderoperations><forbidden_operation name="delete"/></folderoperations>
        <fileoperations><forbidden_operation name="copy"/></fileoperations></subfolder>
      <subfolder realpath="R2"><folderoperations><forbidden_operation name="rename"/></folderoperations>
        <fileoperations><forbidden_operation name="move"/></fileoperations></subfolder>
      <subfolder realpath="R3"><folderoperations><forbidden_operation name="new"/></folderoperations>
        <fileoperations><forbidden_operation name="rename"/></fileoperations></subfolder>
      <subfolder realpath="R4"><folderoperations><forbidden_operation name="paste"/></folderoperations></subfolder>
      <subfolder realpath="R5"><folderoperations><forbidden_operation name="copy"/></folderoperations></subfolder>
      <subfolder realpath="R6"><folderoperations><forbidden_operation name="delete"/><forbidden_operation name="rename"/>
        <forbidden_operation name="new"/><forbidden_operation name="cut"/><forbidden_operation name="paste"/></folderoperations>
        <fileoperations><forbidden_operation name="copy"/><forbidden_operation name="move"/>
        <forbidden_operation name="delete"/><forbidden_operation name="rename"/></fileoperations></subfolder>
      <mappedfolder realpath="C:\Data\Documents\" virtualname="Documents">
        <folderoperations><forbidden_operation name="cut"/></folderoperations>
        <fileoperations><forbidden_operation name="delete"/></fileoperations>
      </mappedfolder>
      <mappedfolder realpath="C:\Data\Docs" virtualname="Docs"/>
    </subfolders>
    <folderoperations><forbidden_operation name="rename"/></folderoperations>
  </mountpoint>
</foldermapping></device></devices></applications>)";

TEST_F(ObjectModel, BadArgumentsAndObjectsNotMadeByTheServiceRefuseBeforeAnIdIsDrawn) {
    m_image.Fill(L'C', {File(L"R2\\f.txt", "f"), Dir(L"R1\\"), File(L"Data\\Docs\\d.txt", "docs")});
    BindXml(kRulesConfig, L"phone-rules");
    const LONG before = DrawId();
    auto pcFolder = B(m_image.PcFolder()), name = B(L"n");
    // Objects made outside the service belong to no binding.
    com::ComObject<CFMFile>* rawFile = nullptr;
    com::ComObject<CFMFolder>* rawFolder = nullptr;
    com::ComObject<CFMMountPoint>* rawMountPoint = nullptr;
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMFile>::CreateInstance(&rawFile));
    ComPtr<IKVFMFile> file(rawFile);
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMFolder>::CreateInstance(&rawFolder));
    ComPtr<IKVFMFolder> folder(rawFolder);
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMMountPoint>::CreateInstance(&rawMountPoint));
    ComPtr<IKVFMMountPoint> mountPoint(rawMountPoint);

    for (IKVFMObject* object : std::initializer_list<IKVFMObject*>{file.Get(), folder.Get(), mountPoint.Get()}) {
        com::UniqueBstr path;
        LONG attributes = 0, id = -7;
        ComPtr<IKVFMFolder> parent;
        EXPECT_EQ(E_FAIL, object->get_Path(path.Receive()));
        EXPECT_EQ(E_FAIL, object->get_FileAttributes(&attributes));
        EXPECT_EQ(L"unset", NameOf(object));
        EXPECT_TRUE(FAILED(object->get_Parent(parent.Receive())));
        EXPECT_TRUE(FAILED(object->Delete(&id)));
        EXPECT_TRUE(FAILED(object->Rename(name.Get(), &id)));
        EXPECT_EQ(-7, id);
    }
    for (IKVFMFolder* f : {static_cast<IKVFMFolder*>(folder.Get()), static_cast<IKVFMFolder*>(mountPoint.Get())}) {
        LONG id = -7;
        ComPtr<IKVFMObjects> objects;
        EXPECT_TRUE(FAILED(f->GetObjectsAsynch(&id)));
        EXPECT_TRUE(FAILED(f->NewFolder(name.Get(), &id)));
        EXPECT_TRUE(FAILED(f->get_Objects(objects.Receive())));
        EXPECT_EQ(-7, id);
    }
    auto rule = FileAt(L"\\Phone\\R2\\f.txt");
    auto pictures = Folder(kPictures);
    auto holiday = Folder(L"\\Phone\\Pictures\\Holiday\\");
    ASSERT_TRUE(rule && pictures && holiday);
    LONG id = -7;
    // Only the transaction-id argument comes before the forbidden flag.
    EXPECT_EQ(E_INVALIDARG, rule->MoveToPC(pcFolder.Get(), B(L"a\\b").Get(), nullptr));
    EXPECT_EQ(E_INVALIDARG, Folder(L"\\Phone\\R1\\")->Delete(nullptr));
    EXPECT_EQ(E_INVALIDARG, pictures->GetObjectsAsynch(nullptr));
    EXPECT_EQ(E_INVALIDARG, pictures->NewFolder(name.Get(), nullptr));
    EXPECT_EQ(E_ACCESSDENIED, Folder(L"\\Phone\\")->Rename(name.Get(), &id));  // the mount point's own flag
    for (const wchar_t* bad : {L"", L"a\\b", L"..", L"a/b", L".", L"a:b"}) {
        EXPECT_EQ(E_INVALIDARG, holiday->Rename(B(bad).Get(), &id)) << Narrow(bad);
        EXPECT_EQ(E_INVALIDARG, pictures->NewFolder(B(bad).Get(), &id)) << Narrow(bad);
        EXPECT_EQ(E_INVALIDARG, rule->Rename(B(bad).Get(), &id)) << Narrow(bad);
    }
    EXPECT_EQ(E_INVALIDARG, holiday->Rename(nullptr, &id));
    EXPECT_EQ(E_INVALIDARG, pictures->NewFolder(nullptr, &id));
    EXPECT_EQ(-7, id);
    EXPECT_EQ(before + 1, DrawId());

    // A mapped folder configured without its trailing backslash.
    EXPECT_EQ(L"\\Phone\\Docs\\d.txt", PathOf(FileAt(L"\\Phone\\Docs\\d.txt").Get()));
    ComPtr<IKVFMFolders> top;
    ComPtr<IKVFMFolder> docs;
    ASSERT_EQ(S_OK, Folder(L"\\Phone\\")->get_Folders(top.Receive()));
    EXPECT_EQ(S_OK, top->get_Item(Key(B(L"Docs").Get()), docs.Receive()));
    EXPECT_EQ(L"\\Phone\\Docs\\", PathOf(docs.Get()));
}

TEST_F(ObjectModel, EachForbiddenFlagRefusesOnlyTheMethodsThatTestIt) {
    m_image.Fill(L'C', {File(L"R1\\f.txt", "f"), File(L"R2\\f.txt", "f"), File(L"R3\\f.txt", "f"), Dir(L"R4\\"),
                        Dir(L"R5\\"), File(L"R6\\f.txt", "f")});
    BindXml(kRulesConfig, L"phone-rules");
    const struct {
        const wchar_t* folder;
        std::string folderFlag, fileFlag;  // forbidden operations, space-separated
        std::wstring file;
    } folders[] = {{L"R1", "delete", "copy", L"f.txt"}, {L"R2", "rename", "move", L"f.txt"},
                   {L"R3", "new", "rename", L"f.txt"},  {L"R4", "paste", "", L""},
                   {L"R5", "copy", "", L""},            {L"Documents", "cut", "delete", L"report.txt"},
                   {L"R6", "delete rename new cut paste", "copy move delete rename", L"f.txt"}};
    auto inB = B(m_image.WritePcFile(L"src\\in.txt", "in")), srcB = B(m_image.PcFolder() + L"\\src"), nameB = B(L"n");
    BSTR in = inB.Get(), src = srcB.Get(), name = nameB.Get();  // a PC file, a PC folder
    // The PC-bound calls get no PC folder: past the flag they fail without starting.
    using Call = std::function<HRESULT(IKVFMObject*, IKVFMFolder*, LONG*)>;
    const struct {
        const char* method;
        bool onFile;
        std::string flag;  // "": never forbidden
        Call call;
    } methods[] = {
        {"folder Delete", false, "delete", [](auto o, auto, LONG* id) { return o->Delete(id); }},
        {"folder Rename", false, "rename", [&](auto o, auto, LONG* id) { return o->Rename(name, id); }},
        {"NewFolder", false, "new", [&](auto, auto f, LONG* id) { return f->NewFolder(name, id); }},
        {"folder CopyToPC", false, "", [](auto o, auto, LONG* id) { return o->CopyToPC(nullptr, nullptr, id); }},
        {"folder MoveToPC", false, "cut", [](auto o, auto, LONG* id) { return o->MoveToPC(nullptr, nullptr, id); }},
        {"CopyFileFromPC", false, "paste", [&](auto, auto f, LONG* id) { return f->CopyFileFromPC(in, nullptr, id); }},
        {"MoveFileFromPC", false, "paste", [&](auto, auto f, LONG* id) { return f->MoveFileFromPC(in, nullptr, id); }},
        {"CopyFolderFromPC", false, "paste", [&](auto, auto f, LONG* id) { return f->CopyFolderFromPC(src, nullptr, id); }},
        {"MoveFolderFromPC", false, "paste", [&](auto, auto f, LONG* id) { return f->MoveFolderFromPC(src, nullptr, id); }},
        {"file Delete", true, "delete", [](auto o, auto, LONG* id) { return o->Delete(id); }},
        {"file Rename", true, "rename", [&](auto o, auto, LONG* id) { return o->Rename(name, id); }},
        {"file CopyToPC", true, "copy", [](auto o, auto, LONG* id) { return o->CopyToPC(nullptr, nullptr, id); }},
        {"file MoveToPC", true, "move", [](auto o, auto, LONG* id) { return o->MoveToPC(nullptr, nullptr, id); }},
    };
    for (const auto& f : folders) {
        const std::wstring path = std::wstring(L"\\Phone\\") + f.folder + L"\\";
        auto folder = Folder(path);
        ComPtr<IKVFMFile> file = f.file.empty() ? ComPtr<IKVFMFile>() : FileAt(path + f.file);
        ASSERT_TRUE(folder && (file || f.file.empty()));
        for (const auto& m : methods) {
            if (m.onFile && !file) continue;
            const std::string flags = " " + (m.onFile ? f.fileFlag : f.folderFlag) + " ";
            const bool forbidden = !m.flag.empty() && flags.find(" " + m.flag + " ") != std::string::npos;
            const bool toPc = std::string(m.method).find("ToPC") != std::string::npos;
            LONG id = 0;
            IKVFMObject* target = m.onFile ? static_cast<IKVFMObject*>(file.Get()) : folder.Get();
            EXPECT_EQ(forbidden ? E_ACCESSDENIED : toPc ? E_INVALIDARG : S_OK, m.call(target, folder.Get(), &id))
                << m.method << " in " << Narrow(f.folder);
        }
        DrawId();  // what started has run before the next folder is opened
    }
}

TEST_F(ObjectModel, FileRefreshStopsAtTheFirstFailingReadAndAttributesGoStraightToThePhone) {
    BindBrowser();
    auto photo = FileAt(L"\\Phone\\Pictures\\a.jpg");
    const std::wstring backing = m_image.PcPath(L"C:\\Images\\a.jpg");
    LONG size = 0, attributes = 0;
    ASSERT_TRUE(photo);
    photo->get_FileAttributes(&attributes);
    const LONG original = attributes;

    // Written straight to the phone; the object shows it only after Refresh.
    ASSERT_EQ(S_OK, photo->put_FileAttributes(original | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_NE(0u, GetFileAttributesW(backing.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(S_OK, photo->get_FileAttributes(&attributes));
    EXPECT_EQ(original, attributes);
    FailNext(simCallPutAttributes, E_ACCESSDENIED);
    EXPECT_TRUE(FAILED(photo->put_FileAttributes(original)));

    // Size is read before the attributes: it keeps its new value.
    WriteFileBytes(backing, "eleven byte");
    FailNext(simCallGetAttributes, E_ACCESSDENIED);
    EXPECT_TRUE(FAILED(photo->Refresh(VARIANT{})));
    EXPECT_EQ(S_OK, photo->get_Size(&size));
    EXPECT_EQ(11, size);
    EXPECT_EQ(S_OK, photo->get_FileAttributes(&attributes));
    EXPECT_EQ(original, attributes);

    WriteFileBytes(backing, "twelve bytes");
    FailNext(simCallSize, E_ACCESSDENIED);
    EXPECT_TRUE(FAILED(photo->Refresh(VARIANT{})));
    EXPECT_EQ(S_OK, photo->get_Size(&size));
    EXPECT_EQ(11, size);

    EXPECT_EQ(S_OK, photo->Refresh(VARIANT{}));
    EXPECT_EQ(S_OK, photo->get_Size(&size));
    EXPECT_EQ(12, size);
    EXPECT_EQ(S_OK, photo->get_FileAttributes(&attributes));
    EXPECT_NE(0, attributes & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(ObjectModel, RawDriveStartsOperationsAndCopiesToThePcUnderItsLetter) {
    Bind(SamplePath(L"raw.xml"), L"phone-raw");
    m_probePath = L"\\C:\\Images\\Empty\\";
    ComPtr<IKVFMMountPoint> drive;
    ASSERT_EQ(S_OK, Folder(L"\\C:\\").As(drive, IID_IKVFMMountPoint));
    EXPECT_EQ(L"C:", NameOf(drive.Get()));
    // The events of a mount point come through its aggregated connection point.
    auto sink = Sink::Create();
    Advise(drive.Get(), sink.Get());
    LONG listed = 0, made = 0, copied = 0, up = 0;
    ASSERT_EQ(S_OK, drive->GetObjectsAsynch(&listed));
    ASSERT_EQ(S_OK, drive->NewFolder(B(L"Made").Get(), &made));
    ASSERT_EQ(S_OK, drive->CopyFileFromPC(B(m_image.WritePcFile(L"up.txt", "up")).Get(), nullptr, &up));
    // No name given: the drive's folder on the PC is named by its letter.
    ASSERT_EQ(S_OK, drive->CopyToPC(B(m_image.PcFolder()).Get(), nullptr, &copied));
    ASSERT_TRUE(sink->WaitFor(copied));
    DrawId();
    // A drive makes no folders of its own: that too is reported to its sinks.
    const struct {
        LONG id;
        DISPID dispid;
        ULONG result;
    } expected[] = {{listed, kDispidGetObjectsCompleted, 0},
                    {made, kDispidNewFolderCompleted, static_cast<ULONG>(KVFM_E_NOT_SUPPORTED)},
                    {copied, kDispidCopyToPCCompleted, 0}, {up, kDispidCopyFileFromPCCompleted, 0}};
    for (const auto& e : expected) {
        auto c = OneCompletion(sink.Get(), e.id);
        EXPECT_EQ(e.dispid, c.id);
        EXPECT_EQ(e.result, c.result) << e.dispid;
    }
    EXPECT_EQ("jpeg!", ReadFileBytes(Pc(L"C\\Images\\a.jpg")));
    EXPECT_EQ("up", ReadFileBytes(m_image.PcPath(L"C:\\up.txt")));

    // Every drive of the phone is a mount point below the root.
    ComPtr<IKVFMFolders> drives;
    ComPtr<IKVFMFolder> card;
    LONG count = 0;
    ASSERT_EQ(S_OK, Folder(L"\\")->get_Folders(drives.Receive()));
    EXPECT_EQ(S_OK, drives->get_Count(&count));
    EXPECT_EQ(2, count);
    EXPECT_EQ(S_OK, drives->get_Item(Key(B(L"E:").Get()), card.Receive()));
    EXPECT_EQ(L"\\E:\\", PathOf(card.Get()));
}

TEST_F(ObjectModel, TransactionIdsAreConsecutiveAndEachListingFiresItsOwnEvent) {
    BindBrowser();
    auto pictures = Folder(kPictures);
    auto holiday = Folder(L"\\Phone\\Pictures\\Holiday\\");
    auto picturesSink = Sink::Create(), holidaySink = Sink::Create();
    Advise(pictures.Get(), picturesSink.Get());
    Advise(holiday.Get(), holidaySink.Get());
    LONG objectsId = 0, otherId = 0, filesId = 0, foldersId = 0;
    ASSERT_EQ(S_OK, pictures->GetObjectsAsynch(&objectsId));
    ASSERT_EQ(S_OK, holiday->GetObjectsAsynch(&otherId));
    ASSERT_EQ(S_OK, pictures->GetFilesAsynch(&filesId));
    ASSERT_EQ(S_OK, pictures->GetFoldersAsynch(&foldersId));
    EXPECT_EQ(objectsId + 1, otherId);
    EXPECT_EQ(otherId + 1, filesId);
    EXPECT_EQ(filesId + 1, foldersId);
    ASSERT_TRUE(picturesSink->WaitFor(foldersId));
    ASSERT_TRUE(holidaySink->WaitFor(otherId));

    ComPtr<IKVFMObjects> objects;
    ComPtr<IKVFMFiles> files;
    ComPtr<IKVFMFolders> folders;
    ASSERT_EQ(S_OK, pictures->get_Objects(objects.Receive()));
    ASSERT_EQ(S_OK, pictures->get_Files(files.Receive()));
    ASSERT_EQ(S_OK, pictures->get_Folders(folders.Receive()));
    LONG objectCount = 0, fileCount = 0, folderCount = 0;
    objects->get_Count(&objectCount);
    files->get_Count(&fileCount);
    folders->get_Count(&folderCount);
    const struct {
        LONG id;
        DISPID dispid;
        LONG count;
    } expected[] = {{objectsId, kDispidGetObjectsCompleted, objectCount},
                    {filesId, kDispidGetFilesCompleted, fileCount},
                    {foldersId, kDispidGetFoldersCompleted, folderCount}};
    for (const auto& e : expected) {
        auto calls = picturesSink->Completions(e.id);
        ASSERT_EQ(1u, calls.size()) << e.dispid;
        EXPECT_EQ(e.dispid, calls[0].id);
        EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_DISPATCH, VT_I4}), calls[0].types);
        EXPECT_EQ(0u, calls[0].result);
        EXPECT_EQ(e.count, calls[0].count) << e.dispid;
    }
    EXPECT_TRUE(picturesSink->Completions(otherId).empty());
    EXPECT_EQ(1u, holidaySink->All().size());

    // Operations that cannot run yet still spend their id.
    LONG deleteId = -7;
    FileAt(L"\\Phone\\Pictures\\scratch.txt")->Delete(&deleteId);
    EXPECT_EQ(foldersId + 1, deleteId);
    EXPECT_EQ(deleteId + 1, DrawId());

    // An empty folder lists an empty collection; a vanished one fails without one.
    auto empty = Folder(L"\\Phone\\Pictures\\Empty\\");
    auto gone = Folder(L"\\Phone\\Pictures\\Gone\\");
    auto emptySink = Sink::Create(), goneSink = Sink::Create();
    Advise(empty.Get(), emptySink.Get());
    Advise(gone.Get(), goneSink.Get());
    const LONG emptyId = Run(emptySink.Get(), [&](LONG* id) { return empty->GetObjectsAsynch(id); });
    auto listed = OneCompletion(emptySink.Get(), emptyId);
    EXPECT_EQ(0u, listed.result);
    EXPECT_TRUE(listed.object);
    EXPECT_EQ(0, listed.count);
    const std::wstring backing = m_image.PcPath(L"C:\\Images\\Gone");
    ASSERT_TRUE(DeleteFileW((backing + L"\\g.txt").c_str()));
    ASSERT_TRUE(RemoveDirectoryW(backing.c_str()));
    const LONG goneId = Run(goneSink.Get(), [&](LONG* id) { return gone->GetObjectsAsynch(id); });
    auto failed = OneCompletion(goneSink.Get(), goneId);
    EXPECT_NE(0u, failed.result);
    EXPECT_FALSE(failed.object);
    ComPtr<IKVFMObjects> none;
    EXPECT_TRUE(FAILED(gone->get_Objects(none.Receive())));
    EXPECT_FALSE(none);
}

TEST_F(ObjectModel, CopyFileFromPcClearsTheReadOnlyBitOfTheFileItReplaces) {
    BindBrowser();
    const std::wstring phoneFile = m_image.PcPath(L"C:\\Images\\ro.png");
    const DWORD original = GetFileAttributesW(phoneFile.c_str());
    ASSERT_NE(0u, original & FILE_ATTRIBUTE_READONLY);
    auto source = B(m_image.WritePcFile(L"ro.png", "new content")), sameName = B(L"ro.png");
    auto pictures = Folder(kPictures);
    // The copy itself never touches the phone file: only the clearing can.
    ASSERT_HRESULT_SUCCEEDED(m_control->FailCalls(simCallCopyFromPC, E_ACCESSDENIED, -1));
    const LONG before = DrawId();

    LONG id = -7;
    pictures->CopyFileFromPC(source.Get(), nullptr, &id);  // no name: no target to look at
    EXPECT_EQ(before + 1, id);
    EXPECT_EQ(before + 2, DrawId());
    EXPECT_EQ(original, GetFileAttributesW(phoneFile.c_str()));

    id = -7;
    EXPECT_EQ(E_INVALIDARG, pictures->CopyFileFromPC(source.Get(), B(L"RO.png").Get(), &id));
    EXPECT_EQ(E_INVALIDARG, pictures->CopyFileFromPC(source.Get(), B(L"other.png").Get(), &id));
    EXPECT_EQ(E_INVALIDARG, pictures->CopyFileFromPC(nullptr, sameName.Get(), &id));
    EXPECT_EQ(-7, id);
    EXPECT_EQ(original, GetFileAttributesW(phoneFile.c_str()));

    pictures->CopyFileFromPC(source.Get(), sameName.Get(), &id);
    EXPECT_EQ(before + 3, id);
    // Cleared before the call returns; the other bits stay.
    EXPECT_EQ(original & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesW(phoneFile.c_str()));
    EXPECT_EQ(before + 4, DrawId());
}

TEST_F(ObjectModel, MountPointShowsTheDriveAsItWasWhenOpened) {
    BindBrowser();
    auto open = [&] {
        ComPtr<IKVFMMountPoint> drive;
        EXPECT_EQ(S_OK, Folder(L"\\Phone\\").As(drive, IID_IKVFMMountPoint));
        return drive;
    };
    auto space = [](IKVFMMountPoint* drive) {
        LONG freeSpace = -1, used = -1;
        EXPECT_EQ(S_OK, drive->get_Free(&freeSpace));
        EXPECT_EQ(S_OK, drive->get_Used(&used));
        return std::make_pair(freeSpace, used);
    };
    auto first = open();
    ASSERT_TRUE(first);
    const auto before = space(first.Get());
    LONG capacity = 0;
    EXPECT_EQ(S_OK, first->get_Capacity(&capacity));
    EXPECT_EQ(64 << 20, capacity);
    EXPECT_EQ(capacity, before.first + before.second);

    // More bytes on the drive: the object already made keeps its values.
    WriteFileBytes(m_image.PcPath(L"C:\\filler.bin"), std::string(300000, 'f'));
    EXPECT_EQ(before, space(first.Get()));
    const auto after = space(open().Get());
    EXPECT_LT(after.first, before.first);
    EXPECT_EQ(capacity - after.first, after.second);

    const LONG drawn = DrawId();
    LONG id = -7;
    EXPECT_EQ(E_NOTIMPL, first->Delete(&id));
    EXPECT_EQ(E_NOTIMPL, first->MoveToPC(B(m_image.PcFolder()).Get(), nullptr, &id));
    EXPECT_EQ(E_NOTIMPL, first->GetFilesAsynch(&id));
    EXPECT_EQ(-7, id);
    EXPECT_EQ(S_OK, first->Format());
    EXPECT_EQ(drawn + 1, DrawId());
}

// Calls every member of iface's dual interface (and the interfaces it
// extends, down to IDispatch) that has an out-parameter, through its vtable,
// with every pointer null, and expects a refusal, never a crash. In-strings
// are "x", numbers 0 and variants empty. Returns the members called.
int SweepNullOutParameters(IDispatch* iface) {
    ComPtr<ITypeInfo> dispatchInfo, info;
    HREFTYPE vtableRef = 0;
    EXPECT_EQ(S_OK, iface->GetTypeInfo(0, LOCALE_NEUTRAL, dispatchInfo.Receive()));
    if (!dispatchInfo || FAILED(dispatchInfo->GetRefTypeOfImplType(-1, &vtableRef)) ||
        FAILED(dispatchInfo->GetRefTypeInfo(vtableRef, info.Receive()))) {
        ADD_FAILURE() << "no vtable description";
        return 0;
    }
    com::UniqueBstr text(L"x");
    int called = 0;
    while (info) {
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr))) break;
        const bool base = IsEqualIID(attr->guid, IID_IDispatch) || IsEqualIID(attr->guid, IID_IUnknown);
        const WORD functions = attr->cFuncs, implemented = attr->cImplTypes;
        info->ReleaseTypeAttr(attr);
        if (base) break;
        for (UINT f = 0; f < functions; ++f) {
            FUNCDESC* desc = nullptr;
            if (FAILED(info->GetFuncDesc(f, &desc))) continue;
            const UINT n = static_cast<UINT>(desc->cParams);
            std::vector<VARIANT> values(n);
            std::vector<VARIANT*> args(n);
            std::vector<VARTYPE> types(n);
            VARIANT empty;
            VariantInit(&empty);
            bool hasOut = false;
            for (UINT i = 0; i < n; ++i) {
                const ELEMDESC& e = desc->lprgelemdescParam[i];
                VariantInit(&values[i]);
                values[i].vt = types[i] = VT_UI8;  // 0: a null pointer or the number 0
                args[i] = &values[i];
                hasOut |= e.tdesc.vt == VT_PTR && (e.paramdesc.wParamFlags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL));
                if (e.tdesc.vt == VT_BSTR) values[i].ullVal = reinterpret_cast<ULONG_PTR>(text.Get());
                if (e.tdesc.vt == VT_VARIANT) {
                    types[i] = VT_VARIANT;
                    args[i] = &empty;
                }
            }
            com::UniqueBstr name;
            info->GetDocumentation(desc->memid, name.Receive(), nullptr, nullptr, nullptr);
            const SHORT slot = desc->oVft;
            info->ReleaseFuncDesc(desc);
            if (!hasOut) continue;
            // Said before the call: a crash ends the process without a report.
            std::fprintf(stderr, "null sweep: %s\n", Narrow(name.c_str()).c_str());
            VARIANT result;
            VariantInit(&result);
            const HRESULT call = DispCallFunc(iface, slot, CC_STDCALL, VT_ERROR, n, n ? types.data() : nullptr,
                                              n ? args.data() : nullptr, &result);
            EXPECT_EQ(S_OK, call) << Narrow(name.c_str());
            EXPECT_TRUE(FAILED(result.scode)) << Narrow(name.c_str()) << " took null out-parameters";
            ++called;
        }
        HREFTYPE baseRef = 0;
        ComPtr<ITypeInfo> next;
        if (implemented < 1 || FAILED(info->GetRefTypeOfImplType(0, &baseRef)) ||
            FAILED(info->GetRefTypeInfo(baseRef, next.Receive())))
            break;
        info = next;
    }
    return called;
}

TEST_F(ObjectModel, EveryMemberRefusesNullOutParametersAndArrays) {
    BindBrowser();
    const LONG before = DrawId();
    auto pictures = Folder(kPictures);
    auto photo = FileAt(L"\\Phone\\Pictures\\a.jpg");
    ComPtr<IKVFMMountPoint> drive;
    ASSERT_EQ(S_OK, Folder(L"\\Phone\\").As(drive, IID_IKVFMMountPoint));
    ComPtr<IKVFMObjects> objects;
    ComPtr<IKVFMFiles> files;
    ComPtr<IKVFMFolders> folders;
    ASSERT_EQ(S_OK, pictures->get_Objects(objects.Receive()));
    ASSERT_EQ(S_OK, pictures->get_Files(files.Receive()));
    ASSERT_EQ(S_OK, pictures->get_Folders(folders.Receive()));
    ComPtr<IKVDeviceInformation> information;
    ASSERT_EQ(S_OK, m_service.As(information, IID_IKVDeviceInformation));

    // Every dual interface we implement, through its type description.
    const std::pair<IDispatch*, int> duals[] = {
        {m_service.Get(), 1},  {information.Get(), 0}, {m_fm.Get(), 2},      {pictures.Get(), 29},
        {photo.Get(), 17},     {drive.Get(), 34},      {objects.Get(), 3},   {files.Get(), 3},
        {folders.Get(), 3},
    };
    for (const auto& dual : duals) {
        EXPECT_EQ(dual.second, SweepNullOutParameters(dual.first));
    }

    // The interfaces without a type description of ours, member by member.
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumVARIANT> items;
    ASSERT_EQ(S_OK, objects->get__NewEnum(unknown.Receive()));
    ASSERT_EQ(S_OK, unknown.As(items, IID_IEnumVARIANT));
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, pictures.As(container, IID_IConnectionPointContainer));
    ComPtr<IConnectionPoint> point = FolderEventPoint(pictures.Get());
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.Receive()));
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Name")};
    DISPID ids[1] = {};
    VARIANT slots[2];
    const std::pair<const char*, std::function<HRESULT()>> members[] = {
        {"GetTypeInfoCount", [&] { return pictures->GetTypeInfoCount(nullptr); }},
        {"GetTypeInfo", [&] { return pictures->GetTypeInfo(0, 0, nullptr); }},
        {"GetIDsOfNames names", [&] { return pictures->GetIDsOfNames(IID_NULL, nullptr, 1, 0, ids); }},
        {"GetIDsOfNames ids", [&] { return photo->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr); }},
        {"EnumConnectionPoints", [&] { return container->EnumConnectionPoints(nullptr); }},
        {"GetConnectionInterface", [&] { return point->GetConnectionInterface(nullptr); }},
        {"GetConnectionPointContainer", [&] { return point->GetConnectionPointContainer(nullptr); }},
        {"EnumConnections", [&] { return point->EnumConnections(nullptr); }},
        {"IEnumConnectionPoints::Next", [&] { return points->Next(1, nullptr, nullptr); }},
        {"IEnumConnectionPoints::Clone", [&] { return points->Clone(nullptr); }},
        {"IEnumVARIANT::Next count", [&] { return items->Next(2, slots, nullptr); }},
        {"IEnumVARIANT::Clone", [&] { return items->Clone(nullptr); }},
    };
    for (const auto& member : members) {
        std::fprintf(stderr, "null sweep: %s\n", member.first);
        EXPECT_TRUE(FAILED(member.second())) << member.first;
    }
    EXPECT_EQ(before + 1, DrawId()) << "a refused call drew an id";
}

// Counts, names and membership of every listing are checked by the script
// client; here the results of bad keys and the enumerator's own contract.
TEST_F(ObjectModel, CollectionsLookUpAndEnumerateInListOrder) {
    BindBrowser();
    auto numbered = Folder(L"\\Phone\\Pictures\\Numbered\\");  // Sub, 1, b.txt
    ComPtr<IKVFMObjects> objects;
    ComPtr<IKVFMFiles> files;
    ComPtr<IKVFMFolders> folders;
    ASSERT_EQ(S_OK, numbered->get_Objects(objects.Receive()));
    ASSERT_EQ(S_OK, numbered->get_Files(files.Receive()));
    ASSERT_EQ(S_OK, numbered->get_Folders(folders.Receive()));

    // Positions count from 1; folders come first.
    ComPtr<IKVFMObject> item, firstItem;
    EXPECT_EQ(E_INVALIDARG, objects->get_Item(Key(LONG(0)), item.Receive()));
    EXPECT_EQ(E_INVALIDARG, objects->get_Item(Key(-1), item.Receive()));
    EXPECT_EQ(E_FAIL, objects->get_Item(Key(4), item.Receive()));
    EXPECT_FALSE(item);
    ASSERT_EQ(S_OK, objects->get_Item(Key(1), firstItem.Receive()));
    EXPECT_EQ(L"Sub", NameOf(firstItem.Get()));
    ASSERT_EQ(S_OK, objects->get_Item(Key(3), item.Receive()));
    EXPECT_EQ(1, TypeOf(item.Get()));

    // A string is always a name, even one that looks like a position; names match case.
    auto one = B(L"1"), upper = B(L"B.TXT");
    ASSERT_EQ(S_OK, objects->get_Item(Key(one.Get()), item.Receive()));
    EXPECT_EQ(L"1", NameOf(item.Get()));
    EXPECT_EQ(E_FAIL, objects->get_Item(Key(upper.Get()), item.Receive()));
    EXPECT_FALSE(item);
    ComPtr<IKVFMFile> file;
    ComPtr<IKVFMFolder> folder;
    EXPECT_EQ(S_OK, files->get_Item(Key(one.Get()), file.Receive()));
    EXPECT_EQ(E_FAIL, folders->get_Item(Key(one.Get()), folder.Receive()));

    // The enumerator yields the items in list order and outlives the collection.
    std::vector<std::wstring> names;
    for (LONG i = 1; i <= 3; ++i) {
        ASSERT_EQ(S_OK, objects->get_Item(Key(i), item.Receive()));
        names.push_back(NameOf(item.Get()));
    }
    item.Reset();
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumVARIANT> enumerator;
    ASSERT_EQ(S_OK, objects->get__NewEnum(unknown.Receive()));
    ASSERT_EQ(S_OK, unknown.As(enumerator, IID_IEnumVARIANT));
    unknown.Reset();
    objects.Reset();
    for (size_t i = 0; i < names.size(); ++i) {
        com::UniqueVariant v;
        ULONG fetched = 0;
        ASSERT_EQ(S_OK, enumerator->Next(1, v.Receive(), &fetched)) << i;
        EXPECT_EQ(1u, fetched);
        ASSERT_EQ(VT_DISPATCH, v.Get()->vt);
        ComPtr<IKVFMObject> object;
        ASSERT_EQ(S_OK, v.Get()->pdispVal->QueryInterface(IID_IKVFMObject, object.ReceiveVoid()));
        EXPECT_EQ(names[i], NameOf(object.Get()));
    }
    com::UniqueVariant end;
    ULONG fetched = 7;
    EXPECT_EQ(S_FALSE, enumerator->Next(1, end.Receive(), &fetched));
    EXPECT_EQ(0u, fetched);
    ASSERT_EQ(S_OK, enumerator->Reset());
    std::vector<VARIANT> all(names.size() + 1);
    for (VARIANT& v : all) VariantInit(&v);
    EXPECT_EQ(S_FALSE, enumerator->Next(static_cast<ULONG>(all.size()), all.data(), &fetched));
    EXPECT_EQ(names.size(), fetched);
    for (VARIANT& v : all) VariantClear(&v);
}

TEST_F(ObjectModel, ListingEventsReachEachConnectedSinkOnceAndNotAfterUnadvise) {
    BindBrowser();
    auto pictures = Folder(kPictures);
    ComPtr<IKVFMObjects> objects;
    ASSERT_EQ(S_OK, pictures->get_Objects(objects.Receive()));
    LONG count = -1;
    objects->get_Count(&count);
    ComPtr<IConnectionPoint> point = FolderEventPoint(pictures.Get());
    ASSERT_TRUE(point);
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> other;
    ASSERT_EQ(S_OK, pictures.As(container, IID_IConnectionPointContainer));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IKVFMFolder, other.Receive()));

    // No sink: the listing still runs and is heard by nobody later.
    LONG unheard = 0;
    ASSERT_EQ(S_OK, pictures->GetObjectsAsynch(&unheard));
    EXPECT_EQ(unheard + 1, DrawId());

    auto first = Sink::Create(), second = Sink::Create();
    DWORD firstCookie = 0, secondCookie = 0;
    ASSERT_EQ(S_OK, point->Advise(static_cast<IDispatch*>(first.Get()), &firstCookie));
    LONG one = 0;
    ASSERT_EQ(S_OK, pictures->GetObjectsAsynch(&one));
    ASSERT_TRUE(first->WaitFor(one));
    ASSERT_EQ(S_OK, point->Advise(static_cast<IDispatch*>(second.Get()), &secondCookie));
    LONG two = 0;
    ASSERT_EQ(S_OK, pictures->GetObjectsAsynch(&two));
    ASSERT_TRUE(first->WaitFor(two));
    ASSERT_TRUE(second->WaitFor(two));
    DrawId();
    for (Sink* sink : {first.Get(), second.Get()}) {
        auto calls = sink->Completions(two);
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(kDispidGetObjectsCompleted, calls[0].id);
        EXPECT_EQ(count, calls[0].count);
    }
    EXPECT_EQ(2u, first->All().size());
    EXPECT_EQ(1u, second->All().size());
    EXPECT_TRUE(first->Completions(unheard).empty());

    EXPECT_EQ(S_OK, point->Unadvise(firstCookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(firstCookie));
    const LONG three = Run(second.Get(), [&](LONG* id) { return pictures->GetObjectsAsynch(id); });
    EXPECT_TRUE(first->Completions(three).empty());
}

TEST_F(ObjectModel, ObjectsOpenedBeforeUnbindingFailCleanly) {
    BindBrowser();
    auto pictures = Folder(kPictures);
    auto photo = FileAt(L"\\Phone\\Pictures\\a.jpg");
    auto phone = Folder(L"\\Phone\\");
    const LONG before = DrawId();
    ComPtr<IKVFMObjects> objects;
    ComPtr<IKVFMFiles> files;
    ComPtr<IKVFMFolder> parent, reopened;
    LONG id = -7;
    const std::pair<const char*, std::function<HRESULT()>> calls[] = {
        {"Objects", [&] { return pictures->get_Objects(objects.Receive()); }},
        {"Files", [&] { return pictures->get_Files(files.Receive()); }},
        {"GetObjectsAsynch", [&] { return pictures->GetObjectsAsynch(&id); }},
        {"folder Parent", [&] { return pictures->get_Parent(parent.Receive()); }},
        {"file Parent", [&] { return photo->get_Parent(parent.Receive()); }},
        {"drive Objects", [&] { return phone->get_Objects(objects.Receive()); }},
        {"drive GetObjectsAsynch", [&] { return phone->GetObjectsAsynch(&id); }},
    };
    ASSERT_EQ(S_OK, Unbind());
    EXPECT_EQ(E_FAIL, m_fm->CreateFMFolder(B(kPictures).Get(), reopened.Receive()));
    // Bound again, new objects work; those of the old binding still refuse.
    for (const char* when : {"after unbinding", "after binding again"}) {
        for (const auto& call : calls) EXPECT_TRUE(FAILED(call.second())) << call.first << " " << when;
        EXPECT_FALSE(objects || files || parent) << when;
        EXPECT_EQ(-7, id) << when;
        ASSERT_EQ(S_OK, Rebind(L"phone-browser"));
    }
    EXPECT_EQ(S_OK, m_fm->CreateFMFolder(B(kPictures).Get(), reopened.Receive()));
    EXPECT_EQ(before + 1, DrawId());
}

// The memory card on the PC: folders on the phone, the card or both; a
// folder on both lists both copies of a file, the phone's first.
TEST_F(ObjectModel, CardFoldersComeFromThePhoneTheCardOrBoth) {
    PhoneFill({File(L"both\\same.txt", "from the phone"), Dir(L"phone\\")});
    BindCard();
    MakeCardDir(L"both");
    MakeCardDir(L"card");
    WriteCard(L"both\\same.txt", "card");

    auto merged = Folder(Virtual(L"both\\"));
    ComPtr<IKVFMFiles> files;
    ASSERT_EQ(S_OK, merged->get_Files(files.Receive()));
    LONG count = 0, phoneSize = 0, cardSize = 0, foundSize = 0;
    EXPECT_EQ(S_OK, files->get_Count(&count));
    ASSERT_EQ(2, count);
    ComPtr<IKVFMFile> phoneCopy, cardCopy, byName;
    ASSERT_EQ(S_OK, files->get_Item(Key(1), phoneCopy.Receive()));
    ASSERT_EQ(S_OK, files->get_Item(Key(2), cardCopy.Receive()));
    EXPECT_EQ(L"same.txt", NameOf(phoneCopy.Get()));
    EXPECT_EQ(L"same.txt", NameOf(cardCopy.Get()));
    phoneCopy->get_Size(&phoneSize);
    cardCopy->get_Size(&cardSize);
    EXPECT_EQ(14, phoneSize);
    EXPECT_EQ(4, cardSize);
    auto name = B(L"same.txt");
    ASSERT_EQ(S_OK, files->get_Item(Key(name.Get()), byName.Receive()));
    EXPECT_EQ(Identity(phoneCopy.Get()), Identity(byName.Get()));

    // Opened by path, the card's copy wins over the phone's.
    FileAt(Virtual(L"both\\same.txt"))->get_Size(&foundSize);
    EXPECT_EQ(4, foundSize);
    EXPECT_EQ(Virtual(L"phone\\"), PathOf(Folder(Virtual(L"phone\\")).Get()));
    EXPECT_EQ(Virtual(L"card\\"), PathOf(Folder(Virtual(L"card\\")).Get()));
    // Wildcards name no item on either side.
    for (const std::wstring& path : {Virtual(L"both\\*.txt"), Virtual(L"both\\s?me.txt"), Virtual(L"nowhere\\")}) {
        ComPtr<IKVFMFile> file;
        ComPtr<IKVFMFolder> folder;
        EXPECT_TRUE(FAILED(m_fm->CreateFMFile(B(path).Get(), file.Receive()))) << Narrow(path);
        EXPECT_TRUE(FAILED(m_fm->CreateFMFolder(B(path).Get(), folder.Receive()))) << Narrow(path);
        EXPECT_FALSE(file || folder);
    }
}

} // namespace
