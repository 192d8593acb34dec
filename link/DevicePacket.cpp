#include "link/DevicePacket.h"

#include <algorithm>
#include <numeric>

namespace vek {

namespace {

constexpr std::size_t kChecksumSize = kFrameOverhead - kHeaderSize;

uint32_t byteSum(std::span<const uint8_t> bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), uint32_t{0});
}

}  // namespace

std::size_t encodePacketInto(uint8_t type, std::span<const uint8_t> payload, std::span<uint8_t> out,
                             uint8_t address) {
    const std::size_t size = payload.size() + kFrameOverhead;
    if (payload.size() > 0xFFFF || out.size() < size)
        return 0;
    uint8_t* p = out.data();
    p[0] = kStartByte;
    p[1] = address;
    p[2] = type;
    writeBE16(p + 3, uint32_t(payload.size()));
    std::copy(payload.begin(), payload.end(), p + kHeaderSize);
    const std::size_t summed = kHeaderSize + payload.size();
    writeBE24(p + summed, byteSum(out.first(summed)));
    return size;
}

std::vector<uint8_t> encodePacket(uint8_t type, std::span<const uint8_t> payload, uint8_t address) {
    std::vector<uint8_t> frame(payload.size() + kFrameOverhead);
    frame.resize(encodePacketInto(type, payload, frame, address));
    return frame;
}

DecodedPacket decodePacket(std::span<const uint8_t> bytes, uint8_t ownAddress) {
    DecodedPacket packet;
    if (bytes.size() < kFrameOverhead)
        return packet;
    const uint8_t* p = bytes.data();
    packet.type = p[2];
    packet.length = readBE16(p + 3);
    const std::size_t summed = kHeaderSize + packet.length;
    if (p[0] != kStartByte) {
        packet.outcome = DecodeOutcome::BadStart;
    } else if (summed > kReceiveLimit) {
        packet.outcome = DecodeOutcome::TooLong;
    } else if (summed + kChecksumSize > bytes.size()) {
        // Never sum bytes that were not received.
        packet.outcome = DecodeOutcome::Incomplete;
    } else if (byteSum(bytes.first(summed)) != readBE24(p + summed)) {
        packet.outcome = DecodeOutcome::BadChecksum;
    } else if ((p[1] & 0x0F) != (ownAddress & 0x0F)) {
        packet.outcome = DecodeOutcome::BadDestination;
    } else {
        packet.outcome = DecodeOutcome::Accepted;
        packet.payload = bytes.subspan(kHeaderSize, packet.length);
        packet.trailingBytes = bytes.size() > summed + kChecksumSize;
    }
    return packet;
}

}  // namespace vek
