#include "cli/Station.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "cli/ExitCode.h"
#include "cli/JournalSync.h"
#include "cli/Record.h"
#include "cli/Service.h"
#include "cli/VisitTrace.h"
#include "serial/EnumComPorts.h"

namespace vek {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(10);
constexpr auto kRescan = std::chrono::milliseconds(250);  // how often a watch lists the ports
// How long the end of a run waits for the history server to take the last lines.
constexpr auto kSyncGrace = std::chrono::seconds(3);

// What every visit shares.
struct Context {
    const StationOptions& options;
    StationOutput& out;
    const TComSignal& stop;
    RecordFile* record;
    JournalSync* sync;
    std::atomic<bool>& recordFailed;
    PaceLoop& loop;
};

// One box's visit, from its port's opening to its record line.
VisitRecord visit(const std::string& port, const Context& c) {
    VisitTrace trace(port, c.options.profileName);
    c.out.begin(port);
    const auto progress = [&](uint32_t done, uint32_t total) { c.out.progress(port, done, total); };
    const auto begin = [&](const char* step) {
        trace.begin(step);
        c.out.phase(port, step, trace.record().identifier);
    };
    std::unique_ptr<BoxLink> link;
    VisitRecord v;
    try {
        c.out.phase(port, "identify", "");
        link = openBox(port, c.stop, &c.loop);
        const auto announcement = link->waitForAnnouncement(c.options.wait);
        if (!announcement)
            throw CommandFailure(kExitNoBox, "no_box", "nenhum Vek respondeu");
        if (announcement->status)
            trace.identified(*announcement->status);
        if (announcement->operatingMode())
            throw CommandFailure(kExitOperatingMode, "operating_mode",
                                 "o Vek está em modo de operação");
        DeviceInfo info = *announcement->status;
        trace.begin("identify");
        const DeviceAction action = decideDeviceAction(info.version);
        if (action == DeviceAction::None)
            throw CommandFailure(
                kExitNotSupported, "unknown_hardware",
                "hardware desconhecido (tipo " + std::to_string(info.version[0]) + ")");
        if (action == DeviceAction::UploadFirmware) {
            begin("upload");
            info = uploadFirmware(*link, progress);
            trace.firmwareNow(info);
        }
        begin("read");
        const ConfigBlockBytes stored = link->readConfig(info.configBase, progress);
        trace.blockRead(stored);
        if (stored == c.options.block.block) {
            trace.blockUnchanged();
        } else {
            begin("write");
            writeConfiguration(*link, c.options.block, progress);
            trace.blockWritten(c.options.block.block);
            begin("verify");
            verifyConfiguration(*link, info.configBase, c.options.block, progress);
            trace.blockHeld(c.options.block.block);
        }
        v = trace.succeeded();
    } catch (...) {
        v = trace.failed(std::current_exception(), link.get());
    }
    if (c.record && !portHeldElsewhere(v)) {
        try {
            c.record->append(v);
            if (c.sync)
                c.sync->lineAppended();
        } catch (const CommandFailure& failure) {
            c.recordFailed = true;
            c.out.message(std::string("vekctl: ") + failure.what() +
                          "; nenhuma visita nova começa sem registro");
        }
    }
    c.out.end(v);
    return v;
}

struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace

int provision(const StationOptions& options, StationOutput& out, const TComSignal& stop) {
    std::unique_ptr<RecordFile> record;
    if (!options.recordFile.empty()) {
        record = std::make_unique<RecordFile>(options.recordFile, options.station);
        if (record->hadPartialLine())
            out.message("vekctl: " + options.recordFile +
                        ": a última linha estava incompleta (de uma execução interrompida) e é "
                        "ignorada");
    }
    // The journal is written first; the server being away never holds up a visit.
    std::unique_ptr<JournalSync> sync;
    if (record && !options.syncUrl.empty())
        sync = std::make_unique<JournalSync>(
            options.recordFile, QString::fromStdString(options.syncUrl),
            QString::fromStdString(options.syncToken), [&out](const SyncState& s) { out.sync(s); });
    std::atomic<bool> recordFailed = false;
    // Every box's transfers and reads on one thread; the visits wait for them on theirs.
    PaceLoop loop(stop);
    const Context context{options, out, stop, record.get(), sync.get(), recordFailed, loop};
    std::mutex mutex;  // guards the last visits
    // Each box's last visit (a port's, when no box answered there): a box that failed and was
    // later serviced counts as serviced.
    std::map<std::string, VisitRecord> last;

    // The ports named, each device once whatever name it was given by.
    std::vector<std::string> named;
    std::set<std::string> namedDevices;
    for (const std::string& port : options.ports) {
        const std::string device = DeviceOf(port);
        if (device.empty() || namedDevices.insert(device).second)
            named.push_back(port);
        else
            out.message("vekctl: " + port +
                        " é uma porta já nomeada com outro nome; atendida uma vez");
    }

    std::list<Worker> workers;
    std::deque<std::string> pending;
    // The ports serviced and still there, each with the identity of its device then: a box
    // plugged in again is a new device, so a port whose identity changes is serviced again.
    std::map<std::string, std::string> visited;

    // The ports present: those named, when the system lists the device they lead to; else every
    // port that may be opened unasked.
    const auto present = [&] {
        std::vector<std::string> listed;
        try {
            listed = listPorts();
        } catch (const CommandFailure& failure) {
            out.message(std::string("vekctl: ") + failure.what());
        }
        if (named.empty()) {
            std::erase_if(listed, [](const std::string& p) { return !MayOpenUnasked(p); });
            return listed;
        }
        std::set<std::string> devices;
        for (const std::string& port : listed)
            devices.insert(DeviceOf(port));
        std::vector<std::string> ports;
        for (const std::string& port : named)
            if (devices.contains(DeviceOf(port)))
                ports.push_back(port);
        return ports;
    };
    const auto queueNew = [&](const std::vector<std::string>& ports) {
        for (const std::string& port : ports) {
            const std::string identity = DeviceIdentity(port);
            const auto known = visited.find(port);
            // No identity: nothing tells (Windows), or the device went since the port was listed.
            if (known != visited.end() && (identity.empty() || known->second == identity))
                continue;
            visited[port] = identity;
            pending.push_back(port);
        }
    };
    queueNew(options.watch || options.all ? present() : named);

    auto lastScan = Clock::now();
    std::unique_lock lock(mutex);
    for (;;) {
        workers.remove_if([](Worker& w) {
            if (!*w.finished)
                return false;
            w.thread.join();
            return true;
        });
        // A station that cannot record starts no more visits.
        const bool ending = stop.raised() || recordFailed;
        while (!ending && !pending.empty() && int(workers.size()) < options.jobs) {
            const std::string port = pending.front();
            pending.pop_front();
            Worker& w = workers.emplace_back();
            w.thread = std::thread([&, port, finished = w.finished] {
                VisitRecord v = visit(port, context);
                const std::lock_guard done(mutex);
                last[v.identifier.empty() ? "port " + v.port : v.identifier] = std::move(v);
                *finished = true;
            });
        }
        const bool idle = workers.empty() && pending.empty();
        if (ending ? workers.empty() : (idle && !options.watch))
            break;
        // Short sleeps rather than a timed wait on a condition: a signal handler raises the stop
        // and cannot notify, and GCC 12's thread sanitizer does not see such a wait take its
        // mutex back.
        lock.unlock();
        std::this_thread::sleep_for(kTick);
        lock.lock();
        if (!options.watch || ending || Clock::now() - lastScan < kRescan)
            continue;
        lastScan = Clock::now();
        lock.unlock();
        const std::vector<std::string> ports = present();
        lock.lock();
        // A port that went is forgotten, so that a box plugged in on it again is serviced.
        std::erase_if(visited, [&](const auto& entry) {
            const bool went = std::find(ports.begin(), ports.end(), entry.first) == ports.end();
            if (went)
                out.gone(entry.first);
            return went;
        });
        queueNew(ports);
    }
    lock.unlock();
    if (sync && !stop.raised())
        sync->drain(kSyncGrace);  // ends early when the server cannot be reached
    out.summary(last);
    std::map<std::string, int> results;
    for (const auto& [box, v] : last)
        ++results[v.result];
    if (recordFailed)
        return kExitFileError;
    if (results["interrupted"] > 0 || (stop.raised() && !options.watch))
        return kExitInterrupted;
    // An unpowered hub is no success: not one box answered.
    const bool noBox = std::all_of(last.begin(), last.end(), [](const auto& entry) {
        return entry.second.reason == "no_box";
    });
    if (!options.watch && noBox) {
        out.message(last.empty() ? "vekctl: nenhuma porta USB serial presente"
                                 : "vekctl: nenhum Vek respondeu");
        return kExitNoBox;
    }
    return results["failed"] > 0 ? kExitSomeFailed : kExitOk;
}

}  // namespace vek
