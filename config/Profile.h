#pragma once

#include <QByteArray>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "config/ConfigBlock.h"
#include "config/ConfigPanel.h"

namespace vek {

// A box's configuration as a file a person can read and edit: JSON, the panel's fields by name,
// and where it came from when it was read from a box.
inline constexpr int kProfileFormat = 1;
inline constexpr qsizetype kProfileMaxBytes = 1 << 20;

struct ProfileSource {
    std::string identifier;  // as the window shows it, with dashes
    std::string version;     // a.b.c.d
    std::string time;        // ISO 8601, UTC
};

struct Profile {
    std::string name;  // empty when the file names none
    std::optional<ProfileSource> source;
    PanelValues panel;
};

// Why a profile is refused: the field ("speed.limit"; empty for the file as a whole) and what is
// wrong with it, in the technician's words.
struct ProfileError {
    std::string field;
    std::string message;
};

// Reads a profile, or tells every problem it has: unknown keys (with the nearest known one),
// missing fields, wrong types, values that the box's block cannot hold, a buzzer "during" together
// with "entry" or "exit", and then the write's own checks on the values it read. A profile that
// reads whole still goes through the write's checks (writeProblems, encodeConfigBlock), as the
// window's panel does.
std::variant<Profile, std::vector<ProfileError>> parseProfile(const QByteArray& json);

// The write's checks of a panel, every field that fails them, by the profile's key.
std::vector<ProfileError> writeProblems(const PanelValues& panel);
QByteArray profileJson(const Profile& profile);

// The profile's key of an edit box ("speed.limit"), for messages about it.
std::string fieldPath(ConfigField field);

// The panel that a stored block shows when the read-back finds nothing wrong with it.
std::optional<PanelValues> storedPanel(const ConfigBlockBytes& block);

// One field that differs between two panels, in the panel's terms.
struct FieldDifference {
    std::string field;    // the profile's key, "speed.buzzer.during"
    std::string caption;  // "VELOCIDADE / ALERTA BUZZER / Durante"
    std::string before, after;
};
std::vector<FieldDifference> differences(const PanelValues& a, const PanelValues& b);

}  // namespace vek
