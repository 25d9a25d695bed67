#include "objects/FMObjectImpl.h"

#include <string>

#include "connector/DeviceConnector.h"
#include "connector/StorageObject.h"
#include "module/Logging.h"
#include "objects/PathFunctions.h"

namespace {

void removeOneTrailingBackslash(std::wstring& text) {
    if (!text.empty() && text.back() == L'\\') text.pop_back();
}

} // namespace

FMObjectImpl::FMObjectImpl()
    : ConnectionPointContainerImpl(DIID__IKVFMFolderEvents, m_csObject), m_bstrPath(L"unset") {
    LOG_TRACE << "FMObjectImpl created.";
}

FMObjectImpl::~FMObjectImpl() {
    LOG_TRACE << "FMObjectImpl deleted.";
}

void FMObjectImpl::FinalRelease() {
    EventConnectionPoint().ReleaseAll();
}

HRESULT FMObjectImpl::CreateInner(IUnknown* outer, IUnknown** inner, FMObjectImpl** impl) {
    if (!outer || !inner || !impl) return E_INVALIDARG;
    *inner = nullptr;
    *impl = nullptr;
    com::ComAggObject<FMObjectImpl>* object = nullptr;
    HRESULT hr = com::ComAggObject<FMObjectImpl>::CreateInstance(outer, &object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    *inner = object;
    *impl = object->Object();
    return S_OK;
}

HRESULT FMObjectImpl::Init(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path,
                           CStorageObject* storageObject) {
    LOG_TRACE << "Enter";
    if (!path) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    try {
        std::wstring text(path, SysStringLen(path));
        removeOneTrailingBackslash(text);
        com::UniqueBstr stored(text.c_str(), static_cast<UINT>(text.size()));
        if (stored.IsNull()) return E_OUTOFMEMORY;

        m_pStorageObject = storageObject;
        if (storageObject) {
            // Each value keeps its default when the storage object cannot give it.
            DWORD attributes = m_dwAttributes;
            storageObject->GetAttributes(&attributes);
            m_dwAttributes = attributes;
            storageObject->GetCreated(&m_dateCreated);
            storageObject->GetAccessed(&m_dateAccessed);
            storageObject->GetChanged(&m_dateChanged);
            DWORD forbidden = m_dwForbiddenOps;
            storageObject->GetForbiddenOps(&forbidden);
            m_dwForbiddenOps = forbidden;
        }
        m_pDeviceConnector = connector;
        m_pExecutor = executor;
        m_bBound = connector && connector->GetBinding(m_binding);
        m_bstrPath = std::move(stored);
        m_bInitialized = true;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT FMObjectImpl::put_Name(BSTR text) {
    LOG_TRACE << "Enter";
    bool root = false;
    {
        com::ScopedLock lock(m_csState);
        root = IsRootPath(m_bstrPath.c_str());
    }
    if (root) {
        LOG_ERROR << "Not allowed to set the name of the root folder.";
        return E_FAIL;
    }
    if (!text) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    try {
        std::wstring path(text, SysStringLen(text));
        removeOneTrailingBackslash(path);
        com::UniqueBstr stored(path.c_str(), static_cast<UINT>(path.size()));
        if (stored.IsNull()) return E_OUTOFMEMORY;
        {
            com::ScopedLock lock(m_csState);
            std::swap(m_bstrPath, stored);
        }
        // The old path is freed here, outside the lock.
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

STDMETHODIMP FMObjectImpl::get_Name(BSTR* name) {
    LOG_TRACE << "Enter";
    if (!name) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    BSTR result = nullptr;
    {
        com::ScopedLock lock(m_csState);
        const wchar_t* path = m_bstrPath.c_str();
        const wchar_t* last = L"";
        if (!IsRootPath(path)) {
            const wchar_t* slash = wcsrchr(path, L'\\');
            last = slash ? slash + 1 : path;
        }
        result = SysAllocString(last);
    }
    if (!result) return E_OUTOFMEMORY;
    *name = result;
    LOG_TRACE << "Exit";
    return S_OK;
}

STDMETHODIMP FMObjectImpl::get_Path(BSTR* path) {
    LOG_TRACE << "Enter";
    if (!m_bInitialized) {
        LOG_ERROR << "FMObject is not initialized";
        return E_FAIL;
    }
    if (!path) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    HRESULT hr = E_FAIL;
    {
        com::ScopedLock lock(m_csState);
        hr = m_bstrPath.CopyTo(path);
    }
    if (FAILED(hr)) return hr;
    LOG_TRACE << "Exit";
    return S_OK;
}

STDMETHODIMP FMObjectImpl::get_Parent(IKVFMFolder** parent) {
    LOG_TRACE << "Enter";
    if (!m_bInitialized) {
        LOG_ERROR << "FMObject is not initialized";
        return E_FAIL;
    }
    if (!parent) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    try {
        com::UniqueBstr path;
        HRESULT hr = get_Path(path.Receive());
        if (FAILED(hr)) return hr;
        std::wstring parentPath, name;
        hr = SplitPath(path.c_str(), parentPath, name);
        if (FAILED(hr)) return E_FAIL;  // a root has no parent
        if (!m_pDeviceConnector) {
            LOG_ERROR << "No device connector";
            return E_FAIL;
        }
        if (!BindingUsable()) return E_FAIL;
        BSTR parentBstr = SysAllocStringLen(parentPath.c_str(), static_cast<UINT>(parentPath.size()));
        if (!parentBstr) return E_OUTOFMEMORY;
        com::UniqueBstr owner = com::UniqueBstr::Adopt(parentBstr);
        hr = m_pDeviceConnector->getKVFMFolder(parentBstr, parent);
        if (FAILED(hr)) return hr;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

STDMETHODIMP FMObjectImpl::get_Created(DATE* time) {
    if (!time) return E_INVALIDARG;
    *time = getState(m_dateCreated);
    return S_OK;
}

STDMETHODIMP FMObjectImpl::get_Accessed(DATE* time) {
    if (!time) return E_INVALIDARG;
    *time = getState(m_dateAccessed);
    return S_OK;
}

STDMETHODIMP FMObjectImpl::get_Changed(DATE* time) {
    if (!time) return E_INVALIDARG;
    *time = getState(m_dateChanged);
    return S_OK;
}

STDMETHODIMP FMObjectImpl::get_FileAttributes(LONG* attributes) {
    LOG_TRACE << "Enter";
    if (!m_bInitialized) {
        LOG_ERROR << "FMObject is not initialized";
        return E_FAIL;
    }
    if (!attributes) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *attributes = static_cast<LONG>(getState(m_dwAttributes));
    LOG_TRACE << "Exit";
    return S_OK;
}

bool FMObjectImpl::BindingUsable() const {
    if (!m_bBound || m_binding.Valid()) return true;
    LOG_ERROR << "The phone this object belongs to is no longer bound.";
    return false;
}
