// Phone storage through Morvane against the simulated phone itself: listing
// folders of growing size, and copying a large file to the PC. Ratios only.
#include "BenchHarness.h"

#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <list>
#include <string>

#include "PhoneSimKit.h"
#include "com/ComObject.h"
#include "connector/StorageObject.h"
#include "connector/SymbianConnectorImpl.h"
#include "operations/Callbacks.h"
#include "module/FMService.h"

using namespace phonesim::kit;

namespace {

const wchar_t kImei[] = L"353918050000001";
constexpr int kListingSizes[] = {1000, 10000, 100000};
constexpr int64_t kBigFile = 256ll << 20;

// The listing folders are kept in the build folder; make-listing-cache.sh
// writes them natively before the run (under Wine the largest takes most of
// an hour). Written here only when the bench runs without it.
void MakeListingFolder(const std::wstring& drive, int files) {
    const std::wstring folder = drive + L"\\Images\\l" + std::to_wstring(files);
    const std::wstring marker = drive + L"\\complete-" + std::to_wstring(files);
    if (FileExists(marker)) return;
    std::wcerr << L"bench: writing " << files << L" files to " << folder << L" (once)\n";
    CreateDirectoryW((drive + L"\\Images").c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    for (int i = 0; i < files; ++i) WriteFileBytes(folder + L"\\f" + std::to_wstring(i) + L".txt", "x");
    WriteFileBytes(marker, "");
}

void MakeFolders(const std::wstring& path) {
    for (size_t pos = path.find(L'\\', 3);; pos = path.find(L'\\', pos + 1)) {
        CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
        if (pos == std::wstring::npos) break;
    }
}

// Lists a phone folder through SCOM alone, as the simulator serves it.
void ScomListing(ISCDevice* device, int size) {
    com::ComPtr<ISCDeviceStorageDirectory> dir;
    GetItem(device, L"C:\\Images\\l" + std::to_wstring(size) + L"\\", IID_ISCDeviceStorageDirectory,
            dir.ReceiveVoid());
    com::ComPtr<ISCFiles> files;
    dir->get_Files(files.Receive());
    long count = 0;
    files->get_Count(&count);
    long total = 0;
    for (long i = 1; i <= count; ++i) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = i;
        com::ComPtr<ISCDeviceStorageFile> file;
        files->get_Item(v, file.Receive());
        com::UniqueBstr path;
        file->get_Path(path.Receive());
        total += static_cast<long>(path.Length());
    }
    bench::keep(total);
}

void MorvaneListing(SymbianConnector* connector, int size) {
    com::UniqueBstr path((L"\\Phone\\Pictures\\l" + std::to_wstring(size) + L"\\").c_str());
    BSTR b = path.Get();
    CFolder* folder = nullptr;
    if (FAILED(connector->getCFolder(b, &folder))) return;
    std::list<CFile*> files;
    folder->GetCFiles(files);
    long total = static_cast<long>(files.size());
    for (CFile* f : files) delete f;
    delete folder;
    bench::keep(total);
}

// The operation's callbacks, doing nothing.
struct QuietProgress : CProgressCallbackFunctionBase {
    HRESULT Invoke(const wchar_t*, short, short*) override { return S_OK; }
};
struct QuietReplace : CReplaceCallbackFunctionBase {
    HRESULT Invoke(const wchar_t*, DATE, ULONG, DATE, ULONG, long* answer) override {
        if (answer) *answer = 1;
        return S_OK;
    }
};

void MorvaneCopy(SymbianConnector* connector, CAsynchOperationExecutor* executor, const std::wstring& target) {
    com::UniqueBstr path(L"\\Phone\\Pictures\\big.bin");
    BSTR b = path.Get();
    CFile* file = nullptr;
    if (FAILED(connector->getCFile(b, &file))) {
        std::cerr << "bench: the large phone file does not resolve\n";
        return;
    }
    QuietProgress progress;
    QuietReplace replace;
    CCopyFileWaitObject* wait = nullptr;
    const HRESULT hr = file->CopyFileToPC(executor, _bstr_t(target.c_str()), &wait, &progress, &replace);
    if (FAILED(hr)) std::cerr << "bench: the copy did not start: 0x" << std::hex << hr << std::dec << "\n";
    if (SUCCEEDED(hr) && wait) {
        while (!wait->IsSignalled()) Sleep(1);
        bench::keep(wait->GetResult());
        delete wait;
    }
    delete file;
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 3;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        PhoneImage image;
        DeviceSpec phone;
        phone.imei = kImei;
        phone.drives[0].capacity = 1ull << 30;
        phone.drives[0].free = 512ll << 20;
        phone.drives[0].folder = WindowsPath(MORVANE_BENCH_CACHE_DIR) + L"\\listing-phone";
        MakeFolders(phone.drives[0].folder);
        for (int size : kListingSizes) MakeListingFolder(phone.drives[0].folder, size);
        image.AddDevice(phone);
        image.Fill(L'C', {Dir(L"Sounds\\"), Sized(L"Images\\big.bin", kBigFile)});
        image.Activate();
        CapabilityConfig config(WindowsPath(MORVANE_SAMPLES_DIR) + L"\\browser.xml");

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
        SymbianConnector* connector = raw->GetSymbianConnector();
        CAsynchOperationExecutor executor;
        executor.Initialize();
        const std::wstring source = image.PcPath(L"C:\\Images\\big.bin");
        const std::wstring target = image.PcFolder() + L"\\big-copy.bin";

        bench::Harness harness(repetitions);
        for (int size : kListingSizes) {
            bench::Entry entry{"list " + std::to_string(size) + " phone files: getCFolder+GetCFiles vs SCOM enumeration",
                               1, [&device, size](long) { ScomListing(device.Get(), size); },
                               [connector, size](long) { MorvaneListing(connector, size); }};
            entry.goal = 1.1;
            entry.series = "listing";
            entry.size = size;
            entry.warmUp = size < 100000;
            harness.add(entry);
        }
        bench::Entry copy{"256 MB phone->PC: CopyFileToPC+wait vs CopyFileW", 1,
                          [&](long) { CopyFileW(source.c_str(), target.c_str(), FALSE); },
                          [&](long) { MorvaneCopy(connector, &executor, target); }};
        copy.cleanup = [&] { DeleteFileW(target.c_str()); };
        copy.goal = 1.05;
        harness.add(copy);
        harness.run(std::cout);
        // The cache keeps only the listings.
        DeleteFileW(source.c_str());
    }
    CoUninitialize();
    return 0;
}
