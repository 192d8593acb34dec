#include "sim/RawPty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace vek {

int openRawPseudoTerminal(std::string& slavePath, int masterFlags) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | masterFlags);
    if (master < 0)
        throw std::system_error(errno, std::generic_category(), "posix_openpt");
    const auto fail = [master](const char* what) {
        const int error = errno;
        ::close(master);
        return std::system_error(error, std::generic_category(), what);
    };
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0)
        throw fail("unlockpt");
    if (ptsname_r(master, name, sizeof name) != 0)
        throw fail("ptsname_r");

    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        throw fail(name);
    termios t{};
    bool raw = tcgetattr(slave, &t) == 0;
    if (raw) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        raw = tcsetattr(slave, TCSANOW, &t) == 0;
    }
    const int error = errno;
    ::close(slave);
    if (!raw) {
        errno = error;
        throw fail("tcsetattr");
    }
    slavePath = name;
    return master;
}

}  // namespace vek
