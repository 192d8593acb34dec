#include "transfer/FirmwareImage.h"

#include "FirmwareImageData.h"  // generated from firmware/ at build time

namespace vek {

namespace {

using firmware_data::kClosing;
using firmware_data::kImage;

static_assert(sizeof(kImage) == kFirmwareImageSize,
              "transfer/firmware/vek-firmware.bin must hold exactly kFirmwareImageSize bytes");

constexpr std::array<uint8_t, 5> kClosingBytes{kClosing[0], kClosing[1], kClosing[2], kClosing[3],
                                               kClosing[4]};

}  // namespace

std::span<const uint8_t> FirmwareImage() {
    return kImage;
}

const std::array<uint8_t, 5>& FirmwareClosing() {
    return kClosingBytes;
}

}  // namespace vek
