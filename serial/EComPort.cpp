#include "serial/EComPort.h"

#include <array>

namespace vek {

namespace {

constexpr std::array<const char*, 23> kTexts = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string messageOf(int errorCode, int systemCode) {
    std::string message = EComPort::textOf(errorCode);
    if (systemCode != -1)
        message += " (win error code: " + std::to_string(systemCode) + ")";
    return message;
}

}  // namespace

EComPort::EComPort(int errorCode, int systemCode)
    : std::runtime_error(messageOf(errorCode, systemCode)),
      errorCode_(errorCode),
      systemCode_(systemCode) {}

const char* EComPort::textOf(int errorCode) {
    if (errorCode < 1 || errorCode > static_cast<int>(kTexts.size()))
        return "";
    return kTexts[errorCode - 1];
}

}  // namespace vek
