// Placeholder until the object model lands: creatable and answering its
// interfaces, every member returns E_NOTIMPL.
#pragma once

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "module/Interfaces.h"

class CFMFolders : public com::ComObjectRoot<com::SingleThreadModel>,
                  public com::DispatchImpl<IKVFMFolders, &LIBID_KVFileMgmtLib> {
public:
    BEGIN_COM_MAP(CFMFolders)
        COM_INTERFACE_ENTRY(IKVFMFolders)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFMFolders)
    END_COM_MAP()

    STDMETHOD(get__NewEnum)(IUnknown **enumerator) override { return E_NOTIMPL; }
    STDMETHOD(get_Item)(VARIANT key, IKVFMFolder **item) override { return E_NOTIMPL; }
    STDMETHOD(get_Count)(LONG *count) override { return E_NOTIMPL; }
};
