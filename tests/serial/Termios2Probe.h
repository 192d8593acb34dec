#pragma once

namespace vek::test {

// The line rate as the kernel's termios2 reports it, and whether it is set as a rate of its own
// (BOTHER) rather than by a B constant. Apart: <asm/termbits.h> clashes with <termios.h>.
struct ReportedSpeed {
    bool ownRate = false;
    unsigned output = 0;
    unsigned input = 0;
};
ReportedSpeed reportedSpeed(int fd);

}  // namespace vek::test
