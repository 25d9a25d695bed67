// Memory card files and folders on the card's removable PC drive: properties,
// rename, delete and new folder with their refusals, listings, and use after
// the binding has ended.
#include "test_pc_fixture.h"

namespace pctest {
namespace {

// Sets the last write time to a local calendar time; returns it as a DATE.
DATE SetLocalWriteTime(const std::wstring& path, WORD year, WORD month, WORD day, WORD hour) {
    SYSTEMTIME local = {};
    local.wYear = year;
    local.wMonth = month;
    local.wDay = day;
    local.wHour = hour;
    FILETIME localTime, utc;
    SystemTimeToFileTime(&local, &localTime);
    LocalFileTimeToFileTime(&localTime, &utc);
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &utc));
    CloseHandle(h);
    DATE date = 0;
    SystemTimeToVariantTime(&local, &date);
    return date;
}

HRESULT Named(HRESULT (CStorageObject::*action)(BSTR&), CStorageObject& object, const wchar_t* name) {
    com::UniqueBstr text(name);
    BSTR raw = text.Get();
    return (object.*action)(raw);
}

using PcStorage = CardTest;

TEST_F(PcStorage, FileAndFolderPropertiesComeFromTheCard) {
    Bind();
    WriteCard(L"a.jpg", "0123456789");
    const DATE written = SetLocalWriteTime(Card(L"a.jpg"), 2021, 3, 4, 5);
    ASSERT_TRUE(SetFileAttributesW(Card(L"a.jpg").c_str(), FILE_ATTRIBUTE_READONLY));
    auto file = PcFile(L"a.jpg");
    ULONG size = 0;
    DWORD value = 0;
    DATE changed = 0, created = 0, accessed = 0;
    EXPECT_EQ(S_OK, file->GetSize(&size));
    EXPECT_EQ(10u, size);
    EXPECT_EQ(S_OK, file->GetChanged(&changed));
    EXPECT_NEAR(written, changed, 1.0 / 86400);
    EXPECT_EQ(S_OK, file->GetCreated(&created));
    EXPECT_EQ(S_OK, file->GetAccessed(&accessed));
    EXPECT_GT(created, 0.0);
    EXPECT_GT(accessed, 0.0);
    EXPECT_EQ(S_OK, file->GetAttributes(&value));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), value & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(Virtual(L"a.jpg"), PathOf(file.get()));
    BSTR text = nullptr;
    EXPECT_EQ(E_NOTIMPL, file->PutAttributes(0));
    EXPECT_EQ(E_NOTIMPL, file->GetMIMEType(&text));
    EXPECT_EQ(E_INVALIDARG, file->GetSize(nullptr));
    EXPECT_EQ(E_INVALIDARG, file->GetChanged(nullptr));
    EXPECT_EQ(E_INVALIDARG, file->GetForbiddenOps(nullptr));

    // Forbidden operations: those the mapping sets for the file's folder.
    EXPECT_EQ(S_OK, file->GetForbiddenOps(&value));
    EXPECT_EQ(static_cast<DWORD>(ForbidRename), value);
    MakeCardDir(L"Sub");
    EXPECT_EQ(S_OK, PcFile(L"Sub\\b.jpg")->GetForbiddenOps(&value));
    EXPECT_EQ(0u, value);

    // A file that is not there.
    auto missing = PcFile(L"never.jpg");
    EXPECT_EQ(S_OK, missing->GetAttributes(&value));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, value);
    EXPECT_EQ(E_FAIL, missing->GetSize(&size));
    EXPECT_EQ(E_FAIL, missing->GetCreated(&created));

    const DATE folderWritten = SetLocalWriteTime(Card(L"Sub"), 2020, 12, 31, 23);
    auto folder = PcFolder(L"Sub");
    EXPECT_EQ(Card(L"Sub\\"), folder->GetRealPath());
    EXPECT_EQ(S_OK, folder->GetChanged(&changed));
    EXPECT_NEAR(folderWritten, changed, 1.0 / 86400);
    EXPECT_EQ(S_OK, folder->GetAttributes(&value));
    EXPECT_TRUE(value & FILE_ATTRIBUTE_DIRECTORY);
    value = 0xABC;
    EXPECT_EQ(S_OK, folder->GetForbiddenOps(&value));  // no rules for this folder
    EXPECT_EQ(0u, value);
    EXPECT_EQ(E_NOTIMPL, folder->PutAttributes(0));
    EXPECT_EQ(E_FAIL, PcFolder(L"Missing")->GetChanged(&changed));
    EXPECT_EQ(S_OK, CardRoot()->GetCreated(&created));  // a drive root has times too
}

TEST_F(PcStorage, RenameDeleteAndNewFolderActOnTheCard) {
    Bind();
    WriteCard(L"a.jpg", "abc");
    MakeCardDir(L"Dir");
    auto file = PcFile(L"a.jpg");
    ASSERT_EQ(S_OK, Named(&CStorageObject::Rename, *file, L"b.jpg"));
    EXPECT_FALSE(Exists(Card(L"a.jpg")));
    EXPECT_EQ("abc", ReadFileBytes(Card(L"b.jpg")));
    EXPECT_EQ(Virtual(L"a.jpg"), PathOf(file.get()));  // the object keeps its paths
    EXPECT_EQ(E_FAIL, file->Delete());                  // so it names nothing now

    ASSERT_EQ(S_OK, Named(&CStorageObject::Rename, *PcFolder(L"Dir"), L"Renamed"));
    EXPECT_TRUE(GetFileAttributesW(Card(L"Renamed").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(Exists(Card(L"Dir")));

    auto top = PcFolder(L"");
    ASSERT_EQ(S_OK, Named(&CStorageObject::NewFolder, *top, L"Created"));
    EXPECT_TRUE(GetFileAttributesW(Card(L"Created").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(E_FAIL, Named(&CStorageObject::NewFolder, *top, L"Created"));
    EXPECT_EQ(E_NOTIMPL, Named(&CStorageObject::NewFolder, *PcFile(L"b.jpg"), L"x"));

    WriteCard(L"Renamed\\x.txt", "x");
    EXPECT_EQ(E_FAIL, PcFolder(L"Renamed")->Delete());  // not empty
    EXPECT_TRUE(Exists(Card(L"Renamed\\x.txt")));
    EXPECT_EQ(S_OK, PcFile(L"Renamed\\x.txt")->Delete());
    EXPECT_EQ(S_OK, PcFolder(L"Renamed")->Delete());
    EXPECT_FALSE(Exists(Card(L"Renamed")));
}

TEST_F(PcStorage, NamesThatLeaveTheFolderOrOverflowThePathAreRefused) {
    Bind();
    WriteCard(L"a.jpg", "abc");
    WriteCard(L"taken.jpg", "t");
    MakeCardDir(L"Dir");
    auto file = PcFile(L"a.jpg");
    auto folder = PcFolder(L"Dir");
    for (const wchar_t* bad : {L"..", L".", L" . ", L"..\\outside", L"x\\y", L"x/y", L"", L"C:evil", L"*.jpg"}) {
        EXPECT_EQ(E_INVALIDARG, Named(&CStorageObject::Rename, *file, bad)) << Narrow(bad);
        EXPECT_EQ(E_INVALIDARG, Named(&CStorageObject::Rename, *folder, bad)) << Narrow(bad);
        EXPECT_EQ(E_INVALIDARG, Named(&CStorageObject::NewFolder, *folder, bad)) << Narrow(bad);
    }
    EXPECT_FALSE(Exists(m_drive + L"outside"));
    EXPECT_FALSE(Exists(Card(L"outside")));
    EXPECT_EQ(E_FAIL, Named(&CStorageObject::Rename, *file, L"taken.jpg"));
    EXPECT_EQ("abc", ReadFileBytes(Card(L"a.jpg")));
    EXPECT_EQ("t", ReadFileBytes(Card(L"taken.jpg")));

    // A name that would make a path of 260 characters (folders count their backslash).
    const std::wstring fileName(260 - Card(L"").size(), L'n');
    EXPECT_EQ(kPathTooLong, Named(&CStorageObject::Rename, *file, fileName.c_str()));
    const std::wstring folderName(259 - Card(L"").size(), L'n');
    EXPECT_EQ(kPathTooLong, Named(&CStorageObject::NewFolder, *PcFolder(L""), folderName.c_str()));
    EXPECT_TRUE(Exists(Card(L"a.jpg")));

    auto root = CardRoot();
    EXPECT_EQ(E_FAIL, Named(&CStorageObject::Rename, *root, L"X"));
    EXPECT_EQ(E_FAIL, root->Delete());
}

TEST_F(PcStorage, ListsChildrenThroughTheMappingAndStartsOverEachTime) {
    Bind();
    WriteCard(L"a.jpg", "a");
    WriteCard(L"b.txt", "bb");
    MakeCardDir(L"Sub");
    WriteCard(L"Sub\\deep.txt", "d");
    auto folder = PcFolder(L"");
    for (int round = 0; round < 2; ++round) {
        Owned<CFile> files;
        ASSERT_EQ(S_OK, folder->GetCFiles(files.items));
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"a.jpg"), Virtual(L"b.txt")}), SortedPaths<CPcFile>(files.items));
        for (CFile* f : files.items)
            EXPECT_EQ(Card(PathOf(f).substr(Virtual(L"").size())), static_cast<CPcFile*>(f)->GetRealPath());
        Owned<CFolder> folders;
        ASSERT_EQ(S_OK, folder->GetCFolders(folders.items));
        ASSERT_EQ((std::vector<std::wstring>{Virtual(L"Sub\\")}), SortedPaths<CPcFolder>(folders.items));
        Owned<CFile> deep;
        ASSERT_EQ(S_OK, folders.items.front()->GetCFiles(deep.items));
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"Sub\\deep.txt")}), SortedPaths<CPcFile>(deep.items));
    }
    Owned<CFile> none;
    EXPECT_EQ(S_OK, PcFolder(L"Missing")->GetCFiles(none.items));  // cannot be listed: lists nothing
    EXPECT_TRUE(none.items.empty());
}

TEST_F(PcStorage, CardRootListsOnlyWhatTheMappingNamesAndExistingMappedFolders) {
    Bind();
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

    // The configured mapped folder appears once it exists on the card.
    ASSERT_TRUE(CreateDirectoryW((stranger + L"\\Videos").c_str(), nullptr));
    folders.Clear();
    ASSERT_EQ(S_OK, root->GetCFolders(folders.items));
    EXPECT_EQ((std::vector<std::wstring>{L"\\Memory card\\" + m_unique + L"-videos\\",
                                         L"\\Memory card\\" + m_unique + L"\\"}),
              SortedPaths<CPcFolder>(folders.items));
    EXPECT_EQ(stranger + L"\\Videos\\", static_cast<CPcFolder*>(folders.items.back())->GetRealPath());
}

TEST_F(PcStorage, ObjectsOfAnEndedBindingFailWithoutTouchingTheCard) {
    Bind();
    WriteCard(L"a.jpg", "abc");
    auto file = PcFile(L"a.jpg");
    auto folder = PcFolder(L"");
    ASSERT_EQ(S_OK, Unbind());
    ULONG size = 0;
    DWORD value = 0;
    BSTR path = nullptr;
    EXPECT_EQ(E_FAIL, file->GetSize(&size));
    EXPECT_EQ(E_FAIL, file->GetForbiddenOps(&value));
    EXPECT_EQ(E_FAIL, file->GetPath(&path));
    EXPECT_EQ(E_FAIL, file->Delete());
    EXPECT_TRUE(Exists(Card(L"a.jpg")));
    EXPECT_EQ(E_FAIL, Named(&CStorageObject::NewFolder, *folder, L"New"));
    EXPECT_FALSE(Exists(Card(L"New")));
    Owned<CFile> files;
    EXPECT_EQ(E_FAIL, folder->GetCFiles(files.items));
    EXPECT_TRUE(files.items.empty());
    CCopyFileWaitObject* wait = nullptr;
    EXPECT_EQ(E_FAIL, file->CopyFileToPC(Executor(), Card(L"copy.jpg").c_str(), &wait, nullptr, nullptr));
    EXPECT_EQ(nullptr, wait);
    EXPECT_FALSE(Exists(Card(L"copy.jpg")));
}

} // namespace
} // namespace pctest
