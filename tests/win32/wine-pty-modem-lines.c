/* For the tests under Wine only, preloaded into the Wine processes: a Linux pseudo-terminal has no
 * modem lines, so the modem-line requests fail there with ENOTTY, and Wine's WaitCommEvent gives up
 * on that failure (at once when the mask holds a modem event, otherwise at its first poll). On a
 * pseudo-terminal's slave this answers them as a cable with every input line low would, so that the
 * port's own code runs unchanged against the simulated box. Everything else goes to the real ioctl.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int isPtySlave(int fd) {
    struct stat node;
    /* The slaves of UNIX 98 pseudo-terminals have majors 136 to 143. */
    return fstat(fd, &node) == 0 && S_ISCHR(node.st_mode) && major(node.st_rdev) >= 136 &&
           major(node.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*realIoctl)(int, unsigned long, void*);
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (!realIoctl)
        realIoctl = (int (*)(int, unsigned long, void*))dlsym(RTLD_NEXT, "ioctl");
    const int saved = errno;
    const int result = realIoctl(fd, request, argument);
    if (result != -1 || errno != ENOTTY || !isPtySlave(fd))
        return result;
    switch (request) {
        case TIOCMGET:
            *(int*)argument = 0;
            errno = saved;
            return 0;
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC:
            errno = saved;
            return 0;
        default:
            return result;
    }
}
