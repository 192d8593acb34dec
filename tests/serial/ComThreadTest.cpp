// The event thread: bytes-received events, their hand-over to the owner thread, and closing.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <thread>

#include "SerialTestSupport.h"
#include "serial/ComPort.h"
#include "serial/EComPort.h"

namespace vek {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

class ComThread : public PortOnPty {
  protected:
    // Reads what each event reports and records its count.
    void recordAndRead() {
        port.OnRxChar = [this](QObject* sender, int count) {
            EXPECT_EQ(sender, &port);
            counts.push_back(count);
            readAll(count);
        };
    }
    void readAll(int count) {
        std::vector<unsigned char> chunk(static_cast<size_t>(count));
        EXPECT_EQ(port.Read(chunk.data(), count), count);
    }
    // Waits inside a handler, where the event loop must not run, for count queued bytes.
    bool queued(int count) {
        const auto limit = Clock::now() + 2s;
        while (port.InputCount() < count && Clock::now() < limit) {
            std::this_thread::sleep_for(1ms);
        }
        return port.InputCount() == count;
    }

    std::vector<int> counts;
};

TEST_F(ComThread, BytesArrivingDuringTheHandlerComeWithTheNextEvent) {
    port.OnRxChar = [this](QObject*, int count) {
        counts.push_back(count);
        readAll(count);
        if (counts.size() == 1) {
            pty.send(std::vector<unsigned char>(10, 0x10));
            EXPECT_TRUE(queued(10));
        }
    };
    port.Open();
    pty.send({1, 2, 3, 4, 5});
    ASSERT_TRUE(runEventsUntil([&] { return counts.size() >= 2; }));
    EXPECT_EQ(counts, (std::vector<int>{5, 10}));
}

TEST_F(ComThread, AnEmptyQueueRaisesNothing) {
    port.OnRxChar = [this](QObject*, int count) {
        counts.push_back(count);
        // These arrive during the handler and are read by it: their event finds the queue empty.
        pty.send({6, 7, 8});
        EXPECT_TRUE(queued(count + 3));
        readAll(count + 3);
    };
    port.Open();
    pty.send({1, 2});
    ASSERT_TRUE(runEventsUntil([&] { return !counts.empty(); }));
    runEventsFor(100ms);
    EXPECT_EQ(counts, std::vector<int>{2});
}

TEST_F(ComThread, UnreadBytesRaiseNothingMoreUntilFurtherBytesCome) {
    port.OnRxChar = [this](QObject*, int count) { counts.push_back(count); };
    port.Open();
    pty.send({1, 2, 3, 4});
    ASSERT_TRUE(runEventsUntil([&] { return !counts.empty(); }));
    runEventsFor(100ms);
    EXPECT_EQ(counts, std::vector<int>{4});

    pty.send({5, 6, 7});
    ASSERT_TRUE(runEventsUntil([&] { return counts.size() >= 2; }));
    EXPECT_EQ(counts, (std::vector<int>{4, 7}));
}

TEST_F(ComThread, EachOpeningStartsAndEndsOneThread) {
    for (int round = 1; round <= 2; ++round) {
        port.Open();
        port.Open();  // already open: nothing happens
        EXPECT_EQ(port.ThreadsStarted(), round);
        EXPECT_EQ(threadCount(), baselineThreads + 1);
        port.Close();
        port.Close();
        EXPECT_FALSE(port.Connected());
        EXPECT_TRUE(threadsBackToBaseline());
    }
}

TEST_F(ComThread, ClosingWhileAHandOverWaitsReturns) {
    constexpr int kRounds = 200;
    std::atomic<bool> flowing{true};
    std::thread feeder([&] {
        const unsigned char bytes[16] = {};
        while (flowing) {
            [[maybe_unused]] const ssize_t n = write(pty.master(), bytes, sizeof bytes);
            std::this_thread::sleep_for(200us);
        }
    });
    int events = 0;
    port.OnRxChar = [&](QObject*, int count) {
        ++events;
        readAll(count);
    };

    const auto start = Clock::now();
    for (int round = 0; round < kRounds; ++round) {
        port.Open();
        const int before = events;
        ASSERT_TRUE(runEventsUntil([&] { return events > before; }));
        // More bytes come while nobody serves the thread: it waits with a hand-over posted.
        std::this_thread::sleep_for(1ms);
        port.Close();
        const int atClose = events;
        QCoreApplication::processEvents();
        EXPECT_EQ(events, atClose) << "an event after the close";
    }
    const auto took = Clock::now() - start;
    flowing = false;
    feeder.join();

    EXPECT_EQ(port.ThreadsStarted(), kRounds);
    EXPECT_TRUE(threadsBackToBaseline());
    EXPECT_LT(took, 2s);
}

TEST_F(ComThread, CloseFromANestedEventLoopInsideTheHandler) {
    bool closedWithinHandler = false;
    int events = 0;
    port.OnRxChar = [&](QObject*, int) {
        ++events;
        // A timer tick that closes, run by a nested loop as a message box would run it.
        QTimer::singleShot(0, &port, [&] { port.Close(); });
        closedWithinHandler = runEventsUntil([&] { return !port.Connected(); }, 1s);
    };
    port.Open();
    pty.send({1, 2, 3});
    ASSERT_TRUE(runEventsUntil([&] { return events > 0; }));
    EXPECT_TRUE(closedWithinHandler);
    EXPECT_FALSE(port.Connected());
    EXPECT_TRUE(threadsBackToBaseline());

    pty.send({4});
    runEventsFor(50ms);
    EXPECT_EQ(events, 1);
}

TEST_F(ComThread, CloseDirectlyInsideTheHandlerFreesTheLineAtOnce) {
    bool closedAtOnce = false;
    bool reopened = false;
    port.OnRxChar = [&](QObject*, int count) {
        counts.push_back(count);
        if (counts.size() > 1)
            return readAll(count);
        port.Close();
        closedAtOnce = !port.Connected();
        port.Open();
        reopened = port.Connected();
    };
    port.Open();
    pty.send({1});
    ASSERT_TRUE(runEventsUntil([&] { return !counts.empty(); }));
    EXPECT_TRUE(closedAtOnce);
    EXPECT_TRUE(reopened);
    ASSERT_TRUE(runEventsUntil([&] { return threadCount() == baselineThreads + 1; }));

    // The second opening delivers on its own thread.
    pty.send({2, 3});
    ASSERT_TRUE(runEventsUntil([&] { return counts.size() >= 2; }));
    EXPECT_EQ(counts.back(), 2);
    EXPECT_EQ(port.ThreadsStarted(), 2);
    port.Close();
    EXPECT_TRUE(threadsBackToBaseline());
}

TEST_F(ComThread, PortDestroyedInsideItsOwnHandler) {
    auto* doomed = new TComPort;
    doomed->Port = pty.slavePath();
    int events = 0;
    doomed->OnRxChar = [&](QObject*, int) {
        ++events;
        delete doomed;
    };
    doomed->Open();
    pty.send({1});
    ASSERT_TRUE(runEventsUntil([&] { return events > 0; }));
    EXPECT_TRUE(threadsBackToBaseline());
    EXPECT_EQ(events, 1);
}

// The event thread's waiting fails (here its epoll descriptor is swapped for /dev/null under it):
// the thread ends as for a hang-up, and the port, still open, refuses to write.
TEST_F(ComThread, AFailureOfTheWaitingEndsItLikeAHangUp) {
    recordAndRead();
    port.Open();
    int epollFd = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        if (std::filesystem::read_symlink(entry.path()) == "anon_inode:[eventpoll]")
            epollFd = std::stoi(entry.path().filename());
    }
    ASSERT_GE(epollFd, 0);
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(dup2(null, epollFd), epollFd);
    close(null);
    // A waiting already under way goes on until these bytes come; the next one fails.
    pty.send({1});
    EXPECT_TRUE(threadsBackToBaseline());

    EXPECT_TRUE(port.Connected());
    const unsigned char byte = 0;
    EXPECT_THROW(port.Write(&byte, 1), EComPort);
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComThread, AfterHangUpTheThreadRestsAndThePortStillCloses) {
    recordAndRead();
    port.Open();
    pty.send({1, 2});
    ASSERT_TRUE(runEventsUntil([&] { return !counts.empty(); }));

    pty.closeMaster();
    // The waiting ends by itself; the thread does not spin on the hang-up.
    EXPECT_TRUE(threadsBackToBaseline());
    const double cpuBefore = processCpuSeconds();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(processCpuSeconds() - cpuBefore, 0.1);

    EXPECT_TRUE(port.Connected());
    const unsigned char byte = 0;
    try {
        port.Write(&byte, 1);
        ADD_FAILURE() << "write after hang-up succeeded";
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 2);
        EXPECT_EQ(error.SystemCode(), EIO);
    }
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(counts, std::vector<int>{2});
}

}  // namespace
}  // namespace vek
