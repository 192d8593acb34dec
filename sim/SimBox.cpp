#include "sim/SimBox.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "link/DevicePacket.h"
#include "sim/FaultInjector.h"
#include "sim/FrameAssembler.h"
#include "sim/RawPty.h"
#include "sim/SimResponder.h"

namespace vek {

namespace {

using namespace std::chrono_literals;

constexpr auto kQuietAfterToolFrame = 1000ms;  // no status while a transfer or read runs
constexpr auto kStatusAfterAck = 10ms;         // a restarted box's first status, at the soonest
constexpr auto kPartialFrameLimit = 200ms;     // the tool writes whole frames: a late rest is noise
constexpr auto kProbeInterval = 50ms;          // connection checks without an inotify watch
constexpr std::size_t kReadChunk = 4096;
constexpr auto kLongestWait = std::chrono::seconds(60);

std::system_error systemError(const char* what) {
    return std::system_error(errno, std::generic_category(), what);
}

// A descriptor closed with its owner.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

Fd openMaster(std::string& slavePath) {
    return Fd(openRawPseudoTerminal(slavePath, O_NONBLOCK));
}

// The box's end: an existing terminal when device names one, else a new pseudo-terminal's master.
Fd openBoxEnd(const std::string& device, std::string& path) {
    if (device.empty())
        return openMaster(path);
    path = device;
    return Fd(openRawTerminal(device));
}

// An inotify watch for opens of the slave, or none when the system refuses one.
Fd watchOpens(const std::string& slavePath) {
    Fd watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (watch.valid() && inotify_add_watch(watch.get(), slavePath.c_str(), IN_OPEN) < 0)
        watch.reset();
    return watch;
}

void drain(int fd) {
    char sink[512];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
}

// A descriptor in the loop's epoll set, with what it was last found ready for.
struct Registration {
    int fd = -1;
    uint32_t events = 0;  // none: not in the set
    uint32_t ready = 0;
};

}  // namespace

// Waits on the descriptors of the boxes it serves and on the earliest time one of them has
// something due, and serves those that have something to do.
class SimBoxLoop {
  public:
    // Starts the thread, serving only from the start when given: a box of its own needs no
    // hand-over but the thread's start and end.
    explicit SimBoxLoop(SimBox::Impl* only = nullptr);
    ~SimBoxLoop();  // ends the thread; a group's boxes have left
    SimBoxLoop(const SimBoxLoop&) = delete;
    SimBoxLoop& operator=(const SimBoxLoop&) = delete;

    // Each returns once the thread has taken the box in, or let it go.
    void join(SimBox::Impl& box) { change(box, true); }
    void leave(SimBox::Impl& box) { change(box, false); }
    void wakeUp();
    // The loop's thread alone: fd waited on for events, or for nothing when either is none.
    void watch(Registration& r, int fd, uint32_t events);

  private:
    struct Change {
        SimBox::Impl* box;
        bool join;
    };
    void change(SimBox::Impl& box, bool join);
    void run();
    std::optional<timespec> timeout(SimClock::time_point now) const;
    void applyChanges(SimClock::time_point now);

    Fd epoll_;
    Fd wake_;
    std::atomic<bool> stopWanted_{false};
    std::mutex mu_;  // the changes and their count
    std::condition_variable changed_;
    std::vector<Change> changes_;
    uint64_t requested_ = 0, applied_ = 0;
    bool running_ = true;
    std::vector<SimBox::Impl*> served_;  // the thread's own
    std::thread thread_;
};

struct SimBox::Impl {
    Impl(SimModel model, const SimFaults& faults, std::string device, SimBoxGroup* group)
        : responder(std::move(model)),
          injector(faults),
          device(std::move(device)),
          master(openBoxEnd(this->device, path)),
          group(group),
          watch(this->device.empty() ? watchOpens(path) : Fd()) {}

    void begin(SimClock::time_point now);
    void serve(SimClock::time_point now, bool woken);
    void updateWaits(SimClock::time_point now);
    void forgetDescriptors();
    void serveHangUp();
    void dropOff(const std::string& event);
    void comeBackIfDue(SimClock::time_point now);
    void closeMaster();
    void reopenDeviceIfHungUp();
    bool slaveOpen() const;
    std::optional<SimClock::time_point> nextDue(SimClock::time_point now) const;
    void onConnected(SimClock::time_point now);
    void onDisconnected();
    void receive(SimClock::time_point now);
    void handleFrames(SimClock::time_point now);
    void expirePartial(SimClock::time_point now);
    void sendDue(SimClock::time_point now);
    void sendStatusIfDue(SimClock::time_point now);
    void queue(std::vector<TimedWrite> writes);
    void emit(const std::string& event);

    // Shared, under mu. The thread alone changes master while it runs.
    mutable std::mutex mu;
    std::condition_variable hungUp;
    SimResponder responder;
    FaultInjector injector;
    EventSink sink;
    bool running = false;
    bool leaving = false;  // stop() under way: the loop may be going
    bool hangUpWanted = false;
    std::string path;
    const std::string device;  // the existing terminal served, or empty for a pseudo-terminal
    Fd master;

    SimBoxGroup* const group;
    std::unique_ptr<SimBoxLoop> ownLoop;  // when no group serves the box; start and stop's
    SimBoxLoop* loop = nullptr;           // serving the box while it runs
    Fd watch;
    std::mutex lifecycle;  // start and stop one at a time

    // The serving thread's own.
    Registration masterWait, watchWait;
    std::optional<SimClock::time_point> due;
    FrameAssembler rx{kBoxAddress};
    std::deque<TimedWrite> out;
    std::size_t outWritten = 0;  // bytes of out.front() already written
    bool connected = false;
    std::optional<SimClock::time_point> comeBackAt;  // a new port after a faulty hang-up
    std::optional<SimClock::time_point> newFirmwareReportAt;
    SimClock::time_point lastToolFrame{}, lastRx{}, nextStatus{};
};

SimBoxLoop::SimBoxLoop(SimBox::Impl* only)
    : epoll_(epoll_create1(EPOLL_CLOEXEC)), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!epoll_.valid())
        throw systemError("epoll_create1");
    if (!wake_.valid())
        throw systemError("eventfd");
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.ptr = nullptr;  // the wake-up, apart from every box's descriptors
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &e) != 0)
        throw systemError("epoll_ctl");
    if (only) {
        only->loop = this;
        served_.push_back(only);
    }
    thread_ = std::thread([this] { run(); });
}

SimBoxLoop::~SimBoxLoop() {
    stopWanted_ = true;
    wakeUp();
    thread_.join();
}

void SimBoxLoop::wakeUp() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_.get(), &one, sizeof one);
}

void SimBoxLoop::watch(Registration& r, int fd, uint32_t events) {
    if (fd < 0)
        events = 0;
    if (r.fd == fd && r.events == events)
        return;
    const bool inSet = r.events != 0;
    const bool sameFd = inSet && r.fd == fd;
    if (inSet && (!sameFd || events == 0))
        epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, r.fd, nullptr);
    r.fd = fd;
    r.events = 0;
    if (events == 0)
        return;
    epoll_event e{};
    e.events = events;
    e.data.ptr = &r;
    // Refused, it is asked again after the box's next wakeup.
    if (epoll_ctl(epoll_.get(), sameFd ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &e) == 0)
        r.events = events;
}

void SimBoxLoop::change(SimBox::Impl& box, bool join) {
    std::unique_lock lock(mu_);
    changes_.push_back({&box, join});
    const uint64_t mine = ++requested_;
    wakeUp();
    changed_.wait(lock, [&] { return applied_ >= mine || !running_; });
}

void SimBoxLoop::applyChanges(SimClock::time_point now) {
    std::vector<Change> taken;
    {
        const std::lock_guard lock(mu_);
        taken.swap(changes_);
    }
    for (const Change& c : taken) {
        if (c.join) {
            served_.push_back(c.box);
            c.box->begin(now);
        } else {
            c.box->forgetDescriptors();
            std::erase(served_, c.box);
        }
    }
    const std::lock_guard lock(mu_);
    applied_ += taken.size();
    changed_.notify_all();
}

std::optional<timespec> SimBoxLoop::timeout(SimClock::time_point now) const {
    std::optional<SimClock::time_point> first;
    for (const SimBox::Impl* box : served_)
        if (box->due && (!first || *box->due < *first))
            first = box->due;
    if (!first)
        return std::nullopt;
    // Not rounded up to a millisecond: replies due within the same one go out in one wakeup.
    const auto left = std::clamp<SimClock::duration>(*first - now, {}, kLongestWait);
    const auto seconds = std::chrono::floor<std::chrono::seconds>(left);
    return timespec{seconds.count(), long(std::chrono::nanoseconds(left - seconds).count())};
}

void SimBoxLoop::run() {
    for (SimBox::Impl* box : served_)
        box->begin(SimClock::now());
    std::vector<epoll_event> ready(256);
    while (!stopWanted_.load()) {
        const std::optional<timespec> wait = timeout(SimClock::now());
        const int n = epoll_pwait2(epoll_.get(), ready.data(), int(ready.size()),
                                   wait ? &*wait : nullptr, nullptr);
        if (n < 0 && errno != EINTR) {
            for (SimBox::Impl* box : served_)
                box->emit("poll failed: the box stops serving");
            break;
        }
        bool woken = false;
        for (int i = 0; i < n; ++i) {
            if (auto* r = static_cast<Registration*>(ready[std::size_t(i)].data.ptr))
                r->ready = ready[std::size_t(i)].events;
            else
                woken = true;
        }
        if (woken)
            drain(wake_.get());
        if (stopWanted_.load())
            break;
        const SimClock::time_point now = SimClock::now();
        for (SimBox::Impl* box : served_)
            box->serve(now, woken);
        applyChanges(now);
    }
    const std::lock_guard lock(mu_);
    running_ = false;
    changed_.notify_all();
}

SimBoxGroup::SimBoxGroup() : loop_(std::make_unique<SimBoxLoop>()) {}

SimBoxGroup::~SimBoxGroup() = default;

void SimBox::Impl::emit(const std::string& event) {
    EventSink copy;
    {
        std::lock_guard lock(mu);
        copy = sink;
    }
    if (copy)
        copy(event);
}

void SimBox::Impl::closeMaster() {
    master.reset();
    hungUp.notify_all();
}

void SimBox::Impl::serveHangUp() {
    {
        std::lock_guard lock(mu);
        if (!hangUpWanted)
            return;
        hangUpWanted = false;
    }
    dropOff("hung up");
}

// The master goes as with a pulled cable, and may come back as another port, as a box that
// reboots gets a new device node while the tool still holds the old one.
void SimBox::Impl::dropOff(const std::string& event) {
    int comeBackMs;
    forgetDescriptors();
    {
        std::lock_guard lock(mu);
        closeMaster();
        comeBackMs = injector.faults().comeBackAfterMs;
    }
    connected = false;
    out.clear();
    outWritten = 0;
    rx.clear();
    if (comeBackMs >= 0)
        comeBackAt = SimClock::now() + std::chrono::milliseconds(comeBackMs);
    emit(event);
}

void SimBox::Impl::comeBackIfDue(SimClock::time_point now) {
    if (!comeBackAt || now < *comeBackAt)
        return;
    comeBackAt.reset();
    std::string newPath;
    Fd newMaster;
    try {
        newMaster = openMaster(newPath);
    } catch (const std::system_error& e) {
        emit(std::string("could not come back: ") + e.what());
        return;
    }
    forgetDescriptors();
    watch = watchOpens(newPath);
    {
        std::lock_guard lock(mu);
        master = std::move(newMaster);
        path = newPath;
    }
    emit("came back on " + newPath);
}

// The device side's terminal stays hung up after its cable went; a new descriptor serves the next
// plug-in. Until the device can be opened again the loop comes back every probe interval.
void SimBox::Impl::reopenDeviceIfHungUp() {
    if (device.empty() || (master.valid() && slaveOpen()))
        return;
    forgetDescriptors();
    Fd fresh;
    try {
        fresh = Fd(openRawTerminal(device));
    } catch (const std::system_error&) {
        std::lock_guard lock(mu);
        master.reset();
        return;
    }
    std::lock_guard lock(mu);
    master = std::move(fresh);
}

bool SimBox::Impl::slaveOpen() const {
    pollfd p{master.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
}

std::optional<SimClock::time_point> SimBox::Impl::nextDue(SimClock::time_point now) const {
    if (comeBackAt)
        return comeBackAt;
    if (!connected) {
        if (device.empty() && (watch.valid() || !master.valid()))
            return std::nullopt;
        return now + kProbeInterval;
    }
    SimClock::time_point at = nextStatus;
    if (!out.empty() && out.front().due > now)
        at = std::min(at, out.front().due);
    if (rx.holdsPartial())
        at = std::min(at, lastRx + kPartialFrameLimit);
    return at;
}

void SimBox::Impl::onConnected(SimClock::time_point now) {
    connected = true;
    rx.clear();
    std::unique_lock lock(mu);
    nextStatus = now + std::chrono::milliseconds(std::max(1, responder.model().statusIntervalMs));
    lock.unlock();
    emit(device.empty() ? "tool connected" : "line open");
}

void SimBox::Impl::onDisconnected() {
    connected = false;
    out.clear();
    outWritten = 0;
    rx.clear();
    emit(device.empty() ? "tool disconnected" : "line hung up");
}

void SimBox::Impl::queue(std::vector<TimedWrite> writes) {
    for (TimedWrite& w : writes)
        out.push_back(std::move(w));
}

void SimBox::Impl::receive(SimClock::time_point now) {
    uint8_t bytes[kReadChunk];
    bool gone = false;
    for (;;) {
        const ssize_t n = ::read(master.get(), bytes, sizeof bytes);
        if (n > 0) {
            rx.feed({bytes, std::size_t(n)});
            lastRx = now;
            // The rest, if any came since, wakes the loop again.
            if (std::size_t(n) < sizeof bytes)
                break;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // EIO (or an end) means the last slave descriptor has gone.
            gone = !(n < 0 && errno == EAGAIN);
            break;
        }
    }
    handleFrames(now);
    if (gone)
        onDisconnected();
}

void SimBox::Impl::handleFrames(SimClock::time_point now) {
    while (std::optional<StreamFrame> frame = rx.next()) {
        lastToolFrame = now;
        SimOutcome outcome;
        {
            std::lock_guard lock(mu);
            outcome = responder.handle(frame->type, frame->payload, injector);
            for (const SimReply& reply : outcome.replies)
                queue(injector.shape(reply.type, reply.payload, true, now));
        }
        if (outcome.hangUp) {
            dropOff(outcome.event);
            return;
        }
        if (outcome.firmwareTaken) {
            const std::lock_guard lock(mu);
            // Never on the closing Ack's heels, where the tool would read both as one event.
            newFirmwareReportAt =
                now + std::max(kStatusAfterAck,
                               std::chrono::milliseconds(responder.model().newFirmwarePauseMs));
            nextStatus = std::min(nextStatus, *newFirmwareReportAt);
        }
        if (!outcome.event.empty())
            emit(outcome.event);
    }
}

void SimBox::Impl::expirePartial(SimClock::time_point now) {
    if (!rx.holdsPartial() || now - lastRx < kPartialFrameLimit)
        return;
    // A frame may still begin after the stale start byte.
    while (rx.holdsPartial()) {
        rx.skipPartial();
        handleFrames(now);
    }
}

void SimBox::Impl::sendDue(SimClock::time_point now) {
    while (!out.empty() && out.front().due <= now) {
        const std::vector<uint8_t>& bytes = out.front().bytes;
        const ssize_t n =
            ::write(master.get(), bytes.data() + outWritten, bytes.size() - outWritten);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                onDisconnected();
            return;  // the rest when the port takes more
        }
        outWritten += std::size_t(n);
        if (outWritten < bytes.size())
            return;
        out.pop_front();
        outWritten = 0;
    }
}

void SimBox::Impl::sendStatusIfDue(SimClock::time_point now) {
    if (now < nextStatus)
        return;
    // A box that restarts with new firmware reports it after its own pause, quiet or not.
    const bool restarted = newFirmwareReportAt && now >= *newFirmwareReportAt;
    if (restarted)
        newFirmwareReportAt.reset();
    if (!restarted && now - lastToolFrame < kQuietAfterToolFrame) {
        nextStatus = lastToolFrame + kQuietAfterToolFrame;
        if (newFirmwareReportAt)
            nextStatus = std::min(nextStatus, *newFirmwareReportAt);
        return;
    }
    std::string event;
    {
        std::lock_guard lock(mu);
        const SimModel& m = responder.model();
        nextStatus = now + std::chrono::milliseconds(std::max(1, m.statusIntervalMs));
        // A tool that does not read gets no pile of statuses.
        if (!out.empty())
            return;
        const bool packet = m.mode == 0 && m.announcement != OperatingAnnouncement::Status;
        const bool status = m.mode != 0 || m.announcement != OperatingAnnouncement::Packet;
        std::vector<TimedWrite> writes;
        if (status)
            writes = injector.shape(Status, responder.statusPayload(), false, now);
        if (packet) {
            std::vector<TimedWrite> notice = injector.shape(OperatingMode, {}, false, now);
            writes.insert(writes.end(), notice.begin(), notice.end());
        }
        if (writes.empty())
            return;
        queue(std::move(writes));
        if (status)
            responder.countStatus();
        char text[80];
        std::snprintf(text, sizeof text, "status sent: mode %u, version %u.%u.%u.%u", m.mode,
                      m.version[0], m.version[1], m.version[2], m.version[3]);
        event = text;
    }
    emit(event);
}

void SimBox::Impl::begin(SimClock::time_point now) {
    connected = false;
    out.clear();
    outWritten = 0;
    rx.clear();
    serve(now, true);
}

void SimBox::Impl::forgetDescriptors() {
    loop->watch(masterWait, -1, 0);
    loop->watch(watchWait, -1, 0);
}

// What the box waits for next: bytes from the tool or its open, room for a write that is due,
// and the time of its next write, status or check.
void SimBox::Impl::updateWaits(SimClock::time_point now) {
    loop->watch(watchWait, watch.get(), EPOLLIN);
    const bool blocked = !out.empty() && out.front().due <= now;
    loop->watch(masterWait, connected ? master.get() : -1,
                EPOLLIN | (blocked ? uint32_t(EPOLLOUT) : 0u));
    masterWait.ready = watchWait.ready = 0;
    due = nextDue(now);
}

void SimBox::Impl::serve(SimClock::time_point now, bool woken) {
    const bool tool = masterWait.ready != 0;
    const bool opened = watchWait.ready != 0;
    if (!woken && !tool && !opened && (!due || now < *due))
        return;
    if (woken)
        serveHangUp();
    if (opened)
        drain(watch.get());
    comeBackIfDue(now);
    if (!connected)
        reopenDeviceIfHungUp();
    if (!connected && master.valid() && slaveOpen())
        onConnected(now);
    else if (connected && tool)
        receive(now);
    if (connected) {
        expirePartial(now);
        sendDue(now);
        if (connected)
            sendStatusIfDue(now);
    }
    updateWaits(now);
}

SimBox::SimBox(SimModel model, SimFaults faults, std::string device, SimBoxGroup* group)
    : impl_(std::make_unique<Impl>(std::move(model), faults, std::move(device), group)) {}

SimBox::~SimBox() {
    stop();
}

std::string SimBox::portPath() const {
    std::lock_guard lock(impl_->mu);
    return impl_->path;
}

void SimBox::start() {
    std::lock_guard life(impl_->lifecycle);
    std::unique_lock lock(impl_->mu);
    if (impl_->running)
        return;
    impl_->running = true;
    if (!impl_->group) {
        impl_->ownLoop = std::make_unique<SimBoxLoop>(impl_.get());
        return;
    }
    impl_->loop = impl_->group->loop_.get();
    lock.unlock();
    impl_->loop->join(*impl_);
}

void SimBox::stop() {
    std::lock_guard life(impl_->lifecycle);
    {
        std::lock_guard lock(impl_->mu);
        if (!impl_->running)
            return;
        impl_->leaving = true;
    }
    // Outside the lock, which the serving thread may be waiting for.
    if (impl_->ownLoop)
        impl_->ownLoop.reset();
    else
        impl_->loop->leave(*impl_);
    std::lock_guard lock(impl_->mu);
    impl_->running = impl_->leaving = false;
    impl_->loop = nullptr;
    // A hang-up asked for while the box was leaving.
    if (impl_->hangUpWanted) {
        impl_->hangUpWanted = false;
        impl_->closeMaster();
    }
}

void SimBox::hangUp() {
    std::unique_lock lock(impl_->mu);
    if (!impl_->master.valid())
        return;
    if (!impl_->running) {
        impl_->closeMaster();
        return;
    }
    impl_->hangUpWanted = true;
    if (!impl_->leaving)
        impl_->loop->wakeUp();
    impl_->hungUp.wait(lock, [&] { return !impl_->master.valid(); });
}

SimModel SimBox::model() const {
    std::lock_guard lock(impl_->mu);
    return impl_->responder.model();
}

void SimBox::setModel(const SimModel& model) {
    std::lock_guard lock(impl_->mu);
    impl_->responder.setModel(model);
}

SimFaults SimBox::faults() const {
    std::lock_guard lock(impl_->mu);
    return impl_->injector.faults();
}

void SimBox::setFaults(const SimFaults& faults) {
    std::lock_guard lock(impl_->mu);
    impl_->injector.setFaults(faults);
}

SimStats SimBox::stats() const {
    std::lock_guard lock(impl_->mu);
    return impl_->responder.stats();
}

std::vector<uint8_t> SimBox::firmwareReceived() const {
    std::lock_guard lock(impl_->mu);
    return impl_->responder.firmwareReceived();
}

ConfigBlockBytes SimBox::storedConfig() const {
    std::lock_guard lock(impl_->mu);
    return impl_->responder.model().store;
}

void SimBox::setEventSink(EventSink sink) {
    std::lock_guard lock(impl_->mu);
    impl_->sink = std::move(sink);
}

}  // namespace vek
