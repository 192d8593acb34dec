#include "cli/PaceLoop.h"

#include <algorithm>

namespace vek {

int millisecondsUntil(Paced::Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Paced::Clock::now());
    return int(std::max<int64_t>(left.count(), 0));
}

void paceHere(Paced& work, const TComSignal& stop) {
    for (;;) {
        if (stop.raised())
            throw Interrupted();
        const TComEvents events =
            work.port().WaitForEvent(evRxChar, stop, millisecondsUntil(work.nextTick()));
        if (stop.raised())
            throw Interrupted();
        if (work.advance(events != 0))
            return;
    }
}

}  // namespace vek
