#pragma once

#include <chrono>
#include <exception>
#include <memory>

#include "serial/ComPort.h"
#include "serial/ComSignal.h"

namespace vek {

// The stop signal was raised during an operation.
class Interrupted : public std::exception {
  public:
    const char* what() const noexcept override { return "interrupted"; }
};

// A transfer or read under way on one port, advanced by whichever thread waits for that port.
class Paced {
  public:
    using Clock = std::chrono::steady_clock;
    virtual TComPort& port() = 0;
    virtual Clock::time_point nextTick() const = 0;
    // One wakeup, with bytes arrived or at the tick; true once the work is complete.
    virtual bool advance(bool bytesArrived) = 0;

  protected:
    ~Paced() = default;
};

// Waits for the ports of many links on one thread and advances their work there, so that a
// station's boxes do not wake a thread each for every packet (on Windows each link is advanced
// on its caller's thread). Thread-safe; outlives the work it drives.
class PaceLoop {
  public:
    explicit PaceLoop(const TComSignal& stop);
    ~PaceLoop();
    PaceLoop(const PaceLoop&) = delete;
    PaceLoop& operator=(const PaceLoop&) = delete;

    // Returns once work is complete; what it throws comes out here, Interrupted once stop is
    // raised and EComPort 21 when the line hangs up. The port is the loop's until then.
    void drive(Paced& work);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The same on the calling thread alone, which waits for the port.
void paceHere(Paced& work, const TComSignal& stop);

// Milliseconds from now until when, rounded up; 0 once it has passed.
int millisecondsUntil(Paced::Clock::time_point when);

}  // namespace vek
