// The one log capture of the suites: every line written while it lives, at
// every level; the level settings are read again at the end.
#pragma once

#include <vnlog/LogManager.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testlog {

class LogCapture {
public:
    LogCapture() {
        qzlog::set_max_level(qzlog::level_trace);
        qzlog::set_capture([this](const qzlog::captured_line& line) {
            std::function<void(const qzlog::captured_line&)> hook;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_lines.push_back(line);
                hook = m_hook;
            }
            if (hook) hook(line);
        });
    }
    ~LogCapture() {
        qzlog::clear_capture();
        qzlog::reload_level_settings();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Called on the writing thread after each line is kept.
    void OnLine(std::function<void(const qzlog::captured_line&)> hook) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hook = std::move(hook);
    }
    std::vector<qzlog::captured_line> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    int Size() { return static_cast<int>(Lines().size()); }
    bool Contains(const std::string& text) { return Has(text) >= 0; }
    // Lines of that level whose text ends with the message.
    int Count(int level, const std::string& message) {
        int n = 0;
        for (const auto& l : Lines()) n += l.level == level && EndsWith(l.text, message);
        return n;
    }
    int Count(const std::string& message) {
        int n = 0;
        for (const auto& l : Lines()) n += EndsWith(l.text, message);
        return n;
    }
    // First line at or after from that ends with text (or holds it, when
    // anywhere) and whose logger ends with level, if given; -1 if none.
    int Find(const std::string& text, int from = 0, const std::string& level = "", bool anywhere = false) {
        const auto lines = Lines();
        for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i) {
            const std::string& t = lines[i].text;
            const bool hit = anywhere ? t.find(text) != std::string::npos : EndsWith(t, text);
            if (hit && EndsWith(lines[i].logger_name, level)) return i;
        }
        return -1;
    }
    int Has(const std::string& piece, int from = 0) { return Find(piece, from, "", true); }

private:
    static bool EndsWith(const std::string& t, const std::string& s) {
        return t.size() >= s.size() && t.compare(t.size() - s.size(), s.size(), s) == 0;
    }
    std::mutex m_mutex;
    std::vector<qzlog::captured_line> m_lines;
    std::function<void(const qzlog::captured_line&)> m_hook;
};

} // namespace testlog
