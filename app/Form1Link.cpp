// The receive parser and the identification of the box.
#include "app/Form1.h"

#include "config/ConfigRead.h"
#include "transfer/Pacer.h"

namespace vek {

void TForm1::runTransferStepNow() {
    if (Timer1.isActive())
        Timer1Timer();
}

void TForm1::runReadStepNow() {
    if (Timer3.isActive())
        Timer3Timer();
}

void TForm1::VCPRxChar(int count) {
    processEvents();
    // A close in a nested event loop above ends the connection for the tool at once.
    if (!VCP.Connected() || count <= 0)
        return;
    rxBuffer_.resize(static_cast<std::size_t>(count));
    const int got = VCP.Read(rxBuffer_.data(), count);
    const std::span<const uint8_t> bytes(rxBuffer_.data(),
                                         static_cast<std::size_t>(std::max(got, 0)));

    const DecodedPacket packet = decodePacket(bytes);
    switch (countReceiveEvent(transferState, packet)) {
        case ReceiveAction::StepNow:
            runTransferStepNow();
            return;
        case ReceiveAction::Drop:
            if (packet.outcome == DecodeOutcome::BadDestination)
                addLog(QStringLiteral("Destino inválido!"));
            return;
        case ReceiveAction::Dispatch:
            break;
    }

    switch (packet.type) {
        case Ack:
            handleAck(packet.payload);
            break;
        case Nack:
            ++transferState.Nacks;
            runTransferStepNow();
            break;
        case Status:
            if (deviceInfo.identified)
                break;
            if (packet.payload.size() < kStatusPayloadSize)
                return;
            handleStatus(packet.payload);
            // An operating-mode box gets its notice and nothing more.
            if (deviceInfo.mode == 0)
                return;
            break;
        case ConfigRead:
            if (packet.payload.size() < 7)
                return;
            handleConfigReply(packet.payload);
            break;
        case OperatingMode:
            showOperatingModeNotice();
            break;
        default:
            break;
    }
    countTrailingBytes(transferState, packet);
    processEvents();
}

void TForm1::handleAck(std::span<const uint8_t> payload) {
    switch (takeAck(transferState, payload)) {
        case AckOutcome::Advanced:
            if (transferState.AckedNo == 1) {
                if (transferState.Kind == FwData)
                    addLog(QStringLiteral("Atualizando firmware..."));
                if (transferState.Kind == ConfigData)
                    addLog(QStringLiteral("Atualizando configuração..."));
            }
            runTransferStepNow();
            break;
        case AckOutcome::Completed:
            completeTransfer();
            break;
        case AckOutcome::Ignored:
            break;
    }
}

void TForm1::completeTransfer() {
    Timer1.stop();
    ui.ProgressBar1->setValue(0);
    processEvents();
    addLog(QStringLiteral("Atualização concluída com sucesso!"));
    if (transferState.Kind == FwData) {
        addLog(QString());
        deviceInfo.identified = false;
    } else {
        ui.B_SetConfig->setEnabled(true);
    }
}

void TForm1::handleStatus(std::span<const uint8_t> payload) {
    const auto decoded = decodeStatus(payload);
    if (!decoded)
        return;
    const bool identified = deviceInfo.identified;
    deviceInfo = *decoded;
    deviceInfo.identified = identified;
    if (deviceInfo.mode == 0) {
        showOperatingModeNotice();
        return;
    }
    addLog(QString::fromStdString(versionAndIdText(deviceInfo)));
    switch (decideDeviceAction(deviceInfo.version)) {
        case DeviceAction::DiscontinuedThenRead:
            addLog(QString::fromUtf8(kDiscontinuedWarning), true);
            B_GetConfigClick();
            break;
        case DeviceAction::UploadFirmware:
            B_FwTxClick();
            break;
        case DeviceAction::UpToDateThenRead:
            addLog(QString::fromUtf8(kUpToDateText));
            B_GetConfigClick();
            break;
        case DeviceAction::None:
            break;
    }
    deviceInfo.identified = true;
}

void TForm1::showOperatingModeNotice() {
    for (const char* line : kOperatingModeNotice)
        addLog(QString::fromUtf8(line));
    // Never closed from inside the receive handler: the event thread waits for it to return.
    // A repeated notice leaves a running close timer alone, or a box repeating itself faster
    // than the timer would hold the port open for ever.
    if (!Timer2.isActive())
        Timer2.start();
}

void TForm1::Timer2Timer() {
    Timer2.stop();
    VCP.Close();
    ButtonVCPState(false);
}

void TForm1::handleConfigReply(std::span<const uint8_t> payload) {
    // Data that would land outside the read-back buffer, or that the frame does not carry, are
    // ignored.
    switch (takeReadReply(transferState, readBackBlock, payload, deviceInfo.configBase)) {
        case ReadReplyOutcome::MoreToRead:
            ui.ProgressBar1->setValue(int(transferState.AckedNo + 1));
            runReadStepNow();
            break;
        case ReadReplyOutcome::Complete:
            Timer3.stop();
            processEvents();
            ui.ProgressBar1->setValue(0);
            applyReadBack();
            break;
        case ReadReplyOutcome::Ignored:
            break;
    }
}

}  // namespace vek
