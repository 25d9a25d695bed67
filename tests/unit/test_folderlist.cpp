// The PC folder list over a real temporary folder (the device list is
// exercised through the simulator by the folder transfers).
#include <algorithm>
#include <string>
#include <vector>

#include "unit_fakes.h"
#include "operations/FolderListPC.h"

namespace {

using unittest::ScratchFolder;

// Names until the end, sorted; a failure adds "!" and ends the list.
std::vector<std::wstring> Drain(CFolderListPC& list, bool folders) {
    std::vector<std::wstring> names;
    for (int guard = 0; guard < 100; ++guard) {
        com::UniqueBstr name;
        DWORD error = 0;
        const HRESULT hr = folders ? list.GetNextFolderName(name.Receive(), &error)
                                   : list.GetNextFileName(name.Receive(), &error);
        if (hr == S_FALSE) break;
        names.push_back(hr == S_OK ? name.c_str() : L"!");
        if (hr != S_OK) break;
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FolderListPC, SeparatesFilesFromFoldersAndStartsOverAfterTheEnd) {
    ScratchFolder folder;
    for (const wchar_t* item : {L"a.txt", L".hidden", L"Sub\\", L"Other dir\\", L"Sub\\deeper.txt"}) folder.Make(item);
    for (const std::wstring& path : {folder.Path(), folder.Path() + L"\\"}) {
        CFolderListPC list;
        DWORD error = 0;
        ASSERT_EQ(S_OK, list.GetFolderList(path.c_str(), &error));
        // The folder enumeration runs in the middle of the file one, independently.
        com::UniqueBstr first;
        ASSERT_EQ(S_OK, list.GetNextFileName(first.Receive(), &error));
        EXPECT_EQ((std::vector<std::wstring>{L"Other dir", L"Sub"}), Drain(list, true));
        std::vector<std::wstring> files = Drain(list, false);
        files.push_back(first.c_str());
        std::sort(files.begin(), files.end());
        EXPECT_EQ((std::vector<std::wstring>{L".hidden", L"a.txt"}), files);
        // Ended: the next calls start from the beginning.
        EXPECT_EQ((std::vector<std::wstring>{L".hidden", L"a.txt"}), Drain(list, false));
        EXPECT_EQ((std::vector<std::wstring>{L"Other dir", L"Sub"}), Drain(list, true));
    }
    // An empty folder ends at once: "." and ".." are not subfolders.
    CFolderListPC empty;
    DWORD error = 0;
    ASSERT_EQ(S_OK, empty.GetFolderList((folder.Path() + L"\\Other dir").c_str(), &error));
    EXPECT_TRUE(Drain(empty, true).empty());
    EXPECT_TRUE(Drain(empty, false).empty());
}

TEST(FolderListPC, FailuresCarryTheWin32ErrorAndLongPathsAreRefused) {
    ScratchFolder outer;
    CFolderListPC list;
    DWORD error = 0;
    EXPECT_EQ(E_FAIL, list.GetFolderList((outer.Path() + L"\\missing").c_str(), &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), error);
    BSTR name = nullptr;
    EXPECT_EQ(E_FAIL, list.GetNextFileName(&name, &error));  // nothing left to enumerate
    const std::wstring inner = outer.Make(L"gone\\");
    ASSERT_EQ(S_OK, list.GetFolderList(inner.c_str(), &error));
    ASSERT_TRUE(RemoveDirectoryW(inner.c_str()));
    error = 0;
    EXPECT_EQ(E_FAIL, list.GetNextFolderName(&name, &error));
    EXPECT_NE(0u, error);
    // 257 characters and "\*" fill the 260-character pattern with its terminator.
    const std::wstring fits = L"C:\\" + std::wstring(254, L'x');
    EXPECT_EQ(E_FAIL, list.GetFolderList(fits.c_str(), &error));  // searched, not there
    EXPECT_EQ(static_cast<HRESULT>(0x800700CE), list.GetFolderList((fits + L"y").c_str(), &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), error);
    EXPECT_EQ(E_INVALIDARG, list.GetFolderList(nullptr, &error));
    EXPECT_EQ(E_INVALIDARG, list.GetNextFileName(nullptr, &error));
    EXPECT_EQ(E_INVALIDARG, list.GetNextFolderName(&name, nullptr));
}

} // namespace
