#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vek {

// What vekctl tells about itself: the whole help, a command's own, and the options each command
// takes (the one place that says it, so that help and the refusal of a wrong option agree).

// "config set" for the words "config", "set"; the command alone otherwise; empty when unknown.
std::string commandNameOf(const std::string& command, const std::string& sub);

std::string wholeHelp();
// The command's usage, what it does, its options and an example; nullopt for an unknown one.
std::optional<std::string> commandHelp(const std::string& name);

// Whether the command takes the option (its long name); --json, --quiet, --timeout and --help
// go with every command.
bool takesOption(const std::string& command, const std::string& option);

// The command or the long option that a mistyped one most likely meant, as "você quis dizer ...?",
// or empty.
std::string commandSuggestion(const std::string& typed);
std::string optionSuggestion(const std::string& typed);

}  // namespace vek
