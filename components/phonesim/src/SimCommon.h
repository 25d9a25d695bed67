// Shared definitions of the phone simulator: the results a phone gives, and
// the guard that keeps exceptions inside COM methods.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#include <new>
#include <string>

#include "PhoneSim.h"

namespace phonesim {

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002L);
constexpr HRESULT kPathNotFound = static_cast<HRESULT>(0x80070003L);
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005L);
constexpr HRESULT kInvalidDrive = static_cast<HRESULT>(0x8007000FL);
constexpr HRESULT kDeviceNotReady = static_cast<HRESULT>(0x80070015L);
constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070L);
constexpr HRESULT kInvalidName = static_cast<HRESULT>(0x8007007BL);
constexpr HRESULT kDirNotEmpty = static_cast<HRESULT>(0x80070091L);
constexpr HRESULT kBadPathName = static_cast<HRESULT>(0x800700A1L);
constexpr HRESULT kAlreadyExists = static_cast<HRESULT>(0x800700B7L);
constexpr HRESULT kCancelled = static_cast<HRESULT>(0x800704C7L);
constexpr HRESULT kDisconnected = static_cast<HRESULT>(0x80072745L);

inline HRESULT FromWin32(DWORD error) {
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}
inline HRESULT LastError() { return FromWin32(GetLastError()); }

// Runs a COM method's body; no exception leaves it.
template <class F>
HRESULT Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// A new BSTR for an out-parameter.
inline HRESULT ReturnString(const std::wstring& s, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

inline std::wstring FromBstr(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

// Case-insensitive comparison of names, as the phone's file system does.
inline bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

} // namespace phonesim
