#include "mapping/FMBrowserMapping.h"

#include <new>

#include "module/Logging.h"

namespace {

// A configuration whose subfolders name themselves again would recurse forever.
constexpr int kMaxSubfolderDepth = 32;

// What follows the last backslash once trailing backslashes are gone; false
// for a root such as E:\ or a path without a backslash.
bool lastComponent(const std::wstring& path, std::wstring& name) {
    size_t end = path.size();
    while (end > 0 && path[end - 1] == L'\\') --end;
    if (end == 0) return false;
    const size_t slash = path.rfind(L'\\', end - 1);
    if (slash == std::wstring::npos || slash + 1 >= end) return false;
    name = path.substr(slash + 1, end - slash - 1);
    return true;
}

} // namespace

CFMBrowserMapping::CFMBrowserMapping(std::shared_ptr<MappingPlatform> platform)
    : CFolderMapping(std::move(platform)) {
    LOG_TRACE << "Creating CFMBrowserMapping";
}

CFMBrowserMapping::~CFMBrowserMapping() {
    LOG_TRACE << "Deleting CFMBrowserMapping";
}

void CFMBrowserMapping::resetConfiguration() {
    CFolderMapping::resetConfiguration();
    m_mountpoints.clear();
}

bool CFMBrowserMapping::getConfMapping(ICapMgr* capMgr) {
    LOG_TRACE << "Enter";
    m_strConfPrefix += L"foldermapping/";
    if (!getConfMountpoints(capMgr)) {
        LOG_ERROR << "Failed to load configured mountpoints.";
        return false;
    }
    for (const std::wstring& mount : m_mountpoints) {
        const MappingEntry entry = buildMountPointEntry(capMgr, mount);
        if (!getConfSubfolders(capMgr, entry, 0)) {
            LOG_ERROR << "Failed to get subfolders of mountpoint.";
            return false;
        }
        if (!getConfMappedFolders(capMgr, entry)) {
            LOG_ERROR << "Failed to get mapped folders of mountpoint.";
            return false;
        }
    }
    LOG_TRACE << "Exit";
    return true;
}

bool CFMBrowserMapping::getConfMountpoints(ICapMgr* capMgr) {
    StringList found;
    if (getCapabilities(capMgr, queryMountPoints().c_str(), found) != S_OK) {
        LOG_ERROR << "The request for mount points failed.";
        return false;
    }
    if (found.empty()) {
        LOG_ERROR << "No mount points found.";
        return false;
    }
    m_mountpoints.splice(m_mountpoints.end(), found);
    return true;
}

MappingEntry CFMBrowserMapping::buildMountPointEntry(ICapMgr* capMgr, const std::wstring& mount) {
    MappingEntry entry;
    entry.realPath = mount;
    if (!getConfMountPointVirtualPath(capMgr, mount, entry.virtualPath)) entry.virtualPath = mount;
    entry.restricted = getConfMountPointRestricted(capMgr, mount);
    entry.forbidFolderOps = getConfMountPointForbidFolderOps(capMgr, mount);
    entry.forbidFileOps = getConfMountPointForbidFileOps(capMgr, mount);
    LOG_DEBUG << "mountpoint " << entry.realPath << " as " << entry.virtualPath;
    m_entries.push_front(entry);
    return entry;
}

MappingEntry CFMBrowserMapping::buildSubFolderEntry(ICapMgr* capMgr, const MappingEntry& parent,
                                                    const std::wstring& sub) {
    MappingEntry entry;
    entry.realPath = parent.realPath + sub + L"\\";
    std::wstring name;
    if (!getConfSubFolderVirtualName(capMgr, parent.realPath, sub, name)) name = sub;
    entry.virtualPath = parent.virtualPath + name + L"\\";
    entry.restricted = getConfSubFolderRestricted(capMgr, sub);
    entry.forbidFolderOps = getConfSubFolderForbidFolderOps(capMgr, sub);
    entry.forbidFileOps = getConfSubFolderForbidFileOps(capMgr, sub);
    LOG_DEBUG << "subfolder " << entry.realPath << " as " << entry.virtualPath;
    m_entries.push_front(entry);
    return entry;
}

bool CFMBrowserMapping::getConfSubfolders(ICapMgr* capMgr, const MappingEntry& parent, int depth) {
    if (depth > kMaxSubfolderDepth) {
        LOG_ERROR << "Subfolders nested too deep at " << parent.realPath;
        return false;
    }
    StringList subs;
    const HRESULT hr = getCapabilities(capMgr, querySubFolders(parent.realPath).c_str(), subs);
    if (FAILED(hr)) {
        LOG_ERROR << "The request for subfolders failed.";
        return false;
    }
    if (subs.empty()) {
        LOG_DEBUG << "No subfolders found.";
        return true;
    }
    for (const std::wstring& sub : subs) {
        const MappingEntry entry = buildSubFolderEntry(capMgr, parent, sub);
        if (!getConfSubfolders(capMgr, entry, depth + 1)) {
            LOG_ERROR << "Failed to get subfolders of mountpoint.";
            return false;
        }
    }
    return true;
}

bool CFMBrowserMapping::getConfMappedFolders(ICapMgr* capMgr, const MappingEntry& mount) {
    StringList mapped;
    const HRESULT hr = getCapabilities(capMgr, queryMappedFolders(mount.realPath).c_str(), mapped);
    if (FAILED(hr)) {
        LOG_ERROR << "The request for mapped folders failed.";
        return false;
    }
    if (mapped.empty()) {
        LOG_DEBUG << "No Mapped folders found.";
        return true;
    }
    for (const std::wstring& folder : mapped) {
        MappingEntry entry;
        entry.realPath = asFolderPath(folder);
        std::wstring name;
        if (!getConfMappedFolderVirtualName(capMgr, mount.realPath, folder, name) && !lastComponent(folder, name)) {
            LOG_ERROR << "Get real name of folder from real path.";
            return false;
        }
        entry.virtualPath = mount.virtualPath + name + L"\\";
        m_mappedFolders.push_front(MappedFolderPair(entry.realPath, mount.virtualPath));
        entry.restricted = getConfMappedFolderRestricted(capMgr, folder);
        entry.forbidFolderOps = getConfMappedFolderForbidFolderOps(capMgr, folder);
        entry.forbidFileOps = getConfMappedFolderForbidFileOps(capMgr, folder);
        LOG_DEBUG << "mapped folder " << entry.realPath << " as " << entry.virtualPath;
        m_entries.push_front(entry);
    }
    return true;
}

HRESULT CFMBrowserMapping::getMountpoints(StringList& out) {
    LOG_TRACE << "Enter";
    if (m_mountpoints.empty()) {
        LOG_DEBUG << "No mountpoints configured";
        return S_FALSE;
    }
    try {
        for (const std::wstring& mount : m_mountpoints) out.push_front(mount);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CFMBrowserMapping::getMappedFolders(BSTR* virtualPath, StringList& out) {
    return collectMappedFolders(virtualPath, out);
}

DWORD CFMBrowserMapping::getForbidFolderOps(BSTR* virtualPath) {
    LOG_TRACE << "Enter";
    if (!virtualPath) {
        LOG_ERROR << "Invalid argument, NULL pointer received.";
        return 0;
    }
    try {
        const MappingEntry* entry = findEntryByVirtualPath(fromBstr(*virtualPath));
        if (!entry) return 0;
        LOG_DEBUG << "Found in mapping, forbiddenops=" << entry->forbidFolderOps;
        return entry->forbidFolderOps;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

DWORD CFMBrowserMapping::getForbidFileOps(BSTR* virtualFilePath) {
    LOG_TRACE << "Enter";
    if (!virtualFilePath) {
        LOG_ERROR << "Invalid argument, NULL pointer received.";
        return 0;
    }
    try {
        std::wstring parent;
        if (!splitParent(fromBstr(*virtualFilePath), parent)) {
            LOG_ERROR << "Failed to separate filename from parent path.";
            return 0;
        }
        const MappingEntry* entry = findEntryByVirtualPath(parent);
        if (!entry) return 0;
        LOG_DEBUG << "Parent folder found in mapping, forbidFileOps=" << entry->forbidFileOps;
        return entry->forbidFileOps;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

HRESULT CFMBrowserMapping::MapPath(BSTR* virtualPath, BSTR* realPath) {
    return translateByEntries(virtualPath, realPath, true, true);
}

HRESULT CFMBrowserMapping::UnMapPath(BSTR* realPath, BSTR* virtualPath) {
    return translateByEntries(realPath, virtualPath, false, true);
}
