#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "serial/ComPort.h"

namespace vek::test {

using namespace std::chrono_literals;

// A pseudo-terminal pair: the port under test opens the slave, the test plays the far end on the
// master. Both ends the test holds are closed with it.
class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int master() const { return master_; }
    void closeMaster();

    // The far end's writes and reads; bytes travel asynchronously, so reads wait with a limit.
    void send(const std::vector<unsigned char>& bytes);
    std::vector<unsigned char> receive(size_t count, std::chrono::milliseconds limit = 2s);
    // Whether anything at all reaches the master within limit.
    bool anythingArrives(std::chrono::milliseconds limit);

    // A descriptor of the slave of the test's own, for reading its terminal settings.
    int openSlave();

  private:
    int master_ = -1;
    int ownSlave_ = -1;
    std::string slavePath_;
};

// The owner thread's event loop for the ports under test.
void ensureApplication();
// Runs the event loop until done() holds or limit passes; returns done().
bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 2s);
// Runs the event loop for a while, for what must not happen.
void runEventsFor(std::chrono::milliseconds span);

// Threads of this process now.
int threadCount();
// CPU seconds this process has used.
double processCpuSeconds();

std::vector<unsigned char> allByteValues();

// Each test gets a pseudo-terminal of its own and a port on its slave; the port goes first.
class PortOnPty : public testing::Test {
  protected:
    PortOnPty();

    // Runs the event loop until only the threads that were there before the test are left.
    bool threadsBackToBaseline();

    PtyPair pty;
    TComPort port;
    int baselineThreads = 0;
};

}  // namespace vek::test
