#include <sys/ioctl.h>
#include <unistd.h>

#include "serial/DeferredClose.h"

namespace vek {

void closeDeviceNow(NativeHandle device) {
    ioctl(int(device), TIOCNXCL);  // others may open the line again
    ::close(int(device));
}

}  // namespace vek
