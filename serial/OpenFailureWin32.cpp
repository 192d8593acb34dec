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

std::string systemErrorText(int systemCode) {
    char* text = nullptr;
    const DWORD size = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(systemCode), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words = size > 0 ? std::string(text, size) : "erro " + std::to_string(systemCode);
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
        words.pop_back();
    return words;
}

bool deviceWentAway(int systemCode) {
    // A USB serial port whose device is pulled out fails its waits and transfers with these.
    switch (DWORD(systemCode)) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_REMOVED:
        case ERROR_OPERATION_ABORTED:
            return true;
        default:
            return false;
    }
}

bool notASerialPort(int systemCode) {
    return DWORD(systemCode) == ERROR_INVALID_FUNCTION || DWORD(systemCode) == ERROR_NOT_SUPPORTED;
}

}  // namespace vek
