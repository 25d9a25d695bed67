// Placeholder until the object model lands: creatable and answering its
// interfaces, every member returns E_NOTIMPL.
#pragma once

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "module/Interfaces.h"

class CFMFiles : public com::ComObjectRoot<com::SingleThreadModel>,
                  public com::DispatchImpl<IKVFMFiles, &LIBID_KVFileMgmtLib> {
public:
    BEGIN_COM_MAP(CFMFiles)
        COM_INTERFACE_ENTRY(IKVFMFiles)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFMFiles)
    END_COM_MAP()

    STDMETHOD(get__NewEnum)(IUnknown **enumerator) override { return E_NOTIMPL; }
    STDMETHOD(get_Item)(VARIANT key, IKVFMFile **item) override { return E_NOTIMPL; }
    STDMETHOD(get_Count)(LONG *count) override { return E_NOTIMPL; }
};
