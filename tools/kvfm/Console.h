// Console output of kvfm, shared by the main thread and the threads Morvane
// fires events on: one progress line per file, redrawn in place with \r and
// finished before any other output; Ctrl-C as a cancel request; questions
// asked on stderr and answered on the console.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

namespace kvfm {

class Console {
public:
    static Console& Get();

    // A FileProgress event: the open line while the name stays and the
    // percentage does not go back, else a new line.
    void FileProgress(const std::wstring& name, int percent);
    // A Progress event, which names no file: updates the open line, or opens
    // one under fallbackName.
    void Progress(int percent, const std::wstring& fallbackName);
    // Finishes an open progress line.
    void EndProgress();

    // Whole lines; an open progress line is finished first.
    void Out(const std::string& line);
    void Err(const std::string& line);

    // True when stdin is a console someone can answer on.
    static bool InputIsConsole();
    // Asks on stderr and reads one line from the console; returns its first
    // non-blank character in lower case, 0 at the end of input.
    wchar_t Ask(const std::string& question);

private:
    Console() = default;
    void DrawLocked();
    void EndLocked();

    std::mutex m_lock;
    bool m_open = false;
    bool m_named = false;  // opened by FileProgress, not under a fallback name
    std::wstring m_name;
    int m_percent = 0;
    size_t m_drawnWidth = 0;
};

// Ctrl-C and Ctrl-Break set the cancel request; a second one ends the process
// as usual.
void InstallCancelHandler();
bool CancelRequested();
void RequestCancel();

} // namespace kvfm
