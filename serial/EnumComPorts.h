#pragma once

#include <string>
#include <vector>

namespace vek {

// Replaces list by the serial ports present: the tty devices backed by hardware under
// /sys/class/tty (as device names, "ttyACM0"), plus the absolute paths named in VEKTOOL_PORTS
// (separated by ":"; a folder stands for the devices in it), sorted without regard to case.
// EComPort 23 when the device list cannot be read; list is then left as it was.
void EnumComPorts(std::vector<std::string>& list);

// The port's name under /dev/serial/by-id, which stays the same whichever socket the box is
// plugged into; empty when it has none.
std::string StableName(const std::string& port);

}  // namespace vek
