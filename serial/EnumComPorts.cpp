#include "serial/EnumComPorts.h"

#include <algorithm>

namespace vek {

namespace {
char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

void sortIgnoringCase(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return folded(x) < folded(y); });
    });
}

}  // namespace vek
