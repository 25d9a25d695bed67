// Log statements of the product. A statement of a level that is off costs one
// relaxed load and a compare, inlined: no logger lookup, no buffer, and
// nothing after the test is evaluated.
//
//   LOG_TRACE << "Enter";
//   LOG_DEBUG << "SetDevice called for object 0x" << this;   // pointers: hex, no "0x"
//   LOG_ERROR << "Unable to open " << widePath;              // wide text: ANSI code page
//   LOG_DEBUG << "returned=0x" << LogHex(hr);
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#include <vnlog/LogManager.h>

enum LogLevel {
    LOGLEVEL_FATAL = 1,
    LOGLEVEL_ERROR,
    LOGLEVEL_WARNING,
    LOGLEVEL_EVENT,
    LOGLEVEL_INFO,
    LOGLEVEL_DEBUG,
    LOGLEVEL_TRACE
};

// Priority of every statement of the product.
constexpr int kLogPriority = 1000;

// Module-wide names: root "QZ", application "Quendry".
extern const char* const g_logRootName;
extern const char* const g_logApplicationName;
// File and product version of the loaded module, "a.b.c.d"; empty until StartLog.
extern std::string g_moduleFileVersion;
extern std::string g_moduleProductVersion;

// The logger of a level, found by name on first use and kept for the module's life.
qzlog::logger& levelLogger(LogLevel level);

struct LogHexValue { uint64_t value; };
template <class T> LogHexValue LogHex(T v) { return LogHexValue{static_cast<uint64_t>(static_cast<typename std::make_unsigned<T>::type>(v))}; }

class LogMessage {
public:
    LogMessage(LogLevel level, const char* file, int line, const char* prettyFunction) : m_logger(nullptr) {
        if (__builtin_expect(qzlog::level_may_be_enabled(level), 0)) open(level, file, line, prettyFunction);
    }
    ~LogMessage() { if (m_buffer) finish(); }
    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;

    explicit operator bool() const { return m_buffer != nullptr; }

    template <class T> LogMessage& operator<<(const T& value) {
        if (m_buffer) {
            try { put(value); } catch (...) { m_failed = true; }
        }
        return *this;
    }

    // Qualified "Class::Method" taken from a compiler's pretty function name.
    static std::string methodName(const char* prettyFunction);

private:
    template <class T> void put(const T& value) { *m_buffer << value; }
    template <class T> void put(T* const& p) { putPointer(static_cast<const void*>(p)); }
    void put(const char* const& s) { *m_buffer << (s ? s : "(null)"); }
    void put(char* const& s) { *m_buffer << (s ? s : "(null)"); }
    void put(const wchar_t* const& s);
    void put(wchar_t* const& s) { const wchar_t* p = s; put(p); }
    template <size_t N> void put(const wchar_t (&s)[N]) { const wchar_t* p = s; put(p); }
    template <size_t N> void put(wchar_t (&s)[N]) { const wchar_t* p = s; put(p); }
    void put(const std::wstring& s);
    void put(const std::wstring_view& s);
    void put(const wchar_t& c) { put(std::wstring_view(&c, 1)); }
    void put(const LogHexValue& v);
    void putPointer(const void* p);
    // Kept out of the disabled path: the logger's own test, buffer and
    // prefix, and the final write.
    void open(LogLevel level, const char* file, int line, const char* prettyFunction);
    void begin(const char* file, int line, const char* prettyFunction);
    void finish() noexcept;

    qzlog::logger* m_logger;
    std::unique_ptr<std::ostringstream> m_buffer;
    bool m_failed = false;
};

// The level is tested before the statement's object exists, so a disabled
// statement is the load, the compare and a jump over the rest.
#define KVLOG(level)                                                                                 \
    if (!qzlog::level_may_be_enabled(level)) {}                                                      \
    else if (LogMessage kvlogMessage_{(level), __FILE__, __LINE__, __PRETTY_FUNCTION__}; !kvlogMessage_) {} \
    else kvlogMessage_

// Where a log line of a shared helper is attributed: the calling method.
struct LogSite {
    const char* file;
    int line;
    const char* function;
};
#define KV_LOG_SITE (LogSite{__FILE__, __LINE__, __PRETTY_FUNCTION__})

#define KVLOG_AT(level, site)                                                                            \
    if (!qzlog::level_may_be_enabled(level)) {}                                                          \
    else if (LogMessage kvlogMessage_{(level), (site).file, (site).line, (site).function}; !kvlogMessage_) {} \
    else kvlogMessage_

#define LOG_FATAL   KVLOG(LOGLEVEL_FATAL)
#define LOG_ERROR   KVLOG(LOGLEVEL_ERROR)
#define LOG_WARNING KVLOG(LOGLEVEL_WARNING)
#define LOG_EVENT   KVLOG(LOGLEVEL_EVENT)
#define LOG_INFO    KVLOG(LOGLEVEL_INFO)
#define LOG_DEBUG   KVLOG(LOGLEVEL_DEBUG)
#define LOG_TRACE   KVLOG(LOGLEVEL_TRACE)

// Starts the application's logging once per flag owner (the service); a second
// call only warns. Never throws.
void StartLog(bool& logStarted);
// Ends the application's logging when it was started and clears the flag.
void EndLog(bool& logStarted);
