#include "module/FMService.h"

#include <exception>
#include <new>
#include <stdexcept>

#include "connector/SymbianConnectorImpl.h"
#include "module/Logging.h"
#include "objects/FileMgmt.h"
#include "operations/AsynchOperationExecutor.h"

namespace {

// Holds the device mutex for one binding or unbinding.
class DeviceMutexLock {
public:
    explicit DeviceMutexLock(HANDLE mutex) : m_mutex(mutex) { WaitForSingleObject(m_mutex, INFINITE); }
    ~DeviceMutexLock() { ReleaseMutex(m_mutex); }
    DeviceMutexLock(const DeviceMutexLock&) = delete;
    DeviceMutexLock& operator=(const DeviceMutexLock&) = delete;

private:
    HANDLE m_mutex;
};

} // namespace

CFMService::CFMService()
    : m_pExecutor(nullptr),
      m_bDeviceBound(false),
      m_bLogStarted(false),
      m_strLogFilePattern(std::string(g_logRootName) + "." + g_logApplicationName + ".*") {
    m_hDeviceMutex.Reset(CreateMutexW(nullptr, FALSE, nullptr));
    if (!m_hDeviceMutex) throw std::runtime_error("CreateMutex failed");
}

CFMService::~CFMService() {
    LOG_TRACE << "Deleting Tessal CFMService object";
    if (m_bLogStarted) EndLog(m_bLogStarted);
}

HRESULT CFMService::FinalConstruct() {
    StartLog(m_bLogStarted);
    LOG_TRACE << "Enter";
    try {
        m_pExecutor = new (std::nothrow) CAsynchOperationExecutor();
        if (!m_pExecutor) {
            LOG_ERROR << "Failed to create CAsynchOperationExecutor";
            return E_FAIL;
        }
        HRESULT hr = m_pExecutor->Initialize();
        if (FAILED(hr)) {
            LOG_ERROR << "Failed to initialize CAsynchOperationExecutor";
            return hr;
        }
        m_pSymbianConnector = std::make_shared<SymbianConnector>();
        if (!m_pSymbianConnector) {
            LOG_ERROR << "Failed to create SymbianConnector";
            return E_FAIL;
        }
    } catch (const std::exception& e) {
        LOG_ERROR << "Exception caught: " << e.what();
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

void CFMService::FinalRelease() {
    LOG_TRACE << "Enter";
    if (m_pSymbianConnector) {
        UnsetDevice();
        // Objects still alive keep the (unbound) connector until they go.
        m_pSymbianConnector.reset();
        LOG_TRACE << "m_pSymbianConnector is now 0x" << m_pSymbianConnector.get() << " for object 0x" << this;
    }
    if (m_pExecutor) {
        delete m_pExecutor;
        m_pExecutor = nullptr;
    }
    LOG_TRACE << "Exit";
}

STDMETHODIMP CFMService::SetDeviceInformation(IUnknown* unk, BSTR uid) try {
    LOG_TRACE << "Enter";
    LOG_INFO << "unk=" << unk << ", uid=" << static_cast<const wchar_t*>(uid ? uid : L"");
    if (!unk) {
        LOG_EVENT << "Device Manager signalling that device disconnected";
        UnsetDevice();
        return S_OK;
    }
    LOG_EVENT << "Device Manager notifying FileMgmt that device connected";
    com::ComPtr<ISCDevice> device;
    HRESULT hr = unk->QueryInterface(IID_ISCDevice, device.ReceiveVoid());
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to get ISCDevice interface to device";
        return hr;
    }
    LOG_TRACE << "Exit";
    return SetDevice(device.Get(), uid);
} catch (...) {
    // Binding builds the mappings; running out of memory there fails the call.
    LOG_ERROR << "Unhandled exception caught";
    return E_FAIL;
}

HRESULT CFMService::SetDevice(ISCDevice* device, BSTR uid) {
    DeviceMutexLock lock(m_hDeviceMutex.Get());
    if (!device) return E_INVALIDARG;
    LOG_DEBUG << "SetDevice called for object 0x" << this;
    if (m_bDeviceBound) {
        LOG_DEBUG << "SetDevice skipped";
        return S_OK;
    }
    com::UniqueBstr imei;
    device->get_IMEI(imei.Receive());
    LOG_INFO << "Tessal connecting to device with Imei: " << imei.c_str();
    if (FAILED(m_pSymbianConnector->Initialize(device, m_pExecutor, uid))) {
        LOG_ERROR << "Failed to initialize SymbianConnector";
        return E_FAIL;
    }
    m_bDeviceBound = true;
    return S_OK;
}

void CFMService::UnsetDevice() {
    DeviceMutexLock lock(m_hDeviceMutex.Get());
    LOG_DEBUG << "UnsetDevice called for object 0x" << this;
    LOG_DEBUG << "m_pSymbianConnector is 0x" << m_pSymbianConnector.get();
    if (m_pSymbianConnector) {
        HRESULT hr = m_pSymbianConnector->Uninitialize();
        if (FAILED(hr)) {
            LOG_DEBUG << "m_pSymbianConnector Uninitialize returned=0x" << LogHex(hr);
        }
    }
    // A transfer waiting for the phone that went away gives up now.
    if (m_pExecutor) m_pExecutor->WakeForUnbind();
    m_bDeviceBound = false;
}

STDMETHODIMP CFMService::CreateFileMgmt(IKVFileMgmt** fileMgmt) {
    LOG_TRACE << "Enter";
    if (!fileMgmt) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *fileMgmt = nullptr;
    com::ComObject<CFileMgmt>* object = nullptr;
    HRESULT hr = com::ComObject<CFileMgmt>::CreateInstance(&object);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to create FileMgmt instance";
        return hr;
    }
    com::ComPtr<IKVFileMgmt> holder(object);
    object->Initialize(this);
    hr = holder.CopyTo(fileMgmt);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to get IKVFileMgmt interface";
        return hr;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}
