#pragma once

#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "history/JournalLine.h"

class QSqlQuery;

namespace vek::history {

// Why the database cannot be used, in words that say what to do next.
class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The schema this program reads and writes; a database made by a newer program is refused.
constexpr int kSchemaVersion = 5;

enum class IngestOutcome { Stored, Duplicate, Conflict };
const char* outcomeName(IngestOutcome outcome);

// Where a page ends: lists are paged by (time, visit), never by offset.
struct PageKey {
    QString time, visit;
    bool isEmpty() const { return visit.isEmpty(); }
    QString toToken() const;
    static std::optional<PageKey> fromToken(const QString& token);  // nullopt: not ours
};

// Filters shared by the box list and the visit list; empty means any.
struct HistoryFilter {
    QString search;  // a piece of the box's identifier, dashes or not
    QString identifier;
    QString firmware, profile, result, station;
    QString since, until;  // UTC times as stored: since <= time < until
};

struct BoxState {
    QString identifier, lastTime, lastVisit, station, firmware, profile, result;
};

struct StoredVisit {
    QString visit, time, receivedAt;
    QByteArray line;
};

struct SeqRange {
    qint64 first = 0, last = 0;
};

struct JournalState {
    QString journal, station, lastHash;
    qint64 lastSeq = 0, lines = 0;
    std::vector<SeqRange> missing;  // seqs never received
    std::vector<qint64> breaks;     // seqs whose prev does not name the line before, or taken twice
    bool intact() const { return missing.empty() && breaks.empty(); }
};

struct StationState {
    QString station, lastReceived, lastVisit;
    qint64 clockOffsetMs = 0;  // how far ahead of the server the station's clock was seen
    std::vector<JournalState> journals;
};

struct AlteredLine {
    QString visit, what;
};

struct VerifyReport {
    qint64 lines = 0;
    std::vector<AlteredLine> altered;
    std::vector<JournalState> brokenJournals;  // with gaps or breaks
};

// What each box's latest visit holds, counted over the whole fleet.
struct FleetState {
    qint64 boxes = 0;
    std::map<QString, qint64> firmware, profiles, lastResults;
};

// Visits that began from a whole UTC hour on.
struct VisitWindow {
    qint64 visits = 0, failed = 0;
};

struct DayCount {
    QString day;  // as it was at the visit's station
    QString result;
    qint64 visits = 0;
};

struct ReasonCount {
    QString result, reason;
    qint64 visits = 0;
};

struct StationBacklog {
    qint64 lines = 0;
    QString reportedAt;
};

struct TokenEntry {
    QByteArray hash;  // SHA-256 of the token
    QString role, name;
};

// The service history in SQLite (a file path) or PostgreSQL (postgresql://user@host:port/db),
// through one interface. Opening creates or migrates the schema. An object and its connection
// belong to the thread that made it.
class HistoryStore {
  public:
    explicit HistoryStore(const QString& location);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    static bool isPostgresLocation(const QString& location);
    bool isPostgres() const { return postgres_; }

    // Stores the line once by its visit; the same visit with other bytes is kept aside as a
    // conflict and never replaces the original. station fills the line's station when it has
    // none (a line written before the chain).
    IngestOutcome ingest(const JournalLine& line, const QString& station);
    // A batch in one transaction: outcomes in the lines' order.
    struct LineFrom {
        const JournalLine* line;
        QString station;
    };
    std::vector<IngestOutcome> ingest(const std::vector<LineFrom>& lines);

    std::vector<BoxState> boxes(const HistoryFilter& filter, const PageKey& after, int limit);
    // Oldest first when chronological, else newest first.
    std::vector<StoredVisit> visits(const HistoryFilter& filter, const PageKey& after, int limit,
                                    bool chronological);
    std::vector<StationState> stations();
    FleetState fleetState();
    // hourUtc: "yyyy-MM-ddTHH", the first hour counted.
    VisitWindow visitsSince(const QString& hourUtc);
    // Days from firstDay ("yyyy-MM-dd") on, by result.
    std::vector<DayCount> visitsByDay(const QString& firstDay);
    // Failed and interrupted visits from hourUtc on, most frequent first.
    std::vector<ReasonCount> failuresByReason(const QString& hourUtc);
    // The lines a station said it still had to send, after the request that told it.
    void recordBacklog(const QString& station, qint64 lines);
    std::map<QString, StationBacklog> backlogs();

    // The other lines that came with a stored visit's identifier, for the audit.
    std::vector<QByteArray> conflicts(const QString& visit);
    // Re-hashes every stored line against its columns and checks every journal's chain; lines
    // are read a page at a time.
    VerifyReport verify();

    void addToken(const TokenEntry& token);
    std::vector<TokenEntry> tokens();
    // Whether this connection's PostgreSQL role may change visits past the trigger's guard (the
    // owner's can); false on SQLite, where the file's owner can anyway.
    bool roleMayChangeVisits();
    // Lets a PostgreSQL role run the server: read and add visits, never change or remove them.
    void grantServerRole(const QString& role);

  private:
    QSqlQuery prepare(const QString& sql);
    // The write path's statements, prepared once for the connection's life and run again with
    // new values; the caller reads its rows before the statement is run again.
    QSqlQuery& prepared(const QString& sql);
    void runWith(QSqlQuery& query, const QVariantList& values);
    // Runs the query with the values; onResult reads each result row.
    void runReading(QSqlQuery& query, const QVariantList& values,
                    const std::function<void(const QSqlQuery&)>& onResult);
    // Runs the statement sqlFor(n) takes n rows with over every row, a few statements in all.
    void runRows(const std::function<QString(std::size_t)>& sqlFor,
                 const std::vector<QVariantList>& rows,
                 const std::function<void(const QSqlQuery&)>& onResult = {});
    struct Column {
        const char* name;
        const char* postgresType;
    };
    // INSERT INTO table (columns) of the rows, then onConflict, which may return rows.
    void insertRows(const QString& table, const std::vector<Column>& columns,
                    const QString& onConflict, const std::vector<QVariantList>& rows,
                    const std::function<void(const QSqlQuery&)>& onResult = {});
    void run(QSqlQuery& query);
    void exec(const QString& sql);
    void begin();
    void commit();
    void rollback();
    void migrate();
    int schemaVersion();
    // Every journal's head, with the seq its chain was last found intact through.
    std::vector<std::pair<JournalState, qint64>> journalHeads();
    // Walks a chain past seq from, noting its gaps and breaks; what was found intact is
    // remembered, so that the station list walks only what came since.
    void followChain(JournalState& state, qint64 from);
    void rememberCheckedPrefix(const JournalState& state, qint64 checked);
    void countStoredVisits();

    // What a batch's stored lines change in the per-box, per-journal and per-station tables.
    struct BoxSeen {
        const JournalLine* line;
        QString station;
    };
    struct JournalSeen {
        QString station;
        std::vector<const JournalLine*> lines;
    };
    struct StationSeen {
        QString lastVisit;
        qint64 leastLagMs;
    };
    struct CountKey {
        QString hour, day, result, reason;
        bool operator<(const CountKey& other) const {
            return std::tie(hour, day, result, reason) <
                   std::tie(other.hour, other.day, other.result, other.reason);
        }
    };
    static CountKey countKey(const JournalLine& line);
    struct BatchSummary {
        std::map<CountKey, qint64> counts;
        std::map<QString, BoxSeen> boxes;  // by identifier key
        std::map<QString, JournalSeen> journals;
        std::map<QString, StationSeen> stations;
        void add(const JournalLine& line, const QString& station, const QString& receivedAt);
    };
    struct Arrival {
        const JournalLine* line;
        QString station;
    };
    // Inserts the arrivals, in their order, in as few statements as the database takes; the
    // (visit, line hash) of each row stored.
    std::vector<std::pair<QString, QString>> insertVisits(const std::vector<Arrival>& arrivals,
                                                          const QString& receivedAt);
    std::map<QString, QString> storedHashes(const QStringList& visits);
    void keepConflict(const Arrival& arrival, const QString& receivedAt);
    void updateSummaries(const BatchSummary& stored, const QString& receivedAt);
    void addVisitCounts(const std::map<CountKey, qint64>& counts);
    void updateBoxes(const std::map<QString, BoxSeen>& boxes);
    void updateJournal(const QString& journal, const JournalSeen& seen);

    QString connectionName_;
    QSqlDatabase db_;
    std::map<QString, QSqlQuery> prepared_;
    std::unique_lock<std::mutex> writing_;  // SQLite: this process's turn to write
    bool postgres_ = false;
};

}  // namespace vek::history
