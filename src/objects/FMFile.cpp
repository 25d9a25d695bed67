#include "objects/FMFile.h"

#include <new>
#include <string>

#include "connector/StorageObject.h"
#include "objects/PathFunctions.h"
#include "operations/DeviceOperations.h"
#include "operations/FileTransferOperations.h"
#include "stream/KVIStream.h"

HRESULT MakePcTargetPath(BSTR pcFolder, BSTR pcName, com::UniqueBstr& target) {
    try {
        std::wstring folder = pcFolder ? std::wstring(pcFolder, SysStringLen(pcFolder)) : std::wstring();
        folder += L'\\';
        std::wstring normalised;
        HRESULT hr = NormalisePath(folder.c_str(), normalised);
        if (FAILED(hr)) return hr;
        if (pcName) normalised.append(pcName, SysStringLen(pcName));
        if (normalised.size() >= kPathBufferChars) return kPathTooLong;
        target = com::UniqueBstr(normalised.c_str(), static_cast<UINT>(normalised.size()));
        return target.IsNull() ? E_OUTOFMEMORY : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT PcTargetName(FMObjectImpl* object, BSTR pcFolder, BSTR pcName, com::UniqueBstr& name) {
    if (!pcFolder || SysStringLen(pcFolder) == 0) {
        LOG_ERROR << "Invalid argument. Received NULL pointer for PC folder.";
        return E_INVALIDARG;
    }
    if (pcName && SysStringLen(pcName) > 0) {
        name = com::UniqueBstr(pcName, SysStringLen(pcName));
    } else {
        // Without a name the item keeps its own; the tree's roots have none.
        HRESULT hr = object->get_Name(name.Receive());
        if (FAILED(hr)) return hr;
    }
    // A raw drive's root is named "C:"; on the PC its folder is "C".
    if (!name.IsNull() && name.Length() == 2 && name.c_str()[1] == L':' && iswalpha(name.c_str()[0])) {
        name = com::UniqueBstr(name.c_str(), 1);
    }
    if (name.IsNull() || !IsValidName(name.c_str())) {
        LOG_ERROR << "Invalid argument. The name on the PC must be one valid name.";
        return E_INVALIDARG;
    }
    return S_OK;
}

CFMFile::~CFMFile() {
    LOG_TRACE << "Deleting CFMFile.";
}

HRESULT CFMFile::CreateCFMFileInstance(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path,
                                       CFile* storageFile, IKVFMFile** file) {
    LOG_TRACE << "Enter";
    std::unique_ptr<CFile> owned(storageFile);
    if (!executor || !connector || !storageFile || !file) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *file = nullptr;
    com::ComObject<CFMFile>* object = nullptr;
    HRESULT hr = com::ComObject<CFMFile>::CreateInstance(&object);
    if (FAILED(hr)) {
        LOG_ERROR << "Could not create instance of FMFile";
        return hr;
    }
    object->AddRef();
    auto holder = com::ComPtr<IKVFMFile>::Adopt(static_cast<IKVFMFile*>(object));
    object->Init(executor, connector, path, owned.release());
    LOG_TRACE << "Exit";
    return holder->QueryInterface(IID_IKVFMFile, reinterpret_cast<void**>(file));
}

void CFMFile::Init(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path, CFile* storageFile) {
    LOG_TRACE << "Enter";
    m_pStorageFile.reset(storageFile);
    m_pImpl->Init(executor, connector, path, storageFile);
    if (storageFile) {
        ULONG size = m_ulSize;
        storageFile->GetSize(&size);
        m_ulSize = size;
        com::UniqueBstr mime;
        if (SUCCEEDED(storageFile->GetMIMEType(mime.Receive()))) m_bstrMimeType = std::move(mime);
    }
    LOG_TRACE << "Exit";
}

STDMETHODIMP CFMFile::get_Type(LONG* kind) {
    if (!kind) return E_INVALIDARG;
    *kind = 1;
    return S_OK;
}

STDMETHODIMP CFMFile::Delete(LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Deleting file on device.";
    FMObjectImpl* target = m_pImpl;
    return BeginOperation(KV_LOG_SITE, transactionId, ForbidDelete, [target](LONG id, IAsynchOperation** op) {
        return CDeleteDeviceFileAsynchOperation::CreateCDeleteDeviceFileAsynchOperation(id, target, op);
    });
}

STDMETHODIMP CFMFile::Rename(BSTR newName, LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Renaming file on device.";
    if (!IsValidName(newName)) return E_INVALIDARG;
    FMObjectImpl* target = m_pImpl;
    return BeginOperation(KV_LOG_SITE, transactionId, ForbidRename,
                          [target, &newName](LONG id, IAsynchOperation** op) {
                              return CRenameDeviceFileAsynchOperation::CreateCRenameDeviceFileAsynchOperation(
                                  id, target, &newName, op);
                          });
}

STDMETHODIMP CFMFile::CopyToPC(BSTR pcFolder, BSTR pcName, LONG* transactionId) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Copying file from device to PC";
    return BeginToPcOperation(KV_LOG_SITE, pcFolder, pcName, transactionId, ForbidCopy,
                              &CCopyFileToPcAsynchOperation::CreateCCopyFileToPcAsynchOperation);
}

STDMETHODIMP CFMFile::MoveToPC(BSTR pcFolder, BSTR pcName, LONG* transactionId) {
    LOG_TRACE << "Enter.";
    LOG_EVENT << "Moving file from device to PC";
    return BeginToPcOperation(KV_LOG_SITE, pcFolder, pcName, transactionId, ForbidMove,
                              &CMoveFileToPcAsynchOperation::CreateCMoveFileToPcAsynchOperation);
}

STDMETHODIMP CFMFile::put_FileAttributes(LONG attributes) {
    if (!m_pStorageFile) return E_FAIL;
    if (!m_pImpl->BindingUsable()) return E_FAIL;
    return m_pStorageFile->PutAttributes(static_cast<DWORD>(attributes));
}

STDMETHODIMP CFMFile::Refresh(VARIANT) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Refreshing file.";
    if (!m_pStorageFile) return E_FAIL;
    DATE accessed = 0.0, changed = 0.0, created = 0.0;
    HRESULT hr = m_pStorageFile->GetAccessed(&accessed);
    if (hr != S_OK) {
        LOG_ERROR << "Retreiving GetAccessed failed";
        return hr;
    }
    m_pImpl->SetAccessed(accessed);
    hr = m_pStorageFile->GetChanged(&changed);
    if (hr != S_OK) {
        LOG_ERROR << "Retreiving GetChanged failed";
        return hr;
    }
    m_pImpl->SetChanged(changed);
    hr = m_pStorageFile->GetCreated(&created);
    if (hr != S_OK) {
        LOG_ERROR << "Retreiving GetCreated failed";
        return hr;
    }
    m_pImpl->SetCreated(created);
    ULONG size = 0;
    hr = m_pStorageFile->GetSize(&size);
    if (hr != S_OK) {
        LOG_ERROR << "Retreiving GetSize failed";
        return hr;
    }
    m_ulSize = size;
    DWORD attributes = 0;
    hr = m_pStorageFile->GetAttributes(&attributes);
    if (hr != S_OK) {
        LOG_ERROR << "Retreiving GetAttributes failed";
        return hr;
    }
    m_pImpl->SetAttributes(attributes);
    LOG_TRACE << "Exit";
    return S_OK;
}

STDMETHODIMP CFMFile::get_Size(LONG* size) {
    if (!size) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *size = static_cast<LONG>(m_ulSize);
    return S_OK;
}

STDMETHODIMP CFMFile::get_MIMEType(BSTR* mimeType) {
    if (!mimeType) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *mimeType = nullptr;
    return m_bstrMimeType.IsNull() ? S_OK : m_bstrMimeType.CopyTo(mimeType);
}

STDMETHODIMP CFMFile::get_IStream(IUnknown** stream) {
    LOG_TRACE << "Enter";
    LOG_EVENT << "Streaming file from device to PC.";
    if (stream) *stream = nullptr;
    try {
        com::ComObject<CKVIStream>* object = nullptr;
        HRESULT hr = com::ComObject<CKVIStream>::CreateInstance(&object);
        if (FAILED(hr)) {
            LOG_ERROR << "Could not create instance of CKVIStream";
            return hr;
        }
        // The creation reference: a failure below releases the stream.
        com::ComPtr<IStream> holder(static_cast<IStream*>(object));
        hr = object->Init(m_pImpl);
        if (FAILED(hr)) {
            LOG_ERROR << "Unable to initialize IStream";
            return hr;
        }
        hr = stream ? holder->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream)) : E_POINTER;
        if (FAILED(hr)) {
            if (stream) *stream = nullptr;
            LOG_ERROR << "Unable to get interface to CKVIStream";
            return hr;
        }
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}
