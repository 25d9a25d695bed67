// The object map of a server: its creatable classes, their registry content
// and their cached class factories.
#pragma once

#include <windows.h>
#include <ole2.h>

namespace com {

struct ObjectMapEntry {
    const CLSID* clsid;
    HRESULT (*create)(IUnknown* outer, REFIID iid, void** ppv);
    const wchar_t* progId;          // version-independent; "<progId>.1" is the versioned one
    const wchar_t* description;
    const wchar_t* threadingModel;
    IClassFactory* factory;         // created on first request, guarded by the module
};

struct ObjectMap {
    ObjectMapEntry* begin;
    ObjectMapEntry* end;
    bool termRegistered;
};

HRESULT GetClassObject(ObjectMap& map, REFCLSID clsid, REFIID iid, void** ppv);
HRESULT CanUnloadNow();

} // namespace com
