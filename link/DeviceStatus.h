#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vek {

inline constexpr std::size_t kStatusPayloadSize = 45;

// What the box reported in its last handled Status, and whether this connection has handled one
// in bootloader mode.
struct DeviceInfo {
    uint8_t mode = 0;                  // 0 operating mode, otherwise bootloader
    std::array<uint32_t, 3> id{};      // display order: id[0] arrived last
    std::string text;                  // "text1 - text2", shown nowhere
    std::array<uint8_t, 4> version{};  // a.b.c.d; a is the hardware type
    uint32_t configBase = 0;
    bool identified = false;
};

// Decodes a Status payload (all fields but identified); nullopt when shorter than 45 bytes.
std::optional<DeviceInfo> decodeStatus(std::span<const uint8_t> payload);

// "Vek v%d.%d.%d.%d\r\nId: %.8X %.8X %.8X"
std::string versionAndIdText(const DeviceInfo& info);

enum class DeviceAction {
    None,                  // unknown hardware: the version line only
    DiscontinuedThenRead,  // types 1 and 2: red warning, configuration read
    UploadFirmware,        // types 3, 4, 41 with firmware older than the carried one
    UpToDateThenRead,      // types 3, 4, 41 with current firmware
};

// The decision taken on a bootloader-mode status from version a.b.c.d.
DeviceAction decideDeviceAction(const std::array<uint8_t, 4>& version);

// Whether the hardware type takes the carried firmware image.
bool takesCarriedFirmware(uint8_t hardwareType);

}  // namespace vek
