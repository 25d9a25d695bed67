#include "objects/PathFunctions.h"

#include <shlwapi.h>

#include <cwchar>

namespace {

bool fitsBuffer(const wchar_t* path) { return wcsnlen(path, kPathBufferChars) < kPathBufferChars; }

bool isDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

} // namespace

bool IsRootPath(const wchar_t* path) {
    if (!path || !fitsBuffer(path)) return false;
    size_t length = wcslen(path);
    size_t end = length;
    while (end > 0 && path[end - 1] == L'\\') --end;
    // Stored paths have lost their trailing backslash: "" is "\" and "C:" is "C:\".
    if (end == 0) return true;
    if (end == 2 && isDriveLetter(path[0]) && path[1] == L':') return true;
    return PathIsRootW(path) != FALSE;
}

HRESULT SplitPath(const wchar_t* path, std::wstring& parent, std::wstring& name) {
    if (!path) return E_INVALIDARG;
    if (!fitsBuffer(path)) return kPathTooLong;
    if (IsRootPath(path)) return E_FAIL;
    std::wstring text(path);
    while (!text.empty() && text.back() == L'\\') text.pop_back();
    const size_t slash = text.rfind(L'\\');
    if (slash == std::wstring::npos) return E_FAIL;
    parent.assign(text, 0, slash + 1);
    name.assign(text, slash + 1, std::wstring::npos);
    return S_OK;
}

HRESULT NormalisePath(const wchar_t* path, std::wstring& normalised) {
    if (!path) return E_INVALIDARG;
    if (!fitsBuffer(path)) return kPathTooLong;
    std::wstring out;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' && !out.empty() && out.back() == L'\\') continue;
        out.push_back(*p);
    }
    normalised.swap(out);
    return S_OK;
}

bool IsValidName(const wchar_t* name) {
    if (!name || !*name || !fitsBuffer(name)) return false;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) return false;
    for (const wchar_t* p = name; *p; ++p) {
        if (*p < 0x20 || *p == 0x7F) return false;
        if (wcschr(L"\\/<>:\"|?*", *p)) return false;
    }
    return true;
}
