// Measures the service history at scale: a synthetic history stored through the import path,
// then vekhistory serve under ingest from stations at once, the read API's latencies, and the
// whole history as CSV with the server's memory. Prints its table; not a test, it judges nothing.
#include <httplib.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "history/HistoryStore.h"
#include "tests/history/TempPostgres.h"

using namespace vek::history;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    bool postgres = false;
    QString db;
    int boxes = 100000;
    int visits = 1000000;
    int stations = 40;
    int ingestStations = 8;
    int ingestBatches = 10;  // per ingesting station
    int batch = 500;
    int samples = 200;
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One station's journal: chained lines of synthetic visits.
class SyntheticJournal {
  public:
    explicit SyntheticJournal(const QString& station)
        : station_(station), journal_(QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

    // The history spans the 90 days before the run, as the fleet overview shows them.
    static void spread(int visits) {
        start_ = QDateTime::currentDateTimeUtc().addDays(-90);
        msApart_ = 90.0 * 86400 * 1000 / visits;
    }

    QByteArray next(int box, qint64 second) {
        static const char* const results[] = {"serviced", "serviced", "serviced", "serviced",
                                              "serviced", "serviced", "current",  "failed"};
        const QJsonObject visit{
            {"time",
             start_.addMSecs(qint64(double(second) * msApart_)).toString(Qt::ISODateWithMs)},
            {"tool_version", "2.36"},
            {"port", "ttyUSB0"},
            {"identifier", boxIdentifier(box)},
            {"hardware_type", 3},
            {"firmware_before", "2.30"},
            {"firmware_after", QString("2.3%1").arg(box % 7)},
            {"profile", box % 3 ? "frota" : "locadora"},
            {"block_before", QString(64, 'a')},
            {"block_after", QString(64, 'b')},
            {"actions", QJsonArray{"update", "config"}},
            {"result", results[(box + second) % 8]},
            {"duration_s", 41.5}};
        const QByteArray line =
            buildJournalLine(visit, {QUuid::createUuid().toString(QUuid::WithoutBraces), journal_,
                                     seq_++, prev_, station_, "-03:00"});
        prev_ = lineHash(QByteArrayView(line).chopped(1));
        return line;
    }

    static QString boxIdentifier(int box) {
        return QString("%1-%2")
            .arg(box, 8, 16, QChar('0'))
            .arg(box * 7919, 8, 16, QChar('0'))
            .toUpper();
    }

  private:
    static inline QDateTime start_;
    static inline double msApart_ = 1000;
    QString station_, journal_, prev_;
    qint64 seq_ = 1;
};

void fillThroughImport(const Options& o) {
    HistoryStore store(o.db);
    std::vector<SyntheticJournal> journals;
    for (int s = 0; s < o.stations; ++s)
        journals.emplace_back(QString("bancada-%1").arg(s));
    const auto start = Clock::now();
    std::vector<ParsedLine> pending;
    for (int i = 0; i < o.visits; ++i) {
        pending.push_back(
            parseJournalLine(journals[(i / o.batch) % o.stations].next(i % o.boxes, i)));
        if (int(pending.size()) == o.batch || i + 1 == o.visits) {
            std::vector<HistoryStore::LineFrom> batch;
            for (const ParsedLine& p : pending)
                batch.push_back({&p.line, {}});
            store.ingest(batch);
            pending.clear();
        }
        if ((i + 1) % 100000 == 0)
            std::fprintf(stderr, "  %d visits stored\n", i + 1);
    }
    const double s = secondsSince(start);
    std::printf(
        "synthetic history through the import path: %d visits, %d boxes in %.1f s (%.0f "
        "visits/s)\n",
        o.visits, o.boxes, s, o.visits / s);
}

// vekhistory serve on a free loopback port, with its process for its memory.
class Server {
  public:
    explicit Server(const QString& db) {
        process_.setReadChannel(QProcess::StandardError);
        process_.start(VEK_BENCH_VEKHISTORY, {"serve", "--db", db, "--listen", "127.0.0.1:0"});
        static const QRegularExpression listening("ouvindo em https?://[^ ]*:(\\d+)");
        QString said;
        while (port_ == 0 && process_.waitForReadyRead(30000)) {
            said += QString::fromUtf8(process_.readAllStandardError());
            if (const auto match = listening.match(said); match.hasMatch())
                port_ = match.captured(1).toInt();
        }
        process_.setStandardErrorFile(QProcess::nullDevice());
    }
    ~Server() {
        process_.terminate();
        process_.waitForFinished(20000);
    }
    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(300);
        return c;
    }
    // Resident memory in KiB, from the kernel's account of the process.
    long residentKiB() const {
        QFile status(QString("/proc/%1/status").arg(process_.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLong();
        return 0;
    }

  private:
    QProcess process_;
    int port_ = 0;
};

void ingestOverHttp(const Options& o, const Server& server) {
    std::atomic<int> stored{0};
    const auto start = Clock::now();
    std::vector<std::thread> stations;
    for (int s = 0; s < o.ingestStations; ++s)
        stations.emplace_back([&, s] {
            SyntheticJournal journal(QString("linha-%1").arg(s));
            httplib::Client client = server.client();
            for (int b = 0; b < o.ingestBatches; ++b) {
                std::string body;
                for (int l = 0; l < o.batch; ++l)
                    body += journal
                                .next(QRandomGenerator::global()->bounded(o.boxes),
                                      o.visits + (b * o.batch + l))
                                .toStdString();
                const auto res = client.Post("/api/v1/visits", body, "application/x-ndjson");
                if (res && res->status == 200)
                    stored += o.batch;
            }
        });
    for (std::thread& t : stations)
        t.join();
    const double s = secondsSince(start);
    std::printf(
        "ingest over HTTP, %d stations at once, batches of %d: %d visits in %.1f s = "
        "%.0f visits/s\n",
        o.ingestStations, o.batch, stored.load(), s, stored / s);
}

void latencies(const char* what, const Server& server, int samples,
               const std::function<std::string()>& path) {
    std::vector<double> ms;
    httplib::Client client = server.client();
    int failed = 0;
    for (int i = 0; i < samples; ++i) {
        const std::string p = path();
        const auto start = Clock::now();
        const auto res = client.Get(p.c_str());
        ms.push_back(secondsSince(start) * 1000);
        failed += !res || res->status != 200;
    }
    // The first request apart: it may find what the ones after it find ready.
    const double first = ms.front();
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.1f ms   p95 %7.1f ms   first %7.1f ms   (%d requests%s)\n", what,
                ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)], first,
                samples, failed ? ", some failed" : "");
}

void wholeCsv(const Server& server) {
    const long idle = server.residentKiB();
    std::atomic<long> peak{idle};
    std::atomic<bool> done{false};
    std::thread sampler([&] {
        while (!done) {
            peak = std::max(peak.load(), server.residentKiB());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    long rows = -1;  // the header is no row
    const auto start = Clock::now();
    httplib::Client client = server.client();
    client.Get("/api/v1/visits?format=csv", [&](const char* data, std::size_t size) {
        rows += std::count(data, data + size, '\n');
        return true;
    });
    const double s = secondsSince(start);
    done = true;
    sampler.join();
    std::printf(
        "whole history as CSV: %ld rows in %.1f s = %.0f rows/s; server memory %ld MiB "
        "before, peak %ld MiB (+%ld MiB)\n",
        rows, s, rows / s, idle / 1024, peak / 1024, (peak - idle) / 1024);
}

// A page's bytes as the server sends them.
void pageBytes(const Server& server, const std::string& path) {
    httplib::Client client = server.client();
    const auto res = client.Get(path.c_str());
    std::printf("bytes of %-40s %8zu (status %d)\n", path.substr(0, 40).c_str(),
                res ? res->body.size() : 0, res ? res->status : 0);
}

// The time to the largest paint of each page, measured by headless Chromium.
void largestPaint(const Server& server, const QStringList& paths) {
    std::fflush(stdout);
    QProcess paint;
    paint.setProcessChannelMode(QProcess::ForwardedChannels);
    paint.start("/usr/bin/python3", QStringList{VEK_BENCH_PAGE_PAINT,
                                                QString("http://127.0.0.1:%1").arg(server.port())} +
                                        paths);
    if (!paint.waitForFinished(600000) || paint.exitCode() != 0)
        std::printf(
            "largest paint not measured (chromium, chromium-driver and python3-selenium "
            "installed?)\n");
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QString arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--postgres")
            o.postgres = true;
        else if (arg == "--db" && hasValue)
            o.db = argv[++i];
        else if (arg == "--boxes" && hasValue)
            o.boxes = std::max(1, atoi(argv[++i]));
        else if (arg == "--visits" && hasValue)
            o.visits = std::max(1, atoi(argv[++i]));
        else if (arg == "--ingest-batches" && hasValue)
            o.ingestBatches = std::max(1, atoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "uso: vekhistory-bench [--postgres | --db BANCO] [--boxes N] "
                         "[--visits N] [--ingest-batches N]\n");
            std::exit(2);
        }
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o = parse(argc, argv);
    QTemporaryDir dir;
    std::unique_ptr<TempPostgres> postgres;
    if (o.postgres) {
        postgres = std::make_unique<TempPostgres>();
        o.db = postgres->url(postgres->createDatabase());
    } else if (o.db.isEmpty()) {
        o.db = dir.path() + "/history.db";
    }
    std::printf("vekhistory on %s\n", o.postgres                               ? "PostgreSQL"
                                      : HistoryStore::isPostgresLocation(o.db) ? "PostgreSQL"
                                                                               : "SQLite");
    SyntheticJournal::spread(o.visits);
    fillThroughImport(o);
    const Server server(o.db);
    if (!server.ok()) {
        std::fprintf(stderr, "vekhistory serve did not start\n");
        return 1;
    }
    ingestOverHttp(o, server);
    auto random = [&o] { return QRandomGenerator::global()->bounded(o.boxes); };
    latencies("a box's timeline", server, o.samples, [&] {
        return "/api/v1/boxes/" + SyntheticJournal::boxIdentifier(random()).toStdString() +
               "?limit=500";
    });
    latencies("first page of boxes, failed, by a piece", server, o.samples, [&] {
        return "/api/v1/boxes?result=failed&q=" +
               SyntheticJournal::boxIdentifier(random()).left(6).toStdString();
    });
    latencies("first page of boxes, by firmware", server, o.samples,
              [] { return std::string("/api/v1/boxes?firmware=2.33"); });
    latencies("the station list", server, std::max(10, o.samples / 10),
              [] { return std::string("/api/v1/stations"); });
    const std::string someBox = SyntheticJournal::boxIdentifier(random()).toStdString();
    latencies("page: overview", server, o.samples / 4, [] { return std::string("/"); });
    latencies("page: boxes, failed, by a piece", server, o.samples, [&] {
        return "/caixas?result=failed&q=" +
               SyntheticJournal::boxIdentifier(random()).left(6).toStdString();
    });
    latencies("page: boxes, by firmware", server, o.samples,
              [] { return std::string("/caixas?firmware=2.33"); });
    latencies("page: a box", server, o.samples, [&] {
        return "/caixa?id=" + SyntheticJournal::boxIdentifier(random()).toStdString();
    });
    latencies("page: stations", server, std::max(10, o.samples / 10),
              [] { return std::string("/estacoes"); });
    const std::string boxPage = "/caixa?id=" + someBox;
    for (const std::string& path : {std::string("/"), std::string("/caixas?firmware=2.33"), boxPage,
                                    std::string("/estacoes")})
        pageBytes(server, path);
    largestPaint(server,
                 {"/", "/caixas?firmware=2.33", QString::fromStdString(boxPage), "/estacoes"});
    wholeCsv(server);
    return 0;
}
