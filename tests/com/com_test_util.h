// Helpers for tests that use Morvane.dll through COM.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <map>
#include <string>
#include <vector>

#include "com/ComUtil.h"

namespace comtest {

// Each test runs in a single-threaded apartment, as a client application would.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }
};

inline std::wstring DllWindowsPath() {
    std::wstring p = MORVANE_DLL_PATH;
    for (auto& ch : p) ch = ch == L'/' ? L'\\' : ch;
    return !p.empty() && p[0] == L'\\' ? L"Z:" + p : p;
}

inline std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t ch : s) out += ch < 128 ? static_cast<char>(ch) : '?';
    return out;
}

// regsvr32 /s [/u] on Morvane.dll; returns its exit code.
inline DWORD RunRegsvr32(bool unregister) {
    std::wstring cmd = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + DllWindowsPath() + L"\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = ~0u;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

inline bool KeyExists(HKEY root, const std::wstring& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Adds "key" for every key and "key|name" = text for every value below subKey.
inline void DumpKey(HKEY root, const std::wstring& subKey, std::map<std::wstring, std::wstring>& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    out[subKey];
    wchar_t name[256];
    BYTE data[2048];
    DWORD nameLen = 256, type = 0, size = sizeof(data);
    for (DWORD i = 0; RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &size) == ERROR_SUCCESS;
         ++i, nameLen = 256, size = sizeof(data)) {
        std::wstring text;
        if (type == REG_SZ || type == REG_EXPAND_SZ) text.assign(reinterpret_cast<wchar_t*>(data), size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        out[subKey + L"|" + name] = text;
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0; nameLen = 256, RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i)
        children.push_back(name);
    RegCloseKey(key);
    for (const auto& c : children) DumpKey(root, subKey + L"\\" + c, out);
}

// Morvane.dll loaded by LoadLibrary, its entry points called directly.
class DirectDll {
public:
    DirectDll() : m_module(LoadLibraryW(DllWindowsPath().c_str())) {
        if (!m_module) return;
        m_getClassObject = reinterpret_cast<decltype(m_getClassObject)>(reinterpret_cast<void*>(GetProcAddress(m_module, "DllGetClassObject")));
        m_canUnloadNow = reinterpret_cast<decltype(m_canUnloadNow)>(reinterpret_cast<void*>(GetProcAddress(m_module, "DllCanUnloadNow")));
    }
    ~DirectDll() {
        if (m_module) FreeLibrary(m_module);
    }
    bool Loaded() const { return m_getClassObject && m_canUnloadNow; }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) { return m_getClassObject(clsid, iid, ppv); }
    HRESULT CanUnloadNow() { return m_canUnloadNow(); }

private:
    HMODULE m_module = nullptr;
    HRESULT(WINAPI* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* m_canUnloadNow)() = nullptr;
};

// A controlling unknown for aggregation tests; lives on the stack.
struct Outer : IUnknown {
    LONG refs = 1;
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        *ppv = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
};

} // namespace comtest
