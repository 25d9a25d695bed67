#include "module/Logging.h"

#include <vnlog/LogManager.h>
#include <vnlog/VarnholdLogging.h>

#include <gtest/gtest.h>

#include "../support/log_capture.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

// Version resource of the test executable (TestVersion.rc).
const char* const kTestFileVersion = "9.8.7.6";
const char* const kTestProductVersion = "1.2.3.4";

std::wstring uniqueTempPath(const wchar_t* stem) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + stem + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
}

std::string readFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Redirects the CRT's standard error to a file until text() is called.
class StandardErrorCapture {
public:
    StandardErrorCapture() : m_path(uniqueTempPath(L"morvane-stderr")) {
        std::fflush(stderr);
        m_saved = _dup(_fileno(stderr));
        const int fd = _wopen(m_path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
        _dup2(fd, _fileno(stderr));
        _close(fd);
    }
    ~StandardErrorCapture() { restore(); DeleteFileW(m_path.c_str()); }
    std::string text() {
        restore();
        return withoutCarriageReturns(readFile(m_path));
    }

private:
    void restore() {
        if (m_saved < 0) return;
        std::fflush(stderr);
        _dup2(m_saved, _fileno(stderr));
        _close(m_saved);
        m_saved = -1;
    }
    std::wstring m_path;
    int m_saved = -1;
};

struct EnvironmentVariable {
    EnvironmentVariable(const wchar_t* n, const std::wstring& value) : name(n) { SetEnvironmentVariableW(n, value.c_str()); }
    ~EnvironmentVariable() { SetEnvironmentVariableW(name, nullptr); }
    const wchar_t* name;
};

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previousLevel = qzlog::max_level();
        Varnhold_logging::injectInitFailure(false);
        Varnhold_logging::injectCreateFailure(Varnhold_logging::CreateFailure::None);
        Varnhold_logging::resetCallCounters();
        qzlog::reset_counters();
    }
    void TearDown() override {
        Varnhold_logging::injectInitFailure(false);
        Varnhold_logging::injectCreateFailure(Varnhold_logging::CreateFailure::None);
        qzlog::set_max_level(m_previousLevel);
        std::error_code ignored;
        if (!m_logDir.empty()) std::filesystem::remove_all(m_logDir, ignored);
    }
    // A private log folder for this test case.
    std::wstring useTempLogDir() {
        m_logDir = uniqueTempPath(L"morvane-logs");
        m_logDirVariable.reset(new EnvironmentVariable(L"MORVANE_LOG_DIR", m_logDir));
        return m_logDir;
    }

    int m_previousLevel = qzlog::level_event;
    std::wstring m_logDir;
    std::unique_ptr<EnvironmentVariable> m_logDirVariable;
};

std::string expectedBanner() {
    return std::string("[APPLICATION STARTED]\n\t_______________________________________\n\t"
                       "Started application:   Quendry\n\tFile version:          ") +
           kTestFileVersion + "\n\tProduct version:       " + kTestProductVersion +
           "\n\t_______________________________________\n\t";
}

} // namespace

TEST_F(LoggingTest, StartLogWritesTheVersionBannerToTheLogFileOnce) {
    const std::wstring dir = useTempLogDir();
    testlog::LogCapture captured;
    qzlog::set_max_level(qzlog::level_event);
    bool started = false;
    StartLog(started);
    ASSERT_TRUE(started);
    StartLog(started);  // a second start starts nothing again
    EXPECT_EQ(Varnhold_logging::callCounters().initDefaultLogs, 1);
    const auto lines = captured.Lines();
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, expectedBanner());
    EndLog(started);
    EXPECT_FALSE(started);
    EXPECT_NE(readFile(dir + L"\\QZ.Quendry.log").find(expectedBanner() + "\r\n"), std::string::npos);
}

TEST_F(LoggingTest, StartFailuresReportOnStandardErrorOnly) {
    useTempLogDir();
    testlog::LogCapture captured;
    {
        Varnhold_logging::injectInitFailure(true);
        StandardErrorCapture err;
        bool started = false;
        StartLog(started);
        EXPECT_EQ(err.text(), "Failed to initialize the default log.");
        EXPECT_FALSE(started);
        EXPECT_EQ(Varnhold_logging::callCounters().createApplicationSpecificLogFile, 0);
        Varnhold_logging::injectInitFailure(false);
    }
    {
        Varnhold_logging::injectCreateFailure(Varnhold_logging::CreateFailure::ReturnFalse);
        StandardErrorCapture err;
        bool started = false;
        StartLog(started);
        EXPECT_EQ(err.text(), "Failed to initialize the Quendry specific log.");
        EXPECT_FALSE(started);
    }
    {
        Varnhold_logging::injectCreateFailure(Varnhold_logging::CreateFailure::Throw);
        StandardErrorCapture err;
        bool started = false;
        StartLog(started);
        const std::string what = "filesystem error: create_directory: Access denied [" +
                                 std::filesystem::path(Varnhold_logging::logFolder()).string() + "]";
        EXPECT_EQ(err.text(), "Exception caught! \nWho: create_directory\nWhat: " + what +
                                  "\nError: 13\nNativeError: 5\n");
        EXPECT_FALSE(started);
    }
    // No banner and no statement: the reports went to standard error alone.
    EXPECT_TRUE(captured.Lines().empty());
}

TEST_F(LoggingTest, LevelSettingsComeFromEnvironmentThenRegistry) {
    int level = -1;
    const std::pair<const char*, int> words[] = {{"FATAL", 1}, {"error", 2}, {"Warning", 3}, {"EVENT", 4},
                                                 {"info", 5},  {"DEBUG", 6}, {"trace", 7},   {"OFF", 0},
                                                 {"0", 0},     {"7", 7}};
    for (const auto& w : words) {
        EXPECT_TRUE(qzlog::parse_level(w.first, level)) << w.first;
        EXPECT_EQ(level, w.second) << w.first;
    }
    for (const char* bad : {"", "8", "-1", "TRACES", "LOUD"}) EXPECT_FALSE(qzlog::parse_level(bad, level)) << bad;

    // Names of this process only, so parallel test processes do not meet.
    const std::wstring id = std::to_wstring(GetCurrentProcessId());
    const std::wstring variable = L"MORVANE_TEST_LEVEL_" + id;
    const std::wstring subkey = L"Software\\MorvaneTest\\Logging" + id;
    EXPECT_EQ(qzlog::read_level_settings(variable, subkey), qzlog::level_event);

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t debug[] = L"debug";
    RegSetValueExW(key, L"Level", 0, REG_SZ, reinterpret_cast<const BYTE*>(debug), sizeof debug);
    EXPECT_EQ(qzlog::read_level_settings(variable, subkey), qzlog::level_debug);
    const DWORD fatal = 1;
    RegSetValueExW(key, L"Level", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&fatal), sizeof fatal);
    EXPECT_EQ(qzlog::read_level_settings(variable, subkey), qzlog::level_fatal);
    {
        EnvironmentVariable env(variable.c_str(), L"TRACE");
        EXPECT_EQ(qzlog::read_level_settings(variable, subkey), qzlog::level_trace);
    }
    {
        EnvironmentVariable env(variable.c_str(), L"LOUD");  // unusable: the registry decides
        EXPECT_EQ(qzlog::read_level_settings(variable, subkey), qzlog::level_fatal);
    }
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\MorvaneTest\\Logging" + id).c_str());

    // The maximum level decides which level loggers are enabled.
    qzlog::set_max_level(qzlog::level_warning);
    EXPECT_TRUE(levelLogger(LOGLEVEL_WARNING).is_enabled(kLogPriority));
    EXPECT_FALSE(levelLogger(LOGLEVEL_EVENT).is_enabled(kLogPriority));
    EXPECT_TRUE(qzlog::level_pinned());
}
