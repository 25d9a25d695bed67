// A large phone file read as a stream through the object model: how soon the
// first bytes come against the whole copy, the copy behind the stream against
// the same copy through CopyToPC, and reading it through against a plain copy
// of the same bytes. Ratios only.
#include "BenchHarness.h"

#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "PhoneSimKit.h"
#include "com/ComObject.h"
#include "module/FMService.h"

using namespace phonesim::kit;

namespace {

const wchar_t kImei[] = L"353918050000003";
constexpr int64_t kBigFile = 256ll << 20;
constexpr ULONG kFirstBytes = 64u << 10;
constexpr ULONG kReadSize = 1u << 20;
constexpr DWORD kHangMs = 600000;

com::ComPtr<IStream> OpenStream(IKVFMFile* file) {
    com::ComPtr<IUnknown> unknown;
    com::ComPtr<IStream> stream;
    if (FAILED(file->get_IStream(unknown.Receive())) || !unknown ||
        FAILED(unknown->QueryInterface(IID_IStream, stream.ReceiveVoid()))) {
        std::cerr << "bench: no stream on the phone file\n";
    }
    return stream;
}

// Reads count bytes at the stream's position; the bytes read.
ULONG ReadSome(IStream* stream, std::vector<char>& buffer, ULONG count) {
    ULONG read = 0;
    const HRESULT hr = stream->Read(buffer.data(), count, &read);
    if (FAILED(hr)) std::cerr << "bench: read failed: 0x" << std::hex << hr << std::dec << "\n";
    return read;
}

// Reads the first byte, then the last: the second read waits for the whole
// image. The stream is the caller's: releasing it deletes the image.
com::ComPtr<IStream> ReadToImageEnd(IKVFMFile* file, std::vector<char>& buffer) {
    auto stream = OpenStream(file);
    if (!stream) return stream;
    ReadSome(stream.Get(), buffer, 1);
    LARGE_INTEGER last;
    last.QuadPart = kBigFile - 1;
    stream->Seek(last, STREAM_SEEK_SET, nullptr);
    bench::keep(static_cast<long>(ReadSome(stream.Get(), buffer, 1)));
    return stream;
}

// What every stream's first read pays before any byte moves: a thread of its
// own, started and seen to have its message queue.
DWORD WINAPI QueueThread(void* ready) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(static_cast<HANDLE>(ready));
    return 0;
}

void StartQueueThread() {
    com::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    com::UniqueHandle thread(CreateThread(nullptr, 0, &QueueThread, ready.Get(), 0, nullptr));
    if (!thread) return;
    WaitForSingleObject(ready.Get(), INFINITE);
    WaitForSingleObject(thread.Get(), INFINITE);
}

// Until the simulator runs no copy and every stream's copy object is gone
// (their temporary folders go first).
void WaitQuiet(IPhoneSimControl* control, LONG lockBaseline) {
    const ULONGLONG deadline = GetTickCount64() + kHangMs;
    for (;;) {
        long active = 0;
        control->get_ActiveCopies(&active);
        if (active == 0 && com::Module().LockCount() == lockBaseline) return;
        if (GetTickCount64() >= deadline) {
            std::cerr << "bench: a stream's copy did not end\n";
            return;
        }
        Sleep(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 3;
    // As in the transfer benchmark: the CopyToPC baseline's events reach its
    // sink directly, not marshalled into a single-threaded apartment.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        PhoneImage image;
        DeviceSpec phone;
        phone.imei = kImei;
        phone.drives[0].capacity = 4ull << 30;
        image.AddDevice(phone);
        image.Fill(L'C', {Dir(L"Images\\"), Sized(L"Images\\big.bin", kBigFile)});
        image.Activate();
        CapabilityConfig config(WindowsPath(MORVANE_SAMPLES_DIR) + L"\\browser.xml");
        const std::wstring phoneBig = image.PcPath(L"C:\\Images\\big.bin");
        const std::wstring plain = image.PcFolder() + L"\\plain.bin";

        com::ComPtr<ISCApplication> app;
        com::ComPtr<ISCDevice> device;
        com::ComPtr<IPhoneSimControl> control;
        CreateApplication(app.Receive());
        FindDevice(app.Get(), kImei, device.Receive());
        GetControl(app.Get(), control.Receive());
        com::ComObject<CFMService>* raw = nullptr;
        if (!control || FAILED(com::ComObject<CFMService>::CreateInstance(&raw))) return 1;
        com::ComPtr<IKVFileMgmtService> service(raw);
        if (BindService(service.Get(), device.Get(), L"phone-browser") != S_OK) {
            std::cerr << "bench: cannot bind the simulated phone\n";
            return 1;
        }
        com::ComPtr<IKVFileMgmt> fm;
        service->CreateFileMgmt(fm.Receive());
        com::ComPtr<IKVFMFile> big;
        com::UniqueBstr bigPath(L"\\Phone\\Pictures\\big.bin");
        if (!fm || FAILED(fm->CreateFMFile(bigPath.Get(), big.Receive()))) {
            std::cerr << "bench: the phone's file does not resolve\n";
            return 1;
        }
        const LONG quiet = com::Module().LockCount();
        std::vector<char> buffer(kReadSize);

        const std::wstring out = image.PcFolder() + L"\\out";
        CreateDirectoryW(out.c_str(), nullptr);
        com::UniqueBstr outBstr(out.c_str()), bigOut(L"big-out.bin");

        bench::Harness harness(repetitions);
        // Between timed calls, untimed: every stream's copy and image gone,
        // every copy's target deleted.
        // The stream a timed call read, released untimed: its image goes with it.
        com::ComPtr<IStream> held;
        auto settle = [&] {
            held.Reset();
            WaitQuiet(control.Get(), quiet);
            DeleteFileW((out + L"\\big-out.bin").c_str());
            DeleteFileW(plain.c_str());
        };
        bench::Entry entry{"256 MB stream: first 64 KiB vs the whole copy", 1,
                           [&](long) { held = ReadToImageEnd(big.Get(), buffer); },
                           [&](long) {
                               held = OpenStream(big.Get());
                               if (!held) return;
                               bench::keep(static_cast<long>(ReadSome(held.Get(), buffer, kFirstBytes)));
                           }};
        entry.cleanup = settle;
        entry.goal = 0.005;
        harness.add(entry);
        // The floor under the entry above, on this machine.
        entry = {"Wine: a thread started, with its message queue, vs the whole copy", 1,
                 [&](long) { held = ReadToImageEnd(big.Get(), buffer); }, [](long) { StartQueueThread(); }};
        entry.cleanup = settle;
        harness.add(entry);
        entry = {"256 MB stream: copy to the image's end vs CopyToPC to its event", 1,
                 [&](long) {
                     auto sink = FolderEvents::Create();
                     sink->KeepProgress(false);
                     const DWORD cookie = sink->Advise(big.Get());
                     LONG id = 0;
                     if (SUCCEEDED(big->CopyToPC(outBstr.Get(), bigOut.Get(), &id)) &&
                         !sink->WaitFor(id, 0, kHangMs))
                         std::cerr << "bench: CopyToPC did not complete\n";
                     sink->Unadvise(big.Get(), cookie);
                 },
                 [&](long) { held = ReadToImageEnd(big.Get(), buffer); }};
        entry.cleanup = settle;
        entry.goal = 1.1;
        harness.add(entry);
        entry = {"256 MB stream read through in 1 MiB reads vs CopyFileW", 1,
                 [&](long) { CopyFileW(phoneBig.c_str(), plain.c_str(), FALSE); },
                 [&](long) {
                     held = OpenStream(big.Get());
                     if (!held) return;
                     int64_t total = 0;
                     while (ULONG n = ReadSome(held.Get(), buffer, kReadSize)) total += n;
                     if (total != kBigFile) std::cerr << "bench: read " << total << " bytes\n";
                 }};
        entry.cleanup = settle;
        entry.goal = 1.3;
        harness.add(entry);
        harness.run(std::cout);
        WaitQuiet(control.Get(), quiet);
    }
    CoUninitialize();
    return 0;
}
