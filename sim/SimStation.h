#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimBox.h"

namespace vek {

// Several simulated boxes, as on a bench's USB hub.
struct StationPlan {
    int boxes = 1;  // boxes in all
    // 0: all plugged in at the start; otherwise one more each interval.
    std::chrono::milliseconds plugEvery{0};
    // 0: never; otherwise each box is unplugged this long after it was plugged in.
    std::chrono::milliseconds unplugAfter{0};
    // Where links box0, box1, ... name the boxes' ports, for VEKTOOL_PORTS; none when empty.
    std::string portDir{};
    SimModel model{};  // the first box; box k reports the identifier's last word plus k
    SimFaults faults{};
    // Seeded from faults.seed: each box's firmware 2.30 or 2.36 and its store the default
    // preset's block, the Trevalo preset's or an invalid one.
    bool vary = false;
};

// What a box was when it was unplugged, or is now.
struct StationBox {
    std::array<uint32_t, 3> id{};
    std::string port;
    bool plugged = false;
    std::vector<uint8_t> firmware;  // the last complete image received
    ConfigBlockBytes store{};
    SimStats stats;
};

// Plugs boxes in and out on the plan's schedule from a thread of its own; one more serves every
// box plugged in. Thread-safe.
class SimStation {
  public:
    using EventSink = std::function<void(const std::string&)>;

    explicit SimStation(StationPlan plan);
    ~SimStation();  // unplugs every box
    SimStation(const SimStation&) = delete;
    SimStation& operator=(const SimStation&) = delete;

    // "box K plugged in on PATH" and "box K unplugged", on the station's thread.
    void setEventSink(EventSink sink);
    void start();
    // Waits until every box of the plan has been plugged in (and, if they are to be, unplugged).
    bool waitUntilDone(std::chrono::milliseconds limit);

    std::vector<StationBox> boxes() const;  // in plug-in order
    // The box's model when it is plugged in.
    static SimModel modelOf(const StationPlan& plan, int index);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vek
