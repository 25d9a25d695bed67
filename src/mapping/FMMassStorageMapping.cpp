#include "mapping/FMMassStorageMapping.h"

#include <cstdio>
#include <new>

#include "module/Logging.h"

namespace {

constexpr DWORD kDriveBufferLength = 260;
// One drive string such as F:\ and its terminator.
constexpr DWORD kDriveStringStep = 4;

// The configured decimal serial as a 32-bit value, read as atoi reads it but
// wrapping instead of overflowing, so serials above 2^31 still match. A text
// without digits matches no drive (atoi would give 0).
bool parseSerial(const std::wstring& text, DWORD& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    DWORD v = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        v = v * 10u + static_cast<DWORD>(text[i] - L'0');
        digits = true;
    }
    value = negative ? 0u - v : v;
    return digits;
}

} // namespace

CFMMassStorageMapping::CFMMassStorageMapping(std::shared_ptr<MappingPlatform> platform)
    : CFolderMapping(std::move(platform)) {
    LOG_TRACE << "Creating CFMMassStorageMapping";
}

CFMMassStorageMapping::~CFMMassStorageMapping() {
    LOG_TRACE << "Deleting CFMMassStorageMapping";
}

void CFMMassStorageMapping::resetConfiguration() {
    CFolderMapping::resetConfiguration();
    m_strPcDrive.clear();
    m_strPhonePath.clear();
}

bool CFMMassStorageMapping::getConfMapping(ICapMgr* capMgr) {
    LOG_TRACE << "Enter";
    if (!getConfMassStorage(capMgr)) {
        LOG_ERROR << "Failed to get configured mass storage";
        return false;
    }
    m_strConfPrefix += L"foldermapping/";
    const MappingEntry mount = handleMountPoint(capMgr);
    if (!getConfSubfolders(capMgr, mount)) {
        LOG_ERROR << "Failed to get subfolders of mountpoint.";
        return false;
    }
    if (!getConfMappedFolders(capMgr, mount)) {
        LOG_ERROR << "Failed to get mapped folders of mountpoint.";
        return false;
    }
    LOG_TRACE << "Exit";
    return true;
}

bool CFMMassStorageMapping::getConfMassStorage(ICapMgr* capMgr) {
    LOG_TRACE << "Enter";
    // An answer whose cells are all unassigned counts as no answer.
    StringList serials;
    const std::wstring applicationSerial = L"/applications/application[@name=\"Ostrevin\"]/device[@uid=\"" +
                                           m_strDeviceUid + L"\"]/massstorage/@serialnumber";
    if (getCapabilities(capMgr, applicationSerial.c_str(), serials) != S_OK || serials.empty()) {
        LOG_ERROR << "The request for FAKE mass storage serial number failed.";
        serials.clear();
        const std::wstring cardSerial = m_strConfPrefix + L"storage/media[@name=\"USBDevice\"][@present=\"true\"]/@id";
        if (getCapabilities(capMgr, cardSerial.c_str(), serials) != S_OK || serials.empty()) {
            LOG_ERROR << "The request for mass storage serial number failed.";
            return false;
        }
    }
    StringList paths;
    const std::wstring phonePath = m_strConfPrefix + L"/storage/media[@name=\"USBDevice\"]/@mountpoint";
    if (getCapabilities(capMgr, phonePath.c_str(), paths) != S_OK || paths.empty()) {
        LOG_ERROR << "The request for mass storage SCOM path failed.";
        return false;
    }
    m_strPhonePath = paths.front();
    LOG_DEBUG << "phone path=" << m_strPhonePath << ", serial=" << serials.front();
    return getDriveLetter(serials.front(), m_strPcDrive);
}

bool CFMMassStorageMapping::getDriveLetter(const std::wstring& serial, std::wstring& pcDrive) {
    LOG_TRACE << "Enter";
    wchar_t drives[kDriveBufferLength] = {};
    const DWORD received = m_platform->LogicalDriveStrings(kDriveBufferLength, drives);
    if (received == 0) {
        LOG_ERROR << "Catastrophic failure reading drive strings...";
        return false;
    }
    LOG_DEBUG << "Bytes received = " << received;
    DWORD wanted = 0;
    if (!parseSerial(serial, wanted)) {
        LOG_ERROR << "Serial number is not a number: " << serial;
        return false;
    }
    // A result above the buffer's size is the size it would need: walk only what is there.
    const DWORD length = received < kDriveBufferLength ? received : kDriveBufferLength;
    drives[kDriveBufferLength - 1] = L'\0';
    for (DWORD position = 0; position < length; position += kDriveStringStep) {
        const wchar_t* drive = drives + position;
        if (!*drive) break;
        LOG_DEBUG << "drive: " << drive;
        if (m_platform->DriveType(drive) != DRIVE_REMOVABLE) continue;
        wchar_t volumeName[MAX_PATH] = {};
        wchar_t fileSystemName[MAX_PATH] = {};
        DWORD serialNumber = 0, maxComponentLength = 0, fileSystemFlags = 0;
        if (!m_platform->VolumeInformation(drive, volumeName, MAX_PATH, &serialNumber, &maxComponentLength,
                                           &fileSystemFlags, fileSystemName, MAX_PATH)) {
            LOG_ERROR << "Failed to GetVolumeInformation! error = " << GetLastError();
            continue;
        }
        LOG_DEBUG << "Volumename=" << volumeName << ", serialnumber=" << serialNumber
                  << ", max comp length=" << maxComponentLength;
        LOG_DEBUG << "Filesysflag=" << fileSystemFlags << ", File system Name=" << fileSystemName;
        if (serialNumber == wanted) {
            pcDrive = drive;
            LOG_DEBUG << "Mass storage drive=" << pcDrive;
            return true;
        }
    }
    LOG_DEBUG << "No removable drive with serial number " << serial;
    return false;
}

std::wstring CFMMassStorageMapping::onPcDrive(const std::wstring& path) const {
    std::wstring onDrive(path);
    if (!onDrive.empty() && !m_strPcDrive.empty()) onDrive[0] = m_strPcDrive[0];
    return onDrive;
}

MappingEntry CFMMassStorageMapping::handleMountPoint(ICapMgr* capMgr) {
    MappingEntry entry;
    entry.realPath = m_strPcDrive;
    if (!getConfMountPointVirtualPath(capMgr, m_strPhonePath, entry.virtualPath)) {
        LOG_DEBUG << "No virtual name configured for mountpoint=" << m_strPhonePath;
        entry.virtualPath = entry.realPath;
    }
    entry.restricted = getConfMountPointRestricted(capMgr, m_strPhonePath);
    entry.forbidFolderOps = getConfMountPointForbidFolderOps(capMgr, m_strPhonePath);
    entry.forbidFileOps = getConfMountPointForbidFileOps(capMgr, m_strPhonePath);
    LOG_DEBUG << "mountpoint " << entry.realPath << " as " << entry.virtualPath;
    m_entries.push_front(entry);
    return entry;
}

MappingEntry CFMMassStorageMapping::buildSubFolderEntry(ICapMgr* capMgr, const MappingEntry& mount,
                                                        const std::wstring& sub) {
    MappingEntry entry;
    entry.realPath = onPcDrive(mount.realPath + sub + L"\\");
    std::wstring name;
    if (!getConfSubFolderVirtualName(capMgr, m_strPhonePath, sub, name)) name = sub;
    entry.virtualPath = mount.virtualPath + name + L"\\";
    entry.restricted = getConfSubFolderRestricted(capMgr, sub);
    entry.forbidFolderOps = getConfSubFolderForbidFolderOps(capMgr, sub);
    entry.forbidFileOps = getConfSubFolderForbidFileOps(capMgr, sub);
    LOG_DEBUG << "subfolder " << entry.realPath << " as " << entry.virtualPath;
    m_entries.push_front(entry);
    return entry;
}

bool CFMMassStorageMapping::getConfSubfolders(ICapMgr* capMgr, const MappingEntry& mount) {
    StringList subs;
    if (FAILED(getCapabilities(capMgr, querySubFolders(m_strPhonePath).c_str(), subs))) {
        LOG_ERROR << "The request for subfolders failed ";
        return false;
    }
    for (const std::wstring& sub : subs) buildSubFolderEntry(capMgr, mount, sub);
    return true;
}

bool CFMMassStorageMapping::getConfMappedFolders(ICapMgr* capMgr, const MappingEntry& mount) {
    StringList mapped;
    if (FAILED(getCapabilities(capMgr, queryMappedFolders(m_strPhonePath).c_str(), mapped))) {
        LOG_ERROR << "The request for mapped folders failed.";
        return false;
    }
    for (const std::wstring& folder : mapped) {
        MappingEntry entry;
        entry.realPath = onPcDrive(asFolderPath(folder));
        std::wstring name;
        if (!getConfMappedFolderVirtualName(capMgr, m_strPhonePath, folder, name)) {
            LOG_ERROR << "Failed to get virtual name for mapped folder.";
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

HRESULT CFMMassStorageMapping::getMountpoints(StringList& out) {
    LOG_TRACE << "Enter";
    if (m_strPcDrive.empty()) return S_FALSE;
    try {
        out.push_front(m_strPcDrive);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CFMMassStorageMapping::getMappedFolders(BSTR* virtualPath, StringList& out) {
    return collectMappedFolders(virtualPath, out);
}

DWORD CFMMassStorageMapping::getForbidFolderOps(BSTR* virtualPath) {
    LOG_TRACE << "Enter";
    if (!virtualPath) {
        LOG_ERROR << "Invalid argument, NULL pointer received.";
        return 0;
    }
    try {
        const MappingEntry* entry = findEntryByVirtualPath(fromBstr(*virtualPath));
        if (!entry) return 0;
        char text[16];
        std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(entry->forbidFolderOps));
        LOG_DEBUG << "Found in mapping, forbiddenops=0x" << text;
        return entry->forbidFolderOps;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

DWORD CFMMassStorageMapping::getForbidFileOps(BSTR* virtualFilePath) {
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

HRESULT CFMMassStorageMapping::MapPath(BSTR* virtualPath, BSTR* realPath) {
    return translateByEntries(virtualPath, realPath, true, false);
}

HRESULT CFMMassStorageMapping::UnMapPath(BSTR* realPath, BSTR* virtualPath) {
    return translateByEntries(realPath, virtualPath, false, false);
}
