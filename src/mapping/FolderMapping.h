// Folder mappings: translation between the virtual paths clients see and the
// real paths of phone drives or of the memory card's PC drive, driven by the
// configuration that the Capability Manager answers; and the operations that
// the configuration forbids on a folder or its files.
//
// A mapping is self-contained once Init has returned: it keeps no reference to
// the connector nor to the Capability Manager, and after Init it is only read,
// so storage objects may share it (std::shared_ptr) and use it from any thread
// for as long as they hold it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <list>
#include <memory>
#include <string>
#include <utility>

#include "com/ComUtil.h"
#include "mapping/CapabilityManager.h"

using StringList = std::list<std::wstring>;

// What the mappings take from the machine: the Capability Manager's object and
// the PC's drives. Tests substitute their own.
class MappingPlatform {
public:
    virtual ~MappingPlatform() = default;
    // As CoCreateInstance without an outer object.
    virtual HRESULT CreateObject(REFCLSID clsid, DWORD context, REFIID iid, void** out);
    // As GetLogicalDriveStringsW, GetDriveTypeW and GetVolumeInformationW.
    virtual DWORD LogicalDriveStrings(DWORD length, wchar_t* buffer);
    virtual UINT DriveType(const wchar_t* root);
    virtual BOOL VolumeInformation(const wchar_t* root, wchar_t* volumeName, DWORD volumeNameLength,
                                   DWORD* serialNumber, DWORD* maxComponentLength, DWORD* fileSystemFlags,
                                   wchar_t* fileSystemName, DWORD fileSystemNameLength);

    // The real machine, shared by every mapping.
    static std::shared_ptr<MappingPlatform> System();
};

// One configured folder.
struct MappingEntry {
    std::wstring realPath;
    std::wstring virtualPath;
    BOOL restricted = FALSE;     // only the configured folders below it may be reached
    DWORD forbidFolderOps = 0;   // KVFMForbiddenOps bits for the folder itself
    DWORD forbidFileOps = 0;     // bits for the files directly in it
    // Upper-cased once when loaded: case-insensitive lookups run per file.
    std::wstring realUpper;
    std::wstring virtualUpper;
};

// (real path of a mapped folder, virtual path of the folder it appears in)
using MappedFolderPair = std::pair<std::wstring, std::wstring>;

// Path results beside the usual HRESULTs.
constexpr HRESULT kHrPathNotFound = static_cast<HRESULT>(0x80070003);  // ERROR_PATH_NOT_FOUND
constexpr HRESULT kHrPathTooLong = static_cast<HRESULT>(0x800700CE);   // ERROR_FILENAME_EXCED_RANGE
// Characters of a path that a translation carries over after the matched part.
constexpr size_t kMaxPathRest = 260;

class CFolderMapping {
public:
    CFolderMapping(const CFolderMapping&) = delete;
    CFolderMapping& operator=(const CFolderMapping&) = delete;

    virtual ~CFolderMapping();
    // Loads the device's configuration once; the Capability Manager is released
    // before it returns.
    virtual HRESULT Init(BSTR deviceUid, BSTR imei);
    // Appends (base: E_NOTIMPL) the real paths of the configured mount points.
    virtual HRESULT getMountpoints(StringList& out);
    // Real paths of the folders mapped into the folder with that virtual path;
    // S_FALSE when none. Base: S_FALSE.
    virtual HRESULT getMappedFolders(BSTR* virtualPath, StringList& out);
    virtual DWORD getForbidFolderOps(BSTR* virtualPath);
    virtual DWORD getForbidFileOps(BSTR* virtualFilePath);
    // Virtual to real; the result is a new BSTR owned by the caller, null on failure.
    virtual HRESULT MapPath(BSTR* virtualPath, BSTR* realPath) = 0;
    // Real to virtual.
    virtual HRESULT UnMapPath(BSTR* realPath, BSTR* virtualPath) = 0;
    virtual bool getConfMapping(ICapMgr* capMgr);

    virtual bool IsInitialized() const { return m_bInitialized; }
    // Whether the configured folder with exactly that virtual path is restricted.
    virtual bool IsRestricted(BSTR* virtualPath) const;
    // Root of the PC drive the mapping reaches ("F:\"), empty when it maps phone paths.
    virtual std::wstring GetPcDrive() const { return std::wstring(); }

    // Front first: the most recently loaded entry is the first one.
    const std::list<MappingEntry>& GetEntries() const { return m_entries; }
    const std::list<MappedFolderPair>& GetMappedFolderPairs() const { return m_mappedFolders; }
    const std::wstring& GetConfPrefix() const { return m_strConfPrefix; }
    const std::wstring& GetImei() const { return m_strImei; }
    const std::wstring& GetDeviceUid() const { return m_strDeviceUid; }

protected:
    explicit CFolderMapping(std::shared_ptr<MappingPlatform> platform);

    // Creates the Capability Manager (context 0x17, IUnknown, OleRun, ICapMgr);
    // E_FAIL and a null pointer on any failure.
    HRESULT startCapMgr(com::ComPtr<ICapMgr>& capMgr);
    // Rows of the answer to one expression, appended in row order; S_FALSE when
    // nothing matched.
    HRESULT getCapabilities(ICapMgr* capMgr, const wchar_t* query, StringList& results);

    // Readers of single settings.
    bool getConfMountPointVirtualPath(ICapMgr* capMgr, const std::wstring& mountRealPath, std::wstring& out);
    bool getConfSubFolderVirtualName(ICapMgr* capMgr, const std::wstring& mountRealPath,
                                     const std::wstring& subRealPath, std::wstring& out);
    bool getConfMappedFolderVirtualName(ICapMgr* capMgr, const std::wstring& mountRealPath,
                                        const std::wstring& mappedRealPath, std::wstring& out);
    bool getConfRestrictedFolders(ICapMgr* capMgr, const std::wstring& query);
    DWORD getConfForbidFileOps(ICapMgr* capMgr, const std::wstring& query);
    DWORD getConfForbidFolderOps(ICapMgr* capMgr, const std::wstring& query);

    // Expressions, {P} being the prefix as it is now.
    std::wstring queryMountPoints() const;
    std::wstring queryMountPointVirtualPath(const std::wstring& mount) const;
    std::wstring querySubFolders(const std::wstring& mount) const;
    std::wstring querySubFolderVirtualName(const std::wstring& mount, const std::wstring& sub) const;
    std::wstring queryMappedFolders(const std::wstring& mount) const;
    std::wstring queryMappedFolderVirtualName(const std::wstring& mount, const std::wstring& mapped) const;

    // Builders of the restricted and operation rows, each with its reader.
    bool getConfMountPointRestricted(ICapMgr* capMgr, const std::wstring& mount);
    bool getConfSubFolderRestricted(ICapMgr* capMgr, const std::wstring& sub);
    bool getConfMappedFolderRestricted(ICapMgr* capMgr, const std::wstring& mapped);
    DWORD getConfMountPointForbidFileOps(ICapMgr* capMgr, const std::wstring& mount);
    DWORD getConfSubFolderForbidFileOps(ICapMgr* capMgr, const std::wstring& sub);
    DWORD getConfMappedFolderForbidFileOps(ICapMgr* capMgr, const std::wstring& mapped);
    DWORD getConfMountPointForbidFolderOps(ICapMgr* capMgr, const std::wstring& mount);
    DWORD getConfSubFolderForbidFolderOps(ICapMgr* capMgr, const std::wstring& sub);
    DWORD getConfMappedFolderForbidFolderOps(ICapMgr* capMgr, const std::wstring& mapped);

    // Back to the state of construction, after a failed load.
    virtual void resetConfiguration();

    // Shared by the browser and mass storage mappings.
    HRESULT translateByEntries(BSTR* from, BSTR* to, bool toReal, bool ignoreCase);
    HRESULT collectMappedFolders(BSTR* virtualPath, StringList& out);
    // The entry whose virtual path equals the path exactly; null when none.
    const MappingEntry* findEntryByVirtualPath(const std::wstring& virtualPath) const;
    // Parent folder of a file path with its trailing backslash; false for a root
    // or a path without a parent.
    static bool splitParent(const std::wstring& filePath, std::wstring& parent);

    // Path safety: a component "." or ".." (or made only of dots and spaces,
    // which Windows trims to one of those) or a NUL character.
    static bool hasUnsafeComponent(const std::wstring& path);
    // Whether base + rest stays inside the folder that base names.
    static bool staysInside(const std::wstring& base, const wchar_t* rest, size_t restLength);
    // A configured folder path as it is matched: ending with one backslash,
    // whether or not the configuration wrote it.
    static std::wstring asFolderPath(const std::wstring& path) {
        return !path.empty() && path.back() == L'\\' ? path : path + L'\\';
    }
    static std::wstring fromBstr(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }
    static HRESULT toBstr(const std::wstring& s, BSTR* out);

    std::shared_ptr<MappingPlatform> m_platform;
    bool m_bInitialized = false;
    std::wstring m_strImei;
    std::wstring m_strDeviceUid;
    std::wstring m_strConfPrefix;
    std::list<MappingEntry> m_entries;
    std::list<MappedFolderPair> m_mappedFolders;
};
