#include "module/Logging.h"

#include <vnlog/LogManager.h>
#include <vnlog/VarnholdLogging.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

const char* const g_logRootName = "QZ";
const char* const g_logApplicationName = "Quendry";
std::string g_moduleFileVersion;
std::string g_moduleProductVersion;

namespace {

const char* levelSuffix(LogLevel level) {
    switch (level) {
    case LOGLEVEL_FATAL: return ".FATAL";
    case LOGLEVEL_ERROR: return ".ERROR";
    case LOGLEVEL_WARNING: return ".WARNING";
    case LOGLEVEL_EVENT: return ".EVENT";
    case LOGLEVEL_INFO: return ".INFO";
    case LOGLEVEL_DEBUG: return ".DEBUG";
    case LOGLEVEL_TRACE: return ".TRACE";
    }
    return ".TRACE";
}

std::atomic<qzlog::logger*> g_levelLoggers[LOGLEVEL_TRACE + 1];

std::string toAnsi(const wchar_t* s, size_t length) {
    if (!s || length == 0) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

// The build gives ".\src/module/X.cpp"; the log shows Windows separators.
std::string sourceFile(const char* file) {
    std::string name = file ? file : "";
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

void writeStandardError(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

std::string versionText(DWORD high, DWORD low) {
    wchar_t text[64] = {};
    std::swprintf(text, 64, L"%d.%d.%d.%d", static_cast<int>(HIWORD(high)), static_cast<int>(LOWORD(high)),
                  static_cast<int>(HIWORD(low)), static_cast<int>(LOWORD(low)));
    return toAnsi(text, std::wcslen(text));
}

// Version of the module that contains this code: Morvane.dll in the product,
// the executable when linked statically into a test.
void readModuleVersion() {
    g_moduleFileVersion.clear();
    g_moduleProductVersion.clear();
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&readModuleVersion), &module))
        return;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return;
    g_moduleFileVersion = versionText(info->dwFileVersionMS, info->dwFileVersionLS);
    g_moduleProductVersion = versionText(info->dwProductVersionMS, info->dwProductVersionLS);
}

// The operation that failed, from "filesystem error: <operation>: <reason> [path]".
std::string operationName(const std::filesystem::filesystem_error& e) {
    std::string text = e.what();
    const std::string prefix = "filesystem error: ";
    if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    const size_t end = text.find(": ");
    return end == std::string::npos ? text : text.substr(0, end);
}

std::string filesystemErrorReport(const std::filesystem::filesystem_error& e) {
    return "Exception caught! \nWho: " + operationName(e) + "\nWhat: " + e.what() +
           "\nError: " + std::to_string(e.code().default_error_condition().value()) +
           "\nNativeError: " + std::to_string(e.code().value()) + "\n";
}

std::string startBanner() {
    return std::string("[APPLICATION STARTED]\n\t_______________________________________\n\tStarted application:   ") +
           g_logApplicationName + "\n\tFile version:          " + g_moduleFileVersion +
           "\n\tProduct version:       " + g_moduleProductVersion +
           "\n\t_______________________________________\n\t";
}

} // namespace

namespace {

__attribute__((noinline)) qzlog::logger* findLevelLogger(int index) {
    // A race only finds the same logger twice: the manager keeps one per name.
    qzlog::logger* found = qzlog::find_log_by_name(
        qzlog::default_log_manager(),
        std::string(g_logRootName) + "." + g_logApplicationName + levelSuffix(static_cast<LogLevel>(index)));
    if (!found) throw std::bad_alloc();
    g_levelLoggers[index].store(found, std::memory_order_release);
    return found;
}

inline qzlog::logger* cachedLevelLogger(LogLevel level) {
    const int index = (level >= LOGLEVEL_FATAL && level <= LOGLEVEL_TRACE) ? level : LOGLEVEL_TRACE;
    qzlog::logger* found = g_levelLoggers[index].load(std::memory_order_acquire);
    return found ? found : findLevelLogger(index);
}

} // namespace

qzlog::logger& levelLogger(LogLevel level) {
    return *cachedLevelLogger(level);
}

__attribute__((noinline)) void LogMessage::open(LogLevel level, const char* file, int line,
                                                const char* prettyFunction) {
    try {
        m_logger = cachedLevelLogger(level);
    } catch (...) {
        return;
    }
    if (m_logger->is_enabled(kLogPriority)) begin(file, line, prettyFunction);
}

__attribute__((noinline)) void LogMessage::begin(const char* file, int line, const char* prettyFunction) {
    try {
        m_buffer.reset(new std::ostringstream);
        *m_buffer << Varnhold_logging::getFormattedProcessId() << Varnhold_logging::getFormattedThreadId()
                  << Varnhold_logging::location(sourceFile(file), line, methodName(prettyFunction));
    } catch (...) {
        m_failed = true;
    }
}

void LogMessage::finish() noexcept {
    if (m_failed) return;
    try {
        if (m_buffer->fail()) return;
        qzlog::write_msg(qzlog::default_log_manager(), m_logger, m_buffer->str(), kLogPriority);
    } catch (...) {
    }
}

std::string LogMessage::methodName(const char* prettyFunction) {
    if (!prettyFunction) return std::string();
    std::string text = prettyFunction;

    // "... [with T = int]" follows template functions.
    const size_t with = text.find(" [with ");
    if (with != std::string::npos) text.erase(with);
    // A lambda is named after the function that holds it.
    const size_t lambda = text.find("::<lambda");
    if (lambda != std::string::npos) text.erase(lambda);

    // The parameter list: the parentheses that close last, after the qualifiers.
    size_t close = text.rfind(')');
    size_t nameEnd = text.size();
    if (close != std::string::npos) {
        int depth = 0;
        size_t i = close + 1;
        while (i-- > 0) {
            if (text[i] == ')') ++depth;
            else if (text[i] == '(' && --depth == 0) break;
        }
        if (i != static_cast<size_t>(-1)) nameEnd = i;
    }
    std::string head = text.substr(0, nameEnd);

    // Operators carry spaces and brackets of their own; start from the keyword.
    size_t scanFrom = head.size();
    const size_t op = head.rfind("operator");
    if (op != std::string::npos && (op == 0 || head[op - 1] == ':' || head[op - 1] == ' ')) scanFrom = op;

    size_t start = scanFrom;
    int angle = 0;
    while (start > 0) {
        const char c = head[start - 1];
        if (c == '>') ++angle;
        else if (c == '<') --angle;
        else if (c == ' ' && angle == 0) break;
        --start;
    }
    const std::string qualified = head.substr(start);

    // Keep the last two parts: class and method.
    std::vector<size_t> separators;
    angle = 0;
    for (size_t i = 0; i + 1 < qualified.size() && i < scanFrom - start; ++i) {
        const char c = qualified[i];
        if (c == '<') ++angle;
        else if (c == '>') --angle;
        else if (c == ':' && qualified[i + 1] == ':' && angle == 0) {
            separators.push_back(i);
            ++i;
        }
    }
    if (separators.size() < 2) return qualified;
    return qualified.substr(separators[separators.size() - 2] + 2);
}

void LogMessage::put(const wchar_t* const& s) {
    if (!s) {
        *m_buffer << "(null)";
        return;
    }
    *m_buffer << toAnsi(s, std::wcslen(s));
}

void LogMessage::put(const std::wstring& s) {
    *m_buffer << toAnsi(s.data(), s.size());
}

void LogMessage::put(const std::wstring_view& s) {
    *m_buffer << toAnsi(s.data(), s.size());
}

void LogMessage::put(const LogHexValue& v) {
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(v.value));
    *m_buffer << text;
}

void LogMessage::putPointer(const void* p) {
    char text[24];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    *m_buffer << text;
}

void StartLog(bool& logStarted) {
    try {
        if (logStarted) {
            LOG_WARNING << "Log already initialized...";
            return;
        }
        readModuleVersion();

        if (!Varnhold_logging::initDefaultLogs(g_logApplicationName, g_logRootName, true)) {
            writeStandardError("Failed to initialize the default log.");
            return;
        }
        const std::string pattern = std::string(g_logRootName) + "." + g_logApplicationName + ".*";
        try {
            if (!Varnhold_logging::createApplicationSpecificLogFile(pattern, g_logApplicationName, g_logRootName,
                                                                   false)) {
                writeStandardError("Failed to initialize the Quendry specific log.");
                return;
            }
        } catch (const std::filesystem::filesystem_error& e) {
            writeStandardError(filesystemErrorReport(e));
            return;
        }

        // The banner may fail like any statement; the log is started all the same,
        // so that the end of the service unregisters what was created.
        try {
            qzlog::logger& event = levelLogger(LOGLEVEL_EVENT);
            if (event.is_enabled(kLogPriority))
                qzlog::write_msg(qzlog::default_log_manager(), &event, startBanner(), kLogPriority);
        } catch (...) {
        }
        logStarted = true;
    } catch (...) {
    }
}

void EndLog(bool& logStarted) {
    if (!logStarted) return;
    try {
        Varnhold_logging::unregisterApplication(g_logApplicationName, g_logRootName);
    } catch (...) {
    }
    logStarted = false;
}
