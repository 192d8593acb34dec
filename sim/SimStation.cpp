#include "sim/SimStation.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "config/Presets.h"

namespace vek {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(2);
}  // namespace

struct SimStation::Impl {
    explicit Impl(StationPlan p) : plan(std::move(p)) {}

    struct Slot {
        std::unique_ptr<SimBox> box;  // none once unplugged
        StationBox last;
        std::string link;
        Clock::time_point pluggedAt;
    };

    void run();
    void plug(int index);
    void unplug(Slot& slot, int index);
    void emit(const std::string& event);

    StationPlan plan;
    SimBoxGroup group;      // serves every box; outlives them
    mutable std::mutex mu;  // slots and sink
    std::vector<Slot> slots;
    EventSink sink;
    std::atomic<bool> stopping{false};
    std::atomic<bool> done{false};
    std::thread thread;
};

SimModel SimStation::modelOf(const StationPlan& plan, int index) {
    SimModel model = plan.model;
    model.id[2] += uint32_t(index);
    if (!plan.vary)
        return model;
    std::mt19937 draw(plan.faults.seed * 7919u + uint32_t(index));
    model.version[3] = draw() % 2 ? 36 : 30;
    switch (draw() % 3) {
        case 0:
            model.store = presetBlock(defaultPreset());
            break;
        case 1:
            model.store = presetBlock(trevaloPreset());
            break;
        default:
            model.store.fill(0xFF);
            break;
    }
    return model;
}

void SimStation::Impl::emit(const std::string& event) {
    if (sink)
        sink(event);
}

void SimStation::Impl::plug(int index) {
    Slot slot;
    slot.box = std::make_unique<SimBox>(modelOf(plan, index), plan.faults, std::string(), &group);
    slot.box->start();
    slot.pluggedAt = Clock::now();
    slot.last.port = slot.box->portPath();
    slot.last.id = slot.box->model().id;
    slot.last.plugged = true;
    if (!plan.portDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(plan.portDir, error);
        slot.link = plan.portDir + "/box" + std::to_string(index);
        std::filesystem::remove(slot.link, error);
        std::filesystem::create_symlink(slot.last.port, slot.link, error);
    }
    const std::string port = slot.last.port;
    {
        const std::lock_guard lock(mu);
        slots.push_back(std::move(slot));
    }
    emit("box " + std::to_string(index) + " plugged in on " + port);
}

void SimStation::Impl::unplug(Slot& slot, int index) {
    std::unique_ptr<SimBox> box;
    {
        const std::lock_guard lock(mu);
        if (!slot.box)
            return;
        slot.last.firmware = slot.box->firmwareReceived();
        slot.last.store = slot.box->storedConfig();
        slot.last.stats = slot.box->stats();
        slot.last.plugged = false;
        box = std::move(slot.box);
    }
    std::error_code error;
    if (!slot.link.empty())
        std::filesystem::remove(slot.link, error);
    box.reset();  // the master closes: the port goes
    emit("box " + std::to_string(index) + " unplugged");
}

void SimStation::Impl::run() {
    int next = 0;
    const auto start = Clock::now();
    while (!stopping) {
        auto wake = Clock::time_point::max();
        {
            const std::lock_guard lock(mu);
            if (next < plan.boxes)
                wake = start + plan.plugEvery * next;
            for (const Slot& slot : slots)
                if (slot.box && plan.unplugAfter.count() > 0)
                    wake = std::min(wake, slot.pluggedAt + plan.unplugAfter);
            done = wake == Clock::time_point::max();
        }
        // Short sleeps rather than a timed wait on a condition: GCC 12's thread sanitizer does
        // not see such a wait take its mutex back, and reports races that are none.
        if (Clock::now() < wake) {
            std::this_thread::sleep_for(kTick);
            continue;
        }
        const auto now = Clock::now();
        if (next < plan.boxes && now >= start + plan.plugEvery * next)
            plug(next++);
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (plan.unplugAfter.count() > 0 && now >= slots[i].pluggedAt + plan.unplugAfter)
                unplug(slots[i], int(i));
        }
    }
}

SimStation::SimStation(StationPlan plan) : impl_(std::make_unique<Impl>(std::move(plan))) {}

SimStation::~SimStation() {
    impl_->stopping = true;
    if (impl_->thread.joinable())
        impl_->thread.join();
    for (std::size_t i = 0; i < impl_->slots.size(); ++i)
        impl_->unplug(impl_->slots[i], int(i));
}

void SimStation::setEventSink(EventSink sink) {
    const std::lock_guard lock(impl_->mu);
    impl_->sink = std::move(sink);
}

void SimStation::start() {
    impl_->thread = std::thread([this] { impl_->run(); });
}

bool SimStation::waitUntilDone(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!impl_->done && Clock::now() < deadline)
        std::this_thread::sleep_for(kTick);
    return impl_->done;
}

std::vector<StationBox> SimStation::boxes() const {
    const std::lock_guard lock(impl_->mu);
    std::vector<StationBox> all;
    for (const Impl::Slot& slot : impl_->slots) {
        StationBox box = slot.last;
        if (slot.box) {
            box.firmware = slot.box->firmwareReceived();
            box.store = slot.box->storedConfig();
            box.stats = slot.box->stats();
        }
        all.push_back(std::move(box));
    }
    return all;
}

}  // namespace vek
