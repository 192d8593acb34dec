// Profiles: what a file may hold, and the way back from a box's block to the same block.
#include <gtest/gtest.h>

#include "config/Presets.h"
#include "config/Profile.h"

namespace vek {
namespace {

QByteArray presetJson() {
    return profileJson({"default", std::nullopt, presetPanel(defaultPreset())});
}

// The preset's file with one change made by text, as a person edits it.
QByteArray edited(const char* from, const char* to) {
    QByteArray json = presetJson();
    EXPECT_TRUE(json.contains(from)) << from;
    return json.replace(from, to);
}

TEST(Profile, WhatABlockCannotHoldIsRefusedNamingTheField) {
    const struct {
        const char* meaning;
        QByteArray json;
        const char* field;
    } cases[] = {
        {"not JSON", "{\"format\": 1,", ""},
        {"empty", "  \n", ""},
        {"huge", QByteArray(kProfileMaxBytes + 1, ' ') + "{}", ""},
        {"unknown key", edited("\"ping\"", "\"pnig\": 5, \"ping\""), "pnig"},
        {"missing field", edited("\"limit\": 120,", ""), "speed.limit"},
        {"wrong type", edited("\"limit\": 120", "\"limit\": \"120\""), "speed.limit"},
        {"fraction", edited("\"limit\": 120", "\"limit\": 12.5"), "speed.limit"},
        {"beyond a byte", edited("\"limit\": 120", "\"limit\": 256"), "speed.limit"},
        {"not a choice", edited("\"ping\": 180", "\"ping\": 20"), "ping"},
        {"during with entry", edited("\"during\": false", "\"during\": true"),
         "speed.buzzer.during"},
        {"other format", edited("\"format\": 1", "\"format\": 2"), "format"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.meaning);
        const auto parsed = parseProfile(c.json);
        const auto* error = std::get_if<ProfileError>(&parsed);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->field, c.field);
        EXPECT_FALSE(error->message.empty());
    }
}

TEST(Profile, ABlockReadAndWrittenBackIsTheSameByteForByte) {
    PanelValues panel = presetPanel(trevaloPreset());
    panel.edit(ConfigField::RPX) = "12000";  // past what the panel lets one type
    panel.group(AlertGroup::OSC).bzWh = true;
    panel.group(AlertGroup::OSC).bzIn = false;
    const auto block = std::get<EncodedConfig>(encodeConfigBlock(panel)).block;
    const auto stored = storedPanel(block);
    ASSERT_TRUE(stored);
    const auto parsed =
        parseProfile(profileJson({"", ProfileSource{"id", "3.0.2.36", "t"}, *stored}));
    ASSERT_TRUE(std::holds_alternative<Profile>(parsed));
    EXPECT_EQ(std::get<EncodedConfig>(encodeConfigBlock(std::get<Profile>(parsed).panel)).block,
              block);
    EXPECT_TRUE(differences(*stored, std::get<Profile>(parsed).panel).empty());
}

}  // namespace
}  // namespace vek
