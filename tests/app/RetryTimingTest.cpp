// The pacers' repeats and reports with the real timers, against a box that identifies itself and
// then goes silent.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cstdio>

#include "WindowHarness.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

// A loaded 2-core machine delays a timer by tens of milliseconds, rarely more.
constexpr qint64 kToleranceMs = 250;

struct Timeline {
    std::vector<qint64> sends;  // ms after the first send of the packet
    qint64 reportMs = -1;
};

// Plays a box that sends status and then answers nothing; times the tool's frames of type until
// the report.
Timeline timeSilence(const std::vector<uint8_t>& status, uint8_t type) {
    PtyPeer peer;
    Window w;
    w.connectTo(peer.slavePath());
    peer.write(status);
    std::vector<uint8_t> stream;
    std::size_t framesSeen = 0;
    QElapsedTimer clock;
    Timeline t;
    waitUntil(
        [&] {
            const auto bytes = peer.drain(0ms);
            stream.insert(stream.end(), bytes.begin(), bytes.end());
            const auto frames = splitFrames(stream);
            for (; framesSeen < frames.size(); ++framesSeen) {
                if (frames[framesSeen][2] != type)
                    continue;
                if (!clock.isValid())
                    clock.start();
                t.sends.push_back(clock.elapsed());
            }
            if (!w.messages.empty() && clock.isValid())
                t.reportMs = clock.elapsed();
            return t.reportMs >= 0;
        },
        10s);
    return t;
}

void expectNear(const Timeline& t, const std::vector<qint64>& sends, qint64 reportMs,
                const char* what) {
    std::printf("[ timing   ] %s: sent at", what);
    for (const qint64 ms : t.sends)
        std::printf(" %lld", static_cast<long long>(ms));
    std::printf(" ms (expected");
    for (const qint64 ms : sends)
        std::printf(" %lld", static_cast<long long>(ms));
    std::printf("), report at %lld ms (expected %lld)\n", static_cast<long long>(t.reportMs),
                static_cast<long long>(reportMs));
    ASSERT_EQ(t.sends.size(), sends.size());
    for (std::size_t i = 0; i < sends.size(); ++i)
        EXPECT_NEAR(t.sends[i], sends[i], kToleranceMs) << "send " << i;
    EXPECT_NEAR(t.reportMs, reportMs, kToleranceMs);
}

TEST(RetryTiming, AnUnansweredPacketIsRepeatedThreeTimesAndReportedAfterFiveSeconds) {
    const Timeline t = timeSilence(statusFrame(1, {3, 0, 2, 30}), FwData);
    expectNear(t, {0, 1500, 2500, 3500}, 5000, "firmware packet 1");
}

TEST(RetryTiming, AnUnansweredReadIsRepeatedThreeTimesAndReportedAfterOneSecond) {
    const Timeline t = timeSilence(statusFrame(1, {3, 0, 2, 36}, 0x0800F000), ConfigRead);
    expectNear(t, {0, 300, 500, 700}, 1000, "configuration read at offset 0");
}

}  // namespace
}  // namespace vek::testing
