// Follows one phone-side copy: listens to the connectivity component's copy
// events, filters them by request id, forwards progress (which may cancel),
// always answers "overwrite" for an existing target, and on completion stores
// the result and wakes the executor's thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>

#include "com/ComUtil.h"
#include "connector/StorageObject.h"
#include "module/Logging.h"

class SymbianConnector;
class CProgressCallbackFunctionBase;
class CReplaceCallbackFunctionBase;

// Owned and deleted by whoever receives it. The object advised on the
// connectivity component is a separate reference-counted sink that holds the
// copy's state, so a component that calls or releases the sink late never
// reaches freed memory: once the wait object is gone the sink answers nothing
// and frees itself with its last reference.
class CCopyFileWaitObjectImpl : public CCopyFileWaitObject {
public:
    static constexpr DWORD kNotAdvised = 0xFEFEFEFE;
    static constexpr DISPID kProgressId = 13;
    static constexpr DISPID kErrorId = 14;
    static constexpr DISPID kExistingFileId = 15;
    static constexpr DISPID kCompleteId = 16;
    // How long the destructor waits for event calls still running in the sink.
    static constexpr DWORD kDrainTimeoutMs = 5000;

    // Advises on the connector's application object; throws the text
    // "Unable to advise to ISCEvents" (const char*) when that fails.
    CCopyFileWaitObjectImpl(CAsynchOperationExecutor* executor, SymbianConnector* connector,
                            CReplaceCallbackFunctionBase* replace, CProgressCallbackFunctionBase* progress);
    // Unadvises and waits, at most kDrainTimeoutMs, for event calls still
    // running in the sink to return.
    ~CCopyFileWaitObjectImpl() override;
    CCopyFileWaitObjectImpl(const CCopyFileWaitObjectImpl&) = delete;
    CCopyFileWaitObjectImpl& operator=(const CCopyFileWaitObjectImpl&) = delete;

    // Request id back to -1 (unknown) and not signalled.
    void Reset() override;
    LONG GetResult() override;

    void SetRequestId(LONG requestId);
    LONG GetRequestId() const;
    // Waits until the request id is set; false when the wait fails, the
    // object is being destroyed, or it is asked on the executor's own thread
    // (which sets the id itself once the copy call returns).
    bool WaitforRequestId();
    DWORD GetCookie() const { return m_dwCookie; }
    // The ISCEvents sink advised on the application object (no reference added).
    IDispatch* EventSink() const;

    class Sink;

private:
    // False when the connection point may still hold the sink.
    bool unadvise();

    Sink* m_pSink;  // one reference
    DWORD m_dwCookie = kNotAdvised;
    com::ComPtr<IUnknown> m_pApplication;
    com::ComPtr<IConnectionPoint> m_pConnectionPoint;
};

// The steps every phone copy shares: a new wait object (made first, so no
// event of the copy is missed), the SCOM call start() that returns the request
// id (it may raise _com_error), and the id handed to the wait object. On
// success *waitObject is the caller's. direction: "to PC" or "from PC", for
// the log lines, which are attributed to site.
HRESULT StartScomCopy(const LogSite& site, const char* direction, CAsynchOperationExecutor* executor,
                      SymbianConnector* connector, CProgressCallbackFunctionBase* progress,
                      CReplaceCallbackFunctionBase* replace, const std::function<long()>& start,
                      CCopyFileWaitObject** waitObject);
