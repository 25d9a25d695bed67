#include "stream/UniqueTempDir.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "module/Logging.h"

CUniqueTempDir::CUniqueTempDir() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    // A longer answer did not fit and would be cut short.
    if (length == 0 || length > MAX_PATH) {
        LOG_ERROR << "Unable to locate Windows temp folder";
        throw false;
    }

    // The system picks a name that is free and reserves it with an empty file.
    wchar_t name[MAX_PATH] = {};
    if (GetTempFileNameW(folder, L"", 0, name) == 0) {
        LOG_ERROR << "Generating temporary file in " << folder << " failed";
        throw false;
    }
    // Made before the folder, so that nothing can fail once the folder exists.
    std::wstring path(name);
    path += L'\\';
    if (!DeleteFileW(name)) {
        LOG_WARNING << "Delete temporary file " << name << " failed";
    }
    if (!CreateDirectoryW(name, nullptr)) {
        LOG_ERROR << "Could not create temporary folder " << name;
        throw false;
    }
    m_path = std::move(path);
}

CUniqueTempDir::~CUniqueTempDir() {
    if (m_path.empty()) return;
    LOG_DEBUG << "Removing temp folder " << m_path;
    try {
        // The folder without its separator, doubly terminated as the shell wants.
        std::vector<wchar_t> from(m_path.begin(), m_path.end() - 1);
        from.push_back(L'\0');
        from.push_back(L'\0');
        SHFILEOPSTRUCTW operation = {};
        operation.hwnd = nullptr;
        operation.wFunc = FO_DELETE;
        operation.pFrom = from.data();
        // Runs on a worker thread inside a client's process: never any UI.
        operation.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
        if (SHFileOperationW(&operation) != 0) {
            LOG_ERROR << "Could not delete temp folder " << m_path;
        }
    } catch (...) {
        LOG_ERROR << "Could not delete temp folder " << m_path;
    }
}
