#include "serial/OpenFailure.h"

#include <cerrno>
#include <cstring>

namespace vek {

OpenFailure classifyOpenFailure(int systemCode) {
    switch (systemCode) {
        case EACCES:
        case EPERM:
            return OpenFailure::NoPermission;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return OpenFailure::Absent;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenFailure::Busy;
        default:
            return OpenFailure::Other;
    }
}

std::string systemErrorText(int systemCode) {
    return std::strerror(systemCode);
}

bool deviceWentAway(int systemCode) {
    return systemCode == EIO || systemCode == ENODEV || systemCode == ENXIO;
}

bool notASerialPort(int systemCode) {
    return systemCode == ENOTTY || systemCode == EINVAL;
}

}  // namespace vek
