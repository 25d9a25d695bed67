#include "com/ComRegistry.h"
#include "com/ComModule.h"
#include "com/ComUtil.h"

#include <string>

namespace com {
namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

class RegKey {
public:
    ~RegKey() { if (m_key) RegCloseKey(m_key); }
    HKEY Get() const { return m_key; }
    HKEY* Receive() { return &m_key; }
private:
    HKEY m_key = nullptr;
};

// Creates parent\subKey with a default value (when given) and named values.
LONG WriteKey(HKEY parent, const std::wstring& subKey, const wchar_t* defaultValue, RegKey& key) {
    LONG rc = RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                              nullptr, key.Receive(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    if (defaultValue) {
        rc = RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(defaultValue),
                            static_cast<DWORD>((wcslen(defaultValue) + 1) * sizeof(wchar_t)));
    }
    return rc;
}

LONG WriteValue(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LONG WriteSimpleKey(HKEY parent, const std::wstring& subKey, const wchar_t* defaultValue) {
    RegKey key;
    return WriteKey(parent, subKey, defaultValue, key);
}

// A key that is already gone counts as removed.
LONG DeleteTree(HKEY parent, const std::wstring& subKey) {
    LONG rc = RegDeleteTreeW(parent, subKey.c_str());
    if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(parent, subKey.c_str());
    return (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_SUCCESS) ? ERROR_SUCCESS : rc;
}

HRESULT FromWin32(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

HRESULT RegisterAppId(const ServerRegistration& server) {
    const std::wstring appId = GuidText(*server.appId);
    LONG rc = WriteSimpleKey(HKEY_CLASSES_ROOT, L"AppID\\" + appId, server.appIdName);
    if (rc != ERROR_SUCCESS) return FromWin32(rc);
    RegKey key;
    rc = WriteKey(HKEY_CLASSES_ROOT, std::wstring(L"AppID\\") + server.moduleName, nullptr, key);
    if (rc == ERROR_SUCCESS) rc = WriteValue(key.Get(), L"AppID", appId);
    return FromWin32(rc);
}

HRESULT UnregisterAppId(const ServerRegistration& server) {
    LONG rc = DeleteTree(HKEY_CLASSES_ROOT, L"AppID\\" + GuidText(*server.appId));
    if (rc == ERROR_SUCCESS) rc = DeleteTree(HKEY_CLASSES_ROOT, std::wstring(L"AppID\\") + server.moduleName);
    return FromWin32(rc);
}

HRESULT RegisterClass(const ObjectMapEntry& e, const std::wstring& modulePath, const std::wstring& appId,
                      const std::wstring& libId) {
    const std::wstring clsid = GuidText(*e.clsid);
    const std::wstring progId = e.progId;
    const std::wstring versioned = progId + L".1";
    LONG rc = ERROR_SUCCESS;
    auto step = [&rc](LONG r) { if (rc == ERROR_SUCCESS) rc = r; };

    step(WriteSimpleKey(HKEY_CLASSES_ROOT, versioned, e.description));
    step(WriteSimpleKey(HKEY_CLASSES_ROOT, versioned + L"\\CLSID", clsid.c_str()));
    step(WriteSimpleKey(HKEY_CLASSES_ROOT, progId, e.description));
    step(WriteSimpleKey(HKEY_CLASSES_ROOT, progId + L"\\CLSID", clsid.c_str()));
    step(WriteSimpleKey(HKEY_CLASSES_ROOT, progId + L"\\CurVer", versioned.c_str()));

    const std::wstring classKey = L"CLSID\\" + clsid;
    // The class key is replaced whole, so no stale subkeys survive.
    if (rc == ERROR_SUCCESS) step(DeleteTree(HKEY_CLASSES_ROOT, classKey));
    {
        RegKey key;
        step(WriteKey(HKEY_CLASSES_ROOT, classKey, e.description, key));
        if (rc == ERROR_SUCCESS) step(WriteValue(key.Get(), L"AppID", appId));
    }
    step(WriteSimpleKey(HKEY_CLASSES_ROOT, classKey + L"\\ProgID", versioned.c_str()));
    step(WriteSimpleKey(HKEY_CLASSES_ROOT, classKey + L"\\VersionIndependentProgID", progId.c_str()));
    step(WriteSimpleKey(HKEY_CLASSES_ROOT, classKey + L"\\Programmable", nullptr));
    {
        RegKey key;
        step(WriteKey(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", modulePath.c_str(), key));
        if (rc == ERROR_SUCCESS) step(WriteValue(key.Get(), L"ThreadingModel", e.threadingModel));
    }
    step(WriteSimpleKey(HKEY_CLASSES_ROOT, classKey + L"\\TypeLib", libId.c_str()));
    return FromWin32(rc);
}

HRESULT UnregisterClass(const ObjectMapEntry& e) {
    const std::wstring progId = e.progId;
    LONG rc = DeleteTree(HKEY_CLASSES_ROOT, progId + L".1");
    if (rc == ERROR_SUCCESS) rc = DeleteTree(HKEY_CLASSES_ROOT, progId);
    if (rc == ERROR_SUCCESS) rc = DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*e.clsid));
    return FromWin32(rc);
}

} // namespace

HRESULT LoadModuleTypeLib(ITypeLib** out, std::wstring* loadedFrom) {
    const std::wstring path = Module().ModulePath();
    if (path.empty()) return E_FAIL;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, out);
    if (SUCCEEDED(hr)) {
        if (loadedFrom) *loadedFrom = path;
        return hr;
    }
    std::wstring tlb = path;
    size_t dot = tlb.find_last_of(L'.');
    size_t slash = tlb.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) tlb.erase(dot);
    tlb += L".tlb";
    hr = LoadTypeLibEx(tlb.c_str(), REGKIND_NONE, out);
    if (SUCCEEDED(hr) && loadedFrom) *loadedFrom = tlb;
    return hr;
}

HRESULT RegisterServer(const ServerRegistration& server) {
    HRESULT hr = RegisterAppId(server);
    if (FAILED(hr)) return hr;
    const std::wstring modulePath = Module().ModulePath();
    if (modulePath.empty()) return E_FAIL;
    const std::wstring appId = GuidText(*server.appId);
    const std::wstring libId = GuidText(*server.libId);
    for (ObjectMapEntry* e = server.map->begin; e != server.map->end; ++e) {
        hr = RegisterClass(*e, modulePath, appId, libId);
        if (FAILED(hr)) return hr;
    }
    ComPtr<ITypeLib> lib;
    std::wstring from;
    hr = LoadModuleTypeLib(lib.Receive(), &from);
    if (FAILED(hr)) return hr;
    return RegisterTypeLib(lib.Get(), const_cast<LPOLESTR>(from.c_str()), nullptr);
}

HRESULT UnregisterServer(const ServerRegistration& server) {
    for (ObjectMapEntry* e = server.map->begin; e != server.map->end; ++e) {
        HRESULT hr = UnregisterClass(*e);
        if (FAILED(hr)) return hr;
    }
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadModuleTypeLib(lib.Receive(), nullptr);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    // A library that is not registered any more counts as unregistered.
    wchar_t version[32];
    wsprintfW(version, L"\\%x.%x", attr->wMajorVerNum, attr->wMinorVerNum);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + GuidText(attr->guid) + version).c_str(), 0, KEY_READ,
                      &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    }
    lib->ReleaseTLibAttr(attr);
    if (FAILED(hr)) return hr;
    return UnregisterAppId(server);
}

} // namespace com
