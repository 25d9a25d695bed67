// The one phone of the process: the description, the connection of each
// device, the settings of the control interface, call counts, the event sinks
// of every application object and the copies in flight. Every simulator object
// reads it; all of it is guarded by one lock.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "Description.h"
#include "SimCommon.h"
#include "com/ComUtil.h"

namespace phonesim {

struct CopyJob;

// What the control interface asked of one copy, fixed when the copy starts.
struct CopyPlan {
    bool early = false;
    HRESULT failResult = S_OK;      // S_OK: no injected failure
    long failPercent = 0;
    bool injectError = false;
    long errorType = 0;
    long errorCode = 0;
    bool errorCanContinue = false;
};

class SimState {
public:
    static SimState& Instance();

    // Every simulator object counts itself, so a new session starts only when
    // none is left and no copy runs.
    void ObjectCreated();
    void ObjectDestroyed();
    // Called by a new application or control object: the first object after
    // none were left (and no copy ran) starts a new session, which clears the
    // control settings and reads the configured description.
    void BeginSessionIfIdle();

    // An empty path reads the configured file. Pending copies are ended as by
    // a disconnect. On failure the phone has no devices.
    HRESULT Load(const std::wstring& path);
    HRESULT Reload();
    std::wstring DescriptionPath();
    std::wstring LastLoadError();

    // Entry of every phone call: counts it, applies an injected failure, then,
    // for a device's call, requires the device to be present and (unless
    // anyState) connected.
    HRESULT Enter(long kind, const std::wstring* imei, bool anyState = false);

    // Copies of the description's parts; false when absent.
    bool FindDevice(const std::wstring& imei, DeviceDesc& out);
    bool FindDrive(const std::wstring& imei, wchar_t letter, DriveDesc& out);
    std::vector<std::wstring> ConnectedDevices();
    std::wstring MimeType(const std::wstring& fileName);

    // Control interface.
    long Throttle();
    void SetThrottle(long bytesPerSecond);
    HRESULT FailCalls(long kind, HRESULT hr, long count);
    void FailNextCopy(HRESULT hr, long atPercent);
    void InjectCopyError(long errorType, long errorCode, bool canContinue);
    bool EarlyEvents();
    void SetEarlyEvents(bool on);
    bool CopiesPaused();
    void SetCopiesPaused(bool paused);
    HRESULT SetConnected(const std::wstring& imei, bool connected);
    long CallCount(long kind);
    void ResetCallCounts();
    long ActiveCopies();
    void ResetControl();

    // Event sinks, by owning application object. Cookies are unique in the process.
    HRESULT Advise(const void* owner, IDispatch* sink, DWORD* cookie);
    HRESULT Unadvise(const void* owner, DWORD cookie);
    void UnadviseAll(const void* owner);
    std::vector<std::pair<DWORD, com::ComPtr<IDispatch>>> SinksOf(const void* owner);
    // Every application object's sinks, in the order they were advised.
    std::vector<com::ComPtr<IDispatch>> AllSinks();

    // Copies: registration with a new request id and the plan; removal at the end.
    void AddCopy(const std::shared_ptr<CopyJob>& job, CopyPlan& plan);
    void RemoveCopy(const CopyJob* job);
    // Why the copy must end now (disconnect, reload), or S_OK.
    HRESULT CopyAbortResult(const CopyJob& job);
    // Waits while copies are paused; fails when the copy must end.
    HRESULT WaitWhilePaused(const CopyJob& job);
    // Waits about ms milliseconds, less when the copy must end or the throttle changes.
    HRESULT ThrottleWait(const CopyJob& job, DWORD ms);

private:
    SimState();
    ~SimState();
    SimState(const SimState&) = delete;
    SimState& operator=(const SimState&) = delete;
    void AbortCopiesLocked(const std::wstring* imei, HRESULT why);
    void ResetControlLocked();

    struct Failure {
        HRESULT hr = S_OK;
        long remaining = 0;         // -1: until cleared
    };
    struct Sink {
        const void* owner;
        DWORD cookie;
        IDispatch* sink;
    };

    // A raw critical section: the condition variable sleeps on it.
    CRITICAL_SECTION m_cs;
    // Held while a new session reads its description, so that a second object
    // created meanwhile waits for it.
    CRITICAL_SECTION m_sessionCs;
    bool m_sessionDue = true;
    CONDITION_VARIABLE m_changed;

    Description m_description;
    std::wstring m_loadError;
    long m_liveObjects = 0;

    long m_throttle = 0;
    bool m_early = false;
    bool m_paused = false;
    std::array<Failure, simCallKindCount> m_failures{};
    std::array<long, simCallKindCount> m_counts{};
    HRESULT m_nextCopyFailure = S_OK;
    long m_nextCopyFailPercent = 0;
    bool m_nextCopyError = false;
    long m_nextErrorType = 0;
    long m_nextErrorCode = 0;
    bool m_nextErrorCanContinue = false;

    std::vector<Sink> m_sinks;
    DWORD m_nextCookie = 1;

    std::vector<std::shared_ptr<CopyJob>> m_copies;
    LONG m_nextRequestId = 1;
};

} // namespace phonesim
