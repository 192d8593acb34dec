#include "config/ConfigRead.h"

#include <array>

#include "config/ConfigBlock.h"
#include "link/DevicePacket.h"

namespace vek {

namespace {

constexpr uint32_t kLastChunk = kConfigBlockSize % kConfigChunk;
static_assert(kConfigReadCount == (kConfigBlockSize + kConfigChunk - 1) / kConfigChunk);

constexpr std::size_t kRequestSize = 6;
constexpr std::size_t kReplyHeader = 6;

}  // namespace

std::size_t buildConfigReadRequest(uint32_t base, uint32_t index, std::span<uint8_t> out) {
    std::array<uint8_t, kRequestSize> payload{};
    writeBE32(payload.data(), base + (index - 1) * kConfigChunk);
    const bool last = index >= kConfigReadCount && kLastChunk != 0;
    writeBE16(&payload[4], last ? kLastChunk : kConfigChunk);
    return encodePacketInto(ConfigRead, payload, out);
}

std::optional<ConfigReply> parseConfigReply(std::span<const uint8_t> payload, uint32_t base) {
    if (payload.size() <= kReplyHeader)
        return std::nullopt;
    const uint32_t address = readBE32(payload.data());
    const std::size_t count = readBE16(&payload[4]);
    if (count > payload.size() - kReplyHeader)
        return std::nullopt;
    // Data that would land outside the read-back buffer are not copied at all.
    if (address < base)
        return std::nullopt;
    const uint32_t offset = address - base;
    if (offset > kConfigBlockSize || count > kConfigBlockSize - offset)
        return std::nullopt;
    return ConfigReply{offset, payload.subspan(kReplyHeader, count)};
}

}  // namespace vek
