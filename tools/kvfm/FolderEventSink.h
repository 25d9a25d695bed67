// An event sink for _IKVFMFolderEvents, Advise'd on folders' connection points.
// Morvane may fire events on its worker thread while the client waits on its
// own thread, so completions are kept under a lock and waiters are woken by an
// event handle; the waiting thread pumps messages meanwhile.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ComSupport.h"

namespace kvfm {

// Dispatch ids of _IKVFMFolderEvents (idl/KVFileMgmtInterfaces.idl).
enum FolderEvent : DISPID {
    evDeleteCompleted = 1,
    evCopyToPCCompleted = 3,
    evMoveToPCCompleted = 6,
    evCopyFileFromPCCompleted = 11,
    evCopyFolderFromPCCompleted = 12,
    evMoveFileFromPCCompleted = 13,
    evMoveFolderFromPCCompleted = 14,
    evRenameCompleted = 32,
    evNewFolderCompleted = 34,
    evGetObjectsCompleted = 35,
    evGetFilesCompleted = 36,
    evGetFoldersCompleted = 37,
    evProgress = 42,
    evFileProgress = 43,
    evReplaceFile = 44,
    evReplaceFolder = 45,
};

class FolderEventSink final : public IDispatch {
public:
    // The end of one asynchronous operation.
    struct Completion {
        DISPID event = 0;
        ULONG result = 0;          // a KVFMOpResult
        ComPtr<IDispatch> object;  // collection or new object, for events that carry one
    };

    struct Progress {
        DISPID event = 0;  // evProgress or evFileProgress
        LONG transactionId = 0;
        SHORT percent = 0;
        std::wstring fileName;  // evFileProgress only
    };
    // Returns true to cancel the operation. Called on the firing thread.
    using ProgressHandler = std::function<bool(const Progress&)>;

    struct Replace {
        DISPID event = 0;  // evReplaceFile or evReplaceFolder
        LONG transactionId = 0;
        std::wstring name;
        DATE existingDate = 0, newDate = 0;  // files only
        LONG existingSize = 0, newSize = 0;  // files only
    };
    // Gets the answer Morvane proposed and returns the one to give back.
    using ReplaceHandler = std::function<LONG(const Replace&, LONG proposed)>;

    static ComPtr<FolderEventSink> Create();

    // Connects to the _IKVFMFolderEvents point of a folder; several sources may share one sink.
    HRESULT Advise(IUnknown* source);
    void UnadviseAll();

    void SetProgressHandler(ProgressHandler handler);
    void SetReplaceHandler(ReplaceHandler handler);

    // Pumps messages until the completion of transactionId arrives (it may
    // have arrived already) or timeoutMs elapses (HRESULT_FROM_WIN32(ERROR_TIMEOUT)).
    HRESULT WaitForCompletion(LONG transactionId, DWORD timeoutMs, Completion& completion);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

private:
    // A completion as received: the object travels through the global
    // interface table, as it may have been delivered in another apartment.
    struct Pending {
        DISPID event = 0;
        ULONG result = 0;
        DWORD gitCookie = 0;
        IDispatch* direct = nullptr;  // when the table was not usable on the firing thread
    };

    FolderEventSink();
    ~FolderEventSink();

    HRESULT OnCompletion(DISPID id, DISPPARAMS* params);
    HRESULT OnProgress(DISPID id, DISPPARAMS* params);
    HRESULT OnReplace(DISPID id, DISPPARAMS* params);
    void ReleasePending(Pending& pending);

    LONG m_refs = 1;
    HANDLE m_arrived = nullptr;
    std::mutex m_lock;
    std::map<LONG, Pending> m_completions;
    ProgressHandler m_progress;
    ReplaceHandler m_replace;
    std::vector<std::pair<ComPtr<IConnectionPoint>, DWORD>> m_connections;
};

} // namespace kvfm
