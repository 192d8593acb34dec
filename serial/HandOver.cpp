#include "serial/HandOver.h"

namespace vek {

bool HandOver::post() {
    std::unique_lock lock(mutex_);
    if (stopping_)
        return false;
    state_ = State::Pending;
    wakeOwner_();
    changed_.wait(
        lock, [this] { return state_ == State::Done || (stopping_ && state_ == State::Pending); });
    if (state_ == State::Pending) {
        // The owner thread is closing and will not run it: it must not wait for us.
        state_ = State::Abandoned;
        return false;
    }
    state_ = State::Idle;
    return !stopping_;
}

bool HandOver::start() {
    const std::lock_guard lock(mutex_);
    if (state_ != State::Pending)
        return false;
    state_ = State::Started;
    return true;
}

void HandOver::finish() {
    {
        const std::lock_guard lock(mutex_);
        state_ = State::Done;
    }
    changed_.notify_all();
}

void HandOver::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

bool HandOver::started() const {
    const std::lock_guard lock(mutex_);
    return state_ == State::Started;
}

}  // namespace vek
