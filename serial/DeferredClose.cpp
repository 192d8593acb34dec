#include "serial/DeferredClose.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace vek {

namespace {

struct PendingClose {
    NativeHandle device;
    std::optional<DeviceId> id;
};

struct Closer {
    std::mutex mutex;
    std::deque<PendingClose> pending;
    std::optional<DeviceId> closing;  // the id of the close under way
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
        const PendingClose next = c.pending.front();
        c.pending.pop_front();
        c.closing = next.id;
        lock.unlock();
        closeDeviceNow(next.device);
        lock.lock();
        c.closing.reset();
    }
    c.running = false;
}

}  // namespace

void closeDeviceInBackground(NativeHandle device, std::optional<DeviceId> id) {
    Closer& c = closer();
    {
        const std::lock_guard lock(c.mutex);
        c.pending.push_back({device, id});
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

bool closingUnderWay(DeviceId id) {
    Closer& c = closer();
    const std::lock_guard lock(c.mutex);
    return c.closing == id || std::any_of(c.pending.begin(), c.pending.end(),
                                          [id](const PendingClose& p) { return p.id == id; });
}

}  // namespace vek
