#pragma once

#include "serial/ComPort.h"

namespace vek {

inline constexpr int kBoxBaudRate = 3686400;

// The line settings the box talks at: 3,686,400 baud 8N1 with no handshake, DTR and RTS off,
// 4096-byte buffers, reads bounded at 200 ms between bytes and 100 ms per byte plus 100 ms,
// writes at 2 ms per byte plus 2 ms.
void setBoxLineSettings(TCustomComPort& port);

}  // namespace vek
