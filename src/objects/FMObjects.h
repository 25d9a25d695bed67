// Placeholder until the object model lands: creatable and answering its
// interfaces, every member returns E_NOTIMPL.
#pragma once

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "module/Interfaces.h"

class CFMObjects : public com::ComObjectRoot<com::SingleThreadModel>,
                  public com::DispatchImpl<IKVFMObjects, &LIBID_KVFileMgmtLib> {
public:
    BEGIN_COM_MAP(CFMObjects)
        COM_INTERFACE_ENTRY(IKVFMObjects)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFMObjects)
    END_COM_MAP()

    STDMETHOD(get__NewEnum)(IUnknown **enumerator) override { return E_NOTIMPL; }
    STDMETHOD(get_Item)(VARIANT key, IKVFMObject **item) override { return E_NOTIMPL; }
    STDMETHOD(get_Count)(LONG *count) override { return E_NOTIMPL; }
};
