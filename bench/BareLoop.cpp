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
#include "config/Presets.h"
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
        while (size > 0) {
            const ssize_t n = ::write(fd_, bytes, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            bytes += n;
            size -= std::size_t(n);
        }
        return true;
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
        while (size > 0) {
            const ssize_t n = ::read(fd_, out, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            out += n;
            size -= std::size_t(n);
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

RunFigures transfer(BareLink& link, TransferState& t) {
    RunFigures run;
    std::array<uint8_t, kMaxToolFrame> out{};
    t.PacketCount = transferPacketCount(t.Length);
    t.TransferNo = kBenchTransferNo;
    const Instant start = Instant::now();
    for (uint32_t n = 1; n <= t.PacketCount; ++n) {
        t.PacketNo = n;
        const std::size_t size = buildTransferPacket(t, out);
        if (!link.send(out.data(), size)) {
            run.failure = "write failed";
            return run;
        }
        const std::size_t got = link.receive();
        const DecodedPacket ack = decodePacket({link.frame(), got});
        if (ack.outcome != DecodeOutcome::Accepted || ack.type != Ack || ack.payload.size() < 2 ||
            readBE16(ack.payload.data()) != n) {
            run.failure = "packet " + std::to_string(n) + " not acknowledged";
            return run;
        }
        run.wireBytes += size + got;
        ++run.exchanges;
    }
    run.between(start, Instant::now());
    run.ok = true;
    return run;
}

RunFigures configRead(BareLink& link, uint32_t base) {
    RunFigures run;
    std::array<uint8_t, kMaxToolFrame> out{};
    const Instant start = Instant::now();
    for (uint32_t index = 1; index <= kConfigReadCount; ++index) {
        const std::size_t size = buildConfigReadRequest(base, index, out);
        if (!link.send(out.data(), size)) {
            run.failure = "write failed";
            return run;
        }
        const std::size_t got = link.receive();
        const DecodedPacket reply = decodePacket({link.frame(), got});
        if (reply.outcome != DecodeOutcome::Accepted || reply.type != ConfigRead ||
            !parseConfigReply(reply.payload, base)) {
            run.failure = "request " + std::to_string(index) + " not answered";
            return run;
        }
        run.wireBytes += size + got;
        ++run.exchanges;
    }
    run.between(start, Instant::now());
    run.ok = true;
    return run;
}

}  // namespace

ConfigBlockBytes defaultConfig() {
    return std::get<EncodedConfig>(encodeConfigBlock(presetPanel(defaultPreset()))).block;
}

SimModel outdatedBox() {
    SimModel model;
    model.version = {3, 0, 2, 30};
    model.configBase = 0x0800F000;
    model.store = defaultConfig();
    model.statusIntervalMs = 20;
    return model;
}

SimModel currentBox() {
    SimModel model = outdatedBox();
    model.version = {3, 0, 2, 36};
    return model;
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
    const ConfigBlockBytes block = defaultConfig();
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
