#pragma once

#include <cstdlib>

namespace vek::fuzz {

// A property that must hold for every input: a failure is a finding, reported as a crash.
inline void check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace vek::fuzz
