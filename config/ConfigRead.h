#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "config/ConfigBlock.h"
#include "transfer/TransferState.h"

namespace vek {

inline constexpr uint32_t kConfigChunk = 500;
inline constexpr uint32_t kConfigReadCount = 5;  // 2032 / 500 rounded up

// Builds ConfigRead request index (1..5) for the box's base address into out (>= 14 bytes).
std::size_t buildConfigReadRequest(uint32_t base, uint32_t index, std::span<uint8_t> out);

// Where a reply's data go in the read-back buffer, or nullopt when it must be ignored (payload
// under 7 bytes, count beyond the frame, data outside the 2032 bytes).
struct ConfigReply {
    uint32_t offset;
    std::span<const uint8_t> data;
};
std::optional<ConfigReply> parseConfigReply(std::span<const uint8_t> payload, uint32_t base);

// Sets up t for a read of the kConfigReadCount requests: nothing asked or answered, the
// counters at zero.
void beginConfigRead(TransferState& t);

// A reply against the running read: its data copied into readBack and AckedNo set. MoreToRead
// raises the reply flag (the next request is due); Complete means the last chunk has come.
enum class ReadReplyOutcome { Ignored, MoreToRead, Complete };
ReadReplyOutcome takeReadReply(TransferState& t, ConfigBlockBytes& readBack,
                               std::span<const uint8_t> payload, uint32_t base);

}  // namespace vek
