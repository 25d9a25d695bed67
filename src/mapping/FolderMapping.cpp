#include "mapping/FolderMapping.h"

#include <shlwapi.h>

#include <exception>
#include <new>

#include "module/Interfaces.h"
#include "module/Logging.h"

namespace {

const wchar_t kConfPrefixStart[] = L"//devices/device[@uid=\"";

struct OperationName {
    const wchar_t* name;
    DWORD flag;
};

const OperationName kFolderOperations[] = {
    {L"copy", ForbidCopy},   {L"cut", ForbidMove},           {L"delete", ForbidDelete},
    {L"rename", ForbidRename}, {L"paste", ForbidPaste},      {L"properties", ForbidProperties},
    {L"new", ForbidNew},     {L"explore", ForbidExplore},
};

const OperationName kFileOperations[] = {
    {L"copy", ForbidCopy},     {L"move", ForbidMove},   {L"delete", ForbidDelete},
    {L"rename", ForbidRename}, {L"paste", ForbidPaste}, {L"properties", ForbidProperties},
    {L"new", ForbidNew},
};

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring upperCase(const std::wstring& s) {
    std::wstring u(s);
    if (!u.empty()) CharUpperBuffW(&u[0], static_cast<DWORD>(u.size()));
    return u;
}

} // namespace

// ---- the machine ----

HRESULT MappingPlatform::CreateObject(REFCLSID clsid, DWORD context, REFIID iid, void** out) {
    return CoCreateInstance(clsid, nullptr, context, iid, out);
}

DWORD MappingPlatform::LogicalDriveStrings(DWORD length, wchar_t* buffer) {
    return GetLogicalDriveStringsW(length, buffer);
}

UINT MappingPlatform::DriveType(const wchar_t* root) { return GetDriveTypeW(root); }

BOOL MappingPlatform::VolumeInformation(const wchar_t* root, wchar_t* volumeName, DWORD volumeNameLength,
                                        DWORD* serialNumber, DWORD* maxComponentLength, DWORD* fileSystemFlags,
                                        wchar_t* fileSystemName, DWORD fileSystemNameLength) {
    return GetVolumeInformationW(root, volumeName, volumeNameLength, serialNumber, maxComponentLength,
                                 fileSystemFlags, fileSystemName, fileSystemNameLength);
}

std::shared_ptr<MappingPlatform> MappingPlatform::System() {
    static const std::shared_ptr<MappingPlatform> system = std::make_shared<MappingPlatform>();
    return system;
}

// ---- construction, Init ----

CFolderMapping::CFolderMapping(std::shared_ptr<MappingPlatform> platform)
    : m_platform(platform ? std::move(platform) : MappingPlatform::System()), m_strConfPrefix(kConfPrefixStart) {
    LOG_TRACE << "Creating folder mapping 0x" << this;
}

CFolderMapping::~CFolderMapping() {
    LOG_TRACE << "Deleting folder mapping 0x" << this;
}

HRESULT CFolderMapping::Init(BSTR deviceUid, BSTR imei) {
    LOG_TRACE << "Enter";
    if (m_bInitialized) {
        LOG_ERROR << "Already initialized!";
        return E_FAIL;
    }
    if (!deviceUid || !imei) {
        LOG_ERROR << "Invalid arguments!";
        return E_INVALIDARG;
    }
    HRESULT hr = S_OK;
    try {
        com::ComPtr<ICapMgr> capMgr;
        if (FAILED(startCapMgr(capMgr))) return E_FAIL;

        // A load that failed before may have left a completed prefix behind.
        resetConfiguration();
        m_strConfPrefix += fromBstr(deviceUid);
        m_strConfPrefix += L"\"]/";
        m_strImei = fromBstr(imei);
        m_strDeviceUid = fromBstr(deviceUid);
        LOG_INFO << "IMEI=" << m_strImei << ", uid=" << m_strDeviceUid;

        const bool loaded = getConfMapping(capMgr.Get());
        capMgr.Reset();
        if (loaded) {
            for (MappingEntry& entry : m_entries) {
                entry.realUpper = upperCase(entry.realPath);
                entry.virtualUpper = upperCase(entry.virtualPath);
            }
            m_bInitialized = true;
            LOG_TRACE << "Exit";
            return S_OK;
        }
        LOG_ERROR << "Failed to load configured mapping.";
        hr = E_FAIL;
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory loading the configured mapping.";
        hr = E_OUTOFMEMORY;
    } catch (...) {
        LOG_ERROR << "Exception caught loading the configured mapping.";
        hr = E_FAIL;
    }
    // A failed load leaves nothing half-configured behind.
    try { resetConfiguration(); } catch (...) {}
    return hr;
}

void CFolderMapping::resetConfiguration() {
    m_strConfPrefix = kConfPrefixStart;
    m_entries.clear();
    m_mappedFolders.clear();
}

HRESULT CFolderMapping::startCapMgr(com::ComPtr<ICapMgr>& capMgr) {
    LOG_TRACE << "Enter";
    capMgr.Reset();
    try {
        com::ComPtr<IUnknown> unknown;
        HRESULT hr = m_platform->CreateObject(CLSID_CapMgr, kCapMgrClassContext, IID_IUnknown, unknown.ReceiveVoid());
        if (SUCCEEDED(hr) && !unknown) hr = E_POINTER;
        // The context allows a local server, which must be running before use.
        if (SUCCEEDED(hr)) hr = OleRun(unknown.Get());
        if (SUCCEEDED(hr)) hr = unknown.As(capMgr, IID_ICapMgr);
        if (SUCCEEDED(hr) && !capMgr) hr = E_NOINTERFACE;
        if (FAILED(hr)) {
            capMgr.Reset();
            LOG_FATAL << "Failed to create instance of the Capability Manager";
            LOG_FATAL << "hr=0x" << LogHex(hr);
            return E_FAIL;
        }
    } catch (const _com_error& e) {
        capMgr.Reset();
        LOG_FATAL << "Exception caught when creating instance of Capability Manager.";
        LOG_FATAL << "Error message=." << e.ErrorMessage();
        return E_FAIL;
    } catch (...) {
        capMgr.Reset();
        LOG_FATAL << "Unhandled exception caught when creating instance of Capability Manager.";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

bool CFolderMapping::getConfMapping(ICapMgr*) { return true; }

// ---- answers ----

HRESULT CFolderMapping::getCapabilities(ICapMgr* capMgr, const wchar_t* query, StringList& results) {
    LOG_TRACE << "Enter";
    if (!query) {
        LOG_ERROR << "Invalid argument, NULL query received.";
        return E_INVALIDARG;
    }
    if (!capMgr) {
        LOG_ERROR << "Invalid argument, NULL Capability Manager received.";
        return E_POINTER;
    }
    LOG_DEBUG << "query=" << query;

    com::UniqueBstr bstrImei(m_strImei.c_str(), static_cast<UINT>(m_strImei.size()));
    com::UniqueBstr bstrQuery(query);
    if (bstrImei.IsNull() || bstrQuery.IsNull()) return E_OUTOFMEMORY;

    com::UniqueVariant answer;
    long error = 0;
    HRESULT hr;
    try {
        hr = capMgr->Query(bstrImei.Get(), bstrQuery.Get(), answer.Get(), &error);
    } catch (const _com_error& e) {
        hr = e.Error();
    } catch (...) {
        hr = E_FAIL;
    }
    if (hr != S_OK) {
        LOG_ERROR << "The request for capabilities failed.";
        LOG_ERROR << "Error=" << error;
        return E_FAIL;
    }
    if (answer->vt == VT_EMPTY) {
        LOG_DEBUG << "No elements found matching the query for capabilities.";
        return S_FALSE;
    }
    if (error != 0) {
        LOG_ERROR << "Capablility Manager returned an error retrieving parameters.";
        LOG_ERROR << "Error=" << error;
        return E_FAIL;
    }
    if (answer->vt != (VT_ARRAY | VT_VARIANT)) {
        LOG_ERROR << "The request for capability items failed";
        LOG_ERROR << "vCapabilities.vt=0x" << LogHex(answer->vt);
        return E_FAIL;
    }
    SAFEARRAY* rows = answer->parray;
    if (!rows) {
        LOG_ERROR << "Failed to extract SafeArray from CapMgr Variant.";
        return E_FAIL;
    }
    // Reading two indices from an array of another shape would read past them.
    VARTYPE elementType = VT_EMPTY;
    if (SafeArrayGetDim(rows) != 2 || FAILED(SafeArrayGetVartype(rows, &elementType)) || elementType != VT_VARIANT) {
        LOG_ERROR << "The request for capability items failed";
        LOG_ERROR << "dimensions=" << SafeArrayGetDim(rows) << ", element vt=0x" << LogHex(elementType);
        return E_FAIL;
    }
    LONG lower = 0, upper = 0;
    if (FAILED(SafeArrayGetLBound(rows, 1, &lower))) {
        LOG_ERROR << "Failed to extract lower bound from CapMgr SafeArray.";
        return E_FAIL;
    }
    if (FAILED(SafeArrayGetUBound(rows, 1, &upper))) {
        LOG_ERROR << "Failed to extract upper bound from CapMgr SafeArray.";
        return E_FAIL;
    }
    // The row at the upper bound is not part of the answer.
    const LONGLONG items = static_cast<LONGLONG>(upper) - lower;
    LOG_DEBUG << "Items found=" << items;
    if (items <= 0) {
        LOG_DEBUG << "No items configured";
        return S_FALSE;
    }

    StringList found;
    for (LONG row = lower; row < upper; ++row) {
        // Index 0 addresses the first dimension (the rows), index 1 the columns.
        LONG indices[2] = {row, 1};
        com::UniqueVariant cell;
        hr = SafeArrayGetElement(rows, indices, cell.Get());
        if (SUCCEEDED(hr) && cell->vt != VT_EMPTY && cell->vt != VT_BSTR)
            hr = VariantChangeType(cell.Get(), cell.Get(), 0, VT_BSTR);
        if (FAILED(hr)) {
            LOG_ERROR << "Failed to extract vCapability from SafeArray hr=0x" << LogHex(hr);
            LOG_ERROR << "indeces0=" << indices[0] << ", indeces1=" << indices[1];
            return E_FAIL;
        }
        if (cell->vt == VT_EMPTY) {
            LOG_WARNING << "Unassigned capability from Capability Manager.";
            continue;
        }
        found.push_back(fromBstr(cell->bstrVal));
        LOG_DEBUG << "capability = " << found.back();
    }
    results.splice(results.end(), found);
    LOG_TRACE << "Exit";
    return S_OK;
}

bool CFolderMapping::getConfMountPointVirtualPath(ICapMgr* capMgr, const std::wstring& mountRealPath,
                                                  std::wstring& out) {
    StringList results;
    const HRESULT hr = getCapabilities(capMgr, queryMountPointVirtualPath(mountRealPath).c_str(), results);
    if (FAILED(hr)) {
        LOG_ERROR << "The request for virtual path failed.";
        return false;
    }
    // An empty configured path names no folder: the mount point keeps its default.
    if (hr != S_OK || results.empty() || results.front().empty()) {
        LOG_DEBUG << "No virtual path found.";
        return false;
    }
    const std::wstring& value = results.front();
    out.clear();
    if (value.front() != L'\\') out += L'\\';
    out += value;
    if (value.back() != L'\\') out += L'\\';
    LOG_DEBUG << "virtual path=" << out;
    return true;
}

bool CFolderMapping::getConfSubFolderVirtualName(ICapMgr* capMgr, const std::wstring& mountRealPath,
                                                 const std::wstring& subRealPath, std::wstring& out) {
    StringList results;
    const HRESULT hr =
        getCapabilities(capMgr, querySubFolderVirtualName(mountRealPath, subRealPath).c_str(), results);
    if (FAILED(hr)) {
        LOG_ERROR << "The request for virtual path failed.";
        return false;
    }
    if (hr != S_OK || results.empty()) {
        LOG_DEBUG << "No virtual name found.";
        return false;
    }
    out = results.front();
    return true;
}

bool CFolderMapping::getConfMappedFolderVirtualName(ICapMgr* capMgr, const std::wstring& mountRealPath,
                                                    const std::wstring& mappedRealPath, std::wstring& out) {
    StringList results;
    const HRESULT hr =
        getCapabilities(capMgr, queryMappedFolderVirtualName(mountRealPath, mappedRealPath).c_str(), results);
    if (FAILED(hr)) {
        LOG_ERROR << "The request for virtual path failed.";
        return false;
    }
    if (hr != S_OK || results.empty()) {
        LOG_DEBUG << "No virtual name found.";
        return false;
    }
    if (results.front().empty()) {
        LOG_ERROR << "Empty string for virtual name. Not accepted.";
        return false;
    }
    out = results.front();
    return true;
}

bool CFolderMapping::getConfRestrictedFolders(ICapMgr* capMgr, const std::wstring& query) {
    StringList results;
    const HRESULT hr = getCapabilities(capMgr, query.c_str(), results);
    if (FAILED(hr)) {
        LOG_ERROR << "The request for restrictedsubfolders failed.";
        return false;
    }
    if (hr != S_OK || results.empty()) {
        LOG_DEBUG << "No Setting for restricted folders found.";
        return false;
    }
    return results.front() == L"true";
}

DWORD CFolderMapping::getConfForbidFileOps(ICapMgr* capMgr, const std::wstring& query) {
    StringList results;
    const HRESULT hr = getCapabilities(capMgr, query.c_str(), results);
    if (FAILED(hr)) {
        LOG_ERROR << "The request for forbiddenOperations failed.";
        return 0;
    }
    if (hr != S_OK || results.empty()) {
        LOG_DEBUG << "No forbidden operations found.";
        return 0;
    }
    DWORD flags = 0;
    for (const std::wstring& name : results)
        for (const OperationName& op : kFileOperations)
            if (name == op.name) flags |= op.flag;
    return flags;
}

DWORD CFolderMapping::getConfForbidFolderOps(ICapMgr* capMgr, const std::wstring& query) {
    StringList results;
    const HRESULT hr = getCapabilities(capMgr, query.c_str(), results);
    if (FAILED(hr)) {
        LOG_ERROR << "The request for forbiddenOperations failed.";
        return 0;
    }
    if (hr != S_OK || results.empty()) {
        LOG_DEBUG << "No forbidden operations found.";
        return 0;
    }
    DWORD flags = 0;
    for (const std::wstring& name : results) {
        bool known = false;
        for (const OperationName& op : kFolderOperations) {
            if (name == op.name) {
                flags |= op.flag;
                known = true;
            }
        }
        if (!known) {
            LOG_WARNING << "Unhandled Forbidden folderOp: " << name;
        }
    }
    return flags;
}

// ---- expressions ----

std::wstring CFolderMapping::queryMountPoints() const { return m_strConfPrefix + L"mountpoint/@realpath"; }

std::wstring CFolderMapping::queryMountPointVirtualPath(const std::wstring& mount) const {
    return m_strConfPrefix + L"mountpoint[@realpath=\"" + mount + L"\"]/@virtualpath";
}

std::wstring CFolderMapping::querySubFolders(const std::wstring& mount) const {
    return m_strConfPrefix + L"mountpoint[@realpath=\"" + mount + L"\"]/subfolders/subfolder/@realpath";
}

std::wstring CFolderMapping::querySubFolderVirtualName(const std::wstring& mount, const std::wstring& sub) const {
    return m_strConfPrefix + L"mountpoint[@realpath=\"" + mount + L"\"]/subfolders/subfolder[@realpath=\"" + sub +
           L"\"]/@virtualname";
}

std::wstring CFolderMapping::queryMappedFolders(const std::wstring& mount) const {
    return m_strConfPrefix + L"mountpoint[@realpath=\"" + mount + L"\"]/subfolders/mappedfolder/@realpath";
}

std::wstring CFolderMapping::queryMappedFolderVirtualName(const std::wstring& mount,
                                                          const std::wstring& mapped) const {
    return m_strConfPrefix + L"mountpoint[@realpath=\"" + mount + L"\"]/subfolders/mappedfolder[@realpath=\"" +
           mapped + L"\"]/@virtualname";
}

bool CFolderMapping::getConfMountPointRestricted(ICapMgr* capMgr, const std::wstring& mount) {
    return getConfRestrictedFolders(
        capMgr, m_strConfPrefix + L"mountpoint[@realpath=\"" + mount + L"\"]/subfolders/@restricted");
}

bool CFolderMapping::getConfSubFolderRestricted(ICapMgr* capMgr, const std::wstring& sub) {
    return getConfRestrictedFolders(
        capMgr, m_strConfPrefix + L"mountpoint/subfolders/subfolder[@realpath=\"" + sub + L"\"]/subfolders/@restricted");
}

bool CFolderMapping::getConfMappedFolderRestricted(ICapMgr* capMgr, const std::wstring& mapped) {
    return getConfRestrictedFolders(capMgr, m_strConfPrefix + L"mountpoint/subfolders/mappedfolder[@realpath=\"" +
                                                mapped + L"\"]/subfolders/@restricted");
}

DWORD CFolderMapping::getConfMountPointForbidFileOps(ICapMgr* capMgr, const std::wstring& mount) {
    return getConfForbidFileOps(capMgr, m_strConfPrefix + L"mountpoint[@realpath=\"" + mount +
                                            L"\"]/fileoperations/forbidden_operation/@name");
}

DWORD CFolderMapping::getConfSubFolderForbidFileOps(ICapMgr* capMgr, const std::wstring& sub) {
    return getConfForbidFileOps(capMgr, m_strConfPrefix + L"mountpoint/subfolders/subfolder[@realpath=\"" + sub +
                                            L"\"]/fileoperations/forbidden_operation/@name");
}

DWORD CFolderMapping::getConfMappedFolderForbidFileOps(ICapMgr* capMgr, const std::wstring& mapped) {
    return getConfForbidFileOps(capMgr, m_strConfPrefix + L"mountpoint/subfolders/mappedfolder[@realpath=\"" +
                                            mapped + L"\"]/fileoperations/forbidden_operation/@name");
}

DWORD CFolderMapping::getConfMountPointForbidFolderOps(ICapMgr* capMgr, const std::wstring& mount) {
    return getConfForbidFolderOps(capMgr, m_strConfPrefix + L"mountpoint[@realpath=\"" + mount +
                                              L"\"]/folderoperations/forbidden_operation/@name");
}

DWORD CFolderMapping::getConfSubFolderForbidFolderOps(ICapMgr* capMgr, const std::wstring& sub) {
    return getConfForbidFolderOps(capMgr, m_strConfPrefix + L"mountpoint/subfolders/subfolder[@realpath=\"" + sub +
                                              L"\"]/folderoperations/forbidden_operation/@name");
}

DWORD CFolderMapping::getConfMappedFolderForbidFolderOps(ICapMgr* capMgr, const std::wstring& mapped) {
    return getConfForbidFolderOps(capMgr, m_strConfPrefix + L"mountpoint/subfolders/mappedfolder[@realpath=\"" +
                                              mapped + L"\"]/folderoperations/forbidden_operation/@name");
}

// ---- lookups ----

HRESULT CFolderMapping::getMountpoints(StringList&) { return E_NOTIMPL; }

HRESULT CFolderMapping::getMappedFolders(BSTR*, StringList&) { return S_FALSE; }

DWORD CFolderMapping::getForbidFolderOps(BSTR*) { return 0; }

DWORD CFolderMapping::getForbidFileOps(BSTR*) { return 0; }

bool CFolderMapping::IsRestricted(BSTR* virtualPath) const {
    if (!virtualPath) return false;
    try {
        const MappingEntry* entry = findEntryByVirtualPath(fromBstr(*virtualPath));
        return entry && entry->restricted;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

const MappingEntry* CFolderMapping::findEntryByVirtualPath(const std::wstring& virtualPath) const {
    for (const MappingEntry& entry : m_entries)
        if (entry.virtualPath == virtualPath) return &entry;
    return nullptr;
}

HRESULT CFolderMapping::collectMappedFolders(BSTR* virtualPath, StringList& out) {
    LOG_TRACE << "Enter";
    if (!virtualPath) {
        LOG_ERROR << "Invalid argument, NULL pointer received.";
        return E_INVALIDARG;
    }
    try {
        const std::wstring path = fromBstr(*virtualPath);
        bool any = false;
        for (const MappedFolderPair& pair : m_mappedFolders) {
            if (pair.second == path) {
                out.push_front(pair.first);
                any = true;
            }
        }
        LOG_TRACE << "Exit";
        return any ? S_OK : S_FALSE;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

bool CFolderMapping::splitParent(const std::wstring& filePath, std::wstring& parent) {
    if (filePath.empty() || PathIsRootW(filePath.c_str())) return false;
    size_t end = filePath.size();
    while (end > 0 && filePath[end - 1] == L'\\') --end;
    if (end == 0) return false;
    const size_t slash = filePath.rfind(L'\\', end - 1);
    if (slash == std::wstring::npos) return false;
    parent = filePath.substr(0, slash + 1);
    return true;
}

// ---- translation ----

bool CFolderMapping::hasUnsafeComponent(const std::wstring& path) {
    if (path.find(L'\0') != std::wstring::npos) return true;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !isSeparator(path[end])) ++end;
        bool dots = false, onlyDotsAndSpaces = end > start;
        for (size_t i = start; i < end; ++i) {
            if (path[i] == L'.') dots = true;
            else if (path[i] != L' ') onlyDotsAndSpaces = false;
        }
        if (dots && onlyDotsAndSpaces) return true;
        start = end + 1;
    }
    return false;
}

bool CFolderMapping::staysInside(const std::wstring& base, const wchar_t* rest, size_t restLength) {
    if (restLength == 0) return true;
    // Nothing is inside an empty path; elsewhere the rest must begin a new component.
    return !base.empty() && (isSeparator(base.back()) || isSeparator(rest[0]));
}

HRESULT CFolderMapping::toBstr(const std::wstring& s, BSTR* out) {
    *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CFolderMapping::translateByEntries(BSTR* from, BSTR* to, bool toReal, bool ignoreCase) {
    LOG_TRACE << "Enter";
    if (!to || !from) {
        LOG_ERROR << "Invalid argument, NULL pointer received.";
        return E_INVALIDARG;
    }
    *to = nullptr;
    if (!m_bInitialized) {
        LOG_ERROR << "BrowserMapping not initialized";
        return E_FAIL;
    }
    try {
        if (toReal) {
            com::UniqueBstr root(L"\\");
            if (root.IsNull()) return E_OUTOFMEMORY;
            if (VarBstrCmp(*from, root.Get(), LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ)) {
                LOG_ERROR << "No mapping for root folder.";
                return E_INVALIDARG;
            }
        }
        const std::wstring path = fromBstr(*from);
        LOG_DEBUG << "path=" << path;
        // No path may climb out of the folder its entry grants.
        if (hasUnsafeComponent(path)) {
            LOG_ERROR << "relative path component";
            LOG_ERROR << "unrecognized path";
            return kHrPathNotFound;
        }
        // Paths are matched per listed file: the upper-cased key goes on the
        // stack when it fits, and the result is written straight into the BSTR.
        wchar_t shortKey[256];
        std::wstring longKey;
        const wchar_t* key = path.c_str();
        if (ignoreCase && !path.empty()) {
            wchar_t* upper = shortKey;
            if (path.size() >= sizeof(shortKey) / sizeof(shortKey[0])) {
                longKey = path;
                upper = &longKey[0];
            } else {
                wmemcpy(shortKey, path.data(), path.size());
            }
            CharUpperBuffW(upper, static_cast<DWORD>(path.size()));
            key = upper;
        }
        const MappingEntry* match = nullptr;
        for (const MappingEntry& entry : m_entries) {
            const std::wstring& side = ignoreCase ? (toReal ? entry.virtualUpper : entry.realUpper)
                                                  : (toReal ? entry.virtualPath : entry.realPath);
            if (side.size() <= path.size() && wmemcmp(key, side.data(), side.size()) == 0) {
                match = &entry;
                break;
            }
        }
        if (!match) {
            LOG_ERROR << "unrecognized path";
            return kHrPathNotFound;
        }
        const std::wstring& matched = toReal ? match->virtualPath : match->realPath;
        const std::wstring& target = toReal ? match->realPath : match->virtualPath;
        if (match->restricted && path.size() > matched.size()) {
            LOG_ERROR << "hidden subfolder";
            LOG_ERROR << "unrecognized path";
            return kHrPathNotFound;
        }
        const wchar_t* rest = path.c_str() + matched.size();
        const size_t restLength = path.size() - matched.size();
        // A bare string prefix may end inside a name ("E:\Images" + "2\x").
        if (!staysInside(matched, rest, restLength) || !staysInside(target, rest, restLength)) {
            LOG_ERROR << "path leaves its mapping entry";
            LOG_ERROR << "unrecognized path";
            return kHrPathNotFound;
        }
        // Cutting the rest would name another item.
        if (restLength > kMaxPathRest) {
            LOG_ERROR << "path too long";
            return kHrPathTooLong;
        }
        *to = SysAllocStringLen(nullptr, static_cast<UINT>(target.size() + restLength));
        if (!*to) return E_OUTOFMEMORY;
        wmemcpy(*to, target.data(), target.size());
        wmemcpy(*to + target.size(), rest, restLength);
        LOG_DEBUG << "mapped=" << *to;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}
