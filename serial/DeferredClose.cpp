#include "serial/DeferredClose.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace vek {

namespace {

struct Closer {
    std::mutex mutex;
    std::deque<int> pending;
    bool running = false;
};

// Never destroyed: a close may still be under way when the process exits.
Closer& closer() {
    static auto* instance = new Closer;
    return *instance;
}

void closeQueued(Closer& c) {
    std::unique_lock lock(c.mutex);
    while (!c.pending.empty()) {
        const int fd = c.pending.front();
        c.pending.pop_front();
        lock.unlock();
        closeDeviceNow(fd);
        lock.lock();
    }
    c.running = false;
}

}  // namespace

void closeDeviceNow(int fd) {
    ioctl(fd, TIOCNXCL);  // others may open the line again
    ::close(fd);
}

void closeDeviceInBackground(int fd) {
    Closer& c = closer();
    {
        const std::lock_guard lock(c.mutex);
        c.pending.push_back(fd);
        if (c.running)
            return;
        c.running = true;
    }
    try {
        std::thread(closeQueued, std::ref(c)).detach();
    } catch (const std::system_error&) {
        closeQueued(c);  // no thread to be had: better late than never
    }
}

}  // namespace vek
