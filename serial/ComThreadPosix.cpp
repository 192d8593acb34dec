// The event thread on Linux: epoll on the port and the stop signal, eventfds as signals.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <cstdint>

#include "serial/ComThreadShared.h"

namespace vek {

namespace {
constexpr uint32_t kPortTag = 0;
constexpr uint32_t kStopTag = 1;
}  // namespace

// An eventfd write fails only when the counter is full, that is when it is signalled already.
void raiseSignal(NativeHandle signal) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(int(signal), &one, sizeof one);
}

// Fails only when nothing was signalled.
void drainSignal(NativeHandle signal) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(int(signal), &count, sizeof count);
}

NativeHandle newSignal() {
    return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void closeHandle(NativeHandle handle) {
    ::close(int(handle));
}

int lastSystemError() {
    return errno;
}

std::unique_ptr<QObject> TComThread::notifierOf(NativeHandle wake, QObject& context,
                                                std::function<void()> activated) {
    auto notifier = std::make_unique<QSocketNotifier>(int(wake), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &context, std::move(activated));
    return notifier;
}

bool TComThread::prepare(Shared& shared, NativeHandle port) {
    // Edge-triggered: one event per arrival, like the line event; bytes that a handler leaves
    // unread raise nothing more until further bytes come.
    shared.waitSet = epoll_create1(EPOLL_CLOEXEC);
    epoll_event portEvent{};
    portEvent.events = EPOLLIN | EPOLLET;
    portEvent.data.u32 = kPortTag;
    epoll_event stopEvent{};
    stopEvent.events = EPOLLIN;
    stopEvent.data.u32 = kStopTag;
    return shared.waitSet >= 0 &&
           epoll_ctl(int(shared.waitSet), EPOLL_CTL_ADD, int(port), &portEvent) == 0 &&
           epoll_ctl(int(shared.waitSet), EPOLL_CTL_ADD, int(shared.stopSignal.handle()),
                     &stopEvent) == 0;
}

void TComThread::run(const std::shared_ptr<Shared>& shared, NativeHandle) {
    const int epollFd = int(shared->waitSet);
    for (;;) {
        std::array<epoll_event, 2> events{};
        const int n = epoll_wait(epollFd, events.data(), events.size(), -1);
        if (shared->handOver.stopping())
            return;
        if (n < 0 && errno == EINTR)
            continue;
        bool received = false;
        // Unplugged, the far end of a pseudo-terminal closed, an error on the line or in the
        // waiting itself: each would be reported for ever, so the waiting ends here, and the port
        // stays open until it is closed, failing its writes.
        bool gone = n < 0;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.u32 != kPortTag)
                continue;
            gone = gone || (events[i].events & (EPOLLHUP | EPOLLERR)) != 0;
            received = (events[i].events & EPOLLIN) != 0;
        }
        if (gone) {
            shared->lineGone = true;
            return;
        }
        if (received && !shared->handOver.post())
            return;
    }
}

}  // namespace vek
