#pragma once

#include "serial/NativeHandle.h"

namespace vek {

// Closes a serial device without making the caller wait for it. Linux holds the
// last close of a USB serial device until its output has drained, up to the driver's closing wait
// (30 s by default), and output to a box that stopped taking data never drains; tcflush does not
// cancel what was already handed to USB. Such a close runs on a thread of its own, which lives
// only while closes are pending. The exclusive-use flag is cleared right before the close.
//
// A device's lock is released only when its close has ended, so an open of the same device
// meanwhile fails like that of any busy port.
void closeDeviceInBackground(NativeHandle device);

// Closes at once (on Linux clearing the exclusive-use flag first), for a device with nothing
// queued.
void closeDeviceNow(NativeHandle device);

}  // namespace vek
