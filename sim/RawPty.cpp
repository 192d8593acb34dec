#include "sim/RawPty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace vek {

namespace {

// Opens path raw; the descriptor, or -1 with errno set.
int openRaw(const char* path) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        if (tcsetattr(fd, TCSANOW, &t) == 0)
            return fd;
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

}  // namespace

int openRawPseudoTerminal(std::string& slavePath, int masterFlags) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | masterFlags);
    if (master < 0)
        throw std::system_error(errno, std::generic_category(), "posix_openpt");
    const auto fail = [master](const std::string& what) {
        const int error = errno;
        ::close(master);
        return std::system_error(error, std::generic_category(), what);
    };
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0)
        throw fail("unlockpt");
    if (ptsname_r(master, name, sizeof name) != 0)
        throw fail("ptsname_r");
    // The settings stay with the terminal after this descriptor is closed.
    const int slave = openRaw(name);
    if (slave < 0)
        throw fail(name);
    ::close(slave);
    slavePath = name;
    return master;
}

int openRawTerminal(const std::string& path) {
    const int fd = openRaw(path.c_str());
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), path);
    return fd;
}

}  // namespace vek
