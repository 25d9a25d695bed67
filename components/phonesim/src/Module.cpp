// Entry points, class table and registration of PhoneSim.dll.
#include <windows.h>
#include <ole2.h>

#include "SimCopy.h"
#include "SimObjects.h"
#include "com/ComClassFactory.h"
#include "com/ComModule.h"
#include "com/ComRegistry.h"

namespace {

// {AC6BC7BA-B3C1-4544-B0A4-00E6D57D877A}
const GUID APPID_PhoneSim = {0xac6bc7ba, 0xb3c1, 0x4544, {0xb0, 0xa4, 0x00, 0xe6, 0xd5, 0x7d, 0x87, 0x7a}};

com::ObjectMapEntry g_entries[] = {
    {&CLSID_PhoneSimApplication, &com::CreateComInstance<phonesim::CSimApplication>, L"PhoneSim.Application",
     L"Phone simulator application", L"Both", nullptr},
    {&CLSID_PhoneSimControl, &com::CreateComInstance<phonesim::CSimControl>, L"PhoneSim.Control",
     L"Phone simulator control", L"Both", nullptr},
};

com::ObjectMap g_map = {std::begin(g_entries), std::end(g_entries), false};

const com::ServerRegistration g_registration = {&APPID_PhoneSim, L"PhoneSim", L"PhoneSim.dll", &LIBID_PhoneSimLib,
                                                &g_map};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        com::Module().SetInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Only on FreeLibrary: at process exit the libraries we hold may be gone.
        phonesim::TermCopies();
        com::Module().Term();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() { return com::CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
    return com::GetClassObject(g_map, clsid, iid, ppv);
}

STDAPI DllRegisterServer() { return com::RegisterServer(g_registration); }

STDAPI DllUnregisterServer() { return com::UnregisterServer(g_registration); }
