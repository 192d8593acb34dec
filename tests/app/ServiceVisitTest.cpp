// Whole service visits through the real window against the simulated box.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <iostream>

#include "WindowHarness.h"
#include "config/Presets.h"
#include "sim/SimBox.h"
#include "transfer/FirmwareImage.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

SimModel currentBox() {
    return fieldBox(36);
}

struct Visit {
    explicit Visit(const SimModel& model) : box(model) {
        box.start();
        w.connectTo(box.portPath());
    }
    bool waitForLine(const QString& line, std::chrono::milliseconds timeout = 10s) {
        return waitUntil([&] { return w.logHas(line); }, timeout);
    }
    SimBox box;
    Window w;
    TForm1& f = *w.form;
};

TEST(ServiceVisit, AnOldFirmwareIsReplacedByTheCarriedImageAndTheBoxThenRead) {
    SimModel model = currentBox();
    model.version = {3, 0, 2, 30};
    Visit v(model);
    QElapsedTimer clock;
    ASSERT_TRUE(v.waitForLine("Iniciando atualização..."));
    clock.start();
    ASSERT_TRUE(v.waitForLine("Atualização concluída com sucesso!", 60s))
        << v.f.logLines().join("\n").toStdString();
    std::cout << "[ figures  ] firmware upload of 1833 packets: " << clock.elapsed() << " ms\n";
    ASSERT_TRUE(v.waitForLine("Leitura da configuração interna concluída!"));

    const auto image = FirmwareImage();
    EXPECT_EQ(v.box.firmwareReceived(), std::vector<uint8_t>(image.begin(), image.end()));
    EXPECT_EQ(v.box.stats().fwPacketsAccepted, 1833);
    const QStringList expected{"Conexão aberta...",
                               "Vek v3.0.2.30",
                               "Id: 0011A2B3 44C5D6E7 8899FA0B",
                               "Iniciando atualização...",
                               "Atualizando firmware...",
                               "Atualização concluída com sucesso!",
                               "",
                               "Vek v3.0.2.36",
                               "Id: 0011A2B3 44C5D6E7 8899FA0B",
                               "O Vek está atualizado!",
                               "Buscando configuração interna...",
                               "Leitura da configuração interna concluída!"};
    EXPECT_EQ(v.f.logLines(), expected);
    EXPECT_TRUE(v.w.messages.empty());
    // The bar skips paints during the burst of positions but is shown again once they stop.
    EXPECT_TRUE(waitUntil([&] { return v.f.ui.ProgressBar1->updatesEnabled(); }, 1s));
}

TEST(ServiceVisit, ACurrentBoxIsReadInFiveRequestsAndAnEditIsStoredExactly) {
    Visit v(currentBox());
    ASSERT_TRUE(v.waitForLine("Leitura da configuração interna concluída!"));
    const SimStats stats = v.box.stats();
    EXPECT_EQ(stats.readOffsets, (std::vector<uint32_t>{0, 500, 1000, 1500, 2000}));
    EXPECT_EQ(stats.readCounts, (std::vector<uint32_t>{500, 500, 500, 500, 32}));
    EXPECT_EQ(v.w.edit("ED_VMX")->text(), "120");
    EXPECT_EQ(v.w.edit("ED_RBGL")->text(), "900");
    EXPECT_EQ(v.f.ui.CB_A232->currentText(), "115200");
    EXPECT_TRUE(v.w.check("CB_BZ_OSC_IN")->isChecked());
    EXPECT_TRUE(v.f.ui.B_SetConfig->isEnabled());

    v.w.edit("ED_VMX")->setText("100");
    v.w.check("CB_BZ_VMX_WH")->setChecked(true);
    // A box that answers at once is paced by its answers alone: the write must not wait for
    // the pacer's first tick, half a second away.
    int ticks = 0;
    QObject::connect(&v.f.Timer1, &QTimer::timeout, [&] { ++ticks; });
    v.f.ui.B_SetConfig->click();
    ASSERT_TRUE(v.waitForLine("Atualização concluída com sucesso!"));
    EXPECT_EQ(ticks, 0);
    PanelValues expected = presetPanel(defaultPreset());
    expected.edit(ConfigField::VMX) = "100";
    expected.group(AlertGroup::VMX).bzIn = false;
    expected.group(AlertGroup::VMX).bzWh = true;
    EXPECT_EQ(v.box.storedConfig(), std::get<EncodedConfig>(encodeConfigBlock(expected)).block);
    EXPECT_EQ(v.box.stats().configWritesCompleted, 1);
}

TEST(ServiceVisit, StoredValuesLongerThanTheTypingLimitAreShownWholeAndRefusedByTheWrite) {
    SimModel model = currentBox();
    model.store[20] = 120;               // speed validation time, typed with at most 2 digits
    writeBE16(&model.store[25], 12000);  // engine speed, typed with at most 4
    uint32_t sum = 0;
    for (std::size_t i = 0; i < 36; ++i)
        sum += model.store[i];
    writeBE24(&model.store[36], sum);
    Visit v(model);
    ASSERT_TRUE(v.waitForLine("Leitura da configuração interna concluída!"));
    EXPECT_EQ(v.w.edit("ED_TVMX")->text(), "120");
    EXPECT_EQ(v.w.edit("ED_RPX")->text(), "12000");

    v.f.ui.B_SetConfig->click();
    ASSERT_EQ(v.w.messages.size(), 1u);
    EXPECT_EQ(v.w.messages[0].title, "Erro");
    EXPECT_EQ(v.w.messages[0].text,
              QString::fromUtf8("Parâmetro inválido!\r\n[Tempo validação Velocidade]"));
    EXPECT_TRUE(v.w.edit("ED_TVMX")->text().isEmpty());
    spin(50ms);
    EXPECT_EQ(v.box.stats().configPacketsReceived, 0);

    QTest::keyClicks(v.w.edit("ED_TVMX"), "1234");
    EXPECT_EQ(v.w.edit("ED_TVMX")->text(), "12");
}

TEST(ServiceVisit, AnInvalidStoreIsReplacedByTheDefaults) {
    SimModel model = currentBox();
    model.store.fill(0xFF);
    Visit v(model);
    ASSERT_TRUE(v.waitForLine("Atualização concluída com sucesso!"));
    const QStringList log = v.f.logLines();
    const int invalid = int(log.indexOf("Configuração inválida!"));
    ASSERT_GE(invalid, 0);
    EXPECT_EQ(log.mid(invalid, 4),
              (QStringList{"Configuração inválida!", "Preparando configuração padrão...",
                           "Iniciando atualização...", "Atualizando configuração..."}));
    EXPECT_EQ(v.box.storedConfig(), defaultPresetBlock());
}

// Each way a box in operating mode announces itself, repeated faster than the close timer runs:
// the first notice closes the port, later ones do not hold it open.
TEST(ServiceVisit, AnOperatingModeNoticeClosesThePortWhateverFollows) {
    for (const auto announcement : {OperatingAnnouncement::Status, OperatingAnnouncement::Packet,
                                    OperatingAnnouncement::StatusThenPacket}) {
        SCOPED_TRACE(int(announcement));
        SimModel model = currentBox();
        model.mode = 0;
        model.statusIntervalMs = 20;
        model.announcement = announcement;
        Visit v(model);
        ASSERT_TRUE(v.waitForLine("O Vek foi detectado em modo de operação!", 5s));
        QElapsedTimer sinceNotice;
        sinceNotice.start();
        ASSERT_TRUE(waitUntil([&] { return !v.f.VCP.Connected(); }, 2s));
        std::cout << "[ figures  ] closed " << sinceNotice.elapsed() << " ms after the notice\n";
        EXPECT_EQ(v.f.logLines().last(), "Conexão fechada...");
        EXPECT_FALSE(v.w.logHas("Vek v3.0.2.36")) << "no version line for operating mode";
    }
}

TEST(ServiceVisit, ABoxInOperatingModeIsToldToReconnectAndLetGo) {
    SimModel model = currentBox();
    model.mode = 0;
    Visit v(model);
    ASSERT_TRUE(v.waitForLine("Conexão fechada...", 5s));
    EXPECT_TRUE(v.w.logHas("O Vek foi detectado em modo de operação!"));
    EXPECT_FALSE(v.f.VCP.Connected());
    EXPECT_FALSE(v.f.ui.ComboBox1->isEnabled());
    EXPECT_EQ(v.f.deviceInfo.version, model.version);
}

}  // namespace
}  // namespace vek::testing
