// The file management root object: opens files and folders by virtual path.
#pragma once

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "com/ComUtil.h"
#include "module/Interfaces.h"

#include <string>

class CFMService;
class SymbianConnector;

class CFileMgmt : public com::ComObjectRoot<com::SingleThreadModel>,
                  public ISupportErrorInfo,
                  public com::DispatchImpl<IKVFileMgmt, &LIBID_KVFileMgmtLib> {
public:
    CFileMgmt();
    ~CFileMgmt();

    BEGIN_COM_MAP(CFileMgmt)
        COM_INTERFACE_ENTRY(ISupportErrorInfo)
        COM_INTERFACE_ENTRY(IKVFileMgmt)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFileMgmt)
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease();

    HRESULT Initialize(CFMService* service);

    // ISupportErrorInfo
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) override;
    // IKVFileMgmt
    STDMETHOD(CreateFMFile)(BSTR path, IKVFMFile** file) override;
    STDMETHOD(CreateFMFolder)(BSTR path, IKVFMFolder** folder) override;

private:
    bool HasBoundDevice() const;
    template <class Fn>
    // Normalises path (appending one backslash for a folder) and hands it to resolve.
    HRESULT Resolve(BSTR path, bool appendBackslash, Fn resolve);

    SymbianConnector* m_pDeviceConnector;
    CFMService* m_pService;
};
