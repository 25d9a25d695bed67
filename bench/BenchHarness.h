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
};

struct Result {
    std::string name;
    long iterations;
    double baselineNsPerIteration;
    double candidateNsPerIteration;
    double ratio;
};

class Harness {
public:
    explicit Harness(int repetitions) : m_repetitions(repetitions < 1 ? 1 : repetitions) {}
    void add(Entry entry) { m_entries.push_back(std::move(entry)); }
    // Prints one table row per entry and a one-line summary.
    std::vector<Result> run(std::ostream& out);

private:
    int m_repetitions;
    std::vector<Entry> m_entries;
};

double median(std::vector<double> values);

// Keeps a value alive so the optimiser cannot drop the loop that made it.
void keep(long value);

} // namespace bench
