// A phone folder whose virtual path also lies in the memory card's tree on the
// PC. It is the phone folder in everything but listing: its child lists hold
// the phone's children and, after them, those of the card's PC folder, with
// no comparison between the two (an item both report appears twice).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <list>
#include <memory>
#include <string>

#include "connector/SymbianFolder.h"
#include "operations/FolderListPC.h"

class CMergeFolder : public CSymbianFolder {
public:
    // The phone folder's arguments plus the folder's PC path (a trailing
    // backslash is added when missing), over which the PC list is taken here.
    CMergeFolder(SymbianConnector* connector, BSTR virtualPath, BSTR pcPath, ISCDeviceStorageDirectory* directory,
                 std::shared_ptr<CFolderMapping> mapping, std::shared_ptr<CFolderMapping> massStorageMapping,
                 BindingGuard binding);
    ~CMergeFolder() override;

    // Phone files (CSymbianFile), then card files (CPcFile, served from the PC).
    HRESULT GetCFiles(std::list<CFile*>& files) override;
    // Phone subfolders (merged where the card maps them too), then card
    // subfolders (CPcFolder). E_FAIL after a phone error, with what was
    // appended before kept; a card folder that cannot be listed adds nothing.
    HRESULT GetCFolders(std::list<CFolder*>& folders) override;

    const std::wstring& GetPcPath() const { return m_strPcPath; }

private:
    std::wstring m_strPcPath;
    std::unique_ptr<CFolderListPC> m_pPcFolderList; // null when it could not be made
};
