// Closes that the kernel holds: a TCP socket lingering over data its peer never reads stands in
// for a USB serial device waiting for output to drain.
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "SerialTestSupport.h"
#include "serial/DeferredClose.h"

namespace vek {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

// A connected socket whose close waits up to lingerSeconds for data its peer never reads.
int lingeringSocket(int lingerSeconds, int& peer, int& listener) {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&address), length);
    peer = accept(listener, nullptr, nullptr);
    const linger lingering{1, lingerSeconds};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &lingering, sizeof lingering);
    const char block[4096] = {};
    while (write(fd, block, sizeof block) > 0) {
    }
    return fd;
}

TEST(DeferredClose, AHeldCloseNeitherBlocksTheCallerNorFreesTheDeviceEarly) {
    int peer = -1, listener = -1;
    const int held = lingeringSocket(1, peer, listener);
    // A locked device queued behind the held close.
    char path[] = "/tmp/vektool-deferred-XXXXXX";
    const int device = mkstemp(path);
    ASSERT_EQ(flock(device, LOCK_EX | LOCK_NB), 0);

    const auto start = Clock::now();
    closeDeviceInBackground(held);
    closeDeviceInBackground(device);
    EXPECT_LT(Clock::now() - start, 200ms);

    // Until its close has ended, the device is busy for another opener.
    const int again = open(path, O_RDONLY | O_CLOEXEC);
    EXPECT_NE(flock(again, LOCK_EX | LOCK_NB), 0);
    const auto limit = Clock::now() + 5s;
    while (flock(again, LOCK_EX | LOCK_NB) != 0 && Clock::now() < limit)
        std::this_thread::sleep_for(10ms);
    EXPECT_GE(Clock::now() - start, 900ms) << "the held close ended before its lingering time";
    EXPECT_LT(Clock::now(), limit);
    close(again);
    close(peer);
    close(listener);
    unlink(path);
}

}  // namespace
}  // namespace vek
