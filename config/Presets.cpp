#include "config/Presets.h"

#include <utility>

namespace vek {

void setBuzzer(GroupAlerts& alerts, bool GroupAlerts::*box, bool on) {
    alerts.*box = on;
    if (!on)
        return;
    if (box == &GroupAlerts::bzWh)
        alerts.bzIn = alerts.bzOut = false;
    else
        alerts.bzWh = false;
}

PanelValues presetPanel(const Preset& preset, PanelValues before) {
    PanelValues panel = std::move(before);
    panel.pingIndex = preset.pingIndex;
    panel.a232Index = preset.a232Index;
    panel.b232Index = preset.b232Index;
    for (int f = 0; f < kConfigFieldCount; ++f)
        panel.edits[f] = preset.edits[f];
    panel.evAcp = preset.evAcp;
    panel.bzAcp = preset.bzAcp;
    panel.evAcn = preset.evAcn;
    panel.bzAcn = preset.bzAcn;
    const GroupAlerts& wanted = preset.groupAlerts;
    for (GroupAlerts& alerts : panel.groups) {
        alerts.evIn = wanted.evIn;
        alerts.evOut = wanted.evOut;
        setBuzzer(alerts, &GroupAlerts::bzIn, wanted.bzIn);
        setBuzzer(alerts, &GroupAlerts::bzOut, wanted.bzOut);
        if (preset.setsDuring)
            setBuzzer(alerts, &GroupAlerts::bzWh, wanted.bzWh);
    }
    return panel;
}

// Edit texts in ConfigField order: ACP, ACN, VMX, TVMX, VCH, TVCH, RPX, TRPX, TOSC, XOSC, VBGL,
// RBGL, TBGL.

const Preset& defaultPreset() {
    static constexpr Preset kDefault{
        .pingIndex = 8,  // 180 s
        .a232Index = 3,  // 115200
        .b232Index = 1,  // 19200
        .edits = {"11", "11", "120", "5", "90", "5", "4500", "5", "6", "7", "40", "900", "5"},
        .evAcp = true,
        .bzAcp = true,
        .evAcn = true,
        .bzAcn = true,
        .groupAlerts = {.evIn = true, .evOut = false, .bzIn = true, .bzOut = false},
        // "Durante" is left alone: checking "Entrada" clears it through the interlock.
        .setsDuring = false,
    };
    return kDefault;
}

const Preset& trevaloPreset() {
    static constexpr Preset kTrevalo{
        .pingIndex = 5,  // 60 s
        .a232Index = 3,
        .b232Index = 1,
        .edits = {"11", "11", "100", "10", "80", "10", "4500", "5", "1", "7", "40", "900", "5"},
        .evAcp = true,
        .bzAcp = false,
        .evAcn = true,
        .bzAcn = false,
        .groupAlerts = {.evIn = true, .evOut = true, .bzIn = false, .bzOut = false, .bzWh = false},
        .setsDuring = true,
    };
    return kTrevalo;
}

}  // namespace vek
