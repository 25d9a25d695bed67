#include "mapping/PcFile.h"

#include <cwchar>
#include <new>

#include "com/ComUtil.h"
#include "mapping/FolderMapping.h"
#include "module/Logging.h"
#include "module/Utilities.h"
#include "operations/Callbacks.h"

// ---- path helpers ----

namespace pcpath {

bool IsSafeName(const wchar_t* name, size_t length) {
    if (!name || length == 0 || length >= MAX_PATH) return false;
    bool onlyDotsAndSpaces = true;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = name[i];
        if (c < 0x20 || wcschr(L"\\/:*?\"<>|", c)) return false;
        if (c != L'.' && c != L' ') onlyDotsAndSpaces = false;
    }
    return !onlyDotsAndSpaces;
}

bool Split(const std::wstring& path, std::wstring& folder, std::wstring& name) {
    size_t end = path.size();
    while (end > 0 && (path[end - 1] == L'\\' || path[end - 1] == L'/')) --end;
    if (end == 0) return false;
    const size_t slash = path.find_last_of(L"\\/", end - 1);
    if (slash == std::wstring::npos) return false;
    folder = path.substr(0, slash + 1);
    name = path.substr(slash + 1, end - slash - 1);
    return !name.empty();
}

} // namespace pcpath

bool PcFileTimeToDate(const FILETIME& fileTime, DATE* date) {
    FILETIME local;
    SYSTEMTIME system;
    return FileTimeToLocalFileTime(&fileTime, &local) && FileTimeToSystemTime(&local, &system) &&
           SystemTimeToVariantTime(&system, date);
}

// ---- the chunked copy ----

namespace {

struct FileHandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~FileHandle() { close(); }
    void close() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
};

// ERROR_REQUEST_ABORTED for a cancel or stop; 0 to go on.
DWORD askRoutine(LPPROGRESS_ROUTINE routine, void* data, bool& quiet, LONGLONG total, LONGLONG done, DWORD reason,
                 HANDLE source, HANDLE destination, const BOOL* cancel) {
    if (cancel && *cancel) return ERROR_REQUEST_ABORTED;
    if (!routine || quiet) return 0;
    LARGE_INTEGER t, d;
    t.QuadPart = total;
    d.QuadPart = done;
    switch (routine(t, d, t, d, 1, reason, source, destination, data)) {
    case PROGRESS_CANCEL:
    case PROGRESS_STOP:
        return ERROR_REQUEST_ABORTED;
    case PROGRESS_QUIET:
        quiet = true;
        return 0;
    default:
        return cancel && *cancel ? ERROR_REQUEST_ABORTED : 0;
    }
}

} // namespace

BOOL PcCopyFileChunked(const wchar_t* source, const wchar_t* destination, LPPROGRESS_ROUTINE progress, void* data,
                       BOOL* cancel, DWORD flags) {
    if (!source || !destination || !*source || !*destination) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FileHandle in;
    in.h = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                       nullptr);
    if (in.h == INVALID_HANDLE_VALUE) return FALSE;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(in.h, &info)) return FALSE;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const LONGLONG total = (static_cast<LONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;

    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kPcCopyChunkSize]);
    if (!buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (cancel && *cancel) {
        SetLastError(ERROR_REQUEST_ABORTED);
        return FALSE;
    }

    // The source holds no write share, so a destination that is the source
    // itself fails here before anything is truncated.
    FileHandle out;
    out.h = CreateFileW(destination, GENERIC_WRITE, 0, nullptr,
                        (flags & COPY_FILE_FAIL_IF_EXISTS) ? CREATE_NEW : CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (out.h == INVALID_HANDLE_VALUE) return FALSE;

    DWORD error = 0;
    bool quiet = false;
    LONGLONG done = 0;
    error = askRoutine(progress, data, quiet, total, 0, CALLBACK_STREAM_SWITCH, in.h, out.h, cancel);
    while (!error) {
        DWORD read = 0;
        if (!ReadFile(in.h, buffer.get(), kPcCopyChunkSize, &read, nullptr)) {
            error = GetLastError();
            break;
        }
        if (read == 0) break;
        DWORD written = 0;
        for (DWORD at = 0; at < read; at += written) {
            if (!WriteFile(out.h, buffer.get() + at, read - at, &written, nullptr) || written == 0) {
                error = GetLastError();
                if (!error) error = ERROR_WRITE_FAULT;
                break;
            }
        }
        if (error) break;
        done += read;
        error = askRoutine(progress, data, quiet, total, done, CALLBACK_CHUNK_FINISHED, in.h, out.h, cancel);
    }
    if (!error && !SetFileTime(out.h, nullptr, nullptr, &info.ftLastWriteTime)) error = GetLastError();
    out.close();
    if (error) {
        // No partial target is left behind.
        DeleteFileW(destination);
        SetLastError(error);
        return FALSE;
    }
    const DWORD kept = info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (kept) SetFileAttributesW(destination, kept);
    return TRUE;
}

// ---- the wait object ----

CPcCopyWaitObject::CPcCopyWaitObject(const std::wstring& sourcePath, CAsynchOperationExecutor* executor,
                                     CProgressCallbackFunctionBase* progress)
    : CCopyFileWaitObject(executor), m_strSourcePath(sourcePath), m_lResult(static_cast<LONG>(KVFM_E_FAILED)),
      m_pProgress(progress) {
    LOG_TRACE << "Creating CPcCopyWaitObject";
}

CPcCopyWaitObject::~CPcCopyWaitObject() { LOG_TRACE << "Deleting CPcCopyWaitObject"; }

void CPcCopyWaitObject::Reset() { CCopyFileWaitObject::Reset(); }

LONG CPcCopyWaitObject::GetResult() { return m_lResult; }

DWORD CALLBACK CPcCopyWaitObject::progressRoutine(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER,
                                                  LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE, LPVOID data) {
    auto* self = static_cast<CPcCopyWaitObject*>(data);
    if (!self || !self->m_pProgress) return PROGRESS_CONTINUE;
    const short percent =
        total.QuadPart > 0 ? static_cast<short>(transferred.QuadPart * 100 / total.QuadPart) : static_cast<short>(0);
    short cancel = 0;
    try {
        self->m_pProgress->Invoke(self->m_strSourcePath.c_str(), percent, &cancel);
    } catch (...) {
        LOG_ERROR << "Exception raised by the progress callback.";
    }
    if (cancel != 0) {
        LOG_DEBUG << "Cancel has been pressed";
        self->m_bCancelled = true;
        return PROGRESS_CANCEL;
    }
    return PROGRESS_CONTINUE;
}

void CPcCopyWaitObject::Run(const std::wstring& destination) {
    LOG_DEBUG << "Copying " << m_strSourcePath << " to " << destination;
    BOOL cancel = FALSE;
    m_bCancelled = false;
    if (PcCopyFileChunked(m_strSourcePath.c_str(), destination.c_str(), &CPcCopyWaitObject::progressRoutine, this,
                          &cancel, COPY_FILE_RESTARTABLE)) {
        m_lResult = static_cast<LONG>(KVFM_OK);
    } else {
        const DWORD error = GetLastError();
        if (m_bCancelled) {
            LOG_DEBUG << "Copy cancelled by the client.";
            m_lResult = static_cast<LONG>(kvFmResultFromHresult(HRESULT_FROM_WIN32(ERROR_CANCELLED)));
        } else {
            LOG_ERROR << "Failed to start copy operation.";
            LOG_ERROR << "GetLastError returned = ." << error;
            m_lResult = static_cast<LONG>(KVFM_E_FAILED);
        }
    }
    Signal();
}

// ---- the file ----

namespace {

std::wstring fromText(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); }

HRESULT copyToBstr(const std::wstring& s, BSTR* out) {
    if (s.empty()) {
        *out = nullptr;
        return S_OK;
    }
    *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

} // namespace

CPcFile::CPcFile(const wchar_t* virtualPath, const wchar_t* realPath, std::shared_ptr<CFolderMapping> mapping,
                 PcBindingCheck binding)
    : m_pMapping(std::move(mapping)), m_strVirtualPath(fromText(virtualPath)), m_strRealPath(fromText(realPath)),
      m_binding(std::move(binding)) {
    LOG_TRACE << "Creating CPcFile " << m_strRealPath;
}

CPcFile::~CPcFile() { LOG_TRACE << "Deleting CPcFile " << m_strRealPath; }

HRESULT PcBindingCheck::CheckItem(const std::wstring& realPath, const char* what) const {
    if (!Usable()) {
        LOG_ERROR << "The connection this " << what << " was opened under has ended.";
        return E_FAIL;
    }
    if (realPath.empty()) {
        LOG_ERROR << "No PC path for this " << what << ".";
        return E_FAIL;
    }
    if (!pcpath::Fits(realPath)) {
        LOG_ERROR << "Path too long: " << realPath.size() << " characters.";
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    }
    return S_OK;
}

HRESULT CPcFile::checkUsable() const { return m_binding.CheckItem(m_strRealPath, "file"); }

HRESULT CPcFile::PutAttributes(DWORD) { return E_NOTIMPL; }

HRESULT CPcFile::GetAttributes(DWORD* attributes) {
    LOG_TRACE << "Enter";
    if (!attributes) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    *attributes = GetFileAttributesW(m_strRealPath.c_str());
    return S_OK;
}

HRESULT CPcFile::getTime(FileTime which, DATE* out) {
    LOG_TRACE << "Enter";
    if (!out) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    com::UniqueHandle file(
        CreateFileW(m_strRealPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        LOG_ERROR << "Failed to get filehandle";
        LOG_ERROR << "GetLastError returned " << GetLastError();
        return E_FAIL;
    }
    FILETIME time;
    BOOL read = FALSE;
    const char* failure = "";
    switch (which) {
    case FileTime::Created:
        read = GetFileTime(file.Get(), &time, nullptr, nullptr);
        failure = "Failed to get the createdTime!";
        break;
    case FileTime::Accessed:
        read = GetFileTime(file.Get(), nullptr, &time, nullptr);
        failure = "Failed to get the accessedTime!";
        break;
    case FileTime::Changed:
        read = GetFileTime(file.Get(), nullptr, nullptr, &time);
        failure = "Failed to get the lastWriteTime!";
        break;
    }
    if (!read || !PcFileTimeToDate(time, out)) {
        LOG_ERROR << failure;
        LOG_ERROR << "GetLastError returned " << GetLastError();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CPcFile::GetCreated(DATE* created) { return getTime(FileTime::Created, created); }

HRESULT CPcFile::GetAccessed(DATE* accessed) { return getTime(FileTime::Accessed, accessed); }

HRESULT CPcFile::GetChanged(DATE* changed) { return getTime(FileTime::Changed, changed); }

HRESULT CPcFile::GetPath(BSTR* path) {
    LOG_TRACE << "Enter";
    if (!path) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (!m_binding.Usable()) {
        LOG_ERROR << "The connection this file was opened under has ended.";
        return E_FAIL;
    }
    return copyToBstr(m_strVirtualPath, path);
}

HRESULT CPcFile::GetForbiddenOps(DWORD* forbiddenOps) {
    LOG_TRACE << "Enter";
    if (!forbiddenOps) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (!m_binding.Usable() || !m_pMapping) {
        LOG_ERROR << "No mapping to ask for the forbidden operations.";
        return E_FAIL;
    }
    com::UniqueBstr path(m_strVirtualPath.c_str(), static_cast<UINT>(m_strVirtualPath.size()));
    if (path.IsNull()) return E_OUTOFMEMORY;
    BSTR raw = path.Get();
    *forbiddenOps = m_pMapping->getForbidFileOps(&raw);
    return S_OK;
}

HRESULT CPcFile::Rename(BSTR& newName) {
    LOG_TRACE << "Enter";
    if (!pcpath::IsSafeName(newName, SysStringLen(newName))) {
        LOG_ERROR << "Invalid argument. Not a name: " << newName;
        return E_INVALIDARG;
    }
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    try {
        std::wstring folder, name;
        if (!pcpath::Split(m_strRealPath, folder, name)) {
            LOG_ERROR << "Failed to extract path from the filename!";
            return E_FAIL;
        }
        const std::wstring target = folder + std::wstring(newName, SysStringLen(newName));
        if (!pcpath::Fits(target)) {
            LOG_ERROR << "New path too long: " << target.size() << " characters.";
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        }
        if (!MoveFileW(m_strRealPath.c_str(), target.c_str())) {
            LOG_ERROR << "Failed to rename the file!";
            LOG_ERROR << "GetLastError returned " << GetLastError();
            return E_FAIL;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CPcFile::Delete() {
    LOG_TRACE << "Enter";
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    if (!DeleteFileW(m_strRealPath.c_str())) {
        LOG_ERROR << "Failed to delete file!";
        LOG_ERROR << "GetLastError returned " << GetLastError();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CPcFile::GetSize(ULONG* size) {
    LOG_TRACE << "Enter";
    if (!size) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    com::UniqueHandle file(
        CreateFileW(m_strRealPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        LOG_ERROR << "Failed to get filehandle";
        LOG_ERROR << "GetLastError returned " << GetLastError();
        return E_FAIL;
    }
    *size = GetFileSize(file.Get(), nullptr);
    return S_OK;
}

HRESULT CPcFile::GetMIMEType(BSTR*) { return E_NOTIMPL; }

HRESULT CPcFile::CopyFileToPC(CAsynchOperationExecutor* executor, _bstr_t pcPath, CCopyFileWaitObject** waitObject,
                              CProgressCallbackFunctionBase* progress, CReplaceCallbackFunctionBase*) {
    LOG_TRACE << "Enter";
    if (!waitObject) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    try {
        const std::wstring destination(static_cast<const wchar_t*>(pcPath) ? static_cast<const wchar_t*>(pcPath)
                                                                            : L"");
        if (destination.empty()) {
            LOG_ERROR << "Invalid argument. Empty destination.";
            return E_INVALIDARG;
        }
        if (!pcpath::Fits(destination)) {
            LOG_ERROR << "Destination path too long: " << destination.size() << " characters.";
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        }
        auto* wait = new CPcCopyWaitObject(m_strRealPath, executor, progress);
        m_pLatestWait = wait;
        *waitObject = wait;
        LOG_DEBUG << "Copying file to " << destination;
        wait->Run(destination);
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory starting the copy.";
        return E_OUTOFMEMORY;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}
