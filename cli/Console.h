#pragma once

#include "serial/ComSignal.h"

namespace vek {

// Raises stop on Ctrl-C or a request to end; a second Ctrl-C ends the program at once. Also
// readies the console for the progress bar and the station's table.
void raiseOnInterrupt(TComSignal& stop);

bool stdoutIsTerminal();
bool stderrIsTerminal();

// The size of the terminal that standard error shows on; 80 by 24 when it tells none.
struct TerminalSize {
    int columns = 80, rows = 24;
};
TerminalSize stderrTerminalSize();

}  // namespace vek
