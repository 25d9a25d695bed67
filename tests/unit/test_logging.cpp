#include "module/Logging.h"

#include <vnlog/LogManager.h>
#include <vnlog/VarnholdLogging.h>

#include <gtest/gtest.h>

#include "../support/log_capture.h"
#include "unit_fakes.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

namespace {

// Version resource of the test executable (TestVersion.rc).
const char* const kTestFileVersion = "9.8.7.6";
const char* const kTestProductVersion = "1.2.3.4";

std::string readFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct EnvironmentVariable {
    EnvironmentVariable(const wchar_t* n, const std::wstring& value) : name(n) { SetEnvironmentVariableW(n, value.c_str()); }
    ~EnvironmentVariable() { SetEnvironmentVariableW(name, nullptr); }
    const wchar_t* name;
};

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previousLevel = qzlog::max_level();
        Varnhold_logging::resetCallCounters();
        qzlog::reset_counters();
    }
    void TearDown() override {
        Varnhold_logging::injectInitFailure(false);
        Varnhold_logging::injectCreateFailure(Varnhold_logging::CreateFailure::None);
        qzlog::set_max_level(m_previousLevel);
    }

    int m_previousLevel = qzlog::level_event;
    unittest::ScratchFolder m_logDir;
    EnvironmentVariable m_logDirVariable{L"MORVANE_LOG_DIR", m_logDir.Path()};
};

std::string expectedBanner() {
    return std::string("[APPLICATION STARTED]\n\t_______________________________________\n\t"
                       "Started application:   Quendry\n\tFile version:          ") +
           kTestFileVersion + "\n\tProduct version:       " + kTestProductVersion +
           "\n\t_______________________________________\n\t";
}

} // namespace

TEST_F(LoggingTest, StartLogWritesTheVersionBannerToTheLogFileOnce) {
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
    EXPECT_NE(readFile(m_logDir.Path() + L"\\QZ.Quendry.log").find(expectedBanner() + "\r\n"), std::string::npos);
}

TEST_F(LoggingTest, StartFailuresReportOnStandardErrorOnly) {
    testlog::LogCapture captured;
    using Create = Varnhold_logging::CreateFailure;
    const std::string folder = std::filesystem::path(Varnhold_logging::logFolder()).string();
    const std::tuple<bool, Create, std::string> failures[] = {
        {true, Create::None, "Failed to initialize the default log."},
        {false, Create::ReturnFalse, "Failed to initialize the Quendry specific log."},
        {false, Create::Throw, "Exception caught! \nWho: create_directory\nWhat: filesystem error: create_directory: "
                               "Access denied [" + folder + "]\nError: 13\nNativeError: 5\n"},
    };
    for (const auto& [initFails, createFails, report] : failures) {
        Varnhold_logging::injectInitFailure(initFails);
        Varnhold_logging::injectCreateFailure(createFails);
        testing::internal::CaptureStderr();
        bool started = false;
        StartLog(started);
        std::string text = testing::internal::GetCapturedStderr();
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        EXPECT_EQ(text, report);
        EXPECT_FALSE(started);
    }
    EXPECT_EQ(Varnhold_logging::callCounters().createApplicationSpecificLogFile, 2);  // not after a failed init
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
    const wchar_t debug[] = L"debug";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, subkey.c_str(), L"Level", REG_SZ, debug, sizeof debug));
    EXPECT_EQ(qzlog::read_level_settings(variable, subkey), qzlog::level_debug);
    const DWORD fatal = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, subkey.c_str(), L"Level", REG_DWORD, &fatal, sizeof fatal);
    EXPECT_EQ(qzlog::read_level_settings(variable, subkey), qzlog::level_fatal);
    // The environment first; an unusable value leaves it to the registry.
    for (const auto& [value, level] : {std::pair{L"TRACE", qzlog::level_trace}, std::pair{L"LOUD", qzlog::level_fatal}}) {
        EnvironmentVariable env(variable.c_str(), value);
        EXPECT_EQ(qzlog::read_level_settings(variable, subkey), level);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, subkey.c_str());
    // The maximum level decides which level loggers are enabled.
    qzlog::set_max_level(qzlog::level_warning);
    EXPECT_TRUE(levelLogger(LOGLEVEL_WARNING).is_enabled(kLogPriority));
    EXPECT_FALSE(levelLogger(LOGLEVEL_EVENT).is_enabled(kLogPriority));
    EXPECT_TRUE(qzlog::level_pinned());
}
