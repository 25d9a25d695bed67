#include "vnlog/LogManager.h"

#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace qzlog {

namespace detail {
std::atomic<int> g_maxLevel{kLevelUnread};
}  // namespace detail

using detail::g_maxLevel;

namespace {

class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(HANDLE h) : m_h(h) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { if (valid()) CloseHandle(m_h); }
    bool valid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_h; }

private:
    HANDLE m_h = nullptr;
};

struct ApplicationFile {
    std::wstring path;
    std::unique_ptr<FileHandle> file;
    int registrations = 0;
};

const char* const kLevelNames[] = {"OFF", "FATAL", "ERROR", "WARNING", "EVENT", "INFO", "DEBUG", "TRACE"};

std::atomic<bool> g_pinned{false};
std::atomic<long> g_linesWritten{0};

int levelFromName(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        int level = 0;
        const std::string suffix = name.substr(dot + 1);
        // Only level words count as suffixes; "QZ.7" is no level logger.
        if (!suffix.empty() && !(suffix[0] >= '0' && suffix[0] <= '9') && parse_level(suffix, level) &&
            level != level_off)
            return level;
    }
    return level_event;
}

std::string timestamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
    return buf;
}

std::string applicationKey(const std::string& root, const std::string& application) {
    return root + "." + application + ".";
}

std::wstring environmentValue(const std::wstring& name) {
    wchar_t buf[256];
    const DWORD n = GetEnvironmentVariableW(name.c_str(), buf, 256);
    if (n == 0 || n >= 256) return std::wstring();
    return std::wstring(buf, n);
}

std::string narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += (c < 128) ? static_cast<char>(c) : '?';
    return out;
}

int settingsLevel() {
    int level = g_maxLevel.load(std::memory_order_relaxed);
    if (level == detail::kLevelUnread) {
        level = read_level_settings();
        int expected = detail::kLevelUnread;
        if (!g_maxLevel.compare_exchange_strong(expected, level)) level = expected;
    }
    return level;
}

} // namespace

class log_manager {
public:
    ~log_manager() = default;

    logger* find(const std::string& name) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_loggers.find(name);
        if (it == m_loggers.end()) it = m_loggers.emplace(name, std::make_unique<logger>(name)).first;
        return it->second.get();
    }

    void write(const logger& target, const std::string& text, int priority) {
        const std::string line = timestamp() + " " + level_name(target.level()) + " " + text;
        capture_callback capture;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto& entry : m_files) {
                if (target.name().compare(0, entry.first.size(), entry.first) != 0) continue;
                if (entry.second.file && entry.second.file->valid()) {
                    const std::string record = line + "\r\n";
                    DWORD written = 0;
                    WriteFile(entry.second.file->get(), record.data(), static_cast<DWORD>(record.size()), &written,
                              nullptr);
                }
                break;
            }
            capture = m_capture;
        }
        g_linesWritten.fetch_add(1, std::memory_order_relaxed);
        if (capture) capture(captured_line{target.name(), target.level(), priority, text, line});
    }

    bool open(const std::string& key, const std::wstring& path, bool truncate) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ApplicationFile& app = m_files[key];
        if (!app.file || !app.file->valid() || app.path != path || truncate) {
            // FILE_APPEND_DATA makes every write land at the current end, even
            // when other processes append to the same file.
            auto file = std::make_unique<FileHandle>(
                CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file->valid()) {
                if (app.registrations == 0) m_files.erase(key);
                return false;
            }
            app.file = std::move(file);
            app.path = path;
        }
        ++app.registrations;
        return true;
    }

    bool close(const std::string& key) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_files.find(key);
        if (it == m_files.end()) return false;
        if (--it->second.registrations <= 0) m_files.erase(it);
        return true;
    }

    std::wstring path(const std::string& key) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_files.find(key);
        return it == m_files.end() ? std::wstring() : it->second.path;
    }

    void setCapture(capture_callback callback) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_capture = std::move(callback);
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::unique_ptr<logger>> m_loggers;
    std::map<std::string, ApplicationFile> m_files;
    capture_callback m_capture;
};

logger::logger(std::string name) : m_name(std::move(name)), m_level(levelFromName(m_name)) {}

logger::~logger() = default;

log_manager& default_log_manager() {
    // Owns the loggers until the module unloads; the level settings are read
    // before the first logger can be asked.
    static log_manager manager;
    static const int settingsRead = settingsLevel();
    (void)settingsRead;
    return manager;
}

logger* find_log_by_name(log_manager& manager, const std::string& name) {
    try {
        return manager.find(name);
    } catch (...) {
        return nullptr;
    }
}

void write_msg(log_manager& manager, logger* target, const std::string& text, int priority) {
    if (!target) return;
    manager.write(*target, text, priority);
}

bool parse_level(const std::string& text, int& level) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '7') {
        level = text[0] - '0';
        return true;
    }
    for (int i = 0; i <= level_trace; ++i) {
        const char* name = kLevelNames[i];
        size_t n = 0;
        while (name[n] && n < text.size() && std::toupper(static_cast<unsigned char>(text[n])) == name[n]) ++n;
        if (!name[n] && n == text.size()) {
            level = i;
            return true;
        }
    }
    return false;
}

const char* level_name(int level) {
    return (level >= 0 && level <= level_trace) ? kLevelNames[level] : "?";
}

int read_level_settings(const std::wstring& env_var, const std::wstring& registry_subkey) {
    int level = 0;
    const std::wstring fromEnvironment = environmentValue(env_var);
    if (!fromEnvironment.empty() && parse_level(narrow(fromEnvironment), level)) return level;

    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, registry_subkey.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        BYTE data[128] = {};
        DWORD type = 0;
        DWORD size = sizeof data - sizeof(wchar_t);
        const LONG rc = RegQueryValueExW(key, L"Level", nullptr, &type, data, &size);
        RegCloseKey(key);
        if (rc == ERROR_SUCCESS) {
            if (type == REG_DWORD && size == sizeof(DWORD)) {
                DWORD value = 0;
                memcpy(&value, data, sizeof value);
                if (value <= level_trace) return static_cast<int>(value);
            } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
                std::wstring text(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
                while (!text.empty() && text.back() == L'\0') text.pop_back();
                if (parse_level(narrow(text), level)) return level;
            }
        }
    }
    return level_event;
}

int max_level() {
    default_log_manager();
    return g_maxLevel.load(std::memory_order_relaxed);
}

void set_max_level(int level) {
    default_log_manager();
    g_pinned = true;
    g_maxLevel = level;
}

void reload_level_settings() {
    default_log_manager();
    g_pinned = false;
    g_maxLevel = read_level_settings();
}

bool level_pinned() {
    return g_pinned;
}

void set_capture(capture_callback callback) {
    default_log_manager().setCapture(std::move(callback));
}

void clear_capture() {
    default_log_manager().setCapture(nullptr);
}

long lines_written() {
    return g_linesWritten;
}

void reset_counters() {
    g_linesWritten = 0;
}

bool open_application_file(log_manager& manager, const std::string& root, const std::string& application,
                           const std::wstring& path, bool truncate) {
    try {
        return manager.open(applicationKey(root, application), path, truncate);
    } catch (...) {
        return false;
    }
}

bool close_application_file(log_manager& manager, const std::string& root, const std::string& application) {
    try {
        return manager.close(applicationKey(root, application));
    } catch (...) {
        return false;
    }
}

std::wstring application_file_path(log_manager& manager, const std::string& root, const std::string& application) {
    return manager.path(applicationKey(root, application));
}

} // namespace qzlog
