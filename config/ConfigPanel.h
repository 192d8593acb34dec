#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vek {

// The choice tables of the panel.
inline constexpr std::array<int, 10> kPingChoices{5, 10, 15, 30, 45, 60, 90, 120, 180, 300};
inline constexpr std::array<int, 4> kBaudChoicesInHundreds{96, 192, 576, 1152};

// The value of list item index; nullopt when the list has no selection (or a stray index).
template <std::size_t N>
std::optional<int> choiceAt(const std::array<int, N>& choices, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= N)
        return std::nullopt;
    return choices[static_cast<std::size_t>(index)];
}

// The five groups that carry event and buzzer check boxes, in block order.
enum class AlertGroup { VMX, VCH, RPX, OSC, BGL };
inline constexpr std::array<AlertGroup, 5> kAlertGroups{
    AlertGroup::VMX, AlertGroup::VCH, AlertGroup::RPX, AlertGroup::OSC, AlertGroup::BGL};
const char* groupCode(AlertGroup group);  // "VMX", ...

struct GroupAlerts {
    bool evIn = false, evOut = false;
    bool bzIn = false, bzOut = false, bzWh = false;
};

// The edit boxes of the panel that the block, the presets and the commands use.
enum class ConfigField { ACP, ACN, VMX, TVMX, VCH, TVCH, RPX, TRPX, TOSC, XOSC, VBGL, RBGL, TBGL };
inline constexpr int kConfigFieldCount = 13;
const char* editBoxName(ConfigField field);  // "ED_ACP", ...

// The write's check of an edit box: non-empty and digits only, then the field's bound. Gives the
// entered number's low 32 bits, so its low 8 and 16 bits are exact at any length; nullopt when
// the text is refused.
std::optional<uint32_t> checkedFieldValue(ConfigField field, std::string_view text);

// The rejection messages: the write's message box puts the name on a line of its own, the remote
// list keeps one line. The two also spell the idling time differently.
enum class MessageStyle { Write, Remote };
inline constexpr const char* kPingLabel = "PING";
inline constexpr const char* kA232Label = "RS232-A";
inline constexpr const char* kB232Label = "RS232-B";
const char* fieldLabel(ConfigField field, MessageStyle style);  // "Velocidade", ...
std::string invalidParameterMessage(std::string_view label, MessageStyle style);

// What the panel holds: list indices (-1 unselected), edit texts and check states.
struct PanelValues {
    int pingIndex = -1, a232Index = -1, b232Index = -1;
    std::array<std::string, kConfigFieldCount> edits;  // indexed by ConfigField
    bool evAcp = false, bzAcp = false, evAcn = false, bzAcn = false;
    std::array<GroupAlerts, 5> groups;  // indexed by AlertGroup

    std::string& edit(ConfigField f) { return edits[static_cast<int>(f)]; }
    const std::string& edit(ConfigField f) const { return edits[static_cast<int>(f)]; }
    GroupAlerts& group(AlertGroup g) { return groups[static_cast<int>(g)]; }
    const GroupAlerts& group(AlertGroup g) const { return groups[static_cast<int>(g)]; }
};

// 10 x buzzer + event for acceleration and deceleration.
int simpleAlertCode(bool buzzer, bool event);
// 10 x (in + 2 out + 4 during buzzer) + (in + 2 out event).
int groupAlertCode(const GroupAlerts& alerts);

}  // namespace vek
