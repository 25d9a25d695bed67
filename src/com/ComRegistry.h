// Self-registration from the object map: the AppID keys, one set of keys per
// class, and the type library embedded in the module.
#pragma once

#include <windows.h>
#include <string>
#include "com/ComClassFactory.h"

namespace com {

struct ServerRegistration {
    const GUID* appId;
    const wchar_t* appIdName;       // default value of HKCR\AppID\{appid}
    const wchar_t* moduleName;      // HKCR\AppID\<moduleName> names the AppID
    const GUID* libId;
    ObjectMap* map;
};

HRESULT RegisterServer(const ServerRegistration& server);
HRESULT UnregisterServer(const ServerRegistration& server);

// Type library stored in the module as resource 1; when that does not load,
// the file beside the module with the extension ".tlb".
HRESULT LoadModuleTypeLib(ITypeLib** out, std::wstring* loadedFrom);

} // namespace com
