#include "mapping/FMRawMapping.h"

#include <new>

#include "module/Logging.h"

CFMRawMapping::CFMRawMapping(std::shared_ptr<MappingPlatform> platform) : CFolderMapping(std::move(platform)) {
    LOG_TRACE << "Creating CFMRawMapping";
}

CFMRawMapping::~CFMRawMapping() {
    LOG_TRACE << "Deleting CFMRawMapping";
}

HRESULT CFMRawMapping::Init(BSTR, BSTR) {
    LOG_TRACE << "Enter";
    m_bRawInitialized = true;
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CFMRawMapping::MapPath(BSTR* virtualPath, BSTR* realPath) {
    LOG_TRACE << "Enter";
    if (!realPath || !virtualPath) {
        LOG_ERROR << "Invalid argument, NULL pointer received.";
        return E_INVALIDARG;
    }
    *realPath = nullptr;
    if (!m_bRawInitialized) {
        LOG_ERROR << "RawMapping not initialized";
        return E_FAIL;
    }
    try {
        com::UniqueBstr root(L"\\");
        if (root.IsNull()) return E_OUTOFMEMORY;
        if (VarBstrCmp(*virtualPath, root.Get(), LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ)) {
            LOG_ERROR << "No mapping for root folder.";
            return E_INVALIDARG;
        }
        const std::wstring path = fromBstr(*virtualPath);
        if (path.empty() || path.front() != L'\\') {
            LOG_ERROR << "unrecognized path";
            return kHrPathNotFound;
        }
        // No path may climb out of the folder it names.
        if (hasUnsafeComponent(path)) {
            LOG_ERROR << "relative path component";
            LOG_ERROR << "unrecognized path";
            return kHrPathNotFound;
        }
        // Cutting the path would name another item.
        if (path.size() - 1 > kMaxPathRest) {
            LOG_ERROR << "path too long";
            return kHrPathTooLong;
        }
        const HRESULT hr = toBstr(path.substr(1), realPath);
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CFMRawMapping::UnMapPath(BSTR* realPath, BSTR* virtualPath) {
    LOG_TRACE << "Enter";
    if (!virtualPath || !realPath) {
        LOG_ERROR << "Invalid argument, NULL pointer received.";
        return E_INVALIDARG;
    }
    *virtualPath = nullptr;
    if (!m_bRawInitialized) {
        LOG_ERROR << "RawMapping not initialized";
        return E_FAIL;
    }
    try {
        const std::wstring path = fromBstr(*realPath);
        if (hasUnsafeComponent(path)) {
            LOG_ERROR << "relative path component";
            LOG_ERROR << "unrecognized path";
            return kHrPathNotFound;
        }
        // Only what MapPath takes back is handed out.
        if (path.size() > kMaxPathRest) {
            LOG_ERROR << "path too long";
            return kHrPathTooLong;
        }
        const HRESULT hr = toBstr(L"\\" + path, virtualPath);
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}
