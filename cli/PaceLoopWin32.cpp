#include "cli/PaceLoop.h"

namespace vek {

// A port's wait here is its own overlapped event; each link waits on its caller's thread.
struct PaceLoop::Impl {
    const TComSignal& stop;
};

PaceLoop::PaceLoop(const TComSignal& stop) : impl_(std::make_unique<Impl>(Impl{stop})) {}

PaceLoop::~PaceLoop() = default;

void PaceLoop::drive(Paced& work) {
    paceHere(work, impl_->stop);
}

}  // namespace vek
