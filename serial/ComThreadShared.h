#pragma once

// Inside the serial component only: the state of one event thread, common to the platforms.

#include <atomic>

#include "serial/ComSignal.h"
#include "serial/ComThread.h"
#include "serial/HandOver.h"

namespace vek {

// The wake signal is the platform's: an eventfd and an epoll set on Linux, an event on Windows.
void raiseSignal(NativeHandle signal);
void drainSignal(NativeHandle signal);
NativeHandle newSignal();  // kNoHandle when none can be made
void closeHandle(NativeHandle handle);
int lastSystemError();  // errno, or GetLastError on Windows

struct TComThread::Shared {
    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    ~Shared() {
        for (const NativeHandle h : {wakeSignal, waitSet})
            if (h != kNoHandle)
                closeHandle(h);
    }

    TComSignal stopSignal;                  // std::system_error when it cannot be made
    NativeHandle wakeSignal = newSignal();  // raised while a hand-over is pending
    NativeHandle waitSet = kNoHandle;       // what the platform waits on, where it needs one
    HandOver handOver{[this] { raiseSignal(wakeSignal); }};
    std::atomic<bool> lineGone{false};

    void stop() {
        handOver.stop();
        stopSignal.raise();
    }
};

}  // namespace vek
