#include "operations/FolderTransferOperations.h"

#include <comdef.h>

#include <new>

#include "connector/DeviceConnector.h"
#include "connector/StorageObject.h"
#include "module/Utilities.h"
#include "objects/FMObjectImpl.h"
#include "objects/PathFunctions.h"
#include "operations/CallbackFunctions.h"
#include "operations/FileTransferOperations.h"
#include "operations/FolderListDevice.h"
#include "operations/FolderListPC.h"

namespace {

constexpr HRESULT kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

std::wstring Text(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
    return path;
}

// Virtual folder paths are handed to the connector with exactly one trailing backslash.
std::wstring WithTrailingSeparator(const std::wstring& path) {
    std::wstring result = path;
    while (!result.empty() && IsSeparator(result.back())) result.pop_back();
    result += L'\\';
    return result;
}

bool Fits(const std::wstring& path) { return path.size() < kPathBufferChars; }

std::wstring LastComponent(const std::wstring& path) {
    std::wstring parent, name;
    if (FAILED(SplitPath(path.c_str(), parent, name))) return std::wstring();
    return name;
}

// What a step reports when the binding ended under it; converts to KVFM_E_DISCONNECTED.
constexpr HRESULT kBindingEnded = HRESULT_FROM_WIN32(ERROR_NOT_READY);

// The Win32 error as an HRESULT; never a success.
HRESULT HresultFromError(DWORD error) { return error ? HRESULT_FROM_WIN32(error) : E_FAIL; }

} // namespace

// ---------------------------------------------------------------------------
// PC tree to the device

CFolderFromPcAsynchOperation::CFolderFromPcAsynchOperation() = default;
CFolderFromPcAsynchOperation::~CFolderFromPcAsynchOperation() = default;

void CFolderFromPcAsynchOperation::Init(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target,
                                        BSTR sourcePath, BSTR name, bool move) {
    LOG_TRACE << "Init of " << (move ? "CMoveFolderFromPcAsynchOperation" : "CCopyFolderFromPcAsynchOperation");
    InitCommon(transactionId, target, target ? target->GetConnector() : nullptr, executor);
    m_bMove = move;
    m_strSourcePath = WithoutTrailingSeparators(Text(sourcePath));
    const std::wstring given = Text(name);
    // Left empty when the source cannot be split; Execute then refuses.
    m_strName = given.empty() ? LastComponent(m_strSourcePath) : given;
    com::UniqueBstr targetPath;
    if (target && SUCCEEDED(target->get_Path(targetPath.Receive())) && !m_strName.empty()) {
        m_strTopDestination = WithTrailingSeparator(Text(targetPath.Get())) + m_strName + L"\\";
    }
}

void CFolderFromPcAsynchOperation::complete(KVFMOpResult result, IDispatch* folder) {
    if (m_bCompleted) return;
    m_bCompleted = true;
    if (m_bMove)
        FireMoveFolderFromPCCompleted(m_pTarget, result, folder, m_lTransactionId);
    else
        FireCopyFolderFromPCCompleted(m_pTarget, result, folder, m_lTransactionId);
}

STDMETHODIMP CFolderFromPcAsynchOperation::Execute() {
    LOG_TRACE << "Enter";
    if (TargetDisconnected()) {
        complete(KVFM_E_DISCONNECTED, nullptr);
        return E_FAIL;
    }
    LONG result = KVFM_E_FAILED;
    com::ComPtr<IKVFMFolder> topFolder;
    HRESULT hr;
    try {
        hr = run(result, topFolder);
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory copying the folder tree.";
        result = KVFM_E_NO_SPACE;
        hr = E_OUTOFMEMORY;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        result = KVFM_E_FAILED;
        hr = E_FAIL;
    }
    // Searches and storage objects go before the client hears of the end.
    m_levels.clear();
    const KVFMOpResult outcome = static_cast<KVFMOpResult>(result);
    if (outcome != KVFM_OK) {
        complete(outcome, nullptr);
        return FAILED(hr) ? hr : E_FAIL;
    }
    if (m_bMove) {
        LOG_DEBUG << "Fire succeeded move folder.";
    }
    complete(KVFM_OK, topFolder.Get());
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CFolderFromPcAsynchOperation::run(LONG& result, com::ComPtr<IKVFMFolder>& topFolder) {
    result = KVFM_E_FAILED;
    if (m_strName.empty() || m_strTopDestination.empty()) {
        LOG_ERROR << "Unable to split folder path " << m_strSourcePath;
        return E_FAIL;
    }
    // The walk starts in the target's own storage folder, which the target keeps.
    CFolder* targetFolder = dynamic_cast<CFolder*>(m_pTarget->GetStorageObject());
    if (!targetFolder || !m_pDeviceConnector) {
        LOG_ERROR << "The target has no storage folder to copy into.";
        return E_FAIL;
    }
    std::wstring parent, unused;
    if (FAILED(SplitPath(m_strTopDestination.c_str(), parent, unused))) {
        LOG_ERROR << "Unable to split folder path " << m_strTopDestination;
        return E_FAIL;
    }
    HRESULT hr = createFolder(m_strSourcePath, m_strName, targetFolder, parent);
    if (FAILED(hr)) {
        result = kvFmResultFromHresult(hr);
        return hr;
    }
    for (;;) {
        if (TargetDisconnected()) {
            result = KVFM_E_DISCONNECTED;
            return E_FAIL;
        }
        hr = findNextFile();
        if (hr != S_OK) break;
        const LONG copied = copyFile();
        if (copied != KVFM_OK) {
            result = copied;
            return E_FAIL;
        }
        if (m_bMove && !DeleteFileW(m_strCurrentFile.c_str())) {
            const DWORD error = GetLastError();
            LOG_DEBUG << "Failed to delete file, filepath" << " " << m_strCurrentFile;
            LOG_DEBUG << "GetLastError returned=" << error;
            LOG_DEBUG << "Fire failed move folder.";
            hr = HresultFromError(error);
            result = kvFmResultFromHresult(hr);
            return hr;
        }
    }
    // S_FALSE, the end of the tree, converts to KVFM_OK.
    result = kvFmResultFromHresult(hr);
    if (result != KVFM_OK) return hr;

    if (TargetDisconnected()) {
        result = KVFM_E_DISCONNECTED;
        return E_FAIL;
    }
    com::UniqueBstr top(m_strTopDestination.c_str(), static_cast<UINT>(m_strTopDestination.size()));
    BSTR topPath = top.Get();
    hr = topPath ? m_pDeviceConnector->getKVFMFolder(topPath, topFolder.Receive()) : E_OUTOFMEMORY;
    if (FAILED(hr) || !topFolder) {
        LOG_ERROR << "Unable to get folder " << m_strTopDestination;
        topFolder.Reset();
        result = KVFM_E_FAILED;
        return FAILED(hr) ? hr : E_FAIL;
    }
    result = KVFM_OK;
    return S_OK;
}

HRESULT CFolderFromPcAsynchOperation::createFolder(const std::wstring& sourcePath, const std::wstring& name,
                                                   CFolder* parent, const std::wstring& parentPath) {
    auto level = std::make_unique<Level>();
    level->sourcePath = sourcePath;
    level->list.reset(new CFolderListPC());
    DWORD error = 0;
    HRESULT hr = level->list->GetFolderList(sourcePath.c_str(), &error);
    if (FAILED(hr)) {
        LOG_ERROR << "Failed to get the folder list. Error=" << error;
        return hr == kPathTooLong ? hr : E_FAIL;
    }
    if (name.empty() || !IsValidName(name.c_str())) {
        LOG_ERROR << "Unable to split folder path " << sourcePath;
        return E_FAIL;
    }
    level->destinationPath = WithTrailingSeparator(parentPath) + name + L"\\";
    if (!Fits(level->destinationPath)) {
        LOG_ERROR << "Folder path too long on the device: " << level->destinationPath.size() << " characters.";
        return kPathTooLong;
    }
    com::UniqueBstr folderName(name.c_str(), static_cast<UINT>(name.size()));
    BSTR nameArg = folderName.Get();
    if (!nameArg) return E_OUTOFMEMORY;
    hr = parent->NewFolder(nameArg);
    // The connector may be gone with the binding.
    if (TargetDisconnected()) return kBindingEnded;

    com::UniqueBstr destination(level->destinationPath.c_str(), static_cast<UINT>(level->destinationPath.size()));
    BSTR destinationArg = destination.Get();
    if (!destinationArg) return E_OUTOFMEMORY;
    CFolder* rawFolder = nullptr;
    const HRESULT lookup = m_pDeviceConnector->getCFolder(destinationArg, &rawFolder);
    std::unique_ptr<CFolder> folder(rawFolder);
    if (FAILED(hr)) {
        // Card folders report an existing name as a plain failure: a folder
        // that is there all the same is merged with too.
        if (hr != kAlreadyExists && (FAILED(lookup) || !folder)) {
            LOG_ERROR << "Unable to create folder " << name;
            return hr;
        }
        LOG_DEBUG << "Replace situation for folder " << name;
        m_lReplaceSetting = 1;
        LOG_DEBUG << "Replace setting set to " << m_lReplaceSetting;
    }
    if (FAILED(lookup) || !folder) {
        LOG_ERROR << "Cannot map folder " << level->destinationPath << " on device";
        if (FAILED(lookup)) {
            LOG_ERROR << "getCFolder returned hr = 0x" << LogHex(lookup);
        } else {
            LOG_ERROR << "getCFolder returned pCFolder = NULL";
        }
        return E_FAIL;
    }
    level->destination = folder.get();
    level->destinationOwned = std::move(folder);
    m_levels.push_back(std::move(level));
    return S_OK;
}

HRESULT CFolderFromPcAsynchOperation::findNextFile() {
    for (;;) {
        Level& current = *m_levels.back();
        com::UniqueBstr name;
        DWORD error = 0;
        HRESULT hr = current.list->GetNextFileName(name.Receive(), &error);
        if (hr == S_OK) {
            m_strCurrentFile = current.sourcePath + L"\\" + Text(name.Get());
            if (!Fits(m_strCurrentFile)) {
                LOG_ERROR << "File path too long: " << m_strCurrentFile.size() << " characters.";
                return kPathTooLong;
            }
            return S_OK;
        }
        if (hr != S_FALSE) {
            LOG_ERROR << "Failed to get next file. Error=" << error;
            return E_FAIL;
        }
        // No more files here: on to the next subfolder, climbing as folders end.
        for (;;) {
            Level& folder = *m_levels.back();
            com::UniqueBstr subfolder;
            hr = folder.list->GetNextFolderName(subfolder.Receive(), &error);
            if (hr == S_OK) {
                const std::wstring subName = Text(subfolder.Get());
                const std::wstring subPath = folder.sourcePath + L"\\" + subName;
                hr = createFolder(subPath, subName, folder.destination, folder.destinationPath);
                if (FAILED(hr)) return hr;
                break;  // look for files in the new folder
            }
            if (hr != S_FALSE) {
                LOG_ERROR << "Failed to get next folder. Error=" << error;
                return E_FAIL;
            }
            if (m_bMove) {
                // Its search handles go first, or the folder stays in use.
                folder.list.reset();
                if (!RemoveDirectoryW(folder.sourcePath.c_str())) {
                    LOG_ERROR << "Failed to remove directory from PC. Error: " << GetLastError();
                }
            }
            if (m_levels.size() == 1) return S_FALSE;
            m_levels.pop_back();
        }
    }
}

LONG CFolderFromPcAsynchOperation::copyFile() {
    LOG_TRACE << "Enter";
    auto progress = std::make_unique<CProgressCallbackFunction>(m_pTarget, m_lTransactionId);
    auto replace = std::make_unique<CReplaceAlwaysCallbackFunction>();
    CCopyFileWaitObject* rawWait = nullptr;
    HRESULT hr = m_levels.back()->destination->CopyFileFromPC(m_pExecutor, _bstr_t(m_strCurrentFile.c_str()),
                                                              &rawWait, progress.get(), replace.get());
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to copy file from PC";
        return kvFmResultFromHresult(hr);
    }
    // Goes before the callbacks it points at.
    std::unique_ptr<CCopyFileWaitObject> wait(rawWait);
    if (!wait) {
        LOG_ERROR << "Unable to copy file from PC: no wait object";
        return KVFM_E_FAILED;
    }
    const LONG result = WaitForCopyResult(m_pTarget, wait.get(),
                                          m_bMove ? "pCCopyFileFromPcCompleteWaitObject signalled"
                                                  : "pCCopyFileWaitObject signalled");
    if (result != KVFM_OK) {
        LOG_ERROR << "Failed to copy file, kvfmResult = " << result;
    }
    wait.reset();
    LOG_TRACE << "Exit";
    return result;
}

// ---------------------------------------------------------------------------
// Device tree to the PC

CFolderToPcAsynchOperation::CFolderToPcAsynchOperation() = default;
CFolderToPcAsynchOperation::~CFolderToPcAsynchOperation() = default;

void CFolderToPcAsynchOperation::Init(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target,
                                      BSTR pcPath, bool move) {
    LOG_TRACE << "Init of " << (move ? "CMoveFolderToPcAsynchOperation" : "CCopyFolderToPcAsynchOperation");
    InitCommon(transactionId, target, target ? target->GetConnector() : nullptr, executor);
    m_bMove = move;
    m_strPcPath = WithoutTrailingSeparators(Text(pcPath));
}

void CFolderToPcAsynchOperation::complete(KVFMOpResult result) {
    if (m_bCompleted) return;
    m_bCompleted = true;
    if (m_bMove)
        FireMoveToPCCompleted(m_pTarget, result, m_lTransactionId);
    else
        FireCopyToPCCompleted(m_pTarget, result, m_lTransactionId);
}

STDMETHODIMP CFolderToPcAsynchOperation::Execute() {
    LOG_TRACE << "Enter";
    if (TargetDisconnected()) {
        complete(KVFM_E_DISCONNECTED);
        return E_FAIL;
    }
    LONG result = KVFM_E_FAILED;
    HRESULT hr;
    try {
        hr = run(result);
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory copying the folder tree.";
        result = KVFM_E_NO_SPACE;
        hr = E_OUTOFMEMORY;
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        result = KVFM_E_FAILED;
        hr = E_FAIL;
    }
    m_pCurrentFile.reset();
    m_levels.clear();
    complete(static_cast<KVFMOpResult>(result));
    if (result != KVFM_OK) return FAILED(hr) ? hr : E_FAIL;
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CFolderToPcAsynchOperation::run(LONG& result) {
    result = KVFM_E_FAILED;
    com::ComPtr<IKVFMFolder> folder;
    HRESULT hr = m_pTarget->ControllingUnknown()->QueryInterface(IID_IKVFMFolder,
                                                                 reinterpret_cast<void**>(folder.Receive()));
    if (FAILED(hr) || !folder) {
        LOG_ERROR << "Unable to get IKVFMFolder from raw object";
        return FAILED(hr) ? hr : E_FAIL;
    }
    com::UniqueBstr path;
    hr = folder->get_Path(path.Receive());
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to get folderpath";
        return hr;
    }
    if (m_strPcPath.empty() || !m_pDeviceConnector) {
        LOG_ERROR << "No PC folder to copy to.";
        return E_FAIL;
    }
    hr = createFolder(WithTrailingSeparator(Text(path.Get())), m_strPcPath);
    if (FAILED(hr)) {
        // A skip or abort answer for the top folder converts to KVFM_ABORTED.
        result = kvFmResultFromHresult(hr);
        return hr;
    }
    for (;;) {
        if (TargetDisconnected()) {
            result = KVFM_E_DISCONNECTED;
            return E_FAIL;
        }
        hr = findNextFile();
        if (hr != S_OK) break;
        const LONG copied = copyFile();
        m_pCurrentFile.reset();
        if (copied != KVFM_OK) {
            result = copied;
            return E_FAIL;
        }
    }
    result = kvFmResultFromHresult(hr);
    return result == KVFM_OK ? S_OK : hr;
}

HRESULT CFolderToPcAsynchOperation::createFolder(const std::wstring& devicePath, const std::wstring& pcPath) {
    auto level = std::make_unique<Level>();
    level->devicePath = devicePath;
    level->pcPath = pcPath;
    level->list.reset(new CFolderListDevice(m_pDeviceConnector));
    // The list resolves through the connector, which may be gone with the binding.
    if (TargetDisconnected()) return kBindingEnded;
    com::UniqueBstr listPath(devicePath.c_str(), static_cast<UINT>(devicePath.size()));
    if (listPath.IsNull()) return E_OUTOFMEMORY;
    DWORD error = 0;
    if (FAILED(level->list->GetFolderList(listPath.Get(), &error))) {
        LOG_ERROR << "Failed to get the folderlist.";
        return E_FAIL;
    }
    // Room for a backslash and at least one character of a name below it.
    if (!Fits(pcPath + L"\\x")) {
        LOG_ERROR << "PC path too long: " << pcPath.size() << " characters.";
        return kPathTooLong;
    }
    std::wstring parent, name;
    if (FAILED(SplitPath(pcPath.c_str(), parent, name))) {
        LOG_ERROR << "Unable to split folder path " << pcPath;
        return E_FAIL;
    }
    if (!CreateDirectoryW(pcPath.c_str(), nullptr)) {
        const DWORD createError = GetLastError();
        if (createError != ERROR_ALREADY_EXISTS) {
            LOG_ERROR << "Failed to create directory = " << pcPath << " Error = " << createError;
            return HresultFromError(createError);
        }
        const DWORD attributes = GetFileAttributesW(pcPath.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            LOG_ERROR << "Failed to create directory = " << pcPath << " Error = " << createError
                      << " (a file has that name)";
            return kAlreadyExists;
        }
        LOG_DEBUG << "Replace situation for folder " << name;
        if (m_lReplaceSetting != kMergeAll) {
            // The client answers into the setting; without a sink it keeps its value.
            FireReplaceFolder(m_pTarget, m_lTransactionId, name.c_str(), &m_lReplaceSetting);
            LOG_DEBUG << "Replace setting set to " << m_lReplaceSetting;
            if (m_lReplaceSetting == kSkipFolder || m_lReplaceSetting == kAbort) return E_ABORT;
        }
    }
    m_levels.push_back(std::move(level));
    return S_OK;
}

HRESULT CFolderToPcAsynchOperation::findNextFile() {
    for (;;) {
        CFile* file = nullptr;
        DWORD error = 0;
        HRESULT hr = m_levels.back()->list->GetNextFile(&file, &error);
        if (hr == S_OK) {
            LOG_DEBUG << "Found another file.";
            m_pCurrentFile.reset(file);
            return S_OK;
        }
        if (hr != S_FALSE) {
            LOG_DEBUG << "Failed to get next file.";
            return E_FAIL;
        }
        LOG_DEBUG << "No more files in folder.";
        // The next subfolder, climbing as folders end.
        for (;;) {
            Level& current = *m_levels.back();
            CFolder* rawSubfolder = nullptr;
            hr = current.list->GetNextFolder(&rawSubfolder, &error);
            if (hr == S_OK) {
                LOG_DEBUG << "Found another subfolder.";
                std::unique_ptr<CFolder> subfolder(rawSubfolder);
                com::UniqueBstr subPath;
                if (!subfolder || FAILED(subfolder->GetPath(subPath.Receive())) || subPath.Length() == 0) {
                    LOG_ERROR << "Failed to get virtualpath of current folder.";
                    return E_FAIL;
                }
                const std::wstring devicePath = WithTrailingSeparator(Text(subPath.Get()));
                const std::wstring name = LastComponent(devicePath);
                // The name becomes a PC path component: it must stay one.
                if (name.empty() || !IsValidName(name.c_str())) {
                    LOG_ERROR << "Failed to extract foldername from virtualpath of current folder.";
                    return E_FAIL;
                }
                hr = createFolder(devicePath, current.pcPath + L"\\" + name);
                if (hr == E_ABORT) {
                    if (m_lReplaceSetting == kAbort) return E_ABORT;
                    LOG_DEBUG << "Folder skipped: " << devicePath;
                    continue;
                }
                if (FAILED(hr)) return hr;
                break;  // look for files in the new folder
            }
            if (hr != S_FALSE) {
                LOG_ERROR << "Failed to get next folder.";
                return E_FAIL;
            }
            LOG_DEBUG << "No more subfolders in folder.";
            if (m_bMove) deleteDeviceFolder(current.devicePath);
            if (m_levels.size() == 1) return S_FALSE;
            m_levels.pop_back();
        }
    }
}

void CFolderToPcAsynchOperation::deleteDeviceFolder(const std::wstring& devicePath) {
    if (TargetDisconnected()) return;
    com::UniqueBstr path(devicePath.c_str(), static_cast<UINT>(devicePath.size()));
    BSTR pathArg = path.Get();
    CFolder* raw = nullptr;
    HRESULT hr = pathArg ? m_pDeviceConnector->getCFolder(pathArg, &raw) : E_OUTOFMEMORY;
    std::unique_ptr<CFolder> folder(raw);
    if (FAILED(hr) || !folder) {
        LOG_DEBUG << " Failed to get folder object.";
        LOG_DEBUG << "Failed to delete folder at device.";
        LOG_DEBUG << "device path = " << devicePath;
        return;
    }
    if (FAILED(folder->Delete())) {
        LOG_DEBUG << "Failed to delete folder at device.";
        LOG_DEBUG << "device path = " << devicePath;
    }
}

LONG CFolderToPcAsynchOperation::copyFile() {
    LOG_TRACE << "Enter";
    CFile* file = m_pCurrentFile.get();
    com::UniqueBstr filePath;
    if (!file || FAILED(file->GetPath(filePath.Receive())) || filePath.Length() == 0) {
        LOG_ERROR << "Unable to get the path of the file to copy.";
        return KVFM_E_FAILED;
    }
    const std::wstring name = LastComponent(Text(filePath.Get()));
    if (name.empty() || !IsValidName(name.c_str())) {
        LOG_ERROR << "Not a file name for the PC: " << filePath.c_str();
        return KVFM_E_FAILED;
    }
    // The storage files copy to exactly this path.
    const std::wstring target = m_levels.back()->pcPath + L"\\" + name;
    if (!Fits(target)) {
        LOG_ERROR << "PC path too long: " << target.size() << " characters.";
        return kvFmResultFromHresult(kPathTooLong);
    }
    auto progress = std::make_unique<CProgressCallbackFunction>(m_pTarget, m_lTransactionId);
    auto replace = std::make_unique<CReplaceAlwaysCallbackFunction>();
    CCopyFileWaitObject* rawWait = nullptr;
    HRESULT hr = file->CopyFileToPC(m_pExecutor, _bstr_t(target.c_str()), &rawWait, progress.get(), replace.get());
    if (FAILED(hr)) {
        LOG_ERROR << "Unable to copy file to PC";
        return kvFmResultFromHresult(hr);
    }
    std::unique_ptr<CCopyFileWaitObject> wait(rawWait);
    if (!wait) {
        LOG_ERROR << "Unable to copy file to PC: no wait object";
        return KVFM_E_FAILED;
    }
    const LONG result = WaitForCopyResult(m_pTarget, wait.get());
    wait.reset();
    if (result != KVFM_OK) {
        if (m_bMove) {
            LOG_ERROR << "Failed to copy file";
        } else {
            LOG_ERROR << "Failed to copy file, kvfmResult = " << result;
        }
        return result;
    }
    if (m_bMove) {
        hr = file->Delete();
        if (FAILED(hr)) {
            LOG_ERROR << "Failed to delete file from device";
            // The file stays where it was: no second copy is left behind.
            if (!DeletePcCopy(target.c_str())) {
                LOG_DEBUG << "Failed to delete file from destination(PC)";
            }
            return kvFmResultFromHresult(hr);
        }
    }
    LOG_TRACE << "Exit";
    return KVFM_OK;
}

// ---------------------------------------------------------------------------
// Creation

HRESULT CCopyFolderToPcAsynchOperation::CreateCCopyFolderToPcAsynchOperation(LONG transactionId,
                                                                              CAsynchOperationExecutor* executor,
                                                                              FMObjectImpl* target, BSTR* pcPath,
                                                                              IAsynchOperation** operation) {
    return CreateAsynchOperation<CCopyFolderToPcAsynchOperation>(
        KV_LOG_SITE, "Could not create instance of CCopyFolderToPcAsynchOperation.",
        AllArgumentsPresent({executor, target}, {pcPath}), operation,
        [&](CCopyFolderToPcAsynchOperation& op) { op.Init(transactionId, executor, target, *pcPath, false); });
}

HRESULT CMoveFolderToPcAsynchOperation::CreateCMoveFolderToPcAsynchOperation(LONG transactionId,
                                                                              CAsynchOperationExecutor* executor,
                                                                              FMObjectImpl* target, BSTR* pcPath,
                                                                              IAsynchOperation** operation) {
    return CreateAsynchOperation<CMoveFolderToPcAsynchOperation>(
        KV_LOG_SITE, "Could not create instance of CMoveFolderToPcAsynchOperation.",
        AllArgumentsPresent({executor, target}, {pcPath}), operation,
        [&](CMoveFolderToPcAsynchOperation& op) { op.Init(transactionId, executor, target, *pcPath, true); });
}

HRESULT CCopyFolderFromPcAsynchOperation::CreateCCopyFolderFromPcAsynchOperation(
    LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR* sourcePath, BSTR* name,
    IAsynchOperation** operation) {
    // The name may be absent: the source folder's own name is taken then.
    return CreateAsynchOperation<CCopyFolderFromPcAsynchOperation>(
        KV_LOG_SITE, "Could not create instance of CCopyFolderFromPcAsynchOperation.",
        AllArgumentsPresent({executor, target}, {sourcePath}), operation,
        [&](CCopyFolderFromPcAsynchOperation& op) {
            op.Init(transactionId, executor, target, *sourcePath, name ? *name : nullptr, false);
        });
}

HRESULT CMoveFolderFromPcAsynchOperation::CreateCMoveFolderFromPcAsynchOperation(
    LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR* sourcePath, BSTR* name,
    IAsynchOperation** operation) {
    return CreateAsynchOperation<CMoveFolderFromPcAsynchOperation>(
        KV_LOG_SITE, "Could not create instance of CMoveFolderFromPcAsynchOperation.",
        AllArgumentsPresent({executor, target}, {sourcePath}), operation,
        [&](CMoveFolderFromPcAsynchOperation& op) {
            op.Init(transactionId, executor, target, *sourcePath, name ? *name : nullptr, true);
        });
}
