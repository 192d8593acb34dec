#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "TempPostgres.h"
#include "TestJournal.h"
#include "history/HistorySchema.h"
#include "history/HistoryStore.h"

using namespace vek::history;

namespace {

enum class Backend { Sqlite, Postgres };

JournalLine parsed(const QByteArray& bytes) {
    const ParsedLine line = parseJournalLine(bytes);
    EXPECT_TRUE(line.ok()) << line.refusal.message.toStdString();
    return line.line;
}

// The same behaviour on both databases: each test gets a new, empty one.
class StoreTest : public ::testing::TestWithParam<Backend> {
  protected:
    static void TearDownTestSuite() { postgres.reset(); }

    void SetUp() override {
        if (GetParam() == Backend::Sqlite) {
            location = sqliteDir.path() + "/history.db";
            return;
        }
        if (TempPostgres::serverBinaries().isEmpty())
            GTEST_SKIP() << "no PostgreSQL server here (apt-get install postgresql)";
        if (!postgres)
            postgres = std::make_unique<TempPostgres>();
        database = postgres->createDatabase();
        location = postgres->url(database);
    }

    // SQL straight to the database as its owner, past the store; the error, empty on success.
    QString executeAsOwner(const QString& sql) {
        if (GetParam() == Backend::Postgres)
            return postgres->execute(database, sql);
        QString error;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "owner");
            db.setDatabaseName(location);
            db.open();
            if (QSqlQuery query(db); !query.exec(sql))
                error = query.lastError().text();
        }
        QSqlDatabase::removeDatabase("owner");
        return error;
    }

    static inline std::unique_ptr<TempPostgres> postgres;
    QTemporaryDir sqliteDir;
    QString database, location;
};

}  // namespace

TEST_P(StoreTest, StoresEachVisitOnceAndKeepsConflictsAside) {
    HistoryStore store(location);
    TestJournal journal("bancada-1");
    const QByteArray original = journal.next("0011A2B3-44556677");
    const JournalLine line = parsed(original);
    JournalLine altered = parsed(QByteArray(original).replace("serviced", "failed"));

    EXPECT_EQ(store.ingest(line, ""), IngestOutcome::Stored);
    EXPECT_EQ(store.ingest(line, ""), IngestOutcome::Duplicate);
    EXPECT_EQ(store.ingest(altered, ""), IngestOutcome::Conflict);
    EXPECT_EQ(store.ingest(altered, ""), IngestOutcome::Conflict);

    HistoryFilter box;
    box.identifier = "0011a2b344556677";
    const std::vector<StoredVisit> visits = store.visits(box, {}, 10, true);
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_EQ(visits[0].line + "\n", original);
    EXPECT_EQ(store.conflicts(line.chain.visit), std::vector<QByteArray>{altered.bytes});
    EXPECT_EQ(store.boxes({}, {}, 10)[0].result, "serviced");
}

TEST_P(StoreTest, EachLineOfABatchIsAnsweredAsIfItCameAloneAndItsChainFollowed) {
    HistoryStore store(location);
    TestJournal journal("bancada-1");
    const JournalLine before = parsed(journal.next("B0"));
    ASSERT_EQ(store.ingest(before, ""), IngestOutcome::Stored);
    // Lines enough for statements of several sizes, then lines for visits already known.
    std::vector<JournalLine> lines;
    for (int i = 0; i < 300; ++i)
        lines.push_back(parsed(journal.next(QString("B%1").arg(i % 40))));
    lines.push_back(lines[5]);
    lines.push_back(parsed(QByteArray(lines[7].bytes).replace("serviced", "failed")));
    lines.push_back(before);
    lines.push_back(parsed(QByteArray(before.bytes).replace("serviced", "failed")));
    std::vector<HistoryStore::LineFrom> batch;
    for (const JournalLine& line : lines)
        batch.push_back({&line, ""});

    const std::vector<IngestOutcome> outcomes = store.ingest(batch);
    ASSERT_EQ(outcomes.size(), lines.size());
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.begin() + 300, IngestOutcome::Stored), 300);
    EXPECT_EQ(std::vector(outcomes.begin() + 300, outcomes.end()),
              (std::vector{IngestOutcome::Duplicate, IngestOutcome::Conflict,
                           IngestOutcome::Duplicate, IngestOutcome::Conflict}));
    EXPECT_EQ(store.visits({}, {}, 500, true).size(), 301u);
    EXPECT_EQ(store.conflicts(lines[7].chain.visit), std::vector<QByteArray>{lines[301].bytes});
    ASSERT_TRUE(store.stations()[0].journals[0].intact());
    // A line that names no line of the journal, after a chain known intact to its end.
    QByteArray forged = journal.next("B1");
    const QString prev = parsed(forged).chain.prev;
    store.ingest(parsed(forged.replace(prev.toLatin1(), QByteArray(64, 'c'))), "");
    EXPECT_EQ(store.stations()[0].journals[0].breaks, std::vector<qint64>{302});
}

TEST_P(StoreTest, AVersion2DatabaseIsMigratedAndItsBoxesFoundByAPiece) {
    for (int from = 0; from < 2; ++from)
        for (const QString& statement : migrationStatements(from, GetParam() == Backend::Postgres))
            ASSERT_EQ(executeAsOwner(statement), QString());
    ASSERT_EQ(executeAsOwner("UPDATE schema_version SET version = 2"), QString());
    ASSERT_EQ(executeAsOwner("INSERT INTO boxes VALUES ('0011A2B344556677', '0011A2B3-44556677',"
                             " '2024-01-01T00:00:00.000Z', 'v1', 'bancada-1', '2.31', 'frota',"
                             " 'serviced')"),
              QString());

    // The server's own role, let in as the previous program let it, stores new boxes too.
    QString serverLocation = location;
    if (GetParam() == Backend::Postgres) {
        for (const char* statement :
             {"CREATE ROLE vekapp2 LOGIN", "GRANT SELECT, INSERT ON visits, conflicts TO vekapp2",
              "GRANT SELECT, INSERT, UPDATE ON boxes, journals, stations TO vekapp2",
              "GRANT SELECT ON tokens, schema_version TO vekapp2"})
            ASSERT_EQ(executeAsOwner(statement), QString());
        serverLocation = postgres->url(database, "vekapp2");
    }

    { HistoryStore owner(location); }
    HistoryStore store(serverLocation);
    store.ingest(parsed(TestJournal("bancada-1").next("0099A2B3-00000000")), "");
    HistoryFilter search;
    search.search = "a2b3";
    EXPECT_EQ(store.boxes(search, {}, 10).size(), 2u);
}

TEST_P(StoreTest, FindsGapsAndBreaksInAJournalsChain) {
    HistoryStore store(location);
    TestJournal journal("bancada-1");
    store.ingest(parsed(journal.next("A1")), "");
    const QByteArray second = journal.next("A1");
    store.ingest(parsed(second), "");
    ASSERT_TRUE(store.stations()[0].journals[0].intact());
    // A second line for a seq already found intact: another visit written in its place.
    const QString visit = parsed(second).chain.visit;
    store.ingest(parsed(QByteArray(second).replace(visit.toLatin1(),
                                                   "0e0e0e0e-0000-4000-8000-000000000000")),
                 "");
    journal.skip();
    journal.skip();
    store.ingest(parsed(journal.next("A1")), "");
    // A line whose prev names no line of this journal: rewritten or forged.
    QByteArray forged = journal.next("A1");
    const QString prev = parsed(forged).chain.prev;
    store.ingest(parsed(forged.replace(prev.toLatin1(), QByteArray(64, 'c'))), "");

    const std::vector<StationState> stations = store.stations();
    ASSERT_EQ(stations.size(), 1u);
    ASSERT_EQ(stations[0].journals.size(), 1u);
    const JournalState& chain = stations[0].journals[0];
    EXPECT_FALSE(chain.intact());
    ASSERT_EQ(chain.missing.size(), 1u);
    EXPECT_EQ(chain.missing[0].first, 3);
    EXPECT_EQ(chain.missing[0].last, 4);
    EXPECT_EQ(chain.breaks, (std::vector<qint64>{2, 6}));
    EXPECT_EQ(chain.lastSeq, 6);
    EXPECT_EQ(store.verify().brokenJournals.size(), 1u);
}

TEST_P(StoreTest, TheServersConnectionCannotChangeOrRemoveAVisit) {
    QString serverLocation = location;
    {
        HistoryStore owner(location);
        owner.ingest(parsed(TestJournal("bancada-1").next("A1")), "");
        if (GetParam() == Backend::Postgres) {
            ASSERT_EQ(postgres->execute(database, "CREATE ROLE vekapp LOGIN"), QString());
            owner.grantServerRole("vekapp");
            serverLocation = postgres->url(database, "vekapp");
        }
    }
    HistoryStore server(serverLocation);
    EXPECT_FALSE(server.roleMayChangeVisits());
    server.ingest(parsed(TestJournal("bancada-2").next("A2")), "");
    EXPECT_EQ(server.visits({}, {}, 10, true).size(), 2u);
    std::vector<QString> changes{"UPDATE visits SET result = 'failed'", "DELETE FROM visits"};
    if (GetParam() == Backend::Postgres)
        changes.push_back("TRUNCATE visits");
    for (const QString& change : changes) {
        const QString asServer = GetParam() == Backend::Postgres
                                     ? postgres->execute(database, change, "vekapp")
                                     : executeAsOwner(change);
        EXPECT_FALSE(asServer.isEmpty()) << change.toStdString();
        // The owner is stopped too, by the trigger.
        EXPECT_FALSE(executeAsOwner(change).isEmpty()) << change.toStdString();
    }
    EXPECT_EQ(server.visits({}, {}, 10, true).size(), 2u);
}

TEST_P(StoreTest, VerifyFindsALineAlteredInTheDatabaseByItsOwner) {
    HistoryStore store(location);
    TestJournal journal("bancada-1");
    store.ingest(parsed(journal.next("A1")), "");
    store.ingest(parsed(journal.next("A1", {{"result", "failed"}})), "");
    EXPECT_TRUE(store.verify().altered.empty());

    const QString disable = GetParam() == Backend::Postgres
                                ? "ALTER TABLE visits DISABLE TRIGGER visits_append_only"
                                : "DROP TRIGGER visits_no_update";
    ASSERT_EQ(executeAsOwner(disable), QString());
    ASSERT_EQ(executeAsOwner("UPDATE visits SET result = 'serviced' WHERE result = 'failed'"),
              QString());
    VerifyReport report = store.verify();
    ASSERT_EQ(report.altered.size(), 1u);
    EXPECT_EQ(report.lines, 2);
}

TEST_P(StoreTest, ASchemaNewerThanTheProgramIsRefused) {
    { HistoryStore store(location); }
    ASSERT_EQ(executeAsOwner("UPDATE schema_version SET version = 99"), QString());
    try {
        HistoryStore store(location);
        FAIL() << "opened a schema newer than its own";
    } catch (const StoreError& error) {
        EXPECT_NE(std::string(error.what()).find("mais novo"), std::string::npos) << error.what();
    }
}

TEST_P(StoreTest, BoxesAreFoundByAPieceOfTheirIdentifierAndPagedByKey) {
    HistoryStore store(location);
    TestJournal journal("bancada-1");
    for (int i = 0; i < 5; ++i)
        store.ingest(parsed(journal.next(QString("0011A2B3-4455667%1").arg(i))), "");
    store.ingest(parsed(journal.next("0099FFFF-00000000", {{"result", "failed"}})), "");

    HistoryFilter search;
    search.search = "a2b34455";
    std::vector<QString> found;
    PageKey after;
    for (int pages = 0; pages < 10; ++pages) {
        const std::vector<BoxState> page = store.boxes(search, after, 2);
        for (const BoxState& box : page)
            found.push_back(box.identifier);
        if (page.size() < 2)
            break;
        after = {page.back().lastTime, page.back().lastVisit};
    }
    EXPECT_EQ(found,
              (std::vector<QString>{"0011A2B3-44556674", "0011A2B3-44556673", "0011A2B3-44556672",
                                    "0011A2B3-44556671", "0011A2B3-44556670"}));
    HistoryFilter failed;
    failed.result = "failed";
    ASSERT_EQ(store.boxes(failed, {}, 10).size(), 1u);
    HistoryFilter wildcard;
    wildcard.search = "%";
    EXPECT_TRUE(store.boxes(wildcard, {}, 10).empty());
}

INSTANTIATE_TEST_SUITE_P(Databases, StoreTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) {
                             return info.param == Backend::Sqlite ? "SQLite" : "PostgreSQL";
                         });
