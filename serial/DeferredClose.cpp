#include "serial/DeferredClose.h"

#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace vek {

namespace {

struct Closer {
    std::mutex mutex;
    std::deque<NativeHandle> pending;
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
        const NativeHandle device = c.pending.front();
        c.pending.pop_front();
        lock.unlock();
        closeDeviceNow(device);
        lock.lock();
    }
    c.running = false;
}

}  // namespace

void closeDeviceInBackground(NativeHandle device) {
    Closer& c = closer();
    {
        const std::lock_guard lock(c.mutex);
        c.pending.push_back(device);
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
