// What every asynchronous operation shares: the COM object answering
// IAsynchOperation, the common fields, the Create… steps, transaction ids,
// posting to the executor and the client events fired through the target.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <initializer_list>

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "com/ComUtil.h"
#include "module/Interfaces.h"
#include "module/Logging.h"

class CAsynchOperationExecutor;
class CCopyFileWaitObject;
class DeviceConnector;
class FMObjectImpl;


// Base of the operation classes. A class derives from it, implements Execute
// and an Init that calls InitCommon, and is created as com::ComObject<Class>.
class CAsynchOperation : public com::ComObjectRoot<com::MultiThreadModel>,
                         public com::DispatchImpl<IAsynchOperation, &LIBID_MorvaneLib> {
public:
    BEGIN_COM_MAP(CAsynchOperation)
        COM_INTERFACE_ENTRY(IAsynchOperation)
        COM_INTERFACE_ENTRY2(IDispatch, IAsynchOperation)
    END_COM_MAP()

    virtual ~CAsynchOperation() = default;

    LONG TransactionId() const { return m_lTransactionId; }
    FMObjectImpl* Target() const { return m_pTarget; }

protected:
    CAsynchOperation() = default;

    // True when the phone binding the target was made under has ended (the
    // connector it holds may be gone): Execute then reports KVFM_E_DISCONNECTED
    // without touching the connector or the storage objects.
    bool TargetDisconnected() const;

    // Keeps a reference on the target's object for the operation's life.
    void InitCommon(LONG transactionId, FMObjectImpl* target, DeviceConnector* connector,
                    CAsynchOperationExecutor* executor);

    LONG m_lTransactionId = 0;
    FMObjectImpl* m_pTarget = nullptr;
    com::ComPtr<IUnknown> m_pTargetReference;            // controlling unknown of the target
    DeviceConnector* m_pDeviceConnector = nullptr;       // not owned
    CAsynchOperationExecutor* m_pExecutor = nullptr;     // not owned
    com::CriticalSection m_csObject;
};

// True when every pointer is non-null and every BSTR they point to is too.
bool AllArgumentsPresent(std::initializer_list<const void*> pointers, std::initializer_list<const BSTR*> strings);

// The Create… steps for class Op: argumentsValid (from AllArgumentsPresent)
// and a non-null out pointer, creation (creationFailureText logged on
// failure), init(op) which cannot fail, and the query for IAsynchOperation.
template <class Op, class InitFn>
HRESULT CreateAsynchOperation(const LogSite& site, const char* creationFailureText, bool argumentsValid,
                              IAsynchOperation** operation, InitFn init);

// One module-wide counter: 1, 2, 3, … Safe from any thread.
LONG NextTransactionId();

// Hands operation (one reference) to the executor's thread with message 0x400.
// The reference travels with the message; when posting fails it is released
// here and E_FAIL returned.
HRESULT PostAsynchOperation(const LogSite& site, CAsynchOperationExecutor* executor, IAsynchOperation* operation);

// The tail of every operation-starting method, after its own checks: draws
// the transaction id into *transactionId, creates the operation with
// create(id, &op) and posts it.
HRESULT StartAsynchOperation(const LogSite& site, CAsynchOperationExecutor* executor, LONG* transactionId,
                             const std::function<HRESULT(LONG, IAsynchOperation**)>& create);

// Waits on the executor thread until the copy behind waitObject has ended and
// returns its KVFMOpResult. When the executor stops or the binding of target
// ends first, returns KVFM_E_DISCONNECTED at once (the wait object may then be
// deleted: that ends its part in the copy).
// signalledText is the line logged once the copy has ended.
LONG WaitForCopyResult(FMObjectImpl* target, CCopyFileWaitObject* waitObject,
                       const char* signalledText = "pCCopyFileWaitObject signalled");

// Dispatch ids of the object events.
enum KVFMEventDispid : DISPID {
    kDispidDeleteCompleted = 1,
    kDispidCopyToPCCompleted = 3,
    kDispidMoveToPCCompleted = 6,
    kDispidCopyFileFromPCCompleted = 11,
    kDispidCopyFolderFromPCCompleted = 12,
    kDispidMoveFileFromPCCompleted = 13,
    kDispidMoveFolderFromPCCompleted = 14,
    kDispidRenameCompleted = 32,
    kDispidNewFolderCompleted = 34,
    kDispidGetObjectsCompleted = 35,
    kDispidGetFilesCompleted = 36,
    kDispidGetFoldersCompleted = 37,
    kDispidProgress = 42,
    kDispidFileProgress = 43,
    kDispidReplaceFile = 44,
    kDispidReplaceFolder = 45,
};

// Events through the target's connection point; each returns the last sink's
// Invoke result, S_OK when no sink was called (or the target is null).
// (result VT_UI4, transaction id VT_I4): DeleteCompleted, CopyToPCCompleted,
// MoveToPCCompleted, RenameCompleted.
HRESULT FireResultEvent(FMObjectImpl* target, KVFMEventDispid id, KVFMOpResult result, LONG transactionId);
// (result VT_UI4, object VT_DISPATCH may be null, transaction id VT_I4): the
// other completion events.
HRESULT FireObjectResultEvent(FMObjectImpl* target, KVFMEventDispid id, KVFMOpResult result, IDispatch* object,
                              LONG transactionId);

inline HRESULT FireDeleteCompleted(FMObjectImpl* t, KVFMOpResult r, LONG id) { return FireResultEvent(t, kDispidDeleteCompleted, r, id); }
inline HRESULT FireCopyToPCCompleted(FMObjectImpl* t, KVFMOpResult r, LONG id) { return FireResultEvent(t, kDispidCopyToPCCompleted, r, id); }
inline HRESULT FireMoveToPCCompleted(FMObjectImpl* t, KVFMOpResult r, LONG id) { return FireResultEvent(t, kDispidMoveToPCCompleted, r, id); }
inline HRESULT FireRenameCompleted(FMObjectImpl* t, KVFMOpResult r, LONG id) { return FireResultEvent(t, kDispidRenameCompleted, r, id); }
inline HRESULT FireCopyFileFromPCCompleted(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) { return FireObjectResultEvent(t, kDispidCopyFileFromPCCompleted, r, o, id); }
inline HRESULT FireCopyFolderFromPCCompleted(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) { return FireObjectResultEvent(t, kDispidCopyFolderFromPCCompleted, r, o, id); }
inline HRESULT FireMoveFileFromPCCompleted(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) { return FireObjectResultEvent(t, kDispidMoveFileFromPCCompleted, r, o, id); }
inline HRESULT FireMoveFolderFromPCCompleted(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) { return FireObjectResultEvent(t, kDispidMoveFolderFromPCCompleted, r, o, id); }
inline HRESULT FireNewFolderCompleted(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) { return FireObjectResultEvent(t, kDispidNewFolderCompleted, r, o, id); }
inline HRESULT FireGetObjectsCompleted(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) { return FireObjectResultEvent(t, kDispidGetObjectsCompleted, r, o, id); }
inline HRESULT FireGetFilesCompleted(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) { return FireObjectResultEvent(t, kDispidGetFilesCompleted, r, o, id); }
inline HRESULT FireGetFoldersCompleted(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) { return FireObjectResultEvent(t, kDispidGetFoldersCompleted, r, o, id); }

// (percent VT_I2, transaction id VT_I4, cancel VT_BYREF|VT_I2)
HRESULT FireProgress(FMObjectImpl* target, SHORT percent, LONG transactionId, SHORT* cancel);
// (file name VT_BSTR, percent VT_I2, transaction id VT_I4, cancel VT_BYREF|VT_I2)
HRESULT FireFileProgress(FMObjectImpl* target, const wchar_t* fileName, SHORT percent, LONG transactionId,
                         SHORT* cancel);
// (transaction id VT_I4, file name VT_BSTR, date VT_DATE, size VT_I4, date VT_DATE,
//  size VT_I4, answer VT_BYREF|VT_I4)
HRESULT FireReplaceFile(FMObjectImpl* target, LONG transactionId, const wchar_t* fileName, DATE date1, LONG size1,
                        DATE date2, LONG size2, LONG* answer);
// (transaction id VT_I4, folder name VT_BSTR, answer VT_BYREF|VT_I4)
HRESULT FireReplaceFolder(FMObjectImpl* target, LONG transactionId, const wchar_t* folderName, LONG* answer);

// ---- template implementation ----

template <class Op, class InitFn>
HRESULT CreateAsynchOperation(const LogSite& site, const char* creationFailureText, bool argumentsValid,
                              IAsynchOperation** operation, InitFn init) {
    if (LogMessage m{LOGLEVEL_TRACE, site.file, site.line, site.function}; m) m << "Enter";
    if (!argumentsValid || !operation) {
        if (LogMessage m{LOGLEVEL_ERROR, site.file, site.line, site.function}; m) m << "Invalid parameter received.";
        return E_INVALIDARG;
    }
    *operation = nullptr;
    try {
        com::ComObject<Op>* object = nullptr;
        HRESULT hr = com::ComObject<Op>::CreateInstance(&object);
        if (FAILED(hr)) {
            if (LogMessage m{LOGLEVEL_ERROR, site.file, site.line, site.function}; m) m << creationFailureText;
            return hr;
        }
        // Held across Init and the query so a failure frees the object.
        object->AddRef();
        auto holder = com::ComPtr<IAsynchOperation>::Adopt(static_cast<IAsynchOperation*>(object));
        init(*static_cast<Op*>(object));
        hr = holder->QueryInterface(IID_IAsynchOperation, reinterpret_cast<void**>(operation));
        if (FAILED(hr)) {
            *operation = nullptr;
            if (LogMessage m{LOGLEVEL_ERROR, site.file, site.line, site.function}; m)
                m << "Unable to get IAsynchOperation interface.";
            return hr;
        }
    } catch (...) {
        if (LogMessage m{LOGLEVEL_ERROR, site.file, site.line, site.function}; m) m << creationFailureText;
        return E_FAIL;
    }
    if (LogMessage m{LOGLEVEL_TRACE, site.file, site.line, site.function}; m) m << "Exit";
    return S_OK;
}
