// The serial component on the Win32 interface, against the simulated box on the COM port that
// scripts/windows/com-test.sh maps to it (VEK_TEST_COM, COM1 by default).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "config/ConfigRead.h"
#include "link/BoxLine.h"
#include "link/DevicePacket.h"
#include "link/DeviceStatus.h"
#include "serial/ComPort.h"
#include "serial/EComPort.h"
#include "serial/EnumComPorts.h"

namespace vek {
namespace {

std::string boxPort() {
    const char* named = std::getenv("VEK_TEST_COM");
    return named ? named : "COM1";
}

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "win32_serial_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

bool runEventsUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(EnumComPorts, ListsTheRegistrysPortsWithoutRegardToCase) {
    std::vector<std::string> ports;
    EnumComPorts(ports);
    EXPECT_NE(std::find(ports.begin(), ports.end(), boxPort()), ports.end());
    const auto folded = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        return s;
    };
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), [&](const auto& a, const auto& b) {
        return folded(a) < folded(b);
    }));
}

TEST(ComPort, AMissingPortFailsWithTheSystemsCode) {
    TComPort port;
    port.Port = "COM200";
    try {
        port.Open();
        FAIL() << "COM200 opened";
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 1);
        EXPECT_EQ(error.SystemCode(), 2);  // ERROR_FILE_NOT_FOUND
        EXPECT_STREQ(error.what(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_FALSE(port.Connected());
}

// The box's status comes through the event thread's hand-over, a request written is answered, and
// each opening starts and ends one event thread.
TEST(ComPort, TheBoxIsHeardThroughTheEventThreadAndAnswersARequest) {
    app();
    TComPort port;
    setBoxLineSettings(port);
    port.Port = boxPort();
    std::vector<DecodedPacket> frames;
    std::vector<std::vector<uint8_t>> events;
    port.OnRxChar = [&](QObject*, int count) {
        std::vector<uint8_t> bytes(std::size_t(count), 0);
        bytes.resize(std::size_t(std::max(port.Read(bytes.data(), count), 0)));
        events.push_back(std::move(bytes));
    };
    const auto heard = [&](uint8_t type) {
        return std::any_of(events.begin(), events.end(), [&](const auto& bytes) {
            const DecodedPacket p = decodePacket(bytes);
            return p.outcome == DecodeOutcome::Accepted && p.type == type;
        });
    };
    for (int opening = 1; opening <= 2; ++opening) {
        SCOPED_TRACE(opening);
        events.clear();
        port.Open();
        port.ClearBuffer(true, true);
        ASSERT_TRUE(runEventsUntil([&] { return heard(Status); })) << "no status";
        std::array<uint8_t, kMaxToolFrame> request{};
        const std::size_t size = buildConfigReadRequest(0, 1, request);
        EXPECT_EQ(port.Write(request.data(), int(size)), int(size));
        EXPECT_TRUE(runEventsUntil([&] { return heard(ConfigRead); })) << "no reply";
        port.Close();
        EXPECT_FALSE(port.Connected());
        EXPECT_EQ(port.ThreadsStarted(), opening);
    }
}

}  // namespace
}  // namespace vek
