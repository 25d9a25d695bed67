// Transfers through the object model, from the call to the completion event,
// against plain file-system copies of the same bytes. Ratios only.
#include "BenchHarness.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "PhoneSimKit.h"
#include "com/ComObject.h"
#include "module/FMService.h"
#include "operations/AsynchOperation.h"

#include <memory>

using namespace phonesim::kit;

namespace {

const wchar_t kImei[] = L"353918050000002";
constexpr int64_t kBigFile = 256ll << 20;
constexpr int kFilesPerFolder = 20;
// Tree sizes of the scaling entries (files, 20 to a folder).
constexpr int kTreeSizes[] = {100, 1000, 5000};
constexpr DWORD kHangMs = 600000;

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

void MakeTree(const std::wstring& root, int files) {
    CreateDirectoryW(root.c_str(), nullptr);
    for (int d = 0; d < files / kFilesPerFolder; ++d) {
        const std::wstring folder = root + L"\\d" + std::to_wstring(d);
        CreateDirectoryW(folder.c_str(), nullptr);
        for (int f = 0; f < kFilesPerFolder; ++f)
            WriteFileBytes(folder + L"\\f" + std::to_wstring(f) + L".txt", std::string(512, 'x'));
    }
}

// Starts one request on object and waits for its completion event.
template <class Start>
void RunToCompletion(IUnknown* object, const char* what, Start start) {
    auto sink = FolderEvents::Create();
    sink->KeepProgress(false);
    const DWORD cookie = sink->Advise(object);
    LONG id = 0;
    HRESULT hr = start(&id);
    if (FAILED(hr)) {
        std::cerr << "bench: " << what << " did not start: 0x" << std::hex << hr << std::dec << "\n";
    } else if (!sink->WaitFor(id, 0, kHangMs)) {
        std::cerr << "bench: " << what << " did not complete\n";
    } else {
        const ULONG result = sink->Completion(id).result;
        if (result != 0) std::cerr << "bench: " << what << " ended with 0x" << std::hex << result << std::dec << "\n";
        bench::keep(static_cast<long>(result));
    }
    // The worker may still hold the sink for a moment: it is reference counted.
    sink->Unadvise(object, cookie);
}

// The simulator driven directly, as a client of SCOM would: one copy after
// another, each waited for through ISCEvents.
class ScomTreeCopy {
public:
    explicit ScomTreeCopy(ISCApplication* app) : m_app(app) {}

    // The PC folder's tree into a new subfolder of parent, files before subfolders.
    void FromPc(ISCDeviceStorageDirectory* parent, const std::wstring& pcFolder) {
        Connected([&] { fromPc(parent, pcFolder); });
    }
    // One device file to a PC path.
    void FileToPc(ISCDeviceStorageFile* file, const std::wstring& pcPath) {
        Connected([&] {
            com::UniqueBstr target(pcPath.c_str());
            long id = 0;
            const HRESULT hr = file->CopyFileToPC(target.Get(), &id);
            wait(hr, id);
        });
    }
    // The device folder's tree into the PC folder (created).
    void ToPc(ISCDeviceStorageDirectory* folder, const std::wstring& pcFolder) {
        Connected([&] { toPc(folder, pcFolder); });
    }

private:
    template <class Body>
    void Connected(Body body) {
        m_events = EventRecorder::Create();
        {
            SinkConnection connection(m_app, static_cast<IDispatch*>(m_events.Get()));
            body();
        }
        m_events.Reset();
    }

    void wait(HRESULT started, long id) {
        if (FAILED(started)) {
            std::cerr << "bench: an SCOM copy did not start: 0x" << std::hex << started << std::dec << "\n";
            return;
        }
        const HRESULT hr = m_events->WaitForCompletion(id, kHangMs);
        if (hr != S_OK) std::cerr << "bench: an SCOM copy ended with 0x" << std::hex << hr << std::dec << "\n";
    }

    void fromPc(ISCDeviceStorageDirectory* parent, const std::wstring& pcFolder) {
        com::UniqueBstr name(pcFolder.substr(pcFolder.find_last_of(L'\\') + 1).c_str());
        com::ComPtr<ISCDeviceStorageDirectory> folder;
        if (FAILED(parent->CreateSubdirectory(name.Get(), folder.Receive())) || !folder) {
            std::cerr << "bench: cannot create a device folder\n";
            return;
        }
        std::vector<std::wstring> subfolders;
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW((pcFolder + L"\\*").c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return;
        do {
            const std::wstring entry = data.cFileName;
            if (entry == L"." || entry == L"..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                subfolders.push_back(pcFolder + L"\\" + entry);
                continue;
            }
            com::UniqueBstr path((pcFolder + L"\\" + entry).c_str());
            long id = 0;
            // Read id only after the call: argument order is unspecified.
            const HRESULT hr = folder->CopyFileFromPC(path.Get(), &id);
            wait(hr, id);
        } while (FindNextFileW(h, &data));
        FindClose(h);
        for (const auto& sub : subfolders) fromPc(folder.Get(), sub);
    }

    void toPc(ISCDeviceStorageDirectory* folder, const std::wstring& pcFolder) {
        CreateDirectoryW(pcFolder.c_str(), nullptr);
        com::UniqueBstr target((pcFolder + L"\\").c_str());
        com::ComPtr<ISCFiles> files;
        long count = 0;
        if (SUCCEEDED(folder->get_Files(files.Receive())) && files) files->get_Count(&count);
        for (long i = 1; i <= count; ++i) {
            com::ComPtr<ISCDeviceStorageFile> file;
            if (FAILED(files->get_Item(Index(i), file.Receive())) || !file) continue;
            long id = 0;
            const HRESULT hr = file->CopyFileToPC(target.Get(), &id);
            wait(hr, id);
        }
        com::ComPtr<ISCDirectories> folders;
        count = 0;
        if (SUCCEEDED(folder->get_Subdirectories(folders.Receive())) && folders) folders->get_Count(&count);
        for (long i = 1; i <= count; ++i) {
            com::ComPtr<ISCDeviceStorageDirectory> sub;
            com::UniqueBstr name;
            if (FAILED(folders->get_Item(Index(i), sub.Receive())) || !sub || FAILED(sub->get_Name(name.Receive())))
                continue;
            toPc(sub.Get(), pcFolder + L"\\" + name.c_str());
        }
    }

    static VARIANT Index(long i) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = i;
        return v;
    }

    ISCApplication* m_app;
    com::ComPtr<EventRecorder> m_events;
};

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 3;
    // The multithreaded apartment: events reach the sinks directly, so the
    // entries time the transfers, not the marshalling of their events into
    // a single-threaded apartment (which the simulator's sinks would also
    // wait on, as the kit's recorder pumps no messages).
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        PhoneImage image;
        DeviceSpec phone;
        phone.imei = kImei;
        phone.drives[0].capacity = 4ull << 30;
        // A fixed free space: computing it walks the whole drive at every copy.
        phone.drives[0].free = 2ll << 30;
        image.AddDevice(phone);
        image.Fill(L'C', {Dir(L"Images\\"), Dir(L"Sounds\\"), Sized(L"Images\\big.bin", kBigFile)});
        const std::wstring pc = image.PcFolder() + L"\\pc";
        CreateDirectoryW(pc.c_str(), nullptr);
        for (int size : kTreeSizes) {
            MakeTree(image.PcPath(L"C:\\Images\\tree" + std::to_wstring(size)), size);
            MakeTree(pc + L"\\intree" + std::to_wstring(size), size);
        }
        image.Activate();
        CapabilityConfig config(WindowsPath(MORVANE_SAMPLES_DIR) + L"\\browser.xml");

        const std::wstring pcBig = pc + L"\\in.bin";
        CopyFileW(image.PcPath(L"C:\\Images\\big.bin").c_str(), pcBig.c_str(), FALSE);
        const std::wstring out = pc + L"\\out";
        CreateDirectoryW(out.c_str(), nullptr);

        com::ComPtr<ISCApplication> app;
        com::ComPtr<ISCDevice> device;
        CreateApplication(app.Receive());
        FindDevice(app.Get(), kImei, device.Receive());
        com::ComPtr<ISCDeviceStorageDirectory> scomImages;
        GetItem(device.Get(), L"C:\\Images\\", IID_ISCDeviceStorageDirectory, scomImages.ReceiveVoid());
        com::ComPtr<ISCDeviceStorageFile> scomBig;
        GetItem(device.Get(), L"C:\\Images\\big.bin", IID_ISCDeviceStorageFile, scomBig.ReceiveVoid());
        com::ComObject<CFMService>* raw = nullptr;
        if (!scomImages || !scomBig || FAILED(com::ComObject<CFMService>::CreateInstance(&raw))) return 1;
        com::ComPtr<IKVFileMgmtService> service(raw);
        if (BindService(service.Get(), device.Get(), L"phone-browser") != S_OK) {
            std::cerr << "bench: cannot bind the simulated phone\n";
            return 1;
        }
        com::ComPtr<IKVFileMgmt> fm;
        service->CreateFileMgmt(fm.Receive());
        com::ComPtr<IKVFMFolder> pictures;
        com::ComPtr<IKVFMFile> big;
        com::UniqueBstr picturesPath(L"\\Phone\\Pictures\\"), bigPath(L"\\Phone\\Pictures\\big.bin");
        if (!fm || FAILED(fm->CreateFMFolder(picturesPath.Get(), pictures.Receive())) ||
            FAILED(fm->CreateFMFile(bigPath.Get(), big.Receive()))) {
            std::cerr << "bench: the phone's items do not resolve\n";
            return 1;
        }
        std::vector<com::ComPtr<IKVFMFolder>> trees;
        std::vector<com::ComPtr<ISCDeviceStorageDirectory>> scomTrees;
        for (int size : kTreeSizes) {
            com::UniqueBstr path((L"\\Phone\\Pictures\\tree" + std::to_wstring(size) + L"\\").c_str());
            com::ComPtr<IKVFMFolder> tree;
            com::ComPtr<ISCDeviceStorageDirectory> scomTree;
            GetItem(device.Get(), L"C:\\Images\\tree" + std::to_wstring(size) + L"\\", IID_ISCDeviceStorageDirectory,
                    scomTree.ReceiveVoid());
            if (FAILED(fm->CreateFMFolder(path.Get(), tree.Receive())) || !scomTree) {
                std::cerr << "bench: the phone's trees do not resolve\n";
                return 1;
            }
            trees.push_back(tree);
            scomTrees.push_back(scomTree);
        }
        com::UniqueBstr outBstr(out.c_str()), pcBigBstr(pcBig.c_str()), bigOut(L"big-out.bin"), treeOut(L"tree-out");
        const std::wstring phoneBigIn = image.PcPath(L"C:\\Images\\in.bin");
        ScomTreeCopy scom(app.Get());

        bench::Harness harness(repetitions);
        bench::Entry entry;
        const std::wstring plainBig = out + L"\\plain.bin";
        entry = {"256 MB PC->phone: CopyFileFromPC to its event vs CopyFileW", 1,
                 [&](long) { CopyFileW(pcBig.c_str(), plainBig.c_str(), FALSE); },
                 [&](long) {
                     RunToCompletion(pictures.Get(), "CopyFileFromPC", [&](LONG* id) {
                         return pictures->CopyFileFromPC(pcBigBstr.Get(), nullptr, id);
                     });
                 }};
        entry.cleanup = [&] {
            DeleteFileW(plainBig.c_str());
            DeleteFileW(phoneBigIn.c_str());
        };
        entry.goal = 1.05;
        harness.add(entry);
        entry = {"256 MB phone->PC: CopyToPC to its event vs CopyFileW", 1,
                 [&](long) { CopyFileW(image.PcPath(L"C:\\Images\\big.bin").c_str(), plainBig.c_str(), FALSE); },
                 [&](long) {
                     RunToCompletion(big.Get(), "CopyToPC", [&](LONG* id) {
                         return big->CopyToPC(outBstr.Get(), bigOut.Get(), id);
                     });
                 }};
        entry.cleanup = [&] {
            DeleteFileW(plainBig.c_str());
            DeleteFileW((out + L"\\big-out.bin").c_str());
        };
        entry.goal = 1.05;
        harness.add(entry);

        // The simulator alone: the floor under the two entries above.
        entry = {"simulator: 256 MB phone->PC by an SCOM call vs CopyFileW", 1,
                 [&](long) { CopyFileW(image.PcPath(L"C:\\Images\\big.bin").c_str(), plainBig.c_str(), FALSE); },
                 [&](long) { scom.FileToPc(scomBig.Get(), out + L"\\scom-big.bin"); }};
        entry.cleanup = [&] {
            DeleteFileW(plainBig.c_str());
            DeleteFileW((out + L"\\scom-big.bin").c_str());
        };
        harness.add(entry);

        // The simulator's own cost per file, against the file system's.
        const std::wstring pcTree1000 = pc + L"\\intree1000";
        const std::wstring phoneTree1000 = image.PcPath(L"C:\\Images\\tree1000");
        entry = {"simulator: 1000-file tree PC->phone by SCOM calls vs recursive copy", 1,
                 [&](long) { CopyTree(pcTree1000, out + L"\\plain"); },
                 [&](long) { scom.FromPc(scomImages.Get(), pcTree1000); }};
        entry.cleanup = [&] {
            RemoveTree(out + L"\\plain");
            RemoveTree(image.PcPath(L"C:\\Images\\intree1000"));
        };
        entry.goal = 2.0;
        harness.add(entry);
        entry = {"simulator: 1000-file tree phone->PC by SCOM calls vs recursive copy", 1,
                 [&](long) { CopyTree(phoneTree1000, out + L"\\plain"); },
                 [&](long) { scom.ToPc(scomTrees[1].Get(), out + L"\\scom"); }};
        entry.cleanup = [&] {
            RemoveTree(out + L"\\plain");
            RemoveTree(out + L"\\scom");
        };
        entry.goal = 2.0;
        harness.add(entry);

        // Morvane's share of a tree copy, at three sizes: flat ratios mean no
        // step grows faster than the copies themselves.
        for (size_t i = 0; i < trees.size(); ++i) {
            const int size = kTreeSizes[i];
            const std::wstring suffix = std::to_wstring(size);
            const std::wstring pcTree = pc + L"\\intree" + suffix;
            const std::wstring phoneIn = image.PcPath(L"C:\\Images\\intree" + suffix);
            auto pcTreeBstr = std::make_shared<com::UniqueBstr>(pcTree.c_str());
            entry = {std::to_string(size) + "-file tree PC->phone: CopyFolderFromPC vs SCOM calls", 1,
                     [&, pcTree](long) { scom.FromPc(scomImages.Get(), pcTree); },
                     [&, pcTreeBstr](long) {
                         RunToCompletion(pictures.Get(), "CopyFolderFromPC", [&](LONG* id) {
                             return pictures->CopyFolderFromPC(pcTreeBstr->Get(), nullptr, id);
                         });
                     }};
            entry.cleanup = [phoneIn] { RemoveTree(phoneIn); };
            entry.goal = 1.25;
            entry.series = "tree copy PC->phone";
            entry.size = size;
            entry.warmUp = size < 5000;
            harness.add(entry);
        }
        for (size_t i = 0; i < trees.size(); ++i) {
            const int size = kTreeSizes[i];
            entry = {std::to_string(size) + "-file tree phone->PC: folder CopyToPC vs SCOM calls", 1,
                     [&, i](long) { scom.ToPc(scomTrees[i].Get(), out + L"\\tree-out"); },
                     [&, i](long) {
                         RunToCompletion(trees[i].Get(), "folder CopyToPC", [&](LONG* id) {
                             return trees[i]->CopyToPC(outBstr.Get(), treeOut.Get(), id);
                         });
                     }};
            entry.cleanup = [&] { RemoveTree(out + L"\\tree-out"); };
            entry.goal = 1.25;
            entry.series = "tree copy phone->PC";
            entry.size = size;
            entry.warmUp = size < 5000;
            harness.add(entry);
        }
        harness.run(std::cout);
        RemoveTree(pc);
    }
    CoUninitialize();
    return 0;
}
