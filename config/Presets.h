#pragma once

#include "config/ConfigPanel.h"

namespace vek {

// A preset as data: every control it sets, applied by the window in the preset order.
struct Preset {
    int pingIndex, a232Index, b232Index;
    std::array<const char*, kConfigFieldCount> edits;  // indexed by ConfigField
    bool evAcp, bzAcp, evAcn, bzAcn;
    GroupAlerts groupAlerts;  // the same for all five groups
    bool setsDuring;          // whether the preset sets "Durante" itself
};

// Sets one buzzer box of a group the way the window's interlock does: checking "Durante" clears
// "Entrada" and "Saída", checking either of those clears "Durante".
void setBuzzer(GroupAlerts& alerts, bool GroupAlerts::*box, bool on);

// The panel after the window has applied `preset` over `before`, in the preset's order.
PanelValues presetPanel(const Preset& preset, PanelValues before = {});

const Preset& defaultPreset();
const Preset& trevaloPreset();

}  // namespace vek
