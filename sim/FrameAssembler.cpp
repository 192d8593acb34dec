#include "sim/FrameAssembler.h"

#include <algorithm>

#include "link/DevicePacket.h"

namespace vek {

void FrameAssembler::feed(std::span<const uint8_t> bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void FrameAssembler::drop(std::size_t count) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(count));
    dropped_ += count;
}

void FrameAssembler::skipPartial() {
    if (!buffer_.empty())
        drop(1);
}

std::optional<StreamFrame> FrameAssembler::next() {
    for (;;) {
        const auto start = std::find(buffer_.begin(), buffer_.end(), kStartByte);
        drop(std::size_t(start - buffer_.begin()));
        if (buffer_.size() < kFrameOverhead)
            return std::nullopt;
        const std::size_t length = readBE16(&buffer_[3]);
        if (length + kHeaderSize > kReceiveLimit) {
            drop(1);
            continue;
        }
        const std::size_t size = length + kFrameOverhead;
        if (buffer_.size() < size)
            return std::nullopt;
        const DecodedPacket d = decodePacket({buffer_.data(), size}, ownAddress_);
        if (d.outcome == DecodeOutcome::Accepted) {
            StreamFrame frame{buffer_[1], d.type, {d.payload.begin(), d.payload.end()}};
            buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(size));
            return frame;
        }
        // A frame for someone else is whole and can go at once; any other failure may be a
        // stray start byte inside noise, so only that byte goes.
        drop(d.outcome == DecodeOutcome::BadDestination ? size : 1);
    }
}

}  // namespace vek
