#pragma once

// The faults of the simulated box that the operations are tried under, by the window's fault
// suite and by vekctl's: each with the share of frames it hits per operation and how the
// operation must end.

#include <functional>
#include <optional>
#include <vector>

#include "sim/SimFaults.h"

namespace vek::testing {

enum class Operation { Upload, Read, Write };
inline constexpr Operation kOperations[] = {Operation::Upload, Operation::Read, Operation::Write};
const char* nameOf(Operation op);

// How an operation under a fault ends.
enum class Ends {
    Completed,
    Reported,     // the pacer's report
    PortFailure,  // the failed write to a vanished port, then the pacer's report
};

struct Fault {
    const char* name;
    // The faults during op; none where the fault cannot touch op.
    std::function<std::optional<SimFaults>(Operation)> during;
    Ends ends;
};

const std::vector<Fault>& faults();
const Fault& faultNamed(const char* name);

}  // namespace vek::testing
