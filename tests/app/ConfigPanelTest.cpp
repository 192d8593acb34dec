// The configuration panel as wired into the window: the buzzer interlocks, the write's refusals,
// the presets and the remote command list. The encodings themselves have their own tests.
#include <gtest/gtest.h>

#include <QComboBox>
#include <map>

#include "WindowHarness.h"
#include "config/ConfigRead.h"
#include "config/RemoteCommands.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

const char* const kGroups[] = {"VMX", "VCH", "RPX", "OSC", "BGL"};

using Snapshot = std::map<QString, QString>;

// Every edit text, check state and list index of the window, by control name.
Snapshot snapshot(const TForm1& f) {
    Snapshot s;
    for (const auto* e : f.findChildren<QLineEdit*>())
        s[e->objectName()] = e->text();
    for (const auto* c : f.findChildren<QCheckBox*>())
        s[c->objectName()] = c->isChecked() ? "on" : "off";
    for (const auto* l : f.findChildren<QComboBox*>())
        s[l->objectName()] = QString::number(l->currentIndex());
    return s;
}

QStringList changedNames(const Snapshot& before, const Snapshot& after) {
    QStringList names;
    for (const auto& [name, value] : after)
        if (before.at(name) != value)
            names << name;
    return names;
}

class ConfigPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        // Past the start-up clearing, which would otherwise empty what a test has filled in; the
        // version check is held off so that it adds nothing to the log.
        ASSERT_TRUE(waitUntil([&] { return !f.Timer5.isActive(); }, 2s));
        f.Timer4.stop();
    }

    QCheckBox* box(const char* kind, const QString& group, const char* which) const {
        return f.findChild<QCheckBox*>(QStringLiteral("CB_%1_%2_%3").arg(kind, group, which));
    }

    PtyPeer peer;  // outlives the window, for the tests that connect
    Window w;
    TForm1& f = *w.form;
};

TEST_F(ConfigPanel, DuranteExcludesEntradaAndSaidaWithinItsGroupOnly) {
    for (const QString g : kGroups) {
        SCOPED_TRACE(g.toStdString());
        QCheckBox *in = box("BZ", g, "IN"), *out = box("BZ", g, "OUT"), *wh = box("BZ", g, "WH");
        const QStringList buzzers{in->objectName(), out->objectName(), wh->objectName()};
        box("EV", g, "IN")->click();
        box("EV", g, "OUT")->click();
        in->click();
        out->click();
        EXPECT_TRUE(in->isChecked() && out->isChecked() && !wh->isChecked());

        Snapshot before = snapshot(f);
        wh->click();
        EXPECT_TRUE(wh->isChecked());
        EXPECT_EQ(changedNames(before, snapshot(f)), buzzers) << "and nothing outside the group";

        in->click();
        EXPECT_TRUE(in->isChecked());
        EXPECT_FALSE(wh->isChecked());
        EXPECT_FALSE(out->isChecked());

        // Unchecking never touches the others.
        before = snapshot(f);
        in->click();
        EXPECT_EQ(changedNames(before, snapshot(f)), QStringList{in->objectName()});
        wh->click();
        before = snapshot(f);
        wh->click();
        EXPECT_EQ(changedNames(before, snapshot(f)), QStringList{wh->objectName()});

        // A state set by code runs the interlock as a click does.
        wh->setChecked(true);
        out->setChecked(true);
        EXPECT_FALSE(wh->isChecked());
        wh->setChecked(true);
        EXPECT_FALSE(out->isChecked());
        EXPECT_TRUE(box("EV", g, "IN")->isChecked() && box("EV", g, "OUT")->isChecked())
            << "the event boxes have no interlock";
    }
}

TEST_F(ConfigPanel, ARejectedFieldIsReportedAndEmptiedAndNothingIsWritten) {
    const struct {
        const char* edit;
        const char* text;
        const char* message;
    } cases[] = {
        {"ED_VMX", "151", "Parâmetro inválido!\r\n[Velocidade]"},
        {"ED_TOSC", "0", "Parâmetro inválido!\r\n[Tempo osciosidade]"},
        {"ED_RBGL", "1001", "Parâmetro inválido!\r\n[Rotação max. Banguela]"},
        {"ED_ACN", "1 ", "Parâmetro inválido!\r\n[Desaceleração]"},
    };
    f.ui.B_SetConfig->setEnabled(true);  // as after a read-back; the port stays closed
    for (const auto& c : cases) {
        SCOPED_TRACE(c.edit);
        f.ui.B_SetDefaults->click();
        w.edit(c.edit)->setText(c.text);
        const Snapshot before = snapshot(f);
        w.messages.clear();
        f.ui.B_SetConfig->click();
        ASSERT_EQ(w.messages.size(), 1u) << "a write would also report the closed port";
        EXPECT_EQ(w.messages[0].title, "Erro");
        EXPECT_EQ(w.messages[0].text, QString::fromUtf8(c.message));
        EXPECT_EQ(w.messages[0].icon, QMessageBox::Warning);
        EXPECT_EQ(w.messages[0].buttons, QMessageBox::Ok);
        EXPECT_EQ(changedNames(before, snapshot(f)), QStringList{c.edit});
        EXPECT_TRUE(w.edit(c.edit)->text().isEmpty());
        EXPECT_EQ(f.transferState.Block, nullptr);
        EXPECT_EQ(f.transferState.PacketCount, 0u);
    }

    // The same panel with the field put right does start a write.
    f.ui.B_SetDefaults->click();
    w.messages.clear();
    f.ui.B_SetConfig->click();
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(w.messages[0].title, "ERRO #0x01");
    EXPECT_EQ(f.transferState.Kind, ConfigData);
    EXPECT_EQ(f.transferState.Block, f.configBlock.data());
    EXPECT_EQ(f.transferState.Length, kConfigBlockSize);
}

TEST_F(ConfigPanel, AfterAnInterruptedReadTheEnabledWriteRefusesTheEmptyListsAndSendsNothing) {
    f.VCP.OnRxChar = nullptr;  // the test hands every reply over itself
    w.connectTo(peer.slavePath());
    ASSERT_TRUE(f.VCP.Connected());
    f.Timer1.setInterval(3600 * 1000);
    f.Timer3.setInterval(3600 * 1000);
    auto deliver = [&](const std::vector<uint8_t>& bytes) {
        peer.write(bytes);
        ASSERT_TRUE(waitUntil([&] { return f.VCP.InputCount() >= int(bytes.size()); }, 2s));
        f.VCPRxChar(f.VCP.InputCount());
    };

    // A stored Trevalo configuration read back whole.
    const auto stored =
        std::get<EncodedConfig>(encodeConfigBlock(presetPanel(trevaloPreset()))).block;
    f.B_GetConfigClick();
    for (uint32_t offset = 0; offset < kConfigBlockSize; offset += kConfigChunk) {
        const uint32_t count = std::min<uint32_t>(kConfigChunk, kConfigBlockSize - offset);
        std::vector<uint8_t> reply(6);
        writeBE32(reply.data(), offset);
        writeBE16(&reply[4], count);
        reply.insert(reply.end(), stored.begin() + offset, stored.begin() + offset + count);
        deliver(encodePacket(ConfigRead, reply, kBoxToTool));
    }
    EXPECT_TRUE(w.logHas("Leitura da configuração interna concluída!"));
    ASSERT_TRUE(f.ui.B_SetConfig->isEnabled());
    EXPECT_EQ(w.edit("ED_VMX")->text(), "100");

    // A second read that the box never answers leaves the lists unselected and the button on.
    f.B_GetConfigClick();
    for (int tick = 0; tick < 10; ++tick)
        f.Timer3Timer();
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(w.messages[0].title, "ERRO #0x04");
    EXPECT_TRUE(f.ui.B_SetConfig->isEnabled());
    peer.drain();

    const Snapshot before = snapshot(f);
    f.ui.B_SetConfig->click();
    ASSERT_EQ(w.messages.size(), 2u);
    EXPECT_EQ(w.messages[1].title, "Erro");
    EXPECT_EQ(w.messages[1].text, "Parâmetro inválido!\r\n[PING]");
    EXPECT_EQ(w.messages[1].icon, QMessageBox::Warning);
    EXPECT_TRUE(peer.drain().empty());
    EXPECT_TRUE(changedNames(before, snapshot(f)).isEmpty());
    EXPECT_FALSE(w.logHas("Iniciando atualização..."));

    // With the lists chosen again the panel read back is written back unchanged.
    f.ui.CB_PING->setCurrentIndex(5);
    f.ui.CB_A232->setCurrentIndex(3);
    f.ui.CB_B232->setCurrentIndex(1);
    f.ui.B_SetConfig->click();
    const auto frames = splitFrames(peer.drain());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][2], ConfigData);
    EXPECT_EQ(f.configBlock, stored);
    EXPECT_TRUE(w.logHas("Iniciando atualização..."));
}

struct Filled {
    int ping;
    std::vector<std::pair<const char*, const char*>> edits;
    bool evAccel, bzAccel;   // the same for acceleration and deceleration
    bool evIn, evOut, bzIn;  // each group; buzzer "Saída" and "Durante" end clear in both presets
};

TEST_F(ConfigPanel, PresetsFillThePanelAndLeaveTheEngineBrakeGroup) {
    const Filled defaults{.ping = 8,
                          .edits = {{"ED_ACP", "11"},
                                    {"ED_ACN", "11"},
                                    {"ED_VMX", "120"},
                                    {"ED_TVMX", "5"},
                                    {"ED_VCH", "90"},
                                    {"ED_TVCH", "5"},
                                    {"ED_RPX", "4500"},
                                    {"ED_TRPX", "5"},
                                    {"ED_TOSC", "6"},
                                    {"ED_XOSC", "7"},
                                    {"ED_VBGL", "40"},
                                    {"ED_RBGL", "900"},
                                    {"ED_TBGL", "5"}},
                          .evAccel = true,
                          .bzAccel = true,
                          .evIn = true,
                          .evOut = false,
                          .bzIn = true};
    Filled trevalo = defaults;
    trevalo.ping = 5;
    trevalo.edits[2].second = "100";
    trevalo.edits[3].second = "10";
    trevalo.edits[4].second = "80";
    trevalo.edits[5].second = "10";
    trevalo.edits[8].second = "1";
    trevalo.bzAccel = false;
    trevalo.evOut = true;
    trevalo.bzIn = false;

    w.edit("ED_VEBK")->setText("77");
    w.check("CB_BZ_EBK_IN")->setChecked(true);
    const auto engineBrake = [&] {
        Snapshot s = snapshot(f);
        std::erase_if(s, [](const auto& entry) { return !entry.first.contains("EBK"); });
        return s;
    };
    const Snapshot engineBrakeBefore = engineBrake();

    for (const auto& [button, expected] :
         {std::pair{f.ui.B_SetDefaults, defaults}, std::pair{f.ui.B_SetTrevalo, trevalo}}) {
        SCOPED_TRACE(button->objectName().toStdString());
        for (const QString g : kGroups) {  // "Durante" on, and "Saída" in one group
            box("BZ", g, "WH")->setChecked(true);
            box("EV", g, "OUT")->setChecked(g == "RPX");
        }
        box("BZ", "OSC", "OUT")->setChecked(true);
        button->click();
        EXPECT_EQ(f.ui.CB_PING->currentIndex(), expected.ping);
        EXPECT_EQ(f.ui.CB_A232->currentText(), "115200");
        EXPECT_EQ(f.ui.CB_B232->currentIndex(), 1);
        for (const auto& [name, text] : expected.edits)
            EXPECT_EQ(w.edit(name)->text(), text) << name;
        for (const char* accel : {"ACP", "ACN"}) {
            EXPECT_EQ(w.check(qPrintable(QStringLiteral("CB_EV_") + accel))->isChecked(),
                      expected.evAccel);
            EXPECT_EQ(w.check(qPrintable(QStringLiteral("CB_BZ_") + accel))->isChecked(),
                      expected.bzAccel);
        }
        for (const QString g : kGroups) {
            SCOPED_TRACE(g.toStdString());
            EXPECT_EQ(box("EV", g, "IN")->isChecked(), expected.evIn);
            EXPECT_EQ(box("EV", g, "OUT")->isChecked(), expected.evOut);
            EXPECT_EQ(box("BZ", g, "IN")->isChecked(), expected.bzIn);
            EXPECT_FALSE(box("BZ", g, "OUT")->isChecked());
            EXPECT_FALSE(box("BZ", g, "WH")->isChecked());
        }
        EXPECT_EQ(engineBrake(), engineBrakeBefore);
        EXPECT_TRUE(w.messages.empty());
    }
}

TEST_F(ConfigPanel, RemoteCommandsReplaceTheLogWithTheListOrTheFieldsMessage) {
    f.ui.B_SetDefaults->click();
    f.addLog("an earlier line");
    f.ui.B_RemConfig->click();
    QStringList expected{"Comandos de configuração remota:"};
    for (const std::string& line : remoteCommands(presetPanel(defaultPreset())).lines)
        expected << QString::fromStdString(line);
    ASSERT_EQ(expected.size(), 10);
    EXPECT_EQ(f.logLines(), expected);
    EXPECT_EQ(f.logLines().value(7), "#CRPX[4500,5,11]08_______Rotação do motor");

    w.edit("ED_TVCH")->setText("61");
    w.edit("ED_RBGL")->setText("29");
    const Snapshot before = snapshot(f);
    f.ui.B_RemConfig->click();
    expected[6] = "Parâmetro inválido! [Tempo validação Velocidade na Chuva]";
    expected[9] = "Parâmetro inválido! [Rotação max. Banguela]";
    EXPECT_EQ(f.logLines(), expected);
    EXPECT_EQ(changedNames(before, snapshot(f)), (QStringList{"ED_RBGL", "ED_TVCH"}));
    EXPECT_TRUE(w.messages.empty());
}

}  // namespace
}  // namespace vek::testing
