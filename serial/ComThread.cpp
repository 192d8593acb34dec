#include "serial/ComThread.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QPointer>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>

#include "serial/ComPort.h"
#include "serial/EComPort.h"

namespace vek {

namespace {

constexpr uint32_t kPortTag = 0;
constexpr uint32_t kStopTag = 1;

// An eventfd write fails only when the counter is full, that is when it is signalled already.
void raise(int eventFd) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(eventFd, &one, sizeof one);
}

// Fails only when nothing was signalled.
void drain(int eventFd) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(eventFd, &count, sizeof count);
}

}  // namespace

// What the event thread shares with the owner thread. Both hold it, so a thread let go by
// ~TComThread still finds it.
struct TComThread::Shared {
    enum class State { Idle, Pending, Started, Done, Abandoned };

    mutable std::mutex mutex;
    std::condition_variable changed;
    State state = State::Idle;
    std::atomic<bool> stopping{false};
    std::atomic<bool> lineGone{false};
    int epollFd = -1;
    int stopFd = -1;
    int wakeFd = -1;  // readable while a hand-over is pending

    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    ~Shared() {
        for (const int fd : {epollFd, stopFd, wakeFd}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    // Event thread: posts a hand-over and waits for its end; false when the thread is to end.
    bool handOver() {
        std::unique_lock lock(mutex);
        if (stopping)
            return false;
        state = State::Pending;
        raise(wakeFd);
        changed.wait(
            lock, [this] { return state == State::Done || (stopping && state == State::Pending); });
        if (state == State::Pending) {
            // The owner thread is closing and will not run it: it must not wait for us.
            state = State::Abandoned;
            return false;
        }
        state = State::Idle;
        return !stopping;
    }

    // Owner thread: takes the pending hand-over, if it was not abandoned.
    bool start() {
        const std::lock_guard lock(mutex);
        drain(wakeFd);
        if (state != State::Pending)
            return false;
        state = State::Started;
        return true;
    }

    void finish() {
        {
            const std::lock_guard lock(mutex);
            state = State::Done;
        }
        changed.notify_all();
    }

    void stop() {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        raise(stopFd);
    }

    bool started() const {
        const std::lock_guard lock(mutex);
        return state == State::Started;
    }
};

TComThread::TComThread(TCustomComPort& port, int fd) : shared_(std::make_shared<Shared>()) {
    Shared& shared = *shared_;
    shared.epollFd = epoll_create1(EPOLL_CLOEXEC);
    shared.stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    shared.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (shared.epollFd < 0 || shared.stopFd < 0 || shared.wakeFd < 0)
        throw EComPort(1, errno);

    // Edge-triggered: one event per arrival, like the line event; bytes that a handler leaves
    // unread raise nothing more until further bytes come.
    epoll_event portEvent{};
    portEvent.events = EPOLLIN | EPOLLET;
    portEvent.data.u32 = kPortTag;
    epoll_event stopEvent{};
    stopEvent.events = EPOLLIN;
    stopEvent.data.u32 = kStopTag;
    if (epoll_ctl(shared.epollFd, EPOLL_CTL_ADD, fd, &portEvent) != 0 ||
        epoll_ctl(shared.epollFd, EPOLL_CTL_ADD, shared.stopFd, &stopEvent) != 0) {
        throw EComPort(1, errno);
    }

    notifier_ = std::make_unique<QSocketNotifier>(shared.wakeFd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, &port,
                     [shared = shared_, port = &port] {
                         if (!shared->start())
                             return;
                         const QPointer<TCustomComPort> alive(port);
                         {
                             // Lets the event thread go on however the handler ends.
                             struct FinishOnExit {
                                 Shared& shared;
                                 ~FinishOnExit() { shared.finish(); }
                             } const finish{*shared};
                             try {
                                 port->deliverRxChar();
                             } catch (const std::exception& e) {
                                 // Nothing may cross the event loop; the tool's handler shows
                                 // its own errors, so only the queue count's failure lands here.
                                 qWarning("vektool: %s", e.what());
                             }
                         }
                         // The handler may have closed or even destroyed the port.
                         if (alive)
                             port->reapThreads();
                     });

    try {
        thread_ = std::thread(run, shared_);
    } catch (const std::system_error& e) {
        throw EComPort(1, e.code().value());
    }
}

TComThread::~TComThread() {
    shared_->stop();
    if (inHandOver()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void TComThread::stop() {
    shared_->stop();
}

bool TComThread::inHandOver() const {
    return shared_->started();
}

bool TComThread::lineGone() const {
    return shared_->lineGone;
}

void TComThread::run(const std::shared_ptr<Shared>& shared) {
    for (;;) {
        std::array<epoll_event, 2> events{};
        const int n = epoll_wait(shared->epollFd, events.data(), events.size(), -1);
        if (shared->stopping)
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
        if (received && !shared->handOver())
            return;
    }
}

}  // namespace vek
