// The provisioning station as a bench runs it: vekctl provision against many simulated boxes.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "Vekctl.h"
#include "config/Presets.h"
#include "config/Profile.h"
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
    for (const QJsonObject& v : visits)
        EXPECT_EQ(v["result"].toString(), "interrupted");
    // Every port is free again: each box answers a new visit.
    for (const auto& box : boxes)
        EXPECT_EQ(Vekctl().run({"info", "-p", QString::fromStdString(box->portPath())}).exitCode,
                  0);
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
    ProcessCounts early;
    while (visited() < std::size_t(kPlugIns / 4))
        std::this_thread::sleep_for(20ms);
    early = countsOf(process.processId());
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
