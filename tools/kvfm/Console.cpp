#include "Console.h"

#include <atomic>
#include <cstdio>
#include <cwctype>

#include "Text.h"

namespace kvfm {

namespace {

const int kBarWidth = 20;

std::atomic<int> g_cancelRequests{0};

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    // The second request falls through to the default handler, which ends the process.
    if (g_cancelRequests.fetch_add(1) > 0) return FALSE;
    // Written past the console lock: a question may be holding it.
    static const char text[] = "\nkvfm: cancelling at the next progress event (Ctrl-C again quits at once)\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, sizeof text - 1, &written, nullptr);
    return TRUE;
}

} // namespace

Console& Console::Get() {
    static Console console;
    return console;
}

void Console::FileProgress(const std::wstring& name, int percent) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_open && !m_named && percent >= m_percent) {
        // The line a nameless Progress opened belongs to this file.
        m_named = true;
        if (name == m_name && percent == m_percent) return;
        m_name = name;
    } else if (!m_open || name != m_name || percent < m_percent) {
        EndLocked();
        m_open = true;
        m_named = true;
        m_name = name;
    } else if (percent == m_percent) {
        return;  // Progress and FileProgress come in pairs: draw once
    }
    m_percent = percent;
    DrawLocked();
}

void Console::Progress(int percent, const std::wstring& fallbackName) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_open) {
        // A smaller value starts the next file, which its FileProgress names.
        if (percent <= m_percent) return;
    } else {
        m_open = true;
        m_named = false;
        m_name = fallbackName;
    }
    m_percent = percent;
    DrawLocked();
}

void Console::DrawLocked() {
    const int percent = m_percent < 0 ? 0 : m_percent > 100 ? 100 : m_percent;
    const int filled = percent * kBarWidth / 100;
    char tail[16];
    std::snprintf(tail, sizeof tail, "] %3d%%", percent);
    std::string line = "  " + Utf8(m_name) + " [" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + tail;
    const size_t width = line.size();
    // Blanks over what a longer earlier drawing left.
    if (width < m_drawnWidth) line.append(m_drawnWidth - width, ' ');
    m_drawnWidth = width;
    std::fputc('\r', stdout);
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

void Console::EndLocked() {
    if (!m_open) return;
    std::fputc('\n', stdout);
    std::fflush(stdout);
    m_open = false;
    m_named = false;
    m_name.clear();
    m_percent = 0;
    m_drawnWidth = 0;
}

void Console::EndProgress() {
    std::lock_guard<std::mutex> guard(m_lock);
    EndLocked();
}

void Console::Out(const std::string& line) {
    std::lock_guard<std::mutex> guard(m_lock);
    EndLocked();
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Console::Err(const std::string& line) {
    std::lock_guard<std::mutex> guard(m_lock);
    EndLocked();
    std::fflush(stdout);
    std::fputs(line.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool Console::InputIsConsole() {
    DWORD mode = 0;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    return input && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode);
}

wchar_t Console::Ask(const std::string& question) {
    // Held while the user thinks, so progress lines cannot cut into the question.
    std::lock_guard<std::mutex> guard(m_lock);
    EndLocked();
    std::fflush(stdout);
    std::fputs(question.c_str(), stderr);
    std::fputc(' ', stderr);
    std::fflush(stderr);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    wchar_t buffer[256];
    DWORD read = 0;
    if (!ReadConsoleW(input, buffer, ARRAYSIZE(buffer) - 1, &read, nullptr) || read == 0) {
        std::fputc('\n', stderr);
        return 0;
    }
    for (DWORD i = 0; i < read; ++i) {
        if (buffer[i] == L'\r' || buffer[i] == L'\n') break;
        if (!std::iswspace(buffer[i])) return static_cast<wchar_t>(std::towlower(buffer[i]));
    }
    return L' ';
}

void InstallCancelHandler() {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool CancelRequested() {
    return g_cancelRequests.load() > 0;
}

void RequestCancel() {
    int expected = 0;
    g_cancelRequests.compare_exchange_strong(expected, 1);
}

} // namespace kvfm
