#include "config/ConfigRead.h"

#include <algorithm>
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

void beginConfigRead(TransferState& t) {
    t.PacketCount = kConfigReadCount;
    t.AckedNo = kNoPacketAcked;
    t.PacketNo = 0;
    t.Nacks = t.Code10 = t.Code15 = t.Code20 = 0;
}

ReadReplyOutcome takeReadReply(TransferState& t, ConfigBlockBytes& readBack,
                               std::span<const uint8_t> payload, uint32_t base) {
    const auto reply = parseConfigReply(payload, base);
    if (!reply)
        return ReadReplyOutcome::Ignored;
    std::copy(reply->data.begin(), reply->data.end(), readBack.begin() + reply->offset);
    t.AckedNo = reply->offset / kConfigChunk + 1;
    if (t.AckedNo >= t.PacketCount)
        return ReadReplyOutcome::Complete;
    t.ReplyFlag = true;
    return ReadReplyOutcome::MoreToRead;
}

}  // namespace vek
