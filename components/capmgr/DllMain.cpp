// Entry points, object map and registration of CapMgr.dll.
#include <windows.h>
#include <ole2.h>

#include <iterator>

#include "CapabilityManager.h"
#include "com/ComClassFactory.h"
#include "com/ComModule.h"
#include "com/ComRegistry.h"

namespace {

// {A351796D-C528-496C-A035-64220B8E18D7}
const GUID kAppId = {0xa351796d, 0xc528, 0x496c, {0xa0, 0x35, 0x64, 0x22, 0x0b, 0x8e, 0x18, 0xd7}};

com::ObjectMapEntry g_entries[] = {
    {&CLSID_CapMgr, &com::CreateComInstance<capmgr::CCapMgr>, L"Morvane.CapMgr", L"Capability Manager", L"Both",
     nullptr},
};

com::ObjectMap g_map = {std::begin(g_entries), std::end(g_entries), false};

const com::ServerRegistration g_registration = {&kAppId, L"Morvane Capability Manager", L"CapMgr.dll",
                                                &LIBID_MorvaneCapMgrLib, &g_map};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        com::Module().SetInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Only on FreeLibrary: at process exit the libraries we hold may be gone.
        com::Module().Term();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() { return com::CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) { return com::GetClassObject(g_map, clsid, iid, ppv); }

STDAPI DllRegisterServer() { return com::RegisterServer(g_registration); }

STDAPI DllUnregisterServer() { return com::UnregisterServer(g_registration); }
