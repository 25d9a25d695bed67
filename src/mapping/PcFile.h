// Memory card files served through the PC file system, and the wait object of
// a copy between the card and the PC. Such a copy runs to its end inside the
// storage call, chunk by chunk with progress reports, and has signalled its
// wait object before the call returns.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>

#include "connector/StorageObject.h"
#include "connector/SymbianConnectorImpl.h"

class CFolderMapping;
class CProgressCallbackFunctionBase;

// CopyFileExW's contract (progress routine per chunk, overwrite unless
// COPY_FILE_FAIL_IF_EXISTS, PROGRESS_CANCEL/PROGRESS_STOP or *cancel end it
// with ERROR_REQUEST_ABORTED and no target left behind), done by hand because
// some platforms never call the routine nor look at the cancel flag.
BOOL PcCopyFileChunked(const wchar_t* source, const wchar_t* destination, LPPROGRESS_ROUTINE progress, void* data,
                       BOOL* cancel, DWORD flags);
constexpr DWORD kPcCopyChunkSize = 256 * 1024;

namespace pcpath {
// A name a client may give to an item of the card: one non-empty component,
// no separator, no ':' or wildcard or control character, not made of dots
// and spaces only (which Windows would read as "." or "..").
bool IsSafeName(const wchar_t* name, size_t length);
// The folder (with its trailing backslash) and the name of a path, trailing
// backslashes ignored; false for a root or a path without a folder.
bool Split(const std::wstring& path, std::wstring& folder, std::wstring& name);
// Whether the path fits a MAX_PATH buffer with its terminator.
inline bool Fits(const std::wstring& path) { return path.size() < MAX_PATH; }
} // namespace pcpath

// Whether a storage object made under a binding may still use what it holds.
class PcBindingCheck {
public:
    PcBindingCheck() = default; // not tied to a binding: always usable
    PcBindingCheck(BindingGuard guard) : m_guard(std::move(guard)), m_bBound(true) {}
    bool Usable() const { return !m_bBound || m_guard.Valid(); }

    // Whether a card item with this PC path may be used now; logs why not.
    // what: "file" or "folder", for the log line.
    HRESULT CheckItem(const std::wstring& realPath, const char* what) const;

private:
    BindingGuard m_guard;
    bool m_bBound = false;
};

class CPcCopyWaitObject : public CCopyFileWaitObject {
public:
    CPcCopyWaitObject(const std::wstring& sourcePath, CAsynchOperationExecutor* executor,
                      CProgressCallbackFunctionBase* progress);
    ~CPcCopyWaitObject() override;
    void Reset() override;
    LONG GetResult() override;

    // Copies the source to the destination on the calling thread, stores the
    // result (0, KVFM_ABORTED when the progress callback cancelled, else
    // KVFM_E_FAILED) and signals.
    void Run(const std::wstring& destination);

private:
    static DWORD CALLBACK progressRoutine(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER streamSize,
                                          LARGE_INTEGER streamTransferred, DWORD stream, DWORD reason,
                                          HANDLE source, HANDLE destination, LPVOID data);

    std::wstring m_strSourcePath;
    LONG m_lResult;
    CProgressCallbackFunctionBase* m_pProgress; // not owned
    bool m_bCancelled = false;
};

class CPcFile : public CFile {
public:
    // Paths are copied; the mapping is the one that relates them. Made under
    // a binding (SymbianConnector::CurrentBinding()), it fails with E_FAIL
    // once that binding has ended.
    CPcFile(const wchar_t* virtualPath, const wchar_t* realPath, std::shared_ptr<CFolderMapping> mapping,
            PcBindingCheck binding = PcBindingCheck());
    ~CPcFile() override;

    HRESULT PutAttributes(DWORD attributes) override;
    HRESULT GetAttributes(DWORD* attributes) override;
    HRESULT GetCreated(DATE* created) override;
    HRESULT GetAccessed(DATE* accessed) override;
    HRESULT GetChanged(DATE* changed) override;
    HRESULT GetPath(BSTR* path) override;
    HRESULT GetForbiddenOps(DWORD* forbiddenOps) override;
    // The file keeps its place and these paths; only its name changes.
    HRESULT Rename(BSTR& newName) override;
    HRESULT Delete() override;
    HRESULT GetSize(ULONG* size) override;
    HRESULT GetMIMEType(BSTR* mimeType) override;
    HRESULT CopyFileToPC(CAsynchOperationExecutor* executor, _bstr_t pcPath, CCopyFileWaitObject** waitObject,
                         CProgressCallbackFunctionBase* progress, CReplaceCallbackFunctionBase* replace) override;

    const std::wstring& GetRealPath() const { return m_strRealPath; }

private:
    enum class FileTime { Created, Accessed, Changed };
    HRESULT getTime(FileTime which, DATE* out);
    // E_FAIL when the binding has ended, 0x800700CE when the path is too long.
    HRESULT checkUsable() const;

    std::shared_ptr<CFolderMapping> m_pMapping;
    std::wstring m_strVirtualPath;
    std::wstring m_strRealPath;
    // Only remembered: the caller owns it and may have deleted it.
    CCopyFileWaitObject* m_pLatestWait = nullptr;
    PcBindingCheck m_binding;
};

// FILETIME to DATE through local time; false when a step fails.
bool PcFileTimeToDate(const FILETIME& fileTime, DATE* date);
