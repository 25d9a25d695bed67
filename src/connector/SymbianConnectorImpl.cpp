#include "connector/SymbianConnectorImpl.h"

#include <cwchar>
#include <new>

#include "mapping/FMBrowserMapping.h"
#include "mapping/FMMassStorageMapping.h"
#include "mapping/FMRawMapping.h"
#include "module/Logging.h"

const CLSID CLSID_SCOMApplication = {0x98c34439, 0x558e, 0x4bde, {0xac, 0x27, 0x25, 0xd5, 0x3a, 0x20, 0x2e, 0x95}};

namespace {

// In-process server, in-process handler, local server, remote server.
constexpr DWORD kScomClassContext = 23;

bool SameText(const _bstr_t& a, const _bstr_t& b) {
    const wchar_t* pa = static_cast<const wchar_t*>(a);
    const wchar_t* pb = static_cast<const wchar_t*>(b);
    if (pa == pb) return true;
    const UINT la = a.length(), lb = b.length();
    return la == lb && (la == 0 || std::wmemcmp(pa, pb, la) == 0);
}

} // namespace

SymbianConnector::SymbianConnector()
    : m_bInitialized(false),
      m_bBrowserMappingInUse(false),
      m_pExecutor(nullptr),
      m_state(std::make_shared<BindingState>()) {
    LOG_TRACE << "Creating SymbianConnector";
}

SymbianConnector::~SymbianConnector() {
    LOG_TRACE << "Deleting SymbianConnector";
    m_bInitialized.store(false);
    BindingLease::EndBinding(*m_state);
    m_pMapping.reset();
    m_pMassStorageMapping.reset();
}

BindingLease SymbianConnector::leaseBinding() const {
    BindingLease lease(m_state, [this] { return m_bInitialized.load(); });
    if (!lease) {
        LOG_ERROR << "SymbianConnector not initialized.";
    }
    return lease;
}

std::shared_ptr<CFolderMapping> SymbianConnector::GetMapping() const {
    BindingLease lease = leaseBinding();
    return lease ? m_pMapping : nullptr;
}

std::shared_ptr<CFolderMapping> SymbianConnector::GetMassStorageMapping() const {
    BindingLease lease = leaseBinding();
    return lease ? m_pMassStorageMapping : nullptr;
}

HRESULT SymbianConnector::CreateApplication(ISCApplication** out) {
    *out = nullptr;
    com::ComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(CLSID_SCOMApplication, nullptr, kScomClassContext, IID_IUnknown,
                                  unknown.ReceiveVoid());
    if (FAILED(hr)) return hr;
    // The context includes a local server, which must be running before it is used.
    hr = OleRun(unknown.Get());
    if (FAILED(hr)) return hr;
    return unknown->QueryInterface(IID_ISCApplication, reinterpret_cast<void**>(out));
}

std::shared_ptr<CFolderMapping> SymbianConnector::CreateBrowserMapping() {
    return std::shared_ptr<CFolderMapping>(new (std::nothrow) CFMBrowserMapping());
}

std::shared_ptr<CFolderMapping> SymbianConnector::CreateMassStorageMapping() {
    return std::shared_ptr<CFolderMapping>(new (std::nothrow) CFMMassStorageMapping());
}

std::shared_ptr<CFolderMapping> SymbianConnector::CreateRawMapping() {
    return std::shared_ptr<CFolderMapping>(new (std::nothrow) CFMRawMapping());
}

HRESULT SymbianConnector::Initialize(ISCDevice* pISCDevice, CAsynchOperationExecutor* pCAsynchOperationExecutor,
                                     BSTR uid) {
    LOG_TRACE << "Enter";
    if (m_bInitialized) {
        LOG_ERROR << "Already initialized! Try Uninitialize before new attempt.";
        return E_FAIL;
    }
    if (!pISCDevice || !pCAsynchOperationExecutor) {
        LOG_ERROR << "Received NULL pointer references, pISCDevice=0x" << pISCDevice
                  << " and pCAsynchOperationExecutor=0x" << pCAsynchOperationExecutor;
        return E_INVALIDARG;
    }
    m_pExecutor = pCAsynchOperationExecutor;
    LOG_DEBUG << "Creating instance of Symbian SCOM application object";
    HRESULT hr = CreateApplication(m_pApplication.Receive());
    if (FAILED(hr)) {
        m_pApplication.Reset();
        LOG_FATAL << "Failed to create Symbian connect application object";
        return hr;
    }
    if (FAILED(GetDevice(pISCDevice))) {
        LOG_ERROR << "Could not get ISCDevice interface for device";
        return E_FAIL;
    }
    if (FAILED(GetMapping(uid))) return E_FAIL;
    // Published last: a lease sees either no binding or all of this one.
    ++m_state->generation;
    m_bInitialized.store(true);
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT SymbianConnector::GetDevice(ISCDevice* pISCDevice) {
    // The collection calls raise _com_error; it must not leave a COM method.
    try {
        return findDevice(pISCDevice);
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to search the connected devices. ErrorMessage = "
                  << static_cast<const wchar_t*>(e.ErrorMessage());
    } catch (...) {
        LOG_ERROR << "Failed to search the connected devices.";
    }
    return E_FAIL;
}

HRESULT SymbianConnector::findDevice(ISCDevice* pISCDevice) {
    LOG_DEBUG << "Retreiving list of connected devices according to Symbian SCOM";
    com::ComPtr<ISCDevices> devices = scom::Devices(m_pApplication.Get());
    if (scom::Count(devices.Get()) < 1) {
        LOG_ERROR << "Could not find any connected devices";
        return E_FAIL;
    }
    const _bstr_t wanted = scom::Imei(pISCDevice);
    LOG_DEBUG << "Searching for ISCDevice interface to device with IMEI=" << static_cast<const wchar_t*>(wanted);
    for (long index = 1; index <= scom::Count(devices.Get()); ++index) {
        m_pDevice = scom::Item(devices.Get(), index);
        m_bstrImei = scom::Imei(m_pDevice.Get());
        if (SameText(m_bstrImei, wanted)) {
            LOG_DEBUG << "Got ISCDevice interface for the device";
            return S_OK;
        }
    }
    LOG_ERROR << "Could not get ISCDevice interface for device";
    LOG_DEBUG << "with IMEI=" << static_cast<const wchar_t*>(wanted);
    m_bstrImei = L"";
    return E_FAIL;
}

HRESULT SymbianConnector::GetMapping(BSTR uid) {
    m_pMapping = CreateBrowserMapping();
    if (!m_pMapping) {
        LOG_ERROR << "Can't create mapping object.";
        return E_FAIL;
    }
    if (SUCCEEDED(m_pMapping->Init(uid, m_bstrImei.GetBSTR()))) {
        m_bBrowserMappingInUse = true;
        m_pMassStorageMapping = CreateMassStorageMapping();
        if (!m_pMassStorageMapping) {
            LOG_WARNING << "Can't create mass storage mapping object.";
            LOG_WARNING << "Continue without support for Mass Storage...";
        } else if (FAILED(m_pMassStorageMapping->Init(uid, m_bstrImei.GetBSTR()))) {
            LOG_WARNING << "Failed to initialize the mass storage mapping object.";
            LOG_WARNING << "Continue without support for Mass Storage...";
            m_pMassStorageMapping.reset();
        }
        return S_OK;
    }
    LOG_ERROR << "Failed to initialize the prefered mapping object.";
    LOG_ERROR << "Try the default raw mapping object instead.";
    m_bBrowserMappingInUse = false;
    m_pMapping = CreateRawMapping();
    if (!m_pMapping) {
        LOG_ERROR << "Can't create default mapping object.";
        return E_FAIL;
    }
    if (FAILED(m_pMapping->Init(uid, m_bstrImei.GetBSTR()))) {
        m_pMapping.reset();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT SymbianConnector::Uninitialize() {
    LOG_TRACE << "Uninitialize of SymbianConnector";
    m_bInitialized.store(false);
    // Storage objects of this binding may still hold the mappings; they see
    // the new generation and stop using them. Calls already resolving on
    // this binding finish first.
    BindingLease::EndBinding(*m_state);
    m_pExecutor = nullptr;
    m_pMapping.reset();
    m_pMassStorageMapping.reset();
    m_bBrowserMappingInUse = false;
    return S_OK;
}

HRESULT SymbianConnector::GetISCApplication(IUnknown** out) {
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
    if (!out) return E_POINTER;
    return m_pApplication->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
}

HRESULT SymbianConnector::GetISCDevice(ISCDevice** out) {
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
    if (!out) return E_POINTER;
    return m_pDevice.CopyTo(out);
}

void BindingLease::EndBinding(BindingState& state) {
    ++state.generation;
    const ULONGLONG start = GetTickCount64();
    ULONGLONG reported = start;
    while (state.users.load() != 0) {
        Sleep(1);
        if (GetTickCount64() - reported >= 5000) {
            reported = GetTickCount64();
            LOG_WARNING << "Still waiting for calls on the ended binding, " << (reported - start) << " ms";
        }
    }
}
