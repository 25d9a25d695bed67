// A minimal early-bound Morvane client: binds the service to a phone (here
// the phone simulator plays the Device Manager), lists a folder, copies a file
// to the PC with progress, and reads the same file through IStream.
//
//   browse.exe UID FOLDER FILE PCFOLDER [PHONE.xml CONFIG.xml]
//   browse.exe phone-browser \Phone\Pictures\ \Phone\Pictures\harbour.jpg C:\temp
//
// The last two arguments, for trying it with the simulator, name its phone
// description and the folder configuration (else the environment decides).
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "KVDeviceInformation.h"
#include "KVFileMgmt.h"
#include "Morvane.h"
#include "PhoneSim.h"

namespace {

// Prints a failed step and tells the caller to stop.
bool failed(HRESULT hr, const char* step) {
    if (SUCCEEDED(hr)) return false;
    std::fprintf(stderr, "browse: %s failed: 0x%08lX\n", step, static_cast<unsigned long>(hr));
    return true;
}

// Receives _IKVFMFolderEvents: prints progress, remembers the copy's result.
class CopySink final : public IDispatch {
public:
    LONG transactionId = 0;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ULONG result = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__IKVFMFolderEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = InterlockedDecrement(&m_refs);
        if (!left) {
            CloseHandle(done);
            delete this;
        }
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    // Events arrive on Morvane's worker thread or a copy's thread.
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        // Arguments come last first.
        if (id == 42 && p->cArgs == 3)  // Progress(percent, transactionId, cancel)
            std::printf("progress %d%%\n", p->rgvarg[2].iVal);
        if (id == 3 && p->cArgs == 2 && p->rgvarg[0].lVal == transactionId) {  // CopyToPCCompleted
            result = p->rgvarg[1].ulVal;
            SetEvent(done);
        }
        return S_OK;
    }

private:
    LONG m_refs = 1;
};

// A single-threaded client keeps pumping while it waits for its events.
bool waitPumping(HANDLE event) {
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, 60000, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

int run(int argc, wchar_t** argv) {
    if (argc != 5 && argc != 7) {
        std::fprintf(stderr, "usage: browse UID FOLDER FILE PCFOLDER [PHONE.xml CONFIG.xml]\n");
        return 2;
    }
    if (argc == 7) {
        SetEnvironmentVariableW(L"MORVANE_PHONESIM_CONFIG", argv[5]);
        SetEnvironmentVariableW(L"MORVANE_CAPMGR_CONFIG", argv[6]);
    }
    BSTR uid = SysAllocString(argv[1]), folderPath = SysAllocString(argv[2]);
    BSTR filePath = SysAllocString(argv[3]), pcFolder = SysAllocString(argv[4]);

    IKVFileMgmtService* service = nullptr;
    IPhoneSimControl* deviceManager = nullptr;
    IKVFileMgmt* fm = nullptr;
    IKVFMFolder* folder = nullptr;
    IKVFMObjects* objects = nullptr;
    IKVFMFile* file = nullptr;
    IUnknown* streamUnknown = nullptr;
    IStream* stream = nullptr;
    int status = 1;
    do {
        if (failed(CoCreateInstance(CLSID_KVFileMgmtService, nullptr, CLSCTX_INPROC_SERVER, IID_IKVFileMgmtService,
                                    reinterpret_cast<void**>(&service)), "creating the service")) break;
        if (failed(CoCreateInstance(CLSID_PhoneSimControl, nullptr, CLSCTX_INPROC_SERVER, IID_IPhoneSimControl,
                                    reinterpret_cast<void**>(&deviceManager)), "creating the simulator")) break;
        if (failed(deviceManager->BindService(service, uid), "binding the phone")) break;
        if (failed(service->CreateFileMgmt(&fm), "CreateFileMgmt")) break;

        // 1. A folder's contents.
        if (failed(fm->CreateFMFolder(folderPath, &folder), "CreateFMFolder")) break;
        if (failed(folder->get_Objects(&objects), "Objects")) break;
        LONG count = 0;
        objects->get_Count(&count);
        std::printf("%ls holds %ld objects\n", folderPath, count);
        for (LONG i = 1; i <= count; ++i) {
            VARIANT key;
            VariantInit(&key);
            key.vt = VT_I4;
            key.lVal = i;  // positions count from 1
            IKVFMObject* item = nullptr;
            if (failed(objects->get_Item(key, &item), "Item")) break;
            BSTR name = nullptr;
            LONG kind = 0;
            item->get_Name(&name);
            item->get_Type(&kind);
            std::printf("  %s %ls\n", kind == 1 ? "file  " : "folder", name);
            SysFreeString(name);
            item->Release();
        }

        // 2. A file copied to the PC, followed through its events.
        if (failed(fm->CreateFMFile(filePath, &file), "CreateFMFile")) break;
        IConnectionPointContainer* container = nullptr;
        IConnectionPoint* point = nullptr;
        if (failed(file->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)),
                   "IConnectionPointContainer")) break;
        HRESULT hr = container->FindConnectionPoint(DIID__IKVFMFolderEvents, &point);
        container->Release();
        if (failed(hr, "FindConnectionPoint")) break;
        CopySink* sink = new CopySink();
        DWORD cookie = 0;
        hr = point->Advise(sink, &cookie);
        if (SUCCEEDED(hr)) hr = file->CopyToPC(pcFolder, nullptr, &sink->transactionId);
        const bool answered = SUCCEEDED(hr) && waitPumping(sink->done);
        const ULONG result = sink->result;
        if (cookie) point->Unadvise(cookie);
        point->Release();
        sink->Release();
        if (failed(hr, "CopyToPC")) break;
        if (!answered) {
            std::fprintf(stderr, "browse: no completion event\n");
            break;
        }
        std::printf("copied to %ls: result 0x%08lX\n", pcFolder, result);
        if (result != 0) break;

        // 3. The same file read through IStream.
        LONG size = 0;
        file->get_Size(&size);
        if (failed(file->get_IStream(&streamUnknown), "IStream")) break;
        if (failed(streamUnknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream)), "IStream"))
            break;
        char buffer[4096];
        ULONG got = 0, total = 0;
        while (SUCCEEDED(hr = stream->Read(buffer, sizeof buffer, &got)) && got > 0) total += got;
        if (failed(hr, "Read")) break;
        std::printf("read %lu of %ld bytes through IStream\n", total, size);
        if (static_cast<LONG>(total) != size) break;
        std::printf("browse: done\n");
        status = 0;
    } while (false);

    if (stream) stream->Release();
    if (streamUnknown) streamUnknown->Release();
    if (file) file->Release();
    if (objects) objects->Release();
    if (folder) folder->Release();
    if (fm) fm->Release();
    if (deviceManager) {
        if (service) deviceManager->UnbindService(service);
        deviceManager->Release();
    }
    if (service) service->Release();
    SysFreeString(uid);
    SysFreeString(folderPath);
    SysFreeString(filePath);
    SysFreeString(pcFolder);
    return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const int status = run(argc, argv);
    CoUninitialize();
    return status;
}
