// The receive parser, the identification and the transfer pacer, driven step by step: the test
// plays the box on a pseudo-terminal and calls the handlers itself, so no timer decides anything.
#include <gtest/gtest.h>

#include "WindowHarness.h"
#include "transfer/FirmwareImage.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

uint16_t packetNumberOf(const std::vector<uint8_t>& frame) {
    return readBE16(&frame[7]);
}

class Stepped : public ::testing::Test {
  protected:
    void SetUp() override {
        f.VCP.OnRxChar = nullptr;  // the test hands every event over itself
        w.connectTo(box.slavePath());
        ASSERT_TRUE(f.VCP.Connected());
        // Ticks come from the test only.
        f.Timer1.setInterval(3600 * 1000);
        f.Timer3.setInterval(3600 * 1000);
        block.resize(200);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = uint8_t(i * 7);
    }

    void deliver(const std::vector<uint8_t>& bytes) {
        box.write(bytes);
        ASSERT_TRUE(waitUntil([&] { return f.VCP.InputCount() >= int(bytes.size()); }, 2s));
        f.VCPRxChar(f.VCP.InputCount());
    }

    // A configuration-kind transfer over a 200-byte block: 5 data packets and the closing one.
    void startTransfer() {
        f.transferState.Kind = ConfigData;
        f.transferState.Block = block.data();
        f.transferState.Length = uint32_t(block.size());
        f.transferState.Closing = {1, 2, 3, 4, 5};
        f.TxInit();
    }

    std::vector<std::vector<uint8_t>> sent() { return splitFrames(box.drain()); }

    PtyPeer box;
    Window w;
    TForm1& f = *w.form;
    std::vector<uint8_t> block;
};

TEST_F(Stepped, AcksAdvanceAndTheClosingAckCompletesAWrite) {
    startTransfer();
    auto frames = sent();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(packetNumberOf(frames[0]), 1);
    EXPECT_TRUE(f.Timer1.isActive());
    EXPECT_EQ(f.transferState.PacketCount, 6u);
    EXPECT_TRUE(w.logHas("Iniciando atualização..."));

    for (uint16_t n = 1; n <= 5; ++n) {
        deliver(ackFrame(n));
        frames = sent();
        ASSERT_EQ(frames.size(), 1u) << "after Ack " << n;
        EXPECT_EQ(packetNumberOf(frames[0]), n + 1);
    }
    EXPECT_EQ(f.logLines().count("Atualizando configuração..."), 1);
    deliver(ackFrame(6));
    EXPECT_FALSE(f.Timer1.isActive());
    EXPECT_EQ(f.ui.ProgressBar1->value(), 0);
    EXPECT_EQ(f.logLines().last(), "Atualização concluída com sucesso!");
    EXPECT_TRUE(f.ui.B_SetConfig->isEnabled());
    EXPECT_TRUE(sent().empty());
}

TEST_F(Stepped, AnAckOfAnotherNumberRepeatsTheCurrentPacketAndRestartsTheSilentCount) {
    startTransfer();
    sent();
    deliver(ackFrame(1));
    const auto first = sent();
    ASSERT_EQ(first.size(), 1u);
    f.Timer1Timer();
    f.Timer1Timer();
    EXPECT_EQ(f.transferState.RetryTicks, 2);
    deliver(ackFrame(1));
    const auto repeat = sent();
    ASSERT_EQ(repeat.size(), 1u);
    EXPECT_EQ(repeat[0], first[0]) << "a repeat is byte for byte the first sending";
    EXPECT_EQ(f.transferState.PacketNo, 2u);
    EXPECT_EQ(f.transferState.RetryTicks, 0);
    EXPECT_EQ(f.logLines().count("Atualizando configuração..."), 2);
}

TEST_F(Stepped, NacksAndFragmentsCountAsSilentStepsWithRepeatsAtThreeFiveSeven) {
    startTransfer();
    sent();
    deliver(encodePacket(Nack, {}, kBoxToTool));
    deliver(encodePacket(Nack, {}, kBoxToTool));
    EXPECT_TRUE(sent().empty());
    deliver(encodePacket(Nack, {}, kBoxToTool));
    EXPECT_EQ(f.transferState.Nacks, 3);
    EXPECT_EQ(f.transferState.RetryTicks, 3);
    EXPECT_EQ(sent().size(), 1u) << "the third silent step repeats";
    deliver({0xBC, 0x12, 0x02});  // a fragment: one more silent step
    EXPECT_EQ(f.transferState.Code10, 1);
    f.Timer1Timer();
    EXPECT_EQ(sent().size(), 1u) << "the fifth silent step repeats";
    deliver({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});  // garbage: no step
    EXPECT_EQ(f.transferState.Code15, 1);
    EXPECT_EQ(f.transferState.RetryTicks, 5);
    auto trailing = encodePacket(9, {}, kBoxToTool);  // a type the tool ignores, then one byte more
    trailing.push_back(0x55);
    deliver(trailing);
    EXPECT_EQ(f.transferState.Code20, 1);
    sent();
    while (f.Timer1.isActive())
        f.Timer1Timer();
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(w.messages[0].title, "ERRO #0x02");
    EXPECT_EQ(
        w.messages[0].text,
        "A operação não foi concluida!\r\nNacks = 3\r\nCode10 = 1\r\nCode15 = 1\r\nCode20 = 1");
    EXPECT_EQ(w.messages[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(f.ui.ProgressBar1->value(), 0);
}

TEST_F(Stepped, SilenceAfterTheFirstPacketRepeatsItThreeTimesThenReports) {
    startTransfer();
    sent();
    std::vector<int> repeatsAt;
    for (int tick = 1; tick <= 10; ++tick) {
        f.Timer1Timer();
        if (!sent().empty())
            repeatsAt.push_back(tick);
    }
    EXPECT_EQ(repeatsAt, (std::vector<int>{3, 5, 7}));
    EXPECT_FALSE(f.Timer1.isActive());
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(
        w.messages[0].text,
        "A operação não foi concluida!\r\nNacks = 0\r\nCode10 = 0\r\nCode15 = 0\r\nCode20 = 0");

    // A late Ack after the abort only records itself.
    deliver(ackFrame(1));
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(f.transferState.AckedNo, 1u);
}

TEST_F(Stepped, APortClosedMidTransferEndsItWithErro01) {
    startTransfer();
    deliver(ackFrame(1));
    f.VCP.Close();
    f.Timer1Timer();
    EXPECT_FALSE(f.Timer1.isActive());
    EXPECT_EQ(f.ui.ProgressBar1->value(), 0);
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(w.messages[0].title, "ERRO #0x01");
    EXPECT_EQ(w.messages[0].text, "Não há conexão ativa!");
}

TEST_F(Stepped, AnAckAboveTheCountCompletesAndAnAckBeforeAnyTransferIsIgnored) {
    deliver(ackFrame(3));
    EXPECT_FALSE(w.logHas("Atualização concluída com sucesso!"));
    EXPECT_FALSE(f.ui.B_SetConfig->isEnabled());

    startTransfer();
    deliver(ackFrame(60));
    EXPECT_TRUE(w.logHas("Atualização concluída com sucesso!"));
    EXPECT_FALSE(f.Timer1.isActive());
}

TEST_F(Stepped, TheFirmwareUploadSendsTheImageAndItsCompletionListensForANewStatus) {
    deliver(statusFrame(1, {3, 0, 2, 30}));
    EXPECT_TRUE(f.deviceInfo.identified);
    auto frames = sent();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][2], FwData);
    EXPECT_EQ(readBE16(&frames[0][9]), 1833);
    EXPECT_TRUE(
        std::equal(frames[0].begin() + 11, frames[0].begin() + 59, FirmwareImage().begin()));

    f.transferState.PacketNo = 1833;  // jump to the end: the whole path is the end-to-end test's
    deliver(ackFrame(1833));
    const QStringList log = f.logLines();
    EXPECT_EQ(log.mid(log.size() - 2), (QStringList{"Atualização concluída com sucesso!", ""}));
    EXPECT_FALSE(f.deviceInfo.identified);
    EXPECT_FALSE(f.ui.B_SetConfig->isEnabled());
}

TEST_F(Stepped, OnlyTheFirstBootloaderStatusOfAConnectionActs) {
    deliver(statusFrame(1, {5, 1, 2, 3}));
    deliver(statusFrame(1, {3, 0, 2, 30}));
    EXPECT_EQ(f.deviceInfo.version, (std::array<uint8_t, 4>{5, 1, 2, 3}));
    EXPECT_EQ(f.logLines(),
              (QStringList{"Conexão aberta...", "Vek v5.1.2.3", "Id: 18191A1B 14151617 10111213"}));
    EXPECT_TRUE(sent().empty());
}

TEST_F(Stepped, ADiscontinuedBoxIsWarnedInRedAndItsConfigurationRead) {
    deliver(statusFrame(1, {2, 0, 1, 0}, 0x1000));
    EXPECT_TRUE(
        w.logHas("Essa versão do vek está descontinuada, entre em contato com a Norvane para "
                 "mais informações!"));
    EXPECT_TRUE(w.logHas("Buscando configuração interna..."));
    const auto frames = sent();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][2], ConfigRead);
    EXPECT_EQ(readBE32(&frames[0][5]), 0x1000u);
    EXPECT_EQ(readBE16(&frames[0][9]), 500);
}

TEST_F(Stepped, AnOperatingModeBoxGetsTheNoticeAndThePortClosesShortlyAfter) {
    deliver(statusFrame(0, {3, 0, 2, 36}, 0x8000));
    EXPECT_EQ(f.deviceInfo.configBase, 0x8000u);
    EXPECT_FALSE(f.deviceInfo.identified);
    const QStringList notice{"O Vek foi detectado em modo de operação!",
                             "1-Desconectar todos os chicotes", "2-Conectar apenas o cabo USB",
                             "3-Aguardar o Windows criar a porta (5 segundos)",
                             "4-Rodar o VekTool e abrir a porta COM criada"};
    EXPECT_EQ(f.logLines().mid(1), notice);
    EXPECT_TRUE(f.VCP.Connected()) << "never closed inside the receive handler";
    ASSERT_TRUE(waitUntil([&] { return !f.VCP.Connected(); }, 1s));
    EXPECT_EQ(f.logLines().last(), "Conexão fechada...");
    EXPECT_FALSE(f.ui.ComboBox1->isEnabled());
    EXPECT_FALSE(f.ui.ButtonVCP->isChecked());
}

TEST_F(Stepped, AFrameForAnotherDestinationIsReportedAndCountedNowhere) {
    startTransfer();
    const uint8_t payload[2] = {0, 1};
    deliver(encodePacket(Ack, payload, 0x11));
    EXPECT_TRUE(w.logHas("Destino inválido!"));
    EXPECT_EQ(f.transferState.AckedNo, kNoPacketAcked);
    EXPECT_EQ(f.transferState.Code10 + f.transferState.Code15 + f.transferState.Code20, 0);
}

TEST_F(Stepped, ReadRepliesOutsideTheBufferChangeNothing) {
    f.readBackBlock.fill(0xAA);
    f.B_GetConfigClick();
    sent();
    std::vector<uint8_t> reply(6 + 40, 0x33);
    writeBE32(reply.data(), 2000);  // 2000 + 40 passes the end of the block
    writeBE16(&reply[4], 40);
    deliver(encodePacket(ConfigRead, reply, kBoxToTool));
    writeBE32(reply.data(), 0);
    writeBE16(&reply[4], 41);  // more data than the frame carries
    deliver(encodePacket(ConfigRead, reply, kBoxToTool));
    EXPECT_TRUE(std::all_of(f.readBackBlock.begin(), f.readBackBlock.end(),
                            [](uint8_t b) { return b == 0xAA; }));
    EXPECT_EQ(f.transferState.AckedNo, kNoPacketAcked);
}

TEST_F(Stepped, TheReadRepeatsAtThreeFiveSevenAndReportsErro04) {
    f.B_GetConfigClick();
    EXPECT_EQ(sent().size(), 1u);
    std::vector<int> repeatsAt;
    for (int tick = 1; tick <= 10; ++tick) {
        f.Timer3Timer();
        if (!sent().empty())
            repeatsAt.push_back(tick);
    }
    EXPECT_EQ(repeatsAt, (std::vector<int>{3, 5, 7}));
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(w.messages[0].title, "ERRO #0x04");
    EXPECT_EQ(w.messages[0].text, "A operação não pode ser concluida!");
    EXPECT_EQ(w.messages[0].icon, QMessageBox::Warning);
}

TEST_F(Stepped, FirmwareForAnUnknownHardwareTypeIsRefused) {
    f.deviceInfo.version = {5, 0, 1, 0};
    f.B_FwTxClick();
    EXPECT_TRUE(sent().empty());
    EXPECT_FALSE(f.Timer1.isActive());
}

TEST_F(Stepped, TheJumpIsSentOnlyWhileConnected) {
    f.B_FwJumpClick();
    EXPECT_EQ(box.drain(), (std::vector<uint8_t>{0xBC, 0x21, 0x05, 0x00, 0x00, 0x00, 0x00, 0xE2}));
    f.VCP.Close();
    f.B_FwJumpClick();
    EXPECT_TRUE(box.drain().empty());
    EXPECT_TRUE(w.messages.empty());
}

}  // namespace
}  // namespace vek::testing
