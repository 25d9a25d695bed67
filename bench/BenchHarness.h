// Runs each entry and its baseline alternately, several times, and reports the
// ratio of their medians, so that machine speed and load cancel out.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace bench {

struct Entry {
    std::string name;
    long iterations;
    std::function<void(long iterations)> baseline;
    std::function<void(long iterations)> candidate;
    // The ratio the entry should stay at or under; 0 when it only informs.
    double goal = 0.0;
    // Scaling entries: the curve they belong to and their size on it.
    std::string series;
    long size = 0;
    // Run untimed after every timed call of either side: undoing a copy
    // (deleting what it wrote) is not part of the copy.
    std::function<void()> cleanup;
    // Entries that take seconds skip the warm-up: the first repetition's
    // cold caches then count only as one of several medians' inputs.
    bool warmUp = true;
};

struct Result {
    std::string name;
    long iterations;
    double baselineNsPerIteration;
    double candidateNsPerIteration;
    double ratio;
    double goal;
    std::string series;
    long size;
};

class Harness {
public:
    explicit Harness(int repetitions) : m_repetitions(repetitions < 1 ? 1 : repetitions) {}
    void add(Entry entry) { m_entries.push_back(std::move(entry)); }
    // Prints one table row per entry and a one-line summary; with
    // MORVANE_BENCH_RESULTS set, also appends the results to that file.
    std::vector<Result> run(std::ostream& out);

private:
    int m_repetitions;
    std::vector<Entry> m_entries;
};

double median(std::vector<double> values);

// Keeps a value alive so the optimiser cannot drop the loop that made it.
void keep(long value);

// Results files: one tab-separated line per entry, appended by every
// benchmark of a run and read by the report.
void appendResults(const std::string& path, const std::vector<Result>& results);
std::vector<Result> readResults(const std::string& path);

} // namespace bench
