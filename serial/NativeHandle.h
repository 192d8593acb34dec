#pragma once

#include <cstdint>

namespace vek {

// A descriptor on Linux, a HANDLE on Windows, held the same way by the code both share.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;  // also INVALID_HANDLE_VALUE's value

}  // namespace vek
