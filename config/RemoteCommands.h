#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/ConfigPanel.h"

namespace vek {

struct RemoteCommandList {
    std::vector<std::string> lines;           // the nine lines after the heading
    std::vector<ConfigField> rejectedFields;  // edit boxes to empty
};

inline constexpr const char* kRemoteCommandsHeading = "Comandos de configuração remota:";

RemoteCommandList remoteCommands(const PanelValues& panel);

}  // namespace vek
