#include "operations/FolderListDevice.h"

#include <memory>
#include <new>

#include "connector/DeviceConnector.h"
#include "module/Logging.h"

CFolderListDevice::CFolderListDevice(DeviceConnector* pDeviceConnector) : m_pDeviceConnector(pDeviceConnector) {
    LOG_TRACE << "CFolderListDevice created";
}

CFolderListDevice::~CFolderListDevice() {
    // Whatever was never handed out is still ours.
    clear();
    LOG_TRACE << "CFolderListDevice destructed";
}

void CFolderListDevice::clear() {
    for (CFile* file : m_files) delete file;
    m_files.clear();
    for (CFolder* folder : m_folders) delete folder;
    m_folders.clear();
}

HRESULT CFolderListDevice::GetFolderList(BSTR path, DWORD* errorCode) {
    LOG_TRACE << "Enter";
    LOG_DEBUG << "path = " << (path ? path : L"(null)");
    if (!errorCode) {
        LOG_ERROR << "Invalid argument. NULL pointer for errorcode.";
        return E_INVALIDARG;
    }
    if (!m_pDeviceConnector) {
        LOG_ERROR << "m_pDeviceConnector == NULL";
        return E_FAIL;
    }
    clear();
    try {
        CFolder* raw = nullptr;
        BSTR folderPath = path;
        HRESULT hr = m_pDeviceConnector->getCFolder(folderPath, &raw);
        std::unique_ptr<CFolder> folder(raw);
        if (FAILED(hr) || !folder) {
            LOG_ERROR << "Cannot map folder " << (path ? path : L"(null)") << " on device. "
                      << "getCFolder returned hr = " << LogHex(hr) << ", pFolder = " << raw;
            return E_FAIL;
        }
        hr = folder->GetCFiles(m_files);
        if (FAILED(hr)) {
            LOG_ERROR << "Cannot retrieve files in folder " << path
                      << " on device. GetCFiles returned hr = 0x" << LogHex(hr);
            clear();
            return E_FAIL;
        }
        hr = folder->GetCFolders(m_folders);
        if (FAILED(hr)) {
            LOG_ERROR << "Cannot retrieve subfolders in folder " << path
                      << " on device. GetCFolders returned hr = 0x" << LogHex(hr);
            clear();
            return E_FAIL;
        }
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory listing the folder.";
        clear();
        return E_OUTOFMEMORY;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        clear();
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CFolderListDevice::GetNextFile(CFile** file, DWORD* errorCode) {
    if (!file || !errorCode) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (m_files.empty()) return S_FALSE;
    *file = m_files.front();
    m_files.pop_front();
    return S_OK;
}

HRESULT CFolderListDevice::GetNextFolder(CFolder** folder, DWORD* errorCode) {
    if (!folder || !errorCode) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (m_folders.empty()) return S_FALSE;
    *folder = m_folders.front();
    m_folders.pop_front();
    return S_OK;
}
