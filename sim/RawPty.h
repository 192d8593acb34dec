#pragma once

#include <string>

namespace vek {

// Opens a pseudo-terminal whose slave is raw from the start, so that nothing written to it before
// the tool sets its line is echoed or translated. Returns the master's descriptor, which the
// caller closes, and the slave's path in slavePath. masterFlags are added to the master's
// O_RDWR | O_NOCTTY | O_CLOEXEC (O_NONBLOCK, say). Throws std::system_error.
int openRawPseudoTerminal(std::string& slavePath, int masterFlags = 0);

// Opens an existing terminal (the device side of a USB serial gadget, say) read-write, raw,
// non-blocking and without making it the controlling terminal. Throws std::system_error.
int openRawTerminal(const std::string& path);

}  // namespace vek
