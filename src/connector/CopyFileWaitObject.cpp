#include "connector/CopyFileWaitObject.h"

#include <ocidl.h>

#include <atomic>
#include <functional>
#include <memory>

#include "connector/Scom.h"
#include "connector/SymbianConnectorImpl.h"
#include "module/Logging.h"
#include "module/Utilities.h"
#include "operations/Callbacks.h"

namespace {

// The arguments of one event call, by declaration position (DISPPARAMS holds
// them last first). In arguments may come by value or by reference; out
// arguments must be references of the declared type.
class EventArgs {
public:
    explicit EventArgs(DISPPARAMS* params) : m_params(params) {}

    UINT Count() const { return m_params ? m_params->cArgs : 0; }
    UINT Slot(UINT position) const { return m_params->cArgs - 1 - position; }

    bool Long(UINT position, long* out) const { return Convert(position, VT_I4, [&](const VARIANT& v) { *out = v.lVal; }); }
    bool Bool(UINT position, VARIANT_BOOL* out) const {
        return Convert(position, VT_BOOL, [&](const VARIANT& v) { *out = v.boolVal; });
    }
    bool String(UINT position, BSTR* out) const {
        const VARIANT* v = Value(position);
        if (v->vt == VT_BSTR) *out = v->bstrVal;
        else if (v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal) *out = *v->pbstrVal;
        else if (v->vt == VT_EMPTY || v->vt == VT_NULL) *out = nullptr;
        else return false;
        return true;
    }
    bool BoolOut(UINT position, VARIANT_BOOL** out) const {
        const VARIANT& v = m_params->rgvarg[Slot(position)];
        if (v.vt == (VT_BYREF | VT_BOOL) && v.pboolVal) *out = v.pboolVal;
        else if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal && v.pvarVal->vt == VT_BOOL) *out = &v.pvarVal->boolVal;
        else return false;
        return true;
    }
    bool LongOut(UINT position, long** out) const {
        const VARIANT& v = m_params->rgvarg[Slot(position)];
        if (v.vt == (VT_BYREF | VT_I4) && v.plVal) *out = reinterpret_cast<long*>(v.plVal);
        else if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal && v.pvarVal->vt == VT_I4)
            *out = reinterpret_cast<long*>(&v.pvarVal->lVal);
        else return false;
        return true;
    }

private:
    // A VARIANT held by reference in a VARIANT is looked through.
    const VARIANT* Value(UINT position) const {
        const VARIANT* v = &m_params->rgvarg[Slot(position)];
        if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
        return v;
    }
    template <class Take>
    bool Convert(UINT position, VARTYPE type, Take take) const {
        com::UniqueVariant converted;
        if (FAILED(VariantChangeType(converted.Get(), const_cast<VARIANT*>(Value(position)), 0, type))) return false;
        take(*converted.Get());
        return true;
    }

    DISPPARAMS* m_params;
};

const char* ErrorTypeText(long errorType) {
    switch (errorType) {
    case 1: return "   Unexpected Error.";
    case 2: return "   Invalid PC Archive Path.";
    case 3: return "   Backup Service Open Fail.";
    case 4: return "   Close Device Apps Fail.";
    case 5: return "   Backup Version Check Fail.";
    case 6: return "   Analyse Differences Fail.";
    case 7: return "   Device Disconnected.";
    case 8: return "   Path Not Found.";
    case 9: return "   File Already Exists.";
    case 10: return "   Disk Full.";
    case 11: return "   Rebooting Phone Not Found.";
    default: return nullptr;
    }
}

} // namespace

// The ISCEvents sink of one copy and the state its events touch.
class CCopyFileWaitObjectImpl::Sink final : public IDispatch {
public:
    Sink(CCopyFileWaitObjectImpl* owner, unsigned executorThread, CProgressCallbackFunctionBase* progress)
        : m_pOwner(owner), m_uExecutorThread(executorThread), m_pProgressCallback(progress) {
        m_hRequestIdEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    bool Valid() const { return m_hRequestIdEvent.Valid(); }

    // The owner is going: handlers waiting for the id give up, later calls
    // return at once, and nothing reaches the owner any more.
    void Close() {
        m_bClosing.store(true);
        SetEvent(m_hRequestIdEvent.Get());
        com::ScopedLock lock(m_csOwner);
        m_pOwner = nullptr;
    }
    // True when no event call is running in the sink within timeoutMs.
    bool Drain(DWORD timeoutMs) const {
        const ULONGLONG until = GetTickCount64() + timeoutMs;
        // The completion's call is usually just returning: yield a while
        // before sleeping, as a sleep costs a millisecond per copied file.
        for (int spins = 0; m_lInFlight.load() != 0; ++spins) {
            if (GetTickCount64() >= until) return false;
            if (spins < 200)
                SwitchToThread();
            else
                Sleep(1);
        }
        return true;
    }

    void ResetRequestId() { m_lRequestId.store(-1); }
    LONG RequestId() const { return m_lRequestId.load(); }
    LONG Result() const { return m_lResult.load(); }
    void SetRequestId(LONG requestId) {
        m_lRequestId.store(requestId);
        if (!SetEvent(m_hRequestIdEvent.Get())) {
            LOG_DEBUG << "Failed to signal that request ID is set, dError=" << GetLastError();
        }
    }
    bool WaitforRequestId();

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_ISCEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr) override {
        if (result) VariantInit(result);
        // Counted before the flag is read, so Drain sees every call that got past it.
        ++m_lInFlight;
        HRESULT hr = S_OK;
        if (!m_bClosing.load()) {
            try {
                hr = dispatch(id, params, argErr);
            } catch (...) {
                LOG_ERROR << "Unhandled exception caught";
                hr = E_FAIL;
            }
        }
        --m_lInFlight;
        return hr;
    }

private:
    ~Sink() = default;

    HRESULT dispatch(DISPID id, DISPPARAMS* params, UINT* argErr);
    void OnDeviceCopyStorageFileProgress(long requestId, BSTR fileName, long percentComplete, VARIANT_BOOL* cancel);
    void OnDeviceCopyStorageFileError(long requestId, long errorType, long errorCode, VARIANT_BOOL canContinue,
                                      VARIANT_BOOL* goOn);
    void OnDeviceCopyStorageFileExistingFileFound(long requestId, BSTR fileName, long* action,
                                                  VARIANT_BOOL* cancel);
    void OnDeviceCopyStorageFileComplete(long requestId, long result);

    std::atomic<ULONG> m_refs{1};
    com::CriticalSection m_csOwner;
    CCopyFileWaitObjectImpl* m_pOwner;  // guarded by m_csOwner; null once closed
    const unsigned m_uExecutorThread;
    CProgressCallbackFunctionBase* m_pProgressCallback;  // not owned
    std::atomic<LONG> m_lRequestId{-1};
    com::UniqueHandle m_hRequestIdEvent;
    std::atomic<LONG> m_lResult{0};
    std::atomic<bool> m_bClosing{false};
    std::atomic<long> m_lInFlight{0};
};

CCopyFileWaitObjectImpl::CCopyFileWaitObjectImpl(CAsynchOperationExecutor* executor, SymbianConnector* connector,
                                                 CReplaceCallbackFunctionBase*,
                                                 CProgressCallbackFunctionBase* progress)
    : CCopyFileWaitObject(executor),
      m_pSink(new Sink(this, executor ? executor->GetThreadId() : 0, progress)) {
    // The event exists before the sink is advised: events of other copies may
    // reach the sink as soon as it is, and wait on it.
    if (!m_pSink->Valid()) {
        LOG_ERROR << "Unable to create the request id event, error " << GetLastError();
        m_pSink->Release();
        throw "Unable to create the request id event";
    }

    HRESULT hr = connector ? connector->GetISCApplication(m_pApplication.Receive()) : E_POINTER;
    com::ComPtr<IConnectionPointContainer> container;
    if (SUCCEEDED(hr)) hr = m_pApplication.As(container, IID_IConnectionPointContainer);
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID_ISCEvents, m_pConnectionPoint.Receive());
    DWORD cookie = kNotAdvised;
    if (SUCCEEDED(hr)) hr = m_pConnectionPoint ? m_pConnectionPoint->Advise(m_pSink, &cookie) : E_POINTER;
    if (FAILED(hr)) {
        LOG_DEBUG << "Failed to advise on SCOM Application interface.";
        m_pSink->Close();
        m_pSink->Release();
        throw "Unable to advise to ISCEvents";
    }
    m_dwCookie = cookie;
}

CCopyFileWaitObjectImpl::~CCopyFileWaitObjectImpl() {
    m_pSink->Close();
    unadvise();
    // A call may still run in the sink (blocked in a client's event handler);
    // the sink itself stays alive for it, only the wait stops.
    if (!m_pSink->Drain(kDrainTimeoutMs)) {
        LOG_ERROR << "A copy event call was still running after " << kDrainTimeoutMs
                  << " ms; the wait object is deleted without it.";
    }
    m_pSink->Release();
}

bool CCopyFileWaitObjectImpl::unadvise() {
    if (m_dwCookie == kNotAdvised) return true;
    HRESULT hr = m_pConnectionPoint ? m_pConnectionPoint->Unadvise(m_dwCookie) : E_POINTER;
    m_dwCookie = kNotAdvised;
    if (FAILED(hr)) {
        LOG_DEBUG << "Unable to unadvise from ISCEvents: hr=" << hr;
        return false;
    }
    return true;
}

IDispatch* CCopyFileWaitObjectImpl::EventSink() const { return m_pSink; }

void CCopyFileWaitObjectImpl::Reset() {
    m_pSink->ResetRequestId();
    CCopyFileWaitObject::Reset();
}

LONG CCopyFileWaitObjectImpl::GetResult() { return m_pSink->Result(); }

LONG CCopyFileWaitObjectImpl::GetRequestId() const { return m_pSink->RequestId(); }

void CCopyFileWaitObjectImpl::SetRequestId(LONG requestId) {
    Reset();
    m_pSink->SetRequestId(requestId);
}

bool CCopyFileWaitObjectImpl::WaitforRequestId() { return m_pSink->WaitforRequestId(); }

// Never on the executor's thread: the id is stored there once the copy call
// returns, so a handler running on it inside that call could only wait for
// ever; and dispatching there would remove, and drop, the executor's own
// thread messages (operations to run, wait-object signals). Elsewhere the
// messages already queued are dispatched (a component may need its event
// thread pumped before the copy call returns), then the wait takes no input,
// so no other call can run on this thread inside the handler.
bool CCopyFileWaitObjectImpl::Sink::WaitforRequestId() {
    if (m_uExecutorThread != 0 && GetCurrentThreadId() == m_uExecutorThread) {
        LOG_ERROR << "Wait for Request ID failed.";
        return false;
    }
    HANDLE event = m_hRequestIdEvent.Get();
    DWORD wait = WAIT_FAILED;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        wait = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, 0);
        if (wait != WAIT_OBJECT_0 + 1) break;
    }
    if (wait == WAIT_OBJECT_0) {
        // Auto-reset: pass the wake on to any other event thread waiting here.
        SetEvent(event);
        if (!m_bClosing.load()) {
            LOG_DEBUG << "Request ID set, event received";
            return true;
        }
    }
    LOG_ERROR << "Wait for Request ID failed.";
    return false;
}

void CCopyFileWaitObjectImpl::Sink::OnDeviceCopyStorageFileProgress(long requestId, BSTR fileName,
                                                                    long percentComplete, VARIANT_BOOL* cancel) {
    LOG_TRACE << "Enter";
    if (m_lRequestId.load() == -1 && !WaitforRequestId()) return;
    if (requestId == m_lRequestId.load()) {
        LOG_DEBUG << "aPercentComplete: " << percentComplete;
        short cancelled = 0;
        if (m_pProgressCallback) {
            try {
                m_pProgressCallback->Invoke(fileName ? fileName : L"", static_cast<short>(percentComplete),
                                            &cancelled);
            } catch (...) {
                LOG_ERROR << "Unhandled exception caught";
            }
        }
        if (cancelled) {
            LOG_DEBUG << "Cancel has been pressed";
            *cancel = VARIANT_TRUE;
        } else {
            *cancel = VARIANT_FALSE;
        }
    }
    LOG_TRACE << "Exit";
}

void CCopyFileWaitObjectImpl::Sink::OnDeviceCopyStorageFileError(long requestId, long errorType, long errorCode,
                                                                 VARIANT_BOOL canContinue, VARIANT_BOOL* goOn) {
    LOG_TRACE << "Enter";
    if (m_lRequestId.load() == -1 && !WaitforRequestId()) return;
    if (requestId == m_lRequestId.load()) {
        LOG_DEBUG << "errorCode: " << errorCode;
        if (canContinue) {
            LOG_DEBUG << "CanContinue is true, so operation will continue";
        } else {
            LOG_DEBUG << "Error description: ";
            if (const char* text = ErrorTypeText(errorType)) {
                LOG_DEBUG << text;
            } else {
                LOG_WARNING << "   Unknown Error";
            }
            LOG_DEBUG << "Operation will be terminated";
        }
        *goOn = canContinue;
    }
    LOG_TRACE << "Exit";
}

// The client is never asked: the phone is always told to overwrite.
void CCopyFileWaitObjectImpl::Sink::OnDeviceCopyStorageFileExistingFileFound(long requestId, BSTR fileName,
                                                                             long* action, VARIANT_BOOL* cancel) {
    LOG_TRACE << "Enter";
    if (m_lRequestId.load() == -1 && !WaitforRequestId()) return;
    if (requestId == m_lRequestId.load()) {
        LOG_DEBUG << "Filename: " << (fileName ? fileName : L"");
        *cancel = VARIANT_FALSE;
        LOG_DEBUG << "File will be replaced!!!.";
        *action = 2;
        *cancel = VARIANT_FALSE;
    }
    LOG_TRACE << "Exit";
}

void CCopyFileWaitObjectImpl::Sink::OnDeviceCopyStorageFileComplete(long requestId, long result) {
    LOG_TRACE << "Enter";
    if (m_lRequestId.load() == -1 && !WaitforRequestId()) return;
    if (requestId == m_lRequestId.load()) {
        m_lResult.store(result == 0 ? 0 : static_cast<LONG>(kvFmResultFromHresult(result)));
        com::ScopedLock lock(m_csOwner);
        if (m_pOwner) m_pOwner->Signal();
    }
    LOG_TRACE << "Exit";
}

HRESULT CCopyFileWaitObjectImpl::Sink::dispatch(DISPID id, DISPPARAMS* params, UINT* argErr) {
    UINT expected = 0;
    switch (id) {
    case kProgressId: expected = 5; break;
    case kErrorId: expected = 5; break;
    case kExistingFileId: expected = 10; break;
    case kCompleteId: expected = 2; break;
    default: return DISP_E_MEMBERNOTFOUND;
    }
    if (!params) return E_INVALIDARG;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    EventArgs args(params);
    if (args.Count() != expected) return DISP_E_BADPARAMCOUNT;

    UINT bad = 0;
    bool ok = true;
    auto check = [&](bool read, UINT position) {
        if (ok && !read) {
            ok = false;
            bad = args.Slot(position);
        }
    };
    long requestId = 0;
    check(args.Long(0, &requestId), 0);
    switch (id) {
    case kProgressId: {
        BSTR fileName = nullptr;
        long percent = 0;
        VARIANT_BOOL* cancel = nullptr;
        check(args.String(1, &fileName), 1);
        check(args.Long(3, &percent), 3);
        check(args.BoolOut(4, &cancel), 4);
        if (ok) OnDeviceCopyStorageFileProgress(requestId, fileName, percent, cancel);
        break;
    }
    case kErrorId: {
        long errorType = 0, errorCode = 0;
        VARIANT_BOOL canContinue = VARIANT_FALSE;
        VARIANT_BOOL* goOn = nullptr;
        check(args.Long(1, &errorType), 1);
        check(args.Long(2, &errorCode), 2);
        check(args.Bool(3, &canContinue), 3);
        check(args.BoolOut(4, &goOn), 4);
        if (ok) OnDeviceCopyStorageFileError(requestId, errorType, errorCode, canContinue, goOn);
        break;
    }
    case kExistingFileId: {
        BSTR fileName = nullptr;
        long* action = nullptr;
        VARIANT_BOOL* cancel = nullptr;
        check(args.String(1, &fileName), 1);
        check(args.LongOut(8, &action), 8);
        check(args.BoolOut(9, &cancel), 9);
        if (ok) OnDeviceCopyStorageFileExistingFileFound(requestId, fileName, action, cancel);
        break;
    }
    case kCompleteId: {
        long hr = 0;
        check(args.Long(1, &hr), 1);
        if (ok) OnDeviceCopyStorageFileComplete(requestId, hr);
        break;
    }
    }
    if (!ok) {
        if (argErr) *argErr = bad;
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT StartScomCopy(const LogSite& site, const char* direction, CAsynchOperationExecutor* executor,
                      SymbianConnector* connector, CProgressCallbackFunctionBase* progress,
                      CReplaceCallbackFunctionBase* replace, const std::function<long()>& start,
                      CCopyFileWaitObject** waitObject) {
    std::unique_ptr<CCopyFileWaitObjectImpl> wait;
    try {
        wait.reset(new CCopyFileWaitObjectImpl(executor, connector, replace, progress));
    } catch (const char* text) {
        KVLOG_AT(LOGLEVEL_ERROR, site) << "Unable to copy file " << direction << ". " << text;
        return E_FAIL;
    } catch (...) {
        KVLOG_AT(LOGLEVEL_ERROR, site) << "Unable to copy file " << direction << ". Unhandled exception caught";
        return E_FAIL;
    }

    long requestId = 0;
    try {
        KVLOG_AT(LOGLEVEL_TRACE, site) << "Before call";
        requestId = start();
        KVLOG_AT(LOGLEVEL_TRACE, site) << "After call";
    } catch (const _com_error& e) {
        KVLOG_AT(LOGLEVEL_ERROR, site) << "Failed to copy file " << direction << ". COM Exception caught.";
        KVLOG_AT(LOGLEVEL_DEBUG, site) << "Error = " << e.Error();
        return e.Error();
    } catch (...) {
        KVLOG_AT(LOGLEVEL_ERROR, site) << "Unhandled exception caught";
        requestId = 0;
    }
    wait->SetRequestId(requestId);
    if (requestId < 1) {
        KVLOG_AT(LOGLEVEL_ERROR, site) << "Unable to copy file " << direction << ". requestId=" << requestId;
        return E_FAIL;
    }
    *waitObject = wait.release();
    return S_OK;
}
