// Morvane demo client: creates the service through COM, as an application
// would, and shows that it answers early- and late-bound.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <cstdio>
#include <string>

#include "Morvane.h"
#include "PhoneSim.h"

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

// A source-tree path as Wine sees it.
std::wstring SourcePath(const wchar_t* relative) {
    std::wstring p = std::wstring(MORVANE_SOURCE_DIR) + L"/" + relative;
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    return L"Z:" + p;
}

// The Device Manager's part: finds the simulated phone and hands it to the service.
void BindToSimulatedPhone(IKVFileMgmtService* service) {
    std::printf("Binding to the simulated phone\n");
    SetEnvironmentVariableW(L"MORVANE_PHONESIM_CONFIG", SourcePath(L"components/phonesim/samples/demo-phone.xml").c_str());
    SetEnvironmentVariableW(L"MORVANE_CAPMGR_CONFIG", SourcePath(L"components/capmgr/samples/browser.xml").c_str());
    const CLSID scom = {0x98c34439, 0x558e, 0x4bde, {0xac, 0x27, 0x25, 0xd5, 0x3a, 0x20, 0x2e, 0x95}};
    IUnknown* unknown = nullptr;
    HRESULT hr = CoCreateInstance(scom, nullptr, 23, IID_IUnknown, reinterpret_cast<void**>(&unknown));
    Report("create the phone connectivity application", hr);
    if (!unknown) return;
    OleRun(unknown);
    ISCApplication* app = nullptr;
    unknown->QueryInterface(IID_ISCApplication, reinterpret_cast<void**>(&app));
    SafeRelease(unknown);
    ISCDevices* devices = nullptr;
    ISCDevice* device = nullptr;
    if (app && SUCCEEDED(app->get_Devices(&devices))) {
        VARIANT first;
        VariantInit(&first);
        first.vt = VT_I4;
        first.lVal = 1;
        hr = devices->get_Item(first, &device);
        Report("first connected phone", hr);
    }
    if (device) {
        BSTR imei = nullptr, model = nullptr;
        device->get_IMEI(&imei);
        device->get_Model(&model);
        std::printf("  %-58s %ls (%ls)\n", "phone", imei ? imei : L"", model ? model : L"");
        SysFreeString(imei);
        SysFreeString(model);
        IKVDeviceInformation* info = nullptr;
        service->QueryInterface(IID_IKVDeviceInformation, reinterpret_cast<void**>(&info));
        if (info) {
            BSTR uid = SysAllocString(L"phone-browser");
            hr = info->SetDeviceInformation(device, uid);
            Report("SetDeviceInformation(phone): device connected", hr);
            hr = info->SetDeviceInformation(device, uid);
            Report("SetDeviceInformation(phone) again: already bound", hr);
            SysFreeString(uid);
        }
        IKVFileMgmt* fileMgmt = nullptr;
        if (SUCCEEDED(service->CreateFileMgmt(&fileMgmt))) {
            IKVFMFolder* folder = nullptr;
            BSTR path = SysAllocString(L"\\Phone\\");
            Report("IKVFileMgmt::CreateFMFolder(\"\\Phone\\\")", fileMgmt->CreateFMFolder(path, &folder));
            SysFreeString(path);
            SafeRelease(folder);
        }
        SafeRelease(fileMgmt);
        if (info) {
            hr = info->SetDeviceInformation(nullptr, nullptr);
            Report("SetDeviceInformation(null): device disconnected", hr);
        }
        SafeRelease(info);
    }
    SafeRelease(device);
    SafeRelease(devices);
    SafeRelease(app);
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
        BindToSimulatedPhone(service);
    }
    SafeRelease(service);
    CoFreeUnusedLibraries();
    CoUninitialize();
    std::printf(g_failures ? "Morvane demo: %d call(s) failed\n" : "Morvane demo: the service answers\n", g_failures);
    return g_failures ? 1 : 0;
}
