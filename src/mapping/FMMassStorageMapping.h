// The memory card mounted on the PC as a removable drive: finds the drive by
// the configured volume serial number and maps the card's virtual folders onto
// it. Prefix matching is case-sensitive.
#pragma once

#include "mapping/FolderMapping.h"

class CFMMassStorageMapping : public CFolderMapping {
public:
    explicit CFMMassStorageMapping(std::shared_ptr<MappingPlatform> platform = nullptr);
    ~CFMMassStorageMapping() override;

    // The card's drive, inserted at the front; S_FALSE when there is none.
    HRESULT getMountpoints(StringList& out) override;
    HRESULT getMappedFolders(BSTR* virtualPath, StringList& out) override;
    // Null path: 0, like a folder that is not configured.
    DWORD getForbidFolderOps(BSTR* virtualPath) override;
    DWORD getForbidFileOps(BSTR* virtualFilePath) override;
    HRESULT MapPath(BSTR* virtualPath, BSTR* realPath) override;
    HRESULT UnMapPath(BSTR* realPath, BSTR* virtualPath) override;
    bool getConfMapping(ICapMgr* capMgr) override;

    // Root of the card's PC drive as GetLogicalDriveStringsW spells it ("F:\").
    std::wstring GetPcDrive() const override { return m_strPcDrive; }
    // The card's path on the phone side, as configured.
    const std::wstring& GetPhonePath() const { return m_strPhonePath; }

protected:
    void resetConfiguration() override;

    bool getConfMassStorage(ICapMgr* capMgr);
    bool getDriveLetter(const std::wstring& serial, std::wstring& pcDrive);

private:
    MappingEntry handleMountPoint(ICapMgr* capMgr);
    MappingEntry buildSubFolderEntry(ICapMgr* capMgr, const MappingEntry& mount, const std::wstring& sub);
    bool getConfSubfolders(ICapMgr* capMgr, const MappingEntry& mount);
    bool getConfMappedFolders(ICapMgr* capMgr, const MappingEntry& mount);
    // The phone-side path with its drive letter replaced by the card's.
    std::wstring onPcDrive(const std::wstring& path) const;

    std::wstring m_strPcDrive;
    std::wstring m_strPhonePath;
};
