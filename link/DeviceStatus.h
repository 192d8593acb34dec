#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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
// The identifier's three words as eight upper-case hex digits each, joined by separator.
std::string identifierText(const std::array<uint32_t, 3>& id, char separator);
// An identifier as a technician types it: 24 hex digits, in groups of eight that may be
// separated by dashes or spaces; nullopt for anything else.
std::optional<std::array<uint32_t, 3>> parseIdentifier(std::string_view text);
std::string versionText(const std::array<uint8_t, 4>& version);  // "a.b.c.d"

// What the box is told and told about, by the window and the command line alike.
inline constexpr std::array<const char*, 5> kOperatingModeNotice{
    "O Vek foi detectado em modo de operação!", "1-Desconectar todos os chicotes",
    "2-Conectar apenas o cabo USB", "3-Aguardar o Windows criar a porta (5 segundos)",
    "4-Rodar o VekTool e abrir a porta COM criada"};
inline constexpr const char* kDiscontinuedWarning =
    "Essa versão do vek está descontinuada, entre em contato com a Norvane para mais "
    "informações!";
inline constexpr const char* kUpToDateText = "O Vek está atualizado!";

// The firmware version c.d of the carried image: older firmware takes the upload.
inline constexpr std::array<uint8_t, 2> kCarriedFirmware{2, 36};

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
