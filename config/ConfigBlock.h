#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "config/ConfigPanel.h"

namespace vek {

inline constexpr std::size_t kConfigBlockSize = 2032;
using ConfigBlockBytes = std::array<uint8_t, kConfigBlockSize>;

// The first field that the write refuses, in block order. field is empty for a choice list
// without selection (nothing to empty then).
struct ConfigRejection {
    std::optional<ConfigField> field;
    std::string message;  // "Parâmetro inválido!\r\n[...]"
};

struct EncodedConfig {
    ConfigBlockBytes block;
    std::array<uint8_t, 5> closing;  // XOR of the block, then its 32-bit sum big-endian
};

// The only RS232-A rate the box keeps: its read-back counts any other as an invalid block.
inline constexpr int kA232Kept = 1152;

// Every field that the write refuses, in block order (the first is the one the window names).
std::vector<ConfigRejection> configRejections(const PanelValues& panel);

// Checks and encodes the panel into the block; the first rejected field otherwise. Nothing that
// the read-back would count as invalid is encoded.
std::variant<EncodedConfig, ConfigRejection> encodeConfigBlock(const PanelValues& panel);

// The largest value the block can hold for a numeric field (one or two bytes).
uint32_t storedMaximum(ConfigField field);

// XOR byte then the 32-bit sum, big-endian, over bytes.
std::array<uint8_t, 5> closingBytesOf(const uint8_t* bytes, std::size_t size);

// What the read-back shows: each control's new value, or nullopt where it is left as it was
// (a list left unselected shows -1).
struct ReadBackGroup {
    std::optional<std::array<bool, 3>> buzzer;  // in, out, during; set in that order
    std::optional<std::array<bool, 2>> event;   // in, out
};

struct ReadBackDisplay {
    int pingIndex = -1, a232Index = -1, b232Index = -1;
    std::array<std::string, kConfigFieldCount> edits;  // decimal texts, indexed by ConfigField
    std::optional<bool> bzAcp, evAcp, bzAcn, evAcn;
    std::array<ReadBackGroup, 5> groups;  // indexed by AlertGroup
    int problems = 0;
};

// nullopt when the block is refused as a whole (magic, length, checksum): nothing is shown.
std::optional<ReadBackDisplay> decodeConfigBlock(const ConfigBlockBytes& block);

}  // namespace vek
