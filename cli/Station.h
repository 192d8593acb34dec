#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "cli/BoxAccess.h"
#include "cli/StationOutput.h"
#include "config/ConfigBlock.h"

namespace vek {

struct StationOptions {
    std::string profileName;
    EncodedConfig block;             // the profile, checked and encoded
    std::vector<std::string> ports;  // the ports named; with all, every USB port present
    bool all = false;
    bool watch = false;
    std::string recordFile;          // none when empty
    std::string station;             // the name its record lines carry
    std::string syncUrl, syncToken;  // the history server the record's lines go to; none when empty
    int jobs = 64;
    std::chrono::milliseconds wait = kDefaultStatusWait;
};

// The provisioning station: each box identified, its firmware brought up to date, the profile
// written unless the box holds it already, read back and verified, and the visit recorded. Ports
// are serviced in parallel, each on a thread of its own, at most jobs at once, their transfers and
// reads paced together on one more thread. With watch it runs until stop, servicing each box once
// per plug-in. Returns the exit code: all succeeded, some failed, or interrupted.
int provision(const StationOptions& options, StationOutput& out, const TComSignal& stop);

}  // namespace vek
