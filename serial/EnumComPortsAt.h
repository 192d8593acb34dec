#pragma once

#include <string>
#include <vector>

namespace vek {

// EnumComPorts over the tty class directory ttyClassDir ("/sys/class/tty"); tests give it a tree
// of their own.
void EnumComPorts(std::vector<std::string>& list, const std::string& ttyClassDir);

}  // namespace vek
