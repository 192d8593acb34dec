#pragma once

#include <string>

namespace vek {

// Why a port could not be opened, from the system's code of the open error.
enum class OpenFailure { NoPermission, Absent, Busy, Other };
OpenFailure classifyOpenFailure(int systemCode);

// The reason in words a technician can act on; null when only the system's message tells.
inline const char* openFailureReason(int systemCode) {
    switch (classifyOpenFailure(systemCode)) {
        case OpenFailure::NoPermission:
            return "sem permissão (adicione seu usuário ao grupo dialout e entre de novo)";
        case OpenFailure::Absent:
            return "a porta não existe (o Vek está conectado?)";
        case OpenFailure::Busy:
            return "a porta está em uso por outro programa";
        case OpenFailure::Other:
            break;
    }
    return nullptr;
}

// The system's own words for its error code.
std::string systemErrorText(int systemCode);

// Whether a failure of an open port says that its device went (the box unplugged).
bool deviceWentAway(int systemCode);

// Whether a failure to set up an opened path says that it is no serial port.
bool notASerialPort(int systemCode);

}  // namespace vek
