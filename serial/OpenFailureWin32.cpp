#include "serial/OpenFailure.h"

#include <windows.h>

namespace vek {

OpenFailure classifyOpenFailure(int systemCode) {
    switch (DWORD(systemCode)) {
        // Windows refuses a port that another program holds as it refuses no permission.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return OpenFailure::Busy;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_UNIT:
        case ERROR_NOT_READY:
            return OpenFailure::Absent;
        default:
            return OpenFailure::Other;
    }
}

}  // namespace vek
