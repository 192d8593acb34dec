#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vek {

// Packet type codes of the serial link.
enum PacketType : uint8_t {
    FwData = 1,
    Ack = 2,
    Nack = 3,
    Status = 4,
    Jump = 5,
    ConfigData = 6,
    ConfigRead = 7,
    OperatingMode = 11,
};

inline constexpr uint8_t kStartByte = 0xBC;
inline constexpr uint8_t kToolAddress = 2;
inline constexpr uint8_t kBoxAddress = 1;
inline constexpr uint8_t kToolToBox = (kToolAddress << 4) | kBoxAddress;  // 0x21
inline constexpr uint8_t kBoxToTool = (kBoxAddress << 4) | kToolAddress;  // 0x12
inline constexpr std::size_t kFrameOverhead = 8;  // start, address, type, length(2), sum(3)
inline constexpr std::size_t kHeaderSize = 5;
inline constexpr std::size_t kReceiveLimit = 1024;  // length + 5 may not exceed it
inline constexpr std::size_t kMaxToolFrame = 62;    // a full transfer packet

// Writes the frame of type and payload into out (at least payload.size() + 8 bytes) and returns
// its size. The address byte defaults to the tool's own (sender 2, receiver 1). Writes nothing
// and returns 0 when out is too small or the payload longer than 65535 bytes.
std::size_t encodePacketInto(uint8_t type, std::span<const uint8_t> payload, std::span<uint8_t> out,
                             uint8_t address = kToolToBox);
// Empty for a payload longer than 65535 bytes.
std::vector<uint8_t> encodePacket(uint8_t type, std::span<const uint8_t> payload,
                                  uint8_t address = kToolToBox);

enum class DecodeOutcome {
    TooShort,    // fewer than 8 bytes
    BadStart,    // first byte not 0xBC
    TooLong,     // length + 5 above 1024
    Incomplete,  // the frame reaches beyond the bytes received: handled like BadChecksum
    BadChecksum,
    BadDestination,  // receiver nibble is not ours
    Accepted,
};

struct DecodedPacket {
    DecodeOutcome outcome = DecodeOutcome::TooShort;
    uint8_t type = 0;
    uint16_t length = 0;
    std::span<const uint8_t> payload;  // views into the bytes given
    bool trailingBytes = false;        // more bytes than the one frame were received
};

// Checks the bytes of one receive event as one frame, in the link's order of checks. Never reads
// beyond bytes. ownAddress is the receiver nibble that counts as ours (the tool's by default).
DecodedPacket decodePacket(std::span<const uint8_t> bytes, uint8_t ownAddress = kToolAddress);

// Big-endian reads and writes of unsigned fields; the caller guarantees the bytes are there.
inline uint16_t readBE16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
inline uint32_t readBE24(const uint8_t* p) {
    return (uint32_t(p[0]) << 16) | (p[1] << 8) | p[2];
}
inline uint32_t readBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void writeBE16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void writeBE24(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}
inline void writeBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace vek
