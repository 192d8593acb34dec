// The block transfer: its start, its packets, its pacer, the firmware upload and the jump.
#include "app/Form1.h"

#include "transfer/FirmwareImage.h"
#include "transfer/Pacer.h"

namespace vek {

void TForm1::TxInit() {
    beginTransfer(transferState, shiftCounter);
    ui.ProgressBar1->setMaximum(int(transferState.PacketCount));
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
    if (!VCP.Connected()) {
        timer.stop();
        processEvents();
        ui.ProgressBar1->setValue(0);
        message({noConnectionTitle, QString::fromUtf8(kNoConnectionText)});
        processEvents();
        return;
    }
    if (advancePacer(transferState)) {
        // The first send lets the event loop run, and an answer handled there must find the pacer
        // running, or it would wait for the first tick. A send that fails leaves it as it was.
        const bool starts = transferState.PacketNo == 1 && !timer.isActive();
        if (starts)
            timer.start();
        try {
            (this->*send)();
        } catch (...) {
            if (starts)
                timer.stop();
            throw;
        }
    }
    switch (silentStepAction(transferState)) {
        case SilentStepAction::Repeat:
            (this->*send)();
            break;
        case SilentStepAction::GiveUp:
            timer.stop();
            processEvents();
            message(failure());
            ui.ProgressBar1->setValue(0);
            return;
        case SilentStepAction::Wait:
            break;
    }
    processEvents();
}

void TForm1::Timer1Timer() {
    stepPacer(Timer1, &TForm1::SendPackage, QString::fromUtf8(kNoConnectionTitle), [this] {
        return MessageBoxRequest{QString::fromUtf8(kTransferFailedTitle),
                                 QString::fromStdString(transferFailureText(transferState))};
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
