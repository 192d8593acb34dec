// Stations syncing their journals to a history server that dies under them: every visit stored
// exactly once, every chain intact, nothing left behind, and the servicing none the wiser.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <set>
#include <thread>

#include "TempPostgres.h"
#include "Vekhistory.h"
#include "config/Presets.h"
#include "config/Profile.h"
#include "sim/SimStation.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// `vekhistory serve` that the test kills without warning and starts again on the same port.
class KillableHistory {
  public:
    explicit KillableHistory(QString db) : db_(std::move(db)) { start("127.0.0.1:0"); }
    ~KillableHistory() { kill(); }
    void kill() {
        process_.kill();
        process_.waitForFinished();
    }
    void restart() { start("127.0.0.1:" + QString::number(port_)); }
    QString url() const { return "http://127.0.0.1:" + QString::number(port_); }
    int port() const { return port_; }

  private:
    void start(const QString& listen) {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setReadChannel(QProcess::StandardError);
        process_.start(VEKHISTORY_PATH, {"serve", "--db", db_, "--listen", listen});
        static const QRegularExpression listening("ouvindo em http://127\\.0\\.0\\.1:(\\d+)");
        QString said;
        const auto limit = Clock::now() + 20s;
        while (Clock::now() < limit && process_.waitForReadyRead(1000)) {
            said += QString::fromUtf8(process_.readAllStandardError());
            if (const auto match = listening.match(said); match.hasMatch()) {
                port_ = match.captured(1).toInt();
                return;
            }
        }
        throw std::runtime_error(("vekhistory serve did not start: " + said).toStdString());
    }

    QString db_;
    QProcess process_;
    int port_ = 0;
};

struct Station {
    QString name, hub, journal;
    std::unique_ptr<vek::SimStation> boxes;
    QProcess vekctl;
};

qint64 confirmed(const QString& journal) {
    QFile position(journal + ".sync");
    return position.open(QIODevice::ReadOnly) ? position.readAll().trimmed().toLongLong() : 0;
}

class StationSync : public testing::TestWithParam<const char*> {};

TEST_P(StationSync, ThreeStationsLoseNothingWhileTheServerDiesTwice) {
    const bool postgres = std::string(GetParam()) == "postgresql";
    if (postgres && TempPostgres::serverBinaries().isEmpty())
        GTEST_SKIP() << "no PostgreSQL server here (apt-get install postgresql)";
    std::unique_ptr<TempPostgres> cluster;
    QTemporaryDir dir;
    QString db = dir.filePath("history.db");
    if (postgres) {
        cluster = std::make_unique<TempPostgres>();
        db = cluster->url(cluster->createDatabase());
    }
    KillableHistory server(db);
    const QString profile = dir.filePath("fleet.json");
    {
        QFile file(profile);
        file.open(QIODevice::WriteOnly);
        file.write(
            vek::profileJson({"fleet", std::nullopt, vek::presetPanel(vek::trevaloPreset())}));
    }
    constexpr int kStations = 3, kBoxes = 8;
    std::vector<std::unique_ptr<Station>> stations;
    for (int s = 0; s < kStations; ++s) {
        auto station = std::make_unique<Station>();
        station->name = QString("bancada-%1").arg(s);
        station->hub = dir.filePath(station->name);
        station->journal = dir.filePath(station->name + ".jsonl");
        QDir().mkpath(station->hub);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VEKTOOL_PORTS", station->hub);
        environment.insert("VEKCTL_SYNC", server.url());
        station->vekctl.setProcessEnvironment(environment);
        station->vekctl.setStandardOutputFile(QProcess::nullDevice());
        // A test that is killed leaves no station behind, watching ports that others then get.
        station->vekctl.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        station->vekctl.start(
            VEKCTL_PATH, {"provision", "--watch", "--profile", profile, "--record",
                          station->journal, "--station", station->name, "--sync", server.url()});
        vek::SimModel model = vek::fieldBox(36, 50);
        model.id[0] = 0xB0000000u + uint32_t(s);
        station->boxes = std::make_unique<vek::SimStation>(
            vek::StationPlan{.boxes = kBoxes,
                             .plugEvery = 150ms,
                             .unplugAfter = 900ms,
                             .portDir = station->hub.toStdString(),
                             .model = model});
        stations.push_back(std::move(station));
    }
    for (auto& station : stations)
        station->boxes->start();

    // The server dies twice without a word while the boxes come and go; the database restarts.
    std::this_thread::sleep_for(300ms);
    server.kill();
    std::this_thread::sleep_for(400ms);
    server.restart();
    if (cluster)
        cluster->restart();
    std::this_thread::sleep_for(300ms);
    server.kill();
    for (auto& station : stations)
        ASSERT_TRUE(station->boxes->waitUntilDone(30s));
    server.restart();

    // Each station catches up on its own, its journal the truth.
    const auto limit = Clock::now() + 60s;
    for (auto& station : stations) {
        while (confirmed(station->journal) < QFileInfo(station->journal).size() &&
               Clock::now() < limit)
            std::this_thread::sleep_for(100ms);
        EXPECT_EQ(confirmed(station->journal), QFileInfo(station->journal).size())
            << station->name.toStdString() << " has lines the server never confirmed";
        ::kill(pid_t(station->vekctl.processId()), SIGINT);
        ASSERT_TRUE(station->vekctl.waitForFinished(10000));
        EXPECT_EQ(station->vekctl.exitCode(), 0)
            << station->vekctl.readAllStandardError().toStdString();
    }

    httplib::Client client("127.0.0.1", server.port());
    const auto csv = client.Get("/api/v1/visits?format=csv");
    ASSERT_TRUE(csv && csv->status == 200);
    std::set<std::string> visits;
    const QList<QByteArray> rows = QByteArray::fromStdString(csv->body).split('\n');
    for (const QByteArray& row : rows.mid(1))
        if (!row.isEmpty())
            visits.insert(row.left(row.indexOf(',')).toStdString());
    EXPECT_EQ(visits.size(), std::size_t(kStations * kBoxes));
    EXPECT_EQ(rows.size() - 2, kStations * kBoxes) << "a visit stored twice";
    const auto list = client.Get("/api/v1/stations");
    ASSERT_TRUE(list && list->status == 200);
    const QJsonArray known =
        QJsonDocument::fromJson(QByteArray::fromStdString(list->body))["stations"].toArray();
    EXPECT_EQ(known.size(), kStations);
    for (const QJsonValue& station : known)
        EXPECT_TRUE(station["chains_intact"].toBool())
            << station["station"].toString().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Databases, StationSync, testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
