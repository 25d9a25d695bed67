#include "connector/SymbianMountpoint.h"

#include "mapping/FolderMapping.h"

#include <memory>

#include "connector/CopyFileWaitObject.h"
#include "module/Logging.h"

namespace {

BSTR CopyOf(BSTR s) { return s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr; }

// The connectivity component's media types (0 to 8) as mount point media.
bool MediaFromScom(long scomType, LONG* media) {
    switch (scomType) {
    case 0: case 1: *media = 1; return true;           // not present, unknown
    case 2: case 4: case 8: *media = 2; return true;   // floppy, CD-ROM, remote
    case 3: case 5: case 6: case 7: *media = 3; return true;  // hard disk, RAM, flash, ROM
    default: *media = 1; return false;
    }
}

} // namespace

CSymbianMountPoint::CSymbianMountPoint(SymbianConnector* connector, BSTR virtualPath, ISCDrive* drive,
                                       BindingGuard binding)
    : m_pDrive(drive),
      m_pSymbianConnector(connector),
      m_bstrPath(com::UniqueBstr::Adopt(CopyOf(virtualPath))),
      m_binding(std::move(binding)) {}

CSymbianMountPoint::~CSymbianMountPoint() = default;

bool CSymbianMountPoint::bindingEnded() const {
    if (m_binding.Valid()) return false;
    LOG_ERROR << "The device binding this object was made under has ended.";
    return true;
}

com::ComPtr<ISCDriveInformation> CSymbianMountPoint::driveInformation() {
    com::ComPtr<ISCDriveInformation> info = scom::DriveInformation(m_pDrive.Get());
    if (!info) _com_issue_error(E_POINTER);
    return info;
}

HRESULT CSymbianMountPoint::PutAttributes(DWORD) {
    LOG_TRACE << "PutAttributes";
    return E_NOTIMPL;
}

HRESULT CSymbianMountPoint::GetAttributes(DWORD* attributes) {
    LOG_TRACE << "GetAttributes";
    if (!attributes) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *attributes = 0;
    return S_OK;
}

HRESULT CSymbianMountPoint::GetCreated(DATE* created) {
    LOG_TRACE << "GetCreated";
    if (!created) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *created = 0.0;
    return S_OK;
}

HRESULT CSymbianMountPoint::GetAccessed(DATE* accessed) {
    LOG_TRACE << "GetAccessed";
    if (!accessed) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *accessed = 0.0;
    return S_OK;
}

HRESULT CSymbianMountPoint::GetChanged(DATE* changed) {
    LOG_TRACE << "GetChanged";
    if (!changed) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *changed = 0.0;
    return S_OK;
}

HRESULT CSymbianMountPoint::GetPath(BSTR* path) {
    LOG_TRACE << "GetPath";
    if (!path) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *path = nullptr;
    return m_bstrPath.CopyTo(path);
}

// The configuration's folder operations hold for a drive shown as a folder too.
HRESULT CSymbianMountPoint::GetForbiddenOps(DWORD* forbiddenOps) {
    LOG_TRACE << "GetForbiddenOps";
    if (!forbiddenOps) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    std::shared_ptr<CFolderMapping> mapping = m_pSymbianConnector->GetMapping();
    BSTR path = m_bstrPath.Get();
    *forbiddenOps = mapping ? mapping->getForbidFolderOps(&path) : 0;
    return S_OK;
}

HRESULT CSymbianMountPoint::NewFolder(BSTR&) {
    LOG_TRACE << "NewFolder";
    return E_NOTIMPL;
}

HRESULT CSymbianMountPoint::GetCFiles(std::list<CFile*>&) {
    LOG_TRACE << "GetCFiles";
    return E_NOTIMPL;
}

HRESULT CSymbianMountPoint::GetCFolders(std::list<CFolder*>&) {
    LOG_TRACE << "GetCFolders";
    return E_NOTIMPL;
}

HRESULT CSymbianMountPoint::PutLabel(BSTR) {
    LOG_TRACE << "PutLabel";
    LOG_DEBUG << "CSymbianMountPoint::PutLabel not implemented.";
    return E_NOTIMPL;
}

HRESULT CSymbianMountPoint::GetMedia(LONG* media) {
    LOG_TRACE << "GetMedia";
    if (!media) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        const long scomType = scom::MediaType(driveInformation().Get());
        if (!MediaFromScom(scomType, media)) {
            LOG_DEBUG << "Received unknown media type: " << scomType;
            return E_FAIL;
        }
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed get Media type. COM Exception caught.";
        LOG_DEBUG << "Error = " << e.Error();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
    }
    return E_FAIL;
}

HRESULT CSymbianMountPoint::GetMemCapacity(ULONG* capacity) {
    LOG_TRACE << "GetMemCapacity";
    if (!capacity) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        *capacity = scom::Capacity(driveInformation().Get());
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed GetMemCapacity. COM Exception caught.";
        LOG_DEBUG << "Error = " << e.Error();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
    }
    return E_FAIL;
}

HRESULT CSymbianMountPoint::GetMemFree(ULONG* freeBytes) {
    LOG_TRACE << "GetMemFree";
    if (!freeBytes) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        *freeBytes = scom::FreeSpace(driveInformation().Get());
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed GetMemFree. COM Exception caught.";
        LOG_DEBUG << "Error = " << e.Error();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
    }
    return E_FAIL;
}

HRESULT CSymbianMountPoint::GetMemUsed(ULONG* usedBytes) {
    LOG_TRACE << "GetMemUsed";
    if (!usedBytes) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        com::ComPtr<ISCDriveInformation> info = driveInformation();
        const ULONG capacity = scom::Capacity(info.Get());
        const ULONG freeBytes = scom::FreeSpace(info.Get());
        *usedBytes = static_cast<ULONG>(capacity - freeBytes);  // wraps when free exceeds capacity
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed GetMemUsed. COM Exception caught.";
        LOG_DEBUG << "Error = " << e.Error();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
    }
    return E_FAIL;
}

HRESULT CSymbianMountPoint::GetLabel(BSTR* label) {
    LOG_TRACE << "GetLabel";
    if (!label) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        _bstr_t text = scom::Label(driveInformation().Get());
        *label = text.copy();
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed GetLabel. COM Exception caught.";
        LOG_DEBUG << "Error = " << e.Error();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
    }
    return E_FAIL;
}

HRESULT CSymbianMountPoint::CopyFileFromPC(CAsynchOperationExecutor* executor, _bstr_t pcPath,
                                           CCopyFileWaitObject** waitObject, CProgressCallbackFunctionBase* progress,
                                           CReplaceCallbackFunctionBase* replace) {
    LOG_TRACE << "Enter";
    LOG_DEBUG << "Copying file " << static_cast<const wchar_t*>(pcPath) << " from PC to device mount point";
    if (!executor || !waitObject) {
        LOG_ERROR << "Invalid argument received, NULL pointer.";
        return E_INVALIDARG;
    }
    *waitObject = nullptr;
    if (bindingEnded()) return E_FAIL;

    // The drive's root folder, by the drive's name plus "\".
    com::ComPtr<ISCDeviceStorageDirectory> root;
    HRESULT hr = E_FAIL;
    try {
        com::ComPtr<ISCDevice> device;
        hr = m_pSymbianConnector ? m_pSymbianConnector->GetISCDevice(device.Receive()) : E_FAIL;
        if (SUCCEEDED(hr) && !device) hr = E_FAIL;
        if (SUCCEEDED(hr)) {
            _bstr_t rootPath = scom::Path(m_pDrive.Get(), IID_ISCDrive) + _bstr_t(L"\\");
            com::ComPtr<ISCDeviceStorageItem> item = scom::StorageItem(device.Get(), static_cast<wchar_t*>(rootPath));
            hr = item.As(root, IID_ISCDeviceStorageDirectory);
            if (SUCCEEDED(hr) && !root) hr = E_NOINTERFACE;
        }
    } catch (const _com_error& e) {
        hr = e.Error();
    } catch (...) {
        hr = E_FAIL;
    }
    if (FAILED(hr)) {
        LOG_TRACE << "Unable to get ISCDeviceStorageDirectory to drive";
        return hr;
    }

    const HRESULT started = StartScomCopy(
        KV_LOG_SITE, "from PC", executor, m_pSymbianConnector, progress, replace,
        [&]() { return scom::CopyFileFromPC(root.Get(), static_cast<wchar_t*>(pcPath)); }, waitObject);
    if (FAILED(started)) return started;
    LOG_TRACE << "Exit";
    return S_OK;
}
