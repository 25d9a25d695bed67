#include "SimPaths.h"

#include <algorithm>
#include <cwctype>

#include "SimCommon.h"

namespace phonesim {

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    if (folder.back() == L'\\' || folder.back() == L'/') return folder + name;
    return folder + L"\\" + name;
}

std::wstring DevicePath(const ItemLocation& at, bool directory) {
    std::wstring path(1, at.drive);
    path += L':';
    if (at.names.empty()) return path;
    for (const auto& n : at.names) path += L"\\" + n;
    if (directory) path += L'\\';
    return path;
}

std::wstring PcPath(const DriveDesc& drive, const ItemLocation& at) {
    std::wstring path = drive.folder;
    for (const auto& n : at.names) path = JoinPath(path, n);
    return path;
}

bool IsValidName(const std::wstring& name) {
    if (name.empty() || name.size() > 255 || name == L"." || name == L"..") return false;
    for (wchar_t ch : name)
        if (ch < 32 || wcschr(L"<>:\"/\\|?*", ch)) return false;
    // Windows drops trailing dots and blanks, so such a name would alias another.
    return name.back() != L'.' && name.back() != L' ';
}

HRESULT ParseDevicePath(const std::wstring& path, wchar_t& drive, std::vector<std::wstring>& names, bool& directory) {
    names.clear();
    directory = false;
    if (path.size() < 2 || path[1] != L':' || !iswalpha(path[0])) return kBadPathName;
    drive = static_cast<wchar_t>(std::towupper(path[0]));
    if (path.size() == 2 || path == std::wstring(path, 0, 2) + L"\\") {
        directory = true;
        return S_OK;
    }
    if (path[2] != L'\\') return kBadPathName;
    size_t pos = 3;
    while (pos < path.size()) {
        size_t next = path.find(L'\\', pos);
        std::wstring name = path.substr(pos, next == std::wstring::npos ? std::wstring::npos : next - pos);
        if (!IsValidName(name)) return kBadPathName;
        names.push_back(name);
        if (next == std::wstring::npos) break;
        if (next + 1 == path.size()) directory = true;
        pos = next + 1;
    }
    return S_OK;
}

HRESULT ResolveNames(const std::wstring& folder, const std::vector<std::wstring>& names, bool wantDirectory,
                     std::vector<std::wstring>& actual, bool& isDirectory) {
    actual.clear();
    isDirectory = true;
    std::wstring current = folder;
    for (size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(JoinPath(current, names[i]).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return last && !wantDirectory ? kFileNotFound : kPathNotFound;
        FindClose(find);
        isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!isDirectory && (!last || wantDirectory)) return kPathNotFound;
        actual.push_back(data.cFileName);
        current = JoinPath(current, data.cFileName);
    }
    return S_OK;
}

HRESULT ListNames(const std::wstring& folder, bool directories, std::vector<std::wstring>& names) {
    names.clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(JoinPath(folder, L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? S_OK : kPathNotFound;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isDirectory == directories) names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        int c = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                     TRUE);
        return c == CSTR_EQUAL ? a < b : c == CSTR_LESS_THAN;
    });
    return S_OK;
}

bool IsEmptyFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(JoinPath(folder, L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") empty = false;
    } while (empty && FindNextFileW(find, &data));
    FindClose(find);
    return empty;
}

uint64_t FolderBytes(const std::wstring& folder) {
    uint64_t total = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(JoinPath(folder, L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            total += FolderBytes(JoinPath(folder, name));
        else
            total += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return total;
}

uint64_t FreeBytes(const DriveDesc& drive) {
    if (!drive.freeComputed) return drive.freeBytes;
    const uint64_t used = FolderBytes(drive.folder);
    return used >= drive.capacity ? 0 : drive.capacity - used;
}

DATE ToDate(const FILETIME& utc) {
    FILETIME local;
    SYSTEMTIME st;
    DATE date = 0.0;
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &st)) SystemTimeToVariantTime(&st, &date);
    return date;
}

std::wstring FullPcPath(const std::wstring& path) {
    if (path.empty()) return std::wstring();
    wchar_t buffer[MAX_PATH * 2];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, buffer, nullptr);
    if (n == 0 || n >= MAX_PATH * 2) return std::wstring();
    return std::wstring(buffer, n);
}

} // namespace phonesim
