#include "BenchHarness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

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
    for (const Entry& entry : m_entries) {
        // One warm-up of each, then alternate so drifts hit both alike.
        entry.baseline(entry.iterations / 10 + 1);
        entry.candidate(entry.iterations / 10 + 1);
        std::vector<double> base, cand;
        for (int r = 0; r < m_repetitions; ++r) {
            base.push_back(timeNs(entry.baseline, entry.iterations));
            cand.push_back(timeNs(entry.candidate, entry.iterations));
        }
        const double n = static_cast<double>(entry.iterations);
        Result result{entry.name, entry.iterations, median(base) / n, median(cand) / n, 0.0};
        result.ratio = result.baselineNsPerIteration > 0 ? result.candidateNsPerIteration / result.baselineNsPerIteration
                                                         : 0.0;
        std::snprintf(row, sizeof row, "%-36s %10ld %14.2f %14.2f %10.2f\n", result.name.c_str(), result.iterations,
                      result.baselineNsPerIteration, result.candidateNsPerIteration, result.ratio);
        out << row;
        results.push_back(result);
    }
    const auto worst = std::max_element(results.begin(), results.end(),
                                        [](const Result& a, const Result& b) { return a.ratio < b.ratio; });
    if (worst != results.end()) {
        std::snprintf(row, sizeof row, "bench: %zu entries, %d repetitions, median ratios; highest %.2f (%s)\n",
                      results.size(), m_repetitions, worst->ratio, worst->name.c_str());
        out << row;
    }
    return results;
}

} // namespace bench
