#include "operations/DeviceOperations.h"

#include <algorithm>
#include <new>

#include "connector/DeviceConnector.h"
#include "connector/StorageObject.h"
#include "module/Utilities.h"
#include "objects/FMObjectImpl.h"
#include "objects/PathFunctions.h"
#include "operations/FolderListDevice.h"

namespace {

// What a step reports once the phone's binding has ended under it; converts
// to KVFM_E_DISCONNECTED.
constexpr HRESULT kNotReady = HRESULT_FROM_WIN32(ERROR_NOT_READY);

std::wstring Text(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

com::UniqueBstr Bstr(const std::wstring& s) { return com::UniqueBstr(s.c_str(), static_cast<UINT>(s.size())); }

std::wstring WithTrailingSeparator(std::wstring path) {
    if (path.empty() || path.back() != L'\\') path += L'\\';
    return path;
}

// A virtual path must fit a path buffer whole; a longer one is refused, never cut.
bool Fits(const std::wstring& path) { return path.size() < kPathBufferChars; }

// The folder's own name, without the trailing backslash.
std::wstring FolderName(const std::wstring& folderPath) {
    std::wstring path = folderPath;
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

} // namespace

// ---- common part ----

void CDeviceAsynchOperation::complete(KVFMOpResult result, IDispatch* object) {
    if (m_bCompleted) return;
    m_bCompleted = true;
    fireCompletion(result, object);
}

KVFMOpResult CDeviceAsynchOperation::failureResult(HRESULT hr) const {
    if (TargetDisconnected()) return KVFM_E_DISCONNECTED;
    const KVFMOpResult result = kvFmResultFromHresult(hr);
    // A failure never reads as success.
    return result == KVFM_OK ? KVFM_E_FAILED : result;
}

HRESULT CDeviceAsynchOperation::readTargetPath(REFIID iid, const char* interfaceFailure, const char* pathFailure,
                                               std::wstring& path) {
    com::ComPtr<IKVFMObject> object;
    HRESULT hr = m_pTarget->ControllingUnknown()->QueryInterface(iid, object.ReceiveVoid());
    if (FAILED(hr) || !object) {
        LOG_ERROR << interfaceFailure;
        complete(KVFM_E_FAILED);
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    // IKVFMFile and IKVFMFolder both begin with IKVFMObject: get_Path answers for the interface asked.
    com::UniqueBstr text;
    hr = object->get_Path(text.Receive());
    if (FAILED(hr) || text.Length() == 0) {
        LOG_ERROR << pathFailure;
        complete(KVFM_E_FAILED);
        return FAILED(hr) ? hr : E_FAIL;
    }
    path = Text(text.Get());
    return S_OK;
}

STDMETHODIMP CDeviceAsynchOperation::Execute() {
    LOG_TRACE << "Enter";
    // The connector and storage objects of an ended binding may be gone.
    if (TargetDisconnected()) {
        complete(KVFM_E_DISCONNECTED);
        return E_FAIL;
    }
    HRESULT hr;
    try {
        hr = run();
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory.";
        hr = E_OUTOFMEMORY;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        hr = E_FAIL;
    }
    // Every path ends in exactly one completion event.
    if (!m_bCompleted) {
        complete(failureResult(FAILED(hr) ? hr : E_FAIL));
        if (SUCCEEDED(hr)) hr = E_FAIL;
    }
    return hr;
}

// ---- delete file ----

HRESULT CDeleteDeviceFileAsynchOperation::CreateCDeleteDeviceFileAsynchOperation(LONG transactionId,
                                                                                  FMObjectImpl* target,
                                                                                  IAsynchOperation** operation) {
    return CreateAsynchOperation<CDeleteDeviceFileAsynchOperation>(
        KV_LOG_SITE, "Unable to create CDeleteDeviceFileAsynchOperation", AllArgumentsPresent({target}, {}),
        operation, [&](CDeleteDeviceFileAsynchOperation& op) { op.Init(transactionId, target); });
}

void CDeleteDeviceFileAsynchOperation::Init(LONG transactionId, FMObjectImpl* target) {
    LOG_TRACE << "Init of CDeleteDeviceFileAsynchOperation";
    InitCommon(transactionId, target, target->GetConnector(), target->GetExecutor());
}

void CDeleteDeviceFileAsynchOperation::fireCompletion(KVFMOpResult result, IDispatch*) {
    FireDeleteCompleted(m_pTarget, result, m_lTransactionId);
}

HRESULT CDeleteDeviceFileAsynchOperation::run() {
    std::wstring path;
    HRESULT hr = readTargetPath(IID_IKVFMFile, "Unable to get IKVFMFile from raw object", "Unable to get file path",
                                path);
    if (FAILED(hr)) return hr;
    CStorageObject* file = m_pTarget->GetStorageObject();
    if (!file) {
        LOG_ERROR << "No storage object for file " << path;
        complete(KVFM_E_FAILED);
        return E_FAIL;
    }
    hr = file->Delete();
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to delete file";
        complete(failureResult(hr));
        return hr;
    }
    complete(KVFM_OK);
    LOG_TRACE << "Exit";
    return S_OK;
}

// ---- rename ----

void CRenameDeviceObjectAsynchOperation::InitRename(LONG transactionId, FMObjectImpl* target, BSTR newName,
                                                    bool folder) {
    InitCommon(transactionId, target, target->GetConnector(), target->GetExecutor());
    m_bstrNewName = com::UniqueBstr(newName, SysStringLen(newName));
    m_bFolder = folder;
}

void CRenameDeviceObjectAsynchOperation::fireCompletion(KVFMOpResult result, IDispatch*) {
    FireRenameCompleted(m_pTarget, result, m_lTransactionId);
}

HRESULT CRenameDeviceObjectAsynchOperation::run() {
    std::wstring path;
    HRESULT hr = m_bFolder ? readTargetPath(IID_IKVFMFolder, "Unable to get IKVFMFolder from raw object",
                                            "Unable to get folder path", path)
                           : readTargetPath(IID_IKVFMFile, "Unable to get IKVFMFile from raw object",
                                            "Unable to get file path", path);
    if (FAILED(hr)) return hr;
    CStorageObject* storage = m_pTarget->GetStorageObject();
    if (!storage) {
        LOG_ERROR << "No storage object for " << path;
        complete(KVFM_E_FAILED);
        return E_FAIL;
    }
    // The new path is worked out first: a rename the object could not follow is not started.
    std::wstring parent, oldName;
    hr = SplitPath(path.c_str(), parent, oldName);
    const std::wstring newName = Text(m_bstrNewName.Get());
    const std::wstring newPath = parent + newName;
    if (SUCCEEDED(hr) && !IsValidName(newName.c_str())) hr = E_INVALIDARG;
    if (SUCCEEDED(hr) && !Fits(m_bFolder ? newPath + L"\\" : newPath)) hr = kPathTooLong;
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to rename file";
        LOG_DEBUG << "path = " << path << ", new name = " << newName;
        complete(failureResult(hr));
        return hr;
    }
    BSTR nameArg = m_bstrNewName.Get();
    hr = storage->Rename(nameArg);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to rename file";
        complete(failureResult(hr));
        return hr;
    }
    // The object holds a path, not a name: it gets the whole new path.
    com::UniqueBstr newPathText = Bstr(newPath);
    if (newPathText.IsNull()) throw std::bad_alloc();
    hr = m_pTarget->put_Name(newPathText.Get());
    if (FAILED(hr)) {
        // Renamed all the same; only the client's object shows the old name.
        LOG_ERROR << "Unable to set the new name on the object, hr = 0x" << LogHex(hr);
    }
    complete(KVFM_OK);
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CRenameDeviceFileAsynchOperation::CreateCRenameDeviceFileAsynchOperation(LONG transactionId,
                                                                                  FMObjectImpl* target, BSTR* newName,
                                                                                  IAsynchOperation** operation) {
    return CreateAsynchOperation<CRenameDeviceFileAsynchOperation>(
        KV_LOG_SITE, "Unable to create CRenameDeviceFileAsynchOperation",
        AllArgumentsPresent({target}, {newName}) && IsValidName(*newName), operation,
        [&](CRenameDeviceFileAsynchOperation& op) { op.Init(transactionId, target, *newName); });
}

void CRenameDeviceFileAsynchOperation::Init(LONG transactionId, FMObjectImpl* target, BSTR newName) {
    LOG_TRACE << "Init of CRenameDeviceFileAsynchOperation";
    InitRename(transactionId, target, newName, false);
}

HRESULT CRenameDeviceFolderAsynchOperation::CreateCRenameDeviceFolderAsynchOperation(LONG transactionId,
                                                                                      FMObjectImpl* target,
                                                                                      BSTR* newName,
                                                                                      IAsynchOperation** operation) {
    return CreateAsynchOperation<CRenameDeviceFolderAsynchOperation>(
        KV_LOG_SITE, "Unable to create CRenameDeviceFolderAsynchOperation",
        AllArgumentsPresent({target}, {newName}) && IsValidName(*newName), operation,
        [&](CRenameDeviceFolderAsynchOperation& op) { op.Init(transactionId, target, *newName); });
}

void CRenameDeviceFolderAsynchOperation::Init(LONG transactionId, FMObjectImpl* target, BSTR newName) {
    LOG_TRACE << "Init of CRenameDeviceFolderAsynchOperation";
    InitRename(transactionId, target, newName, true);
}

// ---- new folder ----

HRESULT CNewDeviceFolderAsynchOperation::CreateCNewDeviceFolderAsynchOperation(LONG transactionId,
                                                                                FMObjectImpl* target, BSTR* name,
                                                                                DeviceConnector* connector,
                                                                                IAsynchOperation** operation) {
    return CreateAsynchOperation<CNewDeviceFolderAsynchOperation>(
        KV_LOG_SITE, "Unable to create CNewDeviceFolderAsynchOperation",
        AllArgumentsPresent({target, connector}, {name}) && IsValidName(*name), operation,
        [&](CNewDeviceFolderAsynchOperation& op) { op.Init(transactionId, target, *name, connector); });
}

void CNewDeviceFolderAsynchOperation::Init(LONG transactionId, FMObjectImpl* target, BSTR name,
                                           DeviceConnector* connector) {
    LOG_TRACE << "Init of CNewDeviceFolderAsynchOperation";
    InitCommon(transactionId, target, connector, target->GetExecutor());
    m_bstrName = com::UniqueBstr(name, SysStringLen(name));
}

void CNewDeviceFolderAsynchOperation::fireCompletion(KVFMOpResult result, IDispatch* object) {
    FireNewFolderCompleted(m_pTarget, result, object, m_lTransactionId);
}

HRESULT CNewDeviceFolderAsynchOperation::run() {
    std::wstring path;
    HRESULT hr = readTargetPath(IID_IKVFMFolder, "Unable to get IKVFMFolder from raw object",
                                "Unable to get folder path", path);
    if (FAILED(hr)) return hr;
    const std::wstring newPath = WithTrailingSeparator(path) + Text(m_bstrName.Get()) + L"\\";
    CStorageObject* folder = m_pTarget->GetStorageObject();
    if (!folder) {
        LOG_ERROR << "Unable to create folder " << newPath;
        LOG_DEBUG << "The folder has no storage object.";
        complete(KVFM_E_FAILED);
        return E_FAIL;
    }
    if (!Fits(newPath)) {
        LOG_ERROR << "Unable to create folder " << newPath;
        complete(failureResult(kPathTooLong));
        return kPathTooLong;
    }
    BSTR nameArg = m_bstrName.Get();
    hr = folder->NewFolder(nameArg);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to create folder " << newPath;
        complete(failureResult(hr));
        return hr;
    }
    // Made; the client gets the object when it can still be looked up.
    com::ComPtr<IKVFMFolder> created;
    if (!TargetDisconnected() && m_pDeviceConnector) {
        com::UniqueBstr lookup = Bstr(newPath);
        BSTR lookupArg = lookup.Get();
        if (lookupArg) m_pDeviceConnector->getKVFMFolder(lookupArg, created.Receive());
    }
    complete(KVFM_OK, created.Get());
    LOG_TRACE << "Exit";
    return S_OK;
}

// ---- delete folder ----

CDeleteDeviceFolderAsynchOperation::CDeleteDeviceFolderAsynchOperation() = default;
CDeleteDeviceFolderAsynchOperation::~CDeleteDeviceFolderAsynchOperation() = default;

HRESULT CDeleteDeviceFolderAsynchOperation::CreateCDeleteDeviceFolderAsynchOperation(LONG transactionId,
                                                                                      FMObjectImpl* target,
                                                                                      IAsynchOperation** operation) {
    return CreateAsynchOperation<CDeleteDeviceFolderAsynchOperation>(
        KV_LOG_SITE, "Unable to create CDeleteDeviceFolderAsynchOperation", AllArgumentsPresent({target}, {}),
        operation, [&](CDeleteDeviceFolderAsynchOperation& op) { op.Init(transactionId, target); });
}

void CDeleteDeviceFolderAsynchOperation::Init(LONG transactionId, FMObjectImpl* target) {
    LOG_TRACE << "Init of CDeleteDeviceFolderAsynchOperation";
    InitCommon(transactionId, target, target->GetConnector(), target->GetExecutor());
}

void CDeleteDeviceFolderAsynchOperation::fireCompletion(KVFMOpResult result, IDispatch*) {
    FireDeleteCompleted(m_pTarget, result, m_lTransactionId);
}

HRESULT CDeleteDeviceFolderAsynchOperation::run() {
    std::wstring path;
    HRESULT hr = readTargetPath(IID_IKVFMFolder, "Unable to get IKVFMFolder from raw object",
                                "Unable to get folderpath", path);
    if (FAILED(hr)) return hr;
    // Only the tree's root has none: it is never deleted.
    if (!m_pTarget->GetStorageObject() || !m_pDeviceConnector) {
        LOG_ERROR << "No storage object for folder " << path;
        complete(KVFM_E_FAILED);
        return E_FAIL;
    }
    const std::wstring top = WithTrailingSeparator(path);

    m_lTotalFiles = 0;
    hr = getFilesCount(top);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to get number of files in folderstructure";
        complete(TargetDisconnected() ? KVFM_E_DISCONNECTED : KVFM_E_FAILED);
        return hr;
    }
    std::unique_ptr<Level> level;
    hr = getFolderList(top, level);
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to get folder list of folder to be deleted.";
        complete(TargetDisconnected() ? KVFM_E_DISCONNECTED : KVFM_E_FAILED);
        return hr;
    }
    m_levels.push_back(std::move(level));

    for (;;) {
        if (TargetDisconnected()) {
            hr = kNotReady;
            break;
        }
        hr = findNextFile();
        if (hr != S_OK) break;
        hr = deleteFile();
        if (hr != S_OK) break;
    }
    m_pCurrentFile.reset();
    m_levels.clear();
    if (hr == S_FALSE) {
        if (m_bAborted) {
            complete(KVFM_ABORTED);
        } else if (FAILED(m_hrFolderFailure)) {
            complete(failureResult(m_hrFolderFailure));
            return m_hrFolderFailure;
        } else {
            complete(KVFM_OK);
            LOG_TRACE << "Exit";
        }
        return S_OK;
    }
    complete(failureResult(hr));
    return hr;
}

HRESULT CDeleteDeviceFolderAsynchOperation::getFolderList(const std::wstring& path, std::unique_ptr<Level>& level) {
    if (TargetDisconnected()) return kNotReady;
    level.reset(new (std::nothrow) Level());
    if (level) level->list.reset(new (std::nothrow) CFolderListDevice(m_pDeviceConnector));
    if (!level || !level->list) {
        LOG_ERROR << "Failed to create the folderlist.";
        level.reset();
        return E_FAIL;
    }
    level->path = path;
    com::UniqueBstr listPath = Bstr(path);
    DWORD error = 0;
    if (listPath.IsNull() || FAILED(level->list->GetFolderList(listPath.Get(), &error))) {
        LOG_ERROR << "Failed to get the folderlist.";
        level.reset();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CDeleteDeviceFolderAsynchOperation::subfolderPath(CFolder* subfolder,
                                                          const std::vector<std::unique_ptr<Level>>& open,
                                                          std::wstring& path) {
    com::UniqueBstr text;
    if (!subfolder || FAILED(subfolder->GetPath(text.Receive())) || text.Length() == 0) {
        LOG_ERROR << "Failed to get virtualpath of current folder.";
        return E_FAIL;
    }
    path = WithTrailingSeparator(Text(text.Get()));
    for (const auto& level : open) {
        if (_wcsicmp(level->path.c_str(), path.c_str()) == 0) {
            LOG_ERROR << "Failed to get virtualpath of current folder.";
            LOG_DEBUG << "The folder " << path << " is already being walked.";
            return E_FAIL;
        }
    }
    return S_OK;
}

HRESULT CDeleteDeviceFolderAsynchOperation::getFilesCount(const std::wstring& top) {
    std::vector<std::unique_ptr<Level>> stack;
    std::unique_ptr<Level> current;
    if (FAILED(getFolderList(top, current))) return E_FAIL;
    for (;;) {
        CFolder* raw = nullptr;
        DWORD error = 0;
        const HRESULT hr = current->list->GetNextFolder(&raw, &error);
        std::unique_ptr<CFolder> subfolder(raw);
        if (hr == S_OK) {
            LOG_DEBUG << "Found another subfolder.";
            stack.push_back(std::move(current));
            std::wstring path;
            if (FAILED(subfolderPath(subfolder.get(), stack, path))) return E_FAIL;
            if (FAILED(getFolderList(path, current))) return E_FAIL;
            continue;
        }
        if (hr != S_FALSE) {
            LOG_ERROR << "Failed to get next folder.";
            return E_FAIL;
        }
        LOG_DEBUG << "No more subfolders in folder.";
        m_lTotalFiles += static_cast<LONG>(current->list->GetFileCount());
        if (stack.empty()) return S_OK;
        current = std::move(stack.back());
        stack.pop_back();
    }
}

HRESULT CDeleteDeviceFolderAsynchOperation::findNextFile() {
    for (;;) {
        if (m_levels.empty() || !m_levels.back()->list) {
            LOG_ERROR << "NULL pointer for the folderlist reference.";
            return E_FAIL;
        }
        CFile* raw = nullptr;
        DWORD error = 0;
        HRESULT hr = m_levels.back()->list->GetNextFile(&raw, &error);
        if (hr == S_OK) {
            LOG_DEBUG << "Found another file.";
            m_pCurrentFile.reset(raw);
            return S_OK;
        }
        if (hr != S_FALSE) {
            LOG_DEBUG << "Failed to get next file.";
            return E_FAIL;
        }
        LOG_DEBUG << "No more files in folder.";
        hr = getNextFolder();
        if (hr != S_OK) return hr;
    }
}

HRESULT CDeleteDeviceFolderAsynchOperation::getNextFolder() {
    for (;;) {
        Level& current = *m_levels.back();
        CFolder* raw = nullptr;
        DWORD error = 0;
        HRESULT hr = current.list->GetNextFolder(&raw, &error);
        std::unique_ptr<CFolder> subfolder(raw);
        if (hr == S_OK) {
            LOG_DEBUG << "Found another subfolder.";
            std::wstring path;
            if (FAILED(subfolderPath(subfolder.get(), m_levels, path))) return E_FAIL;
            std::unique_ptr<Level> level;
            if (FAILED(getFolderList(path, level))) {
                LOG_ERROR << "Failed to get folderlist of current folder.";
                return TargetDisconnected() ? kNotReady : E_FAIL;
            }
            m_levels.push_back(std::move(level));
            return S_OK;
        }
        if (hr != S_FALSE) {
            LOG_ERROR << "Failed to get next folder.";
            return E_FAIL;
        }
        // Files and subfolders are gone: the folder itself goes now.
        deleteFolder(current.path);
        if (m_levels.size() == 1) {
            LOG_DEBUG << "No more subfolders in folder.";
            return S_FALSE;
        }
        m_levels.pop_back();
    }
}

void CDeleteDeviceFolderAsynchOperation::deleteFolder(const std::wstring& path) {
    if (TargetDisconnected()) {
        LOG_DEBUG << "Failed to delete folder at device.";
        LOG_DEBUG << "device path = " << path;
        return;
    }
    com::UniqueBstr text = Bstr(path);
    BSTR pathArg = text.Get();
    CFolder* raw = nullptr;
    const HRESULT hr = pathArg ? m_pDeviceConnector->getCFolder(pathArg, &raw) : E_OUTOFMEMORY;
    std::unique_ptr<CFolder> folder(raw);
    if (FAILED(hr) || !folder) {
        LOG_DEBUG << " Failed to get folder object.";
        LOG_DEBUG << "Failed to delete folder at device.";
        LOG_DEBUG << "device path = " << path;
        if (SUCCEEDED(m_hrFolderFailure)) m_hrFolderFailure = FAILED(hr) ? hr : E_FAIL;
        return;
    }
    // A folder that stays is no reason to stop, but the delete did not succeed.
    const HRESULT deleted = folder->Delete();
    if (FAILED(deleted)) {
        LOG_DEBUG << "Failed to delete folder at device.";
        LOG_DEBUG << "device path = " << path;
        if (SUCCEEDED(m_hrFolderFailure)) m_hrFolderFailure = deleted;
    }
}

HRESULT CDeleteDeviceFolderAsynchOperation::deleteFile() {
    if (!m_pCurrentFile) {
        LOG_ERROR << "NULL pointer for current file.";
        return E_FAIL;
    }
    const HRESULT hr = m_pCurrentFile->Delete();
    m_pCurrentFile.reset();
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to delete file";
        return hr;
    }
    ++m_lDeletedFiles;
    if (m_lTotalFiles != 0) {
        // Files added since the count must not push the percentage past 100.
        const LONGLONG percent =
            std::min<LONGLONG>(100, static_cast<LONGLONG>(m_lDeletedFiles) * 100 / m_lTotalFiles);
        SHORT cancel = 0;
        FireFileProgress(m_pTarget, FolderName(m_levels.back()->path).c_str(), static_cast<SHORT>(percent),
                         m_lTransactionId, &cancel);
        // Only exactly 1 aborts.
        if (cancel == 1) {
            LOG_DEBUG << "Delete folder operation aborted by client.";
            m_bAborted = true;
            return S_FALSE;
        }
    }
    return S_OK;
}
