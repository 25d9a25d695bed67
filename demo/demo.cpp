// Morvane demo client: creates the service through COM, as an application
// would, and shows that it answers early- and late-bound.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <cstdio>

#include "Morvane.h"

namespace {

int g_failures = 0;

void Report(const char* what, HRESULT hr) {
    std::printf("  %-58s 0x%08lX %s\n", what, static_cast<unsigned long>(hr), SUCCEEDED(hr) ? "ok" : "FAILED");
    if (FAILED(hr)) ++g_failures;
}

template <class T>
void SafeRelease(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

} // namespace

int wmain() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return 2;
    std::printf("Morvane demo\n");

    CLSID clsid = {};
    hr = CLSIDFromProgID(L"Morvane.KVFileMgmtService", &clsid);
    Report("CLSIDFromProgID(\"Morvane.KVFileMgmtService\")", hr);

    IKVFileMgmtService* service = nullptr;
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKVFileMgmtService,
                              reinterpret_cast<void**>(&service));
        Report("CoCreateInstance(KVFileMgmtService)", hr);
    }
    if (service) {
        IKVFileMgmt* fileMgmt = nullptr;
        hr = service->CreateFileMgmt(&fileMgmt);
        Report("IKVFileMgmtService::CreateFileMgmt", hr);
        if (fileMgmt) {
            IKVFMFolder* folder = nullptr;
            BSTR root = SysAllocString(L"\\");
            HRESULT open = fileMgmt->CreateFMFolder(root, &folder);
            std::printf("  %-58s 0x%08lX (no phone bound yet: expected E_FAIL)\n", "IKVFileMgmt::CreateFMFolder(\"\\\")",
                        static_cast<unsigned long>(open));
            SysFreeString(root);
            SafeRelease(folder);
        }
        SafeRelease(fileMgmt);

        // Late-bound, as a script would call it.
        IDispatch* dispatch = nullptr;
        hr = service->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        Report("QueryInterface(IDispatch)", hr);
        if (dispatch) {
            OLECHAR* name = const_cast<OLECHAR*>(L"CreateFileMgmt");
            DISPID id = 0;
            hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
            Report("IDispatch::GetIDsOfNames(\"CreateFileMgmt\")", hr);
            if (SUCCEEDED(hr)) {
                VARIANT result;
                VariantInit(&result);
                DISPPARAMS none = {nullptr, nullptr, 0, 0};
                hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr,
                                      nullptr);
                Report("IDispatch::Invoke(CreateFileMgmt)", hr);
                if (SUCCEEDED(hr))
                    std::printf("  %-58s VT=%d (a file management object)\n", "  result", result.vt);
                VariantClear(&result);
            }
        }
        SafeRelease(dispatch);

        IKVDeviceInformation* deviceInfo = nullptr;
        hr = service->QueryInterface(IID_IKVDeviceInformation, reinterpret_cast<void**>(&deviceInfo));
        Report("QueryInterface(IKVDeviceInformation)", hr);
        if (deviceInfo) {
            BSTR uid = SysAllocString(L"demo");
            hr = deviceInfo->SetDeviceInformation(nullptr, uid);
            Report("SetDeviceInformation(null): device disconnected", hr);
            SysFreeString(uid);
        }
        SafeRelease(deviceInfo);
    }
    SafeRelease(service);
    CoFreeUnusedLibraries();
    CoUninitialize();
    std::printf(g_failures ? "Morvane demo: %d call(s) failed\n" : "Morvane demo: the service answers\n", g_failures);
    return g_failures ? 1 : 0;
}
