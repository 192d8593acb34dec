#include "sim/SimResponder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "link/DevicePacket.h"
#include "transfer/FirmwareImage.h"
#include "transfer/TransferState.h"

namespace vek {

namespace {

constexpr std::size_t kTransferHeader = 6;  // transfer number, packet number, packet count
constexpr std::size_t kClosingSize = 5;
constexpr std::size_t kTextSize = 12;
constexpr std::size_t kReadReplyHeader = 6;
constexpr uint32_t kProgressEvery = 100;  // packets between progress events
// The longest reply data that still make a frame the tool takes.
constexpr uint32_t kMaxReadData = kReceiveLimit - kHeaderSize - kReadReplyHeader;

SimReply ackOf(uint16_t packetNo) {
    SimReply reply{Ack, std::vector<uint8_t>(2)};
    writeBE16(reply.payload.data(), packetNo);
    return reply;
}

// Data bytes that packet n of count must carry: 48, the rest of the block, or the closing bytes.
bool carriesItsShare(uint32_t n, uint32_t count, std::size_t size) {
    if (n == 0 || n > count)
        return false;
    if (n == count)
        return size == kClosingSize;
    if (n == count - 1)
        return size >= 1 && size <= kDataPerPacket;
    return size == kDataPerPacket;
}

const char* kindName(uint8_t kind) {
    return kind == FwData ? "firmware" : "configuration";
}

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
    char text[160];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

}  // namespace

SimOutcome SimResponder::handle(uint8_t type, std::span<const uint8_t> payload,
                                FaultInjector& faults) {
    switch (type) {
        case FwData:
        case ConfigData:
            return onTransferPacket(type, payload, faults);
        case ConfigRead:
            return onConfigRead(payload);
        case Jump:
            return onJump();
        default:
            return {};
    }
}

SimOutcome SimResponder::onTransferPacket(uint8_t kind, std::span<const uint8_t> payload,
                                          FaultInjector& faults) {
    if (payload.size() < kTransferHeader) {
        ++stats_.packetsIgnored;
        return {};
    }
    ++(kind == FwData ? stats_.fwPacketsReceived : stats_.configPacketsReceived);
    const uint16_t transferNo = readBE16(&payload[0]);
    const uint16_t n = readBE16(&payload[2]);
    const uint16_t count = readBE16(&payload[4]);
    const auto data = payload.subspan(kTransferHeader);
    const SimFaults& f = faults.faults();
    if (faults.hangsUpAt(n)) {
        ++stats_.hangUps;
        return {{}, format("hung up at %s packet %u", kindName(kind), n), true};
    }
    if (f.silentFromPacket != 0 && n >= f.silentFromPacket) {
        ++stats_.packetsIgnored;
        return {};
    }

    const bool sameTransfer =
        rx_.active && rx_.kind == kind && rx_.transferNo == transferNo && rx_.packetCount == count;
    if (sameTransfer && n == rx_.lastAccepted) {
        // The tool missed our answer: acknowledge again, store nothing twice.
        ++(kind == FwData ? stats_.fwRepeatsSeen : stats_.configRepeatsSeen);
        return {{ackOf(n)}, {}};
    }
    // Packet 1 opens a transfer, even one under the same number (a restart); any other packet
    // must be the next one of the running transfer.
    const bool inOrder = n == 1 || (sameTransfer && n == rx_.lastAccepted + 1);
    if (!inOrder || !carriesItsShare(n, count, data.size())) {
        ++stats_.packetsIgnored;
        return {};
    }
    if (faults.chance(f.nackInstead)) {
        ++stats_.nacksSent;
        return {{{Nack, {}}}, {}};
    }

    std::string event;
    if (n == 1) {
        rx_ = {true, kind, transferNo, count, 0, {}};
        event = format("%s transfer 0x%04X begun: %u packets", kindName(kind), transferNo, count);
    } else if (n % kProgressEvery == 0) {
        // Where a transfer stands, for whoever pulls the cable at a chosen packet.
        event = format("%s packet %u of %u accepted", kindName(kind), n, count);
    }
    if (n == count)
        return finishTransfer(data);
    rx_.block.insert(rx_.block.end(), data.begin(), data.end());
    rx_.lastAccepted = n;
    ++(kind == FwData ? stats_.fwPacketsAccepted : stats_.configPacketsAccepted);
    return {{ackOf(n)}, event};
}

SimOutcome SimResponder::finishTransfer(std::span<const uint8_t> closing) {
    const auto expected = closingBytesOf(rx_.block.data(), rx_.block.size());
    const bool isFirmware = rx_.kind == FwData;
    const bool sound = std::equal(closing.begin(), closing.end(), expected.begin()) &&
                       (isFirmware || rx_.block.size() == kConfigBlockSize);
    if (!sound) {
        ++stats_.nacksSent;
        return {{{Nack, {}}},
                format("%s transfer 0x%04X refused: %zu bytes do not match their closing bytes",
                       kindName(rx_.kind), rx_.transferNo, rx_.block.size())};
    }
    rx_.lastAccepted = rx_.packetCount;
    const std::size_t size = rx_.block.size();
    if (isFirmware) {
        ++stats_.fwPacketsAccepted;
        ++stats_.firmwareImagesCompleted;
        firmware_ = std::move(rx_.block);
        model_.version[2] = model_.carriedFirmware[0];
        model_.version[3] = model_.carriedFirmware[1];
    } else {
        ++stats_.configPacketsAccepted;
        ++stats_.configWritesCompleted;
        std::copy(rx_.block.begin(), rx_.block.end(), model_.store.begin());
    }
    rx_.block.clear();
    // Said where the box's log is all a test through a real driver can see of what arrived.
    const char* imageCheck = "";
    if (isFirmware) {
        const auto carried = FirmwareImage();
        imageCheck = std::equal(firmware_.begin(), firmware_.end(), carried.begin(), carried.end())
                         ? ", the carried image byte for byte"
                         : ", not the carried image";
    }
    return {{ackOf(rx_.packetCount)},
            format("%s transfer 0x%04X completed: %zu bytes%s", kindName(rx_.kind), rx_.transferNo,
                   size, imageCheck),
            false,
            isFirmware};
}

SimOutcome SimResponder::onConfigRead(std::span<const uint8_t> payload) {
    if (payload.size() < kReadReplyHeader)
        return {};
    const uint32_t address = readBE32(&payload[0]);
    const uint32_t count = readBE16(&payload[4]);
    // Below the base the difference wraps far beyond the store.
    const uint32_t offset = address - model_.configBase;
    ++stats_.configReadRequests;
    stats_.readOffsets.push_back(offset);
    stats_.readCounts.push_back(count);
    if (offset >= kConfigBlockSize)
        return {{},
                format("read of %u bytes at 0x%08X outside the store: no answer", count, address)};

    const uint32_t k = std::min({count, uint32_t(kConfigBlockSize) - offset, kMaxReadData});
    SimReply reply{ConfigRead, std::vector<uint8_t>(kReadReplyHeader + k)};
    writeBE32(&reply.payload[0], address);
    writeBE16(&reply.payload[4], k);
    std::copy_n(model_.store.begin() + offset, k, reply.payload.begin() + kReadReplyHeader);
    return {{std::move(reply)}, format("read of %u bytes at offset %u: %u sent", count, offset, k)};
}

SimOutcome SimResponder::onJump() {
    model_.mode = 0;
    ++stats_.jumps;
    return {{}, "jump: now in operating mode"};
}

std::array<uint8_t, kStatusPayloadSize> SimResponder::statusPayload() const {
    std::array<uint8_t, kStatusPayloadSize> p{};
    p[0] = model_.mode;
    // The word shown first travels last.
    writeBE32(&p[1], model_.id[2]);
    writeBE32(&p[5], model_.id[1]);
    writeBE32(&p[9], model_.id[0]);
    const auto putText = [&](const std::string& text, std::size_t at) {
        std::copy_n(text.begin(), std::min(text.size(), kTextSize), p.begin() + at);
    };
    putText(model_.text1, 13);
    putText(model_.text2, 25);
    std::copy(model_.version.begin(), model_.version.end(), p.begin() + 37);
    writeBE32(&p[41], model_.configBase);
    return p;
}

}  // namespace vek
