#pragma once

#include <atomic>

namespace vek {

// Ends a port's WaitForEvent from another thread, or from a signal handler: raise() only stores a
// flag and writes a descriptor, both safe there. Once raised it stays raised.
class TComSignal {
  public:
    TComSignal();  // std::system_error when the descriptor cannot be made
    ~TComSignal();
    TComSignal(const TComSignal&) = delete;
    TComSignal& operator=(const TComSignal&) = delete;

    void raise() noexcept;
    bool raised() const noexcept { return raised_.load(); }
    // What a wait watches: readable once raised.
    int descriptor() const { return fd_; }

  private:
    std::atomic<bool> raised_{false};
    int fd_ = -1;
};

}  // namespace vek
