// veksim: the simulated box on a pseudo-terminal, for working with the tool without a box, or on
// the device side of a USB serial gadget.
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "config/ConfigBlock.h"
#include "link/DeviceStatus.h"
#include "sim/SimBox.h"
#include "sim/SimStation.h"

namespace vek {
namespace {

constexpr const char* kUsage = R"(usage: veksim [option...]
Makes a simulated box on a pseudo-terminal, prints the slave's path on standard output and serves
the tool until SIGINT or SIGTERM, logging its events on standard error.

The box:
  --tty DEVICE             serves the existing terminal DEVICE (the device side of a USB serial
                           gadget, such as /dev/ttyGS0) raw instead of making a pseudo-terminal;
                           opens it again after each hang-up
  --mode boot|operating    mode it reports (default boot)
  --announce status|packet|both
                           how a box in operating mode makes itself known: its status, an
                           operating-mode packet, or the status followed by that packet
                           (default status)
  --hw N                   hardware type, version number a (default 3)
  --fw C.D                 firmware version (default 2.30, so the tool uploads its image)
  --id HEX24               identifier as shown, 24 hex digits (default 0011A2B344C5D6E78899FA0B)
  --base ADDR              configuration base address, decimal or 0x hex (default 0)
  --config default|invalid|FILE
                           stored configuration: the default preset's block, all 0xFF, or the
                           2032 bytes of FILE (default: default)
  --interval MS            status interval (default 1000)
Several boxes, as on a bench's USB hub (each port printed as its box is plugged in):
  --boxes N                N boxes; box K reports the identifier's last word plus K
  --vary                   each box's firmware (2.30 or 2.36) and store (default, Trevalo or
                           invalid) drawn from --seed
  --plug-every MS          the boxes are plugged in one after another, MS apart
  --unplug-after MS        each box is unplugged MS after it was plugged in
Its faults (probabilities from 0 to 1, per frame sent):
  --seed N                 seed of the fault generator (default 1)
  --lose P                 reply not sent
  --corrupt P              one byte of a reply changed
  --split P                reply written in two parts
  --split-gap MS           time between the two parts (default 20)
  --garbage P              noise in front of a reply
  --trailing P             noise after a reply
  --nack P                 a transfer packet refused with a Nack
  --delay MS               every reply this much later
  --wrong-destination      replies addressed to the box itself
  --faulty-statuses        the faults above hit statuses too
  --silent-from N          transfer packets numbered N or higher go unanswered
  --hang-up-at N           the cable is pulled when transfer packet N comes (once)
  --come-back MS           after a hang-up, the box comes back as a new port MS later
  --port-dir DIR           keeps a link to the current port in DIR (box0, box1 after coming
                           back..., or one per box); start the tool with VEKTOOL_PORTS=DIR to
                           follow it
  --help                   this text
)";

struct Options {
    SimModel model;
    SimFaults faults;
    std::string tty;
    std::string portDir;
    StationPlan station;
    uint8_t hardware = 3;
    std::array<uint8_t, 2> firmware{2, 30};
};

[[noreturn]] void badArgument(const std::string& message) {
    std::cerr << "veksim: " << message << "\nTry 'veksim --help'.\n";
    std::exit(2);
}

uint32_t unsignedValue(const std::string& option, const std::string& text, uint32_t max) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || v > max)
        badArgument(option + " wants a number from 0 to " + std::to_string(max) + ", not '" + text +
                    "'");
    return uint32_t(v);
}

double probability(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double p = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(p >= 0 && p <= 1))
        badArgument(option + " wants a probability from 0 to 1, not '" + text + "'");
    return p;
}

std::array<uint8_t, 2> firmwareVersion(const std::string& text) {
    const auto dot = text.find('.');
    if (dot == std::string::npos)
        badArgument("--fw wants C.D, not '" + text + "'");
    return {uint8_t(unsignedValue("--fw", text.substr(0, dot), 255)),
            uint8_t(unsignedValue("--fw", text.substr(dot + 1), 255))};
}

std::array<uint32_t, 3> identifier(const std::string& text) {
    const auto id = parseIdentifier(text);
    if (!id)
        badArgument("--id wants 24 hex digits, not '" + text + "'");
    return *id;
}

ConfigBlockBytes configuration(const std::string& text) {
    if (text == "default")
        return defaultPresetBlock();
    ConfigBlockBytes block;
    block.fill(0xFF);
    if (text == "invalid")
        return block;
    std::ifstream file(text, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    if (!file.is_open() || bytes.size() != block.size())
        badArgument("--config FILE must hold exactly " + std::to_string(block.size()) +
                    " bytes: '" + text + "'");
    std::copy(bytes.begin(), bytes.end(), block.begin());
    return block;
}

struct OptionRule {
    const char* name;
    bool takesValue;
    std::function<void(Options&, const std::string&)> apply;
};

const std::vector<OptionRule>& optionRules() {
    using O = Options;
    using S = const std::string&;
    static const std::vector<OptionRule> rules{
        {"--tty", true, [](O& o, S v) { o.tty = v; }},
        {"--mode", true,
         [](O& o, S v) {
             if (v != "boot" && v != "operating")
                 badArgument("--mode wants boot or operating, not '" + v + "'");
             o.model.mode = v == "boot" ? 1 : 0;
         }},
        {"--announce", true,
         [](O& o, S v) {
             if (v == "status")
                 o.model.announcement = OperatingAnnouncement::Status;
             else if (v == "packet")
                 o.model.announcement = OperatingAnnouncement::Packet;
             else if (v == "both")
                 o.model.announcement = OperatingAnnouncement::StatusThenPacket;
             else
                 badArgument("--announce wants status, packet or both, not '" + v + "'");
         }},
        {"--hw", true, [](O& o, S v) { o.hardware = uint8_t(unsignedValue("--hw", v, 255)); }},
        {"--fw", true, [](O& o, S v) { o.firmware = firmwareVersion(v); }},
        {"--id", true, [](O& o, S v) { o.model.id = identifier(v); }},
        {"--base", true,
         [](O& o, S v) { o.model.configBase = unsignedValue("--base", v, 0xFFFFFFFF); }},
        {"--config", true, [](O& o, S v) { o.model.store = configuration(v); }},
        {"--interval", true,
         [](O& o, S v) {
             o.model.statusIntervalMs = int(unsignedValue("--interval", v, 3'600'000));
             if (o.model.statusIntervalMs == 0)
                 badArgument("--interval must be above 0");
         }},
        {"--seed", true, [](O& o, S v) { o.faults.seed = unsignedValue("--seed", v, 0xFFFFFFFF); }},
        {"--lose", true, [](O& o, S v) { o.faults.loseReply = probability("--lose", v); }},
        {"--corrupt", true, [](O& o, S v) { o.faults.corruptByte = probability("--corrupt", v); }},
        {"--split", true, [](O& o, S v) { o.faults.splitReply = probability("--split", v); }},
        {"--split-gap", true,
         [](O& o, S v) { o.faults.splitGapMs = int(unsignedValue("--split-gap", v, 60'000)); }},
        {"--garbage", true,
         [](O& o, S v) { o.faults.garbageBefore = probability("--garbage", v); }},
        {"--trailing", true,
         [](O& o, S v) { o.faults.trailingBytes = probability("--trailing", v); }},
        {"--nack", true, [](O& o, S v) { o.faults.nackInstead = probability("--nack", v); }},
        {"--delay", true,
         [](O& o, S v) { o.faults.delayMs = int(unsignedValue("--delay", v, 60'000)); }},
        {"--wrong-destination", false, [](O& o, S) { o.faults.wrongDestination = true; }},
        {"--faulty-statuses", false, [](O& o, S) { o.faults.statusesToo = true; }},
        {"--silent-from", true,
         [](O& o, S v) { o.faults.silentFromPacket = unsignedValue("--silent-from", v, 0xFFFF); }},
        {"--hang-up-at", true,
         [](O& o, S v) { o.faults.hangUpAtPacket = unsignedValue("--hang-up-at", v, 0xFFFF); }},
        {"--come-back", true,
         [](O& o, S v) {
             o.faults.comeBackAfterMs = int(unsignedValue("--come-back", v, 60'000));
         }},
        {"--port-dir", true, [](O& o, S v) { o.portDir = v; }},
        {"--boxes", true,
         [](O& o, S v) { o.station.boxes = int(unsignedValue("--boxes", v, 1000)); }},
        {"--vary", false, [](O& o, S) { o.station.vary = true; }},
        {"--plug-every", true,
         [](O& o, S v) {
             o.station.plugEvery =
                 std::chrono::milliseconds(unsignedValue("--plug-every", v, 3'600'000));
         }},
        {"--unplug-after", true,
         [](O& o, S v) {
             o.station.unplugAfter =
                 std::chrono::milliseconds(unsignedValue("--unplug-after", v, 3'600'000));
         }},
    };
    return rules;
}

Options parse(int argc, char** argv) {
    Options o;
    o.model.store = defaultPresetBlock();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        std::string value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            inlineValue = true;
        }
        const auto& rules = optionRules();
        const auto rule = std::find_if(rules.begin(), rules.end(),
                                       [&](const OptionRule& s) { return arg == s.name; });
        if (rule == rules.end())
            badArgument("unknown option '" + arg + "'");
        if (rule->takesValue && !inlineValue) {
            if (i + 1 >= argc)
                badArgument(arg + " wants a value");
            value = argv[++i];
        } else if (!rule->takesValue && inlineValue) {
            badArgument(arg + " takes no value");
        }
        rule->apply(o, value);
    }
    o.model.version = {o.hardware, 0, o.firmware[0], o.firmware[1]};
    if (o.station.boxes < 1)
        badArgument("--boxes must be at least 1");
    // A terminal of the device side hangs up with its own cable, and holds one box.
    if (!o.tty.empty() &&
        (o.faults.hangUpAtPacket > 0 || o.faults.comeBackAfterMs >= 0 || o.station.boxes > 1 ||
         o.station.plugEvery.count() > 0 || o.station.unplugAfter.count() > 0))
        badArgument(
            "--tty serves one box whose cable is real: no --hang-up-at, --come-back, "
            "--boxes, --plug-every or --unplug-after");
    return o;
}

void logEvent(const std::string& event) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::fprintf(stderr, "veksim %s.%03d %s\n", stamp, int(ms.count() % 1000), event.c_str());
}

// The links in --port-dir: one to the port the box is on now, renamed each time it comes back.
class PortLinks {
  public:
    explicit PortLinks(std::string dir) : dir_(std::move(dir)) {}
    ~PortLinks() { remove(); }
    PortLinks(const PortLinks&) = delete;
    PortLinks& operator=(const PortLinks&) = delete;

    void point(const std::string& port) {
        if (dir_.empty())
            return;
        remove();
        std::error_code error;
        std::filesystem::create_directories(dir_, error);
        current_ = dir_ + "/box" + std::to_string(count_++);
        std::filesystem::create_symlink(port, current_, error);
        if (error)
            logEvent("cannot link " + current_ + ": " + error.message());
    }

    // The box went with its cable: its link goes too, before the port's number can serve another
    // terminal, as a device's node goes with the device.
    void remove() {
        std::error_code error;
        if (!current_.empty())
            std::filesystem::remove(current_, error);
    }

  private:
    std::string dir_;
    std::string current_;
    int count_ = 0;
};

// Several boxes: each port on standard output as its box is plugged in.
int runStation(const Options& options, const sigset_t& signals) {
    StationPlan plan = options.station;
    plan.model = options.model;
    plan.faults = options.faults;
    plan.portDir = options.portDir;
    // Outlives the station, whose destructor still reports the boxes it unplugs.
    static constexpr std::string_view pluggedIn = " plugged in on ";
    SimStation station(plan);
    station.setEventSink([](const std::string& event) {
        logEvent(event);
        if (const auto at = event.find(pluggedIn); at != std::string::npos)
            std::cout << event.substr(at + pluggedIn.size()) << std::endl;
    });
    station.start();
    if (!options.portDir.empty())
        std::cerr << "export VEKTOOL_PORTS=" << options.portDir << std::endl;
    int signal = 0;
    sigwait(&signals, &signal);
    logEvent(std::string("stopped by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    return 0;
}

int run(int argc, char** argv) {
    const Options options = parse(argc, argv);

    // The box's thread inherits the mask, so the signals come to sigwait alone.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (options.station.boxes > 1 || options.station.plugEvery.count() > 0 ||
        options.station.unplugAfter.count() > 0)
        return runStation(options, signals);

    SimBox box(options.model, options.faults, options.tty);
    PortLinks links(options.portDir);
    links.point(box.portPath());
    const std::string cameBack = "came back on ";
    box.setEventSink([&](const std::string& event) {
        logEvent(event);
        if (event.starts_with("hung up"))
            links.remove();
        if (event.starts_with(cameBack)) {
            const std::string port = event.substr(cameBack.size());
            links.point(port);
            std::cout << port << std::endl;
        }
    });
    box.start();
    std::cout << box.portPath() << std::endl;
    std::cerr << "export VEKTOOL_PORTS="
              << (options.portDir.empty() ? box.portPath() : options.portDir) << std::endl;

    int signal = 0;
    sigwait(&signals, &signal);
    box.stop();
    logEvent(std::string("stopped by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    return 0;
}

}  // namespace
}  // namespace vek

int main(int argc, char** argv) {
    try {
        return vek::run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "veksim: " << e.what() << "\n";
        return 1;
    }
}
