// The Capability Manager class: answers Query from the configuration document.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "CapMgr.h"
#include "ConfigStore.h"
#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "com/ComUtil.h"

namespace capmgr {

class CCapMgr : public com::ComObjectRoot<com::MultiThreadModel>,
                public com::DispatchImpl<ICapMgr, &LIBID_MorvaneCapMgrLib>,
                public ISupportErrorInfo {
public:
    BEGIN_COM_MAP(CCapMgr)
        COM_INTERFACE_ENTRY(ICapMgr)
        COM_INTERFACE_ENTRY2(IDispatch, ICapMgr)
        COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    // ICapMgr
    STDMETHOD(Query)(BSTR imei, BSTR query, VARIANT* result, long* error) override;

    // ISupportErrorInfo
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) override;

private:
    // Calls may come from any thread of the multithreaded apartment.
    com::CriticalSection m_guard;
    ConfigStore m_store;
};

} // namespace capmgr
