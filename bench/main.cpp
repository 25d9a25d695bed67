// Cost of log statements, as ratios to the same loop without them.
#include "BenchHarness.h"

#include "module/Logging.h"

#include <vnlog/LogManager.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

// The work both loops share; the asm keeps the compiler from folding it.
inline long step(long sum, long i) {
    sum += i ^ (sum >> 3);
    asm volatile("" : "+r"(sum));
    return sum;
}

void plainLoop(long n) {
    long sum = 0;
    for (long i = 0; i < n; ++i) sum = step(sum, i);
    bench::keep(sum);
}

void traceLoop(long n) {
    long sum = 0;
    for (long i = 0; i < n; ++i) {
        LOG_TRACE << "value " << i;
        sum = step(sum, i);
    }
    bench::keep(sum);
}

std::wstring tempLogDir() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + L"morvane-bench-" + std::to_wstring(GetCurrentProcessId());
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 7;

    const std::wstring logDir = tempLogDir();
    SetEnvironmentVariableW(L"MORVANE_LOG_DIR", logDir.c_str());
    bool logStarted = false;

    bench::Harness harness(repetitions);
    bench::Entry disabled{"disabled LOG_TRACE statement vs the loop without it", 2000000, plainLoop, [](long n) {
                              qzlog::set_max_level(qzlog::level_event);
                              traceLoop(n);
                          }};
    disabled.goal = 1.5;
    harness.add(disabled);
    harness.add({"enabled LOG_TRACE to the log file vs the loop", 5000, plainLoop, [&logStarted](long n) {
                     if (!logStarted) StartLog(logStarted);
                     qzlog::set_max_level(qzlog::level_trace);
                     traceLoop(n);
                     qzlog::set_max_level(qzlog::level_event);
                 }});
    harness.run(std::cout);

    EndLog(logStarted);
    std::error_code ignored;
    std::filesystem::remove_all(logDir, ignored);
    return 0;
}
