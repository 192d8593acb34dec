// The receive parser and the identification of the box.
#include "app/Form1.h"

#include "config/ConfigRead.h"

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
    switch (packet.outcome) {
        case DecodeOutcome::TooShort:
            ++transferState.Code10;
            runTransferStepNow();
            return;
        case DecodeOutcome::BadStart:
            ++transferState.Code15;
            return;
        case DecodeOutcome::TooLong:
        case DecodeOutcome::Incomplete:
        case DecodeOutcome::BadChecksum:
            return;
        case DecodeOutcome::BadDestination:
            addLog(QStringLiteral("Destino inválido!"));
            return;
        case DecodeOutcome::Accepted:
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
    if (packet.trailingBytes)
        ++transferState.Code20;
    processEvents();
}

void TForm1::handleAck(std::span<const uint8_t> payload) {
    // No transfer was ever started in this run: there is nothing an Ack could complete.
    if (payload.size() < 2 || transferState.PacketCount == 0)
        return;
    const uint32_t n = readBE16(payload.data());
    transferState.AckedNo = n;
    if (n < transferState.PacketCount) {
        if (n == 1) {
            if (transferState.Kind == FwData)
                addLog(QStringLiteral("Atualizando firmware..."));
            if (transferState.Kind == ConfigData)
                addLog(QStringLiteral("Atualizando configuração..."));
        }
        transferState.ReplyFlag = true;
        runTransferStepNow();
        return;
    }
    completeTransfer();
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
            addLog(QStringLiteral("Essa versão do vek está descontinuada, entre em contato com a "
                                  "Norvane para mais informações!"),
                   true);
            B_GetConfigClick();
            break;
        case DeviceAction::UploadFirmware:
            B_FwTxClick();
            break;
        case DeviceAction::UpToDateThenRead:
            addLog(QStringLiteral("O Vek está atualizado!"));
            B_GetConfigClick();
            break;
        case DeviceAction::None:
            break;
    }
    deviceInfo.identified = true;
}

void TForm1::showOperatingModeNotice() {
    for (const char* line :
         {"O Vek foi detectado em modo de operação!", "1-Desconectar todos os chicotes",
          "2-Conectar apenas o cabo USB", "3-Aguardar o Windows criar a porta (5 segundos)",
          "4-Rodar o VekTool e abrir a porta COM criada"})
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
    const auto reply = parseConfigReply(payload, deviceInfo.configBase);
    // Data that would land outside the read-back buffer, or that the frame does not carry.
    if (!reply)
        return;
    std::copy(reply->data.begin(), reply->data.end(), readBackBlock.begin() + reply->offset);
    transferState.AckedNo = reply->offset / kConfigChunk + 1;
    if (transferState.AckedNo < transferState.PacketCount) {
        ui.ProgressBar1->setValue(int(transferState.AckedNo + 1));
        transferState.ReplyFlag = true;
        runReadStepNow();
        return;
    }
    Timer3.stop();
    processEvents();
    ui.ProgressBar1->setValue(0);
    applyReadBack();
}

}  // namespace vek
