#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vek {

// The known word that a mistyped one most likely meant: the closest by edits (a letter added,
// dropped, changed or two swapped), when it is close enough to be worth saying.
std::optional<std::string> nearestWord(const std::string& typed,
                                       const std::vector<std::string>& known);

}  // namespace vek
