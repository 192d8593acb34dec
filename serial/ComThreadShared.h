#pragma once

// Inside the serial component only: the state of one event thread, common to the platforms.

#include <atomic>

#include "serial/ComThread.h"
#include "serial/HandOver.h"

namespace vek {

// The signals are the platform's: eventfds and an epoll set on Linux, events on Windows.
void raiseSignal(NativeHandle signal);
void drainSignal(NativeHandle signal);
NativeHandle newSignal();  // kNoHandle when none can be made
void closeHandle(NativeHandle handle);

struct TComThread::Shared {
    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    ~Shared() {
        for (const NativeHandle h : {stopSignal, wakeSignal, waitSet})
            if (h != kNoHandle)
                closeHandle(h);
    }

    NativeHandle stopSignal = newSignal();
    NativeHandle wakeSignal = newSignal();  // raised while a hand-over is pending
    NativeHandle waitSet = kNoHandle;       // what the platform waits on, where it needs one
    HandOver handOver{[this] { raiseSignal(wakeSignal); }};
    std::atomic<bool> lineGone{false};

    void stop() {
        handOver.stop();
        raiseSignal(stopSignal);
    }
};

}  // namespace vek
