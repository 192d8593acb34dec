// The provisioning station as a bench runs it: vekctl provision against many simulated boxes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <QJsonArray>
#include <QSysInfo>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "Vekctl.h"
#include "config/Presets.h"
#include "config/Profile.h"
#include "history/JournalLine.h"
#include "sim/SimStation.h"
#include "transfer/FirmwareImage.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

ConfigBlockBytes blockOf(const PanelValues& panel) {
    return std::get<EncodedConfig>(encodeConfigBlock(panel)).block;
}

// A station's folder with the profile (the Trevalo preset) and the record.
struct Bench {
    QTemporaryDir dir;
    QString profile = dir.filePath("fleet.json");
    QString record = dir.filePath("visits.jsonl");
    Bench() {
        QFile file(profile);
        file.open(QIODevice::WriteOnly);
        file.write(profileJson({"fleet", std::nullopt, presetPanel(trevaloPreset())}));
    }
    std::vector<QJsonObject> visits(int* partial = nullptr) const {
        QFile file(record);
        file.open(QIODevice::ReadOnly);
        const QByteArray all = file.readAll();
        if (partial)
            *partial = !all.isEmpty() && !all.endsWith('\n');
        std::vector<QJsonObject> lines;
        for (const QByteArray& line : all.split('\n'))
            if (!line.isEmpty())
                lines.push_back(QJsonDocument::fromJson(line).object());
        return lines;
    }
};

// Counts of the running process pid.
struct ProcessCounts {
    int descriptors = 0, threads = 0;
    long rssKiB = 0;
};
ProcessCounts countsOf(qint64 pid) {
    ProcessCounts c;
    const std::string proc = "/proc/" + std::to_string(pid);
    for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator(proc + "/fd"))
        ++c.descriptors;
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Threads:"))
            c.threads = std::stoi(line.substr(8));
        if (line.starts_with("VmRSS:"))
            c.rssKiB = std::stol(line.substr(6));
    }
    return c;
}

TEST(Station, EightBoxesInParallelWithTwoFaultyOnesEndRecordedAndTheRestHoldTheirBlocks) {
    std::vector<std::unique_ptr<SimBox>> boxes;
    QStringList arguments{"provision", "--profile", "", "--record", "", "--timeout", "1.5"};
    Bench bench;
    arguments[2] = bench.profile;
    arguments[4] = bench.record;
    {
        // A crash of an earlier run left half a line.
        QFile record(bench.record);
        record.open(QIODevice::WriteOnly);
        record.write("{\"time\":\"2026-12-0");
    }
    for (int k = 0; k < 8; ++k) {
        SimModel model = SimStation::modelOf({.model = fieldBox(30, 100)}, k);
        SimFaults faults;
        if (k == 2)
            faults.hangUpAtPacket = 900;
        if (k == 5)
            model.statusIntervalMs = 3'600'000;  // never a word
        boxes.push_back(std::make_unique<SimBox>(model, faults));
        boxes.back()->start();
        arguments << "-p" << QString::fromStdString(boxes.back()->portPath());
    }
    const Outcome run = Vekctl().run(arguments);
    EXPECT_EQ(run.exitCode, 9) << run.err.toStdString();

    int partial = 0;
    const auto visits = bench.visits(&partial);
    ASSERT_EQ(visits.size(), 9u) << "the partial line and eight visits";
    EXPECT_TRUE(visits.front().isEmpty()) << "the partial line stays unreadable, on its own";
    std::map<std::string, std::string> reasons;
    for (std::size_t i = 1; i < visits.size(); ++i)
        reasons[visits[i]["port"].toString().toStdString()] =
            visits[i]["reason"].toString().toStdString();
    EXPECT_EQ(reasons[boxes[2]->portPath()], "port_lost");
    // What was done up to the unplug is recorded, with where it stopped.
    for (const QJsonObject& v : visits)
        if (v["port"].toString().toStdString() == boxes[2]->portPath()) {
            EXPECT_EQ(v["actions"].toArray(), (QJsonArray{"identify", "upload"}));
            EXPECT_EQ(v["stopped_at"].toObject(),
                      (QJsonObject{{"step", "upload"}, {"packet", 900}, {"packets", 1833}}));
            EXPECT_TRUE(v["error"].toString().startsWith("o Vek foi desconectado no pacote 900"))
                << v["error"].toString().toStdString();
        }
    EXPECT_EQ(reasons[boxes[5]->portPath()], "no_box");
    const auto image = FirmwareImage();
    for (int k : {0, 1, 3, 4, 6, 7}) {
        SCOPED_TRACE(k);
        EXPECT_EQ(reasons[boxes[k]->portPath()], "");
        EXPECT_EQ(boxes[k]->firmwareReceived(), std::vector<uint8_t>(image.begin(), image.end()));
        EXPECT_EQ(boxes[k]->storedConfig(), blockOf(presetPanel(trevaloPreset())));
    }
    const Outcome report = Vekctl().run({"--json", "report", bench.record});
    const QJsonObject totals = QJsonDocument::fromJson(report.out.toUtf8()).object();
    EXPECT_EQ(totals["skipped_lines"].toInt(), 1);
    EXPECT_EQ(totals["totals"].toObject()["serviced"].toInt(), 6);
    EXPECT_EQ(totals["totals"].toObject()["failed"].toInt(), 2);
}

TEST(Station, CtrlCMidRunClosesEveryPortAndRecordsEachStartedVisitAsInterrupted) {
    std::vector<std::unique_ptr<SimBox>> boxes;
    Bench bench;
    QStringList arguments{"provision", "--profile", bench.profile, "--record", bench.record};
    for (int k = 0; k < 8; ++k) {
        boxes.push_back(
            std::make_unique<SimBox>(SimStation::modelOf({.model = fieldBox(30, 100)}, k)));
        boxes.back()->start();
        arguments << "-p" << QString::fromStdString(boxes.back()->portPath());
    }
    QProcess process;
    Vekctl().start(process, arguments);
    const auto limit = Clock::now() + 10s;
    while (boxes[0]->stats().fwPacketsAccepted < 200 && Clock::now() < limit)
        std::this_thread::sleep_for(5ms);
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 130);

    int partial = 0;
    const auto visits = bench.visits(&partial);
    EXPECT_EQ(partial, 0);
    ASSERT_EQ(visits.size(), 8u);
    for (const QJsonObject& v : visits) {
        EXPECT_EQ(v["result"].toString(), "interrupted");
        EXPECT_EQ(v["stopped_at"]["step"].toString(), "upload");
    }
    // Every port is free again: each box answers a new visit.
    for (const auto& box : boxes)
        EXPECT_EQ(Vekctl().run({"info", "-p", QString::fromStdString(box->portPath())}).exitCode,
                  0);
}

// A production line must not service boxes it cannot record: a failed append leaves no fragment
// for the next line to be glued onto, and no visit starts after it.
TEST(Station, ALineIsWholeOrAbsentAndAStationThatCannotRecordStops) {
    Bench bench;
    const QByteArray earlier = R"({"time":"2026-12-09T10:00:00.000Z","result":"current"})"
                               "\n";
    {
        QFile record(bench.record);
        record.open(QIODevice::WriteOnly);
        record.write(earlier);
    }
    std::vector<std::unique_ptr<SimBox>> boxes;
    QStringList arguments{"provision", "--profile", bench.profile, "--record", bench.record,
                          "--jobs",    "1"};
    for (int k = 0; k < 2; ++k) {
        boxes.push_back(std::make_unique<SimBox>(fieldBox(36)));
        boxes.back()->start();
        arguments << "-p" << QString::fromStdString(boxes.back()->portPath());
    }
    // Room for a fragment of the next line only, as on a full disk.
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    rlimit full = unlimited;
    full.rlim_cur = rlim_t(earlier.size() + 40);
    setrlimit(RLIMIT_FSIZE, &full);
    QProcess process;
    Vekctl().start(process, arguments);
    setrlimit(RLIMIT_FSIZE, &unlimited);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 11) << process.readAllStandardError().toStdString();

    QFile record(bench.record);
    record.open(QIODevice::ReadOnly);
    EXPECT_EQ(record.readAll(), earlier);
    EXPECT_EQ(boxes[1]->stats().configReadRequests, 0u) << "a visit began after the failure";
}

// Two stations on one record would interleave anonymous failures; a port that another program
// holds is no box's visit.
TEST(Station, TheRecordBelongsToOneStationAndAPortHeldElsewhereIsNoVisit) {
    Bench bench;
    QProcess first;
    Vekctl().start(first,
                   {"provision", "--watch", "--profile", bench.profile, "--record", bench.record});
    std::this_thread::sleep_for(500ms);
    const Outcome second =
        Vekctl().run({"provision", "--all", "--profile", bench.profile, "--record", bench.record});
    EXPECT_EQ(second.exitCode, 11);
    EXPECT_TRUE(second.err.contains(bench.record + ": o registro está em uso"))
        << second.err.toStdString();
    ::kill(pid_t(first.processId()), SIGINT);
    ASSERT_TRUE(first.waitForFinished(5000));

    SimBox box(fieldBox(36));
    box.start();
    const int holder = ::open(box.portPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const Outcome busy = Vekctl().run({"provision", "--profile", bench.profile, "--record",
                                       bench.record, "-p", QString::fromStdString(box.portPath())});
    ::close(holder);
    EXPECT_EQ(busy.exitCode, 9);
    EXPECT_TRUE(busy.err.contains("em uso por outro programa") ||
                busy.out.contains("em uso por outro programa"))
        << busy.out.toStdString() << busy.err.toStdString();
    EXPECT_TRUE(bench.visits().empty());
}

// udev changes a new node's mode just after the plug-in, and a box may be named by its stable
// link as well as by its node: neither makes another visit.
TEST(Station, APortIsKnownByTheDeviceItLeadsToNotByItsNameOrMode) {
    Bench bench;
    SimBox box(fieldBox(36));
    box.start();
    const QString node = QString::fromStdString(box.portPath());
    const QString link = bench.dir.filePath("by-id-vek");
    ASSERT_TRUE(QFile::link(node, link));
    const Outcome both = Vekctl({node}).run({"provision", "--profile", bench.profile, "--record",
                                             bench.record, "-p", node, "-p", link});
    EXPECT_EQ(both.exitCode, 0) << both.err.toStdString();
    EXPECT_EQ(bench.visits().size(), 1u);

    QProcess watch;
    Vekctl({node}).start(watch, {"provision", "--watch", "--profile", bench.profile, "--record",
                                 bench.record, "-p", link});
    const auto visited = [&](std::size_t n) {
        const auto limit = Clock::now() + 10s;
        while (bench.visits().size() < n && Clock::now() < limit)
            std::this_thread::sleep_for(20ms);
        return bench.visits().size();
    };
    EXPECT_EQ(visited(2), 2u) << "the stable name is watched";
    ::chmod(box.portPath().c_str(), 0660);
    std::this_thread::sleep_for(1s);
    ::kill(pid_t(watch.processId()), SIGINT);
    ASSERT_TRUE(watch.waitForFinished(5000));
    EXPECT_EQ(bench.visits().size(), 2u) << "a change of mode taken for a re-plug";
}

// Sixteen visits ending at once still make one linear chain, which a single command's visit then
// continues; lines written before the chain stay readable.
TEST(Station, TheJournalIsOneChainWhateverWritesToIt) {
    Bench bench;
    const QByteArray legacy = R"({"time":"2026-12-09T10:00:00.000Z","result":"current"})"
                              "\n";
    {
        QFile record(bench.record);
        record.open(QIODevice::WriteOnly);
        record.write(legacy + "{\"time\":\"2026-12-0");  // and a line a crash cut short
    }
    std::vector<std::unique_ptr<SimBox>> boxes;
    QStringList arguments{"provision",  "--profile", bench.profile, "--record",
                          bench.record, "--station", "bancada-3"};
    for (int k = 0; k < 16; ++k) {
        boxes.push_back(std::make_unique<SimBox>(SimStation::modelOf({.model = fieldBox(36)}, k)));
        boxes.back()->start();
        arguments << "-p" << QString::fromStdString(boxes.back()->portPath());
    }
    ASSERT_EQ(Vekctl().run(arguments).exitCode, 0);
    const QString port = QString::fromStdString(boxes[0]->portPath());
    ASSERT_EQ(Vekctl().run({"update", "--force", "-p", port, "--record", bench.record}).exitCode,
              0);

    QFile record(bench.record);
    record.open(QIODevice::ReadOnly);
    const QList<QByteArray> lines = record.readAll().split('\n');
    ASSERT_EQ(lines.size(), 2 + 17 + 1) << "the legacy line, the cut one, the visits, the end";
    QString journal, prev;
    std::set<QString> visits;
    for (qsizetype i = 2; i < lines.size() - 1; ++i) {
        const history::ParsedLine parsed = history::parseJournalLine(lines[i]);
        ASSERT_TRUE(parsed.ok()) << parsed.refusal.message.toStdString();
        const history::ChainFields& chain = parsed.line.chain;
        EXPECT_EQ(chain.seq, i - 1);
        EXPECT_EQ(chain.prev, prev);
        EXPECT_EQ(chain.station, i < 18 ? "bancada-3" : QSysInfo::machineHostName());
        if (journal.isEmpty())
            journal = chain.journal;
        EXPECT_EQ(chain.journal, journal);
        visits.insert(chain.visit);
        prev = parsed.line.hash;
    }
    EXPECT_EQ(visits.size(), 17u);
    const QJsonObject first = QJsonDocument::fromJson(lines[2]).object();
    EXPECT_EQ(first["block_after"].toString().size(), 64);
    const Outcome report = Vekctl().run({"--json", "report", bench.record});
    EXPECT_EQ(QJsonDocument::fromJson(report.out.toUtf8())["visits"].toInt(), 18);
}

// A box that failed and was serviced after it was plugged in again is no longer pending.
TEST(Station, AWatchCountsEachBoxByItsLastVisit) {
    Bench bench;
    const QString hub = bench.dir.filePath("hub");
    QProcess box;
    box.setStandardOutputFile(QProcess::nullDevice());
    box.setStandardErrorFile(QProcess::nullDevice());
    box.start(VEKSIM_PATH, {"--hang-up-at", "900", "--come-back", "300", "--port-dir", hub});
    QProcess watch;
    Vekctl({hub}).start(
        watch, {"provision", "--watch", "--profile", bench.profile, "--record", bench.record});
    const auto limit = Clock::now() + 30s;
    while (bench.visits().size() < 2 && Clock::now() < limit)
        std::this_thread::sleep_for(50ms);
    ::kill(pid_t(watch.processId()), SIGINT);
    ASSERT_TRUE(watch.waitForFinished(5000));
    box.terminate();
    box.waitForFinished();
    const auto visits = bench.visits();
    ASSERT_EQ(visits.size(), 2u);
    EXPECT_EQ(visits[0]["result"].toString(), "failed");
    EXPECT_EQ(visits[1]["result"].toString(), "serviced");
    EXPECT_EQ(watch.exitCode(), 0);
    EXPECT_FALSE(watch.readAllStandardOutput().contains("Pendentes"));
}

// What the table drew on a terminal of columns, as the lines a person sees, escapes left out.
std::vector<std::string> drawnOn(int columns, const QStringList& arguments,
                                 const std::vector<std::string>& environment, bool* coloured) {
    winsize size{};
    size.ws_col = uint16_t(columns);
    size.ws_row = 20;
    int master = -1, slave = -1;
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    std::vector<std::string> args{VEKCTL_PATH};
    for (const QString& a : arguments)
        args.push_back(a.toStdString());
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = environment;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, slave, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, master);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, VEKCTL_PATH, &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(slave);
    std::string drawn;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
        drawn.append(buffer, std::size_t(n));
    ::close(master);
    waitpid(pid, nullptr, 0);
    *coloured = drawn.find("\033[2m") != std::string::npos;  // the footer, always there
    static const std::regex escape("\033\\[[0-9;]*[A-Za-z]");
    std::vector<std::string> lines;
    std::string line;
    for (const char c : std::regex_replace(drawn, escape, "")) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    return lines;
}

TEST(Station, TheTableFitsTheTerminalItIsDrawnOnInColourUnlessAskedNot) {
    Bench bench;
    std::vector<std::unique_ptr<SimBox>> boxes;
    QStringList arguments{"provision", "--profile", bench.profile};
    QStringList ports;
    for (int k = 0; k < 3; ++k) {
        boxes.push_back(std::make_unique<SimBox>(SimStation::modelOf({.model = fieldBox(36)}, k)));
        boxes.back()->start();
        arguments << "-p" << QString::fromStdString(boxes.back()->portPath());
    }
    std::vector<std::string> environment{"PATH=/usr/bin:/bin", "TERM=xterm"};
    bool coloured = false;
    const auto lines = drawnOn(60, arguments, environment, &coloured);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(coloured);
    for (const std::string& line : lines)
        EXPECT_LE(QString::fromStdString(line).size(), 59) << line;
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("0011A2B3-44C5D6E7-8899FA0B") != std::string::npos;
    })) << "the identifier is kept whole";
    environment.push_back("NO_COLOR=1");
    drawnOn(60, arguments, environment, &coloured);
    EXPECT_FALSE(coloured);
}

TEST(Station, NoBoxOnAnyPortIsNoSuccess) {
    Bench bench;
    const Outcome run = Vekctl().run({"provision", "--all", "--profile", bench.profile});
    EXPECT_EQ(run.exitCode, 5) << run.out.toStdString() << run.err.toStdString();
}

// Sanitized builds run several times slower, keep freed memory in quarantine and add threads of
// their own: fewer and longer plug-ins there, and the memory and thread figures unjudged.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(Station, WatchingServicesEachOfManyPlugInsOnceAndLeavesNothingBehind) {
    constexpr int kPlugIns = kSanitized ? 40 : 200;
    Bench bench;
    const QString folder = bench.dir.filePath("hub");
    std::filesystem::create_directories(folder.toStdString());
    QProcess process;
    // Nothing reads its lines while the boxes come and go: a full pipe would hold the station.
    process.setStandardOutputFile(QProcess::nullDevice());
    Vekctl({folder}).start(
        process, {"provision", "--watch", "--profile", bench.profile, "--record", bench.record});
    std::this_thread::sleep_for(300ms);
    const ProcessCounts before = countsOf(process.processId());

    SimStation station({.boxes = kPlugIns,
                        .plugEvery = kSanitized ? 100ms : 30ms,
                        .unplugAfter = kSanitized ? 3000ms : 800ms,
                        .portDir = folder.toStdString(),
                        .model = fieldBox(36, 50)});
    station.start();
    const auto visited = [&] { return bench.visits().size(); };
    const auto firstQuarter = Clock::now() + 60s;
    while (visited() < std::size_t(kPlugIns / 4) && Clock::now() < firstQuarter)
        std::this_thread::sleep_for(20ms);
    ASSERT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().toStdString();
    const ProcessCounts early = countsOf(process.processId());
    ASSERT_TRUE(station.waitUntilDone(60s));
    const auto limit = Clock::now() + 20s;
    while (visited() < std::size_t(kPlugIns) && Clock::now() < limit)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(600ms);  // a rescan after the last unplug
    const ProcessCounts after = countsOf(process.processId());
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

    const auto visits = bench.visits();
    std::set<QString> identifiers;
    for (const QJsonObject& v : visits) {
        EXPECT_EQ(v["result"].toString(), "serviced") << v["error"].toString().toStdString();
        identifiers.insert(v["identifier"].toString());
    }
    EXPECT_EQ(visits.size(), std::size_t(kPlugIns));
    EXPECT_EQ(identifiers.size(), std::size_t(kPlugIns));
    EXPECT_EQ(after.descriptors, before.descriptors);
    if (!kSanitized) {
        EXPECT_EQ(after.threads, before.threads);
    }
    std::printf(
        "[ figures  ] resident memory: %ld KiB idle, %ld KiB after %d visits, %ld KiB "
        "after %d\n",
        before.rssKiB, early.rssKiB, kPlugIns / 4, after.rssKiB, kPlugIns);
    if (!kSanitized) {
        EXPECT_LT(after.rssKiB - early.rssKiB, 2048) << "memory grows with the visits";
    }
}

}  // namespace
}  // namespace vek::testing
