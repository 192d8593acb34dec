#include "config/ConfigBlock.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "config/Presets.h"
#include "link/DevicePacket.h"

namespace vek {
namespace {

EncodedConfig encoded(const PanelValues& panel) {
    auto result = encodeConfigBlock(panel);
    EXPECT_TRUE(std::holds_alternative<EncodedConfig>(result))
        << std::get<ConfigRejection>(result).message;
    return std::get<EncodedConfig>(result);
}

ConfigRejection rejected(const PanelValues& panel) {
    auto result = encodeConfigBlock(panel);
    EXPECT_TRUE(std::holds_alternative<ConfigRejection>(result));
    return std::get<ConfigRejection>(result);
}

// --- Encoding ---

TEST(ConfigEncode, DefaultPresetGivesTheKnownBlock) {
    const EncodedConfig out = encoded(presetPanel(defaultPreset()));
    const std::vector<uint8_t> head{0xCA, 0xFE, 0xF0, 0xDA, 0x00, 0x1E, 0x01, 0x02, 0x00, 0xB4,
                                    0x04, 0x80, 0x00, 0xC0, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x78,
                                    0x05, 0x0B, 0x5A, 0x05, 0x0B, 0x11, 0x94, 0x05, 0x0B, 0x06,
                                    0x07, 0x0B, 0x28, 0x03, 0x84, 0x05, 0x00, 0x08, 0x55};
    EXPECT_EQ(std::vector<uint8_t>(out.block.begin(), out.block.begin() + 39), head);
    for (std::size_t i = 39; i < kConfigBlockSize; ++i)
        ASSERT_EQ(out.block[i], 0xFF) << i;
    EXPECT_EQ(out.closing, (std::array<uint8_t, 5>{0x53, 0x00, 0x07, 0xC9, 0xE9}));
}

TEST(ConfigEncode, TrevaloPresetGivesCodes01And03) {
    const EncodedConfig out = encoded(presetPanel(trevaloPreset()));
    EXPECT_EQ(out.block[16], 1);
    EXPECT_EQ(out.block[17], 1);
    for (std::size_t at : {18, 21, 24, 28, 31})
        EXPECT_EQ(out.block[at], 3) << at;
}

TEST(AlertCodes, AreDecimalDigitsOfTheBits) {
    EXPECT_EQ(groupAlertCode({.bzWh = true}), 40);
    EXPECT_EQ(groupAlertCode({.evIn = true, .bzIn = true, .bzOut = true}), 31);
    EXPECT_EQ(groupAlertCode({.evIn = true, .evOut = true}), 3);
    EXPECT_EQ(groupAlertCode({}), 0);
    EXPECT_EQ(simpleAlertCode(true, false), 10);
    EXPECT_EQ(simpleAlertCode(false, true), 1);
}

struct FieldCase {
    const char* name;
    ConfigField field;
    const char* text;
    std::optional<unsigned> stored;  // the field's bytes when accepted; nullopt when refused
};

class FieldCheck : public testing::TestWithParam<FieldCase> {};

TEST_P(FieldCheck, AcceptsOrRefusesWithItsMessage) {
    const FieldCase& c = GetParam();
    PanelValues panel = presetPanel(defaultPreset());
    panel.edit(c.field) = c.text;
    const auto result = encodeConfigBlock(panel);
    if (!c.stored) {
        ASSERT_TRUE(std::holds_alternative<ConfigRejection>(result));
        const auto& r = std::get<ConfigRejection>(result);
        EXPECT_EQ(r.field, c.field);
        EXPECT_EQ(r.message, std::string("Parâmetro inválido!\r\n[") +
                                 fieldLabel(c.field, MessageStyle::Write) + "]");
        return;
    }
    ASSERT_TRUE(std::holds_alternative<EncodedConfig>(result));
    const ConfigBlockBytes& b = std::get<EncodedConfig>(result).block;
    const bool wide = c.field == ConfigField::RPX || c.field == ConfigField::RBGL;
    const std::map<ConfigField, std::size_t> offsets{
        {ConfigField::ACP, 14},  {ConfigField::VMX, 19},  {ConfigField::TVMX, 20},
        {ConfigField::VCH, 22},  {ConfigField::TVCH, 23}, {ConfigField::RPX, 25},
        {ConfigField::TRPX, 27}, {ConfigField::TOSC, 29}, {ConfigField::XOSC, 30},
        {ConfigField::VBGL, 32}, {ConfigField::RBGL, 33}, {ConfigField::TBGL, 35}};
    const std::size_t at = offsets.at(c.field);
    EXPECT_EQ(static_cast<unsigned>(wide ? readBE16(&b[at]) : b[at]), *c.stored);
}

using F = ConfigField;
const FieldCase kFieldCases[] = {
    {"SpeedAboveLimit", F::VMX, "151", std::nullopt},
    {"SpeedAtLimit", F::VMX, "150", 150},
    {"SpeedZero", F::VMX, "0", 0},
    {"RainSpeedAboveLimit", F::VCH, "151", std::nullopt},
    {"RainSpeedAtLimit", F::VCH, "150", 150},
    {"SpeedTime61", F::TVMX, "61", std::nullopt},
    {"SpeedTime60", F::TVMX, "60", 60},
    {"SpeedTime31", F::TVMX, "31", 31},
    {"RainTime61", F::TVCH, "61", std::nullopt},
    {"RainTime60", F::TVCH, "60", 60},
    {"EngineSpeed999", F::RPX, "999", std::nullopt},
    {"EngineSpeed1000", F::RPX, "1000", 1000},
    {"EngineTime61", F::TRPX, "61", std::nullopt},
    {"EngineTime60", F::TRPX, "60", 60},
    {"IdlingZero", F::TOSC, "0", std::nullopt},
    {"IdlingOne", F::TOSC, "1", 1},
    {"ExceptionTime61", F::XOSC, "61", std::nullopt},
    {"ExceptionTime60", F::XOSC, "60", 60},
    {"CoastSpeedZero", F::VBGL, "0", std::nullopt},
    {"CoastSpeedOne", F::VBGL, "1", 1},
    {"CoastSpeed256WrapsToByte", F::VBGL, "256", 0},
    {"CoastRpm1001", F::RBGL, "1001", std::nullopt},
    {"CoastRpm1000", F::RBGL, "1000", 1000},
    {"CoastRpm300", F::RBGL, "300", 300},
    {"CoastRpm299", F::RBGL, "299", std::nullopt},
    {"CoastTime31", F::TBGL, "31", std::nullopt},
    {"CoastTime30", F::TBGL, "30", 30},
    {"Acceleration999LowByte", F::ACP, "999", 999 & 0xFF},
    {"Empty", F::VMX, "", std::nullopt},
    {"Minus", F::VMX, "-1", std::nullopt},
    {"LeadingSpace", F::VMX, " 5", std::nullopt},
    {"DecimalPoint", F::VMX, "1.5", std::nullopt},
    {"Plus", F::VMX, "+5", std::nullopt},
    {"AccelerationEmpty", F::ACP, "", std::nullopt},
    {"AccelerationSign", F::ACP, "+5", std::nullopt},
    {"LeadingZeros", F::VMX, "0000000000150", 150},
    // 2^32 + 100: a value that wrapped at 32 bits would pass the bound.
    {"HugeSpeedStillAboveLimit", F::VMX, "4294967396", std::nullopt},
    {"HugeAccelerationLowByte", F::ACP, "4294967307", 11},
    // 10^20 - 1 is beyond 64 bits; its low 16 bits are all ones.
    {"HugeEngineSpeedLow16Bits", F::RPX, "99999999999999999999", 0xFFFF},
};

INSTANTIATE_TEST_SUITE_P(Bounds, FieldCheck, testing::ValuesIn(kFieldCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigEncode, OnlyTheFirstFailingFieldIsReported) {
    PanelValues panel = presetPanel(defaultPreset());
    panel.edit(ConfigField::TBGL) = "31";
    panel.edit(ConfigField::VMX) = "151";
    EXPECT_EQ(rejected(panel).field, ConfigField::VMX);
    panel.edit(ConfigField::ACP) = "";
    const ConfigRejection r = rejected(panel);
    EXPECT_EQ(r.field, ConfigField::ACP);
    EXPECT_EQ(r.message, "Parâmetro inválido!\r\n[Aceleração]");
}

TEST(ConfigEncode, IdlingMessageKeepsTheWriteSpelling) {
    PanelValues panel = presetPanel(defaultPreset());
    panel.edit(ConfigField::TOSC) = "0";
    EXPECT_EQ(rejected(panel).message, "Parâmetro inválido!\r\n[Tempo osciosidade]");
}

struct ListCase {
    const char* name;
    std::function<void(PanelValues&)> unselect;
    const char* message;
};

class UnselectedList : public testing::TestWithParam<ListCase> {};

TEST_P(UnselectedList, IsRefusedWithNothingToEmpty) {
    PanelValues panel = presetPanel(defaultPreset());
    GetParam().unselect(panel);
    panel.edit(ConfigField::ACP) = "";  // lists come first in the block
    const ConfigRejection r = rejected(panel);
    EXPECT_FALSE(r.field);
    EXPECT_EQ(r.message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, UnselectedList,
    testing::Values(ListCase{"PingNone", [](PanelValues& p) { p.pingIndex = -1; },
                             "Parâmetro inválido!\r\n[PING]"},
                    ListCase{"PingPastEnd", [](PanelValues& p) { p.pingIndex = 10; },
                             "Parâmetro inválido!\r\n[PING]"},
                    ListCase{"A232None", [](PanelValues& p) { p.a232Index = -1; },
                             "Parâmetro inválido!\r\n[RS232-A]"},
                    ListCase{"B232PastEnd", [](PanelValues& p) { p.b232Index = 4; },
                             "Parâmetro inválido!\r\n[RS232-B]"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Decoding ---

// The default block with some bytes changed, its checksum made right again.
ConfigBlockBytes defaultBlockWith(std::initializer_list<std::pair<std::size_t, uint8_t>> bytes) {
    ConfigBlockBytes b = encoded(presetPanel(defaultPreset())).block;
    for (const auto& [at, value] : bytes)
        b[at] = value;
    uint32_t sum = 0;
    for (std::size_t i = 0; i < 36; ++i)
        sum += b[i];
    writeBE24(&b[36], sum);
    return b;
}

ReadBackDisplay shown(const ConfigBlockBytes& b) {
    const auto display = decodeConfigBlock(b);
    EXPECT_TRUE(display);
    return display.value_or(ReadBackDisplay{});
}

TEST(ConfigDecode, RefusesTheBlockAsAWhole) {
    ConfigBlockBytes badMagic = defaultBlockWith({{3, 0xDB}});
    EXPECT_FALSE(decodeConfigBlock(badMagic));

    ConfigBlockBytes allFF;
    allFF.fill(0xFF);
    EXPECT_FALSE(decodeConfigBlock(allFF));

    ConfigBlockBytes badSum = encoded(presetPanel(defaultPreset())).block;
    badSum[38] ^= 1;
    EXPECT_FALSE(decodeConfigBlock(badSum));

    ConfigBlockBytes changedField = encoded(presetPanel(defaultPreset())).block;
    changedField[19] = 100;
    EXPECT_FALSE(decodeConfigBlock(changedField));

    // 2024 + 9 is one byte past the block.
    ConfigBlockBytes tooLong = encoded(presetPanel(defaultPreset())).block;
    writeBE16(&tooLong[4], 2024);
    EXPECT_FALSE(decodeConfigBlock(tooLong));
    writeBE16(&tooLong[4], 0xFFFF);
    EXPECT_FALSE(decodeConfigBlock(tooLong));
}

// Lengths that put the checksum anywhere from the header to the block's last bytes.
TEST(ConfigDecode, ChecksumFollowsTheLengthAndStaysInTheBlock) {
    for (const uint16_t length : {0, 1, 29, 31, 2023}) {
        ConfigBlockBytes b = encoded(presetPanel(defaultPreset())).block;
        writeBE16(&b[4], length);
        const std::size_t total = length + 9u;
        uint32_t sum = 0;
        for (std::size_t i = 0; i + 3 < total; ++i)
            sum += b[i];
        writeBE24(&b[total - 3], sum);
        EXPECT_TRUE(decodeConfigBlock(b)) << length;
        b[total - 1] ^= 1;
        EXPECT_FALSE(decodeConfigBlock(b)) << length;
    }
}

TEST(ConfigDecode, A232OtherThan115200IsShownYetInvalid) {
    const ReadBackDisplay d = shown(defaultBlockWith({{10, 0}, {11, 192}}));
    EXPECT_EQ(d.a232Index, 1);
    EXPECT_EQ(d.problems, 1);
    const ReadBackDisplay none = shown(defaultBlockWith({{10, 0}, {11, 100}}));
    EXPECT_EQ(none.a232Index, -1);
    EXPECT_EQ(none.problems, 2);  // not a choice, and not 1152
}

TEST(ConfigDecode, UnknownPingAndB232LeaveTheListsUnselected) {
    const ReadBackDisplay d = shown(defaultBlockWith({{8, 0}, {9, 20}, {12, 0}, {13, 97}}));
    EXPECT_EQ(d.pingIndex, -1);
    EXPECT_EQ(d.b232Index, -1);
    EXPECT_EQ(d.problems, 2);
}

TEST(ConfigDecode, GroupCodesWithinTheirDigitLimits) {
    const ReadBackDisplay d = shown(defaultBlockWith({{18, 40}, {21, 31}}));
    EXPECT_EQ(d.problems, 0);
    const ReadBackGroup& vmx = d.groups[int(AlertGroup::VMX)];
    EXPECT_EQ(vmx.buzzer, (std::array<bool, 3>{false, false, true}));
    EXPECT_EQ(vmx.event, (std::array<bool, 2>{false, false}));
    const ReadBackGroup& vch = d.groups[int(AlertGroup::VCH)];
    EXPECT_EQ(vch.buzzer, (std::array<bool, 3>{true, true, false}));
    EXPECT_EQ(vch.event, (std::array<bool, 2>{true, false}));
}

// Each out-of-range digit counts once and leaves its own check boxes alone.
TEST(ConfigDecode, DigitsOutOfRangeLeaveTheirBoxes) {
    const ReadBackDisplay d = shown(defaultBlockWith({{18, 50}, {24, 14}, {31, 255}}));
    EXPECT_FALSE(d.groups[int(AlertGroup::VMX)].buzzer);
    EXPECT_TRUE(d.groups[int(AlertGroup::VMX)].event);
    EXPECT_TRUE(d.groups[int(AlertGroup::RPX)].buzzer);
    EXPECT_FALSE(d.groups[int(AlertGroup::RPX)].event);
    EXPECT_FALSE(d.groups[int(AlertGroup::BGL)].buzzer);
    EXPECT_FALSE(d.groups[int(AlertGroup::BGL)].event);
    EXPECT_EQ(d.problems, 4);

    const ReadBackDisplay acp = shown(defaultBlockWith({{16, 12}, {17, 22}}));
    EXPECT_EQ(acp.bzAcp, true);
    EXPECT_FALSE(acp.evAcp);
    EXPECT_FALSE(acp.bzAcn);
    EXPECT_FALSE(acp.evAcn);
    EXPECT_EQ(acp.problems, 3);
}

TEST(ConfigDecode, BytesEqualToTheirOffsetsAddOneProblem) {
    // Bytes 16 and 17 fail their units digit either way; the pattern adds one on top.
    const int near = shown(defaultBlockWith({{14, 13}, {15, 15}, {16, 16}, {17, 17}})).problems;
    const int pattern = shown(defaultBlockWith({{14, 14}, {15, 15}, {16, 16}, {17, 17}})).problems;
    EXPECT_EQ(near, 2);
    EXPECT_EQ(pattern, 3);
}

void expectShowsPanel(const ReadBackDisplay& d, const PanelValues& p) {
    EXPECT_EQ(d.problems, 0);
    EXPECT_EQ(d.pingIndex, p.pingIndex);
    EXPECT_EQ(d.a232Index, p.a232Index);
    EXPECT_EQ(d.b232Index, p.b232Index);
    EXPECT_EQ(d.edits, p.edits);
    EXPECT_EQ(d.bzAcp, p.bzAcp);
    EXPECT_EQ(d.evAcp, p.evAcp);
    EXPECT_EQ(d.bzAcn, p.bzAcn);
    EXPECT_EQ(d.evAcn, p.evAcn);
    for (AlertGroup g : kAlertGroups) {
        const GroupAlerts& a = p.group(g);
        EXPECT_EQ(d.groups[int(g)].buzzer, (std::array<bool, 3>{a.bzIn, a.bzOut, a.bzWh}))
            << groupCode(g);
        EXPECT_EQ(d.groups[int(g)].event, (std::array<bool, 2>{a.evIn, a.evOut})) << groupCode(g);
    }
}

TEST(ConfigDecode, RoundTripShowsThePanelUnchanged) {
    PanelValues odd = presetPanel(defaultPreset());
    odd.pingIndex = 0;
    odd.b232Index = 3;
    odd.edit(ConfigField::ACP) = "255";
    odd.edit(ConfigField::RPX) = "9999";
    odd.edit(ConfigField::RBGL) = "300";
    odd.group(AlertGroup::RPX) = {.evOut = true, .bzWh = true};
    odd.group(AlertGroup::BGL) = {.evIn = true, .evOut = true, .bzIn = true, .bzOut = true};
    odd.bzAcn = false;
    for (const PanelValues& panel :
         {presetPanel(defaultPreset()), presetPanel(trevaloPreset()), odd})
        expectShowsPanel(shown(encoded(panel).block), panel);
}

}  // namespace
}  // namespace vek
