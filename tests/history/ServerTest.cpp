#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "TempPostgres.h"
#include "TestJournal.h"
#include "Vekhistory.h"
#include "server/HistoryServer.h"

namespace {

struct Answer {
    const char* meaning;
    QByteArray line;
    const char* result;
    const char* reason;
};

QString tokenFor(const QString& db, const QString& role, const QString& name) {
    const ProgramRun run =
        runVekhistory({"token", "add", "--db", db, "--role", role, "--name", name});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    return run.out.trimmed();
}

class ServerTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString db = dir.path() + "/history.db";
};

}  // namespace

TEST_F(ServerTest, AnswersEachLineAndKeepsTextVerbatim) {
    const ServedHistory server(db);
    TestJournal journal("bancada-1");
    const QString hostile = "<script>alert(1)</script>'; DROP TABLE visits; -- \"%_\\";
    const QByteArray line = journal.next("0011A2B3-44556677", {{"error", hostile}});
    const std::vector<Answer> rows{
        {"a new line", line, "stored", ""},
        {"the same line again", line, "duplicate", ""},
        {"its visit with other bytes", QByteArray(line).replace("serviced", "failed"), "conflict",
         ""},
        {"a line cut short", line.left(40) + "\n", "refused", "malformed_json"},
        {"invalid UTF-8", journal.next("A1", {{"error", "x"}}).replace("\"x\"", "\"\xff\""),
         "refused", "invalid_utf8"},
        {"a text where a number goes", journal.next("A1", {{"hardware_type", "3"}}), "refused",
         "wrong_type"},
        {"an unknown result", journal.next("A1", {{"result", "ok"}}), "refused", "unknown_result"},
    };
    QByteArray body;
    for (const Answer& row : rows)
        body += row.line;
    const QJsonObject answer = server.post(body);
    ASSERT_EQ(answer.value("status").toInt(), 200);
    const QJsonArray results = answer.value("results").toArray();
    ASSERT_EQ(results.size(), qsizetype(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QJsonObject result = results[qsizetype(i)].toObject();
        EXPECT_EQ(result.value("line").toInt(), int(i) + 1) << rows[i].meaning;
        EXPECT_EQ(result.value("result").toString(), rows[i].result) << rows[i].meaning;
        EXPECT_EQ(result.value("reason").toString(), rows[i].reason) << rows[i].meaning;
    }

    const QJsonObject timeline = server.get("/api/v1/boxes/0011a2b3-44556677");
    const QJsonArray visits = timeline.value("visits").toArray();
    ASSERT_EQ(visits.size(), 1);
    EXPECT_EQ(visits[0].toObject().value("error").toString(), hostile);
    EXPECT_EQ(visits[0].toObject().value("result").toString(), "serviced");
}

TEST_F(ServerTest, StationTokensPostOnlyTheirOwnLinesAndReaderTokensOnlyRead) {
    // Off the loopback address, no token means no start.
    const ProgramRun exposed = runVekhistory({"serve", "--db", db, "--listen", "192.0.2.1:8470"});
    EXPECT_NE(exposed.exitCode, 0);
    EXPECT_TRUE(exposed.err.contains("vekhistory token add")) << exposed.err.toStdString();

    const std::string station = tokenFor(db, "station", "bancada-1").toStdString();
    const std::string reader = tokenFor(db, "reader", "auditoria").toStdString();
    const ServedHistory server(db);
    const QByteArray own = TestJournal("bancada-1").next("A1");
    const QByteArray forged = TestJournal("bancada-2").next("A2");

    EXPECT_EQ(server.post(own).value("status").toInt(), 401);
    EXPECT_EQ(server.post(own, "vkh_guessed").value("status").toInt(), 401);
    EXPECT_EQ(server.post(own, reader).value("status").toInt(), 403);
    const QJsonArray results = server.post(own + forged, station).value("results").toArray();
    EXPECT_EQ(results[0].toObject().value("result").toString(), "stored");
    EXPECT_EQ(results[1].toObject().value("reason").toString(), "forged_station");
    EXPECT_EQ(server.get("/api/v1/boxes", station).value("status").toInt(), 403);
    const QJsonObject boxes = server.get("/api/v1/boxes", reader);
    EXPECT_EQ(boxes.value("status").toInt(), 200);
    EXPECT_EQ(boxes.value("boxes").toArray().size(), 1);
}

TEST_F(ServerTest, ServesOverTlsWithTheGivenCertificate) {
    const QString cert = dir.path() + "/cert.pem", key = dir.path() + "/key.pem";
    ASSERT_EQ(
        QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                                      "/CN=127.0.0.1", "-days", "1", "-keyout", key, "-out", cert}),
        0);
    const ServedHistory server(db, {"--tls-cert", cert, "--tls-key", key});
    EXPECT_EQ(server.post(TestJournal("bancada-1").next("A1")).value("stored").toInt(), 1);
    // Plain HTTP to the TLS port gets no answer.
    EXPECT_FALSE(httplib::Client("127.0.0.1", server.port()).Get("/healthz"));
}

TEST_F(ServerTest, RefusesRequestsBeyondItsBounds) {
    const ServedHistory server(db);
    auto client = server.client();
    const QByteArray line = TestJournal("bancada-1").next("A1");
    EXPECT_EQ(
        client.Post("/api/v1/visits", std::string(9 * 1024 * 1024, '\n'), "application/x-ndjson")
            ->status,
        413);
    EXPECT_EQ(
        client.Post("/api/v1/visits", line.repeated(2001).toStdString(), "application/x-ndjson")
            ->status,
        413);
    EXPECT_EQ(client.Post("/api/v1/visits", line.toStdString(), "text/plain")->status, 415);
    EXPECT_EQ(client.Get("/api/v1/visits?after=not-a-key")->status, 400);
    EXPECT_EQ(client.Get("/api/v1/visits?since=yesterday")->status, 400);
}

TEST_F(ServerTest, AClientTricklingItsRequestIsCutOffWhileOthersAreServed) {
    vek::history::ServerSettings settings;
    settings.db = db;
    settings.port = 0;
    settings.requestTime = std::chrono::seconds(1);
    vek::history::HistoryServer server(settings);
    std::thread serving([&server] { server.run(); });

    const int slow = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(server.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(slow, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string start = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    send(slow, start.data(), start.size(), MSG_NOSIGNAL);
    // A byte at a time, each well within the wait for one read.
    bool cutOff = false;
    for (int i = 0; i < 50 && !cutOff; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        char answer = 0;
        const ssize_t received = recv(slow, &answer, 1, MSG_DONTWAIT);
        cutOff = received == 0 || (received < 0 && errno != EAGAIN) ||
                 send(slow, "x", 1, MSG_NOSIGNAL) != 1;
        if (i == 2) {
            httplib::Client other("127.0.0.1", server.port());
            const auto health = other.Get("/healthz");
            EXPECT_TRUE(health && health->status == 200);
        }
    }
    close(slow);
    EXPECT_TRUE(cutOff);
    server.stop();
    serving.join();
}

TEST_F(ServerTest, CsvHoldsExactlyTheFilteredVisits) {
    const ServedHistory server(db);
    TestJournal bench("bancada-1"), other("bancada-2");
    QSet<QString> expected;
    QByteArray batch;
    for (int i = 0; i < 1300; ++i) {
        const bool failed = i % 13 != 0;
        const QByteArray line = bench.next(QString("00%1").arg(i % 300, 6, 10, QChar('0')),
                                           {{"result", failed ? "failed" : "serviced"}});
        if (failed)
            expected.insert(vek::history::parseJournalLine(line).line.chain.visit);
        batch += line;
        if (i % 500 == 499 || i == 1299) {
            ASSERT_EQ(server.post(batch).value("stored").toInt(), batch.count('\n'));
            batch.clear();
        }
    }
    batch.clear();
    for (int i = 0; i < 20; ++i)
        batch += other.next("00000001", {{"result", "failed"}});
    server.post(batch);

    const auto csv =
        server.client().Get("/api/v1/visits?format=csv&station=bancada-1&result=failed");
    ASSERT_EQ(csv->status, 200);
    QSet<QString> rows;
    const QList<QByteArray> lines = QByteArray::fromStdString(csv->body).split('\n');
    ASSERT_TRUE(lines.first().startsWith("visit,time,"));
    for (const QByteArray& row : lines.mid(1))
        if (!row.isEmpty())
            rows.insert(QString::fromUtf8(row.left(row.indexOf(','))));
    EXPECT_EQ(lines.size() - 2, expected.size()) << "a visit twice or a row too many";
    EXPECT_EQ(rows, expected);
}

TEST_F(ServerTest, CsvFieldsHoldTheLinesTextQuotedWhereTheyMustBe) {
    const ServedHistory server(db);
    QByteArray line =
        TestJournal("bancada-1")
            .next("00AA0001", {{"result", "failed"},
                               {"reason", QString::fromUtf8("tensão, \"baixa\"\nrepita\x01 ✓ 𝄞")},
                               {"stopped_at",
                                QJsonObject{{"step", "gravar"}, {"packet", 7}, {"packets", 12}}}});
    // A character beyond the first plane as another writer may escape it.
    line.replace("𝄞", "\\ud834\\udd1e");
    ASSERT_EQ(server.post(line).value("stored").toInt(), 1);

    const auto csv = server.client().Get("/api/v1/visits?format=csv");
    ASSERT_TRUE(csv && csv->status == 200);
    EXPECT_NE(csv->body.find("\"tensão, \"\"baixa\"\"\nrepita\x01 ✓ 𝄞\",,41.5,update,gravar,7,12,"),
              std::string::npos)
        << csv->body;
}

TEST(TwoServersTest, ShareOnePostgresAndStoreEachVisitExactlyOnce) {
    if (TempPostgres::serverBinaries().isEmpty())
        GTEST_SKIP() << "no PostgreSQL server here (apt-get install postgresql)";
    TempPostgres postgres;
    const QString db = postgres.url(postgres.createDatabase());
    const ServedHistory first(db), second(db);
    constexpr int kStations = 4, kBatches = 5, kLinesPerBatch = 50;
    std::vector<std::vector<QByteArray>> batches(kStations);
    for (int s = 0; s < kStations; ++s) {
        TestJournal journal(QString("bancada-%1").arg(s));
        for (int b = 0; b < kBatches; ++b) {
            QByteArray batch;
            // The stations service the same boxes, so their timelines interleave.
            for (int l = 0; l < kLinesPerBatch; ++l)
                batch += journal.next(QString("00AA%1").arg(l, 4, 10, QChar('0')));
            batches[s].push_back(batch);
        }
    }
    // Each station sends each batch to both servers at once, as a station whose answer was lost
    // and which tries again elsewhere.
    std::atomic<int> stored{0}, duplicates{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < kStations; ++s)
        for (const ServedHistory* server : {&first, &second})
            senders.emplace_back([&, s, server] {
                for (const QByteArray& batch : batches[s]) {
                    const QJsonObject answer = server->post(batch);
                    stored += answer.value("stored").toInt();
                    duplicates += answer.value("duplicate").toInt();
                }
            });
    for (std::thread& sender : senders)
        sender.join();
    constexpr int kVisits = kStations * kBatches * kLinesPerBatch;
    EXPECT_EQ(stored, kVisits);
    EXPECT_EQ(duplicates, kVisits);

    const std::string timeline = "/api/v1/boxes/00AA0007?limit=500";
    EXPECT_EQ(first.get(timeline), second.get(timeline));
    EXPECT_EQ(first.get(timeline).value("visits").toArray().size(), kStations * kBatches);
    for (const QJsonValue& station : first.get("/api/v1/stations").value("stations").toArray())
        EXPECT_TRUE(station.toObject().value("chains_intact").toBool())
            << QJsonDocument(station.toObject()).toJson().toStdString();

    // Their connections outlive a restart of the database.
    postgres.restart();
    TestJournal late("bancada-9");
    EXPECT_EQ(first.post(late.next("00AA0001")).value("stored").toInt(), 1);
    EXPECT_EQ(second.post(late.next("00AA0001")).value("stored").toInt(), 1);
}

TEST_F(ServerTest, ImportTakesJournalsAndSkipsALineACrashCutShort) {
    TestJournal journal("bancada-1");
    QFile file(dir.path() + "/visitas.jsonl");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(journal.next("A1"));
    file.write(R"({"time":"2024-05-01T10:00:00Z","identifier":"A2","res)"
               "\n");  // cut by a crash, closed off by the station
    file.write(journal.next("A1"));
    file.write(R"({"time":"2023-01-01T10:00:00Z","identifier":"A3","result":"failed"})"
               "\n");  // written before the chain
    file.write(journal.next("A1", {{"result", "ok"}}));
    file.close();

    const ProgramRun first =
        runVekhistory({"import", "--db", db, "--station", "bancada-1", file.fileName()});
    EXPECT_EQ(first.exitCode, 1) << "a line refused";
    EXPECT_EQ(first.out.trimmed(), "stored 3, duplicate 0, conflict 0, refused 1, skipped 1");
    const ProgramRun again =
        runVekhistory({"import", "--db", db, "--station", "bancada-1", file.fileName()});
    EXPECT_EQ(again.out.trimmed(), "stored 0, duplicate 3, conflict 0, refused 1, skipped 1");
    const ProgramRun verify = runVekhistory({"verify", "--db", db});
    EXPECT_EQ(verify.exitCode, 0) << verify.out.toStdString();
}
