// Transfers through the object model, from the call to the completion event,
// against plain file-system copies of the same bytes. Ratios only.
#include "BenchHarness.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <string>

#include "PhoneSimKit.h"
#include "com/ComObject.h"
#include "module/FMService.h"
#include "operations/AsynchOperation.h"

using namespace phonesim::kit;

namespace {

const wchar_t kImei[] = L"353918050000002";
constexpr int64_t kBigFile = 256ll << 20;
constexpr int kTreeFolders = 50;
constexpr int kFilesPerFolder = 20;
constexpr DWORD kHangMs = 600000;

// Waits for the completion event of one transaction; ignores progress.
class CompletionSink final : public IDispatch {
public:
    CompletionSink() : m_done(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~CompletionSink() { CloseHandle(m_done); }

    // The completion's result and transaction id, or -1 when none came in time.
    LONG Wait(LONG* id) {
        if (WaitForSingleObject(m_done, kHangMs) != WAIT_OBJECT_0) return -1;
        *id = m_id.load();
        return m_result.load();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, DIID__IKVFMFolderEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        // Completions carry (result, [object,] transaction id): the id is the
        // first argument in the array, the result the last.
        const bool completion = id == kDispidCopyToPCCompleted || id == kDispidCopyFileFromPCCompleted ||
                                id == kDispidCopyFolderFromPCCompleted;
        if (!completion || !params || params->cArgs < 2) return S_OK;
        if (params->rgvarg[0].vt != VT_I4) return S_OK;
        m_id.store(params->rgvarg[0].lVal);
        m_result.store(static_cast<LONG>(params->rgvarg[params->cArgs - 1].ulVal));
        SetEvent(m_done);
        return S_OK;
    }

private:
    HANDLE m_done;
    std::atomic<LONG> m_id{0};
    std::atomic<LONG> m_result{-1};
};

// Connects the sink to an object's events for as long as it lives.
class Advised {
public:
    Advised(IUnknown* object, IDispatch* sink) {
        com::ComPtr<IConnectionPointContainer> container;
        if (SUCCEEDED(object->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())))
            container->FindConnectionPoint(DIID__IKVFMFolderEvents, m_point.Receive());
        if (m_point) m_point->Advise(sink, &m_cookie);
    }
    ~Advised() {
        if (m_point && m_cookie) m_point->Unadvise(m_cookie);
    }

private:
    com::ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(h, &data));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

void CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((from + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyTree(from + L"\\" + name, to + L"\\" + name);
        else
            CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
    } while (FindNextFileW(h, &data));
    FindClose(h);
}

void MakeTree(const std::wstring& root) {
    CreateDirectoryW(root.c_str(), nullptr);
    for (int d = 0; d < kTreeFolders; ++d) {
        const std::wstring folder = root + L"\\d" + std::to_wstring(d);
        CreateDirectoryW(folder.c_str(), nullptr);
        for (int f = 0; f < kFilesPerFolder; ++f)
            WriteFileBytes(folder + L"\\f" + std::to_wstring(f) + L".txt", std::string(512, 'x'));
    }
}

// Starts one request on object and waits for its completion.
template <class Start>
void RunToCompletion(IUnknown* object, const char* what, Start start) {
    CompletionSink sink;
    Advised advised(object, &sink);
    // One request at a time: the first completion is this one's.
    LONG id = 0;
    HRESULT hr = start(&id);
    if (FAILED(hr)) {
        std::cerr << "bench: " << what << " did not start: 0x" << std::hex << hr << std::dec << "\n";
        return;
    }
    LONG completed = 0;
    const LONG result = sink.Wait(&completed);
    if (completed != id) std::cerr << "bench: " << what << " completed another transaction\n";
    if (result != 0) std::cerr << "bench: " << what << " ended with 0x" << std::hex << result << std::dec << "\n";
    bench::keep(result);
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 3;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        PhoneImage image;
        DeviceSpec phone;
        phone.imei = kImei;
        phone.drives[0].capacity = 4ull << 30;
        // A fixed free space: computing it walks the whole drive at every copy.
        phone.drives[0].free = 2ll << 30;
        image.AddDevice(phone);
        image.Fill(L'C', {Dir(L"Images\\"), Dir(L"Sounds\\"), Sized(L"Images\\big.bin", kBigFile)});
        MakeTree(image.PcPath(L"C:\\Images\\tree"));
        image.Activate();
        CapabilityConfig config(WindowsPath(MORVANE_SAMPLES_DIR) + L"\\browser.xml");

        const std::wstring pc = image.PcFolder() + L"\\pc";
        CreateDirectoryW(pc.c_str(), nullptr);
        const std::wstring pcBig = pc + L"\\in.bin";
        CopyFileW(image.PcPath(L"C:\\Images\\big.bin").c_str(), pcBig.c_str(), FALSE);
        const std::wstring pcTree = pc + L"\\intree";
        MakeTree(pcTree);
        const std::wstring out = pc + L"\\out";
        CreateDirectoryW(out.c_str(), nullptr);

        com::ComPtr<ISCApplication> app;
        com::ComPtr<ISCDevice> device;
        CreateApplication(app.Receive());
        FindDevice(app.Get(), kImei, device.Receive());
        com::ComObject<CFMService>* raw = nullptr;
        if (FAILED(com::ComObject<CFMService>::CreateInstance(&raw))) return 1;
        com::ComPtr<IKVFileMgmtService> service(raw);
        if (BindService(service.Get(), device.Get(), L"phone-browser") != S_OK) {
            std::cerr << "bench: cannot bind the simulated phone\n";
            return 1;
        }
        com::ComPtr<IKVFileMgmt> fm;
        service->CreateFileMgmt(fm.Receive());
        com::ComPtr<IKVFMFolder> pictures;
        com::ComPtr<IKVFMFile> big;
        com::ComPtr<IKVFMFolder> tree;
        com::UniqueBstr picturesPath(L"\\Phone\\Pictures\\"), bigPath(L"\\Phone\\Pictures\\big.bin"),
            treePath(L"\\Phone\\Pictures\\tree\\");
        if (!fm || FAILED(fm->CreateFMFolder(picturesPath.Get(), pictures.Receive())) ||
            FAILED(fm->CreateFMFile(bigPath.Get(), big.Receive())) ||
            FAILED(fm->CreateFMFolder(treePath.Get(), tree.Receive()))) {
            std::cerr << "bench: the phone's items do not resolve\n";
            return 1;
        }
        com::UniqueBstr outBstr(out.c_str()), pcBigBstr(pcBig.c_str()), pcTreeBstr(pcTree.c_str()),
            bigOut(L"big-out.bin"), treeOut(L"tree-out");
        const std::wstring phoneBigIn = image.PcPath(L"C:\\Images\\in.bin");
        const std::wstring phoneTreeIn = image.PcPath(L"C:\\Images\\intree");

        bench::Harness harness(repetitions);
        harness.add({"256 MB PC->phone: CopyFileFromPC to its event vs CopyFileW (time ratio)", 1,
                     [&](long) {
                         const std::wstring t = out + L"\\plain.bin";
                         CopyFileW(pcBig.c_str(), t.c_str(), FALSE);
                         DeleteFileW(t.c_str());
                     },
                     [&](long) {
                         RunToCompletion(pictures.Get(), "CopyFileFromPC", [&](LONG* id) {
                             return pictures->CopyFileFromPC(pcBigBstr.Get(), nullptr, id);
                         });
                         DeleteFileW(phoneBigIn.c_str());
                     }});
        harness.add({"256 MB phone->PC: CopyToPC to its event vs CopyFileW (time ratio)", 1,
                     [&](long) {
                         const std::wstring t = out + L"\\plain.bin";
                         CopyFileW(image.PcPath(L"C:\\Images\\big.bin").c_str(), t.c_str(), FALSE);
                         DeleteFileW(t.c_str());
                     },
                     [&](long) {
                         RunToCompletion(big.Get(), "CopyToPC", [&](LONG* id) {
                             return big->CopyToPC(outBstr.Get(), bigOut.Get(), id);
                         });
                         DeleteFileW((out + L"\\big-out.bin").c_str());
                     }});
        harness.add({"1000 files in 50 folders PC->phone: CopyFolderFromPC vs recursive copy", 1,
                     [&](long) {
                         CopyTree(pcTree, out + L"\\plain");
                         RemoveTree(out + L"\\plain");
                     },
                     [&](long) {
                         RunToCompletion(pictures.Get(), "CopyFolderFromPC", [&](LONG* id) {
                             return pictures->CopyFolderFromPC(pcTreeBstr.Get(), nullptr, id);
                         });
                         RemoveTree(phoneTreeIn);
                     }});
        harness.add({"1000 files in 50 folders phone->PC: CopyToPC vs recursive copy", 1,
                     [&](long) {
                         CopyTree(image.PcPath(L"C:\\Images\\tree"), out + L"\\plain");
                         RemoveTree(out + L"\\plain");
                     },
                     [&](long) {
                         RunToCompletion(tree.Get(), "folder CopyToPC", [&](LONG* id) {
                             return tree->CopyToPC(outBstr.Get(), treeOut.Get(), id);
                         });
                         RemoveTree(out + L"\\tree-out");
                     }});
        harness.run(std::cout);
        RemoveTree(pc);
    }
    CoUninitialize();
    return 0;
}
