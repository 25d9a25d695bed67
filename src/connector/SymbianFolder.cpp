#include "connector/SymbianFolder.h"

#include "connector/CopyFileWaitObject.h"
#include "connector/SymbianFile.h"
#include "mapping/FolderMapping.h"
#include "mapping/MergeFolder.h"
#include "module/Logging.h"

namespace {

constexpr DWORD kForbidExplore = 0x80;

BSTR CopyOf(BSTR s) { return s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr; }

} // namespace

CSymbianFolder::CSymbianFolder(SymbianConnector* connector, BSTR virtualPath, ISCDeviceStorageDirectory* directory,
                               std::shared_ptr<CFolderMapping> mapping,
                               std::shared_ptr<CFolderMapping> massStorageMapping, BindingGuard binding)
    : m_pSymbianConnector(connector),
      m_pDirectory(directory),
      m_bstrPath(com::UniqueBstr::Adopt(CopyOf(virtualPath))),
      m_pMapping(std::move(mapping)),
      m_pMassStorageMapping(std::move(massStorageMapping)),
      m_binding(std::move(binding)) {}

CSymbianFolder::~CSymbianFolder() = default;

bool CSymbianFolder::bindingEnded() const {
    if (m_binding.Valid()) return false;
    LOG_ERROR << "The device binding this object was made under has ended.";
    return true;
}

HRESULT CSymbianFolder::PutAttributes(DWORD) {
    LOG_TRACE << "PutAttributes";
    return E_NOTIMPL;
}

// The phone reports no attributes or times for folders.
HRESULT CSymbianFolder::GetAttributes(DWORD* attributes) {
    LOG_TRACE << "GetAttributes";
    if (!attributes) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *attributes = 0;
    return S_OK;
}

HRESULT CSymbianFolder::GetCreated(DATE* created) {
    LOG_TRACE << "GetCreated";
    if (!created) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *created = 0.0;
    return S_OK;
}

HRESULT CSymbianFolder::GetAccessed(DATE* accessed) {
    LOG_TRACE << "GetAccessed";
    if (!accessed) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *accessed = 0.0;
    return S_OK;
}

HRESULT CSymbianFolder::GetChanged(DATE* changed) {
    LOG_TRACE << "GetChanged";
    if (!changed) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *changed = 0.0;
    return S_OK;
}

HRESULT CSymbianFolder::GetPath(BSTR* path) {
    LOG_TRACE << "GetPath";
    if (!path) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *path = nullptr;
    if (m_bstrPath.Length() == 0) return S_OK;
    return m_bstrPath.CopyTo(path);
}

HRESULT CSymbianFolder::GetForbiddenOps(DWORD* forbiddenOps) {
    LOG_TRACE << "GetForbiddenOps";
    if (!forbiddenOps) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    BSTR path = m_bstrPath.Get();
    *forbiddenOps = m_pMapping ? m_pMapping->getForbidFolderOps(&path) : 0;
    return S_OK;
}

HRESULT CSymbianFolder::Delete() {
    LOG_TRACE << "Delete";
    if (bindingEnded()) return E_FAIL;
    try {
        scom::Delete(m_pDirectory.Get());
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to delete folder, error: " << e.ErrorMessage();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
    }
    return E_FAIL;
}

HRESULT CSymbianFolder::Rename(BSTR& newName) {
    LOG_TRACE << "Rename";
    if (!symbian_storage::IsPlainName(newName)) {
        LOG_ERROR << "Invalid argument. Not a plain folder name: " << newName;
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        scom::Rename(m_pDirectory.Get(), newName);
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to rename folder, error: " << e.ErrorMessage();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
    }
    return E_FAIL;
}

HRESULT CSymbianFolder::NewFolder(BSTR& name) {
    LOG_TRACE << "NewFolder";
    if (!symbian_storage::IsPlainName(name)) {
        LOG_ERROR << "Invalid argument. Not a plain folder name: " << name;
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        scom::CreateSubdirectory(m_pDirectory.Get(), name);  // the new directory is released at once
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to create new folder, error: " << e.ErrorMessage();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
    }
    return E_FAIL;
}

HRESULT CSymbianFolder::GetCFiles(std::list<CFile*>& files) {
    LOG_TRACE << "Enter";
    if (bindingEnded()) return E_FAIL;
    if (!m_pMapping) {
        LOG_ERROR << "No mapping for this folder.";
        return E_FAIL;
    }
    BSTR path = m_bstrPath.Get();
    if (m_pMapping->getForbidFolderOps(&path) & kForbidExplore) {
        LOG_DEBUG << "No files are to be displayed for this folder.";
        LOG_TRACE << "Exit";
        return S_OK;
    }
    try {
        com::ComPtr<ISCFiles> items = scom::Files(m_pDirectory.Get());
        const long count = scom::Count(items.Get());
        for (long index = 1; index <= count; ++index) {
            com::ComPtr<ISCDeviceStorageFile> item = scom::Item(items.Get(), index);
            // Held as the plain string it comes as: this runs once per listed file.
            com::UniqueBstr devicePath;
            scom::Check(item->get_Path(devicePath.Receive()), item.Get(), IID_ISCDeviceStorageFile);
            LOG_DEBUG << "Found file: " << static_cast<const wchar_t*>(devicePath.Get());
            BSTR real = devicePath.Get();
            com::UniqueBstr virtualPath;
            if (FAILED(m_pMapping->UnMapPath(&real, virtualPath.Receive()))) {
                LOG_ERROR << "Failed to UnMap devicePath = " << static_cast<const wchar_t*>(devicePath.Get());
                continue;
            }
            std::unique_ptr<CFile> file(
                new CSymbianFile(m_pSymbianConnector, virtualPath.Get(), item.Get(), m_pMapping, m_binding));
            files.push_back(file.get());
            file.release();
        }
    } catch (const _com_error& e) {
        LOG_ERROR << "_com_error caught: " << e.ErrorMessage();
        return E_FAIL;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

CFolder* CSymbianFolder::makeSubfolder(BSTR virtualPath, ISCDeviceStorageDirectory* directory) {
    try {
        if (m_pMassStorageMapping) {
            BSTR path = virtualPath;
            com::UniqueBstr pcPath;
            if (SUCCEEDED(m_pMassStorageMapping->MapPath(&path, pcPath.Receive())) && !pcPath.IsNull()) {
                LOG_DEBUG << "Mass storage configured for virtualPath=" << virtualPath;
                return new CMergeFolder(m_pSymbianConnector, virtualPath, pcPath.Get(), directory, m_pMapping,
                                        m_pMassStorageMapping, m_binding);
            }
        }
        return new CSymbianFolder(m_pSymbianConnector, virtualPath, directory, m_pMapping, m_pMassStorageMapping,
                                  m_binding);
    } catch (...) {
        LOG_ERROR << "Unable to create the folder object for " << virtualPath;
        return nullptr;
    }
}

HRESULT CSymbianFolder::GetSubfolders(std::list<CFolder*>& folders) {
    LOG_TRACE << "Enter";
    if (bindingEnded()) return E_FAIL;
    if (!m_pMapping) {
        LOG_ERROR << "No mapping for this folder.";
        return E_FAIL;
    }
    BSTR path = m_bstrPath.Get();
    if (m_pMapping->getForbidFolderOps(&path) & kForbidExplore) {
        LOG_DEBUG << "No subfolders are to be displayed for this folder.";
        LOG_TRACE << "Exit";
        return S_OK;
    }
    try {
        com::ComPtr<ISCDirectories> items = scom::Subdirectories(m_pDirectory.Get());
        const long count = scom::Count(items.Get());
        for (long index = 1; index <= count; ++index) {
            com::ComPtr<ISCDeviceStorageDirectory> item = scom::Item(items.Get(), index);
            _bstr_t devicePath = scom::Path(item.Get(), IID_ISCDeviceStorageDirectory);
            LOG_DEBUG << "Found folder: " << static_cast<const wchar_t*>(devicePath);
            BSTR real = static_cast<wchar_t*>(devicePath);
            com::UniqueBstr virtualPath;
            if (FAILED(m_pMapping->UnMapPath(&real, virtualPath.Receive()))) {
                LOG_ERROR << "Failed to UnMap devicePath = " << static_cast<const wchar_t*>(devicePath);
                continue;
            }
            std::unique_ptr<CFolder> folder(makeSubfolder(virtualPath.Get(), item.Get()));
            if (!folder) return E_OUTOFMEMORY;
            folders.push_back(folder.get());
            folder.release();
        }
    } catch (const _com_error& e) {
        LOG_ERROR << "_com_error caught: " << e.ErrorMessage();
        return E_FAIL;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CSymbianFolder::GetMappedFolders(std::list<CFolder*>& folders) {
    LOG_TRACE << "Enter";
    if (bindingEnded()) return E_FAIL;
    if (!m_pMapping) {
        LOG_ERROR << "No mapping for this folder.";
        return E_FAIL;
    }
    StringList devicePaths;
    BSTR path = m_bstrPath.Get();
    HRESULT hr = E_FAIL;
    try {
        hr = m_pMapping->getMappedFolders(&path, devicePaths);
    } catch (...) {
        hr = E_FAIL;
    }
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to get mapped folders from mapping.";
        return hr;
    }
    if (devicePaths.empty()) {
        LOG_TRACE << "Exit";
        return S_OK;
    }
    com::ComPtr<ISCDevice> device;
    hr = m_pSymbianConnector ? m_pSymbianConnector->GetISCDevice(device.Receive()) : E_FAIL;
    if (FAILED(hr) || !device) {
        LOG_ERROR << "Failed to get Device pointer from connector.";
        return FAILED(hr) ? hr : E_FAIL;
    }
    for (const std::wstring& devicePath : devicePaths) {
        try {
            com::UniqueBstr real(devicePath.c_str());
            if (real.IsNull()) return E_OUTOFMEMORY;
            com::ComPtr<ISCDeviceStorageItem> item = scom::StorageItem(device.Get(), real.Get());
            com::ComPtr<ISCDeviceStorageDirectory> directory;
            if (FAILED(item.As(directory, IID_ISCDeviceStorageDirectory)) || !directory) {
                LOG_DEBUG << "Not a directory: " << devicePath;
                continue;
            }
            BSTR realPath = real.Get();
            com::UniqueBstr virtualPath;
            if (FAILED(m_pMapping->UnMapPath(&realPath, virtualPath.Receive()))) {
                LOG_DEBUG << "Failed to map device path = " << devicePath;
                continue;
            }
            std::unique_ptr<CFolder> folder(new CSymbianFolder(m_pSymbianConnector, virtualPath.Get(),
                                                               directory.Get(), m_pMapping, m_pMassStorageMapping,
                                                               m_binding));
            folders.push_back(folder.get());
            folder.release();
        } catch (const _com_error& e) {
            LOG_DEBUG << "Unable to open folder " << devicePath << " on device. ErrorMessage=" << e.ErrorMessage();
        } catch (...) {
            LOG_ERROR << "Unhandled exception caught";
            return E_FAIL;
        }
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CSymbianFolder::GetCFolders(std::list<CFolder*>& folders) {
    LOG_TRACE << "Enter";
    if (bindingEnded()) return E_FAIL;
    HRESULT hr = GetSubfolders(folders);
    if (FAILED(hr)) {
        LOG_DEBUG << "Failed to get subfolders.";
        return hr;
    }
    hr = GetMappedFolders(folders);
    if (FAILED(hr)) {
        LOG_DEBUG << "Failed to get mapped folders.";
        return hr;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CSymbianFolder::CopyFileFromPC(CAsynchOperationExecutor* executor, _bstr_t pcPath,
                                       CCopyFileWaitObject** waitObject, CProgressCallbackFunctionBase* progress,
                                       CReplaceCallbackFunctionBase* replace) {
    LOG_TRACE << "Enter CSymbianFolder::CopyFileFromPC";
    if (!executor || !waitObject) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *waitObject = nullptr;
    if (bindingEnded()) return E_FAIL;

    LOG_DEBUG << "Copying file " << static_cast<const wchar_t*>(pcPath) << " from PC to device folder";
    const HRESULT started = StartScomCopy(
        KV_LOG_SITE, "from PC", executor, m_pSymbianConnector, progress, replace,
        [&]() { return scom::CopyFileFromPC(m_pDirectory.Get(), static_cast<wchar_t*>(pcPath)); }, waitObject);
    if (FAILED(started)) return started;
    LOG_TRACE << "Exit";
    return S_OK;
}
