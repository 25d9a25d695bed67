#include "com_test_util.h"

#include <vector>

namespace comtest {

std::wstring DllWindowsPath() {
    std::wstring p = MORVANE_DLL_PATH;
    for (auto& ch : p)
        if (ch == L'/') ch = L'\\';
    if (!p.empty() && p[0] == L'\\') p = L"Z:" + p;
    return p;
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t ch : s) out += ch < 128 ? static_cast<char>(ch) : '?';
    return out;
}

DWORD RunRegsvr32(bool unregister) {
    std::wstring cmd = L"regsvr32.exe /s ";
    if (unregister) cmd += L"/u ";
    cmd += L"\"" + DllWindowsPath() + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = ~0u;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

bool KeyExists(HKEY root, const std::wstring& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void DumpKey(HKEY root, const std::wstring& subKey, std::map<std::wstring, std::wstring>& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    out[subKey];
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256, type = 0, size = 0;
        BYTE data[2048];
        size = sizeof(data);
        if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        std::wstring text;
        if (type == REG_SZ || type == REG_EXPAND_SZ) text.assign(reinterpret_cast<wchar_t*>(data), size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        out[subKey + L"|" + name] = text;
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256;
        if (RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const auto& c : children) DumpKey(root, subKey + L"\\" + c, out);
}

DirectDll::DirectDll() {
    m_module = LoadLibraryW(DllWindowsPath().c_str());
    if (!m_module) return;
    m_getClassObject = reinterpret_cast<decltype(m_getClassObject)>(GetProcAddress(m_module, "DllGetClassObject"));
    m_canUnloadNow = reinterpret_cast<decltype(m_canUnloadNow)>(GetProcAddress(m_module, "DllCanUnloadNow"));
}

DirectDll::~DirectDll() {
    if (m_module) FreeLibrary(m_module);
}

} // namespace comtest
