#include "objects/FMMountPoint.h"

#include <memory>

#include "connector/StorageObject.h"
#include "module/Logging.h"

HRESULT CFMMountPoint::FinalConstruct() {
    com::ComAggObject<CFMFolder>* folder = nullptr;
    HRESULT hr = com::ComAggObject<CFMFolder>::CreateInstance(ControllingUnknown(), &folder);
    if (FAILED(hr) || !folder) {
        LOG_ERROR << "Failed to get inner unknown";
        return FAILED(hr) ? hr : E_FAIL;
    }
    folder->AddRef();
    m_pFolderUnknown = folder;
    m_pFolder = folder->Object();
    return S_OK;
}

void CFMMountPoint::FinalRelease() {
    if (IUnknown* inner = m_pFolderUnknown) {
        m_pFolderUnknown = nullptr;
        m_pFolder = nullptr;
        inner->Release();
    }
}

HRESULT CFMMountPoint::ForwardToFolder(void* object, REFIID iid, void** ppv, uintptr_t) {
    IUnknown* inner = static_cast<CFMMountPoint*>(object)->m_pFolderUnknown;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
}

HRESULT CFMMountPoint::CreateCFMMountPointInstance(CAsynchOperationExecutor* executor, DeviceConnector* connector,
                                                   BSTR path, CMountPoint* storageMountPoint,
                                                   IKVFMMountPoint** mountPoint) {
    LOG_TRACE << "Enter";
    std::unique_ptr<CMountPoint> owned(storageMountPoint);
    if (!executor || !connector || !storageMountPoint || !mountPoint) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *mountPoint = nullptr;
    com::ComObject<CFMMountPoint>* object = nullptr;
    HRESULT hr = com::ComObject<CFMMountPoint>::CreateInstance(&object);
    if (FAILED(hr)) {
        LOG_ERROR << "Could not create instance of MFMountPoint";
        return hr;
    }
    object->AddRef();
    auto holder = com::ComPtr<IKVFMMountPoint>::Adopt(static_cast<IKVFMMountPoint*>(object));
    object->Init(executor, connector, path, owned.release());
    LOG_TRACE << "Exit";
    return holder->QueryInterface(IID_IKVFMMountPoint, reinterpret_cast<void**>(mountPoint));
}

void CFMMountPoint::Init(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path,
                         CMountPoint* storageMountPoint) {
    LOG_TRACE << "Enter";
    if (!executor || !connector || !storageMountPoint) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        delete storageMountPoint;
        return;
    }
    // Read once: the object shows the drive as it was when made.
    storageMountPoint->GetMemCapacity(&m_ulCapacity);
    storageMountPoint->GetMemFree(&m_ulFree);
    storageMountPoint->GetMemUsed(&m_ulUsed);
    com::UniqueBstr label;
    if (SUCCEEDED(storageMountPoint->GetLabel(label.Receive()))) m_bstrLabel = std::move(label);
    storageMountPoint->GetMedia(&m_lMedia);
    m_pFolder->Init(executor, connector, path, storageMountPoint);
    LOG_TRACE << "Exit";
}

STDMETHODIMP CFMMountPoint::get_Type(LONG* kind) {
    if (!kind) return E_INVALIDARG;
    *kind = 3;
    return S_OK;
}

namespace {

HRESULT readValue(LONG value, LONG* out) {
    if (!out) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *out = value;
    return S_OK;
}

} // namespace

STDMETHODIMP CFMMountPoint::get_Capacity(LONG* capacity) { return readValue(static_cast<LONG>(m_ulCapacity), capacity); }
STDMETHODIMP CFMMountPoint::get_Free(LONG* freeSpace) { return readValue(static_cast<LONG>(m_ulFree), freeSpace); }
STDMETHODIMP CFMMountPoint::get_Used(LONG* usedSpace) { return readValue(static_cast<LONG>(m_ulUsed), usedSpace); }
STDMETHODIMP CFMMountPoint::get_Media(LONG* media) { return readValue(m_lMedia, media); }

STDMETHODIMP CFMMountPoint::get_Label(BSTR* label) {
    if (!label) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *label = nullptr;
    return m_bstrLabel.IsNull() ? S_OK : m_bstrLabel.CopyTo(label);
}

STDMETHODIMP CFMMountPoint::Format() {
    LOG_DEBUG << "Formatting...";
    return S_OK;
}
