// Placeholder until the object model lands: creatable and answering its
// interfaces, every member returns E_NOTIMPL.
#pragma once

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "module/Interfaces.h"

class CFMFile : public com::ComObjectRoot<com::SingleThreadModel>,
                  public com::DispatchImpl<IKVFMFile, &LIBID_KVFileMgmtLib> {
public:
    BEGIN_COM_MAP(CFMFile)
        COM_INTERFACE_ENTRY(IKVFMFile)
        COM_INTERFACE_ENTRY2(IKVFMObject, IKVFMFile)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFMFile)
    END_COM_MAP()

    STDMETHOD(get_Name)(BSTR *name) override { return E_NOTIMPL; }
    STDMETHOD(get_Path)(BSTR *path) override { return E_NOTIMPL; }
    STDMETHOD(get_Parent)(IKVFMFolder **parent) override { return E_NOTIMPL; }
    STDMETHOD(get_Type)(LONG *kind) override { return E_NOTIMPL; }
    STDMETHOD(Delete)(LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(CopyTo)(IKVFMFolder *target, BSTR name, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(CopyToPC)(BSTR pcFolder, BSTR pcName, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(MoveTo)(IKVFMFolder *target, BSTR name, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(MoveToPC)(BSTR pcFolder, BSTR pcName, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(get_Created)(DATE *time) override { return E_NOTIMPL; }
    STDMETHOD(get_Accessed)(DATE *time) override { return E_NOTIMPL; }
    STDMETHOD(get_Changed)(DATE *time) override { return E_NOTIMPL; }
    STDMETHOD(get_FileAttributes)(LONG *attributes) override { return E_NOTIMPL; }
    STDMETHOD(put_FileAttributes)(LONG attributes) override { return E_NOTIMPL; }
    STDMETHOD(Rename)(BSTR newName, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(Refresh)(VARIANT reserved) override { return E_NOTIMPL; }
    STDMETHOD(get_Size)(LONG *size) override { return E_NOTIMPL; }
    STDMETHOD(get_MIMEType)(BSTR *mimeType) override { return E_NOTIMPL; }
    STDMETHOD(get_IStream)(IUnknown **stream) override { return E_NOTIMPL; }
};
