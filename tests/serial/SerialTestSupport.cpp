#include "SerialTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <numeric>
#include <stdexcept>
#include <thread>

namespace vek::test {

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    slavePath_ = ptsname(master_);
}

PtyPair::~PtyPair() {
    if (ownSlave_ >= 0)
        close(ownSlave_);
    closeMaster();
}

void PtyPair::closeMaster() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

void PtyPair::send(const std::vector<unsigned char>& bytes) {
    size_t sent = 0;
    const auto limit = std::chrono::steady_clock::now() + 2s;
    while (sent < bytes.size() && std::chrono::steady_clock::now() < limit) {
        const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else {
            pollfd ready{master_, POLLOUT, 0};
            poll(&ready, 1, 10);
        }
    }
    ASSERT_EQ(sent, bytes.size());
}

std::vector<unsigned char> PtyPair::receive(size_t count, std::chrono::milliseconds limit) {
    std::vector<unsigned char> bytes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{master_, POLLIN, 0};
        if (poll(&ready, 1, 10) <= 0)
            continue;
        unsigned char chunk[4096];
        const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (n > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

bool PtyPair::anythingArrives(std::chrono::milliseconds limit) {
    pollfd ready{master_, POLLIN, 0};
    return poll(&ready, 1, static_cast<int>(limit.count())) > 0;
}

int PtyPair::openSlave() {
    if (ownSlave_ < 0)
        ownSlave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return ownSlave_;
}

void ensureApplication() {
    static int argc = 1;
    static char name[] = "serial_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    QTimer tick;  // wakes the loop to look at done() again
    tick.start(1);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done();
}

void runEventsFor(std::chrono::milliseconds span) {
    runEventsUntil([] { return false; }, span);
}

int threadCount() {
    const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
    return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

PortOnPty::PortOnPty() {
    ensureApplication();
    // ThreadSanitizer starts a helper thread of its own at the first thread a program makes;
    // make one now so that the baseline already counts it.
    static const bool helperThreadsStarted = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)helperThreadsStarted;
    port.Port = pty.slavePath();
    baselineThreads = threadCount();
}

bool PortOnPty::threadsBackToBaseline() {
    return runEventsUntil([this] { return threadCount() == baselineThreads; });
}

std::vector<unsigned char> allByteValues() {
    std::vector<unsigned char> bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes;
}

}  // namespace vek::test
