// Application log files and the prefix texts of log statements.
//
// Log folder: %MORVANE_LOG_DIR%, else %LOCALAPPDATA%\Morvane\Logs, else
// %TEMP%\Morvane\Logs. The file name comes from the pattern: "QZ.Quendry.*"
// gives "QZ.Quendry.log".
#pragma once

#include <filesystem>
#include <string>

namespace Varnhold_logging {

// Registers the application under the root and, when readSettings is set,
// re-reads the level settings (unless a level was set in-process). False when
// no log folder can be determined.
bool initDefaultLogs(const std::string& applicationName, const std::string& rootName, bool readSettings);

// Creates the log folder and opens the application's log file for appending
// (truncated first when truncate is set). Each call is one registration,
// ended by unregisterApplication. Throws std::filesystem::filesystem_error when
// the folder cannot be created; returns false when the file cannot be opened.
bool createApplicationSpecificLogFile(const std::string& filePattern, const std::string& applicationName,
                                      const std::string& rootName, bool truncate);

// Ends one registration; the file is closed with the last. False when the
// application had none.
bool unregisterApplication(const std::string& applicationName, const std::string& rootName);

// Prefix pieces of a statement: "pid 1234 ", "tid 5678 ",
// ".\src\module\X.cpp(42) CClass::Method: ".
std::string getFormattedProcessId();
std::string getFormattedThreadId();
std::string location(const std::string& file, int line, const std::string& method);

// The folder that log files go to, and the file name a pattern gives.
std::wstring logFolder();
std::string logFileName(const std::string& filePattern);

// Test support: how often each function above was called since the last reset.
struct CallCounters {
    long initDefaultLogs;
    long createApplicationSpecificLogFile;
    long unregisterApplication;
    long getFormattedProcessId;
    long getFormattedThreadId;
    long location;
};
CallCounters callCounters();
void resetCallCounters();

// Test support: forced failures of the two set-up functions. A forced failure
// still counts as a call.
enum class CreateFailure { None, ReturnFalse, Throw };
void injectInitFailure(bool fail);
void injectCreateFailure(CreateFailure failure);

} // namespace Varnhold_logging
