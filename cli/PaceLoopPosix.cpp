#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/PaceLoop.h"
#include "serial/EComPort.h"

namespace vek {

namespace {

// A work handed to the loop, on the stack of the thread that waits for it.
struct Job {
    explicit Job(Paced& work) : work(&work) {}
    Paced* work;
    bool done = false;  // under the loop's mutex
    std::exception_ptr error;
    uint32_t events = 0;  // the loop's own: what its last wait found
};

int checked(int fd, const char* what) {
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), what);
    return fd;
}

}  // namespace

struct PaceLoop::Impl {
    explicit Impl(const TComSignal& stop)
        : stop(stop),
          epoll(checked(epoll_create1(EPOLL_CLOEXEC), "epoll_create1")),
          wake(checked(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), "eventfd")) {
        add(wake, nullptr);
        add(int(stop.handle()), &stopTag);
    }
    ~Impl() {
        ::close(wake);
        ::close(epoll);
    }

    bool add(int fd, void* tag);
    void wakeUp();
    void run();
    void takeArrivals();
    void breakDown(std::exception_ptr error);
    // Advances a job once; true when it is complete.
    bool advance(Job& job, bool bytesArrived, uint32_t events);
    void finish(Job& job, std::exception_ptr error);
    int timeoutMs() const;

    const TComSignal& stop;
    const int epoll, wake;
    char stopTag = 0;
    std::mutex mu;
    std::condition_variable finished;
    std::vector<Job*> arriving;  // under mu
    bool quitting = false;       // under mu
    std::exception_ptr broken;   // under mu: the loop could not wait, and takes no work
    // The thread's own.
    std::vector<Job*> jobs;
    std::thread thread;
};

bool PaceLoop::Impl::add(int fd, void* tag) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.ptr = tag;
    return epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &e) == 0;
}

void PaceLoop::Impl::wakeUp() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
}

void PaceLoop::Impl::finish(Job& job, std::exception_ptr error) {
    // Out of the set before the port is its owner's again, who may close it at once.
    epoll_ctl(epoll, EPOLL_CTL_DEL, int(job.work->port().Handle()), nullptr);
    const std::lock_guard lock(mu);
    job.error = std::move(error);
    job.done = true;
    finished.notify_all();
}

void PaceLoop::Impl::takeArrivals() {
    std::vector<Job*> taken;
    {
        const std::lock_guard lock(mu);
        taken.swap(arriving);
    }
    for (Job* job : taken) {
        if (stop.raised())
            finish(*job, std::make_exception_ptr(Interrupted()));
        else if (!add(int(job->work->port().Handle()), job))
            finish(*job, std::make_exception_ptr(EComPort(21, errno)));
        else
            jobs.push_back(job);
    }
}

bool PaceLoop::Impl::advance(Job& job, bool bytesArrived, uint32_t events) {
    try {
        // Unplugged or the far end gone: it would be reported at once for ever.
        if ((events & (EPOLLHUP | EPOLLERR)) != 0)
            throw EComPort(21, EIO);
        if (!job.work->advance(bytesArrived))
            return false;
        finish(job, nullptr);
    } catch (...) {
        finish(job, std::current_exception());
    }
    return true;
}

int PaceLoop::Impl::timeoutMs() const {
    if (jobs.empty())
        return -1;
    auto first = jobs.front()->work->nextTick();
    for (const Job* job : jobs)
        first = std::min(first, job->work->nextTick());
    return millisecondsUntil(first);
}

void PaceLoop::Impl::breakDown(std::exception_ptr error) {
    for (Job* job : jobs)
        finish(*job, error);
    jobs.clear();
    const std::lock_guard lock(mu);
    broken = error;
    for (Job* job : arriving) {
        job->error = error;
        job->done = true;
    }
    arriving.clear();
    finished.notify_all();
}

void PaceLoop::Impl::run() {
    std::vector<epoll_event> ready(256);
    for (;;) {
        takeArrivals();
        {
            const std::lock_guard lock(mu);
            if (quitting && jobs.empty() && arriving.empty())
                return;
        }
        const int n = epoll_wait(epoll, ready.data(), int(ready.size()), timeoutMs());
        if (n < 0 && errno != EINTR)
            return breakDown(std::make_exception_ptr(EComPort(21, errno)));
        for (int i = 0; i < n; ++i) {
            const epoll_event& e = ready[std::size_t(i)];
            if (e.data.ptr == nullptr) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t r = ::read(wake, &count, sizeof count);
            } else if (e.data.ptr == &stopTag) {
                // Raised for good, it stays readable: it is watched no more.
                epoll_ctl(epoll, EPOLL_CTL_DEL, int(stop.handle()), nullptr);
            } else {
                static_cast<Job*>(e.data.ptr)->events = e.events;
            }
        }
        if (stop.raised()) {
            for (Job* job : jobs)
                finish(*job, std::make_exception_ptr(Interrupted()));
            jobs.clear();
            continue;
        }
        // Each job once: its bytes, and its tick when that is due.
        const auto now = Paced::Clock::now();
        std::erase_if(jobs, [&](Job* job) {
            const uint32_t events = std::exchange(job->events, 0);
            return (events != 0 || job->work->nextTick() <= now) &&
                   advance(*job, events != 0, events);
        });
    }
}

PaceLoop::PaceLoop(const TComSignal& stop) : impl_(std::make_unique<Impl>(stop)) {
    impl_->thread = std::thread([this] { impl_->run(); });
}

PaceLoop::~PaceLoop() {
    {
        const std::lock_guard lock(impl_->mu);
        impl_->quitting = true;
    }
    impl_->wakeUp();
    impl_->thread.join();
}

void PaceLoop::drive(Paced& work) {
    Job job(work);
    {
        std::unique_lock lock(impl_->mu);
        if (impl_->broken)
            std::rethrow_exception(impl_->broken);
        impl_->arriving.push_back(&job);
        impl_->wakeUp();
        impl_->finished.wait(lock, [&] { return job.done; });
    }
    if (job.error)
        std::rethrow_exception(job.error);
}

}  // namespace vek
