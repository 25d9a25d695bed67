// Entry points of Morvane.dll.
#include <windows.h>
#include <ole2.h>

#include "com/ComModule.h"
#include "module/MorvaneModule.h"

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

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
    return com::GetClassObject(morvane::ObjectMap(), clsid, iid, ppv);
}

STDAPI DllRegisterServer() { return com::RegisterServer(morvane::Registration()); }

STDAPI DllUnregisterServer() { return com::UnregisterServer(morvane::Registration()); }
