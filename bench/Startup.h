#pragma once

#include <string>
#include <vector>

namespace vek::bench {

// One start of a program that writes a line to its standard output once its window is shown
// and then leaves (both programs do so when VEKTOOL_EXIT_WHEN_SHOWN is set).
struct StartupFigures {
    bool ok = false;
    std::string failure;
    double shownS = 0;  // from the spawn to the line
    long peakKiB = 0;   // the child's peak resident set
    double cpuS = 0;    // the child's user and system time
};

StartupFigures startOnce(const std::string& program, const std::vector<std::string>& extraEnv);

}  // namespace vek::bench
