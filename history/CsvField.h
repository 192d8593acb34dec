#pragma once

#include <string>

namespace vek::history {

// A CSV field as spreadsheets read it: quoted, with its quotes doubled, when it holds a comma, a
// quote or a line end.
std::string csvField(const std::string& value);

}  // namespace vek::history
