#include "BenchHarness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace bench {

namespace {

volatile long g_sink = 0;

double timeNs(const std::function<void(long)>& body, long iterations) {
    const auto start = std::chrono::steady_clock::now();
    body(iterations);
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - start).count();
}

} // namespace

void keep(long value) {
    g_sink = g_sink + value;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

std::vector<Result> Harness::run(std::ostream& out) {
    std::vector<Result> results;
    char row[256];
    std::snprintf(row, sizeof row, "%-36s %10s %14s %14s %10s\n", "entry", "iterations", "baseline ns/it",
                  "entry ns/it", "ratio");
    out << row;
    // MORVANE_BENCH_ONLY=text runs only the entries whose name contains it.
    const char* only = std::getenv("MORVANE_BENCH_ONLY");
    for (const Entry& entry : m_entries) {
        if (only && *only && entry.name.find(only) == std::string::npos) continue;
        // One warm-up of each, then alternate so drifts hit both alike.
        auto cleanup = [&] {
            if (entry.cleanup) entry.cleanup();
        };
        if (entry.warmUp) {
            entry.baseline(entry.iterations / 10 + 1);
            cleanup();
            entry.candidate(entry.iterations / 10 + 1);
            cleanup();
        }
        std::vector<double> base, cand;
        for (int r = 0; r < m_repetitions; ++r) {
            base.push_back(timeNs(entry.baseline, entry.iterations));
            cleanup();
            cand.push_back(timeNs(entry.candidate, entry.iterations));
            cleanup();
        }
        const double n = static_cast<double>(entry.iterations);
        Result result{entry.name, entry.iterations, median(base) / n, median(cand) / n, 0.0,
                      entry.goal, entry.series, entry.size};
        result.ratio = result.baselineNsPerIteration > 0 ? result.candidateNsPerIteration / result.baselineNsPerIteration
                                                         : 0.0;
        std::snprintf(row, sizeof row, "%-36s %10ld %14.2f %14.2f %10.2f", result.name.c_str(), result.iterations,
                      result.baselineNsPerIteration, result.candidateNsPerIteration, result.ratio);
        out << row;
        if (result.goal > 0) {
            std::snprintf(row, sizeof row, "  (goal <= %.3g%s)", result.goal, result.ratio <= result.goal ? "" : ", missed");
            out << row;
        }
        out << "\n" << std::flush;
        results.push_back(result);
    }
    const auto worst = std::max_element(results.begin(), results.end(),
                                        [](const Result& a, const Result& b) { return a.ratio < b.ratio; });
    if (worst != results.end()) {
        std::snprintf(row, sizeof row, "bench: %zu entries, %d repetitions, median ratios; highest %.2f (%s)\n",
                      results.size(), m_repetitions, worst->ratio, worst->name.c_str());
        out << row;
    }
    if (const char* path = std::getenv("MORVANE_BENCH_RESULTS")) {
        if (*path) appendResults(path, results);
    }
    return results;
}

namespace {

// Names may not carry tabs or line ends into the file.
std::string field(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
}

} // namespace

void appendResults(const std::string& path, const std::vector<Result>& results) {
    std::ofstream file(path, std::ios::app);
    file.precision(17);
    for (const Result& r : results)
        file << field(r.name) << '\t' << r.iterations << '\t' << r.baselineNsPerIteration << '\t'
             << r.candidateNsPerIteration << '\t' << r.ratio << '\t' << r.goal << '\t' << field(r.series) << '\t'
             << r.size << '\n';
}

std::vector<Result> readResults(const std::string& path) {
    std::vector<Result> results;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::vector<std::string> parts;
        std::stringstream in(line);
        std::string part;
        while (std::getline(in, part, '\t')) parts.push_back(part);
        if (parts.size() < 8) continue;
        Result r;
        r.name = parts[0];
        r.iterations = std::atol(parts[1].c_str());
        r.baselineNsPerIteration = std::atof(parts[2].c_str());
        r.candidateNsPerIteration = std::atof(parts[3].c_str());
        r.ratio = std::atof(parts[4].c_str());
        r.goal = std::atof(parts[5].c_str());
        r.series = parts[6];
        r.size = std::atol(parts[7].c_str());
        results.push_back(r);
    }
    return results;
}

} // namespace bench
