#include "history/CsvField.h"

#include <algorithm>

namespace vek::history {

void appendCsvField(std::string& out, std::string_view value) {
    const bool plain = std::none_of(value.begin(), value.end(), [](char c) {
        return c == ',' || c == '"' || c == '\r' || c == '\n';
    });
    if (plain) {
        out += value;
        return;
    }
    out += '"';
    for (const char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace vek::history
