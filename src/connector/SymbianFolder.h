// A folder on the phone, reached through the connectivity component's
// directory object. Listings build the virtual tree: children the mapping
// cannot name are left out, children the memory card also holds become merged
// folders, and configured mapped folders are added beside the real ones.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <list>
#include <memory>

#include "com/ComUtil.h"
#include "connector/Scom.h"
#include "connector/StorageObject.h"
#include "connector/SymbianConnectorImpl.h"

class CFolderMapping;

class CSymbianFolder : public CFolder {
public:
    // virtualPath is copied; the directory gets a reference of its own. The
    // mappings are those of the binding that binding designates (the mass
    // storage mapping may be null).
    CSymbianFolder(SymbianConnector* connector, BSTR virtualPath, ISCDeviceStorageDirectory* directory,
                   std::shared_ptr<CFolderMapping> mapping, std::shared_ptr<CFolderMapping> massStorageMapping,
                   BindingGuard binding);
    ~CSymbianFolder() override;
    CSymbianFolder(const CSymbianFolder&) = delete;
    CSymbianFolder& operator=(const CSymbianFolder&) = delete;

    // Every operation fails with E_FAIL once the binding the object was made
    // under has ended (Uninitialize, a new Initialize, the connector's end),
    // before it touches the connector, a mapping or the phone.
    HRESULT PutAttributes(DWORD attributes) override;
    HRESULT GetAttributes(DWORD* attributes) override;
    HRESULT GetCreated(DATE* created) override;
    HRESULT GetAccessed(DATE* accessed) override;
    HRESULT GetChanged(DATE* changed) override;
    HRESULT GetPath(BSTR* path) override;
    HRESULT GetForbiddenOps(DWORD* forbiddenOps) override;
    // Names that are not plain names (symbian_storage::IsPlainName) are
    // refused with E_INVALIDARG before the phone is asked.
    HRESULT Rename(BSTR& newName) override;
    HRESULT Delete() override;
    HRESULT NewFolder(BSTR& name) override;

    HRESULT GetCFiles(std::list<CFile*>& files) override;
    // GetSubfolders, then GetMappedFolders, into the same list.
    HRESULT GetCFolders(std::list<CFolder*>& folders) override;
    HRESULT CopyFileFromPC(CAsynchOperationExecutor* executor, _bstr_t pcPath, CCopyFileWaitObject** waitObject,
                           CProgressCallbackFunctionBase* progress, CReplaceCallbackFunctionBase* replace) override;

    // The phone's subfolders (merged folders where the memory card maps them).
    virtual HRESULT GetSubfolders(std::list<CFolder*>& folders);
    // Folders the configuration maps into this one from elsewhere on the phone.
    virtual HRESULT GetMappedFolders(std::list<CFolder*>& folders);

protected:
    // True, after an ERROR line, when the binding has ended; callers then
    // return E_FAIL without touching anything the binding owned.
    bool bindingEnded() const;

    // The child folder for a subfolder whose virtual path is known: a merged
    // folder when the mass storage mapping maps that path, else a phone folder.
    // Null only when memory runs out. The merged folder is made as
    //   new CMergeFolder(m_pSymbianConnector, virtualPath, pcPath /* BSTR */, directory,
    //                    m_pMapping, m_pMassStorageMapping, m_binding)
    CFolder* makeSubfolder(BSTR virtualPath, ISCDeviceStorageDirectory* directory);

    SymbianConnector* m_pSymbianConnector;                   // not owned
    com::ComPtr<ISCDeviceStorageDirectory> m_pDirectory;
    com::UniqueBstr m_bstrPath;                              // virtual path
    std::shared_ptr<CFolderMapping> m_pMapping;
    std::shared_ptr<CFolderMapping> m_pMassStorageMapping;   // may be null
    BindingGuard m_binding;
};
