// The one object through which Morvane reaches a phone: its SCOM application
// object, the phone's device object, and the folder mappings of the binding.
#pragma once

#include <windows.h>
#include <comdef.h>

#include <atomic>
#include <memory>

#include "com/ComUtil.h"
#include "connector/DeviceConnector.h"
#include "connector/Scom.h"

class CAsynchOperationExecutor;
class CFolderMapping;

// {98C34439-558E-4BDE-AC27-25D53A202E95}
extern const CLSID CLSID_SCOMApplication;

class SymbianConnector : public DeviceConnector {
public:
    SymbianConnector();
    ~SymbianConnector() override;
    SymbianConnector(const SymbianConnector&) = delete;
    SymbianConnector& operator=(const SymbianConnector&) = delete;

    HRESULT Initialize(ISCDevice* pISCDevice, CAsynchOperationExecutor* pCAsynchOperationExecutor, BSTR uid);
    HRESULT Uninitialize();

    HRESULT GetISCApplication(IUnknown** out);
    HRESULT GetISCDevice(ISCDevice** out);

    bool IsInitialized() const { return m_bInitialized; }
    bool IsBrowserMappingInUse() const { return m_bBrowserMappingInUse; }
    CAsynchOperationExecutor* GetExecutor() const { return m_pExecutor; }
    const _bstr_t& GetImei() const { return m_bstrImei; }

    // Mapping ownership: the connector and every storage object made under a
    // binding share the binding's mappings, so an object that outlives
    // Uninitialize never reaches freed mappings. Such an object compares the
    // generation it was made under with BindingGeneration() and fails with
    // E_FAIL once they differ.
    std::shared_ptr<CFolderMapping> GetMapping() const { return m_pMapping; }
    std::shared_ptr<CFolderMapping> GetMassStorageMapping() const { return m_pMassStorageMapping; }
    unsigned long BindingGeneration() const { return m_generation.load(); }

protected:
    // Seams for tests; the defaults create the real objects.
    virtual HRESULT CreateApplication(ISCApplication** out);
    virtual std::shared_ptr<CFolderMapping> CreateBrowserMapping();
    virtual std::shared_ptr<CFolderMapping> CreateMassStorageMapping();
    virtual std::shared_ptr<CFolderMapping> CreateRawMapping();

private:
    HRESULT GetDevice(ISCDevice* pISCDevice);
    HRESULT GetMapping(BSTR uid);
    HRESULT findDevice(ISCDevice* pISCDevice);

    com::ComPtr<ISCApplication> m_pApplication;
    com::ComPtr<ISCDevice> m_pDevice;
    _bstr_t m_bstrImei;
    bool m_bInitialized;
    bool m_bBrowserMappingInUse;
    std::shared_ptr<CFolderMapping> m_pMapping;
    std::shared_ptr<CFolderMapping> m_pMassStorageMapping;
    CAsynchOperationExecutor* m_pExecutor;
    std::atomic<unsigned long> m_generation{0};
};
