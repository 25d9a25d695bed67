#include "objects/FileMgmt.h"

#include "module/FMService.h"
#include "module/Logging.h"
#include "objects/PathFunctions.h"
#include "connector/SymbianConnectorImpl.h"

#include <string>

CFileMgmt::CFileMgmt() : m_pDeviceConnector(nullptr), m_pService(nullptr) {
    LOG_TRACE << "Creating CFileMgmt object. this=0x" << this;
}

CFileMgmt::~CFileMgmt() {
    LOG_TRACE << "Deleting Tessal CFileMgmt object";
    if (m_pService) static_cast<IKVFileMgmtService*>(m_pService)->Release();
}

HRESULT CFileMgmt::FinalConstruct() {
    LOG_TRACE << "FinalConstruct CFileMgmt for Tessal";
    return S_OK;
}

void CFileMgmt::FinalRelease() { LOG_TRACE << "FinalRelease CFileMgmt for Tessal"; }

HRESULT CFileMgmt::Initialize(CFMService* service) {
    LOG_TRACE << "Enter";
    if (!service) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    // One counted reference keeps the service alive as long as this object.
    static_cast<IKVFileMgmtService*>(service)->AddRef();
    if (m_pService) static_cast<IKVFileMgmtService*>(m_pService)->Release();
    m_pService = service;
    m_pDeviceConnector = service->GetSymbianConnector();
    if (!m_pDeviceConnector) {
        LOG_ERROR << "Invalid DeviceConnector. NULL pointer received.";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

bool CFileMgmt::HasBoundDevice() const { return m_pService && m_pService->IsDeviceBound(); }

STDMETHODIMP CFileMgmt::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsEqualIID(iid, IID_IKVFileMgmt) ? S_OK : S_FALSE;
}

STDMETHODIMP CFileMgmt::CreateFMFile(BSTR path, IKVFMFile** file) {
    LOG_TRACE << "Enter";
    if (!HasBoundDevice()) {
        LOG_ERROR << "The CFileMgmt object has not been initialized with any device to use";
        return E_FAIL;
    }
    if (!file) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    HRESULT hr = Resolve(path, false, [&](BSTR& p) { return m_pDeviceConnector->getKVFMFile(p, file); });
    LOG_TRACE << "Exit";
    return hr;
}

STDMETHODIMP CFileMgmt::CreateFMFolder(BSTR path, IKVFMFolder** folder) {
    LOG_TRACE << "Enter";
    if (!HasBoundDevice()) {
        LOG_ERROR << "The CFileMgmt object has not been initialized with any device to use";
        return E_FAIL;
    }
    if (!folder) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    // With and without a trailing backslash name the same folder.
    HRESULT hr = Resolve(path, true, [&](BSTR& p) { return m_pDeviceConnector->getKVFMFolder(p, folder); });
    LOG_TRACE << "Exit";
    return hr;
}

template <class Fn>
HRESULT CFileMgmt::Resolve(BSTR path, bool appendBackslash, Fn resolve) {
    try {
        std::wstring text = path ? std::wstring(path, SysStringLen(path)) : std::wstring();
        if (appendBackslash) text += L'\\';
        std::wstring normalised;
        HRESULT hr = NormalisePath(text.c_str(), normalised);
        if (FAILED(hr)) {
            LOG_ERROR << "Path refused: 0x" << LogHex(hr);
            return hr;
        }
        com::UniqueBstr bstr(normalised.c_str(), static_cast<UINT>(normalised.size()));
        if (bstr.IsNull()) return E_OUTOFMEMORY;
        BSTR p = bstr.Get();
        return resolve(p);
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }
}
