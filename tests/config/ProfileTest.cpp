// Profiles: what a file may hold, and the way back from a box's block to the same block.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <map>
#include <set>

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
        {"a rate the box does not keep", edited("\"rs232_a\": 115200", "\"rs232_a\": 9600"),
         "rs232_a"},
        {"a key twice", edited("\"ping\": 180", "\"ping\": 300, \"ping\": 180"), "ping"},
        {"a nested key twice", edited("\"limit\": 120", "\"limit\": 120, \"li\\u006dit\": 90"),
         "speed.limit"},
        {"a flat key beside the nested one", edited("\"ping\"", "\"speed.limit\": 90, \"ping\""),
         "speed.limit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.meaning);
        const auto parsed = parseProfile(c.json);
        const auto* problems = std::get_if<std::vector<ProfileError>>(&parsed);
        ASSERT_NE(problems, nullptr);
        EXPECT_EQ(problems->front().field, c.field);
        EXPECT_FALSE(problems->front().message.empty());
    }
}

// A person fixing a profile wants all of its mistakes from one run, with where and what was meant.
TEST(Profile, EveryProblemIsToldInOneRun) {
    QByteArray json = edited("\"rs232_b\"", "\"rs323_b\"");
    json.replace("\"ping\": 180", "\"ping\": 20").replace("\"limit\": 120", "\"limit\": 151");
    const auto parsed = parseProfile(json);
    std::map<std::string, std::string> told;
    for (const ProfileError& p : std::get<std::vector<ProfileError>>(parsed))
        told[p.field] = p.message;
    EXPECT_EQ(told["rs323_b"], "campo desconhecido; você quis dizer rs232_b?");
    EXPECT_EQ(told["rs232_b"], "campo ausente");
    EXPECT_TRUE(told.contains("ping"));
    EXPECT_EQ(told["speed.limit"], "Parâmetro inválido! [Velocidade]");

    const auto broken = parseProfile("{\n  \"format\": 1,\n  \"ping\" 5\n}");
    const std::string message = std::get<std::vector<ProfileError>>(broken).front().message;
    EXPECT_NE(message.find("na linha 3, coluna "), std::string::npos) << message;
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

// The values worth trying in a number field: its ends and every value where the write's check
// turns, found on the panel, where trying them all is cheap.
std::set<int> boundsOf(const std::string& path) {
    std::set<int> bounds{0, 1, 254, 255, 256, 65534, 65535};
    for (int f = 0; f < kConfigFieldCount; ++f) {
        const auto field = ConfigField(f);
        if (fieldPath(field) != path)
            continue;
        for (uint32_t v = 1; v <= storedMaximum(field); ++v)
            if (checkedFieldValue(field, std::to_string(v)).has_value() !=
                checkedFieldValue(field, std::to_string(v - 1)).has_value())
                bounds.insert({int(v) - 1, int(v)});
    }
    return bounds;
}

// Calls visit with the profile's object and each leaf's path and value.
void forEachLeaf(const QJsonObject& object, const std::string& prefix,
                 const std::function<void(const std::string&, const QJsonValue&)>& visit) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::string path = prefix + it.key().toStdString();
        if (it.value().isObject())
            forEachLeaf(it.value().toObject(), path + ".", visit);
        else
            visit(path, it.value());
    }
}

QJsonObject withLeaf(QJsonObject object, const QString& path, const QJsonValue& value) {
    const qsizetype dot = path.indexOf('.');
    if (dot < 0) {
        object[path] = value;
        return object;
    }
    const QString head = path.left(dot);
    object[head] = withLeaf(object[head].toObject(), path.mid(dot + 1), value);
    return object;
}

// A profile that the write takes must read back as valid, or the window and the next read would
// replace it with the defaults: the two agree on every field at each of its bounds.
TEST(Profile, EveryValueItAcceptsReadsBackAsValid) {
    int accepted = 0, refused = 0;
    for (const Preset& preset : {defaultPreset(), trevaloPreset()}) {
        const QJsonObject base =
            QJsonDocument::fromJson(profileJson({"p", std::nullopt, presetPanel(preset)})).object();
        forEachLeaf(base, "", [&](const std::string& path, const QJsonValue& value) {
            std::vector<QJsonValue> tries;
            if (value.isBool())
                tries = {true, false};
            else if (path == "ping")
                tries.assign(kPingChoices.begin(), kPingChoices.end());
            else if (path.starts_with("rs232"))
                for (int rate : kBaudChoicesInHundreds)
                    tries.push_back(rate * 100);
            else if (value.isDouble())
                for (int v : boundsOf(path))
                    tries.push_back(v);
            for (const QJsonValue& candidate : tries) {
                SCOPED_TRACE(path + " = " + std::to_string(candidate.toInt(candidate.toBool())));
                const auto parsed = parseProfile(
                    QJsonDocument(withLeaf(base, QString::fromStdString(path), candidate))
                        .toJson());
                const auto* profile = std::get_if<Profile>(&parsed);
                const auto encoded = profile ? encodeConfigBlock(profile->panel)
                                             : std::variant<EncodedConfig, ConfigRejection>{};
                const auto* block = std::get_if<EncodedConfig>(&encoded);
                if (!profile || !block) {
                    ++refused;
                    continue;
                }
                ++accepted;
                const auto stored = storedPanel(block->block);
                ASSERT_TRUE(stored) << "written, then read back as invalid";
                EXPECT_TRUE(differences(*stored, profile->panel).empty());
            }
        });
    }
    EXPECT_GT(accepted, 100);
    EXPECT_GT(refused, 10);
}

}  // namespace
}  // namespace vek
