#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/DeviceStatus.h"
#include "sim/FaultInjector.h"
#include "sim/SimModel.h"

namespace vek {

struct SimReply {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

// What the box does about one frame from the tool: its replies and, when worth a log line, what
// happened.
struct SimOutcome {
    std::vector<SimReply> replies;
    std::string event;
    bool hangUp = false;         // the box drops off the bus instead of answering
    bool firmwareTaken = false;  // a whole image was taken: the box restarts with it
};

// The box's side of the protocol with no I/O: the status it reports, the reassembly of
// transfers, the configuration store and the jump. Not thread-safe; the box serialises its use.
class SimResponder {
  public:
    explicit SimResponder(SimModel model) : model_(std::move(model)) {}

    // faults decides refusals and silence of transfer packets.
    SimOutcome handle(uint8_t type, std::span<const uint8_t> payload, FaultInjector& faults);

    std::array<uint8_t, kStatusPayloadSize> statusPayload() const;
    void countStatus() { ++stats_.statusesSent; }

    const SimModel& model() const { return model_; }
    void setModel(const SimModel& model) { model_ = model; }
    const SimStats& stats() const { return stats_; }
    const std::vector<uint8_t>& firmwareReceived() const { return firmware_; }

  private:
    // The transfer being received: one at a time, of either kind.
    struct Reassembly {
        bool active = false;
        uint8_t kind = 0;
        uint16_t transferNo = 0;
        uint16_t packetCount = 0;
        uint16_t lastAccepted = 0;
        std::vector<uint8_t> block;
    };

    SimOutcome onTransferPacket(uint8_t kind, std::span<const uint8_t> payload,
                                FaultInjector& faults);
    SimOutcome finishTransfer(std::span<const uint8_t> closing);
    SimOutcome onConfigRead(std::span<const uint8_t> payload);
    SimOutcome onJump();

    SimModel model_;
    SimStats stats_;
    Reassembly rx_;
    std::vector<uint8_t> firmware_;
};

}  // namespace vek
