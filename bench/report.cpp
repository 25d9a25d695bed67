// Turns the results of one benchmark run into build/bench/report.md and
// report.svg: every entry against its goal, and the scaling curves.
#include "BenchHarness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string fixed(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

std::string xml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string humanNs(double ns) {
    if (ns >= 1e9) return fixed(ns / 1e9, 2) + " s";
    if (ns >= 1e6) return fixed(ns / 1e6, 1) + " ms";
    if (ns >= 1e3) return fixed(ns / 1e3, 1) + " us";
    return fixed(ns, 2) + " ns";
}

void writeMarkdown(const std::vector<bench::Result>& results, const std::string& path) {
    std::ofstream md(path);
    int met = 0, goals = 0;
    for (const auto& r : results) {
        if (r.goal <= 0) continue;
        ++goals;
        if (r.ratio <= r.goal) ++met;
    }
    md << "# Morvane benchmarks\n\n"
       << "Each entry is timed against a baseline measured in the same run; the ratio is entry / baseline "
          "(medians of the repetitions). " << met << " of " << goals << " goals met.\n\n"
       << "| entry | baseline | entry | ratio | goal | |\n|---|---:|---:|---:|---:|---|\n";
    for (const auto& r : results) {
        md << "| " << r.name << " | " << humanNs(r.baselineNsPerIteration) << " | "
           << humanNs(r.candidateNsPerIteration) << " | " << fixed(r.ratio, 3) << " | "
           << (r.goal > 0 ? "<= " + fixed(r.goal, 3) : std::string("-")) << " | "
           << (r.goal <= 0 ? "" : r.ratio <= r.goal ? "met" : "**missed**") << " |\n";
    }
    md << "\n![ratios against goals and scaling curves](report.svg)\n";
}

// Bars: each entry's ratio divided by its goal (1 = on the goal). Curves:
// ratio against size, one per scaling series, sizes on a log scale.
void writeSvg(const std::vector<bench::Result>& results, const std::string& path) {
    std::vector<const bench::Result*> goals;
    std::map<std::string, std::vector<const bench::Result*>> series;
    for (const auto& r : results) {
        if (r.goal > 0) goals.push_back(&r);
        if (!r.series.empty() && r.size > 0) series[r.series].push_back(&r);
    }
    const int width = 980, label = 560, barArea = width - label - 60, rowHeight = 20;
    const double barMax = 3.0;  // bars are cut off at three times their goal
    const int barsTop = 50, barsHeight = static_cast<int>(goals.size()) * rowHeight;
    const int plotTop = barsTop + barsHeight + 70, plotHeight = 260, plotLeft = 70, plotWidth = width - 300;
    const int height = plotTop + (series.empty() ? 0 : plotHeight + 60);

    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"10\" y=\"22\" font-size=\"16\">Ratio against goal (1 = on the goal; shorter is better)</text>\n";
    for (size_t i = 0; i < goals.size(); ++i) {
        const bench::Result& r = *goals[i];
        const int y = barsTop + static_cast<int>(i) * rowHeight;
        const double share = std::min(r.ratio / r.goal, barMax);
        const int length = std::max(1, static_cast<int>(share / barMax * barArea));
        const char* colour = r.ratio <= r.goal ? "#4a9a4a" : "#c84a3a";
        svg << "<text x=\"" << label - 6 << "\" y=\"" << y + 14 << "\" text-anchor=\"end\">" << xml(r.name)
            << "</text>\n"
            << "<rect x=\"" << label << "\" y=\"" << y + 3 << "\" width=\"" << length << "\" height=\""
            << rowHeight - 6 << "\" fill=\"" << colour << "\"/>\n"
            << "<text x=\"" << label + length + 4 << "\" y=\"" << y + 14 << "\">" << fixed(r.ratio, 3) << " / "
            << fixed(r.goal, 3) << "</text>\n";
    }
    const int one = label + static_cast<int>(1.0 / barMax * barArea);
    svg << "<line x1=\"" << one << "\" y1=\"" << barsTop - 4 << "\" x2=\"" << one << "\" y2=\""
        << barsTop + barsHeight + 4 << "\" stroke=\"black\" stroke-dasharray=\"4 3\"/>\n"
        << "<text x=\"" << one << "\" y=\"" << barsTop - 8 << "\" text-anchor=\"middle\">goal</text>\n";

    if (!series.empty()) {
        double minSize = 1e300, maxSize = 0, maxRatio = 0;
        for (const auto& s : series)
            for (const auto* r : s.second) {
                minSize = std::min(minSize, static_cast<double>(r->size));
                maxSize = std::max(maxSize, static_cast<double>(r->size));
                maxRatio = std::max({maxRatio, r->ratio, r->goal});
            }
        maxRatio = std::ceil(maxRatio * 1.1 * 4) / 4;
        const double lo = std::log10(minSize), hi = std::max(std::log10(maxSize), lo + 1);
        auto px = [&](double size) { return plotLeft + (std::log10(size) - lo) / (hi - lo) * plotWidth; };
        auto py = [&](double ratio) { return plotTop + plotHeight - ratio / maxRatio * plotHeight; };
        svg << "<text x=\"10\" y=\"" << plotTop - 20 << "\" font-size=\"16\">Scaling: ratio against size "
            << "(flat is good)</text>\n"
            << "<line x1=\"" << plotLeft << "\" y1=\"" << plotTop + plotHeight << "\" x2=\"" << plotLeft + plotWidth
            << "\" y2=\"" << plotTop + plotHeight << "\" stroke=\"black\"/>\n"
            << "<line x1=\"" << plotLeft << "\" y1=\"" << plotTop << "\" x2=\"" << plotLeft << "\" y2=\""
            << plotTop + plotHeight << "\" stroke=\"black\"/>\n";
        for (double tick = std::pow(10, std::floor(lo)); tick <= maxSize * 1.01; tick *= 10) {
            if (tick < minSize * 0.99) continue;
            svg << "<text x=\"" << px(tick) << "\" y=\"" << plotTop + plotHeight + 16
                << "\" text-anchor=\"middle\">" << static_cast<long>(tick) << "</text>\n";
        }
        for (double tick = 0; tick <= maxRatio + 1e-9; tick += maxRatio / 4) {
            svg << "<text x=\"" << plotLeft - 6 << "\" y=\"" << py(tick) + 4 << "\" text-anchor=\"end\">"
                << fixed(tick, 2) << "</text>\n";
        }
        const char* colours[] = {"#1f5fa8", "#c8641e", "#3a9a5a", "#8a3ab0", "#a83a5a"};
        int index = 0, legend = plotTop;
        for (auto& s : series) {
            auto& points = s.second;
            std::sort(points.begin(), points.end(), [](const auto* a, const auto* b) { return a->size < b->size; });
            const char* colour = colours[index++ % 5];
            svg << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2\" points=\"";
            for (const auto* r : points) svg << px(static_cast<double>(r->size)) << "," << py(r->ratio) << " ";
            svg << "\"/>\n";
            for (const auto* r : points)
                svg << "<circle cx=\"" << px(static_cast<double>(r->size)) << "\" cy=\"" << py(r->ratio)
                    << "\" r=\"3\" fill=\"" << colour << "\"/>\n";
            if (points.front()->goal > 0)
                svg << "<line x1=\"" << plotLeft << "\" y1=\"" << py(points.front()->goal) << "\" x2=\""
                    << plotLeft + plotWidth << "\" y2=\"" << py(points.front()->goal) << "\" stroke=\"" << colour
                    << "\" stroke-dasharray=\"3 3\"/>\n";
            svg << "<rect x=\"" << plotLeft + plotWidth + 15 << "\" y=\"" << legend << "\" width=\"12\" height=\"12\" "
                << "fill=\"" << colour << "\"/><text x=\"" << plotLeft + plotWidth + 32 << "\" y=\"" << legend + 11
                << "\">" << xml(s.first) << "</text>\n";
            legend += 20;
        }
        svg << "<text x=\"" << plotLeft + plotWidth / 2 << "\" y=\"" << plotTop + plotHeight + 36
            << "\" text-anchor=\"middle\">size (files), dashed: goal</text>\n";
    }
    svg << "</svg>\n";
    std::ofstream(path) << svg.str();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: morvane_bench_report <results file> <output folder>\n";
        return 2;
    }
    const std::vector<bench::Result> results = bench::readResults(argv[1]);
    if (results.empty()) {
        std::cerr << "bench report: no results in " << argv[1] << "\n";
        return 1;
    }
    const std::string folder = argv[2];
    writeMarkdown(results, folder + "/report.md");
    writeSvg(results, folder + "/report.svg");
    int missed = 0;
    for (const auto& r : results)
        if (r.goal > 0 && r.ratio > r.goal) ++missed;
    std::cout << "bench report: " << results.size() << " entries, " << missed << " goals missed; " << folder
              << "/report.md, " << folder << "/report.svg\n";
    return 0;
}
