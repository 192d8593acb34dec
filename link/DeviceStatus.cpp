#include "link/DeviceStatus.h"

#include <algorithm>
#include <cctype>
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

std::string versionText(const std::array<uint8_t, 4>& version) {
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

std::string identifierText(const std::array<uint32_t, 3>& id, char separator) {
    char text[32];
    const int size = std::snprintf(text, sizeof text, "%.8X%c%.8X%c%.8X", unsigned(id[0]),
                                   separator, unsigned(id[1]), separator, unsigned(id[2]));
    return std::string(text, std::size_t(size));
}

std::string versionAndIdText(const DeviceInfo& info) {
    return "Vek v" + versionText(info.version) + "\r\nId: " + identifierText(info.id, ' ');
}

std::optional<std::array<uint32_t, 3>> parseIdentifier(std::string_view text) {
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // A separator only between two groups of eight.
        if ((c == '-' || c == ' ') && (digits.size() == 8 || digits.size() == 16) && i > 0 &&
            std::isxdigit(static_cast<unsigned char>(text[i - 1])))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        digits += c;
    }
    if (digits.size() != 24)
        return std::nullopt;
    std::array<uint32_t, 3> id{};
    for (std::size_t w = 0; w < 3; ++w)
        id[w] = uint32_t(std::stoul(digits.substr(w * 8, 8), nullptr, 16));
    return id;
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
    const auto [carriedC, carriedD] = kCarriedFirmware;
    const bool older =
        (c == 255 && d == 255) || c == 99 || c < carriedC || (c == carriedC && d < carriedD);
    return older ? DeviceAction::UploadFirmware : DeviceAction::UpToDateThenRead;
}

bool takesCarriedFirmware(uint8_t hardwareType) {
    return hardwareType == 3 || hardwareType == 4 || hardwareType == 41;
}

}  // namespace vek
