#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/PaceLoop.h"
#include "config/ConfigBlock.h"
#include "link/DevicePacket.h"
#include "link/DeviceStatus.h"
#include "serial/ComPort.h"
#include "serial/ComSignal.h"
#include "serial/EComPort.h"
#include "transfer/TransferNumber.h"
#include "transfer/TransferState.h"

namespace vek {

// A transfer or read that ended in the window's error report: its title ("ERRO #0x02") and
// its text on one line, the counters and the packet where it stopped included.
class LinkError : public std::runtime_error {
  public:
    LinkError(std::string title, const std::string& text)
        : std::runtime_error(text), title_(std::move(title)) {}
    const std::string& title() const { return title_; }

  private:
    std::string title_;
};

// How the box made itself known: its status, or an operating-mode packet alone.
struct Announcement {
    std::optional<DeviceInfo> status;
    bool operatingMode() const { return !status || status->mode == 0; }
};

// One box on one port, driven with blocking waits: the frames, the pacing, the repeats and the
// reports of the window, without a window. The port has no event thread; each wait for bytes is
// one receive event, taken as one frame as the window takes it. A transfer or read is paced on the
// calling thread, or with a loop on the loop's thread while the caller waits. Every wait ends at
// once when stop is raised, with Interrupted. A port that fails once open (the box unplugged)
// comes as CommandFailure "port_lost", in the technician's words with the packet reached.
class BoxLink final : private Paced {
  public:
    using Progress = std::function<void(uint32_t done, uint32_t total)>;

    // Opens the port at the box's line settings and discards what waits in it.
    BoxLink(const std::string& port, const TComSignal& stop, PaceLoop* loop = nullptr);
    ~BoxLink();  // closes the port
    BoxLink(const BoxLink&) = delete;
    BoxLink& operator=(const BoxLink&) = delete;

    // The box's next status or operating-mode packet, nullopt when none came within limit.
    std::optional<Announcement> waitForAnnouncement(std::chrono::milliseconds limit);
    // Sends a block as a transfer of kind (FwData or ConfigData) until the box accepts its closing
    // packet; LinkError on ten silent steps.
    void transfer(uint8_t kind, std::span<const uint8_t> block,
                  const std::array<uint8_t, 5>& closing, const Progress& progress);
    // Reads the stored configuration block from base in its five requests; LinkError on silence.
    ConfigBlockBytes readConfig(uint32_t base, const Progress& progress);

    // For the fault tests: the reception counters of the last transfer or read.
    const TransferState& transferState() const { return state_; }

  private:
    enum class Pacing { Transfer, Read };
    void pace(Pacing pacing, const Progress& progress);
    TComPort& port() override { return port_; }
    Clock::time_point nextTick() const override { return nextTick_; }
    bool advance(bool bytesArrived) override;
    void reportProgress();
    void step(Pacing pacing);
    void send(Pacing pacing);
    // One receive event; true when the transfer or read is complete.
    bool receive(Pacing pacing);
    std::span<const uint8_t> readEvent();
    void throwIfStopped() const;
    std::string atPacket() const;  // " no pacote 900 de 1833"
    [[noreturn]] void portFailed(const EComPort& error, bool underWay) const;

    TComPort port_;
    const TComSignal& stop_;
    PaceLoop* const loop_;
    // The transfer or read under way.
    Pacing pacing_ = Pacing::Transfer;
    const Progress* progress_ = nullptr;
    Clock::time_point nextTick_{};
    uint32_t shown_ = 0;  // the progress last reported
    TransferState state_;
    ShiftCounter shift_;
    ConfigBlockBytes readBack_{};
    uint32_t base_ = 0;
    std::vector<uint8_t> rx_ = std::vector<uint8_t>(4096);
    std::array<uint8_t, kMaxToolFrame> tx_{};
    bool stepNow_ = false;
};

}  // namespace vek
