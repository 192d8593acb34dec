#include "config/RemoteCommands.h"

#include <gtest/gtest.h>

#include "config/Presets.h"

namespace vek {
namespace {

constexpr std::size_t kSpeedLine = 4;

TEST(RemoteCommands, DefaultPresetListsTheNineCommands) {
    const RemoteCommandList list = remoteCommands(presetPanel(defaultPreset()));
    EXPECT_EQ(list.lines, (std::vector<std::string>{
                              "#CPI[180]46______________PING",
                              "#CBR[19200]4C____________RS232-B",
                              "#CACP[11,11]18___________Aceleração",
                              "#CACN[11,11]06___________Desaceleração",
                              "#CVMX[120,5,11]23________Velocidade",
                              "#CVCH[90,5,11]07_________Velocidade na chuva",
                              "#CRPX[4500,5,11]08_______Rotação do motor",
                              "#COCS[6,7,11]38__________Ociosidade do motor",
                              "#CBGL[40,900,5,11]0B_____Banguela",
                          }));
    EXPECT_TRUE(list.rejectedFields.empty());
}

TEST(RemoteCommands, TrevaloSpeedLine) {
    const RemoteCommandList list = remoteCommands(presetPanel(trevaloPreset()));
    EXPECT_EQ(list.lines[kSpeedLine], "#CVMX[100,10,03]16_______Velocidade");
}

TEST(RemoteCommands, TextIsListedAsTyped) {
    PanelValues panel = presetPanel(defaultPreset());
    panel.edit(ConfigField::VMX) = "0120";
    EXPECT_EQ(remoteCommands(panel).lines[kSpeedLine], "#CVMX[0120,5,11]13_______Velocidade");
}

TEST(RemoteCommands, MissingPingStillListsTheRest) {
    PanelValues panel = presetPanel(defaultPreset());
    panel.pingIndex = -1;
    const RemoteCommandList list = remoteCommands(panel);
    ASSERT_EQ(list.lines.size(), 9u);
    EXPECT_EQ(list.lines[0], "Parâmetro inválido! [PING]");
    EXPECT_EQ(list.lines[1], "#CBR[19200]4C____________RS232-B");
    EXPECT_TRUE(list.rejectedFields.empty());
}

TEST(RemoteCommands, FirstFailingFieldOfACommandIsTheOnlyOneLooked) {
    PanelValues panel = presetPanel(defaultPreset());
    panel.edit(ConfigField::VMX) = "151";
    panel.edit(ConfigField::TVMX) = "x";
    panel.edit(ConfigField::XOSC) = "61";
    panel.edit(ConfigField::TOSC) = "0";
    panel.b232Index = 7;
    const RemoteCommandList list = remoteCommands(panel);
    ASSERT_EQ(list.lines.size(), 9u);
    EXPECT_EQ(list.lines[1], "Parâmetro inválido! [RS232-B]");
    EXPECT_EQ(list.lines[kSpeedLine], "Parâmetro inválido! [Velocidade]");
    EXPECT_EQ(list.lines[7], "Parâmetro inválido! [Tempo ociosidade]");
    EXPECT_EQ(list.lines[8], "#CBGL[40,900,5,11]0B_____Banguela");
    EXPECT_EQ(list.rejectedFields, (std::vector<ConfigField>{ConfigField::VMX, ConfigField::TOSC}));
}

}  // namespace
}  // namespace vek
