// Memory card folders served through the PC file system.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <list>
#include <memory>
#include <string>

#include "mapping/PcFile.h"
#include "operations/FolderListPC.h"

class CPcFolder : public CFolder {
public:
    // The real path gets a trailing backslash when it has none. The folder's
    // list is taken over the real path here; if that fails the folder lists
    // nothing. Made under a binding, it fails with E_FAIL once that has ended.
    CPcFolder(const wchar_t* virtualPath, const wchar_t* realPath, std::shared_ptr<CFolderMapping> mapping,
              PcBindingCheck binding = PcBindingCheck());
    ~CPcFolder() override;

    HRESULT PutAttributes(DWORD attributes) override;
    HRESULT GetAttributes(DWORD* attributes) override;
    HRESULT GetCreated(DATE* created) override;
    HRESULT GetAccessed(DATE* accessed) override;
    HRESULT GetChanged(DATE* changed) override;
    HRESULT GetPath(BSTR* path) override;
    // The configuration's folder operations for this card folder.
    HRESULT GetForbiddenOps(DWORD* forbiddenOps) override;
    // The folder keeps its place and these paths; only its name changes.
    HRESULT Rename(BSTR& newName) override;
    // Only an empty folder goes.
    HRESULT Delete() override;
    HRESULT NewFolder(BSTR& name) override;
    HRESULT GetCFiles(std::list<CFile*>& files) override;
    // Subfolders, then the configured mapped folders that exist on the card.
    HRESULT GetCFolders(std::list<CFolder*>& folders) override;
    // Copies the PC file under its own name into this folder, overwriting.
    HRESULT CopyFileFromPC(CAsynchOperationExecutor* executor, _bstr_t pcPath, CCopyFileWaitObject** waitObject,
                           CProgressCallbackFunctionBase* progress, CReplaceCallbackFunctionBase* replace) override;

    const std::wstring& GetRealPath() const { return m_strRealPath; }

private:
    enum class FolderTime { Created, Accessed, Changed };
    HRESULT getTime(FolderTime which, DATE* out);
    HRESULT checkUsable() const;
    // Appends the mapped folders of this folder's virtual path found on the card.
    HRESULT appendMappedFolders(std::list<CFolder*>& folders);

    std::wstring m_strVirtualPath;
    std::wstring m_strRealPath;
    std::unique_ptr<CFolderListPC> m_pFolderList;
    std::shared_ptr<CFolderMapping> m_pMapping;
    // Only remembered: the caller owns it and may have deleted it.
    CCopyFileWaitObject* m_pLatestWait = nullptr;
    PcBindingCheck m_binding;
};

// The children of a PC folder through its list, for CPcFolder and the merged
// folders: each name becomes real path + name (+ "\" for folders) and its
// virtual path by the mapping's UnMapPath; names it cannot translate are
// skipped. Appends; a list that fails part-way is restarted for the next
// caller and its HRESULT returned.
HRESULT PcListFiles(CFolderListPC& list, const std::wstring& realPath, const std::shared_ptr<CFolderMapping>& mapping,
                    const PcBindingCheck& binding, std::list<CFile*>& files);
HRESULT PcListFolders(CFolderListPC& list, const std::wstring& realPath,
                      const std::shared_ptr<CFolderMapping>& mapping, const PcBindingCheck& binding,
                      std::list<CFolder*>& folders);
