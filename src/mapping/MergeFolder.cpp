#include "mapping/MergeFolder.h"

#include <new>

#include "connector/SymbianFile.h"
#include "mapping/FolderMapping.h"
#include "mapping/PcFolder.h"
#include "module/Logging.h"

CMergeFolder::CMergeFolder(SymbianConnector* connector, BSTR virtualPath, BSTR pcPath,
                           ISCDeviceStorageDirectory* directory, std::shared_ptr<CFolderMapping> mapping,
                           std::shared_ptr<CFolderMapping> massStorageMapping, BindingGuard binding)
    : CSymbianFolder(connector, virtualPath, directory, std::move(mapping), std::move(massStorageMapping),
                     std::move(binding)),
      m_strPcPath(pcPath ? std::wstring(pcPath, SysStringLen(pcPath)) : std::wstring()) {
    LOG_TRACE << "Creating CMergeFolder " << m_strPcPath;
    if (!m_strPcPath.empty() && m_strPcPath.back() != L'\\') m_strPcPath += L'\\';
    m_pPcFolderList.reset(new (std::nothrow) CFolderListPC());
    if (!m_pPcFolderList) {
        LOG_ERROR << "Failed to create folder list.";
        return;
    }
    DWORD error = 0;
    if (FAILED(m_pPcFolderList->GetFolderList(m_strPcPath.c_str(), &error))) {
        LOG_ERROR << "Failed to get folder list. Error=" << error;
        m_pPcFolderList.reset();
    }
}

CMergeFolder::~CMergeFolder() { LOG_TRACE << "Deleting CMergeFolder " << m_strPcPath; }

HRESULT CMergeFolder::GetCFolders(std::list<CFolder*>& folders) {
    LOG_TRACE << "Enter";
    if (bindingEnded()) return E_FAIL;
    if (!m_pMapping) {
        LOG_ERROR << "No mapping for this folder.";
        return E_FAIL;
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
                LOG_ERROR << "Failed to UnMap devicePath";
                LOG_ERROR << "devicePath=" << static_cast<const wchar_t*>(devicePath);
                continue;
            }
            std::unique_ptr<CFolder> folder(makeSubfolder(virtualPath.Get(), item.Get()));
            if (!folder) return E_OUTOFMEMORY;
            folders.push_back(folder.get());
            folder.release();
        }
    } catch (const _com_error& e) {
        LOG_ERROR << "_com_error caught:" << e.ErrorMessage();
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory listing the phone folder.";
        return E_OUTOFMEMORY;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }

    if (!m_pPcFolderList) {
        LOG_DEBUG << "No folder list created.";
    } else if (FAILED(PcListFolders(*m_pPcFolderList, m_strPcPath, m_pMassStorageMapping, m_binding, folders))) {
        LOG_ERROR << "Card folders of " << m_strPcPath << " left out.";
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CMergeFolder::GetCFiles(std::list<CFile*>& files) {
    LOG_TRACE << "Enter";
    if (bindingEnded()) return E_FAIL;
    if (!m_pMapping) {
        LOG_ERROR << "No mapping for this folder.";
        return E_FAIL;
    }
    try {
        com::ComPtr<ISCFiles> items = scom::Files(m_pDirectory.Get());
        const long count = scom::Count(items.Get());
        for (long index = 1; index <= count; ++index) {
            com::ComPtr<ISCDeviceStorageFile> item = scom::Item(items.Get(), index);
            _bstr_t devicePath = scom::Path(item.Get(), IID_ISCDeviceStorageFile);
            LOG_DEBUG << "Found file: " << static_cast<const wchar_t*>(devicePath);
            BSTR real = static_cast<wchar_t*>(devicePath);
            com::UniqueBstr virtualPath;
            if (FAILED(m_pMapping->UnMapPath(&real, virtualPath.Receive()))) {
                LOG_ERROR << "Failed to UnMap devicePath=" << static_cast<const wchar_t*>(devicePath);
                continue;
            }
            std::unique_ptr<CFile> file(
                new CSymbianFile(m_pSymbianConnector, virtualPath.Get(), item.Get(), m_pMapping, m_binding));
            files.push_back(file.get());
            file.release();
        }
    } catch (const _com_error& e) {
        LOG_ERROR << "_com_error caught:" << e.ErrorMessage();
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory listing the phone folder.";
        return E_OUTOFMEMORY;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }

    if (!m_pPcFolderList) {
        LOG_DEBUG << "No folder list created.";
    } else if (FAILED(PcListFiles(*m_pPcFolderList, m_strPcPath, m_pMassStorageMapping, m_binding, files))) {
        LOG_ERROR << "Card files of " << m_strPcPath << " left out.";
    }
    LOG_TRACE << "Exit";
    return S_OK;
}
