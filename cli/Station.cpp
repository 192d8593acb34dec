#include "cli/Station.h"

#include <QCryptographicHash>
#include <QDateTime>
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
#include "cli/Record.h"
#include "cli/Service.h"
#include "serial/EComPort.h"
#include "serial/EnumComPorts.h"

namespace vek {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(10);
constexpr auto kRescan = std::chrono::milliseconds(250);  // how often a watch lists the ports

std::string utcNow() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
}

std::string sha256Of(const ConfigBlockBytes& block) {
    return QCryptographicHash::hash(QByteArrayView(block.data(), qsizetype(block.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// What every visit shares.
struct Context {
    const StationOptions& options;
    StationOutput& out;
    const TComSignal& stop;
    RecordFile* record;
};

// One box's visit, from its port's opening to its record line.
VisitRecord visit(const std::string& port, const Context& c) {
    const auto started = Clock::now();
    VisitRecord v;
    v.time = utcNow();
    v.toolVersion = VEK_VERSION;
    v.port = port;
    v.stableName = StableName(port);
    v.profile = c.options.profileName;
    c.out.begin(port);
    const auto progress = [&](uint32_t done, uint32_t total) { c.out.progress(port, done, total); };
    const auto fail = [&](const std::string& reason, const std::string& error) {
        v.result = "failed";
        v.reason = reason;
        v.error = error;
    };
    try {
        c.out.phase(port, "identify", "");
        const std::unique_ptr<BoxLink> link = openBox(port, c.stop);
        const auto announcement = link->waitForAnnouncement(c.options.wait);
        if (!announcement)
            throw CommandFailure(kExitNoBox, "no_box", "nenhum Vek respondeu");
        if (announcement->status) {
            const DeviceInfo& info = *announcement->status;
            v.identifier = identifierText(info.id, '-');
            v.hardwareType = info.version[0];
            v.firmwareBefore = v.firmwareAfter = versionText(info.version);
        }
        if (announcement->operatingMode())
            throw CommandFailure(kExitOperatingMode, "operating_mode",
                                 "o Vek está em modo de operação");
        DeviceInfo info = *announcement->status;
        v.actions.push_back("identify");
        const DeviceAction action = decideDeviceAction(info.version);
        if (action == DeviceAction::None)
            throw CommandFailure(
                kExitNotSupported, "unknown_hardware",
                "hardware desconhecido (tipo " + std::to_string(info.version[0]) + ")");
        if (action == DeviceAction::UploadFirmware) {
            c.out.phase(port, "upload", v.identifier);
            info = uploadFirmware(*link, progress);
            v.firmwareAfter = versionText(info.version);
            v.actions.push_back("upload");
        }
        c.out.phase(port, "read", v.identifier);
        const ConfigBlockBytes stored = link->readConfig(info.configBase, progress);
        v.actions.push_back("read");
        if (stored == c.options.block.block) {
            v.block = "unchanged";
        } else {
            c.out.phase(port, "write", v.identifier);
            writeConfiguration(*link, info.configBase, c.options.block, progress, progress);
            v.actions.push_back("write");
            v.actions.push_back("verify");
            v.block = sha256Of(c.options.block.block);
        }
        const bool changed = v.block != "unchanged" || v.firmwareAfter != v.firmwareBefore;
        v.result = changed ? "serviced" : "current";
    } catch (const CommandFailure& failure) {
        fail(failure.id(), failure.what());
    } catch (const LinkError& failure) {
        fail("link_failed", failure.title() + ": " + failure.what());
    } catch (const EComPort& failure) {
        fail("port_lost", failure.what());
    } catch (const Interrupted&) {
        v.result = "interrupted";
        v.error = "interrompido";
    } catch (const std::exception& failure) {
        // Out of memory or threads: this visit fails, the others go on.
        fail("internal_error", failure.what());
    }
    v.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (c.record) {
        try {
            c.record->append(v);
        } catch (const CommandFailure& failure) {
            c.out.message(std::string("vekctl: ") + failure.what());
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
        record = std::make_unique<RecordFile>(options.recordFile);
        if (record->hadPartialLine())
            out.message("vekctl: " + options.recordFile +
                        ": a última linha estava incompleta (de uma execução interrompida) e é "
                        "ignorada");
    }
    const Context context{options, out, stop, record.get()};
    std::mutex mutex;  // guards the counts
    std::map<std::string, int> results, failures;

    std::list<Worker> workers;
    std::deque<std::string> pending;
    // The ports serviced and still there, each with the identity of its device then: a box
    // plugged in again is a new device, so a port whose identity changes is serviced again.
    std::map<std::string, std::string> visited;
    // A port named either way (ttyACM0 or /dev/ttyACM0) is the device it stands for.
    std::set<std::string> named;
    for (const std::string& port : options.ports)
        named.insert(PortPath(port));

    const auto present = [&] {
        std::vector<std::string> ports;
        try {
            EnumComPorts(ports);
        } catch (const EComPort& error) {
            out.message(std::string("vekctl: ") + error.what());
        }
        std::erase_if(ports, [&](const std::string& p) {
            return named.empty() ? !MayOpenUnasked(p) : !named.contains(PortPath(p));
        });
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
    queueNew(options.watch || options.all ? present() : options.ports);

    auto lastScan = Clock::now();
    std::unique_lock lock(mutex);
    for (;;) {
        workers.remove_if([](Worker& w) {
            if (!*w.finished)
                return false;
            w.thread.join();
            return true;
        });
        while (!stop.raised() && !pending.empty() && int(workers.size()) < options.jobs) {
            const std::string port = pending.front();
            pending.pop_front();
            Worker& w = workers.emplace_back();
            w.thread = std::thread([&, port, finished = w.finished] {
                const VisitRecord v = visit(port, context);
                const std::lock_guard done(mutex);
                ++results[v.result];
                if (v.result == "failed")
                    ++failures[v.reason];
                *finished = true;
            });
        }
        const bool idle = workers.empty() && pending.empty();
        if (stop.raised() ? workers.empty() : (idle && !options.watch))
            break;
        // Short sleeps rather than a timed wait on a condition: a signal handler raises the stop
        // and cannot notify, and GCC 12's thread sanitizer does not see such a wait take its
        // mutex back.
        lock.unlock();
        std::this_thread::sleep_for(kTick);
        lock.lock();
        if (!options.watch || stop.raised() || Clock::now() - lastScan < kRescan)
            continue;
        lastScan = Clock::now();
        lock.unlock();
        const std::vector<std::string> ports = present();
        lock.lock();
        // A port that went is forgotten, so that a box plugged in on it again is serviced.
        std::erase_if(visited, [&](const auto& entry) {
            return std::find(ports.begin(), ports.end(), entry.first) == ports.end();
        });
        queueNew(ports);
    }
    lock.unlock();
    out.summary(results, failures);
    if (results["interrupted"] > 0 || (stop.raised() && !options.watch))
        return kExitInterrupted;
    return results["failed"] > 0 ? kExitSomeFailed : kExitOk;
}

}  // namespace vek
