// The object model over the simulated phone under the browser mapping (and
// the memory card mapping for merged folders): opening objects by path, their
// names, parents, kinds and identities, transaction ids, refusals, mount point
// values, collections, listing events, and objects that outlive the binding.
#include "test_object_model_fixture.h"

#include "objects/FMFile.h"
#include "objects/FMFolder.h"
#include "objects/FMMountPoint.h"

namespace {

using namespace omtest;

const wchar_t kPictures[] = L"\\Phone\\Pictures\\";

class ObjectModel : public ObjectModelTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        DeviceSpec phone;
        phone.imei = kImei;
        phone.drives[0].label = L"Main store";
        phone.drives[0].capacity = 16u << 20;
        phone.drives[0].free = -1;  // follows what the drive's folder holds
        m_image.AddDevice(phone);
        m_image.Fill(L'C', {File(L"Images\\a.jpg", "jpeg!"),
                            File(L"Images\\ro.png", "png", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
                            File(L"Images\\scratch.txt", "s"), Dir(L"Images\\Holiday\\"), Dir(L"Images\\Empty\\"),
                            File(L"Images\\Gone\\g.txt", "g"), Dir(L"Images\\Numbered\\Sub\\"),
                            File(L"Images\\Numbered\\1", "one"), File(L"Images\\Numbered\\b.txt", "bee"),
                            File(L"Sounds\\ring.mp3", "mp3"), File(L"Data\\Documents\\report.txt", "report")});
        m_probePath = L"\\Phone\\Pictures\\Empty\\";
    }
    void BindBrowser() { BindAs(SamplePath(L"browser.xml"), L"phone-browser"); }
};

TEST_F(ObjectModel, PathsAreNormalisedAndBadPathsRefused) {
    // Nothing opens before a phone is bound.
    com::ComObject<CFMService>* rawService = nullptr;
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMService>::CreateInstance(&rawService));
    ComPtr<IKVFileMgmtService> service(rawService);
    ComPtr<IKVFileMgmt> unbound;
    ASSERT_EQ(S_OK, service->CreateFileMgmt(unbound.Receive()));
    com::UniqueBstr picturesPath(kPictures);
    ComPtr<IKVFMFolder> folder;
    EXPECT_EQ(E_FAIL, unbound->CreateFMFolder(picturesPath.Get(), folder.Receive()));
    EXPECT_FALSE(folder);

    BindBrowser();
    for (const wchar_t* path : {L"\\Phone\\\\Pictures", L"\\Phone\\\\Pictures\\", L"\\\\Phone\\Pictures\\\\",
                                L"\\Phone\\Pictures"}) {
        auto opened = Folder(path);
        EXPECT_EQ(kPictures, PathOf(opened.Get())) << com::ToAnsi(path);
        EXPECT_EQ(L"Pictures", NameOf(opened.Get())) << com::ToAnsi(path);
    }
    auto photo = FileAt(L"\\Phone\\\\Pictures\\\\a.jpg");
    EXPECT_EQ(L"\\Phone\\Pictures\\a.jpg", PathOf(photo.Get()));
    LONG size = 0;
    ASSERT_TRUE(photo);
    EXPECT_EQ(S_OK, photo->get_Size(&size));
    EXPECT_EQ(5, size);

    // Refusals leave the out-argument empty.
    ComPtr<IKVFMFile> file;
    const std::wstring longPath = std::wstring(kPictures) + std::wstring(300, L'a');
    com::UniqueBstr tooLong(longPath.c_str()), aFile(L"\\Phone\\Pictures\\a.jpg"),
        missingFolder(L"\\Phone\\Pictures\\Nowhere"), missingFile(L"\\Phone\\Pictures\\none.jpg"),
        aFolder(L"\\Phone\\Pictures\\Holiday\\");
    EXPECT_TRUE(FAILED(m_fm->CreateFMFolder(tooLong.Get(), folder.Receive())));
    EXPECT_TRUE(FAILED(m_fm->CreateFMFile(tooLong.Get(), file.Receive())));
    EXPECT_EQ(E_INVALIDARG, m_fm->CreateFMFolder(aFile.Get(), folder.Receive()));
    EXPECT_FALSE(folder);
    EXPECT_NE(E_INVALIDARG, m_fm->CreateFMFolder(missingFile.Get(), folder.Receive()));  // absent is not "not a folder"
    EXPECT_TRUE(FAILED(m_fm->CreateFMFolder(missingFolder.Get(), folder.Receive())));
    EXPECT_TRUE(FAILED(m_fm->CreateFMFile(missingFile.Get(), file.Receive())));
    EXPECT_TRUE(FAILED(m_fm->CreateFMFile(aFolder.Get(), file.Receive())));
    EXPECT_FALSE(folder);
    EXPECT_FALSE(file);
    EXPECT_EQ(E_INVALIDARG, m_fm->CreateFMFolder(picturesPath.Get(), nullptr));
    EXPECT_EQ(E_INVALIDARG, m_fm->CreateFMFile(aFile.Get(), nullptr));
}

TEST_F(ObjectModel, NamesParentsKindsAndIdentities) {
    BindBrowser();
    auto root = Folder(L"\\");
    ASSERT_TRUE(root);
    EXPECT_EQ(L"\\", PathOf(root.Get()));
    EXPECT_EQ(L"", NameOf(root.Get()));
    EXPECT_EQ(2, TypeOf(root.Get()));
    IKVFMFolder* untouched = reinterpret_cast<IKVFMFolder*>(0x1234);
    EXPECT_EQ(E_FAIL, root->get_Parent(&untouched));
    EXPECT_EQ(reinterpret_cast<IKVFMFolder*>(0x1234), untouched);

    for (const wchar_t* path : {kPictures, L"\\Phone\\Pictures"}) {
        auto pictures = Folder(path);
        ComPtr<IKVFMFolder> parent, grandParent;
        ASSERT_EQ(S_OK, pictures->get_Parent(parent.Receive())) << com::ToAnsi(path);
        EXPECT_EQ(L"\\Phone\\", PathOf(parent.Get()));
        EXPECT_EQ(3, TypeOf(parent.Get()));
        ASSERT_EQ(S_OK, parent->get_Parent(grandParent.Receive()));
        EXPECT_EQ(L"\\", PathOf(grandParent.Get()));
    }
    auto photo = FileAt(L"\\Phone\\Pictures\\a.jpg");
    EXPECT_EQ(1, TypeOf(photo.Get()));
    EXPECT_EQ(L"a.jpg", NameOf(photo.Get()));
    ComPtr<IKVFMFolder> photoParent;
    ASSERT_EQ(S_OK, photo->get_Parent(photoParent.Receive()));
    EXPECT_EQ(kPictures, PathOf(photoParent.Get()));
    ComPtr<IKVFMFolder> notAFolder;
    EXPECT_EQ(E_NOINTERFACE, photo.As(notAFolder, IID_IKVFMFolder));

    // A drive-backed top-level folder is a mount point: one object whatever it is asked as.
    auto phone = Folder(L"\\Phone\\");
    EXPECT_EQ(3, TypeOf(phone.Get()));
    EXPECT_EQ(L"Phone", NameOf(phone.Get()));
    ComPtr<IKVFMMountPoint> mountPoint;
    ASSERT_EQ(S_OK, phone.As(mountPoint, IID_IKVFMMountPoint));
    ComPtr<IKVFMObject> asObject;
    ComPtr<IDispatch> asDispatch;
    ComPtr<IKVFMFolder> asFolder;
    ASSERT_EQ(S_OK, mountPoint.As(asObject, IID_IKVFMObject));
    ASSERT_EQ(S_OK, mountPoint.As(asDispatch, IID_IDispatch));
    ASSERT_EQ(S_OK, asObject.As(asFolder, IID_IKVFMFolder));
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, mountPoint.As(container, IID_IConnectionPointContainer));
    IUnknown* identity = Identity(phone.Get());
    ASSERT_NE(nullptr, identity);
    EXPECT_EQ(identity, Identity(mountPoint.Get()));
    EXPECT_EQ(identity, Identity(asObject.Get()));
    EXPECT_EQ(identity, Identity(asDispatch.Get()));
    EXPECT_EQ(identity, Identity(asFolder.Get()));
    EXPECT_EQ(identity, Identity(container.Get()));  // the aggregated parts answer for the outer object
    ComPtr<IKVFMMountPoint> back;
    EXPECT_EQ(S_OK, container.As(back, IID_IKVFMMountPoint));

    // A plain folder is no mount point; its connection point container is the folder too.
    auto pictures = Folder(kPictures);
    EXPECT_EQ(E_NOINTERFACE, pictures.As(back, IID_IKVFMMountPoint));
    ComPtr<IConnectionPointContainer> folderContainer;
    ASSERT_EQ(S_OK, pictures.As(folderContainer, IID_IConnectionPointContainer));
    EXPECT_EQ(Identity(pictures.Get()), Identity(folderContainer.Get()));
}

TEST_F(ObjectModel, ObjectsNotMadeByTheServiceRefuseWithoutDrawingIds) {
    BindBrowser();
    const LONG before = DrawId();
    com::ComObject<CFMFile>* rawFile = nullptr;
    com::ComObject<CFMFolder>* rawFolder = nullptr;
    com::ComObject<CFMMountPoint>* rawMountPoint = nullptr;
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMFile>::CreateInstance(&rawFile));
    ComPtr<IKVFMFile> file(rawFile);
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMFolder>::CreateInstance(&rawFolder));
    ComPtr<IKVFMFolder> folder(rawFolder);
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMMountPoint>::CreateInstance(&rawMountPoint));
    ComPtr<IKVFMMountPoint> mountPoint(rawMountPoint);

    com::UniqueBstr name(L"x");
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
    EXPECT_EQ(before + 1, DrawId());
}

TEST_F(ObjectModel, ForbiddenOperationsAndBadArgumentsDrawNoId) {
    BindBrowser();
    const LONG before = DrawId();
    LONG id = -7;
    com::UniqueBstr plain(L"Plain"), pcFolder(m_image.PcFolder().c_str());
    auto sounds = Folder(L"\\Phone\\Sounds\\");  // its folder may not be deleted or renamed
    EXPECT_EQ(E_ACCESSDENIED, sounds->Delete(&id));
    EXPECT_EQ(E_ACCESSDENIED, sounds->Rename(plain.Get(), &id));
    auto photo = FileAt(L"\\Phone\\Pictures\\a.jpg");  // files here may not be renamed
    EXPECT_EQ(E_ACCESSDENIED, photo->Rename(plain.Get(), &id));
    auto report = FileAt(L"\\Phone\\Documents\\report.txt");  // nor moved or deleted here
    EXPECT_EQ(E_ACCESSDENIED, report->Delete(&id));
    EXPECT_EQ(E_ACCESSDENIED, report->MoveToPC(pcFolder.Get(), nullptr, &id));
    EXPECT_EQ(-7, id);

    // No place for the id: refused before anything else.
    auto pictures = Folder(kPictures);
    EXPECT_EQ(E_INVALIDARG, sounds->Delete(nullptr));
    EXPECT_EQ(E_INVALIDARG, pictures->GetObjectsAsynch(nullptr));
    EXPECT_EQ(E_INVALIDARG, pictures->NewFolder(plain.Get(), nullptr));

    auto holiday = Folder(L"\\Phone\\Pictures\\Holiday\\");
    for (const wchar_t* bad : {L"", L"a\\b", L"..", L"a/b", L".", L"a:b"}) {
        com::UniqueBstr name(bad);
        EXPECT_EQ(E_INVALIDARG, holiday->Rename(name.Get(), &id)) << com::ToAnsi(bad);
        EXPECT_EQ(E_INVALIDARG, pictures->NewFolder(name.Get(), &id)) << com::ToAnsi(bad);
        EXPECT_EQ(E_INVALIDARG, photo->Rename(name.Get(), &id)) << com::ToAnsi(bad);
    }
    EXPECT_EQ(E_INVALIDARG, holiday->Rename(nullptr, &id));
    EXPECT_EQ(E_INVALIDARG, pictures->NewFolder(nullptr, &id));
    EXPECT_EQ(-7, id);
    EXPECT_EQ(before + 1, DrawId());
}

TEST_F(ObjectModel, MountPointRefusesTheFolderOperationsItsMappingForbids) {
    BindBrowser();
    DWORD configured = 0;
    ASSERT_EQ(S_OK, MakeFolder(L"\\Phone\\", L"C:\\")->GetForbiddenOps(&configured));
    ASSERT_NE(0u, configured & ForbidRename);
    const LONG before = DrawId();
    auto phone = Folder(L"\\Phone\\");
    com::UniqueBstr plain(L"Plain");
    LONG id = -7;
    EXPECT_EQ(E_ACCESSDENIED, phone->Rename(plain.Get(), &id));
    EXPECT_EQ(-7, id);
    EXPECT_EQ(before + 1, DrawId());
}

// Every forbidden flag on each method that tests it; the folder's own
// flags, and those its configuration gives the files in it.
const char kRulesConfig[] = R"(<applications><devices><device uid="phone-rules"><foldermapping>
  <mountpoint realpath="C:\" virtualpath="Phone">
    <subfolders restricted="false">
      <subfolder realpath="Images" virtualname="Pictures"/>
      <subfolder realpath="Rules">
        <folderoperations>
          <forbidden_operation name="copy"/><forbidden_operation name="cut"/>
          <forbidden_operation name="paste"/><forbidden_operation name="new"/>
        </folderoperations>
        <fileoperations>
          <forbidden_operation name="copy"/><forbidden_operation name="move"/>
        </fileoperations>
      </subfolder>
      <mappedfolder realpath="C:\Data\Docs" virtualname="Docs"/>
    </subfolders>
  </mountpoint>
</foldermapping></device></devices></applications>)";

TEST_F(ObjectModel, EachForbiddenFlagRefusesItsMethodsBeforeAnyOtherArgument) {
    m_image.Fill(L'C', {File(L"Rules\\r.txt", "r"), Dir(L"Rules\\Sub\\"), File(L"Data\\Docs\\d.txt", "docs")});
    BindXml(kRulesConfig, L"phone-rules");
    ASSERT_EQ(S_OK, m_service->CreateFileMgmt(m_fm.Receive()));
    const LONG before = DrawId();
    auto rules = Folder(L"\\Phone\\Rules\\");
    auto rule = FileAt(L"\\Phone\\Rules\\r.txt");
    ASSERT_TRUE(rules && rule);
    const std::wstring pc = m_image.PcFolder();
    com::UniqueBstr pcFile(m_image.WritePcFile(L"in.txt", "in").c_str()), pcFolder(pc.c_str()),
        badName(L"a\\b"), name(L"n");
    LONG id = -7;
    const std::pair<const char*, std::function<HRESULT()>> refused[] = {
        {"CopyFileFromPC", [&] { return rules->CopyFileFromPC(pcFile.Get(), nullptr, &id); }},
        {"MoveFileFromPC", [&] { return rules->MoveFileFromPC(pcFile.Get(), nullptr, &id); }},
        {"CopyFolderFromPC", [&] { return rules->CopyFolderFromPC(pcFolder.Get(), nullptr, &id); }},
        {"MoveFolderFromPC", [&] { return rules->MoveFolderFromPC(pcFolder.Get(), nullptr, &id); }},
        {"NewFolder", [&] { return rules->NewFolder(name.Get(), &id); }},
        {"folder MoveToPC", [&] { return rules->MoveToPC(pcFolder.Get(), nullptr, &id); }},
        {"file CopyToPC", [&] { return rule->CopyToPC(pcFolder.Get(), nullptr, &id); }},
        // The flag is tested before the PC folder and the name.
        {"file MoveToPC, bad name", [&] { return rule->MoveToPC(pcFolder.Get(), badName.Get(), &id); }},
        {"file MoveToPC, no folder", [&] { return rule->MoveToPC(nullptr, nullptr, &id); }},
        {"folder MoveToPC, bad name", [&] { return rules->MoveToPC(nullptr, badName.Get(), &id); }},
    };
    for (const auto& call : refused) EXPECT_EQ(E_ACCESSDENIED, call.second()) << call.first;
    EXPECT_EQ(-7, id);
    // Only the transaction-id argument comes first.
    EXPECT_EQ(E_INVALIDARG, rule->MoveToPC(pcFolder.Get(), badName.Get(), nullptr));
    EXPECT_EQ(before + 1, DrawId());

    // A folder copy to the PC is never forbidden.
    auto sink = Sink::Create();
    Advise(rules.Get(), sink.Get());
    ASSERT_EQ(S_OK, rules->CopyToPC(pcFolder.Get(), nullptr, &id));
    EXPECT_EQ(before + 2, id);
    ASSERT_TRUE(sink->WaitFor(id));
    EXPECT_EQ(0u, sink->Completions(id)[0].result);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((pc + L"\\Rules\\r.txt").c_str()));

    // A mapped folder configured without its trailing backslash.
    auto doc = FileAt(L"\\Phone\\Docs\\d.txt");
    EXPECT_EQ(L"\\Phone\\Docs\\d.txt", PathOf(doc.Get()));
    ComPtr<IKVFMFolders> top;
    ComPtr<IKVFMFolder> docs;
    ASSERT_EQ(S_OK, Folder(L"\\Phone\\")->get_Folders(top.Receive()));
    com::UniqueBstr docsName(L"Docs");
    EXPECT_EQ(S_OK, top->get_Item(Key(docsName.Get()), docs.Receive()));
    EXPECT_EQ(L"\\Phone\\Docs\\", PathOf(docs.Get()));
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
    EXPECT_GE(m_log.Find("Retreiving GetAttributes failed", 0, "ERROR"), 0);

    WriteFileBytes(backing, "twelve bytes");
    FailNext(simCallSize, E_ACCESSDENIED);
    EXPECT_TRUE(FAILED(photo->Refresh(VARIANT{})));
    EXPECT_EQ(S_OK, photo->get_Size(&size));
    EXPECT_EQ(11, size);
    EXPECT_GE(m_log.Find("Retreiving GetSize failed", 0, "ERROR"), 0);

    EXPECT_EQ(S_OK, photo->Refresh(VARIANT{}));
    EXPECT_EQ(S_OK, photo->get_Size(&size));
    EXPECT_EQ(12, size);
    EXPECT_EQ(S_OK, photo->get_FileAttributes(&attributes));
    EXPECT_NE(0, attributes & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(ObjectModel, RawDriveStartsOperationsAndCopiesToThePcUnderItsLetter) {
    BindAs(SamplePath(L"raw.xml"), L"phone-raw");
    m_probePath = L"\\C:\\Images\\Empty\\";
    ComPtr<IKVFMMountPoint> drive;
    ASSERT_EQ(S_OK, Folder(L"\\C:\\").As(drive, IID_IKVFMMountPoint));
    EXPECT_EQ(L"C:", NameOf(drive.Get()));
    // The events of a mount point come through its aggregated connection point.
    auto sink = Sink::Create();
    Advise(drive.Get(), sink.Get());
    LONG listed = 0, made = 0, copied = 0;
    com::UniqueBstr newName(L"Made"), pcFolder(m_image.PcFolder().c_str());
    ASSERT_EQ(S_OK, drive->GetObjectsAsynch(&listed));
    ASSERT_EQ(S_OK, drive->NewFolder(newName.Get(), &made));
    // No name given: the drive's folder on the PC is named by its letter.
    ASSERT_EQ(S_OK, drive->CopyToPC(pcFolder.Get(), nullptr, &copied));
    ASSERT_TRUE(sink->WaitFor(copied));
    // A drive makes no folders of its own: that too is reported to its sinks.
    const struct {
        LONG id;
        DISPID dispid;
        ULONG result;
    } expected[] = {{listed, 35, 0}, {made, 34, static_cast<ULONG>(KVFM_E_NOT_SUPPORTED)}, {copied, 3, 0}};
    for (const auto& e : expected) {
        auto calls = sink->Completions(e.id);
        ASSERT_EQ(1u, calls.size()) << e.dispid;
        EXPECT_EQ(e.dispid, calls[0].id);
        EXPECT_EQ(e.result, calls[0].result) << e.dispid;
    }
    EXPECT_EQ("jpeg!", ReadFileBytes(m_image.PcFolder() + L"\\C\\Images\\a.jpg"));
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
    } expected[] = {{objectsId, 35, objectCount}, {filesId, 36, fileCount}, {foldersId, 37, folderCount}};
    for (const auto& e : expected) {
        auto calls = picturesSink->Completions(e.id);
        ASSERT_EQ(1u, calls.size()) << e.dispid;
        EXPECT_EQ(e.dispid, calls[0].id);
        EXPECT_EQ(0u, calls[0].result);
        EXPECT_EQ(e.count, calls[0].count) << e.dispid;
    }
    EXPECT_TRUE(picturesSink->Completions(otherId).empty());
    EXPECT_EQ(1u, holidaySink->Count());

    // Operations that cannot run yet still spend their id.
    auto scratch = FileAt(L"\\Phone\\Pictures\\scratch.txt");
    LONG deleteId = -7;
    scratch->Delete(&deleteId);
    EXPECT_EQ(foldersId + 1, deleteId);
    EXPECT_EQ(deleteId + 1, DrawId());
}

TEST_F(ObjectModel, CopyFileFromPcClearsTheReadOnlyBitOfTheFileItReplaces) {
    BindBrowser();
    const std::wstring phoneFile = m_image.PcPath(L"C:\\Images\\ro.png");
    const DWORD original = GetFileAttributesW(phoneFile.c_str());
    ASSERT_NE(0u, original & FILE_ATTRIBUTE_READONLY);
    com::UniqueBstr source(m_image.WritePcFile(L"ro.png", "new content").c_str()), sameName(L"ro.png"),
        otherCase(L"RO.png"), otherName(L"other.png");
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
    EXPECT_EQ(E_INVALIDARG, pictures->CopyFileFromPC(source.Get(), otherCase.Get(), &id));
    EXPECT_EQ(E_INVALIDARG, pictures->CopyFileFromPC(source.Get(), otherName.Get(), &id));
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
    ComPtr<IKVFMMountPoint> first;
    ASSERT_EQ(S_OK, Folder(L"\\Phone\\").As(first, IID_IKVFMMountPoint));
    auto drive = MakeMountPoint(L"\\Phone\\", L'C');
    ULONG freeBefore = 0, usedBefore = 0;
    LONG media = -1;
    ASSERT_EQ(S_OK, drive->GetMemFree(&freeBefore));
    ASSERT_EQ(S_OK, drive->GetMemUsed(&usedBefore));
    ASSERT_EQ(S_OK, drive->GetMedia(&media));
    LONG capacity = 0, freeSpace = 0, used = 0, mediaOut = -1;
    com::UniqueBstr label;
    EXPECT_EQ(S_OK, first->get_Capacity(&capacity));
    EXPECT_EQ(S_OK, first->get_Free(&freeSpace));
    EXPECT_EQ(S_OK, first->get_Used(&used));
    EXPECT_EQ(S_OK, first->get_Label(label.Receive()));
    EXPECT_EQ(S_OK, first->get_Media(&mediaOut));
    EXPECT_EQ(16 << 20, capacity);
    EXPECT_EQ(static_cast<LONG>(freeBefore), freeSpace);
    EXPECT_EQ(static_cast<LONG>(usedBefore), used);
    EXPECT_EQ(L"Main store", Text(label));
    EXPECT_EQ(media, mediaOut);

    // More bytes on the drive: the object already made keeps its values.
    WriteFileBytes(m_image.PcPath(L"C:\\filler.bin"), std::string(300000, 'f'));
    ULONG freeAfter = 0;
    ASSERT_EQ(S_OK, MakeMountPoint(L"\\Phone\\", L'C')->GetMemFree(&freeAfter));
    ASSERT_LT(freeAfter, freeBefore);
    EXPECT_EQ(S_OK, first->get_Free(&freeSpace));
    EXPECT_EQ(S_OK, first->get_Used(&used));
    EXPECT_EQ(static_cast<LONG>(freeBefore), freeSpace);
    EXPECT_EQ(static_cast<LONG>(usedBefore), used);
    ComPtr<IKVFMMountPoint> second;
    ASSERT_EQ(S_OK, Folder(L"\\Phone\\").As(second, IID_IKVFMMountPoint));
    EXPECT_EQ(S_OK, second->get_Free(&freeSpace));
    EXPECT_EQ(S_OK, second->get_Used(&used));
    EXPECT_EQ(static_cast<LONG>(freeAfter), freeSpace);
    EXPECT_EQ(capacity - static_cast<LONG>(freeAfter), used);

    const LONG before = DrawId();
    LONG id = -7;
    com::UniqueBstr pcFolder(m_image.PcFolder().c_str());
    EXPECT_EQ(E_NOTIMPL, first->Delete(&id));
    EXPECT_EQ(E_NOTIMPL, first->MoveToPC(pcFolder.Get(), nullptr, &id));
    EXPECT_EQ(E_NOTIMPL, first->GetFilesAsynch(&id));
    EXPECT_EQ(-7, id);
    EXPECT_EQ(S_OK, first->Format());
    EXPECT_EQ(before + 1, DrawId());
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
                args[i] = &values[i];
                types[i] = VT_UI8;
                if (e.tdesc.vt == VT_PTR) {
                    hasOut |= (e.paramdesc.wParamFlags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) != 0;
                    values[i].vt = VT_UI8;  // a null pointer
                } else if (e.tdesc.vt == VT_BSTR) {
                    values[i].vt = VT_UI8;
                    values[i].ullVal = reinterpret_cast<ULONG_PTR>(text.Get());
                } else if (e.tdesc.vt == VT_VARIANT) {
                    types[i] = VT_VARIANT;
                    args[i] = &empty;
                } else {
                    values[i].vt = VT_UI8;
                }
            }
            com::UniqueBstr name;
            info->GetDocumentation(desc->memid, name.Receive(), nullptr, nullptr, nullptr);
            const SHORT slot = desc->oVft;
            info->ReleaseFuncDesc(desc);
            if (!hasOut) continue;
            // Said before the call: a crash ends the process without a report.
            std::fprintf(stderr, "null sweep: %s\n", com::ToAnsi(name.c_str()).c_str());
            VARIANT result;
            VariantInit(&result);
            const HRESULT call = DispCallFunc(iface, slot, CC_STDCALL, VT_ERROR, n, n ? types.data() : nullptr,
                                              n ? args.data() : nullptr, &result);
            EXPECT_EQ(S_OK, call) << com::ToAnsi(name.c_str());
            EXPECT_TRUE(FAILED(result.scode)) << com::ToAnsi(name.c_str()) << " took null out-parameters";
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
    ComPtr<IUnknown> unknownEnum, unknownStream;
    ComPtr<IEnumVARIANT> items;
    ASSERT_EQ(S_OK, objects->get__NewEnum(unknownEnum.Receive()));
    ASSERT_EQ(S_OK, unknownEnum.As(items, IID_IEnumVARIANT));
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, photo->get_IStream(unknownStream.Receive()));
    ASSERT_EQ(S_OK, unknownStream.As(stream, IID_IStream));
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, pictures.As(container, IID_IConnectionPointContainer));
    ComPtr<IConnectionPoint> point = EventPoint(pictures.Get());
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
        {"FindConnectionPoint", [&] { return container->FindConnectionPoint(DIID__IKVFMFolderEvents, nullptr); }},
        {"GetConnectionInterface", [&] { return point->GetConnectionInterface(nullptr); }},
        {"GetConnectionPointContainer", [&] { return point->GetConnectionPointContainer(nullptr); }},
        {"Advise", [&] { return point->Advise(nullptr, nullptr); }},
        {"EnumConnections", [&] { return point->EnumConnections(nullptr); }},
        {"IEnumConnectionPoints::Next", [&] { return points->Next(1, nullptr, nullptr); }},
        {"IEnumConnectionPoints::Clone", [&] { return points->Clone(nullptr); }},
        {"IEnumVARIANT::Next", [&] { return items->Next(1, nullptr, nullptr); }},
        {"IEnumVARIANT::Next count", [&] { return items->Next(2, slots, nullptr); }},
        {"IEnumVARIANT::Clone", [&] { return items->Clone(nullptr); }},
        {"IStream::Read", [&] { return stream->Read(nullptr, 4, nullptr); }},
        {"IStream::CopyTo", [&] { return stream->CopyTo(nullptr, ULARGE_INTEGER{}, nullptr, nullptr); }},
        {"IStream::Stat", [&] { return stream->Stat(nullptr, STATFLAG_NONAME); }},
        {"IStream::Clone", [&] { return stream->Clone(nullptr); }},
    };
    for (const auto& member : members) {
        std::fprintf(stderr, "null sweep: %s\n", member.first);
        EXPECT_TRUE(FAILED(member.second())) << member.first;
    }
    EXPECT_EQ(before + 1, DrawId()) << "a refused call drew an id";
}

TEST_F(ObjectModel, CollectionsCountLookUpAndEnumerateInListOrder) {
    BindBrowser();
    auto numbered = Folder(L"\\Phone\\Pictures\\Numbered\\");
    ComPtr<IKVFMObjects> objects;
    ComPtr<IKVFMFiles> files;
    ComPtr<IKVFMFolders> folders;
    ASSERT_EQ(S_OK, numbered->get_Objects(objects.Receive()));
    ASSERT_EQ(S_OK, numbered->get_Files(files.Receive()));
    ASSERT_EQ(S_OK, numbered->get_Folders(folders.Receive()));
    LONG count = 0, fileCount = 0, folderCount = 0;
    EXPECT_EQ(S_OK, objects->get_Count(&count));
    EXPECT_EQ(S_OK, files->get_Count(&fileCount));
    EXPECT_EQ(S_OK, folders->get_Count(&folderCount));
    EXPECT_EQ(3, count);  // Sub, 1, b.txt
    EXPECT_EQ(2, fileCount);
    EXPECT_EQ(1, folderCount);

    // Positions count from 1.
    ComPtr<IKVFMObject> item, firstItem, lastItem;
    EXPECT_EQ(E_INVALIDARG, objects->get_Item(Key(LONG(0)), item.Receive()));
    EXPECT_EQ(E_INVALIDARG, objects->get_Item(Key(-1), item.Receive()));
    EXPECT_EQ(E_FAIL, objects->get_Item(Key(count + 1), item.Receive()));
    EXPECT_FALSE(item);
    ASSERT_EQ(S_OK, objects->get_Item(Key(1), firstItem.Receive()));
    ASSERT_EQ(S_OK, objects->get_Item(Key(count), lastItem.Receive()));
    EXPECT_EQ(L"Sub", NameOf(firstItem.Get()));  // folders come first
    EXPECT_EQ(1, TypeOf(lastItem.Get()));

    // A string is always a name, even one that looks like a position; names match case.
    com::UniqueBstr one(L"1"), lower(L"b.txt"), upper(L"B.TXT"), sub(L"Sub");
    ASSERT_EQ(S_OK, objects->get_Item(Key(one.Get()), item.Receive()));
    EXPECT_EQ(L"1", NameOf(item.Get()));
    EXPECT_NE(Identity(firstItem.Get()), Identity(item.Get()));
    EXPECT_EQ(S_OK, objects->get_Item(Key(lower.Get()), item.Receive()));
    EXPECT_EQ(E_FAIL, objects->get_Item(Key(upper.Get()), item.Receive()));
    EXPECT_FALSE(item);
    ComPtr<IKVFMFile> file;
    ComPtr<IKVFMFolder> folder;
    EXPECT_EQ(S_OK, files->get_Item(Key(one.Get()), file.Receive()));
    EXPECT_EQ(E_FAIL, folders->get_Item(Key(one.Get()), folder.Receive()));
    EXPECT_EQ(S_OK, folders->get_Item(Key(sub.Get()), folder.Receive()));
    EXPECT_EQ(L"Sub", NameOf(folder.Get()));

    ComPtr<IKVFMObjects> pictureObjects;
    ASSERT_EQ(S_OK, Folder(kPictures)->get_Objects(pictureObjects.Receive()));
    LONG pictureCount = 0;
    pictureObjects->get_Count(&pictureCount);
    ASSERT_GE(pictureCount, 1);
    EXPECT_EQ(E_FAIL, pictureObjects->get_Item(Key(one.Get()), item.Receive()));

    // The enumerator yields the items in list order and outlives the collection.
    std::vector<std::wstring> names;
    std::vector<LONG> kinds;
    for (LONG i = 1; i <= pictureCount; ++i) {
        ASSERT_EQ(S_OK, pictureObjects->get_Item(Key(i), item.Receive()));
        names.push_back(NameOf(item.Get()));
        kinds.push_back(TypeOf(item.Get()));
    }
    item.Reset();
    EXPECT_TRUE(std::is_sorted(kinds.begin(), kinds.end(), std::greater<LONG>())) << "folders before files";
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumVARIANT> enumerator;
    ASSERT_EQ(S_OK, pictureObjects->get__NewEnum(unknown.Receive()));
    ASSERT_EQ(S_OK, unknown.As(enumerator, IID_IEnumVARIANT));
    unknown.Reset();
    pictureObjects.Reset();
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

TEST_F(ObjectModel, ListingEventsReachEachConnectedSinkOnceAndSkipRemovedSinks) {
    BindBrowser();
    auto pictures = Folder(kPictures);
    ComPtr<IKVFMObjects> objects;
    ASSERT_EQ(S_OK, pictures->get_Objects(objects.Receive()));
    LONG count = -1;
    objects->get_Count(&count);
    ComPtr<IConnectionPoint> point = EventPoint(pictures.Get());
    ASSERT_TRUE(point);
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> other;
    ASSERT_EQ(S_OK, pictures.As(container, IID_IConnectionPointContainer));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IKVFMFolder, other.Receive()));

    // No sink: the listing still runs (the probe's listing comes after it).
    LONG unheard = 0;
    ASSERT_EQ(S_OK, pictures->GetObjectsAsynch(&unheard));
    DrawId();
    EXPECT_GE(m_log.Find("Firing GetObjectsCompleted for transactionId " + std::to_string(unheard)), 0);

    auto first = Sink::Create(), second = Sink::Create(), third = Sink::Create();
    DWORD firstCookie = 0, secondCookie = 0, thirdCookie = 0;
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
        EXPECT_EQ(35, calls[0].id);
        EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_DISPATCH, VT_I4}), calls[0].types);
        EXPECT_EQ(0u, calls[0].result);
        EXPECT_EQ(count, calls[0].count);
    }
    EXPECT_EQ(2u, first->Count());
    EXPECT_EQ(1u, second->Count());
    EXPECT_TRUE(first->Completions(unheard).empty());

    // The first sink removes itself and the third while the event is fired.
    ASSERT_EQ(S_OK, point->Advise(static_cast<IDispatch*>(third.Get()), &thirdCookie));
    HRESULT selfRemoved = E_PENDING, otherRemoved = E_PENDING;
    IConnectionPoint* raw = point.Get();
    first->OnEvent([&, raw](const Sink::Event&) {
        if (selfRemoved != E_PENDING) return;
        selfRemoved = raw->Unadvise(firstCookie);
        otherRemoved = raw->Unadvise(thirdCookie);
    });
    LONG three = 0, four = 0;
    ASSERT_EQ(S_OK, pictures->GetObjectsAsynch(&three));
    ASSERT_EQ(S_OK, pictures->GetObjectsAsynch(&four));
    ASSERT_TRUE(second->WaitFor(four));
    DrawId();
    EXPECT_EQ(S_OK, selfRemoved);
    EXPECT_EQ(S_OK, otherRemoved);
    EXPECT_EQ(1u, first->Completions(three).size());
    EXPECT_TRUE(first->Completions(four).empty());
    EXPECT_EQ(1u, second->Completions(three).size());
    EXPECT_EQ(0u, third->Count());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(firstCookie));
    EXPECT_EQ(S_OK, point->Unadvise(secondCookie));

    // A mount point's events come through its own connection point.
    auto phone = Folder(L"\\Phone\\");
    auto phoneSink = Sink::Create();
    Advise(phone.Get(), phoneSink.Get());
    ComPtr<IKVFMObjects> phoneObjects;
    ASSERT_EQ(S_OK, phone->get_Objects(phoneObjects.Receive()));
    LONG phoneCount = -1, phoneId = 0;
    phoneObjects->get_Count(&phoneCount);
    ASSERT_EQ(S_OK, phone->GetObjectsAsynch(&phoneId));
    ASSERT_TRUE(phoneSink->WaitFor(phoneId));
    auto calls = phoneSink->Completions(phoneId);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(0u, calls[0].result);
    EXPECT_EQ(phoneCount, calls[0].count);
}

TEST_F(ObjectModel, ListingAnEmptyOrVanishedFolderAsynchronously) {
    BindBrowser();
    auto empty = Folder(L"\\Phone\\Pictures\\Empty\\");
    auto gone = Folder(L"\\Phone\\Pictures\\Gone\\");
    auto emptySink = Sink::Create(), goneSink = Sink::Create();
    Advise(empty.Get(), emptySink.Get());
    Advise(gone.Get(), goneSink.Get());
    LONG emptyId = 0, goneId = 0;
    ASSERT_EQ(S_OK, empty->GetObjectsAsynch(&emptyId));
    ASSERT_TRUE(emptySink->WaitFor(emptyId));
    auto calls = emptySink->Completions(emptyId);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(0u, calls[0].result);
    EXPECT_TRUE(calls[0].object);
    EXPECT_EQ(0, calls[0].count);

    // The backing folder goes after the object was made.
    const std::wstring pc = m_image.PcPath(L"C:\\Images\\Gone");
    ASSERT_TRUE(DeleteFileW((pc + L"\\g.txt").c_str()));
    ASSERT_TRUE(RemoveDirectoryW(pc.c_str()));
    ASSERT_EQ(S_OK, gone->GetObjectsAsynch(&goneId));
    ASSERT_TRUE(goneSink->WaitFor(goneId));
    calls = goneSink->Completions(goneId);
    ASSERT_EQ(1u, calls.size());
    EXPECT_NE(0u, calls[0].result);
    EXPECT_FALSE(calls[0].object);
    ComPtr<IKVFMObjects> objects;
    EXPECT_TRUE(FAILED(gone->get_Objects(objects.Receive())));
    EXPECT_FALSE(objects);
}

TEST_F(ObjectModel, ObjectsOpenedBeforeUnbindingFailCleanly) {
    BindBrowser();
    auto pictures = Folder(kPictures);
    auto photo = FileAt(L"\\Phone\\Pictures\\a.jpg");
    auto phone = Folder(L"\\Phone\\");
    const LONG before = DrawId();
    m_probe.Reset();

    ASSERT_EQ(S_OK, Unbind());
    ComPtr<IKVFMObjects> objects;
    ComPtr<IKVFMFiles> files;
    ComPtr<IKVFMFolder> parent;
    LONG id = -7;
    EXPECT_TRUE(FAILED(pictures->get_Objects(objects.Receive())));
    EXPECT_TRUE(FAILED(pictures->get_Files(files.Receive())));
    EXPECT_TRUE(FAILED(pictures->GetObjectsAsynch(&id)));
    EXPECT_TRUE(FAILED(pictures->get_Parent(parent.Receive())));
    EXPECT_TRUE(FAILED(photo->get_Parent(parent.Receive())));
    EXPECT_TRUE(FAILED(phone->get_Objects(objects.Receive())));
    EXPECT_TRUE(FAILED(phone->GetObjectsAsynch(&id)));
    EXPECT_FALSE(objects || files || parent);
    EXPECT_EQ(-7, id);
    com::UniqueBstr path(kPictures);
    ComPtr<IKVFMFolder> reopened;
    EXPECT_EQ(E_FAIL, m_fm->CreateFMFolder(path.Get(), reopened.Receive()));

    // Bound again: new objects work, those of the old binding still refuse.
    ASSERT_EQ(S_OK, BindService(m_service.Get(), m_device.Get(), L"phone-browser"));
    EXPECT_EQ(S_OK, m_fm->CreateFMFolder(path.Get(), reopened.Receive()));
    EXPECT_TRUE(FAILED(pictures->get_Objects(objects.Receive())));
    EXPECT_TRUE(FAILED(pictures->GetObjectsAsynch(&id)));
    EXPECT_EQ(-7, id);
    EXPECT_EQ(before + 1, DrawId());
}

// The memory card on the PC: a folder both on the phone and on the card lists both.
class ObjectModelCard : public ObjectModelTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        m_unique = L"omt" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64() % 100000);
        AddPhoneWithCard(3, L"Memory card");
        m_image.Fill(L'C', {Dir(L"Images\\")});
        m_image.Fill(L'E', {File(L"Photos\\" + m_unique + L"\\same.txt", "from the phone")});
        m_card = L"M:\\Photos\\" + m_unique;
        CreateDirectoryW(L"M:\\Photos", nullptr);
        ASSERT_TRUE(CreateDirectoryW(m_card.c_str(), nullptr));
        WriteFileBytes(m_card + L"\\same.txt", "card");
        m_probePath = L"\\Phone\\Pictures\\";
    }
    void TearDown() override {
        DeleteFileW((m_card + L"\\same.txt").c_str());
        RemoveDirectoryW(m_card.c_str());
        ObjectModelTest::TearDown();
    }
    std::wstring m_unique, m_card;
};

TEST_F(ObjectModelCard, DuplicateNamesInAMergedFolderGiveTheFirstListed) {
    BindAs(SamplePath(L"memorycard.xml"), L"phone-card");
    auto merged = Folder(L"\\Memory card\\Photos\\" + m_unique + L"\\");
    ComPtr<IKVFMFiles> files;
    ASSERT_EQ(S_OK, merged->get_Files(files.Receive()));
    LONG count = 0;
    EXPECT_EQ(S_OK, files->get_Count(&count));
    ASSERT_EQ(2, count);
    ComPtr<IKVFMFile> phoneCopy, cardCopy, byName;
    ASSERT_EQ(S_OK, files->get_Item(Key(1), phoneCopy.Receive()));
    ASSERT_EQ(S_OK, files->get_Item(Key(2), cardCopy.Receive()));
    EXPECT_EQ(L"same.txt", NameOf(phoneCopy.Get()));
    EXPECT_EQ(L"same.txt", NameOf(cardCopy.Get()));
    LONG phoneSize = 0, cardSize = 0, foundSize = 0;
    phoneCopy->get_Size(&phoneSize);
    cardCopy->get_Size(&cardSize);
    EXPECT_EQ(14, phoneSize);  // the phone's copy is listed first
    EXPECT_EQ(4, cardSize);
    com::UniqueBstr name(L"same.txt");
    ASSERT_EQ(S_OK, files->get_Item(Key(name.Get()), byName.Receive()));
    EXPECT_EQ(Identity(phoneCopy.Get()), Identity(byName.Get()));
    byName->get_Size(&foundSize);
    EXPECT_EQ(phoneSize, foundSize);

    ComPtr<IKVFMObjects> objects;
    ComPtr<IKVFMObject> first, found;
    ASSERT_EQ(S_OK, merged->get_Objects(objects.Receive()));
    ASSERT_EQ(S_OK, objects->get_Item(Key(1), first.Receive()));
    ASSERT_EQ(S_OK, objects->get_Item(Key(name.Get()), found.Receive()));
    EXPECT_EQ(Identity(first.Get()), Identity(found.Get()));
}

TEST_F(ObjectModelCard, WildcardsNameNoItemOnEitherSide) {
    BindAs(SamplePath(L"memorycard.xml"), L"phone-card");
    const std::wstring folder = L"\\Memory card\\Photos\\" + m_unique + L"\\";
    for (const std::wstring& path : {folder + L"*.txt", folder + L"s?me.txt", std::wstring(L"\\Phone\\Pictures\\*")}) {
        com::UniqueBstr p(path.c_str());
        ComPtr<IKVFMFile> file;
        ComPtr<IKVFMFolder> pattern;
        EXPECT_TRUE(FAILED(m_fm->CreateFMFile(p.Get(), file.Receive()))) << com::ToAnsi(path.c_str());
        EXPECT_TRUE(FAILED(m_fm->CreateFMFolder(p.Get(), pattern.Receive()))) << com::ToAnsi(path.c_str());
        EXPECT_FALSE(file || pattern);
    }
    EXPECT_TRUE(FileAt(folder + L"same.txt"));
}

} // namespace
