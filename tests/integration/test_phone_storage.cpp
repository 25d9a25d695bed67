// Phone files, folders and drives below the object model: listings, drive values, failures.
#include "test_fixture.h"

namespace {

using namespace itest;

// A phone for browser.xml ("phone-browser"): configured, hidden and mapped folders on C:.
class PhoneStorage : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone();
        m_image.Fill(L'C', {File(L"Images\\a.jpg", "jpeg!"), File(L"Images\\ro.png", "png", FILE_ATTRIBUTE_READONLY),
                            File(L"Images\\secret.dat", "s", FILE_ATTRIBUTE_HIDDEN), Dir(L"Images\\Holiday\\"),
                            File(L"Sounds\\ring.mp3", "mp3"), Dir(L"Sounds\\Sub\\"),
                            File(L"Data\\Documents\\report.txt", "report"), Dir(L"Other\\"),
                            File(L"readme.txt", "r"), Dir(L"Empty\\")});
    }
    void BindBrowser() { Bind(SamplePath(L"browser.xml"), L"phone-browser"); }
};

TEST_F(PhoneStorage, BrowserListingsHideUnconfiguredItemsAndAddMappedFolders) {
    BindBrowser();
    std::list<CFile*> files;
    std::list<CFolder*> folders;
    // C:\ is restricted: its files and unconfigured folders are hidden, and
    // the mapped folder follows the real subfolders.
    auto phone = MakeFolder(L"\\Phone\\", L"C:\\");
    EXPECT_EQ(S_OK, phone->GetCFiles(files));
    EXPECT_EQ(Paths{}, TakePaths(files));
    EXPECT_EQ(S_OK, phone->GetCFolders(folders));
    EXPECT_EQ((Paths{L"\\Phone\\Pictures\\", L"\\Phone\\Sounds\\", L"\\Phone\\Documents\\"}), TakePaths(folders));

    // Unrestricted: everything shows, hidden files included.
    auto pictures = MakeFolder(L"\\Phone\\Pictures\\", L"C:\\Images\\");
    EXPECT_EQ(S_OK, pictures->GetCFiles(files));
    EXPECT_EQ((Paths{L"\\Phone\\Pictures\\a.jpg", L"\\Phone\\Pictures\\ro.png", L"\\Phone\\Pictures\\secret.dat"}),
              TakePaths(files));
    EXPECT_EQ(S_OK, pictures->GetCFolders(folders));
    EXPECT_EQ(Paths{L"\\Phone\\Pictures\\Holiday\\"}, TakePaths(folders));

    // Listed objects work on their own items.
    auto documents = MakeFolder(L"\\Phone\\Documents\\", L"C:\\Data\\Documents\\");
    EXPECT_EQ(S_OK, documents->GetCFiles(files));
    ULONG size = 0;
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(S_OK, files.front()->GetSize(&size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(Paths{L"\\Phone\\Documents\\report.txt"}, TakePaths(files));

    // Restricted without configured children: nothing below shows.
    auto sounds = MakeFolder(L"\\Phone\\Sounds\\", L"C:\\Sounds\\");
    EXPECT_EQ(S_OK, sounds->GetCFiles(files));
    EXPECT_EQ(S_OK, sounds->GetCFolders(folders));
    EXPECT_TRUE(files.empty() && folders.empty());
}

TEST_F(PhoneStorage, RawMappingShowsTheDriveAsItIs) {
    Bind(SamplePath(L"raw.xml"), L"phone-raw");
    auto root = MakeFolder(L"\\C:\\", L"C:\\");
    std::list<CFile*> files;
    std::list<CFolder*> folders;
    EXPECT_EQ(S_OK, root->GetCFiles(files));
    EXPECT_EQ(Paths{L"\\C:\\readme.txt"}, TakePaths(files));
    EXPECT_EQ(S_OK, root->GetCFolders(folders));
    EXPECT_EQ((Paths{L"\\C:\\Data\\", L"\\C:\\Empty\\", L"\\C:\\Images\\", L"\\C:\\Other\\", L"\\C:\\Sounds\\"}),
              TakePaths(folders));
}

// Exploring forbidden: no files, no subfolders, but the mapped folders that
// exist on the phone as folders are still listed.
TEST_F(PhoneStorage, ExploreForbiddenFolderListsOnlyItsMappedFolders) {
    BindXml(R"(<?xml version="1.0" encoding="UTF-8"?>
<applications><devices><device uid="phone-closed"><foldermapping>
  <mountpoint realpath="C:\" virtualpath="Phone">
    <subfolders restricted="false">
      <mappedfolder realpath="C:\Data\Documents\" virtualname="Docs"/>
      <mappedfolder realpath="C:\Missing\" virtualname="Gone"/>
      <mappedfolder realpath="C:\readme.txt" virtualname="NotAFolder"/>
    </subfolders>
    <folderoperations><forbidden_operation name="explore"/></folderoperations>
  </mountpoint>
</foldermapping></device></devices></applications>)",
            L"phone-closed");
    auto phone = MakeFolder(L"\\Phone\\", L"C:\\");
    ASSERT_HRESULT_SUCCEEDED(m_control->ResetCallCounts());
    std::list<CFile*> files;
    std::list<CFolder*> folders;
    EXPECT_EQ(S_OK, phone->GetCFiles(files));
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(S_OK, phone->GetCFolders(folders));
    EXPECT_EQ(0, Calls(simCallFiles) + Calls(simCallSubdirectories));
    EXPECT_EQ(Paths{L"\\Phone\\Docs\\"}, TakePaths(folders));
}

TEST_F(PhoneStorage, PhoneFailuresBecomeResults) {
    BindBrowser();
    auto photo = MakeFile(L"\\Phone\\Pictures\\a.jpg", L"C:\\Images\\a.jpg");
    auto pictures = MakeFolder(L"\\Phone\\Pictures\\", L"C:\\Images\\");
    auto drive = MakeMountPoint(L"\\Phone\\", L'C');
    ULONG size = 0;
    DWORD attributes = 0;
    DATE date = 0;
    LONG media = 0;
    com::UniqueBstr mime, label, text(L"c.jpg");
    BSTR name = text.Get();
    std::list<CFile*> files;
    std::list<CFolder*> folders;
    // Getters and listings give E_FAIL; actions and drive reads pass the phone's HRESULT on.
    const struct {
        long kind;
        HRESULT expected;
        std::function<HRESULT()> call;
        const char* text;
    } calls[] = {
        {simCallSize, E_FAIL, [&] { return photo->GetSize(&size); }, "get_Size"},
        {simCallLastModified, E_FAIL, [&] { return photo->GetChanged(&date); }, "get_LastModified"},
        {simCallMIMEType, E_FAIL, [&] { return photo->GetMIMEType(mime.Receive()); }, "get_MIMEType"},
        {simCallGetAttributes, E_FAIL, [&] { return photo->GetAttributes(&attributes); }, "get_Attributes"},
        {simCallPutAttributes, E_FAIL, [&] { return photo->PutAttributes(0); }, "put_Attributes"},
        {simCallFileList, E_FAIL, [&] { return pictures->GetCFiles(files); }, "files"},
        {simCallSubdirectories, E_FAIL, [&] { return pictures->GetCFolders(folders); }, "folders"},
        {simCallRenameFile, kNotReady, [&] { return photo->Rename(name); }, "file Rename"},
        {simCallRenameDirectory, kNotReady, [&] { return pictures->Rename(name); }, "folder Rename"},
        {simCallDriveInformation, kNotReady, [&] { return drive->GetMemCapacity(&size); }, "capacity"},
        {simCallDriveInformation, kNotReady, [&] { return drive->GetMemFree(&size); }, "free"},
        {simCallDriveInformation, kNotReady, [&] { return drive->GetMemUsed(&size); }, "used"},
        {simCallDriveInformation, kNotReady, [&] { return drive->GetMedia(&media); }, "media"},
        {simCallDriveLabel, kNotReady, [&] { return drive->GetLabel(label.Receive()); }, "label"},
    };
    for (const auto& c : calls) {
        FailNext(c.kind, kNotReady);
        EXPECT_EQ(c.expected, c.call()) << c.text;
    }
    EXPECT_TRUE(files.empty() && folders.empty() && label.IsNull());
}

// With the memory card on the PC, phone subfolders that the mass storage
// mapping knows are merged folders; mapped folders stay phone folders.
class PhoneMergedListing : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(true);
        m_image.Fill(L'C', {Dir(L"Images\\")});
        m_image.Fill(L'E', {Dir(L"Photos\\"), Dir(L"Music\\"), Dir(L"Other\\"), Dir(L"Data\\Videos\\")});
        Bind(SamplePath(L"memorycard.xml"), L"phone-card");
    }
};

TEST_F(PhoneMergedListing, SubfoldersOnTheCardBecomeMergedFolders) {
    ASSERT_TRUE(Connector()->GetMassStorageMapping());
    std::list<CFolder*> folders;
    EXPECT_EQ(S_OK, MakeFolder(L"\\Memory card\\", L"E:\\")->GetCFolders(folders));
    ASSERT_EQ(3u, folders.size());
    auto* music = dynamic_cast<CMergeFolder*>(folders.front());
    auto* photos = dynamic_cast<CMergeFolder*>(*std::next(folders.begin()));
    ASSERT_TRUE(music && photos);
    EXPECT_EQ(L"M:\\Music\\", music->GetPcPath());
    EXPECT_EQ(L"M:\\Photos\\", photos->GetPcPath());
    EXPECT_EQ(nullptr, dynamic_cast<CMergeFolder*>(folders.back()));
    EXPECT_EQ((Paths{L"\\Memory card\\Music\\", L"\\Memory card\\Photos\\", L"\\Memory card\\Videos\\"}),
              TakePaths(folders));

    EXPECT_EQ(S_OK, MakeFolder(L"\\Phone\\", L"C:\\")->GetCFolders(folders));
    ASSERT_EQ(1u, folders.size());
    EXPECT_EQ(nullptr, dynamic_cast<CMergeFolder*>(folders.front()));
    EXPECT_EQ(Paths{L"\\Phone\\Pictures\\"}, TakePaths(folders));
}

// Phone drives C: to L: carry the media types 0 to 9; D: reports more free than capacity.
class PhoneMountPoint : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        DeviceSpec phone;
        phone.imei = kImei;
        phone.drives.clear();
        for (long media = 0; media <= 9; ++media) {
            DriveSpec drive;
            drive.letter = static_cast<wchar_t>(L'C' + media);
            drive.label = L"Drive " + std::wstring(1, drive.letter);
            drive.media = media;
            drive.capacity = media == 1 ? 1000 : 1000000;
            drive.free = media == 1 ? 1010 : 250000;
            phone.drives.push_back(drive);
        }
        m_image.AddDevice(phone);
        Bind(SamplePath(L"raw.xml"), L"phone-raw");
    }
};

TEST_F(PhoneMountPoint, MediaSpaceAndLabel) {
    const LONG expected[] = {1, 1, 2, 3, 2, 3, 3, 3, 2, 1};  // unknown, removable or fixed
    for (long media = 0; media <= 9; ++media) {
        LONG value = -1;
        EXPECT_EQ(media == 9 ? E_FAIL : S_OK,
                  MakeMountPoint(L"\\X:\\", static_cast<wchar_t>(L'C' + media))->GetMedia(&value)) << media;
        EXPECT_EQ(expected[media], value) << media;
    }
    EXPECT_EQ(E_INVALIDARG, MakeMountPoint(L"\\L:\\", L'L')->GetMedia(nullptr));

    auto c = MakeMountPoint(L"\\C:\\", L'C');
    ULONG capacity = 0, freeBytes = 0, used = 0;
    EXPECT_EQ(S_OK, c->GetMemCapacity(&capacity));
    EXPECT_EQ(S_OK, c->GetMemFree(&freeBytes));
    EXPECT_EQ(S_OK, c->GetMemUsed(&used));
    EXPECT_EQ(1000000u, capacity);
    EXPECT_EQ(250000u, freeBytes);
    EXPECT_EQ(750000u, used);
    EXPECT_EQ(S_OK, MakeMountPoint(L"\\D:\\", L'D')->GetMemUsed(&used));
    EXPECT_EQ(0xFFFFFFF6u, used);  // wraps around in 32 bits

    com::UniqueBstr label;
    EXPECT_EQ(E_NOTIMPL, c->PutLabel(B(L"Renamed").Get()));
    EXPECT_EQ(S_OK, c->GetLabel(label.Receive()));
    EXPECT_STREQ(L"Drive C", label.c_str());
    EXPECT_EQ(L"\\C:\\", PathOf(c.get()));
    DWORD attributes = 5;
    DATE date = 1;
    EXPECT_EQ(S_OK, c->GetAttributes(&attributes));
    EXPECT_EQ(S_OK, c->GetChanged(&date));
    EXPECT_EQ(0u, attributes);
    EXPECT_EQ(0.0, date);
}

} // namespace
