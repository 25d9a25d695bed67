// Follows one phone-side copy: listens to the connectivity component's copy
// events, filters them by request id, forwards progress (which may cancel),
// always answers "overwrite" for an existing target, and on completion stores
// the result and wakes the executor's thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <functional>

#include "com/ComUtil.h"
#include "connector/StorageObject.h"
#include "module/Logging.h"

class SymbianConnector;
class CProgressCallbackFunctionBase;
class CReplaceCallbackFunctionBase;

// Owned and deleted by whoever receives it, never through Release: the COM
// reference count only tells the destructor when the connection point and any
// event call in flight have let go of the sink.
class CCopyFileWaitObjectImpl : public CCopyFileWaitObject, public IDispatch {
public:
    static constexpr DWORD kNotAdvised = 0xFEFEFEFE;
    static constexpr DISPID kProgressId = 13;
    static constexpr DISPID kErrorId = 14;
    static constexpr DISPID kExistingFileId = 15;
    static constexpr DISPID kCompleteId = 16;

    // Advises on the connector's application object; throws the text
    // "Unable to advise to ISCEvents" (const char*) when that fails.
    CCopyFileWaitObjectImpl(CAsynchOperationExecutor* executor, SymbianConnector* connector,
                            CReplaceCallbackFunctionBase* replace, CProgressCallbackFunctionBase* progress);
    // Unadvises and waits for event calls still running in the sink to return.
    ~CCopyFileWaitObjectImpl() override;
    CCopyFileWaitObjectImpl(const CCopyFileWaitObjectImpl&) = delete;
    CCopyFileWaitObjectImpl& operator=(const CCopyFileWaitObjectImpl&) = delete;

    // Request id back to -1 (unknown) and not signalled.
    void Reset() override;
    LONG GetResult() override;

    void SetRequestId(LONG requestId);
    LONG GetRequestId() const { return m_lRequestId.load(); }
    // Waits, dispatching the calling thread's messages, until the request id
    // is set; false when the wait fails or the object is being destroyed.
    bool WaitforRequestId();
    DWORD GetCookie() const { return m_dwCookie; }

    // IUnknown: IUnknown, IDispatch and ISCEvents.
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    // IDispatch: Invoke only; the ids and argument types are ISCEvents'.
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHOD(GetIDsOfNames)(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHOD(Invoke)(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr) override;

private:
    void OnDeviceCopyStorageFileProgress(long requestId, BSTR fileName, long percentComplete, VARIANT_BOOL* cancel);
    void OnDeviceCopyStorageFileError(long requestId, long errorType, long errorCode, VARIANT_BOOL canContinue,
                                      VARIANT_BOOL* goOn);
    void OnDeviceCopyStorageFileExistingFileFound(long requestId, BSTR fileName, long* action,
                                                  VARIANT_BOOL* cancel);
    void OnDeviceCopyStorageFileComplete(long requestId, long result);
    // False when the connection point may still hold the sink.
    bool unadvise();

    DWORD m_dwCookie = kNotAdvised;
    std::atomic<LONG> m_lRequestId{-1};
    com::UniqueHandle m_hRequestIdEvent;
    com::ComPtr<IUnknown> m_pApplication;
    com::ComPtr<IConnectionPoint> m_pConnectionPoint;
    std::atomic<LONG> m_lResult{0};
    CReplaceCallbackFunctionBase* m_pReplaceCallback;   // not owned, kept only
    CProgressCallbackFunctionBase* m_pProgressCallback; // not owned
    std::atomic<ULONG> m_refs{0};
    std::atomic<bool> m_bClosing{false};
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
