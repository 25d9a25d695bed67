#include "operations/FileTransferOperations.h"

#include <comdef.h>

#include <string>

#include "connector/StorageObject.h"
#include "module/Utilities.h"
#include "objects/FMObjectImpl.h"
#include "objects/PathFunctions.h"
#include "operations/CallbackFunctions.h"

namespace {

// What a step reports once the phone's binding has ended under it; converts
// to KVFM_E_DISCONNECTED.
constexpr HRESULT kNotReady = HRESULT_FROM_WIN32(ERROR_NOT_READY);

HRESULT hresultFromWin32Error(DWORD error) {
    return error > 0 ? static_cast<HRESULT>(0x80070000UL | (error & 0xFFFF)) : E_FAIL;
}

// A PC path must fit a path buffer whole; a longer one is refused, never cut.
bool fitsPcBuffer(BSTR path) { return SysStringLen(path) < kPathBufferChars; }

// Owns what a started copy hands over. The wait object goes first: it may
// still call the callbacks until it is destroyed.
struct CopyResources {
    std::unique_ptr<CProgressCallbackFunction> progress;
    std::unique_ptr<CReplaceCallbackFunction> replace;
    std::unique_ptr<CCopyFileWaitObject> wait;
};

// Turns the wait object handed out by a storage call into an owned one.
HRESULT takeWaitObject(HRESULT hr, CCopyFileWaitObject* raw, CopyResources& resources) {
    if (FAILED(hr)) return hr;  // nothing usable was handed over
    if (!raw) return E_FAIL;
    resources.wait.reset(raw);
    return S_OK;
}

} // namespace

// ---- PC to device ----

void CFileFromPcAsynchOperationBase::InitFromPc(LONG transactionId, CAsynchOperationExecutor* executor,
                                                FMObjectImpl* target, BSTR sourcePath, BSTR newName) {
    InitCommon(transactionId, target, target ? target->GetConnector() : nullptr, executor);
    m_bstrSourcePath = com::UniqueBstr(sourcePath, SysStringLen(sourcePath));
    m_bstrName = com::UniqueBstr(newName, SysStringLen(newName));
}

void CFileFromPcAsynchOperationBase::fireCompleted(KVFMOpResult result, IDispatch* file) {
    m_bCompletionFired = true;
    if (m_bMove) {
        FireMoveFileFromPCCompleted(m_pTarget, result, file, m_lTransactionId);
    } else {
        FireCopyFileFromPCCompleted(m_pTarget, result, file, m_lTransactionId);
    }
}

HRESULT CFileFromPcAsynchOperationBase::queryFolder() {
    if (m_pFolder) return S_OK;
    if (!m_pTarget) return E_POINTER;
    HRESULT hr = m_pTarget->ControllingUnknown()->QueryInterface(IID_IKVFMFolder, m_pFolder.ReceiveVoid());
    if (SUCCEEDED(hr) && !m_pFolder) hr = E_NOINTERFACE;
    return hr;
}

HRESULT CFileFromPcAsynchOperationBase::formDestinationPath() {
    HRESULT hr = queryFolder();
    if (FAILED(hr)) return hr;
    com::UniqueBstr folderPath;
    hr = m_pFolder->get_Path(folderPath.Receive());
    if (FAILED(hr)) return hr;
    // A folder path already ends with its separator.
    std::wstring path(folderPath.c_str(), folderPath.Length());
    if (path.empty() || path.back() != L'\\') path += L'\\';
    path.append(m_bstrName.c_str(), m_bstrName.Length());
    m_bstrDestinationPath = com::UniqueBstr(path.c_str(), static_cast<UINT>(path.size()));
    return m_bstrDestinationPath.IsNull() ? E_OUTOFMEMORY : S_OK;
}

HRESULT CFileFromPcAsynchOperationBase::lookUpNewFile(com::ComPtr<IKVFMFile>& file) {
    if (m_bstrDestinationPath.IsNull()) {
        HRESULT hr = formDestinationPath();
        if (FAILED(hr)) return hr;
    }
    // The connector of an ended binding may be gone.
    if (TargetDisconnected() || !m_pDeviceConnector) return kNotReady;
    BSTR path = m_bstrDestinationPath.Get();
    return m_pDeviceConnector->getKVFMFile(path, file.Receive());
}

HRESULT CFileFromPcAsynchOperationBase::copyFile(HRESULT* executeResult) {
    LOG_TRACE << "Enter";
    HRESULT hr = queryFolder();
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to get IKVFMFolder from raw object";
        fireCompleted(m_bMove ? kvFmResultFromHresult(hr) : KVFM_E_FAILED, nullptr);
        *executeResult = hr;
        return hr;
    }

    CFolder* storageFolder = dynamic_cast<CFolder*>(m_pTarget->GetStorageObject());
    if (!storageFolder) {
        LOG_ERROR << "Unable to get CFolder object";
        fireCompleted(KVFM_E_FAILED, nullptr);
        *executeResult = E_FAIL;
        return E_FAIL;
    }

    CopyResources copy;
    copy.progress.reset(new CProgressCallbackFunction(m_pTarget, m_lTransactionId));
    copy.replace.reset(new CReplaceCallbackFunction(m_pTarget, m_lTransactionId));
    CCopyFileWaitObject* raw = nullptr;
    if (!fitsPcBuffer(m_bstrSourcePath.Get())) {
        hr = kPathTooLong;
    } else {
        hr = storageFolder->CopyFileFromPC(m_pExecutor, _bstr_t(m_bstrSourcePath.c_str()), &raw, copy.progress.get(),
                                           copy.replace.get());
    }
    hr = takeWaitObject(hr, raw, copy);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to copy file from PC";
        fireCompleted(kvFmResultFromHresult(hr), nullptr);
        *executeResult = E_FAIL;
        return hr;
    }

    const LONG result = WaitForCopyResult(m_pTarget, copy.wait.get());
    if (result != 0) {
        if (m_bMove) {
            LOG_DEBUG << "Failed to copy file";
        } else {
            LOG_ERROR << "Failed to copy file";
            LOG_DEBUG << "result = " << result;
        }
        // The wait object's result as it is: a disconnect included.
        fireCompleted(static_cast<KVFMOpResult>(static_cast<ULONG>(result)), nullptr);
        *executeResult = m_bMove ? E_FAIL : S_OK;
        return S_FALSE;
    }
    LOG_TRACE << "Exit";
    *executeResult = S_OK;
    return S_OK;
}

HRESULT CCopyFileFromPcAsynchOperation::CreateCCopyFileFromPcAsynchOperation(LONG transactionId,
                                                                              CAsynchOperationExecutor* executor,
                                                                              FMObjectImpl* target, BSTR* sourcePath,
                                                                              BSTR* newName,
                                                                              IAsynchOperation** operation) {
    return CreateAsynchOperation<CCopyFileFromPcAsynchOperation>(
        KV_LOG_SITE, "Could not create instance of CCopyFileFromPcAsynchOperation.",
        AllArgumentsPresent({executor, target}, {sourcePath, newName}), operation,
        [&](CCopyFileFromPcAsynchOperation& op) { op.Init(transactionId, executor, target, *sourcePath, *newName); });
}

void CCopyFileFromPcAsynchOperation::Init(LONG transactionId, CAsynchOperationExecutor* executor,
                                          FMObjectImpl* target, BSTR sourcePath, BSTR newName) {
    LOG_TRACE << "Init of CCopyFileFromPcAsynchOperation";
    InitFromPc(transactionId, executor, target, sourcePath, newName);
}

STDMETHODIMP CCopyFileFromPcAsynchOperation::Execute() {
    try {
        return run();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        if (!completionFired()) fireCompleted(KVFM_E_FAILED, nullptr);
        return E_FAIL;
    }
}

HRESULT CCopyFileFromPcAsynchOperation::run() {
    LOG_TRACE << "Enter";
    if (TargetDisconnected()) {
        fireCompleted(KVFM_E_DISCONNECTED, nullptr);
        return E_FAIL;
    }
    HRESULT executeResult = S_OK;
    if (copyFile(&executeResult) != S_OK) return executeResult;

    com::ComPtr<IKVFMFile> file;
    HRESULT hr = lookUpNewFile(file);
    if (SUCCEEDED(hr) && file) {
        fireCompleted(KVFM_OK, file.Get());
    } else {
        // The copy is on the device all the same.
        LOG_ERROR << "Unable to get the copied file " << m_bstrDestinationPath.c_str();
        fireCompleted(kvFmResultFromHresult(FAILED(hr) ? hr : E_FAIL), nullptr);
    }
    LOG_TRACE << "Exit";
    return hr;
}

HRESULT CMoveFileFromPcAsynchOperation::CreateCMoveFileFromPcAsynchOperation(LONG transactionId,
                                                                              CAsynchOperationExecutor* executor,
                                                                              FMObjectImpl* target, BSTR* sourcePath,
                                                                              BSTR* newName,
                                                                              IAsynchOperation** operation) {
    return CreateAsynchOperation<CMoveFileFromPcAsynchOperation>(
        KV_LOG_SITE, "Could not create instance of CMoveFileFromPcAsynchOperation.",
        AllArgumentsPresent({executor, target}, {sourcePath, newName}), operation,
        [&](CMoveFileFromPcAsynchOperation& op) { op.Init(transactionId, executor, target, *sourcePath, *newName); });
}

void CMoveFileFromPcAsynchOperation::Init(LONG transactionId, CAsynchOperationExecutor* executor,
                                          FMObjectImpl* target, BSTR sourcePath, BSTR newName) {
    LOG_TRACE << "Init of CMoveFileFromPcAsynchOperation";
    InitFromPc(transactionId, executor, target, sourcePath, newName);
    // Read here, on the client's thread; Execute tries again if this failed.
    if (FAILED(formDestinationPath())) {
        LOG_DEBUG << "Destination path not formed at creation.";
    }
}

STDMETHODIMP CMoveFileFromPcAsynchOperation::Execute() {
    try {
        return run();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        if (!completionFired()) fireCompleted(KVFM_E_FAILED, nullptr);
        return E_FAIL;
    }
}

HRESULT CMoveFileFromPcAsynchOperation::run() {
    LOG_TRACE << "Enter";
    if (TargetDisconnected()) {
        fireCompleted(KVFM_E_DISCONNECTED, nullptr);
        return E_FAIL;
    }
    HRESULT executeResult = S_OK;
    if (copyFile(&executeResult) != S_OK) return executeResult;

    // The device holds the file now; only then does the PC source go.
    if (!DeleteFileW(m_bstrSourcePath.c_str())) {
        const DWORD error = GetLastError();
        LOG_ERROR << "Failed to delete file from PC";
        LOG_DEBUG << "GetLastError returned = " << error;
        fireCompleted(kvFmResultFromHresult(hresultFromWin32Error(error)), nullptr);
        return E_FAIL;
    }

    com::ComPtr<IKVFMFile> file;
    HRESULT hr = lookUpNewFile(file);
    if (FAILED(hr) || !file) {
        LOG_ERROR << "Unable to get the moved file " << m_bstrDestinationPath.c_str();
        fireCompleted(kvFmResultFromHresult(FAILED(hr) ? hr : E_FAIL), nullptr);
        return E_FAIL;
    }
    fireCompleted(KVFM_OK, file.Get());
    LOG_TRACE << "Exit";
    return S_OK;
}

// ---- device to PC ----

void CFileToPcAsynchOperationBase::InitToPc(LONG transactionId, CAsynchOperationExecutor* executor,
                                            FMObjectImpl* target, BSTR pcPath) {
    InitCommon(transactionId, target, target ? target->GetConnector() : nullptr, executor);
    m_bstrPcPath = com::UniqueBstr(pcPath, SysStringLen(pcPath));
}

void CFileToPcAsynchOperationBase::fireCompleted(KVFMOpResult result) {
    m_bCompletionFired = true;
    if (m_bMove) {
        FireMoveToPCCompleted(m_pTarget, result, m_lTransactionId);
    } else {
        FireCopyToPCCompleted(m_pTarget, result, m_lTransactionId);
    }
}

HRESULT CFileToPcAsynchOperationBase::copyFile(LONG* result, CFile** storageFile) {
    *result = static_cast<LONG>(KVFM_E_FAILED);
    *storageFile = nullptr;
    HRESULT hr = m_pTarget->ControllingUnknown()->QueryInterface(IID_IKVFMFile, m_pFile.ReceiveVoid());
    if (SUCCEEDED(hr) && !m_pFile) hr = E_NOINTERFACE;
    if (FAILED(hr)) {
        if (m_bMove) {
            LOG_ERROR << "Unable to get IKVFMFile from raw object";
        } else {
            LOG_ERROR << "Unable to get IKVFMFile from raw object.";
        }
        fireCompleted(KVFM_E_FAILED);
        return hr;
    }

    com::UniqueBstr path;
    m_pFile->get_Path(path.Receive());

    CFile* file = dynamic_cast<CFile*>(m_pTarget->GetStorageObject());
    if (!file) {
        LOG_ERROR << "Cannot copy file " << path.c_str() << " to PC";
        fireCompleted(KVFM_E_FAILED);
        return E_FAIL;
    }

    CopyResources copy;
    copy.progress.reset(new CProgressCallbackFunction(m_pTarget, m_lTransactionId));
    copy.replace.reset(new CReplaceCallbackFunction(m_pTarget, m_lTransactionId));
    CCopyFileWaitObject* raw = nullptr;
    if (!fitsPcBuffer(m_bstrPcPath.Get())) {
        hr = kPathTooLong;
    } else {
        hr = file->CopyFileToPC(m_pExecutor, _bstr_t(m_bstrPcPath.c_str()), &raw, copy.progress.get(),
                                copy.replace.get());
    }
    hr = takeWaitObject(hr, raw, copy);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to copy file to PC";
        fireCompleted(kvFmResultFromHresult(hr));
        return E_FAIL;
    }

    *result = WaitForCopyResult(m_pTarget, copy.wait.get());
    *storageFile = file;
    return S_OK;
}

bool DeletePcCopy(const wchar_t* path) {
    if (DeleteFileW(path)) return true;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
           SetFileAttributesW(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) && DeleteFileW(path);
}

void CFileToPcAsynchOperationBase::removePcCopy() {
    if (!DeletePcCopy(m_bstrPcPath.c_str())) {
        LOG_DEBUG << "Failed to delete file from destination(PC)";
    }
}

HRESULT CCopyFileToPcAsynchOperation::CreateCCopyFileToPcAsynchOperation(LONG transactionId,
                                                                          CAsynchOperationExecutor* executor,
                                                                          FMObjectImpl* target, BSTR* pcPath,
                                                                          IAsynchOperation** operation) {
    return CreateAsynchOperation<CCopyFileToPcAsynchOperation>(
        KV_LOG_SITE, "Could not create instance of CCopyFileToPcAsynchOperation.",
        AllArgumentsPresent({executor, target}, {pcPath}), operation,
        [&](CCopyFileToPcAsynchOperation& op) { op.Init(transactionId, executor, target, *pcPath); });
}

void CCopyFileToPcAsynchOperation::Init(LONG transactionId, CAsynchOperationExecutor* executor,
                                        FMObjectImpl* target, BSTR pcPath) {
    LOG_TRACE << "Init of CCopyFileToPcAsynchOperation";
    InitToPc(transactionId, executor, target, pcPath);
}

STDMETHODIMP CCopyFileToPcAsynchOperation::Execute() {
    try {
        return run();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        if (!completionFired()) fireCompleted(KVFM_E_FAILED);
        return E_FAIL;
    }
}

HRESULT CCopyFileToPcAsynchOperation::run() {
    LOG_TRACE << "Enter";
    if (TargetDisconnected()) {
        fireCompleted(KVFM_E_DISCONNECTED);
        return E_FAIL;
    }
    LONG result = 0;
    CFile* file = nullptr;
    HRESULT hr = copyFile(&result, &file);
    if (FAILED(hr)) return hr;
    // The wait object's result as it is, success or not.
    fireCompleted(static_cast<KVFMOpResult>(static_cast<ULONG>(result)));
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CMoveFileToPcAsynchOperation::CreateCMoveFileToPcAsynchOperation(LONG transactionId,
                                                                          CAsynchOperationExecutor* executor,
                                                                          FMObjectImpl* target, BSTR* pcPath,
                                                                          IAsynchOperation** operation) {
    return CreateAsynchOperation<CMoveFileToPcAsynchOperation>(
        KV_LOG_SITE, "Could not create instance of CMoveFileToPcAsynchOperation.",
        AllArgumentsPresent({executor, target}, {pcPath}), operation,
        [&](CMoveFileToPcAsynchOperation& op) { op.Init(transactionId, executor, target, *pcPath); });
}

void CMoveFileToPcAsynchOperation::Init(LONG transactionId, CAsynchOperationExecutor* executor,
                                        FMObjectImpl* target, BSTR pcPath) {
    LOG_TRACE << "Init of CMoveFileToPcAsynchOperation";
    InitToPc(transactionId, executor, target, pcPath);
}

STDMETHODIMP CMoveFileToPcAsynchOperation::Execute() {
    try {
        return run();
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        if (!completionFired()) fireCompleted(KVFM_E_FAILED);
        return E_FAIL;
    }
}

HRESULT CMoveFileToPcAsynchOperation::run() {
    LOG_TRACE << "Enter";
    if (TargetDisconnected()) {
        fireCompleted(KVFM_E_DISCONNECTED);
        return E_FAIL;
    }
    LONG result = 0;
    CFile* file = nullptr;
    HRESULT hr = copyFile(&result, &file);
    if (FAILED(hr)) return hr;
    if (result != 0) {
        // Nothing was copied: the file stays where it was.
        fireCompleted(static_cast<KVFMOpResult>(static_cast<ULONG>(result)));
        LOG_TRACE << "Exit";
        return S_OK;
    }

    hr = TargetDisconnected() ? kNotReady : file->Delete();
    if (SUCCEEDED(hr)) {
        fireCompleted(KVFM_OK);
        LOG_TRACE << "Exit";
        return S_OK;
    }
    // The file stays at its origin only: the copy goes again.
    LOG_ERROR << "Failed to delete file from device";
    removePcCopy();
    fireCompleted(kvFmResultFromHresult(hr));
    return E_FAIL;
}
