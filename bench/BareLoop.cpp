// The yardstick: the link's exchanges with nothing but two system calls each.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <thread>

#include "bench/Flows.h"
#include "config/ConfigRead.h"
#include "link/DevicePacket.h"
#include "sim/SimBox.h"
#include "transfer/FirmwareImage.h"
#include "transfer/TransferState.h"

namespace vek::bench {

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kBenchTransferNo = 0x5A5A;

// The slave side of the box's pseudo-terminal, blocking, each read bounded by two seconds of
// silence through the terminal's own timer (no poll in front of it).
class BareLink {
  public:
    explicit BareLink(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios t{};
        if (fd_ < 0 || tcgetattr(fd_, &t) != 0)
            return;
        cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 20;  // tenths of a second
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~BareLink() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    BareLink(const BareLink&) = delete;
    BareLink& operator=(const BareLink&) = delete;

    bool valid() const { return fd_ >= 0; }
    void discardInput() { tcflush(fd_, TCIFLUSH); }

    bool send(const uint8_t* bytes, std::size_t size) {
        return wholly(size,
                      [&](std::size_t done) { return ::write(fd_, bytes + done, size - done); });
    }

    // One whole frame into frame_; its size, or 0 on silence or a malformed header.
    std::size_t receive() {
        if (!readExactly(frame_.data(), kHeaderSize))
            return 0;
        const std::size_t size = readBE16(&frame_[3]) + kFrameOverhead;
        if (size > frame_.size() || !readExactly(frame_.data() + kHeaderSize, size - kHeaderSize))
            return 0;
        return size;
    }
    const uint8_t* frame() const { return frame_.data(); }

  private:
    bool readExactly(uint8_t* out, std::size_t size) {
        return wholly(size, [&](std::size_t done) { return ::read(fd_, out + done, size - done); });
    }

    // Repeats a read or a write until size bytes went through; false on an error or silence.
    template <typename Step>
    static bool wholly(std::size_t size, Step step) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = step(done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += std::size_t(n);
        }
        return true;
    }

    int fd_ = -1;
    std::array<uint8_t, kReceiveLimit + 3> frame_{};
};

// A box for the loop: no status of its own to get between a frame and its answer.
SimBox quietBox(SimModel model) {
    model.statusIntervalMs = 3'600'000;
    return SimBox(std::move(model));
}

// count exchanges, timed as a whole: frame n made by build, its answer judged by answered.
template <typename Build, typename Answered>
RunFigures exchanges(BareLink& link, uint32_t count, const std::string& what, Build build,
                     Answered answered) {
    RunFigures run;
    std::array<uint8_t, kMaxToolFrame> out{};
    const Instant start = Instant::now();
    for (uint32_t n = 1; n <= count; ++n) {
        const std::size_t size = build(n, out);
        if (!link.send(out.data(), size)) {
            run.failure = "write failed";
            return run;
        }
        const std::size_t got = link.receive();
        if (!answered(decodePacket({link.frame(), got}), n)) {
            run.failure = what + " " + std::to_string(n) + " not answered";
            return run;
        }
        run.wireBytes += size + got;
        ++run.exchanges;
    }
    run.between(start, Instant::now());
    run.ok = true;
    return run;
}

RunFigures transfer(BareLink& link, TransferState& t) {
    t.PacketCount = transferPacketCount(t.Length);
    t.TransferNo = kBenchTransferNo;
    return exchanges(
        link, t.PacketCount, "packet",
        [&](uint32_t n, std::span<uint8_t> out) {
            t.PacketNo = n;
            return buildTransferPacket(t, out);
        },
        [](const DecodedPacket& ack, uint32_t n) {
            return ack.outcome == DecodeOutcome::Accepted && ack.type == Ack &&
                   ack.payload.size() >= 2 && readBE16(ack.payload.data()) == n;
        });
}

RunFigures configRead(BareLink& link, uint32_t base) {
    return exchanges(
        link, kConfigReadCount, "request",
        [&](uint32_t index, std::span<uint8_t> out) {
            return buildConfigReadRequest(base, index, out);
        },
        [&](const DecodedPacket& reply, uint32_t) {
            return reply.outcome == DecodeOutcome::Accepted && reply.type == ConfigRead &&
                   parseConfigReply(reply.payload, base).has_value();
        });
}

}  // namespace

SimModel outdatedBox() {
    return fieldBox(30, 20);
}

SimModel currentBox() {
    return fieldBox(36, 20);
}

RunFigures bareRun(Flow flow) {
    const SimModel model = flow == Flow::FirmwareUpload ? outdatedBox() : currentBox();
    SimBox box = quietBox(model);
    box.start();
    BareLink link(box.portPath());
    if (!link.valid())
        return {false, "cannot open " + box.portPath() + ": " + std::strerror(errno)};
    // Until the box has seen the open; nothing is lost either way, but nothing is timed yet.
    std::this_thread::sleep_for(50ms);
    link.discardInput();

    TransferState t;
    std::array<uint8_t, 5> closing{};
    const ConfigBlockBytes block = defaultPresetBlock();
    switch (flow) {
        case Flow::ConfigRead:
            return configRead(link, model.configBase);
        case Flow::FirmwareUpload:
            t.Kind = FwData;
            t.Block = FirmwareImage().data();
            t.Length = kFirmwareImageSize;
            t.Closing = FirmwareClosing();
            break;
        case Flow::ConfigWrite:
            closing = closingBytesOf(block.data(), block.size());
            t.Kind = ConfigData;
            t.Block = block.data();
            t.Length = kConfigBlockSize;
            t.Closing = closing;
            break;
    }
    return transfer(link, t);
}

}  // namespace vek::bench
