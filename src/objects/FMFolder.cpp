#include "objects/FMFolder.h"

#include <string>

#include "connector/StorageObject.h"
#include "objects/FMCollections.h"
#include "objects/PathFunctions.h"
#include "operations/DeviceOperations.h"
#include "operations/ListingOperations.h"
#include "operations/FileTransferOperations.h"
#include "operations/FolderTransferOperations.h"

CFMFolder::~CFMFolder() {
    LOG_TRACE << "Deleting CFMFolderInstance";
}

HRESULT CFMFolder::CreateCFMFolderInstance(CAsynchOperationExecutor* executor, DeviceConnector* connector,
                                           BSTR path, CFolder* storageFolder, IKVFMFolder** folder) {
    LOG_TRACE << "Enter";
    std::unique_ptr<CFolder> owned(storageFolder);
    if (!executor || !connector || !folder) {
        LOG_ERROR << "Invalid argument, NULL pointer received.";
        return E_INVALIDARG;
    }
    *folder = nullptr;
    com::ComObject<CFMFolder>* object = nullptr;
    HRESULT hr = com::ComObject<CFMFolder>::CreateInstance(&object);
    if (FAILED(hr)) {
        LOG_ERROR << "Could not create instance of FMFolder";
        return hr;
    }
    object->AddRef();
    auto holder = com::ComPtr<IKVFMFolder>::Adopt(static_cast<IKVFMFolder*>(object));
    object->Init(executor, connector, path, owned.release());
    LOG_TRACE << "Exit";
    return holder->QueryInterface(IID_IKVFMFolder, reinterpret_cast<void**>(folder));
}

void CFMFolder::Init(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path,
                     CFolder* storageFolder) {
    LOG_TRACE << "Init of CFMFolderInstance";
    m_pStorageFolder.reset(storageFolder);
    m_pImpl->Init(executor, connector, path, storageFolder);
}

STDMETHODIMP CFMFolder::get_Path(BSTR* path) {
    if (!path) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    com::UniqueBstr inner;
    HRESULT hr = m_pImpl->get_Path(inner.Receive());
    if (FAILED(hr)) return hr;
    // A folder path always ends with one backslash.
    const UINT length = inner.Length();
    BSTR result = SysAllocStringLen(nullptr, length + 1);
    if (!result) return E_OUTOFMEMORY;
    if (length) memcpy(result, inner.Get(), length * sizeof(wchar_t));
    result[length] = L'\\';
    *path = result;
    return S_OK;
}

STDMETHODIMP CFMFolder::get_Type(LONG* kind) {
    if (!kind) return E_INVALIDARG;
    *kind = 2;
    return S_OK;
}

STDMETHODIMP CFMFolder::Delete(LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Deleting folder from device.";
    FMObjectImpl* target = m_pImpl;
    return BeginOperation(KV_LOG_SITE, transactionId, ForbidDelete, [target](LONG id, IAsynchOperation** op) {
        return CDeleteDeviceFolderAsynchOperation::CreateCDeleteDeviceFolderAsynchOperation(id, target, op);
    });
}

STDMETHODIMP CFMFolder::Rename(BSTR newName, LONG* transactionId) {
    LOG_TRACE << "Enter";
    if (!IsValidName(newName)) {
        LOG_ERROR << "Invalid foldername.";
        return E_INVALIDARG;
    }
    FMObjectImpl* target = m_pImpl;
    return BeginOperation(KV_LOG_SITE, transactionId, ForbidRename,
                          [target, &newName](LONG id, IAsynchOperation** op) {
                              return CRenameDeviceFolderAsynchOperation::CreateCRenameDeviceFolderAsynchOperation(
                                  id, target, &newName, op);
                          });
}

STDMETHODIMP CFMFolder::NewFolder(BSTR name, LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Creating folder on device.";
    if (!IsValidName(name)) return E_INVALIDARG;
    FMObjectImpl* target = m_pImpl;
    DeviceConnector* connector = m_pImpl->GetConnector();
    return BeginOperation(KV_LOG_SITE, transactionId, ForbidNew,
                          [target, connector, &name](LONG id, IAsynchOperation** op) {
                              return CNewDeviceFolderAsynchOperation::CreateCNewDeviceFolderAsynchOperation(
                                  id, target, &name, connector, op);
                          });
}

STDMETHODIMP CFMFolder::CopyToPC(BSTR pcFolder, BSTR pcName, LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Copying folder from device to PC.";
    // A folder copy to the PC is never forbidden; a move is.
    return BeginToPcOperation(KV_LOG_SITE, pcFolder, pcName, transactionId, 0,
                              &CCopyFolderToPcAsynchOperation::CreateCCopyFolderToPcAsynchOperation);
}

STDMETHODIMP CFMFolder::MoveToPC(BSTR pcFolder, BSTR pcName, LONG* transactionId) {
    LOG_TRACE << "Enter";
    return BeginToPcOperation(KV_LOG_SITE, pcFolder, pcName, transactionId, ForbidMove,
                              &CMoveFolderToPcAsynchOperation::CreateCMoveFolderToPcAsynchOperation);
}

STDMETHODIMP CFMFolder::CopyFolderFromPC(BSTR pcSource, BSTR name, LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Copying folder from PC to device.";
    return StartFolderFromPc(false, pcSource, name, transactionId);
}

STDMETHODIMP CFMFolder::MoveFolderFromPC(BSTR pcSource, BSTR name, LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Moving folder from PC to device.";
    return StartFolderFromPc(true, pcSource, name, transactionId);
}

HRESULT CFMFolder::StartFolderFromPc(bool move, BSTR pcSource, BSTR name, LONG* transactionId) {
    if (!pcSource) {
        LOG_ERROR << "Invalid argument. Received NULL pointer for sourcepath.";
        return E_INVALIDARG;
    }
    // A given name is the name of the new top folder; it must stay one component.
    if (name && SysStringLen(name) > 0 && !IsValidName(name)) {
        LOG_ERROR << "Invalid foldername.";
        return E_INVALIDARG;
    }
    FMObjectImpl* target = m_pImpl;
    CAsynchOperationExecutor* executor = m_pImpl->GetExecutor();
    return BeginOperation(KV_LOG_SITE, transactionId, ForbidPaste,
                          [=, &pcSource, &name](LONG id, IAsynchOperation** op) -> HRESULT {
                              return move ? CMoveFolderFromPcAsynchOperation::CreateCMoveFolderFromPcAsynchOperation(
                                                id, executor, target, &pcSource, &name, op)
                                          : CCopyFolderFromPcAsynchOperation::CreateCCopyFolderFromPcAsynchOperation(
                                                id, executor, target, &pcSource, &name, op);
                          });
}

STDMETHODIMP CFMFolder::CopyFileFromPC(BSTR pcSource, BSTR newName, LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Copying file from PC to device.";
    return StartFileFromPc(false, pcSource, newName, transactionId);
}

STDMETHODIMP CFMFolder::MoveFileFromPC(BSTR pcSource, BSTR newName, LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Moving file from PC to device.";
    return StartFileFromPc(true, pcSource, newName, transactionId);
}

HRESULT CFMFolder::StartFileFromPc(bool move, BSTR pcSource, BSTR newName, LONG* transactionId) try {
    if (!pcSource) {
        LOG_ERROR << "Invalid argument. Received NULL pointer for sourcepath.";
        return E_INVALIDARG;
    }
    std::wstring sourceFolder, sourceName;
    if (FAILED(SplitPath(pcSource, sourceFolder, sourceName))) {
        LOG_ERROR << "Invalid argument. Failed to extract source filename from source path.";
        return E_INVALIDARG;
    }
    if (newName) {
        // A file cannot be renamed on its way to the phone.
        VARIANT given, source;
        given.vt = VT_BSTR;
        given.bstrVal = newName;
        com::UniqueBstr sourceBstr(sourceName.c_str(), static_cast<UINT>(sourceName.size()));
        source.vt = VT_BSTR;
        source.bstrVal = sourceBstr.Get();
        if (VarCmp(&given, &source, LOCALE_USER_DEFAULT, 0) != VARCMP_EQ) {
            LOG_ERROR << "Invalid argument. New name must be NULL or same as source file name.";
            return E_INVALIDARG;
        }
    }
    if (!IsValidName(sourceName.c_str())) {
        LOG_ERROR << "Invalid argument. Failed to extract source filename from source path.";
        return E_INVALIDARG;
    }
    FMObjectImpl* target = m_pImpl;
    CAsynchOperationExecutor* executor = m_pImpl->GetExecutor();
    return BeginOperation(KV_LOG_SITE, transactionId, ForbidPaste,
                          [=, &pcSource, &sourceName](LONG id, IAsynchOperation** op) -> HRESULT {
                              // Without a new name the file keeps its own.
                              com::UniqueBstr name(newName ? newName : sourceName.c_str());
                              if (name.IsNull()) return E_OUTOFMEMORY;
                              BSTR nameArg = name.Get();
                              if (move)
                                  return CMoveFileFromPcAsynchOperation::CreateCMoveFileFromPcAsynchOperation(
                                      id, executor, target, &pcSource, &nameArg, op);
                              return CCopyFileFromPcAsynchOperation::CreateCCopyFileFromPcAsynchOperation(
                                  id, executor, target, &pcSource, &nameArg, op);
                          },
                          [this, move, newName]() {
                              if (!move) ClearReadOnlyOfTarget(newName);
                          });
} catch (...) {
    LOG_ERROR << "Unhandled exception caught";
    return E_FAIL;
}

void CFMFolder::ClearReadOnlyOfTarget(BSTR newName) {
    DeviceConnector* connector = m_pImpl->GetConnector();
    com::UniqueBstr folderPath;
    if (!connector || FAILED(get_Path(folderPath.Receive()))) return;
    std::wstring targetText(folderPath.c_str(), folderPath.Length());
    if (newName) targetText.append(newName, SysStringLen(newName));
    com::UniqueBstr targetPath(targetText.c_str(), static_cast<UINT>(targetText.size()));
    LOG_DEBUG << "Retreiving attributes from: " << targetPath.c_str();
    CFile* file = nullptr;
    BSTR path = targetPath.Get();
    if (FAILED(connector->getCFile(path, &file)) || !file) {
        LOG_WARNING << "Failed to create CFile from: " << targetPath.c_str();
        return;
    }
    std::unique_ptr<CFile> owned(file);
    DWORD attributes = 0;
    if (FAILED(file->GetAttributes(&attributes))) {
        LOG_WARNING << "Failed to retreive attributes from: " << targetPath.c_str();
        return;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        LOG_DEBUG << "Removing read-only flag from: " << (newName ? newName : L"");
        file->PutAttributes(attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
}

HRESULT CFMFolder::ListingPath(com::UniqueBstr& path) {
    HRESULT hr = get_Path(path.Receive());
    if (FAILED(hr)) return hr;
    if (!m_pImpl->GetConnector() || !m_pImpl->BindingUsable()) return E_FAIL;
    return S_OK;
}

STDMETHODIMP CFMFolder::get_Objects(IKVFMObjects** objects) {
    LOG_TRACE << "Enter";
    if (!objects) {
        LOG_ERROR << "Invalid argument. Received NULL pointer for objects reference.";
        return E_INVALIDARG;
    }
    com::UniqueBstr path;
    HRESULT hr = ListingPath(path);
    if (SUCCEEDED(hr)) hr = CFMObjects::CreateCFMObjectsInstance(m_pImpl->GetConnector(), path.Get(), objects);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to create CFMObjects instance";
    }
    return hr;
}

STDMETHODIMP CFMFolder::get_Files(IKVFMFiles** files) {
    LOG_TRACE << "Enter";
    if (!files) {
        LOG_ERROR << "Invalid argument. Received NULL pointer for files reference.";
        return E_INVALIDARG;
    }
    com::UniqueBstr path;
    HRESULT hr = ListingPath(path);
    if (SUCCEEDED(hr)) hr = CFMFiles::CreateCFMFilesInstance(m_pImpl->GetConnector(), path.Get(), files);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to create CFMFiles instance";
    }
    return hr;
}

STDMETHODIMP CFMFolder::get_Folders(IKVFMFolders** folders) {
    LOG_TRACE << "Enter";
    if (!folders) {
        LOG_ERROR << "Invalid argument. Received NULL pointer for folders reference.";
        return E_INVALIDARG;
    }
    com::UniqueBstr path;
    HRESULT hr = ListingPath(path);
    if (SUCCEEDED(hr)) hr = CFMFolders::CreateCFMFoldersInstance(m_pImpl->GetConnector(), path.Get(), folders);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to create CFMFolders instance";
    }
    return hr;
}

STDMETHODIMP CFMFolder::GetObjectsAsynch(LONG* transactionId) {
    LOG_TRACE << "Enter";
    FMObjectImpl* target = m_pImpl;
    return BeginOperation(KV_LOG_SITE, transactionId, 0, [target](LONG id, IAsynchOperation** op) {
        return CGetDeviceObjectsAsynchOperation::CreateCGetDeviceObjectsAsynchOperation(id, target, op);
    });
}

STDMETHODIMP CFMFolder::GetFilesAsynch(LONG* transactionId) {
    LOG_TRACE << "Enter";
    FMObjectImpl* target = m_pImpl;
    return BeginOperation(KV_LOG_SITE, transactionId, 0, [target](LONG id, IAsynchOperation** op) {
        return CGetDeviceFilesAsynchOperation::CreateCGetDeviceFilesAsynchOperation(id, target, op);
    });
}

STDMETHODIMP CFMFolder::GetFoldersAsynch(LONG* transactionId) {
    LOG_TRACE << "Enter";
    FMObjectImpl* target = m_pImpl;
    return BeginOperation(KV_LOG_SITE, transactionId, 0, [target](LONG id, IAsynchOperation** op) {
        return CGetDeviceFoldersAsynchOperation::CreateCGetDeviceFoldersAsynchOperation(id, target, op);
    });
}
