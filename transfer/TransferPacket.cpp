#include "transfer/TransferState.h"

#include <algorithm>

#include "link/DevicePacket.h"

namespace vek {

namespace {

constexpr std::size_t kPacketHeader = 6;  // transfer number, packet number, packet count

}  // namespace

uint32_t transferPacketCount(uint32_t length) {
    return length / kDataPerPacket + (length % kDataPerPacket != 0) + 1;
}

std::size_t buildTransferPacket(const TransferState& state, std::span<uint8_t> out) {
    const uint32_t n = state.PacketNo;
    if (n == 0 || n > state.PacketCount)
        return 0;

    // Data bytes: the closing bytes for the last packet, else the packet's share of the block.
    std::span<const uint8_t> data(state.Closing);
    if (n < state.PacketCount) {
        const uint64_t offset = uint64_t(n - 1) * kDataPerPacket;
        // A count that does not fit the length must not read outside the block.
        if (state.Block == nullptr || offset >= state.Length)
            return 0;
        data = {state.Block + offset, std::min<std::size_t>(kDataPerPacket, state.Length - offset)};
    }

    std::array<uint8_t, kPacketHeader + kDataPerPacket> payload;
    writeBE16(payload.data(), uint32_t(state.TransferNo));
    writeBE16(payload.data() + 2, n);
    writeBE16(payload.data() + 4, state.PacketCount);
    std::copy(data.begin(), data.end(), payload.begin() + kPacketHeader);
    return encodePacketInto(uint8_t(state.Kind),
                            std::span(payload).first(kPacketHeader + data.size()), out);
}

}  // namespace vek
