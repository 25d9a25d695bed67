// Placeholder until the object model lands: creatable and answering its
// interfaces, every member returns E_NOTIMPL.
#pragma once

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "module/Interfaces.h"

class CFMFolder : public com::ComObjectRoot<com::SingleThreadModel>,
                  public com::DispatchImpl<IKVFMFolder, &LIBID_KVFileMgmtLib> {
public:
    BEGIN_COM_MAP(CFMFolder)
        COM_INTERFACE_ENTRY(IKVFMFolder)
        COM_INTERFACE_ENTRY2(IKVFMObject, IKVFMFolder)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFMFolder)
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
    STDMETHOD(NewFolder)(BSTR name, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(MoveFolderFromPC)(BSTR pcSource, BSTR name, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(MoveFileFromPC)(BSTR pcSource, BSTR newName, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(CopyFolderFromPC)(BSTR pcSource, BSTR name, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(CopyFileFromPC)(BSTR pcSource, BSTR newName, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(get_Objects)(IKVFMObjects **objects) override { return E_NOTIMPL; }
    STDMETHOD(get_Files)(IKVFMFiles **files) override { return E_NOTIMPL; }
    STDMETHOD(get_Folders)(IKVFMFolders **folders) override { return E_NOTIMPL; }
    STDMETHOD(CopyObjectFrom)(IKVFMObject *source, BSTR name, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(MoveObjectFrom)(IKVFMObject *source, BSTR name, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(CopyObjectsFrom)(IKVFMObjects *sources, BSTR name, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(MoveObjectsFrom)(IKVFMObjects *sources, BSTR name, LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(GetObjectsAsynch)(LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(GetFilesAsynch)(LONG *transactionId) override { return E_NOTIMPL; }
    STDMETHOD(GetFoldersAsynch)(LONG *transactionId) override { return E_NOTIMPL; }
};
