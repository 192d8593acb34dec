#include "cli/Station.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <list>
#include <memory>
#include <optional>
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
constexpr int kRescanMs = 500;  // the ports are listed again at least this often when watching

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
        const DeviceInfo& info = *announcement->status;
        v.actions.push_back("identify");
        const DeviceAction action = decideDeviceAction(info.version);
        if (action == DeviceAction::None)
            throw CommandFailure(
                kExitNotSupported, "unknown_hardware",
                "hardware desconhecido (tipo " + std::to_string(info.version[0]) + ")");
        if (action == DeviceAction::UploadFirmware) {
            c.out.phase(port, "upload", v.identifier);
            v.firmwareAfter = versionText(uploadFirmware(*link, progress));
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

// Wakes the station's loop from a visit's thread.
class Wake {
  public:
    Wake() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Wake() { ::close(fd_); }
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;
    void raise() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
    }
    void drain() {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
    }
    int fd() const { return fd_; }

  private:
    int fd_;
};

// Where ports appear and go: /dev and the folders named in VEKTOOL_PORTS. A removed entry is
// reported by its port's name, as EnumComPorts lists it.
class PortWatch {
  public:
    PortWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        add("/dev", "");
        const std::string named = std::getenv("VEKTOOL_PORTS") ? std::getenv("VEKTOOL_PORTS") : "";
        for (std::size_t begin = 0; begin <= named.size();) {
            const std::size_t end = std::min(named.find(':', begin), named.size());
            const std::string item = named.substr(begin, end - begin);
            add(item, item + "/");
            begin = end + 1;
        }
    }
    ~PortWatch() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    int fd() const { return fd_; }
    // The ports whose entries were removed since the last call.
    std::vector<std::string> removed() {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[8192];
        ssize_t n;
        while (fd_ >= 0 && (n = ::read(fd_, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                const auto prefix = prefixes_.find(event->wd);
                if (event->len > 0 && (event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0 &&
                    prefix != prefixes_.end())
                    names.push_back(prefix->second + event->name);
                p += sizeof(inotify_event) + event->len;
            }
        }
        return names;
    }

  private:
    void add(const std::string& folder, const std::string& prefix) {
        if (fd_ < 0 || folder.empty() || folder[0] != '/')
            return;
        const int wd = inotify_add_watch(fd_, folder.c_str(),
                                         IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO);
        if (wd >= 0)
            prefixes_[wd] = prefix;
    }

    int fd_;
    std::map<int, std::string> prefixes_;
};

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
    std::mutex resultsMutex;
    std::map<std::string, int> results, failures;

    Wake wake;
    std::optional<PortWatch> watch;
    if (options.watch)
        watch.emplace();
    std::list<Worker> workers;
    std::deque<std::string> pending;
    std::set<std::string> visited;  // ports serviced and still present
    const std::set<std::string> named(options.ports.begin(), options.ports.end());

    const auto present = [&] {
        std::vector<std::string> ports;
        try {
            EnumComPorts(ports);
        } catch (const EComPort& error) {
            out.message(std::string("vekctl: ") + error.what());
        }
        std::erase_if(ports, [&](const std::string& p) {
            return named.empty() ? !mayProbe(p) : !named.contains(p);
        });
        return ports;
    };
    const auto queueNew = [&](const std::vector<std::string>& ports) {
        for (const std::string& port : ports)
            if (visited.insert(port).second)
                pending.push_back(port);
    };
    if (options.watch || options.all)
        queueNew(present());
    else
        queueNew(options.ports);

    auto lastScan = Clock::now();
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
                {
                    const std::lock_guard lock(resultsMutex);
                    ++results[v.result];
                    if (v.result == "failed")
                        ++failures[v.reason];
                }
                *finished = true;
                wake.raise();
            });
        }
        const bool idle = workers.empty() && pending.empty();
        if (stop.raised() ? workers.empty() : (idle && !options.watch))
            break;

        std::array<pollfd, 3> waited{{{stop.descriptor(), POLLIN, 0},
                                      {wake.fd(), POLLIN, 0},
                                      {watch ? watch->fd() : -1, POLLIN, 0}}};
        poll(waited.data(), waited.size(), options.watch ? kRescanMs : -1);
        wake.drain();
        if (!watch || stop.raised())
            continue;
        // A port that went is forgotten, so that a box plugged in on it again is serviced.
        for (const std::string& gone : watch->removed())
            visited.erase(gone);
        if (waited[2].revents != 0 ||
            Clock::now() - lastScan >= std::chrono::milliseconds(kRescanMs)) {
            lastScan = Clock::now();
            const std::vector<std::string> ports = present();
            std::erase_if(visited, [&](const std::string& p) {
                return std::find(ports.begin(), ports.end(), p) == ports.end();
            });
            queueNew(ports);
        }
    }
    out.summary(results, failures);
    if (results["interrupted"] > 0 || (stop.raised() && !options.watch))
        return kExitInterrupted;
    return results["failed"] > 0 ? kExitSomeFailed : kExitOk;
}

}  // namespace vek
