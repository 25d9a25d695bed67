// The service object a client creates first: owns the worker thread and the
// device connector, follows the Device Manager's connect/disconnect notices and
// hands out file management objects.
#pragma once

#include <memory>
#include <string>

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "com/ComUtil.h"
#include "module/Interfaces.h"

class CAsynchOperationExecutor;
class SymbianConnector;
struct ISCDevice;

class CFMService : public com::ComObjectRoot<com::MultiThreadModel>,
                   public com::DispatchImpl<IKVFileMgmtService, &LIBID_KVFileMgmtLib>,
                   public com::DispatchImpl<IKVDeviceInformation, &LIBID_KVDeviceInformationLib> {
public:
    CFMService();
    ~CFMService();

    BEGIN_COM_MAP(CFMService)
        COM_INTERFACE_ENTRY(IKVFileMgmtService)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFileMgmtService)
        COM_INTERFACE_ENTRY(IKVDeviceInformation)
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease();

    // IKVFileMgmtService
    STDMETHOD(CreateFileMgmt)(IKVFileMgmt** fileMgmt) override;
    // IKVDeviceInformation
    STDMETHOD(SetDeviceInformation)(IUnknown* unk, BSTR uid) override;

    HRESULT SetDevice(ISCDevice* device, BSTR uid);
    void UnsetDevice();

    SymbianConnector* GetSymbianConnector() const { return m_pSymbianConnector.get(); }
    CAsynchOperationExecutor* GetExecutor() const { return m_pExecutor; }
    bool IsDeviceBound() const { return m_bDeviceBound; }

private:
    com::CriticalSection m_objectLock;
    com::UniqueHandle m_hDeviceMutex;
    // Shared with the objects made under its bindings, which keep it alive.
    std::shared_ptr<SymbianConnector> m_pSymbianConnector;
    CAsynchOperationExecutor* m_pExecutor;
    bool m_bDeviceBound;
    bool m_bLogStarted;
    std::string m_strLogFilePattern;
};
