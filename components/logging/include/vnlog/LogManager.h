// Named loggers, level filtering and the log line writer.
//
// A logger's level comes from the suffix of its name (".FATAL" 1 ... ".TRACE" 7);
// a logger is enabled when its level is at most the process-wide maximum level.
// The maximum level is read, when the manager is created, from the environment
// variable MORVANE_LOG_LEVEL, else from HKCU\Software\Morvane\Logging "Level"
// (REG_SZ or REG_DWORD), else it is EVENT. Accepted values: FATAL, ERROR,
// WARNING, EVENT, INFO, DEBUG, TRACE, OFF (any case) or 0-7 (0 = OFF).
#pragma once

#include <atomic>
#include <climits>
#include <functional>
#include <string>

namespace qzlog {

namespace detail {
// Until the settings are read every level passes the gate below, so the
// first statement of each level reaches the manager, which reads them.
constexpr int kLevelUnread = INT_MAX;
extern std::atomic<int> g_maxLevel;
}  // namespace detail

// The whole cost of a statement of a disabled level: one relaxed load and a
// compare. A true answer may still be a disabled logger (settings unread).
inline bool level_may_be_enabled(int level) {
    return level <= detail::g_maxLevel.load(std::memory_order_relaxed);
}

enum level_number {
    level_off = 0,
    level_fatal = 1,
    level_error,
    level_warning,
    level_event,
    level_info,
    level_debug,
    level_trace
};

class log_manager;

class logger {
public:
    // The level is taken from the name's suffix; a name without a known suffix
    // counts as EVENT.
    explicit logger(std::string name);
    ~logger();
    logger(const logger&) = delete;
    logger& operator=(const logger&) = delete;

    const std::string& name() const { return m_name; }
    int level() const { return m_level; }
    // All statements share one priority; filtering is by level only.
    bool is_enabled(int) const { return m_level <= detail::g_maxLevel.load(std::memory_order_relaxed); }

private:
    std::string m_name;
    int m_level;
};

// The process-wide manager; it owns the loggers until the module unloads.
log_manager& default_log_manager();

// The logger of that name, created on first request; null only when it cannot
// be created.
logger* find_log_by_name(log_manager& manager, const std::string& name);

// Writes one line: timestamp, level name, then the text, to the log file of the
// application the logger belongs to (when one is registered), and hands it to
// the capture callback. Thread-safe; one file write per line.
void write_msg(log_manager& manager, logger* target, const std::string& text, int priority);

// Level names and numbers: "TRACE" -> 7, "0".."7", "OFF" -> 0; false when unknown.
bool parse_level(const std::string& text, int& level);
const char* level_name(int level);

// Reads the maximum level: the environment variable, else the registry value
// "Level" under HKCU\<registry_subkey>, else EVENT.
int read_level_settings(const std::wstring& env_var = L"MORVANE_LOG_LEVEL",
                        const std::wstring& registry_subkey = L"Software\\Morvane\\Logging");

// In-process control, for tests and tools.
int max_level();
// Sets the maximum level; it stays until reload_level_settings().
void set_max_level(int level);
// Re-reads the settings and forgets a level set by set_max_level().
void reload_level_settings();
// True when set_max_level() decided the current level.
bool level_pinned();

struct captured_line {
    std::string logger_name;
    int level;
    int priority;
    std::string text;  // exactly as handed to write_msg
    std::string line;  // as written to the file, without the line end
};
using capture_callback = std::function<void(const captured_line&)>;
// Receives every written line, from whichever thread writes it.
void set_capture(capture_callback callback);
void clear_capture();

// Lines handed to write_msg since the last reset.
long lines_written();
void reset_counters();

// Log files of applications: "<folder>\<file>" opened for appending, shared by
// every logger whose name begins with "<root>.<application>.".
// Returns false when the file cannot be opened.
bool open_application_file(log_manager& manager, const std::string& root, const std::string& application,
                           const std::wstring& path, bool truncate);
// Closes the application's file when its last registration goes; false when it
// had none.
bool close_application_file(log_manager& manager, const std::string& root, const std::string& application);
// The path of the application's open file, empty when none.
std::wstring application_file_path(log_manager& manager, const std::string& root, const std::string& application);

} // namespace qzlog
