#include "module/Logging.h"

#include <vnlog/LogManager.h>
#include <vnlog/VarnholdLogging.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Version resource of the test executable (TestVersion.rc).
const char* const kTestFileVersion = "9.8.7.6";
const char* const kTestProductVersion = "1.2.3.4";
const char* const kThisFile = ".\\tests\\unit\\test_logging.cpp";

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
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

class CapturedLines {
public:
    CapturedLines() {
        qzlog::set_capture([this](const qzlog::captured_line& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~CapturedLines() { qzlog::clear_capture(); }
    std::vector<qzlog::captured_line> lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<qzlog::captured_line> m_lines;
};

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

class EnvironmentVariable {
public:
    EnvironmentVariable(const wchar_t* name, const std::wstring& value) : m_name(name) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~EnvironmentVariable() { SetEnvironmentVariableW(m_name, nullptr); }

private:
    const wchar_t* m_name;
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
    static std::string prefix(int line) {
        return "pid " + std::to_string(GetCurrentProcessId()) + " tid " + std::to_string(GetCurrentThreadId()) + " " +
               kThisFile + "(" + std::to_string(line) + ") ";
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

void expectPrefixCalls(long expected) {
    const auto calls = Varnhold_logging::callCounters();
    EXPECT_EQ(calls.getFormattedProcessId, expected);
    EXPECT_EQ(calls.getFormattedThreadId, expected);
    EXPECT_EQ(calls.location, expected);
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct Throwing {};
std::ostream& operator<<(std::ostream&, const Throwing&) { throw std::runtime_error("formatting failed"); }

} // namespace

TEST_F(LoggingTest, DisabledLevelFormatsAndEvaluatesNothing) {
    qzlog::set_max_level(qzlog::level_event);
    CapturedLines captured;
    int evaluated = 0;
    auto piece = [&evaluated] { ++evaluated; return "piece"; };

    LOG_TRACE << "Enter" << piece();
    LOG_DEBUG << "step " << piece();
    LOG_INFO << piece();

    EXPECT_EQ(evaluated, 0);
    expectPrefixCalls(0);
    EXPECT_TRUE(captured.lines().empty());

    // The boundary level itself is written, once, with one call of each.
    LOG_EVENT << piece();
    EXPECT_EQ(evaluated, 1);
    expectPrefixCalls(1);
    EXPECT_EQ(captured.lines().size(), 1u);

    qzlog::set_max_level(qzlog::level_off);
    LOG_FATAL << piece();
    EXPECT_EQ(evaluated, 1);
}

TEST_F(LoggingTest, LevelLoggersAreNamedAfterTheirLevel) {
    const std::pair<LogLevel, const char*> names[] = {
        {LOGLEVEL_FATAL, "QZ.Quendry.FATAL"}, {LOGLEVEL_ERROR, "QZ.Quendry.ERROR"},
        {LOGLEVEL_WARNING, "QZ.Quendry.WARNING"}, {LOGLEVEL_EVENT, "QZ.Quendry.EVENT"},
        {LOGLEVEL_INFO, "QZ.Quendry.INFO"}, {LOGLEVEL_DEBUG, "QZ.Quendry.DEBUG"},
        {LOGLEVEL_TRACE, "QZ.Quendry.TRACE"}};
    for (const auto& entry : names) {
        EXPECT_EQ(levelLogger(entry.first).name(), entry.second);
        EXPECT_EQ(levelLogger(entry.first).level(), entry.first);
        EXPECT_EQ(&levelLogger(entry.first), qzlog::find_log_by_name(qzlog::default_log_manager(), entry.second));
    }
}

TEST_F(LoggingTest, EnabledLineHasPrefixThenMessage) {
    qzlog::set_max_level(qzlog::level_trace);
    CapturedLines captured;
    LOG_INFO << "value " << 42 << " of " << std::string("items"); const int line = __LINE__;

    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text,
              prefix(line) + "LoggingTest_EnabledLineHasPrefixThenMessage_Test::TestBody: value 42 of items");
    EXPECT_EQ(lines[0].logger_name, "QZ.Quendry.INFO");
    EXPECT_EQ(lines[0].priority, 1000);
    // The file line: timestamp and level name, then the statement's text.
    EXPECT_TRUE(endsWith(lines[0].line, " INFO " + lines[0].text)) << lines[0].line;
}

TEST_F(LoggingTest, PiecesAreFormattedForTheLog) {
    qzlog::set_max_level(qzlog::level_trace);
    CapturedLines captured;
    const std::string method = "LoggingTest_PiecesAreFormattedForTheLog_Test::TestBody: ";

    void* object = reinterpret_cast<void*>(static_cast<uintptr_t>(0x12AB));
    LOG_DEBUG << "object 0x" << object;
    LOG_DEBUG << "hr=0x" << LogHex(static_cast<HRESULT>(0x80004005)) << " all=0x" << LogHex(-1);
    const char* missing = nullptr;
    LOG_DEBUG << "name " << missing;

    const wchar_t* wide = L"caf\u00e9";
    wchar_t buffer[] = L"buffer";
    BSTR bstr = SysAllocString(L"bstr text");
    LOG_DEBUG << wide << "|" << L"literal" << "|" << std::wstring(L"string") << "|" << buffer << "|" << bstr << "|"
              << L'w' << "|" << static_cast<const wchar_t*>(nullptr);
    SysFreeString(bstr);

    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 4u);
    auto message = [&](size_t i) {
        const size_t at = lines[i].text.find(method);
        return at == std::string::npos ? std::string("<no method>") : lines[i].text.substr(at + method.size());
    };
    EXPECT_EQ(message(0), "object 0x00000000000012AB");
    EXPECT_EQ(message(1), "hr=0x80004005 all=0xFFFFFFFF");
    EXPECT_EQ(message(2), "name (null)");
    const std::string cafe = GetACP() == 1252 ? "caf\xE9" : message(3).substr(0, message(3).find('|'));
    EXPECT_EQ(message(3), cafe + "|literal|string|buffer|bstr text|w|(null)");
}

TEST_F(LoggingTest, MethodNameIsClassAndMethod) {
    const std::pair<const char*, const char*> cases[] = {
        {"virtual HRESULT CFMService::SetDevice(IUnknown*, BSTR)", "CFMService::SetDevice"},
        {"std::string CFMFolder::name() const", "CFMFolder::name"},
        {"void SymbianConnector::CSymbianFile::GetSize(long int*)", "CSymbianFile::GetSize"},
        {"HRESULT kvFmResultFromHresult(HRESULT)", "kvFmResultFromHresult"},
        {"CUniqueTempDir::~CUniqueTempDir()", "CUniqueTempDir::~CUniqueTempDir"},
        {"static HRESULT CComObject<T>::Create(T**) [with T = CFMFolder]", "CComObject<T>::Create"},
        {"std::map<int, int> Outer<std::pair<int, int> >::get(int)", "Outer<std::pair<int, int> >::get"},
        {"CFMFolder::Run()::<lambda(int)>", "CFMFolder::Run"},
        {"bool CPath::operator()(const wchar_t*) const", "CPath::operator()"},
        {"CPath& CPath::operator=(const CPath&)", "CPath::operator="},
        {"CPath::operator std::wstring() const", "CPath::operator std::wstring"},
    };
    for (const auto& c : cases) EXPECT_EQ(LogMessage::methodName(c.first), c.second) << c.first;
}

TEST_F(LoggingTest, FailuresWhileFormattingOrWritingAreSwallowed) {
    qzlog::set_max_level(qzlog::level_trace);
    {
        CapturedLines captured;
        EXPECT_NO_THROW(LOG_ERROR << "before " << Throwing() << " after");
        EXPECT_TRUE(captured.lines().empty());
    }
    qzlog::set_capture([](const qzlog::captured_line&) { throw std::runtime_error("writer failed"); });
    EXPECT_NO_THROW(LOG_ERROR << "written to a failing writer");
    qzlog::clear_capture();
    EXPECT_EQ(qzlog::lines_written(), 1);
}

TEST_F(LoggingTest, StartLogBannerSecondStartAndEndLog) {
    const std::wstring dir = useTempLogDir();
    qzlog::set_max_level(qzlog::level_event);
    CapturedLines captured;
    bool started = false;

    StartLog(started);
    ASSERT_TRUE(started);
    EXPECT_EQ(g_moduleFileVersion, kTestFileVersion);
    EXPECT_EQ(g_moduleProductVersion, kTestProductVersion);
    auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, expectedBanner());
    EXPECT_EQ(lines[0].logger_name, "QZ.Quendry.EVENT");
    const std::wstring file = dir + L"\\QZ.Quendry.log";
    EXPECT_EQ(qzlog::application_file_path(qzlog::default_log_manager(), "QZ", "Quendry"), file);

    // A second start only warns, through a normal statement.
    Varnhold_logging::resetCallCounters();
    StartLog(started);
    lines = captured.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].logger_name, "QZ.Quendry.WARNING");
    EXPECT_EQ(lines[1].text.rfind("pid ", 0), 0u);
    EXPECT_TRUE(endsWith(lines[1].text, "StartLog: Log already initialized...")) << lines[1].text;
    EXPECT_EQ(Varnhold_logging::callCounters().initDefaultLogs, 0);
    EXPECT_EQ(Varnhold_logging::callCounters().createApplicationSpecificLogFile, 0);

    EndLog(started);
    EXPECT_FALSE(started);
    EXPECT_EQ(Varnhold_logging::callCounters().unregisterApplication, 1);
    EXPECT_TRUE(qzlog::application_file_path(qzlog::default_log_manager(), "QZ", "Quendry").empty());
    EXPECT_NE(readFile(file).find(expectedBanner() + "\r\n"), std::string::npos);

    EndLog(started);  // not started: nothing to unregister
    EXPECT_EQ(Varnhold_logging::callCounters().unregisterApplication, 1);
}

TEST_F(LoggingTest, StartFailuresReportOnStandardErrorOnly) {
    useTempLogDir();
    qzlog::set_max_level(qzlog::level_trace);
    CapturedLines captured;
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
    EXPECT_TRUE(captured.lines().empty());
}

TEST_F(LoggingTest, UncreatableLogFolderIsReportedAsException) {
    // A file where the log folder should be.
    const std::wstring blocker = uniqueTempPath(L"morvane-blocker");
    std::ofstream(std::filesystem::path(blocker)) << "x";
    EnvironmentVariable dir(L"MORVANE_LOG_DIR", blocker + L"\\logs");
    StandardErrorCapture err;
    bool started = false;

    StartLog(started);

    const std::string text = err.text();
    DeleteFileW(blocker.c_str());
    EXPECT_FALSE(started);
    EXPECT_EQ(text.rfind("Exception caught! \nWho: create_directory\nWhat: filesystem error: ", 0), 0u) << text;
    EXPECT_TRUE(endsWith(text, "\nError: 17\nNativeError: 183\n")) << text;
}

TEST_F(LoggingTest, ConcurrentStatementsWriteWholeLines) {
    const std::wstring dir = useTempLogDir();
    qzlog::set_max_level(qzlog::level_debug);
    bool started = false;
    StartLog(started);
    ASSERT_TRUE(started);

    const int kThreads = 4, kPerThread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) LOG_DEBUG << "worker " << t << " line " << i << " end";
        });
    for (auto& thread : threads) thread.join();
    EndLog(started);

    std::istringstream file(readFile(dir + L"\\QZ.Quendry.log"));
    std::set<std::pair<int, int>> seen;
    std::string line;
    int statementLines = 0;
    while (std::getline(file, line)) {
        if (line.find(" DEBUG pid ") == std::string::npos) continue;
        ++statementLines;
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r') << line;
        int t = -1, i = -1;
        const size_t at = line.find("TestBody: worker ");
        ASSERT_NE(at, std::string::npos) << line;
        char end[8] = {};
        ASSERT_EQ(std::sscanf(line.c_str() + at, "TestBody: worker %d line %d %3s", &t, &i, end), 3) << line;
        EXPECT_STREQ(end, "end");
        seen.insert({t, i});
    }
    EXPECT_EQ(statementLines, kThreads * kPerThread);
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kPerThread));
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
