// The command line's flows: its link in this process, and `vekctl info` as a program.
#include <QProcess>
#include <atomic>
#include <chrono>

#include "bench/Flows.h"
#include "cli/BoxLink.h"
#include "link/DevicePacket.h"
#include "sim/SimBox.h"
#include "transfer/FirmwareImage.h"

namespace vek::bench {

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
}  // namespace

uint64_t transferWireBytes(uint32_t length) {
    constexpr uint64_t kAckFrame = kFrameOverhead + 2;
    const uint32_t full = length / kDataPerPacket;
    const uint32_t rest = length % kDataPerPacket;
    uint64_t bytes = uint64_t(full) * (kMaxToolFrame + kAckFrame);
    if (rest)
        bytes += kFrameOverhead + 6 + rest + kAckFrame;
    bytes += kFrameOverhead + 11 + kAckFrame;  // the closing packet
    return bytes;
}

RunFigures cliUpload() {
    SimBox box(outdatedBox());
    box.start();
    RunFigures run;
    run.exchanges = int(transferPacketCount(kFirmwareImageSize));
    run.wireBytes = transferWireBytes(kFirmwareImageSize);
    try {
        TComSignal stop;
        BoxLink link(box.portPath(), stop);
        if (!link.waitForAnnouncement(5s)) {
            run.failure = "no status";
            return run;
        }
        const Instant start = Instant::now();
        link.transfer(FwData, FirmwareImage(), FirmwareClosing(), {});
        run.between(start, Instant::now());
    } catch (const std::exception& e) {
        run.failure = e.what();
        return run;
    }
    run.ok = box.stats().fwPacketsAccepted == run.exchanges;
    if (!run.ok)
        run.failure = "the box accepted " + std::to_string(box.stats().fwPacketsAccepted);
    return run;
}

double cliInfoAfterFirstStatus(const std::string& vekctl) {
    SimModel model = fieldBox(36, 1000);
    SimBox box(model);
    std::atomic<int64_t> firstStatusNs{0};
    box.setEventSink([&](const std::string& event) {
        int64_t none = 0;
        if (event.starts_with("status sent"))
            firstStatusNs.compare_exchange_strong(
                none, Clock::now().time_since_epoch() / std::chrono::nanoseconds(1));
    });
    box.start();
    QProcess process;
    process.start(QString::fromStdString(vekctl),
                  {"info", "-q", "-p", QString::fromStdString(box.portPath())});
    if (!process.waitForFinished(10'000) || process.exitCode() != 0 || firstStatusNs == 0)
        return -1;
    const int64_t exitNs = Clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
    return double(exitNs - firstStatusNs) / 1e9;
}

}  // namespace vek::bench
