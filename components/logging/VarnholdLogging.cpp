#include "vnlog/VarnholdLogging.h"

#include "vnlog/LogManager.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <system_error>

namespace Varnhold_logging {

namespace {

std::atomic<long> g_initCalls{0};
std::atomic<long> g_createCalls{0};
std::atomic<long> g_unregisterCalls{0};
std::atomic<long> g_processIdCalls{0};
std::atomic<long> g_threadIdCalls{0};
std::atomic<long> g_locationCalls{0};

std::atomic<bool> g_failInit{false};
std::atomic<int> g_createFailure{static_cast<int>(CreateFailure::None)};

std::wstring environmentValue(const wchar_t* name) {
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring value(needed, L'\0');
    const DWORD n = GetEnvironmentVariableW(name, &value[0], needed);
    value.resize(n < needed ? n : 0);
    return value;
}

std::wstring widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

[[noreturn]] void throwFolderError(const std::wstring& folder, DWORD error) {
    throw std::filesystem::filesystem_error("create_directory", std::filesystem::path(folder),
                                            std::error_code(static_cast<int>(error), std::system_category()));
}

// Creates every missing folder of the path, like a recursive mkdir.
void createFolderTree(std::wstring folder) {
    for (auto& c : folder)
        if (c == L'/') c = L'\\';
    while (folder.size() > 1 && folder.back() == L'\\') folder.pop_back();

    size_t start = 0;
    if (folder.size() >= 2 && folder[1] == L':') {
        start = 3;  // "C:\"
    } else if (folder.compare(0, 2, L"\\\\") == 0) {
        // \\server\share is not created.
        const size_t server = folder.find(L'\\', 2);
        const size_t share = server == std::wstring::npos ? std::wstring::npos : folder.find(L'\\', server + 1);
        start = share == std::wstring::npos ? folder.size() + 1 : share + 1;
    }
    for (size_t pos = start; pos <= folder.size();) {
        size_t next = folder.find(L'\\', pos);
        if (next == std::wstring::npos) next = folder.size();
        if (next > pos) {
            const std::wstring part = folder.substr(0, next);
            const DWORD attributes = GetFileAttributesW(part.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                if (!CreateDirectoryW(part.c_str(), nullptr)) {
                    const DWORD error = GetLastError();
                    if (error != ERROR_ALREADY_EXISTS) throwFolderError(part, error);
                }
            } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                throwFolderError(part, ERROR_ALREADY_EXISTS);
            }
        }
        pos = next + 1;
    }
}

} // namespace

std::wstring logFolder() {
    std::wstring folder = environmentValue(L"MORVANE_LOG_DIR");
    if (!folder.empty()) return folder;
    folder = environmentValue(L"LOCALAPPDATA");
    if (folder.empty()) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
            folder = path;
    }
    if (folder.empty()) {
        folder = environmentValue(L"TEMP");
        if (folder.empty()) {
            wchar_t path[MAX_PATH + 1] = {};
            const DWORD n = GetTempPathW(MAX_PATH + 1, path);
            if (n > 0 && n <= MAX_PATH) folder.assign(path, n);
        }
    }
    if (folder.empty()) return folder;
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    return folder + L"Morvane\\Logs";
}

std::string logFileName(const std::string& filePattern) {
    std::string name;
    for (char c : filePattern) {
        if (c == '*')
            name += "log";
        else
            name += c;
    }
    return name;
}

bool initDefaultLogs(const std::string& applicationName, const std::string& rootName, bool readSettings) {
    g_initCalls.fetch_add(1, std::memory_order_relaxed);
    if (g_failInit) return false;
    if (applicationName.empty() || rootName.empty()) return false;
    try {
        if (logFolder().empty()) return false;
        qzlog::default_log_manager();
        if (readSettings && !qzlog::level_pinned()) qzlog::reload_level_settings();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool createApplicationSpecificLogFile(const std::string& filePattern, const std::string& applicationName,
                                      const std::string& rootName, bool truncate) {
    g_createCalls.fetch_add(1, std::memory_order_relaxed);
    const std::wstring folder = logFolder();
    switch (static_cast<CreateFailure>(g_createFailure.load())) {
    case CreateFailure::ReturnFalse:
        return false;
    case CreateFailure::Throw:
        throwFolderError(folder, ERROR_ACCESS_DENIED);
    case CreateFailure::None:
        break;
    }
    if (folder.empty() || filePattern.empty()) return false;
    createFolderTree(folder);
    const std::wstring path = folder + L"\\" + widen(logFileName(filePattern));
    return qzlog::open_application_file(qzlog::default_log_manager(), rootName, applicationName, path, truncate);
}

bool unregisterApplication(const std::string& applicationName, const std::string& rootName) {
    g_unregisterCalls.fetch_add(1, std::memory_order_relaxed);
    return qzlog::close_application_file(qzlog::default_log_manager(), rootName, applicationName);
}

std::string getFormattedProcessId() {
    g_processIdCalls.fetch_add(1, std::memory_order_relaxed);
    return "pid " + std::to_string(GetCurrentProcessId()) + " ";
}

std::string getFormattedThreadId() {
    g_threadIdCalls.fetch_add(1, std::memory_order_relaxed);
    return "tid " + std::to_string(GetCurrentThreadId()) + " ";
}

std::string location(const std::string& file, int line, const std::string& method) {
    g_locationCalls.fetch_add(1, std::memory_order_relaxed);
    return file + "(" + std::to_string(line) + ") " + method + ": ";
}

CallCounters callCounters() {
    return CallCounters{g_initCalls.load(),      g_createCalls.load(),   g_unregisterCalls.load(),
                        g_processIdCalls.load(), g_threadIdCalls.load(), g_locationCalls.load()};
}

void resetCallCounters() {
    g_initCalls = 0;
    g_createCalls = 0;
    g_unregisterCalls = 0;
    g_processIdCalls = 0;
    g_threadIdCalls = 0;
    g_locationCalls = 0;
}

void injectInitFailure(bool fail) {
    g_failInit = fail;
}

void injectCreateFailure(CreateFailure failure) {
    g_createFailure = static_cast<int>(failure);
}

} // namespace Varnhold_logging
