#include "operations/FolderListPC.h"

#include <cwchar>

#include "module/Logging.h"

namespace {

bool isDotEntry(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

} // namespace

CFolderListPC::CFolderListPC() {
    m_szSearchPattern[0] = L'\0';
    LOG_TRACE << "CFolderListPC created";
}

CFolderListPC::~CFolderListPC() {
    closeSearch(false);
    closeSearch(true);
    LOG_TRACE << "CFolderListPC destructed";
}

void CFolderListPC::closeSearch(bool folders) {
    HANDLE& search = folders ? m_hFolderSearch : m_hFileSearch;
    if (search && search != INVALID_HANDLE_VALUE) FindClose(search);
    search = nullptr;
    (folders ? m_bFirstFolderCall : m_bFirstFileCall) = true;
}

void CFolderListPC::Restart() {
    closeSearch(false);
    closeSearch(true);
}

HRESULT CFolderListPC::GetFolderList(const wchar_t* path, DWORD* errorCode) {
    LOG_TRACE << "Enter";
    if (!path || !errorCode) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    LOG_DEBUG << "path = " << path;
    // A new folder: nothing of an earlier enumeration may carry over.
    closeSearch(false);
    closeSearch(true);
    m_szSearchPattern[0] = L'\0';

    const size_t length = wcslen(path);
    const bool endsWithSeparator = length > 0 && (path[length - 1] == L'\\' || path[length - 1] == L'/');
    const wchar_t* suffix = endsWithSeparator ? L"*" : L"\\*";
    if (length == 0 || length + wcslen(suffix) >= MAX_PATH) {
        *errorCode = length == 0 ? ERROR_PATH_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE;
        LOG_ERROR << "Path does not fit the search pattern, length " << length;
        return length == 0 ? E_FAIL : HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    }
    wchar_t pattern[MAX_PATH];
    wmemcpy(pattern, path, length);
    wcscpy(pattern + length, suffix);

    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A drive root without entries has no "." either: an empty folder.
        if (error != ERROR_FILE_NOT_FOUND) {
            *errorCode = error;
            LOG_ERROR << "Invalid file handle. Error is " << LogHex(error);
            return E_FAIL;
        }
    } else {
        FindClose(search);
    }
    wcscpy(m_szSearchPattern, pattern);
    LOG_TRACE << "Exit";
    return S_OK;
}

HRESULT CFolderListPC::GetNextFolderName(BSTR* name, DWORD* errorCode) { return getNext(true, name, errorCode); }

HRESULT CFolderListPC::GetNextFileName(BSTR* name, DWORD* errorCode) { return getNext(false, name, errorCode); }

HRESULT CFolderListPC::getNext(bool folders, BSTR* name, DWORD* errorCode) {
    LOG_TRACE << "Enter";
    if (!name || !errorCode) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (!m_szSearchPattern[0]) {
        *errorCode = ERROR_INVALID_HANDLE;
        LOG_ERROR << "No folder list: GetFolderList has not succeeded.";
        return E_FAIL;
    }
    HANDLE& search = folders ? m_hFolderSearch : m_hFileSearch;
    bool& firstCall = folders ? m_bFirstFolderCall : m_bFirstFileCall;
    WIN32_FIND_DATAW data;
    for (;;) {
        if (firstCall) {
            HANDLE found = FindFirstFileW(m_szSearchPattern, &data);
            if (found == INVALID_HANDLE_VALUE) {
                const DWORD error = GetLastError();
                if (error == ERROR_FILE_NOT_FOUND) {
                    LOG_DEBUG << (folders ? "No more subfolders in this folder" : "No more files in this folder");
                    return S_FALSE;
                }
                *errorCode = error;
                LOG_ERROR << "Invalid file handle. Error is " << error;
                return E_FAIL;
            }
            search = found;
            firstCall = false;
        } else if (!FindNextFileW(search, &data)) {
            const DWORD error = GetLastError();
            closeSearch(folders);
            if (error == ERROR_NO_MORE_FILES) {
                LOG_DEBUG << (folders ? "No more subfolders in this folder" : "No more files in this folder");
                return S_FALSE;
            }
            *errorCode = error;
            LOG_ERROR << "FindNextFile error. Error is " << error;
            return E_FAIL;
        }

        const bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folders) {
            if (!isDirectory) {
                LOG_DEBUG << "File...";
                continue;
            }
            if (isDotEntry(data.cFileName)) {
                LOG_DEBUG << (data.cFileName[1] ? "The .. folder" : "The . folder");
                continue;
            }
            LOG_DEBUG << "Found a folder...";
            LOG_DEBUG << "Found folder: " << data.cFileName;
        } else {
            if (isDirectory) {
                LOG_DEBUG << "Directory...";
                continue;
            }
            LOG_DEBUG << "Found a file...";
            LOG_DEBUG << "Found file: " << data.cFileName;
        }
        data.cFileName[MAX_PATH - 1] = L'\0';
        BSTR copy = SysAllocString(data.cFileName);
        if (!copy) {
            LOG_ERROR << "Out of memory for the name.";
            return E_OUTOFMEMORY;
        }
        *name = copy;
        return S_OK;
    }
}
