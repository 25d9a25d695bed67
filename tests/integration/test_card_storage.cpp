// Memory card items on its PC drive, below the object model: properties (beside the phone's), names, listings, copies.
#include "test_fixture.h"

namespace {

using namespace itest;

constexpr LONG kOk = 0;
constexpr LONG kFailed = static_cast<LONG>(0x80000000);
constexpr LONG kAborted = static_cast<LONG>(0xC0000000);

class CardStorage : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(true);
    }
    // The card's root as the \Memory card\ folder.
    std::unique_ptr<CPcFolder> CardRoot() {
        return std::unique_ptr<CPcFolder>(
            new CPcFolder(L"\\Memory card\\", m_drive.c_str(), m_mass, Connector()->CurrentBinding()));
    }
    // The merged folder for E:\U\relative and <card>\U\relative, as the
    // connector's listing makes it; massStorage replaces the binding's.
    std::unique_ptr<CMergeFolder> Merge(const std::wstring& relative,
                                        std::shared_ptr<CFolderMapping> massStorage = nullptr) {
        ComPtr<ISCDeviceStorageDirectory> directory;
        EXPECT_HRESULT_SUCCEEDED(GetItem(m_device.Get(), L"E:\\" + m_unique + L"\\" + relative,
                                         IID_ISCDeviceStorageDirectory, directory.ReceiveVoid()));
        return std::unique_ptr<CMergeFolder>(new CMergeFolder(
            Connector(), B(Virtual(relative)).Get(), B(Card(relative)).Get(), directory.Get(), Connector()->GetMapping(),
            massStorage ? massStorage : m_mass, Connector()->CurrentBinding()));
    }
    // The copy has ended inside the call; returns the wait object's result.
    LONG Ended(HRESULT hr, CCopyFileWaitObject** raw) {
        std::unique_ptr<CCopyFileWaitObject> wait(*raw);
        *raw = nullptr;
        EXPECT_EQ(S_OK, hr);
        if (!wait) return 1;
        EXPECT_TRUE(wait->IsSignalled());
        return wait->GetResult();
    }

    RecordingProgress m_progress;
    CountingReplace m_replace;
};

// The card mapping refusing virtual paths that hold a marker: a card that
// does not hold everything the phone shows.
class PartialCardMapping : public CFolderMapping {
public:
    PartialCardMapping(std::shared_ptr<CFolderMapping> card, std::wstring marker)
        : CFolderMapping(nullptr), m_card(std::move(card)), m_marker(std::move(marker)) {}
    HRESULT MapPath(BSTR* virtualPath, BSTR* realPath) override {
        if (std::wstring(*virtualPath).find(m_marker) == std::wstring::npos) return m_card->MapPath(virtualPath, realPath);
        *realPath = nullptr;
        return kHrPathNotFound;
    }
    HRESULT UnMapPath(BSTR* realPath, BSTR* virtualPath) override { return m_card->UnMapPath(realPath, virtualPath); }

private:
    std::shared_ptr<CFolderMapping> m_card;
    std::wstring m_marker;
};


TEST_F(CardStorage, ListsPhoneChildrenThenCardChildrenKeepingDuplicates) {
    PhoneFill({File(L"a.jpg", "phone a"), File(L"both.jpg", "phone"), Dir(L"P1"), Dir(L"Both"),
               File(L"Both\\x.txt", "x"), File(L"P1\\p.txt", "p")});
    BindCard();
    WriteCard(L"both.jpg", "card copy, longer");
    WriteCard(L"c.jpg", "c");
    MakeCardDir(L"C1");
    MakeCardDir(L"Both");
    WriteCard(L"Both\\y.txt", "yy");
    auto merge = Merge(L"");
    for (int round = 0; round < 2; ++round) {  // the card list starts over
        Owned<CFile> files;
        ASSERT_EQ(S_OK, merge->GetCFiles(files.items));
        ASSERT_EQ(4u, files.items.size());
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"a.jpg"), Virtual(L"both.jpg")}),
                  SortedPaths<CSymbianFile>(files.items, 0, 2));
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"both.jpg"), Virtual(L"c.jpg")}),
                  SortedPaths<CPcFile>(files.items, 2, 4));
        // The card's both.jpg is read from the PC.
        for (CFile* f : files.items) {
            auto* pc = dynamic_cast<CPcFile*>(f);
            ULONG size = 0;
            if (!pc || pc->GetRealPath() != Card(L"both.jpg")) continue;
            EXPECT_EQ(S_OK, f->GetSize(&size));
            EXPECT_EQ(17u, size);
        }
        Owned<CFolder> folders;
        ASSERT_EQ(S_OK, merge->GetCFolders(folders.items));
        ASSERT_EQ(4u, folders.items.size());
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"Both\\"), Virtual(L"P1\\")}),
                  SortedPaths<CMergeFolder>(folders.items, 0, 2));
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"Both\\"), Virtual(L"C1\\")}),
                  SortedPaths<CPcFolder>(folders.items, 2, 4));

        // Merged children list their own card folder, or the phone alone without one.
        for (CFolder* child : folders.items) {
            auto* merged = dynamic_cast<CMergeFolder*>(child);
            if (!merged) continue;
            Owned<CFile> inner;
            ASSERT_EQ(S_OK, merged->GetCFiles(inner.items));
            const bool both = PathOf(child) == Virtual(L"Both\\");
            EXPECT_EQ(Card(both ? L"Both\\" : L"P1\\"), merged->GetPcPath());
            if (both) {
                EXPECT_EQ(std::vector<std::wstring>{Virtual(L"Both\\x.txt")}, SortedPaths<CSymbianFile>(inner.items, 0, 1));
                EXPECT_EQ(std::vector<std::wstring>{Virtual(L"Both\\y.txt")}, SortedPaths<CPcFile>(inner.items, 1));
            } else {
                EXPECT_EQ(std::vector<std::wstring>{Virtual(L"P1\\p.txt")}, SortedPaths<CSymbianFile>(inner.items));
            }
        }
    }
}

// A subfolder the card does not map stays a phone folder; card children the
// mapping cannot name (other folders of the shared card) are left out. A phone
// error or an ended binding fails the listing.
TEST_F(CardStorage, MergingFollowsTheCardMappingAndFailsWithThePhone) {
    PhoneFill({File(L"a.jpg", "a"), Dir(L"Images"), Dir(L"phone-only")});
    BindCard();
    WriteCard(L"c.jpg", "c");
    auto merge = Merge(L"", std::make_shared<PartialCardMapping>(m_mass, L"phone-only"));
    Owned<CFolder> folders;
    ASSERT_EQ(S_OK, merge->GetCFolders(folders.items));
    ASSERT_EQ(2u, folders.items.size());
    for (CFolder* child : folders.items) {
        EXPECT_NE(nullptr, dynamic_cast<CSymbianFolder*>(child));
        EXPECT_EQ(PathOf(child) == Virtual(L"Images\\"), dynamic_cast<CMergeFolder*>(child) != nullptr)
            << Narrow(PathOf(child));
    }

    folders.Clear();
    Owned<CFile> files;
    FailNext(simCallFiles, E_ACCESSDENIED);
    EXPECT_EQ(E_FAIL, merge->GetCFiles(files.items));
    EXPECT_TRUE(files.items.empty());  // no card files after a phone error
    FailNext(simCallSubdirectories, E_ACCESSDENIED);
    EXPECT_EQ(E_FAIL, merge->GetCFolders(folders.items));
    EXPECT_TRUE(folders.items.empty());
    m_control->FailCalls(0, S_OK, 0);
    ASSERT_EQ(S_OK, merge->GetCFiles(files.items));
    EXPECT_EQ(2u, files.items.size());

    files.Clear();
    ASSERT_EQ(S_OK, Unbind());
    EXPECT_EQ(E_FAIL, merge->GetCFiles(files.items));
    EXPECT_EQ(E_FAIL, merge->GetCFolders(folders.items));
    EXPECT_TRUE(files.items.empty() && folders.items.empty());
}

void SetWriteTime(const std::wstring& path, uint64_t utc) {
    const FILETIME time{static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &time));
    CloseHandle(h);
}

// Items report their times in the PC's local time.
DATE LocalDate(uint64_t utc) {
    const FILETIME time{static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
    FILETIME local;
    SYSTEMTIME st;
    DATE date = 0;
    FileTimeToLocalFileTime(&time, &local);
    FileTimeToSystemTime(&local, &st);
    SystemTimeToVariantTime(&st, &date);
    return date;
}

HRESULT Named(HRESULT (CStorageObject::*action)(BSTR&), CStorageObject& object, const wchar_t* name) {
    com::UniqueBstr text(name);
    BSTR raw = text.Get();
    return (object.*action)(raw);
}


// Phone items read the phone, card items the card drive; the mapping gives
// the forbidden operations; folders have no attributes or times of the phone.
TEST_F(CardStorage, PropertiesComeFromThePhoneOrTheCard) {
    const uint64_t phoneTime = FileTimeUtc(2021, 6, 14, 9, 30, 15), cardTime = FileTimeUtc(2021, 3, 4, 5),
                   folderTime = FileTimeUtc(2020, 12, 31, 23);
    Entry photo = File(L"Images\\a.jpg", "jpeg!");
    photo.modified = phoneTime;
    m_image.Fill(L'C', {photo});
    BindCard();
    WriteCard(L"a.jpg", "0123456789");
    SetWriteTime(Card(L"a.jpg"), cardTime);
    ASSERT_TRUE(SetFileAttributesW(Card(L"a.jpg").c_str(), FILE_ATTRIBUTE_READONLY));
    MakeCardDir(L"Sub");
    SetWriteTime(Card(L"Sub"), folderTime);
    auto phoneFile = MakeFile(L"\\Phone\\Images\\a.jpg", L"C:\\Images\\a.jpg");
    auto cardFile = PcFile(L"a.jpg");
    const struct {
        const char* what;
        CFile* file;
        std::wstring path;
        ULONG size;
        DATE changed;
        bool times;  // the phone gives no creation or access time
        DWORD readOnly, forbidden;
        const wchar_t* mime;  // nullptr: not implemented
    } files[] = {
        {"phone", phoneFile.get(), L"\\Phone\\Images\\a.jpg", 5, LocalDate(phoneTime), false, 0, 0, L"image/jpeg"},
        {"card", cardFile.get(), Virtual(L"a.jpg"), 10, LocalDate(cardTime), true, FILE_ATTRIBUTE_READONLY,
         ForbidRename, nullptr}};
    ULONG size = 0;
    DWORD value = 0;
    DATE changed = 0, created = 0, accessed = 0;
    for (const auto& f : files) {
        com::UniqueBstr mime;
        EXPECT_EQ(S_OK, f.file->GetSize(&size)) << f.what;
        EXPECT_EQ(f.size, size) << f.what;
        EXPECT_EQ(S_OK, f.file->GetChanged(&changed)) << f.what;
        EXPECT_NEAR(f.changed, changed, 1.0 / 86400) << f.what;
        EXPECT_EQ(S_OK, f.file->GetCreated(&created)) << f.what;
        EXPECT_EQ(S_OK, f.file->GetAccessed(&accessed)) << f.what;
        EXPECT_EQ(f.times, created > 0 && accessed > 0) << f.what;
        EXPECT_EQ(S_OK, f.file->GetAttributes(&value)) << f.what;
        EXPECT_EQ(f.readOnly, value & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) << f.what;
        EXPECT_EQ(S_OK, f.file->GetForbiddenOps(&value)) << f.what;
        EXPECT_EQ(f.forbidden, value) << f.what;
        EXPECT_EQ(f.mime ? S_OK : E_NOTIMPL, f.file->GetMIMEType(mime.Receive())) << f.what;
        EXPECT_EQ(f.mime ? f.mime : L"", std::wstring(mime.IsNull() ? L"" : mime.c_str())) << f.what;
        EXPECT_EQ(f.path, PathOf(f.file)) << f.what;
    }
    // Attributes are written straight to the phone; card files take none.
    EXPECT_EQ(S_OK, phoneFile->PutAttributes(FILE_ATTRIBUTE_READONLY));
    EXPECT_NE(0u, GetFileAttributesW(m_image.PcPath(L"C:\\Images\\a.jpg").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(S_OK, phoneFile->GetAttributes(&value));
    EXPECT_NE(0u, value & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(E_NOTIMPL, cardFile->PutAttributes(0));
    EXPECT_EQ(S_OK, PcFile(L"Sub\\b.jpg")->GetForbiddenOps(&value));  // the rule is for the folder's own files
    EXPECT_EQ(0u, value);

    auto phoneFolder = MakeFolder(L"\\Phone\\", L"C:\\");
    auto cardFolder = PcFolder(L"Sub");
    EXPECT_EQ(Card(L"Sub\\"), cardFolder->GetRealPath());
    const struct {
        const char* what;
        CFolder* folder;
        DATE changed;
        DWORD attributes;
    } folders[] = {{"phone", phoneFolder.get(), 0.0, 0},
                   {"card", cardFolder.get(), LocalDate(folderTime), FILE_ATTRIBUTE_DIRECTORY}};
    ASSERT_HRESULT_SUCCEEDED(m_control->ResetCallCounts());
    for (const auto& f : files) {
        for (HRESULT hr : {f.file->GetSize(nullptr), f.file->GetChanged(nullptr), f.file->GetForbiddenOps(nullptr)})
            EXPECT_EQ(E_INVALIDARG, hr) << f.what;
        if (f.mime) {
            EXPECT_EQ(E_INVALIDARG, f.file->GetMIMEType(nullptr));
        }
    }
    for (const auto& f : folders) {
        value = 0xABC;
        EXPECT_EQ(S_OK, f.folder->GetAttributes(&value)) << f.what;
        EXPECT_EQ(f.attributes, value & 0xFFF) << f.what;
        EXPECT_EQ(S_OK, f.folder->GetForbiddenOps(&value)) << f.what;  // no rules for these folders
        EXPECT_EQ(0u, value) << f.what;
        EXPECT_EQ(S_OK, f.folder->GetChanged(&changed)) << f.what;
        EXPECT_NEAR(f.changed, changed, 1.0 / 86400) << f.what;
        EXPECT_EQ(E_NOTIMPL, f.folder->PutAttributes(0)) << f.what;
        EXPECT_EQ(E_INVALIDARG, f.folder->GetPath(nullptr)) << f.what;
    }
    EXPECT_EQ(0, Calls()) << "a folder's answers and a null out-argument need no phone call";

    // Not on the card.
    auto missing = PcFile(L"never.jpg");
    EXPECT_EQ(S_OK, missing->GetAttributes(&value));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, value);
    EXPECT_EQ(E_FAIL, missing->GetSize(&size));
    EXPECT_EQ(E_FAIL, missing->GetCreated(&created));
    EXPECT_EQ(E_FAIL, PcFolder(L"Missing")->GetChanged(&changed));
    Owned<CFile> none;
    EXPECT_EQ(S_OK, PcFolder(L"Missing")->GetCFiles(none.items));  // cannot be listed: lists nothing
    EXPECT_TRUE(none.items.empty());
    EXPECT_EQ(S_OK, CardRoot()->GetCreated(&created));  // a drive root has times too
}

TEST_F(CardStorage, NamesThatLeaveTheFolderOrOverflowThePathAreRefused) {
    BindCard();
    WriteCard(L"a.jpg", "abc");
    MakeCardDir(L"Dir");
    auto file = PcFile(L"a.jpg");
    auto folder = PcFolder(L"Dir");
    for (const wchar_t* bad : {L"..", L".", L" . ", L"..\\outside", L"x\\y", L"x/y", L"", L"C:evil", L"*.jpg"}) {
        EXPECT_EQ(E_INVALIDARG, Named(&CStorageObject::Rename, *file, bad)) << Narrow(bad);
        EXPECT_EQ(E_INVALIDARG, Named(&CStorageObject::Rename, *folder, bad)) << Narrow(bad);
        EXPECT_EQ(E_INVALIDARG, Named(&CStorageObject::NewFolder, *folder, bad)) << Narrow(bad);
    }
    EXPECT_FALSE(FileExists(m_drive + L"outside"));
    EXPECT_FALSE(FileExists(Card(L"outside")));

    // A name that would make a path of 260 characters (folders count their backslash).
    const std::wstring fileName(260 - Card(L"").size(), L'n');
    EXPECT_EQ(kPathTooLong, Named(&CStorageObject::Rename, *file, fileName.c_str()));
    const std::wstring folderName(259 - Card(L"").size(), L'n');
    EXPECT_EQ(kPathTooLong, Named(&CStorageObject::NewFolder, *PcFolder(L""), folderName.c_str()));
    EXPECT_TRUE(FileExists(Card(L"a.jpg")));

    auto root = CardRoot();
    EXPECT_EQ(E_FAIL, Named(&CStorageObject::Rename, *root, L"X"));
    EXPECT_EQ(E_FAIL, root->Delete());
}

TEST_F(CardStorage, CardRootListsOnlyWhatTheMappingNamesAndExistingMappedFolders) {
    PhoneFill({});
    BindCard();
    // A folder on the shared card that this configuration does not show.
    const std::wstring stranger = m_drive + m_unique + L"-mapped";
    ASSERT_TRUE(CreateDirectoryW(stranger.c_str(), nullptr));
    auto root = CardRoot();
    Owned<CFolder> folders;
    ASSERT_EQ(S_OK, root->GetCFolders(folders.items));
    EXPECT_EQ((std::vector<std::wstring>{L"\\Memory card\\" + m_unique + L"\\"}), SortedPaths<CPcFolder>(folders.items));
    Owned<CFile> files;
    ASSERT_EQ(S_OK, root->GetCFiles(files.items));
    EXPECT_TRUE(files.items.empty());  // the root's own files are hidden by the restriction

    // The card's root merged with the phone's E: lists U from both sides, and no files.
    ComPtr<ISCDrive> drive;
    ASSERT_HRESULT_SUCCEEDED(GetItem(m_device.Get(), L"E:", IID_ISCDrive, drive.ReceiveVoid()));
    ComPtr<ISCDeviceStorageDirectory> phoneRoot;
    ASSERT_HRESULT_SUCCEEDED(drive->get_RootDirectory(phoneRoot.Receive()));
    CMergeFolder card(Connector(), B(L"\\Memory card\\").Get(), B(m_drive).Get(), phoneRoot.Get(),
                      Connector()->GetMapping(), m_mass, Connector()->CurrentBinding());
    folders.Clear();
    ASSERT_EQ(S_OK, card.GetCFolders(folders.items));
    EXPECT_EQ(Paths{Virtual(L"")}, SortedPaths<CMergeFolder>(folders.items, 0, 1));
    EXPECT_EQ(Paths{Virtual(L"")}, SortedPaths<CPcFolder>(folders.items, 1));
    files.Clear();
    ASSERT_EQ(S_OK, card.GetCFiles(files.items));
    EXPECT_TRUE(files.items.empty());

    // The configured mapped folder appears once it exists on the card.
    ASSERT_TRUE(CreateDirectoryW((stranger + L"\\Videos").c_str(), nullptr));
    folders.Clear();
    ASSERT_EQ(S_OK, root->GetCFolders(folders.items));
    EXPECT_EQ((std::vector<std::wstring>{L"\\Memory card\\" + m_unique + L"-videos\\",
                                         L"\\Memory card\\" + m_unique + L"\\"}),
              SortedPaths<CPcFolder>(folders.items));
    EXPECT_EQ(stranger + L"\\Videos\\", static_cast<CPcFolder*>(folders.items.back())->GetRealPath());
}

// Phone and card objects made under a binding that has ended refuse, reach
// neither the phone nor the card, and stay refused once bound again.
TEST_F(CardStorage, ObjectsOfAnEndedBindingFailWithoutTouchingPhoneOrCard) {
    m_image.Fill(L'C', {File(L"Images\\a.jpg", "jpeg!")});
    BindCard();
    WriteCard(L"a.jpg", "abc");
    auto file = PcFile(L"a.jpg");
    auto folder = PcFolder(L"");
    auto phone = MakeFolder(L"\\Phone\\", L"C:\\");
    auto photo = MakeFile(L"\\Phone\\Images\\a.jpg", L"C:\\Images\\a.jpg");
    auto drive = MakeMountPoint(L"\\Phone\\", L'C');
    ASSERT_EQ(S_OK, Unbind());
    ULONG size = 0;
    DWORD value = 0;
    LONG media = 0;
    com::UniqueBstr out;
    Owned<CFile> files;
    Owned<CFolder> folders;
    CCopyFileWaitObject* wait = nullptr;
    const std::pair<const char*, std::function<HRESULT()>> calls[] = {
        {"card GetSize", [&] { return file->GetSize(&size); }},
        {"card GetForbiddenOps", [&] { return file->GetForbiddenOps(&value); }},
        {"card GetPath", [&] { return file->GetPath(out.Receive()); }},
        {"card Delete", [&] { return file->Delete(); }},
        {"card NewFolder", [&] { return Named(&CStorageObject::NewFolder, *folder, L"New"); }},
        {"card GetCFiles", [&] { return folder->GetCFiles(files.items); }},
        {"card CopyFileToPC",
         [&] { return file->CopyFileToPC(Executor(), Card(L"copy.jpg").c_str(), &wait, nullptr, nullptr); }},
        {"phone GetCFiles", [&] { return phone->GetCFiles(files.items); }},
        {"phone GetCFolders", [&] { return phone->GetCFolders(folders.items); }},
        {"phone GetMappedFolders", [&] { return phone->GetMappedFolders(folders.items); }},
        {"phone NewFolder", [&] { return Named(&CStorageObject::NewFolder, *phone, L"New"); }},
        {"phone Delete", [&] { return phone->Delete(); }},
        {"phone GetForbiddenOps", [&] { return phone->GetForbiddenOps(&value); }},
        {"phone GetPath", [&] { return phone->GetPath(out.Receive()); }},
        {"phone Rename", [&] { return Named(&CStorageObject::Rename, *photo, L"x"); }},
        {"phone GetSize", [&] { return photo->GetSize(&size); }},
        {"phone PutAttributes", [&] { return photo->PutAttributes(0); }},
        {"drive GetMemUsed", [&] { return drive->GetMemUsed(&size); }},
        {"drive GetMedia", [&] { return drive->GetMedia(&media); }},
        {"drive GetLabel", [&] { return drive->GetLabel(out.Receive()); }},
    };
    for (const char* when : {"after unbinding", "after binding again"}) {
        ASSERT_HRESULT_SUCCEEDED(m_control->ResetCallCounts());
        for (const auto& call : calls) EXPECT_EQ(E_FAIL, call.second()) << call.first << " " << when;
        EXPECT_TRUE(files.items.empty() && folders.items.empty() && out.IsNull() && !wait) << when;
        EXPECT_EQ(0, Calls()) << when;
        EXPECT_TRUE(FileExists(Card(L"a.jpg")));
        EXPECT_FALSE(FileExists(Card(L"New")) || FileExists(Card(L"copy.jpg")));
        ASSERT_EQ(S_OK, Rebind(L"pc-card"));
    }
}

TEST_F(CardStorage, CopiesBothWaysOverwritingWithProgressPerChunkUntilCancelled) {
    BindCard();
    const int64_t size = 3 * kPcCopyChunkSize + 1000;
    const std::string bytes = PatternBytes(size);
    WriteCard(L"out.bin", bytes);
    WriteFileBytes(Pc(L"in.bin"), bytes);
    WriteCard(L"in.bin", std::string(5 * kPcCopyChunkSize, 'x'));  // longer: no tail may remain
    CCopyFileWaitObject* raw = nullptr;

    EXPECT_EQ(kOk, Ended(PcFile(L"out.bin")->CopyFileToPC(Executor(), Pc(L"out.bin").c_str(), &raw, &m_progress,
                                                          &m_replace), &raw));
    EXPECT_TRUE(ReadFileBytes(Pc(L"out.bin")) == bytes);
    EXPECT_EQ(kOk, Ended(PcFolder(L"")->CopyFileFromPC(Executor(), Pc(L"in.bin").c_str(), &raw, &m_progress,
                                                       &m_replace), &raw));
    EXPECT_TRUE(ReadFileBytes(Card(L"in.bin")) == bytes);

    // Per copy: one report before the data, one per chunk, naming the source.
    EXPECT_EQ((std::vector<short>{0, 33, 66, 99, 100, 0, 33, 66, 99, 100}), m_progress.Percents());  // truncated
    const Paths paths = m_progress.Sources();
    EXPECT_EQ(Paths(5, Card(L"out.bin")), Paths(paths.begin(), paths.begin() + 5));
    EXPECT_EQ(Pc(L"in.bin"), m_progress.Sources().back());
    EXPECT_EQ(0, m_replace.calls);

    m_progress.Clear();
    WriteCard(L"empty.txt", "");
    EXPECT_EQ(kOk, Ended(PcFile(L"empty.txt")->CopyFileToPC(Executor(), Pc(L"empty.txt").c_str(), &raw, &m_progress,
                                                            &m_replace), &raw));
    EXPECT_TRUE(FileExists(Pc(L"empty.txt")));
    EXPECT_EQ(std::vector<short>{0}, m_progress.Percents());

    // Any non-zero answer cancels: nothing is reported after it and no target is left.
    m_progress.Clear();
    m_progress.cancelAt = 66;
    m_progress.cancelValue = -1;
    EXPECT_EQ(kAborted, Ended(PcFile(L"out.bin")->CopyFileToPC(Executor(), Pc(L"cut.bin").c_str(), &raw, &m_progress,
                                                               &m_replace), &raw));
    EXPECT_FALSE(FileExists(Pc(L"cut.bin")));
    EXPECT_EQ((std::vector<short>{0, 33, 66}), m_progress.Percents());
}

TEST_F(CardStorage, FailuresReachTheWaitObjectAndRefusalsStartNothing) {
    BindCard();
    WriteCard(L"a.bin", "keep me");
    WriteFileBytes(Pc(L"in.bin"), "x");
    auto file = PcFile(L"a.bin");
    auto folder = PcFolder(L"");
    CCopyFileWaitObject* raw = nullptr;
    // Unwritable targets, the source itself, a missing source: the call succeeds, the copy fails.
    for (const std::wstring& target : {Pc(L"no such folder\\a.bin"), Card(L"a.bin"), m_image.PcFolder()}) {
        EXPECT_EQ(kFailed, Ended(file->CopyFileToPC(Executor(), target.c_str(), &raw, &m_progress, &m_replace), &raw))
            << Narrow(target);
    }
    EXPECT_EQ("keep me", ReadFileBytes(Card(L"a.bin")));
    EXPECT_EQ(kFailed, Ended(folder->CopyFileFromPC(Executor(), Pc(L"ghost.bin").c_str(), &raw, &m_progress,
                                                    &m_replace), &raw));
    EXPECT_FALSE(FileExists(Card(L"ghost.bin")));

    m_progress.Clear();
    CCopyFileWaitObject* wait = nullptr;
    const _bstr_t source(Pc(L"in.bin").c_str());
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(nullptr, source, &wait, &m_progress, &m_replace));
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(Executor(), source, nullptr, &m_progress, &m_replace));
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(Executor(), source, &wait, nullptr, &m_replace));
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(Executor(), source, &wait, &m_progress, nullptr));
    // The source's name becomes the target's: it must be a plain name.
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(Executor(), (m_image.PcFolder() + L"\\..").c_str(), &wait, &m_progress,
                                                   &m_replace));
    EXPECT_EQ(E_FAIL, folder->CopyFileFromPC(Executor(), L"in.bin", &wait, &m_progress, &m_replace));
    const std::wstring longName(259 - Card(L"").size(), L'n');  // card path of 260 characters
    EXPECT_EQ(kPathTooLong, folder->CopyFileFromPC(Executor(), (L"C:\\" + longName + L"x").c_str(), &wait,
                                                   &m_progress, &m_replace));
    EXPECT_EQ(E_INVALIDARG, file->CopyFileToPC(Executor(), source, nullptr, &m_progress, &m_replace));
    EXPECT_EQ(E_INVALIDARG, file->CopyFileToPC(Executor(), L"", &wait, &m_progress, &m_replace));
    EXPECT_EQ(kPathTooLong,
              file->CopyFileToPC(Executor(), std::wstring(300, L'd').c_str(), &wait, &m_progress, &m_replace));
    EXPECT_EQ(nullptr, wait);
    EXPECT_TRUE(m_progress.Percents().empty());
}

struct RoutineLog {
    std::vector<LONGLONG> transferred;
    size_t answerAt = ~size_t(0);
    DWORD answer = PROGRESS_CONTINUE;
};

DWORD CALLBACK LoggingRoutine(LARGE_INTEGER, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD,
                              HANDLE, HANDLE, LPVOID data) {
    auto* log = static_cast<RoutineLog*>(data);
    log->transferred.push_back(transferred.QuadPart);
    return log->transferred.size() - 1 == log->answerAt ? log->answer : PROGRESS_CONTINUE;
}

TEST_F(CardStorage, ChunkedCopyKeepsTheCopyFileExContract) {
    BindCard();
    const int64_t size = 2 * kPcCopyChunkSize + 5;
    const std::string bytes = PatternBytes(size);
    WriteCard(L"src.bin", bytes);
    const std::wstring source = Card(L"src.bin");

    RoutineLog log;
    ASSERT_TRUE(PcCopyFileChunked(source.c_str(), Pc(L"a.bin").c_str(), LoggingRoutine, &log, nullptr, 0));
    EXPECT_EQ((std::vector<LONGLONG>{0, kPcCopyChunkSize, 2 * kPcCopyChunkSize, size}), log.transferred);
    WIN32_FILE_ATTRIBUTE_DATA in = {}, out = {};
    GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &in);
    GetFileAttributesExW(Pc(L"a.bin").c_str(), GetFileExInfoStandard, &out);
    EXPECT_EQ(0, CompareFileTime(&in.ftLastWriteTime, &out.ftLastWriteTime));

    WriteFileBytes(Pc(L"b.bin"), "old");
    EXPECT_FALSE(PcCopyFileChunked(source.c_str(), Pc(L"b.bin").c_str(), nullptr, nullptr, nullptr,
                                   COPY_FILE_FAIL_IF_EXISTS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
    EXPECT_EQ("old", ReadFileBytes(Pc(L"b.bin")));

    // Stop and cancel answers, and the cancel flag, abort with nothing left.
    for (DWORD answer : {static_cast<DWORD>(PROGRESS_STOP), static_cast<DWORD>(PROGRESS_CANCEL)}) {
        RoutineLog stop;
        stop.answerAt = 1;
        stop.answer = answer;
        EXPECT_FALSE(PcCopyFileChunked(source.c_str(), Pc(L"c.bin").c_str(), LoggingRoutine, &stop, nullptr, 0));
        EXPECT_EQ(static_cast<DWORD>(ERROR_REQUEST_ABORTED), GetLastError());
        EXPECT_EQ(2u, stop.transferred.size());
        EXPECT_FALSE(FileExists(Pc(L"c.bin")));
    }
    BOOL cancel = TRUE;
    EXPECT_FALSE(PcCopyFileChunked(source.c_str(), Pc(L"d.bin").c_str(), nullptr, nullptr, &cancel, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_REQUEST_ABORTED), GetLastError());
    EXPECT_FALSE(FileExists(Pc(L"d.bin")));
    EXPECT_FALSE(PcCopyFileChunked(Card(L"missing.bin").c_str(), Pc(L"e.bin").c_str(), nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(FileExists(Pc(L"e.bin")));
}

} // namespace
