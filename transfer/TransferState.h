#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vek {

inline constexpr uint32_t kDataPerPacket = 48;
inline constexpr uint32_t kNoPacketAcked = 0xFFFFFF;  // no packet number reaches it

// The one running block transfer; the configuration read reuses the packet and counter fields.
struct TransferState {
    int32_t Kind = 0;  // low byte is the packet type: 1 firmware, 6 configuration
    uint32_t Length = 0;
    std::array<uint8_t, 5> Closing{};
    uint32_t PacketCount = 0;
    uint32_t PacketNo = 0;
    int32_t TransferNo = 0;
    int32_t RetryTicks = 0;
    int32_t Nacks = 0;
    int32_t Code10 = 0;
    int32_t Code15 = 0;
    int32_t Code20 = 0;
    uint32_t AckedNo = 0;
    bool ReplyFlag = false;
    const uint8_t* Block = nullptr;  // not owned; must stay in place until the transfer ends
};

// ceil(length / 48) data packets plus the closing packet.
uint32_t transferPacketCount(uint32_t length);

// Builds packet state.PacketNo of the transfer into out (at least 62 bytes); returns its size.
// Returns 0, writing nothing, for a number outside 1..PacketCount, a data packet that the block
// does not hold (a count that does not fit Length) or an out too small.
std::size_t buildTransferPacket(const TransferState& state, std::span<uint8_t> out);

}  // namespace vek
