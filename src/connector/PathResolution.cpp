// Path resolution of SymbianConnector: virtual paths to storage objects and
// object-model objects, and the children of the virtual tree's folders.
#include "connector/SymbianConnectorImpl.h"

#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>
#include <string>

#include "connector/SymbianFile.h"
#include "connector/SymbianFolder.h"
#include "connector/SymbianMountpoint.h"
#include "mapping/FolderMapping.h"
#include "mapping/MergeFolder.h"
#include "mapping/PcFile.h"
#include "mapping/PcFolder.h"
#include "module/Logging.h"
#include "objects/FMFile.h"
#include "objects/FMFolder.h"
#include "objects/FMMountPoint.h"

namespace {

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
    // The PC search would expand them: a pattern is not an item.
    if (path && wcspbrk(path, L"*?")) {
        LOG_DEBUG << "Wildcard in virtual path: " << path;
        return false;
    }
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

HRESULT SymbianConnector::getCFile(BSTR& path, CFile** file) try {
    LOG_TRACE << "Enter";
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
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
} catch (...) {
    LOG_ERROR << "Unhandled exception caught";
    return E_FAIL;
}

HRESULT SymbianConnector::getCFolder(BSTR& path, CFolder** folder) try {
    LOG_TRACE << "Enter";
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
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
} catch (...) {
    LOG_ERROR << "Unhandled exception caught";
    return E_FAIL;
}

HRESULT SymbianConnector::getMountPoints(std::list<CMountPoint*>& mountPoints) {
    LOG_TRACE << "Enter";
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
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

namespace {

// A new BSTR for a std::wstring, owned by the holder.
com::UniqueBstr Bstr(const std::wstring& text) {
    return com::UniqueBstr(text.c_str(), static_cast<UINT>(text.size()));
}

std::wstring Trimmed(const wchar_t* path) {
    std::wstring text = path ? path : L"";
    while (!text.empty() && text.back() == L'\\') text.pop_back();
    return text;
}

bool IsTreeRoot(BSTR path) {
    com::UniqueBstr root(L"\\");
    return VarBstrCmp(path, root.Get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

template <class To, class From>
HRESULT QueryAs(From* from, REFIID iid, To** out) {
    *out = nullptr;
    return from ? from->QueryInterface(iid, reinterpret_cast<void**>(out)) : E_POINTER;
}

} // namespace

// A folder path whose last component names a file on the phone: the caller
// asked for a folder where a file is.
bool SymbianConnector::namesPhoneFile(BSTR devicePath) {
    std::wstring text(devicePath, SysStringLen(devicePath));
    if (text.size() < 2 || text.back() != L'\\') return false;
    text.pop_back();
    try {
        com::UniqueBstr file(text.c_str(), static_cast<UINT>(text.size()));
        com::ComPtr<ISCDeviceStorageItem> item = scom::StorageItem(m_pDevice.Get(), file.Get());
        long type = 0;
        return item && SUCCEEDED(item->get_Type(&type)) && type == scItemFile;
    } catch (...) {
        return false;
    }
}

HRESULT SymbianConnector::wrapFolder(BSTR path, CFolder* storage, IKVFMFolder** folder) {
    HRESULT hr = CFMFolder::CreateCFMFolderInstance(m_pExecutor, this, path, storage, folder);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to create IKVFMFolder";
    }
    return hr;
}

HRESULT SymbianConnector::wrapMountPoint(BSTR path, CMountPoint* storage, IKVFMMountPoint** mountPoint) {
    HRESULT hr = CFMMountPoint::CreateCFMMountPointInstance(m_pExecutor, this, path, storage, mountPoint);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to create IKVFMMountPoint";
    }
    return hr;
}

HRESULT SymbianConnector::getKVFMFolder(BSTR& path, IKVFMFolder** folder) {
    LOG_TRACE << "Enter";
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
    if (!path || !folder) {
        LOG_ERROR << "Invalid argument received. NULL pointer.";
        return E_INVALIDARG;
    }
    *folder = nullptr;
    LOG_DEBUG << "virtualPath=" << path;
    if (IsTreeRoot(path)) {
        LOG_DEBUG << "RootFolder";
        return wrapFolder(path, nullptr, folder);
    }
    try {
        std::wstring pcPath;
        const bool onCard = findOnCard(path, true, pcPath);
        auto cardFolder = [&]() -> HRESULT {
            auto* storage = new (std::nothrow) CPcFolder(path, pcPath.c_str(), m_pMassStorageMapping, CurrentBinding());
            return storage ? wrapFolder(path, storage, folder) : E_OUTOFMEMORY;
        };
        com::UniqueBstr devicePath;
        if (!mapOnPhone(path, devicePath)) {
            if (onCard) return cardFolder();
            LOG_ERROR << "Failed to map virtual path";
            LOG_DEBUG << "Path: " << path;
            return E_FAIL;
        }
        com::ComPtr<ISCDeviceStorageItem> item;
        long type = 0;
        try {
            item = scom::StorageItem(m_pDevice.Get(), devicePath.Get());
            if (item) scom::Check(item->get_Type(&type), item.Get(), IID_ISCDeviceStorageItem);
        } catch (const _com_error& e) {
            item.Reset();
            LOG_DEBUG << "Unable to open folder " << path << " on device. ErrorMessage="
                      << static_cast<const wchar_t*>(e.ErrorMessage());
        }
        if (!item) {
            if (onCard) return cardFolder();
            if (namesPhoneFile(devicePath.Get())) {
                LOG_ERROR << "Not a folder.";
                return E_INVALIDARG;
            }
            LOG_ERROR << "Unable to map directory";
            LOG_DEBUG << "path: " << path;
            return E_FAIL;
        }
        if (type == scItemDirectory) {
            LOG_DEBUG << "Folder";
            com::ComPtr<ISCDeviceStorageDirectory> directory;
            if (FAILED(item.As(directory, IID_ISCDeviceStorageDirectory))) {
                LOG_ERROR << "Unable to find directory on device: " << path;
                return E_FAIL;
            }
            CFolder* storage = nullptr;
            if (onCard) {
                com::UniqueBstr pc(pcPath.c_str());
                storage = new (std::nothrow) CMergeFolder(this, path, pc.Get(), directory.Get(), m_pMapping,
                                                          m_pMassStorageMapping, CurrentBinding());
            } else {
                storage = new (std::nothrow) CSymbianFolder(this, path, directory.Get(), m_pMapping,
                                                            m_pMassStorageMapping, CurrentBinding());
            }
            if (!storage) return E_OUTOFMEMORY;
            return wrapFolder(path, storage, folder);
        }
        if (type == scItemDrive) {
            LOG_DEBUG << "Drive";
            com::ComPtr<ISCDrive> drive;
            if (FAILED(item.As(drive, IID_ISCDrive))) {
                LOG_ERROR << "Unable to find drive on device: " << path;
                return E_FAIL;
            }
            auto* storage = new (std::nothrow) CSymbianMountPoint(this, path, drive.Get(), CurrentBinding());
            if (!storage) return E_OUTOFMEMORY;
            com::ComPtr<IKVFMMountPoint> mountPoint;
            HRESULT hr = wrapMountPoint(path, storage, mountPoint.Receive());
            if (FAILED(hr)) return hr;
            return QueryAs(mountPoint.Get(), IID_IKVFMFolder, folder);
        }
        LOG_ERROR << "Not a folder.";
        return E_INVALIDARG;
    } catch (const _com_error& e) {
        LOG_ERROR << "com_error caught: " << static_cast<const wchar_t*>(e.ErrorMessage());
        return E_FAIL;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }
}

HRESULT SymbianConnector::getKVFMFile(BSTR& path, IKVFMFile** file) {
    LOG_TRACE << "Enter";
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
    if (!path || !file) {
        LOG_ERROR << "Invalid argument received. NULL pointer.";
        return E_INVALIDARG;
    }
    *file = nullptr;
    CFile* storage = nullptr;
    HRESULT hr = getCFile(path, &storage);
    if (FAILED(hr)) return hr;
    hr = CFMFile::CreateCFMFileInstance(m_pExecutor, this, path, storage, file);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to create IKVFMFile";
        return hr;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

// Children of a folder: storage objects turned into object-model objects of
// interface I. A child that cannot be made is logged and skipped.
template <class I>
HRESULT SymbianConnector::appendChildren(BSTR& path, bool folders, bool files, std::list<I*>& out) {
    CFolder* raw = nullptr;
    if (FAILED(getCFolder(path, &raw)) || !raw) {
        LOG_ERROR << "Unable to map folder " << path;
        return E_FAIL;
    }
    std::unique_ptr<CFolder> folder(raw);
    std::list<CFolder*> childFolders;
    std::list<CFile*> childFiles;
    // Whatever is not handed to a factory is deleted here.
    struct Owned {
        std::list<CFolder*>& folders;
        std::list<CFile*>& files;
        ~Owned() {
            for (CFolder* f : folders) delete f;
            for (CFile* f : files) delete f;
        }
    } owned{childFolders, childFiles};
    if (folders && FAILED(folder->GetCFolders(childFolders))) {
        LOG_ERROR << "Failed to get child folders to " << path;
        return E_FAIL;
    }
    if (files && FAILED(folder->GetCFiles(childFiles))) {
        LOG_ERROR << "Failed to get child files to " << path;
        return E_FAIL;
    }
    const IID& iid = __uuidof(I);
    for (CFolder*& child : childFolders) {
        com::UniqueBstr childPath;
        if (FAILED(child->GetPath(childPath.Receive())) || childPath.IsNull()) {
            // The objects listing writes its own text, with a comma.
            LOG_ERROR << (files ? "Failed to get virtual path for folder," : "Failed to get virtual path for folder.");
            continue;
        }
        com::ComPtr<IKVFMFolder> object;
        CFolder* storage = child;
        child = nullptr;
        if (FAILED(CFMFolder::CreateCFMFolderInstance(m_pExecutor, this, childPath.Get(), storage, object.Receive()))) {
            LOG_ERROR << "Could not create FMFolder";
            continue;
        }
        I* item = nullptr;
        if (FAILED(QueryAs(object.Get(), iid, &item))) {
            LOG_ERROR << "Unable to get IKVFMObject interface on folder";
            continue;
        }
        out.push_back(item);
    }
    for (CFile*& child : childFiles) {
        com::UniqueBstr childPath;
        if (FAILED(child->GetPath(childPath.Receive())) || childPath.IsNull()) {
            if (folders) {
                LOG_ERROR << "Failed to get virtual path for file.";
            } else {
                LOG_ERROR << "Could not get fileVirtualPath=";
            }
            continue;
        }
        com::ComPtr<IKVFMFile> object;
        CFile* storage = child;
        child = nullptr;
        if (FAILED(CFMFile::CreateCFMFileInstance(m_pExecutor, this, childPath.Get(), storage, object.Receive()))) {
            LOG_ERROR << "Could not create FMFile";
            continue;
        }
        I* item = nullptr;
        if (FAILED(QueryAs(object.Get(), iid, &item))) {
            LOG_ERROR << "Unable to get IKVFMObject interface on file";
            continue;
        }
        out.push_back(item);
    }
    return S_OK;
}

template <class I>
HRESULT SymbianConnector::rootChildrenRaw(std::list<I*>& out) {
    std::list<CMountPoint*> mountPoints;
    HRESULT hr = getMountPoints(mountPoints);
    if (FAILED(hr)) {
        for (CMountPoint* m : mountPoints) delete m;
        LOG_ERROR << "Unable to fetch drive information from device";
        return hr;
    }
    for (CMountPoint* raw : mountPoints) {
        std::unique_ptr<CMountPoint> storage(raw);
        com::UniqueBstr path;
        if (FAILED(storage->GetPath(path.Receive())) || path.IsNull()) {
            LOG_ERROR << "Failed to get virtual path for this Mountpoint";
            continue;
        }
        com::ComPtr<IKVFMMountPoint> mountPoint;
        if (FAILED(CFMMountPoint::CreateCFMMountPointInstance(m_pExecutor, this, path.Get(), storage.release(),
                                                              mountPoint.Receive()))) {
            LOG_ERROR << "Unable to create Mount Point";
            continue;
        }
        I* item = nullptr;
        if (FAILED(QueryAs(mountPoint.Get(), __uuidof(I), &item))) {
            if (std::is_same<I, IKVFMFolder>::value) {
                LOG_ERROR << "Could not get IKVFMFolder interface on mountpoint";
            } else {
                LOG_ERROR << "Could not get IKVFMObject interface on mount point";
            }
            continue;
        }
        out.push_back(item);
    }
    return S_OK;
}

template <class I>
HRESULT SymbianConnector::rootChildrenBrowser(std::list<I*>& out, bool withCard) {
    StringList realPaths;
    std::vector<std::wstring> listed;  // virtual paths of the configured mount points
    if (FAILED(m_pMapping->getMountpoints(realPaths))) {
        LOG_ERROR << "Failed to get configured mountpoints.";
        return E_FAIL;
    }
    for (const std::wstring& real : realPaths) {
        com::UniqueBstr realPath = Bstr(real);
        com::ComPtr<ISCDeviceStorageItem> item;
        long type = 0;
        try {
            item = scom::StorageItem(m_pDevice.Get(), realPath.Get());
            if (item) scom::Check(item->get_Type(&type), item.Get(), IID_ISCDeviceStorageItem);
        } catch (const _com_error&) {
            item.Reset();
        }
        if (!item) {
            LOG_ERROR << "Path from mapping did not match any storage on device.";
            LOG_DEBUG << "Path=" << real;
            continue;
        }
        com::UniqueBstr virtualPath;
        BSTR device = realPath.Get();
        if (FAILED(m_pMapping->UnMapPath(&device, virtualPath.Receive())) || virtualPath.IsNull()) {
            LOG_WARNING << "Mountpoint did not have any mapping.";
            LOG_DEBUG << "Path=" << real;
            continue;
        }
        I* child = nullptr;
        if (type == scItemDrive) {
            com::ComPtr<ISCDrive> drive;
            if (FAILED(item.As(drive, IID_ISCDrive))) {
                LOG_ERROR << (std::is_same<I, IKVFMFolder>::value ? "Unable to get interface for drive on device"
                                                                   : "Unable to find drive on device");
                continue;
            }
            auto* storage = new (std::nothrow) CSymbianMountPoint(this, virtualPath.Get(), drive.Get(), CurrentBinding());
            com::ComPtr<IKVFMMountPoint> mountPoint;
            if (!storage || FAILED(CFMMountPoint::CreateCFMMountPointInstance(m_pExecutor, this, virtualPath.Get(),
                                                                              storage, mountPoint.Receive()))) {
                LOG_ERROR << "Unable to create mountpoint";
                continue;
            }
            if (FAILED(QueryAs(mountPoint.Get(), __uuidof(I), &child))) {
                LOG_ERROR << "Could not get " << (std::is_same<I, IKVFMFolder>::value ? "IKVFMFolder" : "IKVFMObject")
                          << " interface on mountpoint";
                continue;
            }
        } else if (type == scItemDirectory) {
            com::ComPtr<ISCDeviceStorageDirectory> directory;
            if (FAILED(item.As(directory, IID_ISCDeviceStorageDirectory))) {
                LOG_ERROR << (std::is_same<I, IKVFMFolder>::value ? "Unable to get interface for directory on device"
                                                                   : "Unable to find directory on device");
                continue;
            }
            auto* storage = new (std::nothrow) CSymbianFolder(this, virtualPath.Get(), directory.Get(), m_pMapping,
                                                              m_pMassStorageMapping, CurrentBinding());
            com::ComPtr<IKVFMFolder> folder;
            if (!storage ||
                FAILED(CFMFolder::CreateCFMFolderInstance(m_pExecutor, this, virtualPath.Get(), storage, folder.Receive()))) {
                LOG_ERROR << "Could not create FMFolder";
                continue;
            }
            if (FAILED(QueryAs(folder.Get(), __uuidof(I), &child))) {
                LOG_ERROR << (std::is_same<I, IKVFMFolder>::value ? "Could not get IKVFMFolder interface on mountpoint"
                                                                   : "Could not get IKVFMObject interface on mount point");
                continue;
            }
        } else {
            LOG_ERROR << "Invalid storage type for mountpoint.";
            continue;
        }
        out.push_back(child);
        listed.push_back(Trimmed(virtualPath.c_str()));
    }
    if (!withCard || !m_pMassStorageMapping) return S_OK;

    StringList cardPaths;
    if (FAILED(m_pMassStorageMapping->getMountpoints(cardPaths))) {
        LOG_ERROR << "Failed to get mass storage mountpoints.";
        return S_OK;
    }
    for (const std::wstring& real : cardPaths) {
        com::UniqueBstr realPath = Bstr(real);
        BSTR pc = realPath.Get();
        com::UniqueBstr virtualPath;
        if (FAILED(m_pMassStorageMapping->UnMapPath(&pc, virtualPath.Receive())) || virtualPath.IsNull()) {
            LOG_ERROR << "Unable to UnMap Mountpoint=" << real;
            continue;
        }
        // A card the phone reports too is already listed as its drive.
        const std::wstring cardPath = Trimmed(virtualPath.c_str());
        if (std::any_of(listed.begin(), listed.end(),
                        [&](const std::wstring& p) { return _wcsicmp(p.c_str(), cardPath.c_str()) == 0; })) {
            LOG_DEBUG << "Card mountpoint already listed: " << cardPath;
            continue;
        }
        auto* storage = new (std::nothrow) CPcFolder(virtualPath.Get(), real.c_str(), m_pMassStorageMapping, CurrentBinding());
        com::ComPtr<IKVFMFolder> folder;
        if (!storage || FAILED(CFMFolder::CreateCFMFolderInstance(m_pExecutor, this, virtualPath.Get(), storage,
                                                                  folder.Receive()))) {
            LOG_ERROR << "Unable to create IKVFMFolder";
            continue;
        }
        I* child = nullptr;
        if (FAILED(QueryAs(folder.Get(), __uuidof(I), &child))) {
            LOG_ERROR << "Could not get IKVFMObject interface on folder";
            continue;
        }
        out.push_back(child);
    }
    return S_OK;
}

HRESULT SymbianConnector::getKVFMObjects(BSTR& path, std::list<IKVFMObject*>& objects) {
    LOG_TRACE << "Enter";
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
    if (!path) {
        LOG_ERROR << "Invalid argument received. NULL pointer.";
        return E_INVALIDARG;
    }
    HRESULT hr;
    try {
        if (PathIsRootW(path)) {
            if (m_bBrowserMappingInUse) {
                LOG_DEBUG << "Using browsermapping";
                hr = rootChildrenBrowser(objects, true);
            } else {
                LOG_DEBUG << "Using raw mapping";
                hr = rootChildrenRaw(objects);
            }
        } else {
            LOG_DEBUG << "Folder";
            hr = appendChildren(path, true, true, objects);
        }
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        hr = E_FAIL;
    }
    if (SUCCEEDED(hr)) {
        LOG_TRACE << "Exit";
    }
    return hr;
}

HRESULT SymbianConnector::getKVFMFolders(BSTR& path, std::list<IKVFMFolder*>& folders) {
    LOG_TRACE << "Enter";
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
    if (!path) {
        LOG_ERROR << "Invalid argument received. NULL pointer.";
        return E_INVALIDARG;
    }
    HRESULT hr;
    try {
        if (IsTreeRoot(path)) {
            hr = m_bBrowserMappingInUse ? rootChildrenBrowser(folders, false) : rootChildrenRaw(folders);
            if (FAILED(hr)) {
                LOG_ERROR << "Unable to retrieve folders for path";
            }
        } else {
            hr = appendChildren(path, true, false, folders);
        }
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        hr = E_FAIL;
    }
    if (SUCCEEDED(hr)) {
        LOG_TRACE << "Exit";
    }
    return hr;
}

HRESULT SymbianConnector::getKVFMFiles(BSTR& path, std::list<IKVFMFile*>& files) {
    LOG_TRACE << "Enter";
    BindingLease lease = leaseBinding();
    if (!lease) return E_FAIL;
    if (!path) {
        LOG_ERROR << "Invalid argument received. NULL pointer.";
        return E_INVALIDARG;
    }
    // The tree's root only holds mount points and folders.
    if (IsTreeRoot(path)) {
        LOG_TRACE << "Exit";
        return S_OK;
    }
    HRESULT hr;
    try {
        hr = appendChildren(path, false, true, files);
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        hr = E_FAIL;
    }
    if (SUCCEEDED(hr)) {
        LOG_TRACE << "Exit";
    }
    return hr;
}
