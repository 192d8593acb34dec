#pragma once

#include <QJsonObject>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/BoxLink.h"

namespace vek {

inline constexpr std::chrono::milliseconds kDefaultStatusWait{3000};

// A box reached on its port, the link open and its announcement heard.
struct ReachedBox {
    std::string port;
    std::unique_ptr<BoxLink> link;
    Announcement announcement;
};

// The serial ports present; CommandFailure kExitPortUnavailable when they cannot be listed.
std::vector<std::string> listPorts();

// Opens a port, its transfers and reads paced by loop when given; CommandFailure
// kExitPortUnavailable with the reason when it cannot.
std::unique_ptr<BoxLink> openBox(const std::string& port, const TComSignal& stop,
                                 PaceLoop* loop = nullptr);

// The box named: a path, a device name ("ttyACM0") or "id:" and its identifier as the
// window shows it (dashes or spaces between the groups, or none), which probes every port at once
// and takes the one whose box reports it. CommandFailure kExitPortUnavailable or kExitNoBox.
ReachedBox reachBox(const std::string& named, const TComSignal& stop,
                    std::chrono::milliseconds wait);

// What each port answered within wait, probed in parallel; ports that may not be probed are left
// alone, with that said in their error.
struct ProbedPort {
    std::string port;
    std::optional<Announcement> announcement;
    std::string error;              // why it could not be opened or read
    std::unique_ptr<BoxLink> link;  // kept open only when asked
};
std::vector<ProbedPort> probePorts(const std::vector<std::string>& ports, const TComSignal& stop,
                                   std::chrono::milliseconds wait, bool keepOpen);

// The identification as the window makes it, as JSON and as text lines.
QJsonObject identificationJson(const std::string& port, const Announcement& announcement);
std::string identificationText(const Announcement& announcement);
// "up_to_date", "upload_due", "discontinued" or "unknown_hardware".
const char* decisionId(DeviceAction action);

// The window's operating-mode notice, a line each.
std::string operatingModeNoticeText();

}  // namespace vek
