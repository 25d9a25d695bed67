#include "operations/AsynchOperation.h"

#include "com/ComConnectionPoint.h"
#include "objects/FMObjectImpl.h"
#include "operations/AsynchOperationExecutor.h"
#include "connector/StorageObject.h"

namespace {

// Interlocked: objects of several client threads may start operations at once.
volatile LONG g_lNextTransactionId = 1;

} // namespace

void CAsynchOperation::InitCommon(LONG transactionId, FMObjectImpl* target, DeviceConnector* connector,
                                  CAsynchOperationExecutor* executor) {
    m_lTransactionId = transactionId;
    m_pTarget = target;
    m_pTargetReference = com::ComPtr<IUnknown>(target ? target->ControllingUnknown() : nullptr);
    m_pDeviceConnector = connector;
    m_pExecutor = executor;
}

bool CAsynchOperation::TargetDisconnected() const {
    return m_pTarget && !m_pTarget->BindingUsable();
}

bool AllArgumentsPresent(std::initializer_list<const void*> pointers, std::initializer_list<const BSTR*> strings) {
    for (const void* p : pointers)
        if (!p) return false;
    for (const BSTR* s : strings)
        if (!s || !*s) return false;
    return true;
}

LONG NextTransactionId() {
    return InterlockedExchangeAdd(&g_lNextTransactionId, 1);
}

HRESULT PostAsynchOperation(const LogSite& site, CAsynchOperationExecutor* executor, IAsynchOperation* operation) {
    if (!operation) return E_INVALIDARG;
    const DWORD threadId = executor ? executor->GetThreadId() : 0;
    if (!threadId || !PostThreadMessageW(threadId, CAsynchOperationExecutor::kRunOperationMessage, 0,
                                         reinterpret_cast<LPARAM>(operation))) {
        if (LogMessage m{LOGLEVEL_ERROR, site.file, site.line, site.function}; m) m << "Could not post threadmessage";
        // Nobody will receive the reference.
        operation->Release();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT StartAsynchOperation(const LogSite& site, CAsynchOperationExecutor* executor, LONG* transactionId,
                             const std::function<HRESULT(LONG, IAsynchOperation**)>& create) {
    if (!transactionId || !create) return E_INVALIDARG;
    const LONG id = NextTransactionId();
    *transactionId = id;
    IAsynchOperation* operation = nullptr;
    HRESULT hr;
    try {
        hr = create(id, &operation);
    } catch (...) {
        hr = E_FAIL;
    }
    if (FAILED(hr) || !operation) {
        if (LogMessage m{LOGLEVEL_ERROR, site.file, site.line, site.function}; m)
            m << "Unable to get IAsynchOperation interface";
        if (operation) operation->Release();
        return FAILED(hr) ? hr : E_FAIL;
    }
    return PostAsynchOperation(site, executor, operation);
}

LONG WaitForCopyResult(FMObjectImpl* target, CCopyFileWaitObject* waitObject, const char* signalledText) {
    if (!waitObject) return KVFM_E_FAILED;
    LOG_DEBUG << "Copy operation started and is in progress";
    // A signal posted from another thread is waited for even when the flag is
    // already up, so its message does not stay queued behind the operation.
    while (!waitObject->SignalConsumed()) {
        if (target && !target->BindingUsable()) return KVFM_E_DISCONNECTED;
        if (CAsynchOperationExecutor::WaitForMultipleObjects({waitObject})) continue;
        if (CAsynchOperationExecutor::StopRequested() || (target && !target->BindingUsable()))
            return KVFM_E_DISCONNECTED;
        // Otherwise a wake-up left over from an earlier binding: wait on.
    }
    LOG_DEBUG << signalledText;
    return waitObject->GetResult();
}

namespace {

// A sink that fails or cannot be reached does not stop the others nor the operation.
void logSinkFailure(DISPID id, DWORD cookie, HRESULT hr) {
    LOG_ERROR << "Event " << id << " could not be delivered to sink " << cookie << ", hr=0x" << LogHex(hr);
}

HRESULT fire(FMObjectImpl* target, DISPID id, std::initializer_list<com::EventArg> args) {
    if (!target) return S_OK;
    try {
        return target->EventConnectionPoint().Fire(id, args, &logSinkFailure);
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace

HRESULT FireResultEvent(FMObjectImpl* target, KVFMEventDispid id, KVFMOpResult result, LONG transactionId) {
    return fire(target, id, {com::EventArg::UI4(static_cast<ULONG>(result)), com::EventArg::I4(transactionId)});
}

HRESULT FireObjectResultEvent(FMObjectImpl* target, KVFMEventDispid id, KVFMOpResult result, IDispatch* object,
                              LONG transactionId) {
    return fire(target, id,
                {com::EventArg::UI4(static_cast<ULONG>(result)), com::EventArg::Dispatch(object),
                 com::EventArg::I4(transactionId)});
}

HRESULT FireProgress(FMObjectImpl* target, SHORT percent, LONG transactionId, SHORT* cancel) {
    if (!cancel) return E_INVALIDARG;
    return fire(target, kDispidProgress,
                {com::EventArg::I2(percent), com::EventArg::I4(transactionId), com::EventArg::ByRefI2(cancel)});
}

HRESULT FireFileProgress(FMObjectImpl* target, const wchar_t* fileName, SHORT percent, LONG transactionId,
                         SHORT* cancel) {
    if (!cancel) return E_INVALIDARG;
    return fire(target, kDispidFileProgress,
                {com::EventArg::Bstr(fileName), com::EventArg::I2(percent), com::EventArg::I4(transactionId),
                 com::EventArg::ByRefI2(cancel)});
}

HRESULT FireReplaceFile(FMObjectImpl* target, LONG transactionId, const wchar_t* fileName, DATE date1, LONG size1,
                        DATE date2, LONG size2, LONG* answer) {
    if (!answer) return E_INVALIDARG;
    return fire(target, kDispidReplaceFile,
                {com::EventArg::I4(transactionId), com::EventArg::Bstr(fileName), com::EventArg::Date(date1),
                 com::EventArg::I4(size1), com::EventArg::Date(date2), com::EventArg::I4(size2),
                 com::EventArg::ByRefI4(answer)});
}

HRESULT FireReplaceFolder(FMObjectImpl* target, LONG transactionId, const wchar_t* folderName, LONG* answer) {
    if (!answer) return E_INVALIDARG;
    return fire(target, kDispidReplaceFolder,
                {com::EventArg::I4(transactionId), com::EventArg::Bstr(folderName), com::EventArg::ByRefI4(answer)});
}
