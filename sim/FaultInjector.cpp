#include "sim/FaultInjector.h"

#include "link/DevicePacket.h"

namespace vek {

namespace {
constexpr uint8_t kBoxToItself = (kBoxAddress << 4) | kBoxAddress;
constexpr uint32_t kMaxNoise = 8;
}  // namespace

void FaultInjector::setFaults(const SimFaults& faults) {
    faults_ = faults;
    rng_.seed(faults.seed);
    hungUp_ = false;
}

bool FaultInjector::hangsUpAt(uint32_t packetNo) {
    if (hungUp_ || faults_.hangUpAtPacket == 0 || packetNo != faults_.hangUpAtPacket)
        return false;
    hungUp_ = true;
    return true;
}

bool FaultInjector::chance(double probability) {
    if (probability <= 0)
        return false;
    if (probability >= 1)
        return true;
    return double(rng_()) < probability * double(std::mt19937::max());
}

std::vector<uint8_t> FaultInjector::noise(bool leading) {
    std::vector<uint8_t> bytes(1 + rng_() % kMaxNoise);
    for (uint8_t& b : bytes)
        b = uint8_t(rng_());
    // Noise in front must not look like the start of a frame.
    if (leading && bytes[0] == kStartByte)
        bytes[0] = uint8_t(~kStartByte);
    return bytes;
}

std::vector<TimedWrite> FaultInjector::shape(uint8_t type, std::span<const uint8_t> payload,
                                             bool isReply, SimClock::time_point now) {
    const bool faulty = isReply || faults_.statusesToo;
    const uint8_t address = faulty && faults_.wrongDestination ? kBoxToItself : kBoxToTool;
    std::vector<uint8_t> frame = encodePacket(type, payload, address);
    if (!faulty)
        return {{now, std::move(frame)}};
    if (chance(faults_.loseReply))
        return {};

    if (chance(faults_.corruptByte))
        frame[rng_() % frame.size()] ^= uint8_t(1 + rng_() % 255);
    if (chance(faults_.garbageBefore)) {
        const std::vector<uint8_t> head = noise(true);
        frame.insert(frame.begin(), head.begin(), head.end());
    }
    if (chance(faults_.trailingBytes)) {
        const std::vector<uint8_t> tail = noise(false);
        frame.insert(frame.end(), tail.begin(), tail.end());
    }
    const SimClock::time_point due = now + std::chrono::milliseconds(faults_.delayMs);
    if (!chance(faults_.splitReply))
        return {{due, std::move(frame)}};

    const auto cut = std::ptrdiff_t(1 + rng_() % (frame.size() - 1));
    return {
        {due, {frame.begin(), frame.begin() + cut}},
        {due + std::chrono::milliseconds(faults_.splitGapMs), {frame.begin() + cut, frame.end()}}};
}

}  // namespace vek
