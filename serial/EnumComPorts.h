#pragma once

#include <string>
#include <vector>

namespace vek {

// Replaces list by the serial ports present: the tty devices backed by hardware under
// /sys/class/tty (as device names, "ttyACM0"), plus the absolute paths named in VEKTOOL_PORTS
// (separated by ":"; a folder stands for the devices in it), sorted without regard to case.
// EComPort 23 when the device list cannot be read; list is then left as it was.
void EnumComPorts(std::vector<std::string>& list);

// Sorts names alphabetically without regard to case, so COM10 comes before COM2.
void sortIgnoringCase(std::vector<std::string>& names);

// What tells this plugging-in of the port's device from another (the device node's identity on
// Linux); empty where nothing does.
std::string DeviceIdentity(const std::string& port);

// The device a port name leads to, the same for every name of one device ("ttyACM0",
// "/dev/ttyACM0", a by-id link to it); empty when it leads nowhere.
std::string DeviceOf(const std::string& port);

// Whether a port may be opened without being named, to ask what answers on it: the box is a USB
// serial device (ttyACM, or ttyUSB behind an adapter; on Windows a COM port that a USB bus
// enumerated), and the ports of VEKTOOL_PORTS come as paths. Other serial ports (a console on
// ttyS0, say) are never opened unasked, since opening one sets its line.
bool MayOpenUnasked(const std::string& port);

// The device a port name stands for: "/dev/ttyACM0" for "ttyACM0", "\\.\COM3" for "COM3"; a
// path stays as it is.
std::string PortPath(const std::string& port);

// The port's name under /dev/serial/by-id, which stays the same whichever socket the box is
// plugged into; empty when it has none.
std::string StableName(const std::string& port);

}  // namespace vek
