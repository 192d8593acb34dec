#include "transfer/Pacer.h"

#include <cstdio>

namespace vek {

namespace {
constexpr uint32_t kTransferNumberLimit = 0xFFFF;
}

void beginTransfer(TransferState& t, ShiftCounter& shift) {
    t.PacketCount = transferPacketCount(t.Length);
    t.AckedNo = kNoPacketAcked;
    t.PacketNo = 0;
    t.TransferNo = int32_t(NewTransferNumber(shift, kTransferNumberLimit));
    // RetryTicks and ReplyFlag keep their values: the first step resets them.
    t.Nacks = t.Code10 = t.Code15 = t.Code20 = 0;
}

bool advancePacer(TransferState& t) {
    if (!t.ReplyFlag && t.PacketNo != 0) {
        ++t.RetryTicks;
        return false;
    }
    if ((t.PacketNo == 0 || t.AckedNo == t.PacketNo) && t.PacketNo < t.PacketCount)
        ++t.PacketNo;
    // Cleared before the send, which may let an answer in: one handled then is not forgotten.
    t.ReplyFlag = false;
    t.RetryTicks = 0;
    return true;
}

SilentStepAction silentStepAction(const TransferState& t) {
    switch (t.RetryTicks) {
        case 3:
        case 5:
        case 7:
            return SilentStepAction::Repeat;
        case 10:
            return SilentStepAction::GiveUp;
        default:
            return SilentStepAction::Wait;
    }
}

ReceiveAction countReceiveEvent(TransferState& t, const DecodedPacket& packet) {
    switch (packet.outcome) {
        case DecodeOutcome::TooShort:
            ++t.Code10;
            return ReceiveAction::StepNow;
        case DecodeOutcome::BadStart:
            ++t.Code15;
            return ReceiveAction::Drop;
        case DecodeOutcome::Accepted:
            return ReceiveAction::Dispatch;
        case DecodeOutcome::TooLong:
        case DecodeOutcome::Incomplete:
        case DecodeOutcome::BadChecksum:
        case DecodeOutcome::BadDestination:
            break;
    }
    return ReceiveAction::Drop;
}

void countTrailingBytes(TransferState& t, const DecodedPacket& packet) {
    if (packet.trailingBytes)
        ++t.Code20;
}

AckOutcome takeAck(TransferState& t, std::span<const uint8_t> payload) {
    // No transfer was ever started in this run: there is nothing an Ack could complete.
    if (payload.size() < 2 || t.PacketCount == 0)
        return AckOutcome::Ignored;
    t.AckedNo = readBE16(payload.data());
    if (t.AckedNo >= t.PacketCount)
        return AckOutcome::Completed;
    t.ReplyFlag = true;
    return AckOutcome::Advanced;
}

std::string transferFailureText(const TransferState& t) {
    char text[160];
    const int size = std::snprintf(text, sizeof text,
                                   "A operação não foi concluida!\r\nNacks = %d\r\nCode10 = "
                                   "%d\r\nCode15 = %d\r\nCode20 = %d",
                                   t.Nacks, t.Code10, t.Code15, t.Code20);
    return std::string(text, std::size_t(size));
}

}  // namespace vek
