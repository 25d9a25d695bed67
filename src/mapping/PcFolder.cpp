#include "mapping/PcFolder.h"

#include <shlwapi.h>

#include <new>

#include "com/ComUtil.h"
#include "mapping/FolderMapping.h"
#include "module/Logging.h"

namespace {

std::wstring fromText(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); }

std::wstring withTrailingSeparator(const wchar_t* s) {
    std::wstring path = fromText(s);
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
}

// A drive root keeps its backslash: "M:" alone names the drive's current folder.
std::wstring withoutTrailingSeparator(const std::wstring& path) {
    if (PathIsRootW(path.c_str())) return path;
    size_t end = path.size();
    while (end > 0 && path[end - 1] == L'\\') --end;
    return path.substr(0, end);
}

HRESULT unmap(CFolderMapping& mapping, const std::wstring& realPath, com::UniqueBstr& virtualPath) {
    com::UniqueBstr real(realPath.c_str(), static_cast<UINT>(realPath.size()));
    if (real.IsNull()) return E_OUTOFMEMORY;
    BSTR raw = real.Get();
    HRESULT hr = mapping.UnMapPath(&raw, virtualPath.Receive());
    if (SUCCEEDED(hr) && virtualPath.IsNull()) hr = E_FAIL;
    return hr;
}

} // namespace

// ---- listing through a folder list ----

HRESULT PcListFiles(CFolderListPC& list, const std::wstring& realPath, const std::shared_ptr<CFolderMapping>& mapping,
                    const PcBindingCheck& binding, std::list<CFile*>& files) {
    if (!mapping) {
        LOG_ERROR << "No mapping for the PC folder.";
        return E_FAIL;
    }
    try {
        for (;;) {
            com::UniqueBstr name;
            DWORD error = 0;
            const HRESULT hr = list.GetNextFileName(name.Receive(), &error);
            if (hr == S_FALSE) return S_OK;
            if (FAILED(hr)) {
                LOG_ERROR << "Failed to get folder list. Error=" << error;
                list.Restart();
                return hr;
            }
            LOG_DEBUG << "PC file found=" << name.c_str();
            const std::wstring real = realPath + name.c_str();
            com::UniqueBstr virtualPath;
            if (FAILED(unmap(*mapping, real, virtualPath))) {
                LOG_ERROR << "Failed to unMap filepath.";
                continue;
            }
            std::unique_ptr<CFile> file(new CPcFile(virtualPath.c_str(), real.c_str(), mapping, binding));
            files.push_back(file.get());
            file.release();
        }
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory listing the PC folder.";
        list.Restart();
        return E_OUTOFMEMORY;
    }
}

HRESULT PcListFolders(CFolderListPC& list, const std::wstring& realPath,
                      const std::shared_ptr<CFolderMapping>& mapping, const PcBindingCheck& binding,
                      std::list<CFolder*>& folders) {
    if (!mapping) {
        LOG_ERROR << "No mapping for the PC folder.";
        return E_FAIL;
    }
    try {
        for (;;) {
            com::UniqueBstr name;
            DWORD error = 0;
            const HRESULT hr = list.GetNextFolderName(name.Receive(), &error);
            if (hr == S_FALSE) return S_OK;
            if (FAILED(hr)) {
                LOG_ERROR << "Failed to get folder list. Error=" << error;
                list.Restart();
                return hr;
            }
            LOG_DEBUG << "PC folder found=" << name.c_str();
            const std::wstring real = realPath + name.c_str() + L"\\";
            com::UniqueBstr virtualPath;
            if (FAILED(unmap(*mapping, real, virtualPath))) {
                LOG_ERROR << "Failed to unMap folderpath.";
                continue;
            }
            std::unique_ptr<CFolder> folder(new CPcFolder(virtualPath.c_str(), real.c_str(), mapping, binding));
            folders.push_back(folder.get());
            folder.release();
        }
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory listing the PC folder.";
        list.Restart();
        return E_OUTOFMEMORY;
    }
}

// ---- the folder ----

CPcFolder::CPcFolder(const wchar_t* virtualPath, const wchar_t* realPath, std::shared_ptr<CFolderMapping> mapping,
                     PcBindingCheck binding)
    : m_strVirtualPath(fromText(virtualPath)), m_strRealPath(withTrailingSeparator(realPath)),
      m_pMapping(std::move(mapping)), m_binding(std::move(binding)) {
    LOG_TRACE << "Creating CPcFolder " << m_strRealPath;
    m_pFolderList.reset(new (std::nothrow) CFolderListPC());
    if (!m_pFolderList) {
        LOG_ERROR << "Failed to create folder list.";
        return;
    }
    DWORD error = 0;
    if (FAILED(m_pFolderList->GetFolderList(m_strRealPath.c_str(), &error))) {
        LOG_ERROR << "Failed to get folder list. Error=" << error;
        m_pFolderList.reset();
    }
}

CPcFolder::~CPcFolder() { LOG_TRACE << "Deleting CPcFolder " << m_strRealPath; }

HRESULT CPcFolder::checkUsable() const { return m_binding.CheckItem(m_strRealPath, "folder"); }

HRESULT CPcFolder::PutAttributes(DWORD) { return E_NOTIMPL; }

HRESULT CPcFolder::GetAttributes(DWORD* attributes) {
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

HRESULT CPcFolder::getTime(FolderTime which, DATE* out) {
    LOG_TRACE << "Enter";
    if (!out) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    const char* failure = which == FolderTime::Created    ? "Failed to get created time for PC folder."
                          : which == FolderTime::Accessed ? "Failed to get accessed time for PC folder."
                                                          : "Failed to get changed time for PC folder.";
    FILETIME created, accessed, changed;
    bool found = false;
    try {
        const std::wstring path = withoutTrailingSeparator(m_strRealPath);
        if (PathIsRootW(path.c_str())) {
            // A search finds no entry for a drive root itself.
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
                created = data.ftCreationTime;
                accessed = data.ftLastAccessTime;
                changed = data.ftLastWriteTime;
                found = true;
            }
        } else {
            WIN32_FIND_DATAW data;
            HANDLE search = FindFirstFileW(path.c_str(), &data);
            if (search != INVALID_HANDLE_VALUE) {
                FindClose(search);
                created = data.ftCreationTime;
                accessed = data.ftLastAccessTime;
                changed = data.ftLastWriteTime;
                found = true;
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const FILETIME& time = which == FolderTime::Created ? created : which == FolderTime::Accessed ? accessed : changed;
    if (!found || !PcFileTimeToDate(time, out)) {
        LOG_ERROR << failure;
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CPcFolder::GetCreated(DATE* created) { return getTime(FolderTime::Created, created); }

HRESULT CPcFolder::GetAccessed(DATE* accessed) { return getTime(FolderTime::Accessed, accessed); }

HRESULT CPcFolder::GetChanged(DATE* changed) { return getTime(FolderTime::Changed, changed); }

HRESULT CPcFolder::GetPath(BSTR* path) {
    LOG_TRACE << "Enter";
    if (!path) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (!m_binding.Usable()) {
        LOG_ERROR << "The connection this folder was opened under has ended.";
        return E_FAIL;
    }
    if (m_strVirtualPath.empty()) {
        *path = nullptr;
        return S_OK;
    }
    *path = SysAllocStringLen(m_strVirtualPath.data(), static_cast<UINT>(m_strVirtualPath.size()));
    return *path ? S_OK : E_OUTOFMEMORY;
}

HRESULT CPcFolder::Rename(BSTR& newName) {
    LOG_TRACE << "Enter";
    if (!pcpath::IsSafeName(newName, SysStringLen(newName))) {
        LOG_ERROR << "Invalid argument. Not a name: " << newName;
        return E_INVALIDARG;
    }
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    try {
        std::wstring parent, name;
        if (!pcpath::Split(m_strRealPath, parent, name)) {
            LOG_ERROR << "Failed to extract path from the foldername!";
            return E_FAIL;
        }
        const std::wstring target = parent + std::wstring(newName, SysStringLen(newName));
        // The new folder path gets its trailing backslash too.
        if (!pcpath::Fits(target + L"\\")) {
            LOG_ERROR << "New path too long: " << target.size() << " characters.";
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        }
        if (!MoveFileW(withoutTrailingSeparator(m_strRealPath).c_str(), target.c_str())) {
            LOG_ERROR << "Failed to rename the folder!";
            LOG_ERROR << "GetLastError returned " << GetLastError();
            return E_FAIL;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CPcFolder::Delete() {
    LOG_TRACE << "Enter";
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    try {
        const std::wstring path = withoutTrailingSeparator(m_strRealPath);
        if (PathIsRootW(path.c_str()) || !RemoveDirectoryW(path.c_str())) {
            LOG_ERROR << "Failed to delete folder!";
            LOG_ERROR << "GetLastError returned " << GetLastError();
            return E_FAIL;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CPcFolder::NewFolder(BSTR& name) {
    LOG_TRACE << "Enter";
    if (!pcpath::IsSafeName(name, SysStringLen(name))) {
        LOG_ERROR << "Invalid argument. Not a name: " << name;
        return E_INVALIDARG;
    }
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    try {
        const std::wstring target = m_strRealPath + std::wstring(name, SysStringLen(name));
        if (!pcpath::Fits(target + L"\\")) {
            LOG_ERROR << "New path too long: " << target.size() << " characters.";
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        }
        if (!CreateDirectoryW(target.c_str(), nullptr)) {
            LOG_ERROR << "Failed to create folder!";
            LOG_ERROR << "GetLastError returned " << GetLastError();
            return E_FAIL;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CPcFolder::GetCFiles(std::list<CFile*>& files) {
    LOG_TRACE << "Enter";
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    if (!m_pFolderList) {
        LOG_DEBUG << "No folder list created.";
        return S_OK;
    }
    // A listing that fails part-way still hands over what it listed.
    if (FAILED(PcListFiles(*m_pFolderList, m_strRealPath, m_pMapping, m_binding, files))) {
        LOG_ERROR << "Files of " << m_strRealPath << " listed in part.";
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CPcFolder::GetCFolders(std::list<CFolder*>& folders) {
    LOG_TRACE << "Enter";
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    if (!m_pFolderList) {
        LOG_DEBUG << "No folder list created.";
        return S_OK;
    }
    // A listing that fails part-way still hands over what it listed, and the
    // mapped folders.
    if (FAILED(PcListFolders(*m_pFolderList, m_strRealPath, m_pMapping, m_binding, folders))) {
        LOG_ERROR << "Folders of " << m_strRealPath << " listed in part.";
    }
    hr = appendMappedFolders(folders);
    LOG_TRACE << "Exit";
    return hr;
}

HRESULT CPcFolder::appendMappedFolders(std::list<CFolder*>& folders) {
    try {
        com::UniqueBstr virtualPath(m_strVirtualPath.c_str(), static_cast<UINT>(m_strVirtualPath.size()));
        if (virtualPath.IsNull()) return E_OUTOFMEMORY;
        BSTR raw = virtualPath.Get();
        StringList mapped;
        const HRESULT hr = m_pMapping->getMappedFolders(&raw, mapped);
        if (FAILED(hr)) {
            LOG_ERROR << "Unable to get mapped folders.";
            return hr;
        }
        for (const std::wstring& real : mapped) {
            const std::wstring bare = withoutTrailingSeparator(real);
            WIN32_FIND_DATAW data;
            HANDLE search = pcpath::Fits(bare) ? FindFirstFileW(bare.c_str(), &data) : INVALID_HANDLE_VALUE;
            if (search == INVALID_HANDLE_VALUE) {
                LOG_DEBUG << "Folder not found = " << real;
                continue;
            }
            FindClose(search);
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                LOG_DEBUG << "Folder not found = " << real;
                continue;
            }
            com::UniqueBstr mappedVirtual;
            if (FAILED(unmap(*m_pMapping, real, mappedVirtual))) {
                LOG_ERROR << "Failed to map device path = " << real;
                continue;
            }
            std::unique_ptr<CFolder> folder(new CPcFolder(mappedVirtual.c_str(), real.c_str(), m_pMapping, m_binding));
            folders.push_back(folder.get());
            folder.release();
        }
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory listing the mapped folders.";
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CPcFolder::CopyFileFromPC(CAsynchOperationExecutor* executor, _bstr_t pcPath,
                                  CCopyFileWaitObject** waitObject, CProgressCallbackFunctionBase* progress,
                                  CReplaceCallbackFunctionBase* replace) {
    LOG_TRACE << "Enter";
    if (!executor || !waitObject || !progress || !replace) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    HRESULT hr = checkUsable();
    if (FAILED(hr)) return hr;
    try {
        const wchar_t* text = static_cast<const wchar_t*>(pcPath);
        const std::wstring source(text ? text : L"");
        if (!pcpath::Fits(source)) {
            LOG_ERROR << "Source path too long: " << source.size() << " characters.";
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        }
        std::wstring folder, name;
        if (!pcpath::Split(source, folder, name)) {
            LOG_ERROR << "Failed to extract filename from the sourcefile!";
            return E_FAIL;
        }
        // The name lands in this folder: it must not lead anywhere else.
        if (!pcpath::IsSafeName(name.c_str(), name.size())) {
            LOG_ERROR << "Invalid argument. Not a file name: " << name;
            return E_INVALIDARG;
        }
        const std::wstring destination = m_strRealPath + name;
        if (!pcpath::Fits(destination)) {
            LOG_ERROR << "Destination path too long: " << destination.size() << " characters.";
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        }
        auto* wait = new CPcCopyWaitObject(source, executor, progress);
        m_pLatestWait = wait;
        *waitObject = wait;
        LOG_DEBUG << "Copying file " << source << " from PC to folder " << m_strRealPath;
        wait->Run(destination);
    } catch (const std::bad_alloc&) {
        LOG_ERROR << "Out of memory starting the copy.";
        return E_OUTOFMEMORY;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CPcFolder::GetForbiddenOps(DWORD* forbiddenOps) {
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
    *forbiddenOps = m_pMapping->getForbidFolderOps(&raw);
    return S_OK;
}
