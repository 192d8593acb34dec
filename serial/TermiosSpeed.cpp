#include "serial/TermiosSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace vek {

int setOtherSpeed(int fd, int rate) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return errno;
    settings.c_cflag &= ~(CBAUD | CIBAUD);
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = static_cast<speed_t>(rate);
    settings.c_ospeed = static_cast<speed_t>(rate);
    if (ioctl(fd, TCSETS2, &settings) != 0)
        return errno;
    return 0;
}

}  // namespace vek
