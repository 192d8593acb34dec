#include "cli/BoxLink.h"

#include "cli/ExitCode.h"
#include "config/ConfigRead.h"
#include "link/BoxLine.h"
#include "serial/OpenFailure.h"
#include "transfer/Pacer.h"

namespace vek {

namespace {
using Clock = std::chrono::steady_clock;

// The window's report on one line: "A operação não foi concluida! (Nacks = 0, Code10 = 1, ...)".
std::string oneLine(const std::string& report) {
    std::string line;
    std::size_t from = 0, at = 0;
    for (int part = 0; (at = report.find("\r\n", from)) != std::string::npos; ++part) {
        line += report.substr(from, at - from) + (part == 0 ? " (" : ", ");
        from = at + 2;
    }
    line += report.substr(from);
    return from > 0 ? line + ")" : line;
}

Clock::duration intervalOf(bool transfer) {
    return transfer ? kTransferStepInterval : kReadStepInterval;
}
}  // namespace

BoxLink::BoxLink(const std::string& port, const TComSignal& stop, PaceLoop* loop)
    : stop_(stop), loop_(loop) {
    setBoxLineSettings(port_);
    port_.Events = 0;
    port_.Port = port;
    port_.Open();
    port_.ClearBuffer(true, true);
}

BoxLink::~BoxLink() = default;

void BoxLink::throwIfStopped() const {
    if (stop_.raised())
        throw Interrupted();
}

std::string BoxLink::atPacket() const {
    return " no pacote " + std::to_string(state_.PacketNo) + " de " +
           std::to_string(state_.PacketCount);
}

void BoxLink::portFailed(const EComPort& error, bool underWay) const {
    const std::string where = underWay ? atPacket() : "";
    const std::string reason = systemErrorText(error.SystemCode());
    throw CommandFailure(kExitLinkFailed, "port_lost",
                         deviceWentAway(error.SystemCode())
                             ? "o Vek foi desconectado" + where + " (" + reason + ")"
                             : "a porta falhou" + where + ": " + reason);
}

std::span<const uint8_t> BoxLink::readEvent() {
    std::size_t got = 0;
    for (;;) {
        got += std::size_t(port_.ReadArrived(rx_.data() + got, int(rx_.size() - got)));
        if (got < rx_.size())
            return std::span<const uint8_t>(rx_.data(), got);
        rx_.resize(rx_.size() * 2);  // more had arrived than the buffer held: all is one event
    }
}

std::optional<Announcement> BoxLink::waitForAnnouncement(std::chrono::milliseconds limit) try {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        throwIfStopped();
        const TComEvents events = port_.WaitForEvent(evRxChar, stop_, millisecondsUntil(deadline));
        throwIfStopped();
        if (events == 0)
            return std::nullopt;
        const DecodedPacket packet = decodePacket(readEvent());
        if (packet.outcome != DecodeOutcome::Accepted)
            continue;
        if (packet.type == OperatingMode)
            return Announcement{};
        if (packet.type == Status) {
            if (auto info = decodeStatus(packet.payload))
                return Announcement{std::move(info)};
        }
    }
} catch (const EComPort& error) {
    portFailed(error, false);
}

void BoxLink::transfer(uint8_t kind, std::span<const uint8_t> block,
                       const std::array<uint8_t, 5>& closing, const Progress& progress) {
    state_.Kind = kind;
    state_.Block = block.data();
    state_.Length = uint32_t(block.size());
    state_.Closing = closing;
    beginTransfer(state_, shift_);
    try {
        pace(Pacing::Transfer, progress);
    } catch (const EComPort& error) {
        portFailed(error, true);
    }
}

ConfigBlockBytes BoxLink::readConfig(uint32_t base, const Progress& progress) {
    base_ = base;
    beginConfigRead(state_);
    try {
        pace(Pacing::Read, progress);
    } catch (const EComPort& error) {
        portFailed(error, true);
    }
    return readBack_;
}

void BoxLink::send(Pacing pacing) {
    const std::size_t size = pacing == Pacing::Transfer
                                 ? buildTransferPacket(state_, tx_)
                                 : buildConfigReadRequest(base_, state_.PacketNo, tx_);
    port_.Write(tx_.data(), int(size));
}

void BoxLink::step(Pacing pacing) {
    if (advancePacer(state_))
        send(pacing);
    switch (silentStepAction(state_)) {
        case SilentStepAction::Repeat:
            send(pacing);
            break;
        case SilentStepAction::GiveUp:
            if (pacing == Pacing::Transfer)
                throw LinkError(kTransferFailedTitle,
                                oneLine(transferFailureText(state_)) + atPacket());
            throw LinkError(kReadFailedTitle, kReadFailedText + atPacket());
        case SilentStepAction::Wait:
            break;
    }
}

bool BoxLink::receive(Pacing pacing) {
    const DecodedPacket packet = decodePacket(readEvent());
    const bool transfer = pacing == Pacing::Transfer;
    switch (countReceiveEvent(state_, packet)) {
        case ReceiveAction::StepNow:
            stepNow_ = transfer;
            return false;
        case ReceiveAction::Drop:
            return false;
        case ReceiveAction::Dispatch:
            break;
    }
    bool complete = false;
    switch (packet.type) {
        case Ack:
            switch (takeAck(state_, packet.payload)) {
                case AckOutcome::Advanced:
                    stepNow_ = transfer;
                    break;
                case AckOutcome::Completed:
                    complete = transfer;
                    break;
                case AckOutcome::Ignored:
                    break;
            }
            break;
        case Nack:
            ++state_.Nacks;
            stepNow_ = transfer;
            break;
        case ConfigRead:
            if (packet.payload.size() < 7)
                return false;
            switch (takeReadReply(state_, readBack_, packet.payload, base_)) {
                case ReadReplyOutcome::MoreToRead:
                    stepNow_ = !transfer;
                    break;
                case ReadReplyOutcome::Complete:
                    complete = !transfer;
                    break;
                case ReadReplyOutcome::Ignored:
                    break;
            }
            break;
        default:
            break;
    }
    countTrailingBytes(state_, packet);
    return complete;
}

void BoxLink::reportProgress() {
    // The whole count is reached only when the box confirms the end.
    const uint32_t done = pacing_ == Pacing::Transfer ? state_.PacketNo : state_.AckedNo;
    if (*progress_ && done != shown_ && done < state_.PacketCount)
        (*progress_)(shown_ = done, state_.PacketCount);
}

void BoxLink::pace(Pacing pacing, const Progress& progress) {
    pacing_ = pacing;
    progress_ = &progress;
    shown_ = 0;
    // The pacer's timer starts with the first send and keeps its beat: answers run steps in
    // between without moving it.
    step(pacing);
    nextTick_ = Clock::now() + intervalOf(pacing == Pacing::Transfer);
    if (loop_)
        loop_->drive(*this);
    else
        paceHere(*this, stop_);
}

bool BoxLink::advance(bool bytesArrived) {
    if (bytesArrived) {
        if (receive(pacing_)) {
            if (*progress_ && shown_ != state_.PacketCount)
                (*progress_)(state_.PacketCount, state_.PacketCount);
            return true;
        }
        if (std::exchange(stepNow_, false))
            step(pacing_);
    }
    if (Clock::now() >= nextTick_) {
        step(pacing_);
        const auto interval = intervalOf(pacing_ == Pacing::Transfer);
        nextTick_ += interval;
        if (nextTick_ <= Clock::now())
            nextTick_ = Clock::now() + interval;
    }
    reportProgress();
    return false;
}

}  // namespace vek
