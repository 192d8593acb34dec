#pragma once

#include <atomic>

#include "serial/NativeHandle.h"

namespace vek {

// Ends a port's WaitForEvent from another thread, or from a signal handler: raise() only stores a
// flag and writes a descriptor (sets an event on Windows), both safe there. Once raised it stays
// raised.
class TComSignal {
  public:
    TComSignal();  // std::system_error when the descriptor cannot be made
    ~TComSignal();
    TComSignal(const TComSignal&) = delete;
    TComSignal& operator=(const TComSignal&) = delete;

    void raise() noexcept;
    bool raised() const noexcept { return raised_.load(); }
    // Blocks the calling thread until raised.
    void waitRaised() const;
    // What a wait watches: readable (Linux) or signalled (Windows) once raised.
    NativeHandle handle() const { return handle_; }

  private:
    std::atomic<bool> raised_{false};
    NativeHandle handle_ = kNoHandle;
};

}  // namespace vek
