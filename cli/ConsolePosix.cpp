#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "cli/Console.h"

namespace vek {

namespace {
TComSignal* interruption = nullptr;

void onInterrupt(int) {
    interruption->raise();
}
}  // namespace

void raiseOnInterrupt(TComSignal& stop) {
    interruption = &stop;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A file grown past its size limit is a failed write to report, not a reason to die.
    signal(SIGXFSZ, SIG_IGN);
}

bool stdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

TerminalSize stderrTerminalSize() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
        return {};
    return {size.ws_col, size.ws_row};
}

}  // namespace vek
