#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "sim/SimFaults.h"

namespace vek {

using SimClock = std::chrono::steady_clock;

// One write to the port, not before due.
struct TimedWrite {
    SimClock::time_point due;
    std::vector<uint8_t> bytes;
};

// The one place where the box's frames meet its faults: turns each frame into the writes that
// carry it. Not thread-safe; the box serialises its use.
class FaultInjector {
  public:
    explicit FaultInjector(const SimFaults& faults = {}) { setFaults(faults); }

    void setFaults(const SimFaults& faults);  // restarts the generator from faults.seed
    const SimFaults& faults() const { return faults_; }

    // True with the given probability; draws nothing for 0 or 1.
    bool chance(double probability);
    // True the first time the hang-up packet comes after the faults were set: a box that comes
    // back takes the whole transfer again.
    bool hangsUpAt(uint32_t packetNo);

    // The writes for a frame of type and payload; replies take every fault, statuses only
    // when statusesToo is set.
    std::vector<TimedWrite> shape(uint8_t type, std::span<const uint8_t> payload, bool isReply,
                                  SimClock::time_point now);

  private:
    std::vector<uint8_t> noise(bool leading);

    SimFaults faults_;
    std::mt19937 rng_;
    bool hungUp_ = false;
};

}  // namespace vek
