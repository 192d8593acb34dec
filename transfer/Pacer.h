#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "link/DevicePacket.h"
#include "transfer/TransferNumber.h"
#include "transfer/TransferState.h"

namespace vek {

// The stop-and-wait pacing of transfers and configuration reads: one packet outstanding, the
// next one on its answer, repeats and the end on silence. The pacer's steps come from a timer,
// and at once from each answer, Nack or fragment.
inline constexpr std::chrono::milliseconds kTransferStepInterval{500};
inline constexpr std::chrono::milliseconds kReadStepInterval{100};

// Sets up t for a transfer over the Kind, Block, Length and Closing its caller has set: the
// packet count, nothing sent or acknowledged, a new transfer number and the counters at zero.
void beginTransfer(TransferState& t, ShiftCounter& shift);

// The first half of a pacer step. After an answer, or at the start, the packet due is sent (the
// next one when the answer was for the packet outstanding, else the same again) and the silent
// steps count from zero: true then. Otherwise the step counts as silent.
bool advancePacer(TransferState& t);

enum class SilentStepAction { Wait, Repeat, GiveUp };
// The second half, after any send: the 3rd, 5th and 7th silent step send the packet again, the
// 10th gives up.
SilentStepAction silentStepAction(const TransferState& t);

// What one receive event is to the running transfer or read: a fragment (fewer than 8 bytes)
// counts in Code10 and runs a step at once, bytes not starting a frame count in Code15; only an
// accepted frame is dispatched.
enum class ReceiveAction { Drop, StepNow, Dispatch };
ReceiveAction countReceiveEvent(TransferState& t, const DecodedPacket& packet);
// After a dispatched frame: bytes beyond it count in Code20 and are never parsed.
void countTrailingBytes(TransferState& t, const DecodedPacket& packet);

// An Ack against the running transfer. Advanced: AckedNo set and the reply flag raised, a step is
// due; Completed: the closing packet (or a later number) was accepted. An Ack with no transfer
// ever started, or too short to hold a number, is Ignored.
enum class AckOutcome { Ignored, Advanced, Completed };
AckOutcome takeAck(TransferState& t, std::span<const uint8_t> payload);

// The error reports of a transfer and a read.
inline constexpr const char* kNoConnectionTitle = "ERRO #0x01";
inline constexpr const char* kTransferFailedTitle = "ERRO #0x02";
inline constexpr const char* kReadNoConnectionTitle = "ERRO #0x03";
inline constexpr const char* kReadFailedTitle = "ERRO #0x04";
inline constexpr const char* kNoConnectionText = "Não há conexão ativa!";
inline constexpr const char* kReadFailedText = "A operação não pode ser concluida!";
// "A operação não foi concluida!" with the four counters, a line each.
std::string transferFailureText(const TransferState& t);

}  // namespace vek
