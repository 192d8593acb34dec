#include "link/DeviceStatus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vek {
namespace {

// A status payload in bootloader mode with identifier bytes 01 to 0C and the given texts.
std::vector<uint8_t> statusPayload(std::array<uint8_t, 4> version, const char* text1 = "",
                                   const char* text2 = "") {
    std::vector<uint8_t> p(kStatusPayloadSize);
    p[0] = 1;
    for (int i = 1; i <= 12; ++i)
        p[i] = uint8_t(i);
    std::memcpy(&p[13], text1, std::min<std::size_t>(std::strlen(text1), 12));
    std::memcpy(&p[25], text2, std::min<std::size_t>(std::strlen(text2), 12));
    std::copy(version.begin(), version.end(), &p[37]);
    p[41] = 0x08;
    p[42] = 0x01;
    p[43] = 0xF8;
    p[44] = 0x00;
    return p;
}

TEST(DecodeStatus, FieldsInDisplayOrder) {
    const auto info = decodeStatus(statusPayload({3, 1, 2, 36}, "VEK", "123456789012"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->mode, 1);
    // The word that arrived last comes first; each word keeps its bytes' order.
    EXPECT_EQ(info->id, (std::array<uint32_t, 3>{0x090A0B0C, 0x05060708, 0x01020304}));
    EXPECT_EQ(info->text, "VEK - 123456789012");
    EXPECT_EQ(info->version, (std::array<uint8_t, 4>{3, 1, 2, 36}));
    EXPECT_EQ(info->configBase, 0x0801F800u);
    EXPECT_FALSE(info->identified);
}

TEST(DecodeStatus, TwelveCharacterTextsStopAtTheirField) {
    // No zero byte in either field: the first text must not run into the second.
    const auto info = decodeStatus(statusPayload({3, 0, 2, 36}, "ABCDEFGHIJKL", "MNOPQRSTUVWX"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->text, "ABCDEFGHIJKL - MNOPQRSTUVWX");
}

TEST(DecodeStatus, PayloadLength) {
    std::vector<uint8_t> payload = statusPayload({3, 0, 2, 36});
    EXPECT_FALSE(decodeStatus(std::span(payload).first(kStatusPayloadSize - 1)));
    EXPECT_FALSE(decodeStatus({}));
    EXPECT_TRUE(decodeStatus(payload));
    payload.resize(60, 0xFF);  // bytes beyond the layout are not looked at
    ASSERT_TRUE(decodeStatus(payload));
    EXPECT_EQ(decodeStatus(payload)->configBase, 0x0801F800u);
}

TEST(VersionAndIdText, DecimalVersionAndEightHexDigitsPerWord) {
    DeviceInfo info;
    info.version = {41, 255, 0, 9};
    info.id = {0x090A0B0C, 0xABCDEF01, 0};
    EXPECT_EQ(versionAndIdText(info), "Vek v41.255.0.9\r\nId: 090A0B0C ABCDEF01 00000000");
}

struct ActionRow {
    const char* name;
    std::array<uint8_t, 4> version;
    DeviceAction action;
};

class DeviceActionCases : public testing::TestWithParam<ActionRow> {};

TEST_P(DeviceActionCases, Decision) {
    EXPECT_EQ(decideDeviceAction(GetParam().version), GetParam().action);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, DeviceActionCases,
    testing::Values(
        ActionRow{"Type3At2_36IsCurrent", {3, 0, 2, 36}, DeviceAction::UpToDateThenRead},
        ActionRow{"Type3At2_35", {3, 0, 2, 35}, DeviceAction::UploadFirmware},
        ActionRow{"Type3At1_200", {3, 0, 1, 200}, DeviceAction::UploadFirmware},
        ActionRow{"Type3At0_0", {3, 0, 0, 0}, DeviceAction::UploadFirmware},
        ActionRow{"Type3At3_0IsCurrent", {3, 0, 3, 0}, DeviceAction::UpToDateThenRead},
        ActionRow{"Type3At2_37IsCurrent", {3, 0, 2, 37}, DeviceAction::UpToDateThenRead},
        ActionRow{"Type4WithoutFirmware", {4, 0, 255, 255}, DeviceAction::UploadFirmware},
        ActionRow{"Type4At255_0IsCurrent", {4, 0, 255, 0}, DeviceAction::UpToDateThenRead},
        ActionRow{"Type4At255_254IsCurrent", {4, 0, 255, 254}, DeviceAction::UpToDateThenRead},
        ActionRow{"Type4At99_0", {4, 0, 99, 0}, DeviceAction::UploadFirmware},
        ActionRow{"Type4At99_255", {4, 0, 99, 255}, DeviceAction::UploadFirmware},
        ActionRow{"Type41At2_35", {41, 0, 2, 35}, DeviceAction::UploadFirmware},
        ActionRow{"Type41At2_36IsCurrent", {41, 7, 2, 36}, DeviceAction::UpToDateThenRead},
        ActionRow{"Type2IsDiscontinued", {2, 0, 1, 0}, DeviceAction::DiscontinuedThenRead},
        ActionRow{"Type1WithoutFirmwareIsDiscontinued",
                  {1, 0, 255, 255},
                  DeviceAction::DiscontinuedThenRead},
        ActionRow{"Type5IsUnknown", {5, 0, 0, 0}, DeviceAction::None},
        ActionRow{"Type0IsUnknown", {0, 0, 0, 0}, DeviceAction::None},
        ActionRow{"Type40IsUnknown", {40, 0, 2, 35}, DeviceAction::None},
        ActionRow{"Type42IsUnknown", {42, 0, 2, 35}, DeviceAction::None}),
    [](const testing::TestParamInfo<ActionRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vek
