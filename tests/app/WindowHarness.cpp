#include "WindowHarness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "sim/RawPty.h"

namespace vek::testing {

namespace {

// The application lives until the tests have ended and is destroyed before the process exits, so
// that Qt's own global objects are still there when it goes.
class ApplicationEnvironment : public ::testing::Environment {
  public:
    QApplication& application() {
        if (!app_)
            app_ = std::make_unique<QApplication>(argc_, argv_);
        return *app_;
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[14] = "vektool-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

ApplicationEnvironment* const kEnvironment = [] {
    auto* environment = new ApplicationEnvironment;
    ::testing::AddGlobalTestEnvironment(environment);
    return environment;
}();

}  // namespace

QApplication& app() {
    return kEnvironment->application();
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void spin(std::chrono::milliseconds duration) {
    waitUntil([] { return false; }, duration);
}

Window::Window(TForm1Options options) {
    app();
    form = std::make_unique<TForm1>(route(std::move(options)));
}

PtyPeer::PtyPeer() {
    master_ = openRawPseudoTerminal(slave_);
}

PtyPeer::~PtyPeer() {
    hangUp();
}

void PtyPeer::hangUp() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PtyPeer::write(const std::vector<uint8_t>& bytes) {
    if (::write(master_, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        throw std::runtime_error("short write to the pseudo-terminal");
}

std::vector<uint8_t> PtyPeer::drain(std::chrono::milliseconds settle) {
    std::vector<uint8_t> out;
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, int(settle.count())) > 0 && (p.revents & POLLIN)) {
        uint8_t buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

std::vector<std::vector<uint8_t>> splitFrames(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> frames;
    std::size_t i = 0;
    while (i + kFrameOverhead <= stream.size()) {
        const std::size_t size = readBE16(&stream[i + 3]) + kFrameOverhead;
        if (i + size > stream.size())
            break;
        frames.emplace_back(stream.begin() + long(i), stream.begin() + long(i + size));
        i += size;
    }
    return frames;
}

std::vector<uint8_t> statusFrame(uint8_t mode, std::array<uint8_t, 4> version, uint32_t base) {
    std::vector<uint8_t> payload(kStatusPayloadSize, 0);
    payload[0] = mode;
    for (int i = 0; i < 12; ++i)
        payload[1 + i] = uint8_t(0x10 + i);
    std::copy(version.begin(), version.end(), payload.begin() + 37);
    writeBE32(&payload[41], base);
    return encodePacket(Status, payload, kBoxToTool);
}

std::vector<uint8_t> ackFrame(uint16_t packetNo) {
    const uint8_t payload[2] = {uint8_t(packetNo >> 8), uint8_t(packetNo)};
    return encodePacket(Ack, payload, kBoxToTool);
}

std::chrono::milliseconds processCpuTime() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::chrono::milliseconds(t.tv_sec * 1000 + t.tv_nsec / 1'000'000);
}

}  // namespace vek::testing
