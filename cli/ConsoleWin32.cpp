#include <windows.h>

#include <io.h>
#include <atomic>
#include <cstdio>

#include "cli/Console.h"

namespace vek {

namespace {
TComSignal* interruption = nullptr;
std::atomic<bool> interruptedOnce{false};

// Runs on a thread of its own, which the system makes for each event.
BOOL WINAPI onControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (interruptedOnce.exchange(true))
        return FALSE;  // the second one: the default handling ends the program
    interruption->raise();
    return TRUE;
}

// The progress bar and the table redraw themselves with the terminal's escape sequences.
void allowEscapes(DWORD stream) {
    const HANDLE console = GetStdHandle(stream);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode))
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}
}  // namespace

void raiseOnInterrupt(TComSignal& stop) {
    interruption = &stop;
    SetConsoleCtrlHandler(onControl, TRUE);
    SetConsoleOutputCP(CP_UTF8);
    allowEscapes(STD_OUTPUT_HANDLE);
    allowEscapes(STD_ERROR_HANDLE);
}

bool stdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

TerminalSize stderrTerminalSize() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return {};
    return {info.srWindow.Right - info.srWindow.Left + 1,
            info.srWindow.Bottom - info.srWindow.Top + 1};
}

}  // namespace vek
