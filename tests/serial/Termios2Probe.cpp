#include "Termios2Probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace vek::test {

ReportedSpeed reportedSpeed(int fd) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return {};
    return {(settings.c_cflag & CBAUD) == BOTHER, settings.c_ospeed, settings.c_ispeed};
}

}  // namespace vek::test
