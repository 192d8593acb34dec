// The port's own calls: opening, line settings, reading and writing.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "FailingAllocation.h"
#include "SerialTestSupport.h"
#include "Termios2Probe.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"
#include "serial/EComPort.h"

namespace vek {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

// Calls f, which must raise EComPort; returns it (code 0 if nothing was raised).
template <typename F>
EComPort raised(F&& f) {
    try {
        f();
    } catch (const EComPort& error) {
        return error;
    }
    ADD_FAILURE() << "no EComPort raised";
    return EComPort(0);
}

// Waits, without serving the event thread, until count bytes wait in the port's queue.
bool queued(const TComPort& port, int count) {
    const auto limit = Clock::now() + 2s;
    while (port.InputCount() < count && Clock::now() < limit)
        std::this_thread::sleep_for(1ms);
    return port.InputCount() == count;
}

class ComPort : public PortOnPty {};

TEST_F(ComPort, EveryByteValuePassesUnchangedBothWays) {
    std::vector<unsigned char> received;
    port.OnRxChar = [&](QObject*, int count) {
        std::vector<unsigned char> chunk(static_cast<size_t>(count));
        chunk.resize(static_cast<size_t>(port.Read(chunk.data(), count)));
        received.insert(received.end(), chunk.begin(), chunk.end());
    };
    port.Open();
    const std::vector<unsigned char> all = allByteValues();

    pty.send(all);
    ASSERT_TRUE(runEventsUntil([&] { return received.size() >= all.size(); }));
    EXPECT_EQ(received, all);
    EXPECT_FALSE(pty.anythingArrives(50ms)) << "the port echoed";

    EXPECT_EQ(port.Write(all.data(), static_cast<int>(all.size())), 256);
    EXPECT_EQ(pty.receive(all.size()), all);
}

TEST_F(ComPort, OpensRawEightNoneOneWithoutFlowControl) {
    // Start from a cooked slave with every flag the port must clear.
    const int slave = pty.openSlave();
    ASSERT_GE(slave, 0);
    termios dirty{};
    ASSERT_EQ(tcgetattr(slave, &dirty), 0);
    dirty.c_iflag |= ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | INPCK | BRKINT;
    dirty.c_oflag |= OPOST | ONLCR;
    dirty.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    dirty.c_cflag = (dirty.c_cflag & ~CSIZE) | CS7 | CSTOPB | PARENB | PARODD | CRTSCTS;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &dirty), 0);

    port.Open();
    termios line{};
    ASSERT_EQ(tcgetattr(slave, &line), 0);
    EXPECT_EQ(line.c_iflag &
                  (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | INPCK | BRKINT | PARMRK),
              0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (CSTOPB | PARENB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(line.c_cc[VMIN], 1);
    EXPECT_EQ(line.c_cc[VTIME], 0);
}

struct RateRow {
    const char* meaning;
    TBaudRate baudRate;
    int customRate;
    unsigned expected;
    bool ownRate;  // set through termios2/BOTHER
};

class ComPortRate : public PortOnPty, public testing::WithParamInterface<RateRow> {};

TEST_P(ComPortRate, ReachesTheLine) {
    const RateRow& row = GetParam();
    const int slave = pty.openSlave();
    port.BaudRate = row.baudRate;
    port.CustomBaudRate = row.customRate;
    port.Open();
    const ReportedSpeed speed = reportedSpeed(slave);
    EXPECT_EQ(speed.output, row.expected);
    EXPECT_EQ(speed.input, row.expected);
    EXPECT_EQ(speed.ownRate, row.ownRate);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, ComPortRate,
    testing::Values(RateRow{"BoxRateThroughTermios2", TBaudRate::brCustom, 3686400, 3686400, true},
                    RateRow{"CustomRateWithBConstant", TBaudRate::brCustom, 57600, 57600, false},
                    RateRow{"EnumeratedRate", TBaudRate::br115200, 3686400, 115200, false}),
    [](const testing::TestParamInfo<RateRow>& info) { return info.param.meaning; });

TEST_F(ComPort, ChangedSettingsApplyAtOnceWhileOpen) {
    const int slave = pty.openSlave();
    port.BaudRate = TBaudRate::brCustom;
    port.CustomBaudRate = 3686400;
    port.Open();
    port.BaudRate = TBaudRate::br9600;
    port.StopBits = TStopBits::sbTwoStopBits;
    port.ApplyLineSettings();

    const ReportedSpeed speed = reportedSpeed(slave);
    EXPECT_EQ(speed.output, 9600u);
    EXPECT_FALSE(speed.ownRate);
    termios line{};
    ASSERT_EQ(tcgetattr(slave, &line), 0);
    EXPECT_NE(line.c_cflag & CSTOPB, 0u);
}

struct FailedOpenRow {
    const char* meaning;
    void (*prepare)(TComPort& port);
    int code;
    int systemCode;
};

class ComPortFailedOpen : public PortOnPty, public testing::WithParamInterface<FailedOpenRow> {};

TEST_P(ComPortFailedOpen, RaisesAndLeavesThePortClosed) {
    const FailedOpenRow& row = GetParam();
    row.prepare(port);
    const EComPort error = raised([&] { port.Open(); });
    EXPECT_EQ(error.ErrorCode(), row.code);
    EXPECT_EQ(error.SystemCode(), row.systemCode);
    EXPECT_EQ(error.what(), std::string(EComPort::textOf(row.code)) +
                                " (win error code: " + std::to_string(row.systemCode) + ")");
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.ThreadsStarted(), 0);
    EXPECT_EQ(threadCount(), baselineThreads);

    // Nothing of the failed opening holds the line.
    TComPort next;
    next.Port = pty.slavePath();
    next.Open();
    EXPECT_TRUE(next.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ComPortFailedOpen,
    testing::Values(
        FailedOpenRow{"MissingDevice", [](TComPort& p) { p.Port = "/dev/vektool-no-such-port"; }, 1,
                      ENOENT},
        // A bare name is a device under /dev; this one is no terminal.
        FailedOpenRow{"BareNameNotATerminal", [](TComPort& p) { p.Port = "null"; }, 7, ENOTTY},
        FailedOpenRow{"NoRate",
                      [](TComPort& p) {
                          p.BaudRate = TBaudRate::brCustom;
                          p.CustomBaudRate = 0;
                      },
                      7, EINVAL},
        FailedOpenRow{"NegativeTimeout", [](TComPort& p) { p.Timeouts.WriteTotalConstant = -5; }, 8,
                      EINVAL}),
    [](const testing::TestParamInfo<FailedOpenRow>& info) { return info.param.meaning; });

TEST_F(ComPort, AnyErrorAfterTheDeviceIsTakenLeavesItClosedAndFree) {
    const int descriptors = openDescriptorCount();
    failNextAllocationOf(sizeof(TComThread));
    EXPECT_THROW(port.Open(), std::bad_alloc);
    EXPECT_FALSE(port.Connected());
    EXPECT_NO_THROW(port.Close());
    EXPECT_EQ(openDescriptorCount(), descriptors);

    port.Open();
    EXPECT_TRUE(port.Connected());
}

TEST_F(ComPort, SecondOpenOfTheSameLineFails) {
    port.Open();
    TComPort second;
    second.Port = pty.slavePath();

    const EComPort error = raised([&] { second.Open(); });
    // Root passes TIOCEXCL and meets the lock; anyone else meets TIOCEXCL.
    const int expected = geteuid() == 0 ? EWOULDBLOCK : EBUSY;
    EXPECT_EQ(error.ErrorCode(), 1);
    EXPECT_EQ(error.SystemCode(), expected);
    EXPECT_EQ(error.what(),
              "Unable to open com port (win error code: " + std::to_string(expected) + ")");
    EXPECT_FALSE(second.Connected());
    EXPECT_EQ(second.ThreadsStarted(), 0);

    ASSERT_TRUE(port.Connected());
    const unsigned char byte = 0x5A;
    EXPECT_EQ(port.Write(&byte, 1), 1);
    EXPECT_EQ(pty.receive(1), std::vector<unsigned char>{byte});

    port.Close();
    second.Open();
    EXPECT_TRUE(second.Connected());
}

struct ReadRow {
    const char* meaning;
    TComTimeouts timeouts;
    int sent;
    int asked;
    int returned;
    std::chrono::milliseconds atLeast;
    std::chrono::milliseconds below;
};

class ComPortRead : public PortOnPty, public testing::WithParamInterface<ReadRow> {};

TEST_P(ComPortRead, EndsAsTheTimeoutsSay) {
    const ReadRow& row = GetParam();
    port.Timeouts = row.timeouts;
    port.Open();
    pty.send(std::vector<unsigned char>(static_cast<size_t>(row.sent), 0x42));
    ASSERT_TRUE(queued(port, row.sent));

    std::vector<unsigned char> buffer(static_cast<size_t>(row.asked));
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer.data(), row.asked), row.returned);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, row.atLeast);
    EXPECT_LT(took, row.below);
}

INSTANTIATE_TEST_SUITE_P(
    Timeouts, ComPortRead,
    testing::Values(
        ReadRow{"ToolSettingsFullCountAtOnce", {200, 100, 100, 2, 2}, 8, 8, 8, 0ms, 150ms},
        ReadRow{"IntervalEndsAfterLastByte", {20, 0, 0, 0, 0}, 3, 10, 3, 20ms, 1000ms},
        ReadRow{"IntervalAloneMinusOneIsImmediate", {-1, 0, 0, 0, 0}, 0, 10, 0, 0ms, 100ms},
        ReadRow{"TotalPerByteAndConstant", {0, 1, 30, 0, 0}, 2, 10, 2, 40ms, 1000ms}),
    [](const testing::TestParamInfo<ReadRow>& info) { return info.param.meaning; });

TEST_F(ComPort, ReadArrivedHandsOverWhatCameWithoutWaitingForTheTimeouts) {
    port.Timeouts = {200, 100, 100, 2, 2};  // a Read of 64 bytes would wait 6.5 s for them
    port.Open();
    pty.send({1, 2, 3});
    ASSERT_TRUE(queued(port, 3));

    std::vector<unsigned char> buffer(64);
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadArrived(buffer.data(), 64), 3);
    EXPECT_EQ(port.ReadArrived(buffer.data() + 3, 61), 0);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 3),
              (std::vector<unsigned char>{1, 2, 3}));
}

TEST_F(ComPort, WriteWithToolTimeoutsSendsAFrame) {
    port.Timeouts = {200, 100, 100, 2, 2};  // 62 bytes get 126 ms
    port.Open();
    const std::vector<unsigned char> frame(62, 0xA5);
    EXPECT_EQ(port.Write(frame.data(), 62), 62);
    EXPECT_EQ(pty.receive(62), frame);
}

TEST_F(ComPort, WriteIntoAStalledLineReturnsWhatWentOutByTheDeadline) {
    port.Timeouts.WriteTotalMultiplier = 0;
    port.Timeouts.WriteTotalConstant = 50;
    port.Open();
    const std::vector<unsigned char> lot(1 << 20, 0x33);  // far beyond the pty's buffers

    const auto start = Clock::now();
    const int written = port.Write(lot.data(), static_cast<int>(lot.size()));
    const auto took = Clock::now() - start;
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(lot.size()));
    EXPECT_GE(took, 50ms);
    EXPECT_LT(took, 1s);
}

TEST_F(ComPort, ClearBufferDiscardsReceivedBytes) {
    port.Open();
    pty.send({1, 2, 3, 4});
    ASSERT_TRUE(queued(port, 4));
    port.ClearBuffer(true, true);
    EXPECT_EQ(port.InputCount(), 0);

    port.Close();
    EXPECT_EQ(raised([&] { port.ClearBuffer(true, true); }).ErrorCode(), 5);
}

}  // namespace
}  // namespace vek
