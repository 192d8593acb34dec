#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace vek {

// The synchronous hand-over of a port's events from its event thread to the owner thread, one at
// a time. A hand-over goes Pending (posted) -> Started (the owner thread runs it) -> Done. A stop
// while it is Pending abandons it, so the owner thread can join at once; a Started one is on the
// owner thread's own stack, so the event thread ends only once it is Done.
class HandOver {
  public:
    // wakeOwner makes the owner thread call start(): it raises what the owner's notifier watches.
    explicit HandOver(std::function<void()> wakeOwner) : wakeOwner_(std::move(wakeOwner)) {}
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;

    // Event thread: posts a hand-over and waits for its end; false when the thread is to end.
    bool post();
    // Owner thread: takes the pending hand-over; false when there is none (it was abandoned).
    bool start();
    void finish();
    // Any thread: no further hand-overs; a pending one is abandoned.
    void stop();
    bool stopping() const { return stopping_; }
    // Owner thread: whether a hand-over is running on the owner's stack.
    bool started() const;

  private:
    enum class State { Idle, Pending, Started, Done, Abandoned };

    std::function<void()> wakeOwner_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::Idle;
    std::atomic<bool> stopping_{false};
};

}  // namespace vek
