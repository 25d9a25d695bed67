// Folder lists: the PC iterator over a real temporary folder, and the device
// list over a storage folder given by a connector double.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "com/ComUtil.h"
#include "connector/DeviceConnector.h"
#include "operations/FolderListDevice.h"
#include "operations/FolderListPC.h"

namespace {

// A new folder under the temporary folder, removed with its content.
class ScratchFolder {
public:
    ScratchFolder() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static std::atomic<int> counter{0};
        m_path = std::wstring(temp) + L"fl-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(counter++);
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~ScratchFolder() { RemoveTree(m_path); }
    const std::wstring& Path() const { return m_path; }
    // A folder when the name ends with a backslash, else an empty file.
    std::wstring Make(const std::wstring& relative) const {
        const std::wstring full = m_path + L"\\" + relative;
        if (relative.back() == L'\\') CreateDirectoryW(full.c_str(), nullptr);
        else CloseHandle(CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        return full;
    }

private:
    static void RemoveTree(const std::wstring& path) {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &data);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = data.cFileName, child = path + L"\\" + name;
                if (name == L"." || name == L"..") continue;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
                else DeleteFileW(child.c_str());
            } while (FindNextFileW(search, &data));
            FindClose(search);
        }
        RemoveDirectoryW(path.c_str());
    }
    std::wstring m_path;
};

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

TEST(FolderListPC, EmptyFolderEndsAtOnce) {
    ScratchFolder folder;
    CFolderListPC list;
    DWORD error = 0;
    ASSERT_EQ(S_OK, list.GetFolderList(folder.Path().c_str(), &error));
    BSTR name = nullptr;
    EXPECT_EQ(S_FALSE, list.GetNextFolderName(&name, &error));  // "." and ".." are not subfolders
    EXPECT_EQ(S_FALSE, list.GetNextFileName(&name, &error));
    EXPECT_EQ(nullptr, name);
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
    EXPECT_EQ(static_cast<HRESULT>(0x800700CE), list.GetFolderList(std::wstring(5000, L'z').c_str(), &error));
    EXPECT_EQ(E_INVALIDARG, list.GetFolderList(nullptr, &error));
    EXPECT_EQ(E_INVALIDARG, list.GetNextFileName(nullptr, &error));
    EXPECT_EQ(E_INVALIDARG, list.GetNextFolderName(&name, nullptr));
}

// ---- the device list ----

int g_alive = 0;

#define FAKE_COMMON                                                                    \
    HRESULT PutAttributes(DWORD) override { return E_NOTIMPL; }                        \
    HRESULT GetAttributes(DWORD*) override { return E_NOTIMPL; }                       \
    HRESULT GetCreated(DATE*) override { return E_NOTIMPL; }                           \
    HRESULT GetAccessed(DATE*) override { return E_NOTIMPL; }                          \
    HRESULT GetChanged(DATE*) override { return E_NOTIMPL; }                           \
    HRESULT GetPath(BSTR* path) override { return (*path = SysAllocString(name.c_str())) ? S_OK : E_FAIL; }

struct FakeFile : CFile {
    explicit FakeFile(std::wstring n) : name(std::move(n)) { ++g_alive; }
    ~FakeFile() override { --g_alive; }
    FAKE_COMMON
    HRESULT GetSize(ULONG*) override { return E_NOTIMPL; }
    HRESULT GetMIMEType(BSTR*) override { return E_NOTIMPL; }
    HRESULT CopyFileToPC(CAsynchOperationExecutor*, _bstr_t, CCopyFileWaitObject**, CProgressCallbackFunctionBase*,
                         CReplaceCallbackFunctionBase*) override { return E_NOTIMPL; }
    std::wstring name;
};

struct Listing {
    std::vector<std::wstring> files, folders;
    HRESULT filesResult = S_OK, foldersResult = S_OK;
};

struct FakeFolder : CFolder {
    FakeFolder(std::wstring n, const Listing& l) : name(std::move(n)), listing(l) { ++g_alive; }
    ~FakeFolder() override { --g_alive; }
    FAKE_COMMON
    HRESULT GetCFiles(std::list<CFile*>& out) override {
        for (const auto& n : listing.files) out.push_back(new FakeFile(n));
        return listing.filesResult;
    }
    HRESULT GetCFolders(std::list<CFolder*>& out) override {
        for (const auto& n : listing.folders) out.push_back(new FakeFolder(n, Listing()));
        return listing.foldersResult;
    }
    HRESULT CopyFileFromPC(CAsynchOperationExecutor*, _bstr_t, CCopyFileWaitObject**, CProgressCallbackFunctionBase*,
                           CReplaceCallbackFunctionBase*) override { return E_NOTIMPL; }
    std::wstring name;
    Listing listing;
};

// Resolves one virtual path to a FakeFolder with the listing set by the test.
struct FakeConnector : DeviceConnector {
    HRESULT getCFolder(BSTR& path, CFolder** folder) override {
        *folder = std::wstring(path) == L"\\Phone\\Data\\" ? new FakeFolder(path, listing) : nullptr;
        return *folder ? S_OK : E_FAIL;
    }
    HRESULT getMountPoints(std::list<CMountPoint*>&) override { return E_NOTIMPL; }
    HRESULT getCFile(BSTR&, CFile**) override { return E_NOTIMPL; }
    HRESULT getKVFMFolder(BSTR&, IKVFMFolder**) override { return E_NOTIMPL; }
    HRESULT getKVFMFile(BSTR&, IKVFMFile**) override { return E_NOTIMPL; }
    HRESULT getKVFMObjects(BSTR&, std::list<IKVFMObject*>&) override { return E_NOTIMPL; }
    HRESULT getKVFMFolders(BSTR&, std::list<IKVFMFolder*>&) override { return E_NOTIMPL; }
    HRESULT getKVFMFiles(BSTR&, std::list<IKVFMFile*>&) override { return E_NOTIMPL; }
    Listing listing;
};

TEST(FolderListDevice, HandsOutChildrenInListingOrderThenReportsTheEnd) {
    FakeConnector connector;
    connector.listing = {{L"b.txt", L"a.txt", L"c.txt"}, {L"Z", L"Y"}};
    com::UniqueBstr path(L"\\Phone\\Data\\");
    DWORD error = 0;
    {
        CFolderListDevice list(&connector);
        ASSERT_EQ(S_OK, list.GetFolderList(path.Get(), &error));
        EXPECT_EQ(5, g_alive);  // the resolved folder itself is gone
        std::vector<std::wstring> files;
        CFile* file = nullptr;
        while (list.GetNextFile(&file, &error) == S_OK) {
            files.push_back(static_cast<FakeFile*>(file)->name);
            EXPECT_EQ(3u - files.size(), list.GetFileCount());
            delete file;  // handed out: the caller's now
        }
        EXPECT_EQ((std::vector<std::wstring>{L"b.txt", L"a.txt", L"c.txt"}), files);
        CFile* untouched = reinterpret_cast<CFile*>(0x1234);
        EXPECT_EQ(S_FALSE, list.GetNextFile(&untouched, &error));
        EXPECT_EQ(reinterpret_cast<CFile*>(0x1234), untouched);

        CFolder* folder = nullptr;
        ASSERT_EQ(S_OK, list.GetNextFolder(&folder, &error));
        EXPECT_EQ(L"Z", static_cast<FakeFolder*>(folder)->name);
        delete folder;
        EXPECT_EQ(E_INVALIDARG, list.GetNextFolder(nullptr, &error));
        EXPECT_EQ(E_INVALIDARG, list.GetNextFile(&file, nullptr));
    }
    EXPECT_EQ(0, g_alive);  // "Y" was never handed out: the list deleted it
}

TEST(FolderListDevice, FailuresFailTheCallAndKeepNothing) {
    FakeConnector connector;
    connector.listing = {{L"a.txt"}, {L"Sub"}};
    com::UniqueBstr known(L"\\Phone\\Data\\"), unknown(L"\\Phone\\Nowhere\\");
    DWORD error = 0;
    {
        CFolderListDevice list(&connector);
        EXPECT_EQ(E_INVALIDARG, list.GetFolderList(known.Get(), nullptr));
        EXPECT_EQ(E_FAIL, list.GetFolderList(unknown.Get(), &error));
        connector.listing.foldersResult = E_ACCESSDENIED;
        EXPECT_EQ(E_FAIL, list.GetFolderList(known.Get(), &error));
        EXPECT_EQ(0, g_alive);
        connector.listing.foldersResult = S_OK;
        connector.listing.filesResult = E_OUTOFMEMORY;
        EXPECT_EQ(E_FAIL, list.GetFolderList(known.Get(), &error));
        EXPECT_EQ(0u, list.GetFolderCount());
        // A later list replaces what an earlier one left.
        connector.listing.filesResult = S_OK;
        ASSERT_EQ(S_OK, list.GetFolderList(known.Get(), &error));
        ASSERT_EQ(S_OK, list.GetFolderList(known.Get(), &error));
        EXPECT_EQ(2, g_alive);
    }
    EXPECT_EQ(0, g_alive);
    EXPECT_EQ(E_FAIL, CFolderListDevice(nullptr).GetFolderList(known.Get(), &error));
}

} // namespace
