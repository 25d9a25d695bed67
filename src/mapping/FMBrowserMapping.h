// The preferred mapping of a phone: a virtual tree of configured mount points,
// subfolders under virtual names, mapped folders, restricted folders and
// forbidden operations. Prefix matching ignores letter case.
#pragma once

#include "mapping/FolderMapping.h"

class CFMBrowserMapping : public CFolderMapping {
public:
    explicit CFMBrowserMapping(std::shared_ptr<MappingPlatform> platform = nullptr);
    ~CFMBrowserMapping() override;

    // Real paths of the configured mount points, each inserted at the front.
    HRESULT getMountpoints(StringList& out) override;
    HRESULT getMappedFolders(BSTR* virtualPath, StringList& out) override;
    // Null path: 0, like a folder that is not configured.
    DWORD getForbidFolderOps(BSTR* virtualPath) override;
    DWORD getForbidFileOps(BSTR* virtualFilePath) override;
    HRESULT MapPath(BSTR* virtualPath, BSTR* realPath) override;
    HRESULT UnMapPath(BSTR* realPath, BSTR* virtualPath) override;
    bool getConfMapping(ICapMgr* capMgr) override;

    // In configuration order.
    const StringList& GetConfiguredMountpoints() const { return m_mountpoints; }

protected:
    void resetConfiguration() override;

private:
    bool getConfMountpoints(ICapMgr* capMgr);
    MappingEntry buildMountPointEntry(ICapMgr* capMgr, const std::wstring& mount);
    MappingEntry buildSubFolderEntry(ICapMgr* capMgr, const MappingEntry& parent, const std::wstring& sub);
    bool getConfSubfolders(ICapMgr* capMgr, const MappingEntry& parent, int depth);
    bool getConfMappedFolders(ICapMgr* capMgr, const MappingEntry& mount);

    StringList m_mountpoints;
};
