// The block transfer: its start, its packets, its pacer, the firmware upload and the jump.
#include "app/Form1.h"

#include "transfer/FirmwareImage.h"

namespace vek {

namespace {
constexpr uint32_t kTransferNumberLimit = 0xFFFF;
}

void TForm1::TxInit() {
    auto& t = transferState;
    t.PacketCount = transferPacketCount(t.Length);
    ui.ProgressBar1->setMaximum(int(t.PacketCount));
    t.AckedNo = kNoPacketAcked;
    t.PacketNo = 0;
    t.TransferNo = int32_t(NewTransferNumber(shiftCounter, kTransferNumberLimit));
    t.Nacks = t.Code10 = t.Code15 = t.Code20 = 0;
    if (VCP.Connected())
        addLog(QStringLiteral("Iniciando atualização..."));
    Timer1Timer();
}

void TForm1::SendPackage() {
    const std::size_t size = buildTransferPacket(transferState, txBuffer_);
    VCP.Write(txBuffer_.data(), int(size));
    ui.ProgressBar1->setValue(int(transferState.PacketNo));
    processEvents();
}

void TForm1::stepPacer(QTimer& timer, void (TForm1::*send)(), const QString& noConnectionTitle,
                       const std::function<MessageBoxRequest()>& failure) {
    auto& t = transferState;
    if (!VCP.Connected()) {
        timer.stop();
        processEvents();
        ui.ProgressBar1->setValue(0);
        message({noConnectionTitle, QStringLiteral("Não há conexão ativa!")});
        processEvents();
        return;
    }
    if (t.ReplyFlag || t.PacketNo == 0) {
        if ((t.PacketNo == 0 || t.AckedNo == t.PacketNo) && t.PacketNo < t.PacketCount)
            ++t.PacketNo;
        // Cleared before the send lets the event loop run, so that an answer handled during
        // the send is not forgotten afterwards.
        t.ReplyFlag = false;
        t.RetryTicks = 0;
        // The first send lets the event loop run, and an answer handled there must find the pacer
        // running, or it would wait for the first tick. A send that fails leaves it as it was.
        const bool starts = t.PacketNo == 1 && !timer.isActive();
        if (starts)
            timer.start();
        try {
            (this->*send)();
        } catch (...) {
            if (starts)
                timer.stop();
            throw;
        }
    } else {
        ++t.RetryTicks;
    }
    if (t.RetryTicks == 3 || t.RetryTicks == 5 || t.RetryTicks == 7)
        (this->*send)();
    if (t.RetryTicks == 10) {
        timer.stop();
        processEvents();
        message(failure());
        ui.ProgressBar1->setValue(0);
        return;
    }
    processEvents();
}

void TForm1::Timer1Timer() {
    stepPacer(Timer1, &TForm1::SendPackage, QStringLiteral("ERRO #0x01"), [this] {
        const auto& t = transferState;
        return MessageBoxRequest{
            QStringLiteral("ERRO #0x02"),
            QString::asprintf("A operação não foi concluida!\r\nNacks = %d\r\nCode10 = "
                              "%d\r\nCode15 = %d\r\nCode20 = %d",
                              t.Nacks, t.Code10, t.Code15, t.Code20)};
    });
}

void TForm1::B_FwTxClick() {
    // Any other hardware would get whatever block the previous transfer left, as firmware.
    if (!takesCarriedFirmware(deviceInfo.version[0]))
        return;
    transferState.Kind = FwData;
    transferState.Block = FirmwareImage().data();
    transferState.Length = kFirmwareImageSize;
    transferState.Closing = FirmwareClosing();
    TxInit();
}

void TForm1::B_FwJumpClick() {
    const std::size_t size = encodePacketInto(Jump, {}, txBuffer_);
    if (VCP.Connected())
        VCP.Write(txBuffer_.data(), int(size));
    processEvents();
}

}  // namespace vek
