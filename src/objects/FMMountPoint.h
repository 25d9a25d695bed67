// A drive of the phone at the top of the tree: a folder (an aggregated
// CFMFolder serves the folder slots) with volume values read once at Init.
#pragma once

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "com/ComUtil.h"
#include "module/Interfaces.h"
#include "objects/FMFolder.h"

class CMountPoint;

class CFMMountPoint : public com::ComObjectRoot<com::MultiThreadModel>,
                      public com::DispatchImpl<IKVFMMountPoint, &LIBID_KVFileMgmtLib> {
public:
    CFMMountPoint() = default;

    BEGIN_COM_MAP(CFMMountPoint)
        COM_INTERFACE_ENTRY(IKVFMMountPoint)
        COM_INTERFACE_ENTRY_FUNC(IID_IConnectionPointContainer, &CFMMountPoint::ForwardToFolder, 0)
        COM_INTERFACE_ENTRY2(IKVFMFolder, IKVFMMountPoint)
        COM_INTERFACE_ENTRY2(IKVFMObject, IKVFMMountPoint)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFMMountPoint)
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease();

    // Makes an initialised mount point; takes ownership of storageMountPoint in every case.
    static HRESULT CreateCFMMountPointInstance(CAsynchOperationExecutor* executor, DeviceConnector* connector,
                                               BSTR path, CMountPoint* storageMountPoint,
                                               IKVFMMountPoint** mountPoint);

    // Takes ownership of storageMountPoint.
    void Init(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path,
              CMountPoint* storageMountPoint);

    // IKVFMObject
    STDMETHOD(get_Name)(BSTR* name) override { return Common()->get_Name(name); }
    STDMETHOD(get_Path)(BSTR* path) override { return m_pFolder->get_Path(path); }
    STDMETHOD(get_Parent)(IKVFMFolder** parent) override { return Common()->get_Parent(parent); }
    STDMETHOD(get_Type)(LONG* kind) override;
    STDMETHOD(Delete)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(CopyTo)(IKVFMFolder*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(CopyToPC)(BSTR pcFolder, BSTR pcName, LONG* id) override { return m_pFolder->CopyToPC(pcFolder, pcName, id); }
    STDMETHOD(MoveTo)(IKVFMFolder*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(MoveToPC)(BSTR, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_Created)(DATE* time) override { return Common()->get_Created(time); }
    STDMETHOD(get_Accessed)(DATE* time) override { return Common()->get_Accessed(time); }
    STDMETHOD(get_Changed)(DATE* time) override { return Common()->get_Changed(time); }
    STDMETHOD(get_FileAttributes)(LONG* attributes) override { return Common()->get_FileAttributes(attributes); }
    STDMETHOD(put_FileAttributes)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(Rename)(BSTR newName, LONG* id) override { return m_pFolder->Rename(newName, id); }
    STDMETHOD(Refresh)(VARIANT reserved) override { return m_pFolder->Refresh(reserved); }
    // IKVFMFolder
    STDMETHOD(NewFolder)(BSTR name, LONG* id) override { return m_pFolder->NewFolder(name, id); }
    STDMETHOD(MoveFolderFromPC)(BSTR, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(MoveFileFromPC)(BSTR, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(CopyFolderFromPC)(BSTR source, BSTR name, LONG* id) override { return m_pFolder->CopyFolderFromPC(source, name, id); }
    STDMETHOD(CopyFileFromPC)(BSTR source, BSTR name, LONG* id) override { return m_pFolder->CopyFileFromPC(source, name, id); }
    STDMETHOD(get_Objects)(IKVFMObjects** objects) override { return m_pFolder->get_Objects(objects); }
    STDMETHOD(get_Files)(IKVFMFiles** files) override { return m_pFolder->get_Files(files); }
    STDMETHOD(get_Folders)(IKVFMFolders** folders) override { return m_pFolder->get_Folders(folders); }
    STDMETHOD(CopyObjectFrom)(IKVFMObject*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(MoveObjectFrom)(IKVFMObject*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(CopyObjectsFrom)(IKVFMObjects*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(MoveObjectsFrom)(IKVFMObjects*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(GetObjectsAsynch)(LONG* id) override { return m_pFolder->GetObjectsAsynch(id); }
    STDMETHOD(GetFilesAsynch)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(GetFoldersAsynch)(LONG*) override { return E_NOTIMPL; }
    // IKVFMMountPoint
    STDMETHOD(get_Capacity)(LONG* capacity) override;
    STDMETHOD(get_Free)(LONG* freeSpace) override;
    STDMETHOD(get_Used)(LONG* usedSpace) override;
    STDMETHOD(get_Label)(BSTR* label) override;
    STDMETHOD(put_Label)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Media)(LONG* media) override;
    STDMETHOD(Format)() override;

private:
    FMObjectImpl* Common() const { return m_pFolder->Impl(); }
    static HRESULT ForwardToFolder(void* object, REFIID iid, void** ppv, uintptr_t);

    IUnknown* m_pFolderUnknown = nullptr;  // non-delegating unknown of the inner folder
    CFMFolder* m_pFolder = nullptr;
    ULONG m_ulCapacity = 0;
    ULONG m_ulFree = 0;
    ULONG m_ulUsed = 0;
    LONG m_lMedia = 0;
    com::UniqueBstr m_bstrLabel;
};
