#include "sim/SimModel.h"

#include <stdexcept>
#include <variant>

#include "config/Presets.h"

namespace vek {

ConfigBlockBytes presetBlock(const Preset& preset) {
    const auto encoded = encodeConfigBlock(presetPanel(preset));
    if (const auto* rejection = std::get_if<ConfigRejection>(&encoded))
        throw std::logic_error("a preset is refused: " + rejection->message);
    return std::get<EncodedConfig>(encoded).block;
}

ConfigBlockBytes defaultPresetBlock() {
    return presetBlock(defaultPreset());
}

SimModel fieldBox(uint8_t firmwareMinor, int statusIntervalMs) {
    SimModel model;
    model.version = {3, 0, 2, firmwareMinor};
    model.configBase = 0x0800F000;
    model.store = defaultPresetBlock();
    model.statusIntervalMs = statusIntervalMs;
    return model;
}

}  // namespace vek
