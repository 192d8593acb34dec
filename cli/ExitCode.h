#pragma once

#include <stdexcept>
#include <string>

namespace vek {

// The exit codes of vekctl, as its help and man page list them.
enum ExitCode : int {
    kExitOk = 0,
    kExitLinkFailed = 1,       // the transfer or read failed on the link ("ERRO #0x0N")
    kExitUsage = 2,            // the command line is wrong
    kExitInvalidProfile = 3,   // a profile that cannot be written to a box
    kExitPortUnavailable = 4,  // the port cannot be opened
    kExitNoBox = 5,            // no box answered
    kExitMismatch = 6,         // what the box holds is not what was meant
    kExitOperatingMode = 7,    // the box runs in operating mode
    kExitInvalidStore = 8,     // the box's stored configuration is invalid
    kExitSomeFailed = 9,       // provisioning: some visits failed
    kExitNotSupported = 10,    // the box's hardware does not take the operation
    kExitFileError = 11,       // a file cannot be read or written
    kExitFirmwareDue = 12,     // the box's firmware must be brought up to date first
    kExitSyncUnreached = 13,   // sync: the history server did not take every line
    kExitSyncRefused = 14,     // sync: the server refused lines, set aside in the log
    kExitInterrupted = 130,    // Ctrl-C
};

// A command that ends in failure: its exit code, a stable identifier for JSON, and the message
// for the technician.
class CommandFailure : public std::runtime_error {
  public:
    CommandFailure(ExitCode exitCode, std::string id, const std::string& message)
        : std::runtime_error(message), exitCode_(exitCode), id_(std::move(id)) {}
    ExitCode exitCode() const { return exitCode_; }
    const std::string& id() const { return id_; }

  private:
    ExitCode exitCode_;
    std::string id_;
};

}  // namespace vek
