#pragma once

#include <cstdint>
#include <optional>

#include "serial/NativeHandle.h"

namespace vek {

// Closes a serial device without making the caller wait for it. Linux holds the
// last close of a USB serial device until its output has drained, up to the driver's closing wait
// (30 s by default), and output to a box that stopped taking data never drains; tcflush does not
// cancel what was already handed to USB. Such a close runs on a thread of its own, which lives
// only while closes are pending. The exclusive-use flag is cleared right before the close.
//
// Linux drops the device's lock as its close begins, and then holds any open of the same tty until
// the closing wait ends, so an open meanwhile would freeze its caller for up to that wait: the
// caller asks closingUnderWay first and refuses such a device as busy. id identifies the device
// whatever name it is opened by (its device number on Linux).
using DeviceId = std::uint64_t;
void closeDeviceInBackground(NativeHandle device, std::optional<DeviceId> id = std::nullopt);

// Whether a close handed over with this id has not ended yet.
bool closingUnderWay(DeviceId id);

// Closes at once (on Linux clearing the exclusive-use flag first), for a device with nothing
// queued.
void closeDeviceNow(NativeHandle device);

}  // namespace vek
