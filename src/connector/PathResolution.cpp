// Path resolution of SymbianConnector: virtual paths to storage objects and
// object-model objects, and the children of the virtual tree's folders.
#include "connector/SymbianConnectorImpl.h"

#include <new>
#include <string>

#include "connector/SymbianFile.h"
#include "connector/SymbianFolder.h"
#include "connector/SymbianMountpoint.h"
#include "mapping/FolderMapping.h"
#include "mapping/MergeFolder.h"
#include "mapping/PcFile.h"
#include "mapping/PcFolder.h"
#include "module/Logging.h"

namespace {

bool NotInitialized(bool initialized) {
    if (initialized) return false;
    LOG_ERROR << "SymbianConnector not initialized.";
    return true;
}

} // namespace

namespace {

std::wstring Text(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

// Whether a PC path (a folder's contents, or a file itself) names something.
bool PcEntryExists(const std::wstring& pattern) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
}

} // namespace

bool SymbianConnector::findOnCard(BSTR& path, bool folder, std::wstring& pcPath) {
    if (!m_pMassStorageMapping) return false;
    com::UniqueBstr real;
    if (m_pMassStorageMapping->MapPath(&path, real.Receive()) != S_OK || real.IsNull()) {
        LOG_DEBUG << "Failed to map virtual path on mass storage";
        return false;
    }
    pcPath = Text(real.Get());
    std::wstring pattern = pcPath;
    if (folder) {
        // A folder's contents only: without the separator "*" would match siblings.
        if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
        pattern += L'*';
    }
    return PcEntryExists(pattern);
}

bool SymbianConnector::mapOnPhone(BSTR& path, com::UniqueBstr& devicePath) {
    return SUCCEEDED(m_pMapping->MapPath(&path, devicePath.Receive())) && !devicePath.IsNull();
}

HRESULT SymbianConnector::getCFile(BSTR& path, CFile** file) {
    LOG_TRACE << "Enter";
    if (NotInitialized(m_bInitialized)) return E_FAIL;
    if (!file || !path) {
        LOG_ERROR << "Invalid argument received. NULL pointer.";
        return E_INVALIDARG;
    }
    *file = nullptr;
    std::wstring pcPath;
    if (findOnCard(path, false, pcPath)) {
        // A card file is served from the PC even when the phone has the same path.
        *file = new (std::nothrow) CPcFile(path, pcPath.c_str(), m_pMassStorageMapping, CurrentBinding());
        return *file ? S_OK : E_OUTOFMEMORY;
    }
    com::UniqueBstr devicePath;
    if (!mapOnPhone(path, devicePath)) {
        LOG_ERROR << "Failed to map virtual path on device";
        LOG_ERROR << "Failed to map virtual path";
        return E_FAIL;
    }
    try {
        com::ComPtr<ISCDeviceStorageItem> item = scom::StorageItem(m_pDevice.Get(), devicePath.Get());
        com::ComPtr<ISCDeviceStorageFile> phoneFile;
        if (!item || FAILED(item.As(phoneFile, IID_ISCDeviceStorageFile))) {
            LOG_ERROR << "Unable to find file on device: " << path;
            return E_FAIL;
        }
        *file = new (std::nothrow) CSymbianFile(this, path, phoneFile.Get(), m_pMapping, CurrentBinding());
    } catch (const _com_error& e) {
        LOG_ERROR << "Unable to open file on device. hr=" << LogHex(e.Error());
        return E_FAIL;
    } catch (...) {
        LOG_ERROR << "Unable to open file on device.";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return *file ? S_OK : E_OUTOFMEMORY;
}

HRESULT SymbianConnector::getCFolder(BSTR& path, CFolder** folder) {
    LOG_TRACE << "Enter";
    if (NotInitialized(m_bInitialized)) return E_FAIL;
    if (!folder || !path) {
        LOG_ERROR << "Invalid argument received. NULL pointer.";
        return E_INVALIDARG;
    }
    *folder = nullptr;
    std::wstring pcPath;
    const bool onCard = findOnCard(path, true, pcPath);
    com::ComPtr<ISCDeviceStorageDirectory> directory;
    com::UniqueBstr devicePath;
    if (!mapOnPhone(path, devicePath)) {
        LOG_DEBUG << "Failed to map virtual path on device";
    } else {
        try {
            com::ComPtr<ISCDeviceStorageItem> item = scom::StorageItem(m_pDevice.Get(), devicePath.Get());
            if (!item || FAILED(item.As(directory, IID_ISCDeviceStorageDirectory))) {
                directory.Reset();
                LOG_DEBUG << "Not a directory: " << path;
            }
        } catch (const _com_error& e) {
            directory.Reset();
            LOG_DEBUG << "Unable to open folder " << path << " on device. ErrorMessage="
                      << static_cast<const wchar_t*>(e.ErrorMessage());
        } catch (...) {
            directory.Reset();
            LOG_DEBUG << "Unable to open folder " << path << " on device.";
        }
    }
    if (directory && onCard) {
        LOG_DEBUG << "Mass storage configured for virtualPath=" << path;
        com::UniqueBstr pc(pcPath.c_str());
        *folder = new (std::nothrow) CMergeFolder(this, path, pc.Get(), directory.Get(), m_pMapping,
                                                  m_pMassStorageMapping, CurrentBinding());
    } else if (directory) {
        *folder = new (std::nothrow) CSymbianFolder(this, path, directory.Get(), m_pMapping, m_pMassStorageMapping,
                                                    CurrentBinding());
    } else if (onCard) {
        *folder = new (std::nothrow) CPcFolder(path, pcPath.c_str(), m_pMassStorageMapping, CurrentBinding());
    } else {
        LOG_ERROR << "Unable to map directory";
        LOG_DEBUG << "path: " << path;
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return *folder ? S_OK : E_OUTOFMEMORY;
}

HRESULT SymbianConnector::getMountPoints(std::list<CMountPoint*>& mountPoints) {
    LOG_TRACE << "Enter";
    if (NotInitialized(m_bInitialized)) return E_FAIL;
    try {
        com::ComPtr<ISCDrives> drives;
        scom::Check(m_pDevice->get_Drives(drives.Receive()), m_pDevice.Get(), IID_ISCDevice);
        long count = 0;
        scom::Check(drives->get_Count(&count), drives.Get(), IID_ISCDrives);
        for (long index = 1; index <= count; ++index) {
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_I4;
            v.lVal = index;
            com::ComPtr<ISCDrive> drive;
            scom::Check(drives->get_Item(v, drive.Receive()), drives.Get(), IID_ISCDrives);
            com::UniqueBstr name;
            scom::Check(drive->get_Path(name.Receive()), drive.Get(), IID_ISCDrive);
            com::UniqueBstr devicePath((std::wstring(name.c_str()) + L"\\").c_str());
            BSTR device = devicePath.Get();
            com::UniqueBstr virtualPath;
            if (FAILED(m_pMapping->UnMapPath(&device, virtualPath.Receive())) || virtualPath.IsNull()) {
                LOG_ERROR << "Unable to UnMap Mountpoint=" << devicePath.c_str();
                continue;
            }
            auto* mountPoint = new (std::nothrow) CSymbianMountPoint(this, virtualPath.Get(), drive.Get(), CurrentBinding());
            if (!mountPoint) return E_OUTOFMEMORY;
            mountPoints.push_back(mountPoint);
        }
    } catch (const _com_error& e) {
        LOG_ERROR << "com_error caught: " << static_cast<const wchar_t*>(e.ErrorMessage());
        return E_FAIL;
    } catch (...) {
        LOG_ERROR << "com_error caught: unexpected exception";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

// The object model's factories come next; until then these refuse cleanly.
HRESULT SymbianConnector::getKVFMFolder(BSTR&, IKVFMFolder**) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getKVFMFile(BSTR&, IKVFMFile**) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getKVFMObjects(BSTR&, std::list<IKVFMObject*>&) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getKVFMFolders(BSTR&, std::list<IKVFMFolder*>&) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getKVFMFiles(BSTR&, std::list<IKVFMFile*>&) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
