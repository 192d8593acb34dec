#include "link/DeviceStatus.h"

#include <algorithm>
#include <cstdio>

#include "link/DevicePacket.h"

namespace vek {

namespace {

constexpr std::size_t kTextField = 12;

// A text field of the status: up to its first zero byte, at most the whole field.
std::string fieldText(const uint8_t* field) {
    const uint8_t* end = std::find(field, field + kTextField, uint8_t{0});
    return std::string(field, end);
}

}  // namespace

std::optional<DeviceInfo> decodeStatus(std::span<const uint8_t> payload) {
    if (payload.size() < kStatusPayloadSize)
        return std::nullopt;
    const uint8_t* p = payload.data();
    DeviceInfo info;
    info.mode = p[0];
    // The word that arrives last is shown first.
    info.id = {readBE32(p + 9), readBE32(p + 5), readBE32(p + 1)};
    info.text = fieldText(p + 13) + " - " + fieldText(p + 25);
    std::copy(p + 37, p + 41, info.version.begin());
    info.configBase = readBE32(p + 41);
    return info;
}

std::string versionAndIdText(const DeviceInfo& info) {
    char text[64];
    const int size =
        std::snprintf(text, sizeof text, "Vek v%d.%d.%d.%d\r\nId: %.8X %.8X %.8X", info.version[0],
                      info.version[1], info.version[2], info.version[3], unsigned(info.id[0]),
                      unsigned(info.id[1]), unsigned(info.id[2]));
    return std::string(text, std::size_t(size));
}

DeviceAction decideDeviceAction(const std::array<uint8_t, 4>& version) {
    const uint8_t type = version[0];
    if (type == 1 || type == 2)
        return DeviceAction::DiscontinuedThenRead;
    if (!takesCarriedFirmware(type))
        return DeviceAction::None;
    const uint8_t c = version[2];
    const uint8_t d = version[3];
    // 255.255 (no valid firmware) and 99.x take the upload although they lie above 2.36.
    const bool older = (c == 255 && d == 255) || c == 99 || c < 2 || (c == 2 && d < 36);
    return older ? DeviceAction::UploadFirmware : DeviceAction::UpToDateThenRead;
}

bool takesCarriedFirmware(uint8_t hardwareType) {
    return hardwareType == 3 || hardwareType == 4 || hardwareType == 41;
}

}  // namespace vek
