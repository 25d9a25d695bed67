#include "FolderEventSink.h"

#include "KVFileMgmt.h"

namespace kvfm {

namespace {

// Invoke passes the last argument first.
VARIANT* Arg(DISPPARAMS* params, UINT index) {
    return &params->rgvarg[params->cArgs - 1 - index];
}

// A by-value argument converted to vt; by-reference arguments are read through.
HRESULT ArgAs(DISPPARAMS* params, UINT index, VARTYPE vt, Variant& out) {
    Variant direct;
    HRESULT hr = VariantCopyInd(direct.Get(), Arg(params, index));
    if (FAILED(hr)) return hr;
    return VariantChangeType(out.Put(), direct.Get(), 0, vt);
}

// The storage behind an [in, out] argument of the given 16- or 32-bit type.
template <class T>
T* OutArg(DISPPARAMS* params, UINT index) {
    VARIANT* v = Arg(params, index);
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
    if (!(v->vt & VT_BYREF)) return nullptr;
    const VARTYPE base = v->vt & VT_TYPEMASK;
    if (sizeof(T) == 2 && (base == VT_I2 || base == VT_UI2 || base == VT_BOOL)) return static_cast<T*>(v->byref);
    if (sizeof(T) == 4 && (base == VT_I4 || base == VT_UI4 || base == VT_INT || base == VT_UINT))
        return static_cast<T*>(v->byref);
    return nullptr;
}

bool CarriesObject(DISPID id) {
    switch (id) {
    case evCopyFileFromPCCompleted:
    case evCopyFolderFromPCCompleted:
    case evMoveFileFromPCCompleted:
    case evMoveFolderFromPCCompleted:
    case evNewFolderCompleted:
    case evGetObjectsCompleted:
    case evGetFilesCompleted:
    case evGetFoldersCompleted:
        return true;
    default:
        return false;
    }
}

ComPtr<IGlobalInterfaceTable> InterfaceTable() {
    ComPtr<IGlobalInterfaceTable> git;
    CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                     git.PutVoid());
    return git;
}

} // namespace

ComPtr<FolderEventSink> FolderEventSink::Create() {
    // The new object's first reference goes to the smart pointer.
    return ComPtr<FolderEventSink>(new FolderEventSink(), false);
}

FolderEventSink::FolderEventSink() : m_arrived(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

FolderEventSink::~FolderEventSink() {
    for (auto& entry : m_completions) ReleasePending(entry.second);
    if (m_arrived) CloseHandle(m_arrived);
}

void FolderEventSink::ReleasePending(Pending& pending) {
    if (pending.gitCookie) {
        if (auto git = InterfaceTable()) git->RevokeInterfaceFromGlobal(pending.gitCookie);
        pending.gitCookie = 0;
    }
    if (pending.direct) {
        pending.direct->Release();
        pending.direct = nullptr;
    }
}

HRESULT FolderEventSink::Advise(IUnknown* source) {
    if (!source) return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(DIID__IKVFMFolderEvents, point.Put());
    if (FAILED(hr)) return hr;
    DWORD cookie = 0;
    hr = point->Advise(static_cast<IDispatch*>(this), &cookie);
    if (FAILED(hr)) return hr;
    m_connections.emplace_back(point, cookie);
    return S_OK;
}

void FolderEventSink::UnadviseAll() {
    // The connection points hold references to this sink: undo them in reverse.
    while (!m_connections.empty()) {
        auto connection = m_connections.back();
        m_connections.pop_back();
        connection.first->Unadvise(connection.second);
    }
}

void FolderEventSink::SetProgressHandler(ProgressHandler handler) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_progress = std::move(handler);
}

void FolderEventSink::SetReplaceHandler(ReplaceHandler handler) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_replace = std::move(handler);
}

HRESULT FolderEventSink::WaitForCompletion(LONG transactionId, DWORD timeoutMs, Completion& completion) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        Pending pending;
        bool found = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            auto it = m_completions.find(transactionId);
            if (it != m_completions.end()) {
                pending = it->second;
                m_completions.erase(it);
                found = true;
            }
        }
        if (found) {
            completion.event = pending.event;
            completion.result = pending.result;
            completion.object.Reset();
            HRESULT hr = S_OK;
            if (pending.gitCookie) {
                if (auto git = InterfaceTable())
                    hr = git->GetInterfaceFromGlobal(pending.gitCookie, IID_IDispatch, completion.object.PutVoid());
                else
                    hr = E_UNEXPECTED;
            } else if (pending.direct) {
                completion.object = ComPtr<IDispatch>(pending.direct);
            }
            ReleasePending(pending);
            return hr;
        }

        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        const DWORD wait = MsgWaitForMultipleObjects(1, &m_arrived, FALSE, static_cast<DWORD>(deadline - now),
                                                     QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    // Leave the quit request to whoever owns the loop.
                    PostQuitMessage(static_cast<int>(msg.wParam));
                    return E_ABORT;
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        } else if (wait == WAIT_FAILED) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
    }
}

HRESULT FolderEventSink::OnCompletion(DISPID id, DISPPARAMS* params) {
    const bool withObject = CarriesObject(id);
    if (params->cArgs != (withObject ? 3u : 2u)) return DISP_E_BADPARAMCOUNT;
    Variant result, transaction;
    HRESULT hr = ArgAs(params, 0, VT_UI4, result);
    if (SUCCEEDED(hr)) hr = ArgAs(params, withObject ? 2 : 1, VT_I4, transaction);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;

    Pending pending;
    pending.event = id;
    pending.result = (*result).ulVal;
    if (withObject) {
        Variant object;
        if (SUCCEEDED(ArgAs(params, 1, VT_DISPATCH, object)) && (*object).pdispVal) {
            IDispatch* dispatch = (*object).pdispVal;
            auto git = InterfaceTable();
            if (!git || FAILED(git->RegisterInterfaceInGlobal(dispatch, IID_IDispatch, &pending.gitCookie))) {
                pending.gitCookie = 0;
                dispatch->AddRef();
                pending.direct = dispatch;
            }
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_completions.find((*transaction).lVal);
        if (it != m_completions.end()) ReleasePending(it->second);
        m_completions[(*transaction).lVal] = pending;
    }
    SetEvent(m_arrived);
    return S_OK;
}

HRESULT FolderEventSink::OnProgress(DISPID id, DISPPARAMS* params) {
    const bool perFile = id == evFileProgress;
    if (params->cArgs != (perFile ? 4u : 3u)) return DISP_E_BADPARAMCOUNT;
    const UINT first = perFile ? 1 : 0;
    Progress progress;
    progress.event = id;
    Variant percent, transaction;
    if (FAILED(ArgAs(params, first, VT_I2, percent)) || FAILED(ArgAs(params, first + 1, VT_I4, transaction)))
        return DISP_E_TYPEMISMATCH;
    progress.percent = (*percent).iVal;
    progress.transactionId = (*transaction).lVal;
    if (perFile) {
        Variant name;
        if (FAILED(ArgAs(params, 0, VT_BSTR, name))) return DISP_E_TYPEMISMATCH;
        if ((*name).bstrVal) progress.fileName.assign((*name).bstrVal, SysStringLen((*name).bstrVal));
    }
    SHORT* cancel = OutArg<SHORT>(params, first + 2);
    if (!cancel) return DISP_E_TYPEMISMATCH;

    ProgressHandler handler;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        handler = m_progress;
    }
    // Morvane's folder delete stops only on exactly 1, not on VARIANT_TRUE.
    if (handler && handler(progress)) *cancel = 1;
    return S_OK;
}

HRESULT FolderEventSink::OnReplace(DISPID id, DISPPARAMS* params) {
    const bool file = id == evReplaceFile;
    if (params->cArgs != (file ? 7u : 3u)) return DISP_E_BADPARAMCOUNT;
    Replace replace;
    replace.event = id;
    Variant transaction, name;
    if (FAILED(ArgAs(params, 0, VT_I4, transaction)) || FAILED(ArgAs(params, 1, VT_BSTR, name)))
        return DISP_E_TYPEMISMATCH;
    replace.transactionId = (*transaction).lVal;
    if ((*name).bstrVal) replace.name.assign((*name).bstrVal, SysStringLen((*name).bstrVal));
    if (file) {
        Variant existingDate, existingSize, newDate, newSize;
        if (FAILED(ArgAs(params, 2, VT_DATE, existingDate)) || FAILED(ArgAs(params, 3, VT_I4, existingSize)) ||
            FAILED(ArgAs(params, 4, VT_DATE, newDate)) || FAILED(ArgAs(params, 5, VT_I4, newSize)))
            return DISP_E_TYPEMISMATCH;
        replace.existingDate = (*existingDate).date;
        replace.existingSize = (*existingSize).lVal;
        replace.newDate = (*newDate).date;
        replace.newSize = (*newSize).lVal;
    }
    LONG* answer = OutArg<LONG>(params, file ? 6 : 2);
    if (!answer) return DISP_E_TYPEMISMATCH;

    ReplaceHandler handler;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        handler = m_replace;
    }
    if (handler) *answer = handler(replace, *answer);
    return S_OK;
}

STDMETHODIMP FolderEventSink::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID__IKVFMFolderEvents)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FolderEventSink::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

STDMETHODIMP_(ULONG) FolderEventSink::Release() {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

STDMETHODIMP FolderEventSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP FolderEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FolderEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    // Sources call by dispatch id only.
    return E_NOTIMPL;
}

STDMETHODIMP FolderEventSink::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
    if (result) VariantInit(result);
    switch (id) {
    case evProgress:
    case evFileProgress:
        return OnProgress(id, params);
    case evReplaceFile:
    case evReplaceFolder:
        return OnReplace(id, params);
    case evDeleteCompleted:
    case evCopyToPCCompleted:
    case evMoveToPCCompleted:
    case evRenameCompleted:
        return OnCompletion(id, params);
    default:
        if (CarriesObject(id)) return OnCompletion(id, params);
        return DISP_E_MEMBERNOTFOUND;
    }
}

} // namespace kvfm
