#include "SimCopy.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <deque>
#include <memory>
#include <vector>

#include "SimCommon.h"
#include "SimPaths.h"
#include "com/ComModule.h"

namespace phonesim {
namespace {

constexpr DWORD kChunk = 64 * 1024;
// Posted to the copy thread's window before a sink is called in early mode. A
// sink that waits for its request id pumps the thread's messages (as a copy
// wait object does), which dispatches it and lets the copy call return.
constexpr UINT kEarlyMessage = WM_APP + 0x51;

void OpenGate(CopyJob& job) {
    if (job.gateOpen) return;
    job.gateOpen = true;
    SetEvent(job.firstEvent.Get());
}

LRESULT CALLBACK EarlyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kEarlyMessage) {
        if (auto* job = reinterpret_cast<CopyJob*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            job->messagePosted = false;
            OpenGate(*job);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// One class name per loaded module, so a reloaded module never meets a stale class.
const wchar_t* WindowClassName() {
    static wchar_t name[64];
    static const bool made = [] {
        swprintf(name, 64, L"PhoneSimCopyEvents_%p", static_cast<void*>(com::Module().Instance()));
        return true;
    }();
    (void)made;
    return name;
}

bool g_classRegistered = false;

bool RegisterWindowClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &EarlyWindowProc;
        wc.hInstance = com::Module().Instance();
        wc.lpszClassName = WindowClassName();
        g_classRegistered = RegisterClassExW(&wc) != 0;
        return g_classRegistered;
    }();
    return registered;
}

VARIANT I4(long value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT Bool(bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT ByRefI4(long* value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_I4;
    v.plVal = value;
    return v;
}

VARIANT ByRefBool(VARIANT_BOOL* value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_BOOL;
    v.pboolVal = value;
    return v;
}

VARIANT Str(const std::wstring& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!v.bstrVal) throw std::bad_alloc();
    return v;
}

// Owns the argument list of one event, in declaration order.
class EventArgs {
public:
    EventArgs(std::initializer_list<VARIANT> args) : m_args(args) {}
    ~EventArgs() {
        for (auto& a : m_args) VariantClear(&a);
    }
    EventArgs(const EventArgs&) = delete;
    EventArgs& operator=(const EventArgs&) = delete;
    std::vector<VARIANT>& Get() { return m_args; }

private:
    std::vector<VARIANT> m_args;
};

// Calls every advised sink of every application object on this thread. Each
// sink gets its own copy of the arguments; by-reference ones point to the
// caller's variables, so the answers of all sinks land there.
void Fire(CopyJob& job, DISPID id, EventArgs& event) {
    std::vector<VARIANT>& args = event.Get();
    const UINT count = static_cast<UINT>(args.size());
    std::vector<VARIANT> params(count);
    for (auto& p : params) VariantInit(&p);
    for (const auto& sink : SimState::Instance().AllSinks()) {
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count && SUCCEEDED(hr); ++i) hr = VariantCopy(&params[count - 1 - i], &args[i]);
        if (SUCCEEDED(hr)) {
            if (job.plan.early && !job.gateOpen && !job.messagePosted && job.window)
                job.messagePosted = PostMessageW(job.window, kEarlyMessage, 0, 0) != FALSE;
            DISPPARAMS dp = {params.data(), nullptr, count, 0};
            VARIANT result;
            VariantInit(&result);
            sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, &result, nullptr, nullptr);
            VariantClear(&result);
        }
        for (auto& p : params) VariantClear(&p);
    }
    if (job.plan.early && !job.gateOpen) {
        MSG msg;
        while (job.messagePosted && PeekMessageW(&msg, job.window, kEarlyMessage, kEarlyMessage, PM_REMOVE)) {}
        job.messagePosted = false;
        OpenGate(job);
    }
}

long ErrorTypeFor(HRESULT hr) {
    switch (hr) {
    case kFileNotFound:
    case kPathNotFound: return scErrPathNotFound;
    case kAlreadyExists: return scErrFileAlreadyExists;
    case kDiskFull: return scErrDiskFull;
    case kDisconnected:
    case kDeviceNotReady: return scErrDeviceDisconnected;
    default: return scErrUnexpected;
    }
}

uint64_t Size(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    // "X:\name" lives in "X:\", not in "X:".
    return slash == 2 && path[1] == L':' ? path.substr(0, 3) : path.substr(0, slash);
}

// One copy, step by step, on its own thread.
class CopyRun {
public:
    explicit CopyRun(CopyJob& job) : m_job(job), m_state(SimState::Instance()) {}
    ~CopyRun() { m_in.Reset(); m_out.Reset(); }

    HRESULT Run() {
        HRESULT hr = m_state.CopyAbortResult(m_job);
        if (FAILED(hr)) return Abort(hr);

        WIN32_FILE_ATTRIBUTE_DATA source;
        if (!GetFileAttributesExW(m_job.source.c_str(), GetFileExInfoStandard, &source))
            return Fail(scErrPathNotFound, LastError());
        if (source.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(scErrUnexpected, kAccessDenied);
        const uint64_t total = Size(source);

        DriveDesc drive;
        if (!m_job.toPc) {
            if (!m_state.FindDrive(m_job.imei, m_job.drive, drive)) return Fail(scErrPathNotFound, kPathNotFound);
            if (drive.readOnly) return Fail(scErrUnexpected, kAccessDenied);
        }
        const DWORD folder = GetFileAttributesW(FolderOf(m_job.target).c_str());
        if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY))
            return Fail(m_job.toPc ? scErrInvalidPcArchivePath : scErrPathNotFound, kPathNotFound);

        uint64_t replaced = 0;
        WIN32_FILE_ATTRIBUTE_DATA existing;
        if (GetFileAttributesExW(m_job.target.c_str(), GetFileExInfoStandard, &existing)) {
            if (existing.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(scErrFileAlreadyExists, kAlreadyExists);
            long action = scActionKeep;
            VARIANT_BOOL cancel = VARIANT_FALSE;
            EventArgs event{I4(m_job.id),
                            Str(m_job.eventName),
                            I4(static_cast<long>(existing.nFileSizeLow)),
                            I4(static_cast<long>(existing.ftLastWriteTime.dwLowDateTime)),
                            I4(static_cast<long>(existing.ftLastWriteTime.dwHighDateTime)),
                            I4(static_cast<long>(source.nFileSizeLow)),
                            I4(static_cast<long>(source.ftLastWriteTime.dwLowDateTime)),
                            I4(static_cast<long>(source.ftLastWriteTime.dwHighDateTime)),
                            ByRefI4(&action),
                            ByRefBool(&cancel)};
            Fire(m_job, 15, event);
            hr = m_state.CopyAbortResult(m_job);
            if (FAILED(hr)) return Abort(hr);
            if (cancel != VARIANT_FALSE) return kCancelled;
            if (action != scActionOverwrite) return Fail(scErrFileAlreadyExists, kAlreadyExists);
            if (existing.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return Fail(scErrUnexpected, kAccessDenied);
            replaced = Size(existing);
        }
        if (!m_job.toPc) {
            const uint64_t free = FreeBytes(drive) + (drive.freeComputed ? replaced : 0);
            if (total > free) return Fail(scErrDiskFull, kDiskFull);
        }

        if (Progress(0, total)) return kCancelled;
        hr = m_state.CopyAbortResult(m_job);
        if (FAILED(hr)) return Abort(hr);

        const CopyPlan& plan = m_job.plan;
        if (plan.injectError) {
            const bool goOn = Error(plan.errorType, plan.errorCode, plan.errorCanContinue);
            hr = m_state.CopyAbortResult(m_job);
            if (FAILED(hr)) return Abort(hr);
            if (!(plan.errorCanContinue && goOn)) return FAILED(plan.errorCode) ? plan.errorCode : E_FAIL;
        }
        if (FAILED(plan.failResult) && plan.failPercent <= 0) return Fail(ErrorTypeFor(plan.failResult), plan.failResult);

        m_in.Reset(CreateFileW(m_job.source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_in) return Fail(scErrUnexpected, LastError());
        // Readers may follow the target while it grows.
        m_out.Reset(CreateFileW(m_job.target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_out) return Fail(scErrUnexpected, LastError());
        m_created = true;

        std::vector<BYTE> buffer(kChunk);
        uint64_t done = 0;
        do {
            hr = m_state.WaitWhilePaused(m_job);
            if (FAILED(hr)) return Abort(hr);
            const long throttle = m_state.Throttle();
            DWORD chunk = kChunk;
            if (throttle > 0) chunk = static_cast<DWORD>(std::min<long>(std::max<long>(throttle / 10, 1), kChunk));
            const DWORD want = static_cast<DWORD>(std::min<uint64_t>(chunk, total - done));
            DWORD got = 0;
            if (want && (!ReadFile(m_in.Get(), buffer.data(), want, &got, nullptr) || got != want))
                return Fail(scErrUnexpected, got == want ? LastError() : E_FAIL);
            DWORD written = 0;
            if (got && (!WriteFile(m_out.Get(), buffer.data(), got, &written, nullptr) || written != got))
                return Fail(scErrUnexpected, written == got ? LastError() : kDiskFull);
            done += got;
            if (throttle > 0 && got) {
                hr = m_state.ThrottleWait(m_job, static_cast<DWORD>(uint64_t(got) * 1000 / throttle));
                if (FAILED(hr)) return Abort(hr);
            }
            hr = m_state.CopyAbortResult(m_job);
            if (FAILED(hr)) return Abort(hr);
            const long percent = total ? static_cast<long>(done * 100 / total) : 100;
            if (FAILED(plan.failResult) && percent >= plan.failPercent)
                return Fail(ErrorTypeFor(plan.failResult), plan.failResult);
            if (Progress(done, total)) {
                RemovePartial();
                return kCancelled;
            }
            hr = m_state.CopyAbortResult(m_job);
            if (FAILED(hr)) return Abort(hr);
        } while (done < total);

        // A copy keeps the source's time, as file copies on both sides do.
        SetFileTime(m_out.Get(), nullptr, nullptr, &source.ftLastWriteTime);
        m_out.Reset();
        m_in.Reset();
        return S_OK;
    }

private:
    // Returns true when a sink asked to cancel.
    bool Progress(uint64_t done, uint64_t total) {
        VARIANT_BOOL cancel = VARIANT_FALSE;
        const long percent = total ? static_cast<long>(done * 100 / total) : (done == 0 && !m_created ? 0 : 100);
        const long bytes = done > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<long>(done);
        EventArgs event{I4(m_job.id), Str(m_job.eventName), I4(bytes), I4(percent), ByRefBool(&cancel)};
        Fire(m_job, 13, event);
        return cancel != VARIANT_FALSE;
    }

    // Returns the sinks' continue answer.
    bool Error(long type, HRESULT code, bool canContinue) {
        VARIANT_BOOL goOn = VARIANT_FALSE;
        EventArgs event{I4(m_job.id), I4(type), I4(code), Bool(canContinue), ByRefBool(&goOn)};
        Fire(m_job, 14, event);
        return goOn != VARIANT_FALSE;
    }

    HRESULT Fail(long type, HRESULT code) {
        RemovePartial();
        Error(type, code, false);
        return code;
    }

    HRESULT Abort(HRESULT why) { return Fail(scErrDeviceDisconnected, why); }

    void RemovePartial() {
        m_out.Reset();
        if (m_created) DeleteFileW(m_job.target.c_str());
        m_created = false;
    }

    CopyJob& m_job;
    SimState& m_state;
    com::UniqueHandle m_in;
    com::UniqueHandle m_out;
    bool m_created = false;
};

void CreateEarlyWindow(CopyJob& job) {
    if (RegisterWindowClass()) {
        job.window = CreateWindowExW(0, WindowClassName(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     com::Module().Instance(), nullptr);
        if (job.window) SetWindowLongPtrW(job.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&job));
    }
    // Without a window no sink can signal that it waits: let the call return.
    if (!job.window) OpenGate(job);
}

// One copy from start to completion, on a copy thread.
void RunJob(std::shared_ptr<CopyJob> job) {
    if (job->plan.early) CreateEarlyWindow(*job);
    const HRESULT result = Guarded([&] { return CopyRun(*job).Run(); });
    SimState::Instance().RemoveCopy(job.get());
    Guarded([&] {
        EventArgs event{I4(job->id), I4(result)};
        Fire(*job, 16, event);
        return S_OK;
    });
    OpenGate(*job);
    if (job->window) DestroyWindow(job->window);
    job.reset();
    com::Module().Unlock();
}

// Copy threads wait a moment for the next copy before they end: starting a
// thread per copy costs more than copying a small file.
constexpr DWORD kIdleThreadMs = 2000;

struct CopyThreads {
    CopyThreads() {
        InitializeCriticalSection(&cs);
        InitializeConditionVariable(&queued);
    }
    ~CopyThreads() { DeleteCriticalSection(&cs); }

    CRITICAL_SECTION cs;
    CONDITION_VARIABLE queued;
    std::deque<std::shared_ptr<CopyJob>> jobs;
    size_t idle = 0;  // threads waiting for a job
};

CopyThreads& Threads() {
    static CopyThreads threads;
    return threads;
}

// The next queued job, or null once none came for kIdleThreadMs.
std::shared_ptr<CopyJob> NextJob(CopyThreads& threads) {
    std::shared_ptr<CopyJob> job;
    EnterCriticalSection(&threads.cs);
    ++threads.idle;
    const ULONGLONG end = GetTickCount64() + kIdleThreadMs;
    for (;;) {
        if (!threads.jobs.empty()) {
            job = std::move(threads.jobs.front());
            threads.jobs.pop_front();
            break;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) break;
        SleepConditionVariableCS(&threads.queued, &threads.cs, static_cast<DWORD>(end - now));
    }
    --threads.idle;
    LeaveCriticalSection(&threads.cs);
    return job;
}

DWORD WINAPI CopyThread(void* param) {
    const HMODULE module = static_cast<HMODULE>(param);
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    while (std::shared_ptr<CopyJob> job = NextJob(Threads())) RunJob(std::move(job));
    if (SUCCEEDED(init)) CoUninitialize();
    // The thread holds the module loaded until its very last instruction.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

// Hands the job to a waiting copy thread, or to a new one.
HRESULT Enqueue(const std::shared_ptr<CopyJob>& job) {
    CopyThreads& threads = Threads();
    EnterCriticalSection(&threads.cs);
    HRESULT hr = S_OK;
    try {
        threads.jobs.push_back(job);
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    const bool waiting = SUCCEEDED(hr) && threads.idle >= threads.jobs.size();
    if (waiting) WakeConditionVariable(&threads.queued);
    LeaveCriticalSection(&threads.cs);
    if (FAILED(hr) || waiting) return hr;

    HMODULE module = nullptr;
    HANDLE thread = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&StartCopy), &module)) {
        thread = CreateThread(nullptr, 0, &CopyThread, module, 0, nullptr);
        if (!thread) {
            hr = LastError();
            FreeLibrary(module);
        }
    } else {
        hr = LastError();
    }
    if (thread) {
        CloseHandle(thread);
        return S_OK;
    }
    // No thread runs it: take it back, unless a thread that was finishing took it.
    EnterCriticalSection(&threads.cs);
    auto it = std::find(threads.jobs.begin(), threads.jobs.end(), job);
    const bool taken = it == threads.jobs.end();
    if (!taken) threads.jobs.erase(it);
    LeaveCriticalSection(&threads.cs);
    return taken ? S_OK : hr;
}

} // namespace

HRESULT StartCopy(const std::shared_ptr<CopyJob>& job, long* requestId) {
    if (!requestId) return E_POINTER;
    *requestId = 0;
    job->firstEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!job->firstEvent) return LastError();

    SimState::Instance().AddCopy(job, job->plan);
    com::Module().Lock();
    // The id is the caller's before any thread can fire an event with it.
    *requestId = job->id;
    const HRESULT hr = Enqueue(job);
    if (FAILED(hr)) {
        *requestId = 0;
        SimState::Instance().RemoveCopy(job.get());
        com::Module().Unlock();
        return hr;
    }
    if (job->plan.early) WaitForSingleObject(job->firstEvent.Get(), INFINITE);
    return S_OK;
}

void TermCopies() {
    if (g_classRegistered) UnregisterClassW(WindowClassName(), com::Module().Instance());
}

} // namespace phonesim
