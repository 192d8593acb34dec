#include "serial/OpenFailure.h"

#include <cerrno>

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

}  // namespace vek
