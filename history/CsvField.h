#pragma once

#include <string>
#include <string_view>

namespace vek::history {

// Appends a CSV field as spreadsheets read it: quoted, with its quotes doubled, when it holds a
// comma, a quote or a line end.
void appendCsvField(std::string& out, std::string_view value);

}  // namespace vek::history
