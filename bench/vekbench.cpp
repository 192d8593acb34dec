// Measures the link's flows through the real window against a blocking loop, and the start-up of
// the tool against an empty Qt window. Prints its tables; not a test, it judges nothing.
#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/EventLoop.h"
#include "bench/Flows.h"
#include "bench/Startup.h"
#include "sim/SimBox.h"

namespace vek::bench {
namespace {

constexpr double kUploadWireLimitS = 0.36;  // the image's own time on the line

struct Options {
    int runs = 5;
    std::string tool = VEK_BENCH_TOOL;
    std::string minimal = VEK_BENCH_MINIMAL;
    std::string oneLabel = VEK_BENCH_ONE_LABEL;
    std::string vekctl = VEK_BENCH_VEKCTL;
    bool startup = true;
    bool flows = true;
    bool bare = true;  // off: the window's flows alone, for a profiler
    bool station = true;
    // The station tables' box counts; one box, which the others are measured against, always.
    std::vector<int> boxCounts{1, 4, 8, 16, 32, 64};
    bool sync = true;  // the station with and without its history server
};

// "1,64" as counts, one box included; exits on anything else.
std::vector<int> countsOf(const std::string& list) {
    std::vector<int> counts{1};
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const int count = std::atoi(list.substr(at, comma - at).c_str());
        if (count < 1) {
            std::fprintf(stderr, "vekbench: --boxes wants counts such as 1,16,64\n");
            std::exit(2);
        }
        counts.push_back(count);
        at = comma + 1;
    }
    std::sort(counts.begin(), counts.end());
    counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
    return counts;
}

Options parse(int argc, char* argv[]) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--runs" && hasValue) {
            o.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--tool" && hasValue) {
            o.tool = argv[++i];
        } else if (arg == "--minimal" && hasValue) {
            o.minimal = argv[++i];
        } else if (arg == "--vekctl" && hasValue) {
            o.vekctl = argv[++i];
        } else if (arg == "--one-label" && hasValue) {
            o.oneLabel = argv[++i];
        } else if (arg == "--no-startup") {
            o.startup = false;
        } else if (arg == "--no-station") {
            o.station = false;
        } else if (arg == "--boxes" && hasValue) {
            o.boxCounts = countsOf(argv[++i]);
            o.sync = false;
        } else if (arg == "--station-only") {
            o.flows = o.startup = false;
        } else if (arg == "--startup-only") {
            o.flows = false;
        } else if (arg == "--window-only") {
            o.bare = false;
            o.startup = false;
        } else {
            std::fprintf(
                stderr,
                "usage: vekbench [--runs N] [--tool PATH] [--minimal PATH] [--one-label PATH] "
                "[--vekctl PATH] "
                "[--no-startup | --startup-only | --window-only] [--no-station | "
                "--station-only] [--boxes N,M,... (the station's counts, without the sync)]\n");
            std::exit(2);
        }
    }
    return o;
}

// The runs of one flow or one program that succeeded, and the first failure of the others.
template <typename Figures>
struct Series {
    std::vector<Figures> runs;
    std::string failure;
    void add(const Figures& run) {
        if (run.ok)
            runs.push_back(run);
        else if (failure.empty())
            failure = run.failure;
    }
    template <typename Field>
    Spread of(Field field) const {
        std::vector<double> values;
        for (const Figures& r : runs)
            values.push_back(field(r));
        return spreadOf(values);
    }
};

struct FlowSeries : Series<RunFigures> {
    Spread wall() const {
        return of([](const RunFigures& r) { return r.wallS; });
    }
    Spread cpu() const {
        return of([](const RunFigures& r) { return r.cpuS; });
    }
    double switchesPerExchange() const {
        return of([](const RunFigures& r) { return double(r.switches) / r.exchanges; }).median;
    }
    int exchanges() const { return runs.empty() ? 0 : runs.front().exchanges; }
    double wire() const { return runs.empty() ? 0 : wireSeconds(runs.front().wireBytes); }
};

void printFlowRow(const char* flow, const char* how, const FlowSeries& s, const FlowSeries* bare) {
    if (s.runs.empty()) {
        std::printf("%-15s %-7s FAILED: %s\n", flow, how, s.failure.c_str());
        return;
    }
    const Spread wall = s.wall();
    const Spread cpu = s.cpu();
    char ratio[16] = "";
    if (bare && !bare->runs.empty())
        std::snprintf(ratio, sizeof ratio, "%.2f", wall.median / bare->wall().median);
    std::printf("%-15s %-7s %5d %9.1f %8.1f-%-8.1f %9.1f %9.1f %8.2f %9.1f %7s %9.4f %6.2f\n", flow,
                how, s.exchanges(), wall.median * 1e3, wall.min * 1e3, wall.max * 1e3,
                wall.median / s.exchanges() * 1e6, cpu.median * 1e3, cpu.median / wall.median,
                s.switchesPerExchange(), ratio, s.wire(), wall.median / s.wire());
    if (!s.failure.empty())
        std::printf("%-15s %-7s (a run failed: %s)\n", "", "", s.failure.c_str());
}

void runFlows(const Options& o) {
    FlowSeries bareUpload, windowUploads, cliUploads, bareRead, windowRead, bareWrite, windowWrite;
    std::vector<double> infoTimes;
    for (int r = 0; r < o.runs; ++r) {
        // Interleaved, so that a drift of the machine's load hits both sides alike.
        if (o.bare) {
            bareUpload.add(bareRun(Flow::FirmwareUpload));
            cliUploads.add(cliUpload());
            infoTimes.push_back(cliInfoAfterFirstStatus(o.vekctl));
        }
        windowUploads.add(windowUpload());
        if (o.bare) {
            bareRead.add(bareRun(Flow::ConfigRead));
            bareWrite.add(bareRun(Flow::ConfigWrite));
        }
        const ConfigRunFigures config = windowConfigReadAndWrite();
        windowRead.add(config.read);
        windowWrite.add(config.write);
        std::fprintf(stderr, "run %d of %d done\n", r + 1, o.runs);
    }

    std::printf("\nLink flows against the simulated box on a pseudo-terminal, no added delay\n");
    std::printf(
        "%d runs each, %u cores; times in ms unless marked; window = the real window "
        "offscreen, bare = blocking write/read loop\n",
        o.runs, std::thread::hardware_concurrency());
    std::printf("%-15s %-7s %5s %9s %17s %9s %9s %8s %9s %7s %9s %6s\n", "flow", "path", "exch",
                "wall med", "wall min-max", "us/exch", "cpu med", "cpu/wall", "csw/exch", "vs bare",
                "line s", "vs line");
    for (const auto& [flow, bare, window] :
         {std::tuple{"firmware upload", &bareUpload, &windowUploads},
          std::tuple{"config read", &bareRead, &windowRead},
          std::tuple{"config write", &bareWrite, &windowWrite}}) {
        if (o.bare)
            printFlowRow(flow, "bare", *bare, nullptr);
        printFlowRow(flow, "window", *window, bare);
        if (o.bare && window == &windowUploads)
            printFlowRow(flow, "vekctl", cliUploads, bare);
    }
    std::printf(
        "line s: the flow's own time on the 3,686,400 baud line (the image's: %.2f s "
        "limit); cpu: the whole process, box thread included; csw: context switches\n",
        kUploadWireLimitS);
    if (!windowUploads.runs.empty() && !bareUpload.runs.empty()) {
        const double window = windowUploads.wall().median;
        const double bare = bareUpload.wall().median;
        std::printf(
            "upload targets: window <= 2 x bare: %.2f x (%s); window < 0.09 s: %.3f s "
            "(%s)\n",
            window / bare, window <= 2 * bare ? "met" : "NOT met", window,
            window < 0.09 ? "met" : "NOT met");
    }
    if (!cliUploads.runs.empty() && !bareUpload.runs.empty()) {
        const double ratio = cliUploads.wall().median / bareUpload.wall().median;
        std::printf("vekctl upload target: <= 1.2 x bare: %.2f x (%s)\n", ratio,
                    ratio <= 1.2 ? "met" : "NOT met");
    }
    if (std::erase_if(infoTimes, [](double s) { return s < 0; }) > 0)
        std::printf("vekctl info: a run failed\n");
    if (!infoTimes.empty()) {
        const Spread info = spreadOf(infoTimes);
        std::printf(
            "vekctl info, from the box's first status to the exit: %.3f s median (%.3f-%.3f); "
            "target within 1.2 s: %s\n",
            info.median, info.min, info.max, info.max <= 1.2 ? "met" : "NOT met");
    }
}

struct StartupSeries : Series<StartupFigures> {
    const char* name;
    const std::string* program;

    StartupSeries(const char* name, const std::string* program) : name(name), program(program) {}
    Spread shown() const {
        return of([](const StartupFigures& f) { return f.shownS; });
    }
    Spread peakKiB() const {
        return of([](const StartupFigures& f) { return double(f.peakKiB); });
    }
};

void printStartupRow(const StartupSeries& s) {
    if (s.runs.empty()) {
        std::printf("%-16s FAILED: %s\n", s.name, s.failure.c_str());
        return;
    }
    const Spread shown = s.shown();
    const double cpu = s.of([](const StartupFigures& f) { return f.cpuS; }).median;
    std::printf("%-16s %9.1f %8.1f-%-8.1f %9.1f %10.1f\n", s.name, shown.median * 1e3,
                shown.min * 1e3, shown.max * 1e3, cpu * 1e3, s.peakKiB().median / 1024);
}

void runStartup(const Options& o) {
    // The port list has one entry to fill: a simulated box's port.
    SimBox box;
    box.start();
    const std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen",
                                       "VEKTOOL_PORTS=" + box.portPath()};
    std::array series{StartupSeries("vektool", &o.tool),
                      StartupSeries("empty Qt window", &o.minimal),
                      StartupSeries("one-label window", &o.oneLabel)};
    // One start of each first, to fill the caches; not counted.
    for (const StartupSeries& s : series)
        startOnce(*s.program, env);
    for (int r = 0; r < o.runs; ++r) {
        for (StartupSeries& s : series)
            s.add(startOnce(*s.program, env));
    }
    std::printf(
        "\nStart-up: from the spawn to the window shown with the port list filled "
        "(offscreen), %d runs each, median\n",
        o.runs);
    std::printf("%-16s %9s %17s %9s %10s\n", "program", "shown ms", "shown min-max", "cpu ms",
                "peak MiB");
    for (const StartupSeries& s : series)
        printStartupRow(s);
    const auto& [tool, empty, oneLabel] = series;
    if (tool.runs.empty() || empty.runs.empty())
        return;
    const double ratio = tool.shown().median / empty.shown().median;
    const double extraMiB = (tool.peakKiB().median - empty.peakKiB().median) / 1024;
    std::printf(
        "start-up targets: time <= 1.3 x: %.2f x (%s); peak memory <= +15 MiB: "
        "%+.1f MiB (%s)\n",
        ratio, ratio <= 1.3 ? "met" : "NOT met", extraMiB, extraMiB <= 15 ? "met" : "NOT met");
    // The part of the gap that any window with text pays, and what is the tool's own.
    if (!oneLabel.runs.empty())
        std::printf(
            "one line of text costs %+.1f ms over the empty window; vektool is %.2f x "
            "the one-label window\n",
            (oneLabel.shown().median - empty.shown().median) * 1e3,
            tool.shown().median / oneLabel.shown().median);
}

// The station journaling its visits with and without --sync to a history server on this machine
// (SQLite): the sync's thread must not slow the servicing.
void syncAgainstNone(const Options& o) {
    constexpr int kBoxes = 8;
    QTemporaryDir dir;
    QProcess server;
    server.setReadChannel(QProcess::StandardError);
    server.start(VEK_BENCH_VEKHISTORY,
                 {"serve", "--db", dir.filePath("history.db"), "--listen", "127.0.0.1:0"});
    QString said;
    static const QRegularExpression listening("http://127\\.0\\.0\\.1:\\d+");
    while (!listening.match(said).hasMatch() && server.waitForReadyRead(10000))
        said += QString::fromUtf8(server.readAllStandardError());
    const std::string url = listening.match(said).captured().toStdString();
    if (url.empty()) {
        std::printf("sync: vekhistory serve did not start: %s\n", qPrintable(said));
        return;
    }
    Series<StationFigures> with, without;
    for (int r = 0; r < o.runs; ++r) {
        const std::string journal = dir.filePath(QString("journal-%1.jsonl").arg(r)).toStdString();
        without.add(provisionRun(kBoxes, o.vekctl, journal + ".alone"));
        with.add(provisionRun(kBoxes, o.vekctl, journal, url));
    }
    server.terminate();
    server.waitForFinished();
    if (with.runs.empty() || without.runs.empty()) {
        std::printf("sync: FAILED: %s%s\n", with.failure.c_str(), without.failure.c_str());
        return;
    }
    const auto wallOf = [](const StationFigures& f) { return f.wallS; };
    const double synced = with.of(wallOf).median, alone = without.of(wallOf).median;
    const double extra = (synced / alone - 1) * 100;
    std::printf(
        "sync: %d boxes journaled, median wall %.2f s with --sync to vekhistory (SQLite) against "
        "%.2f s without: %+.1f %% (target within 2 %%: %s)\n",
        kBoxes, synced, alone, extra, std::abs(extra) <= 2 ? "met" : "NOT met");
}

// One table of the station's figures for box counts against one box; the median wall of the
// given count against one.
double stationTable(const Options& o, int pauseMs, std::span<const int> counts) {
    std::map<int, Series<StationFigures>> series;
    for (int r = 0; r < o.runs; ++r)
        for (const int boxes : counts)
            series[boxes].add(provisionRun(boxes, o.vekctl, {}, {}, pauseMs));
    std::printf(
        "\nProvisioning with vekctl provision: each box needs the whole upload (1,833 packets), "
        "the write (44) and the verify (5), every reply 1 ms late; the box pauses %d ms before it "
        "reports its new firmware; %d runs each, median\n",
        pauseMs, o.runs);
    std::printf("%5s %9s %15s %9s %13s %13s %12s\n", "boxes", "wall s", "wall min-max", "vs one",
                "cpu ms/visit", "boxes' cpu s", "visits/hour");
    const auto wallOf = [](const StationFigures& f) { return f.wallS; };
    const double one = series[1].runs.empty() ? 0 : series[1].of(wallOf).median;
    for (const int boxes : counts) {
        const auto& s = series[boxes];
        if (s.runs.empty()) {
            std::printf("%5d FAILED: %s\n", boxes, s.failure.c_str());
            continue;
        }
        const Spread wall = s.of(wallOf);
        const double cpu = s.of([](const StationFigures& f) { return f.cpuS; }).median;
        const double boxesCpu = s.of([](const StationFigures& f) { return f.boxesCpuS; }).median;
        std::printf("%5d %9.2f %7.2f-%-7.2f %9.2f %13.1f %13.2f %12.0f\n", boxes, wall.median,
                    wall.min, wall.max, one > 0 ? wall.median / one : 0, cpu / boxes * 1e3,
                    boxesCpu, boxes * 3600 / wall.median);
    }
    const int most = counts.back();
    const double ratio =
        one > 0 && !series[most].runs.empty() ? series[most].of(wallOf).median / one : 0;
    std::printf("station target: %d boxes <= 1.3 x one: %.2f x (%s)\n", most, ratio,
                ratio > 0 && ratio <= 1.3 ? "met" : "NOT met");
    return ratio;
}

void runStation(const Options& o) {
    stationTable(o, 1000, o.boxCounts);
    // The same with no pause, so that a fixed wait does not flatter the ratio.
    stationTable(o, 0, o.boxCounts);
    if (o.sync)
        syncAgainstNone(o);
}

}  // namespace
}  // namespace vek::bench

int main(int argc, char* argv[]) {
    const vek::bench::Options options = vek::bench::parse(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    const bool loopChosenHere = !qEnvironmentVariableIsSet("QT_NO_GLIB");
    vek::useQtEventLoop();  // the window's flows on the loop the tool runs
    QApplication app(qtArgc, argv);
    // The start-up yardsticks keep Qt's default loop; the tool chooses its own.
    if (loopChosenHere)
        qunsetenv("QT_NO_GLIB");
    if (options.flows)
        vek::bench::runFlows(options);
    if (options.startup)
        vek::bench::runStartup(options);
    if (options.station)
        vek::bench::runStation(options);
    return 0;
}
