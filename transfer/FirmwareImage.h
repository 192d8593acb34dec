#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vek {

inline constexpr uint32_t kFirmwareImageSize = 87916;

// The carried firmware image, constant data read in place, with its closing bytes.
std::span<const uint8_t> FirmwareImage();
const std::array<uint8_t, 5>& FirmwareClosing();

}  // namespace vek
