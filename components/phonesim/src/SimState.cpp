#include "SimState.h"

#include <algorithm>

#include "SimCopy.h"
#include "com/ComModule.h"

namespace phonesim {

namespace {

class ScopedLock {
public:
    explicit ScopedLock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~ScopedLock() { LeaveCriticalSection(&m_cs); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

} // namespace

SimState& SimState::Instance() {
    // Deleted when the module unloads, never at process exit.
    static SimState* instance = [] {
        auto* s = new SimState();
        com::Module().AddTermFunc([](void* p) { delete static_cast<SimState*>(p); }, s);
        return s;
    }();
    return *instance;
}

SimState::SimState() {
    InitializeCriticalSection(&m_cs);
    InitializeCriticalSection(&m_sessionCs);
    InitializeConditionVariable(&m_changed);
}

SimState::~SimState() {
    for (auto& s : m_sinks) s.sink->Release();
    DeleteCriticalSection(&m_sessionCs);
    DeleteCriticalSection(&m_cs);
}

void SimState::ObjectCreated() {
    ScopedLock lock(m_cs);
    if (m_liveObjects++ == 0 && m_copies.empty()) m_sessionDue = true;
}

void SimState::ObjectDestroyed() {
    ScopedLock lock(m_cs);
    --m_liveObjects;
}

void SimState::BeginSessionIfIdle() {
    ScopedLock session(m_sessionCs);
    {
        ScopedLock lock(m_cs);
        if (!m_sessionDue) return;
        m_sessionDue = false;
        ResetControlLocked();
    }
    Load(std::wstring());
}

HRESULT SimState::Load(const std::wstring& path) {
    const std::wstring file = path.empty() ? ConfiguredDescriptionPath() : path;
    Description description;
    std::wstring error;
    HRESULT hr = S_OK;
    if (file.empty()) {
        // No phone configured: no devices, which is not an error.
        error = L"no description configured (MORVANE_PHONESIM_CONFIG or HKCU\\Software\\Morvane\\PhoneSim Config)";
    } else {
        hr = LoadDescriptionFile(file, description, error);
        if (FAILED(hr)) {
            std::wstring text = L"PhoneSim: " + error + L"\n";
            OutputDebugStringW(text.c_str());
        }
    }
    ScopedLock lock(m_cs);
    AbortCopiesLocked(nullptr, kDisconnected);
    m_description = std::move(description);
    if (FAILED(hr) || file.empty()) m_description.path = file;
    m_loadError = error;
    WakeAllConditionVariable(&m_changed);
    return hr;
}

HRESULT SimState::Reload() { return Load(DescriptionPath()); }

std::wstring SimState::DescriptionPath() {
    ScopedLock lock(m_cs);
    return m_description.path;
}

std::wstring SimState::LastLoadError() {
    ScopedLock lock(m_cs);
    return m_loadError;
}

HRESULT SimState::Enter(long kind, const std::wstring* imei, bool anyState) {
    ScopedLock lock(m_cs);
    if (kind > 0 && kind < simCallKindCount) ++m_counts[kind];
    for (long k : {kind, 0L}) {
        if (k < 0 || k >= simCallKindCount) continue;
        Failure& f = m_failures[k];
        if (f.remaining == 0) continue;
        if (f.remaining > 0) --f.remaining;
        return f.hr;
    }
    if (imei) {
        const DeviceDesc* device = m_description.FindDevice(*imei);
        if (!device || (!anyState && !device->connected)) return kDeviceNotReady;
    }
    return S_OK;
}

bool SimState::FindDevice(const std::wstring& imei, DeviceDesc& out) {
    ScopedLock lock(m_cs);
    const DeviceDesc* d = m_description.FindDevice(imei);
    if (!d) return false;
    out = *d;
    return true;
}

bool SimState::FindDrive(const std::wstring& imei, wchar_t letter, DriveDesc& out) {
    ScopedLock lock(m_cs);
    const DeviceDesc* d = m_description.FindDevice(imei);
    const DriveDesc* drive = d ? d->FindDrive(letter) : nullptr;
    if (!drive) return false;
    out = *drive;
    return true;
}

std::vector<std::wstring> SimState::ConnectedDevices() {
    ScopedLock lock(m_cs);
    std::vector<std::wstring> imeis;
    for (const auto& d : m_description.devices)
        if (d.connected) imeis.push_back(d.imei);
    return imeis;
}

std::wstring SimState::MimeType(const std::wstring& fileName) {
    ScopedLock lock(m_cs);
    return MimeTypeFor(m_description, fileName);
}

long SimState::Throttle() {
    ScopedLock lock(m_cs);
    return m_throttle;
}

void SimState::SetThrottle(long bytesPerSecond) {
    ScopedLock lock(m_cs);
    m_throttle = bytesPerSecond > 0 ? bytesPerSecond : 0;
    WakeAllConditionVariable(&m_changed);
}

HRESULT SimState::FailCalls(long kind, HRESULT hr, long count) {
    if (kind < 0 || kind >= simCallKindCount || count < -1) return E_INVALIDARG;
    if (count != 0 && SUCCEEDED(hr)) return E_INVALIDARG;
    ScopedLock lock(m_cs);
    m_failures[kind].hr = hr;
    m_failures[kind].remaining = count;
    return S_OK;
}

void SimState::FailNextCopy(HRESULT hr, long atPercent) {
    ScopedLock lock(m_cs);
    m_nextCopyFailure = hr;
    m_nextCopyFailPercent = std::min(std::max(atPercent, 0L), 100L);
}

void SimState::InjectCopyError(long errorType, long errorCode, bool canContinue) {
    ScopedLock lock(m_cs);
    m_nextCopyError = true;
    m_nextErrorType = errorType;
    m_nextErrorCode = errorCode;
    m_nextErrorCanContinue = canContinue;
}

bool SimState::EarlyEvents() {
    ScopedLock lock(m_cs);
    return m_early;
}

void SimState::SetEarlyEvents(bool on) {
    ScopedLock lock(m_cs);
    m_early = on;
}

bool SimState::CopiesPaused() {
    ScopedLock lock(m_cs);
    return m_paused;
}

void SimState::SetCopiesPaused(bool paused) {
    ScopedLock lock(m_cs);
    m_paused = paused;
    WakeAllConditionVariable(&m_changed);
}

HRESULT SimState::SetConnected(const std::wstring& imei, bool connected) {
    ScopedLock lock(m_cs);
    bool found = false;
    for (auto& d : m_description.devices) {
        if (!imei.empty() && d.imei != imei) continue;
        found = true;
        d.connected = connected;
        if (!connected) AbortCopiesLocked(&d.imei, kDisconnected);
    }
    WakeAllConditionVariable(&m_changed);
    return found || imei.empty() ? S_OK : E_INVALIDARG;
}

long SimState::CallCount(long kind) {
    ScopedLock lock(m_cs);
    if (kind < 0 || kind >= simCallKindCount) return 0;
    if (kind != 0) return m_counts[kind];
    long total = 0;
    for (long c : m_counts) total += c;
    return total;
}

void SimState::ResetCallCounts() {
    ScopedLock lock(m_cs);
    m_counts.fill(0);
}

long SimState::ActiveCopies() {
    ScopedLock lock(m_cs);
    return static_cast<long>(m_copies.size());
}

void SimState::ResetControl() {
    ScopedLock lock(m_cs);
    ResetControlLocked();
}

void SimState::ResetControlLocked() {
    m_throttle = 0;
    m_early = false;
    m_paused = false;
    m_failures.fill(Failure());
    m_counts.fill(0);
    m_nextCopyFailure = S_OK;
    m_nextCopyFailPercent = 0;
    m_nextCopyError = false;
    WakeAllConditionVariable(&m_changed);
}

HRESULT SimState::Advise(const void* owner, IDispatch* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ScopedLock lock(m_cs);
    m_sinks.reserve(m_sinks.size() + 1);
    sink->AddRef();
    m_sinks.push_back(Sink{owner, m_nextCookie, sink});
    *cookie = m_nextCookie++;
    return S_OK;
}

HRESULT SimState::Unadvise(const void* owner, DWORD cookie) {
    IDispatch* sink = nullptr;
    {
        ScopedLock lock(m_cs);
        auto it = std::find_if(m_sinks.begin(), m_sinks.end(),
                               [&](const Sink& s) { return s.owner == owner && s.cookie == cookie; });
        if (it == m_sinks.end()) return CONNECT_E_NOCONNECTION;
        sink = it->sink;
        m_sinks.erase(it);
    }
    // Outside the lock: the sink's destructor may call the simulator.
    sink->Release();
    return S_OK;
}

void SimState::UnadviseAll(const void* owner) {
    std::vector<IDispatch*> gone;
    {
        ScopedLock lock(m_cs);
        for (auto it = m_sinks.begin(); it != m_sinks.end();) {
            if (it->owner == owner) {
                gone.push_back(it->sink);
                it = m_sinks.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (IDispatch* s : gone) s->Release();
}

std::vector<std::pair<DWORD, com::ComPtr<IDispatch>>> SimState::SinksOf(const void* owner) {
    std::vector<std::pair<DWORD, com::ComPtr<IDispatch>>> out;
    ScopedLock lock(m_cs);
    for (const auto& s : m_sinks)
        if (s.owner == owner) out.emplace_back(s.cookie, com::ComPtr<IDispatch>(s.sink));
    return out;
}

std::vector<com::ComPtr<IDispatch>> SimState::AllSinks() {
    std::vector<com::ComPtr<IDispatch>> out;
    ScopedLock lock(m_cs);
    out.reserve(m_sinks.size());
    for (const auto& s : m_sinks) out.emplace_back(s.sink);
    return out;
}

void SimState::AddCopy(const std::shared_ptr<CopyJob>& job, CopyPlan& plan) {
    ScopedLock lock(m_cs);
    m_copies.reserve(m_copies.size() + 1);
    job->id = m_nextRequestId++;
    if (m_nextRequestId <= 0) m_nextRequestId = 1;
    plan = CopyPlan();
    plan.early = m_early;
    plan.failResult = m_nextCopyFailure;
    plan.failPercent = m_nextCopyFailPercent;
    plan.injectError = m_nextCopyError;
    plan.errorType = m_nextErrorType;
    plan.errorCode = m_nextErrorCode;
    plan.errorCanContinue = m_nextErrorCanContinue;
    m_nextCopyFailure = S_OK;
    m_nextCopyError = false;
    m_copies.push_back(job);
}

void SimState::RemoveCopy(const CopyJob* job) {
    std::shared_ptr<CopyJob> last;
    ScopedLock lock(m_cs);
    auto it = std::find_if(m_copies.begin(), m_copies.end(),
                           [&](const std::shared_ptr<CopyJob>& j) { return j.get() == job; });
    if (it != m_copies.end()) {
        last = *it;
        m_copies.erase(it);
    }
}

void SimState::AbortCopiesLocked(const std::wstring* imei, HRESULT why) {
    for (auto& job : m_copies)
        if (!imei || job->imei == *imei)
            if (job->abortResult == S_OK) job->abortResult = why;
    WakeAllConditionVariable(&m_changed);
}

HRESULT SimState::CopyAbortResult(const CopyJob& job) {
    ScopedLock lock(m_cs);
    return job.abortResult;
}

HRESULT SimState::WaitWhilePaused(const CopyJob& job) {
    ScopedLock lock(m_cs);
    while (m_paused && job.abortResult == S_OK) SleepConditionVariableCS(&m_changed, &m_cs, INFINITE);
    return job.abortResult;
}

HRESULT SimState::ThrottleWait(const CopyJob& job, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    ScopedLock lock(m_cs);
    const long throttle = m_throttle;
    for (;;) {
        if (job.abortResult != S_OK) return job.abortResult;
        if (m_throttle != throttle) return S_OK;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return S_OK;
        SleepConditionVariableCS(&m_changed, &m_cs, static_cast<DWORD>(end - now));
    }
}

} // namespace phonesim
