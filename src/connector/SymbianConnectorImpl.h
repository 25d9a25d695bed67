// The one object through which Morvane reaches a phone: its SCOM application
// object, the phone's device object, and the folder mappings of the binding.
#pragma once

#include <windows.h>
#include <comdef.h>

#include <atomic>
#include <list>
#include <memory>
#include <string>

#include "com/ComUtil.h"
#include "connector/DeviceConnector.h"
#include "connector/Scom.h"

class CAsynchOperationExecutor;
class CFolderMapping;

// {98C34439-558E-4BDE-AC27-25D53A202E95}
extern const CLSID CLSID_SCOMApplication;

// Made by the service as a shared object: every object made under one of its
// bindings keeps it alive (not the binding), so a call never reaches a freed
// connector. Resolution and the getters run under a BindingLease, so
// Uninitialize, which waits for them, never frees a mapping in use.
class SymbianConnector : public DeviceConnector, public std::enable_shared_from_this<SymbianConnector> {
public:
    SymbianConnector();
    ~SymbianConnector() override;
    SymbianConnector(const SymbianConnector&) = delete;
    SymbianConnector& operator=(const SymbianConnector&) = delete;

    HRESULT Initialize(ISCDevice* pISCDevice, CAsynchOperationExecutor* pCAsynchOperationExecutor, BSTR uid);
    HRESULT Uninitialize();

    // Path resolution.
    HRESULT getMountPoints(std::list<CMountPoint*>& mountPoints) override;
    HRESULT getCFolder(BSTR& path, CFolder** folder) override;
    HRESULT getCFile(BSTR& path, CFile** file) override;
    HRESULT getKVFMFolder(BSTR& path, IKVFMFolder** folder) override;
    HRESULT getKVFMFile(BSTR& path, IKVFMFile** file) override;
    HRESULT getKVFMObjects(BSTR& path, std::list<IKVFMObject*>& objects) override;
    HRESULT getKVFMFolders(BSTR& path, std::list<IKVFMFolder*>& folders) override;
    HRESULT getKVFMFiles(BSTR& path, std::list<IKVFMFile*>& files) override;

    HRESULT GetISCApplication(IUnknown** out);
    HRESULT GetISCDevice(ISCDevice** out);

    bool IsInitialized() const { return m_bInitialized.load(); }
    bool IsBrowserMappingInUse() const { return m_bBrowserMappingInUse; }
    CAsynchOperationExecutor* GetExecutor() const { return m_pExecutor; }
    const _bstr_t& GetImei() const { return m_bstrImei; }

    // Mapping ownership: the connector and every storage object made under a
    // binding share the binding's mappings (std::shared_ptr), so an object that
    // outlives Uninitialize never reaches freed mappings. Such an object keeps
    // the BindingGuard of its binding and fails with E_FAIL once it is no
    // longer Valid(), before it touches the connector or a mapping.
    // Null once the binding has ended.
    std::shared_ptr<CFolderMapping> GetMapping() const;
    std::shared_ptr<CFolderMapping> GetMassStorageMapping() const;
    unsigned long BindingGeneration() const { return m_state->generation.load(); }
    BindingGuard CurrentBinding() const {
        return BindingGuard(m_state, m_state->generation.load(), weak_from_this().lock());
    }
    bool GetBinding(BindingGuard& binding) const override {
        binding = CurrentBinding();
        return true;
    }

protected:
    // Seams for tests; the defaults create the real objects.
    virtual HRESULT CreateApplication(ISCApplication** out);
    virtual std::shared_ptr<CFolderMapping> CreateBrowserMapping();
    virtual std::shared_ptr<CFolderMapping> CreateMassStorageMapping();
    virtual std::shared_ptr<CFolderMapping> CreateRawMapping();

private:
    // Valid while the connector is initialised; logs when it is not.
    BindingLease leaseBinding() const;
    HRESULT GetDevice(ISCDevice* pISCDevice);
    HRESULT GetMapping(BSTR uid);
    HRESULT findDevice(ISCDevice* pISCDevice);
    // Where a virtual path lives: on the memory card (its PC path) and/or on the phone.
    bool findOnCard(BSTR& path, bool folder, std::wstring& pcPath);
    bool mapOnPhone(BSTR& path, com::UniqueBstr& devicePath);
    bool namesPhoneFile(BSTR devicePath);
    // Object-model objects over storage objects (taken over in every case).
    HRESULT wrapFolder(BSTR path, CFolder* storage, IKVFMFolder** folder);
    HRESULT wrapMountPoint(BSTR path, CMountPoint* storage, IKVFMMountPoint** mountPoint);
    template <class I>
    HRESULT appendChildren(BSTR& path, bool folders, bool files, std::list<I*>& out);
    template <class I>
    HRESULT rootChildrenRaw(std::list<I*>& out);
    // withCard: the memory card's mount points follow the configured ones.
    template <class I>
    HRESULT rootChildrenBrowser(std::list<I*>& out, bool withCard);

    com::ComPtr<ISCApplication> m_pApplication;
    com::ComPtr<ISCDevice> m_pDevice;
    _bstr_t m_bstrImei;
    std::atomic<bool> m_bInitialized;
    bool m_bBrowserMappingInUse;
    std::shared_ptr<CFolderMapping> m_pMapping;
    std::shared_ptr<CFolderMapping> m_pMassStorageMapping;
    CAsynchOperationExecutor* m_pExecutor;
    std::shared_ptr<BindingState> m_state;
};
