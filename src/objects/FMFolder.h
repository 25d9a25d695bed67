// A folder of the virtual tree: on the phone, on the memory card, merged from
// both, or the tree's root. Lists its content and starts the operations that
// put things into it or take it to the PC.
#pragma once

#include <memory>

#include "objects/FMObjectOuter.h"

#include "connector/StorageObject.h"

class CFMFolder : public CFMObjectOuter<IKVFMFolder> {
public:
    CFMFolder() = default;
    ~CFMFolder();

    BEGIN_COM_MAP(CFMFolder)
        COM_INTERFACE_ENTRY(IKVFMFolder)
        COM_INTERFACE_ENTRY_FUNC(IID_IConnectionPointContainer, &CFMFolder::ForwardToInner, 0)
        COM_INTERFACE_ENTRY2(IKVFMObject, IKVFMFolder)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFMFolder)
    END_COM_MAP()

    HRESULT FinalConstruct() { return CreateInnerObject(); }
    void FinalRelease() { ReleaseInnerObject(); }

    // Makes an initialised folder object; takes ownership of storageFolder
    // (null for the tree's root) in every case.
    static HRESULT CreateCFMFolderInstance(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path,
                                           CFolder* storageFolder, IKVFMFolder** folder);

    // Takes ownership of storageFolder.
    void Init(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path, CFolder* storageFolder);

    // IKVFMObject
    STDMETHOD(get_Path)(BSTR* path) override;
    STDMETHOD(get_Type)(LONG* kind) override;
    STDMETHOD(Delete)(LONG* transactionId) override;
    STDMETHOD(CopyToPC)(BSTR pcFolder, BSTR pcName, LONG* transactionId) override;
    STDMETHOD(MoveToPC)(BSTR pcFolder, BSTR pcName, LONG* transactionId) override;
    STDMETHOD(put_FileAttributes)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(Rename)(BSTR newName, LONG* transactionId) override;
    STDMETHOD(Refresh)(VARIANT) override { return E_NOTIMPL; }
    // IKVFMFolder
    STDMETHOD(NewFolder)(BSTR name, LONG* transactionId) override;
    STDMETHOD(MoveFolderFromPC)(BSTR pcSource, BSTR name, LONG* transactionId) override;
    STDMETHOD(MoveFileFromPC)(BSTR pcSource, BSTR newName, LONG* transactionId) override;
    STDMETHOD(CopyFolderFromPC)(BSTR pcSource, BSTR name, LONG* transactionId) override;
    STDMETHOD(CopyFileFromPC)(BSTR pcSource, BSTR newName, LONG* transactionId) override;
    STDMETHOD(get_Objects)(IKVFMObjects** objects) override;
    STDMETHOD(get_Files)(IKVFMFiles** files) override;
    STDMETHOD(get_Folders)(IKVFMFolders** folders) override;
    STDMETHOD(CopyObjectFrom)(IKVFMObject*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(MoveObjectFrom)(IKVFMObject*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(CopyObjectsFrom)(IKVFMObjects*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(MoveObjectsFrom)(IKVFMObjects*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(GetObjectsAsynch)(LONG* transactionId) override;
    STDMETHOD(GetFilesAsynch)(LONG* transactionId) override;
    STDMETHOD(GetFoldersAsynch)(LONG* transactionId) override;

private:
    HRESULT StartFolderFromPc(bool move, BSTR pcSource, BSTR name, LONG* transactionId);
    HRESULT StartFileFromPc(bool move, BSTR pcSource, BSTR newName, LONG* transactionId);
    // Before a copy onto an existing read-only phone file: clears that bit.
    void ClearReadOnlyOfTarget(BSTR newName);
    // The folder's path for a listing; fails when its phone is gone.
    HRESULT ListingPath(com::UniqueBstr& path);

    std::unique_ptr<CFolder> m_pStorageFolder;
};
