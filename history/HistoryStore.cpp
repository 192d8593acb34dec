#include "history/HistoryStore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <atomic>
#include <bit>
#include <mutex>
#include <numeric>
#include <set>

#include "history/HistorySchema.h"

namespace vek::history {

namespace {

constexpr int kVerifyPage = 1000;

QString nowUtc() {
    return QDateTime::currentDateTimeUtc().toString("yyyy-MM-ddTHH:mm:ss.zzz'Z'");
}

QString newConnectionName() {
    static std::atomic<int> next{0};
    return QString("vekhistory-%1").arg(next++);
}

// A field the line lacks is stored as an empty text: a null QString would bind as NULL.
QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QString("")) : QVariant(value);
}

// What the box holds after the visit.
QString firmwareHeld(const JournalLine& line) {
    return line.firmwareAfter.isEmpty() ? line.firmwareBefore : line.firmwareAfter;
}

constexpr char kPieceClause[] = "identifier_key LIKE ? ESCAPE '\\'";

// LIKE sees only what the user typed: its wildcards are escaped.
QString likePattern(const QString& piece) {
    QString escaped = identifierKey(piece);
    escaped.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_");
    return "%" + escaped + "%";
}

// Rows per multi-row statement: a batch takes a few round trips to PostgreSQL, not one per
// line, and the values stay far below its limit on bound values. SQLite has no round trips to
// save, and the Qt driver binds a statement's values in a time that grows with their square.
constexpr std::size_t kPostgresRowsPerStatement = 500;
constexpr std::size_t kSqliteRowsPerStatement = 16;

// How many rows each statement takes: full ones, then powers of two, so that a connection
// prepares at most a handful of statement shapes whatever the batches' sizes.
std::vector<std::size_t> statementSizes(std::size_t rows, std::size_t most) {
    std::vector<std::size_t> sizes(rows / most, most);
    for (std::size_t size = std::bit_floor(most - 1); size > 0; size /= 2)
        if (rows % most & size)
            sizes.push_back(size);
    return sizes;
}

// "(?, ?), (?, ?)" for rows of columns.
QString placeholders(int columns, std::size_t rows) {
    QStringList marks(columns, "?");
    const QString row = "(" + marks.join(", ") + ")";
    return QStringList(qsizetype(rows), row).join(", ");
}

// A PostgreSQL array literal of one column of the rows: each value quoted, bytes as hex. A
// batch's lines make megabytes of it, so whole values are appended wherever nothing needs escaping.
QString arrayLiteral(const std::vector<QVariantList>& rows, qsizetype column) {
    QString literal = "{";
    for (const QVariantList& row : rows) {
        if (literal.size() > 1)
            literal += ',';
        const QVariant& value = row[column];
        if (value.isNull()) {
            literal += "NULL";
        } else if (value.typeId() == QMetaType::QByteArray) {
            literal += QLatin1StringView(R"("\\x)");
            literal += QLatin1StringView(value.toByteArray().toHex());
            literal += '"';
        } else {
            const QString element = value.toString();
            literal += '"';
            if (!element.contains('"') && !element.contains('\\')) {
                literal += element;
            } else {
                for (const QChar c : element) {
                    if (c == '"' || c == '\\')
                        literal += '\\';
                    literal += c;
                }
            }
            literal += '"';
        }
    }
    return literal + '}';
}

// The WHERE clause for a filter over a table whose time and key columns are named; values are
// only ever bound.
struct Where {
    QStringList clauses;
    QVariantList values;

    void add(const QString& clause, const QVariant& value) {
        clauses << clause;
        values << value;
    }
    QString sql() const { return clauses.isEmpty() ? "" : " WHERE " + clauses.join(" AND "); }
};

Where filterWhere(const HistoryFilter& f, const QString& timeColumn) {
    Where where;
    if (!f.search.isEmpty())
        where.add(kPieceClause, likePattern(f.search));
    if (!f.identifier.isEmpty())
        where.add("identifier_key = ?", identifierKey(f.identifier));
    const std::pair<const char*, const QString*> exact[] = {{"firmware", &f.firmware},
                                                            {"profile", &f.profile},
                                                            {"result", &f.result},
                                                            {"station", &f.station}};
    for (const auto& [column, value] : exact)
        if (!value->isEmpty())
            where.add(QString("%1 = ?").arg(column), *value);
    if (!f.since.isEmpty())
        where.add(timeColumn + " >= ?", f.since);
    if (!f.until.isEmpty())
        where.add(timeColumn + " < ?", f.until);
    return where;
}

void addPageKey(Where& where, const PageKey& after, const QString& timeColumn,
                const QString& visitColumn, bool ascending) {
    if (after.isEmpty())
        return;
    where.clauses
        << QString("(%1, %2) %3 (?, ?)").arg(timeColumn, visitColumn, ascending ? ">" : "<");
    where.values << after.time << after.visit;
}

}  // namespace

HistoryStore::CountKey HistoryStore::countKey(const JournalLine& line) {
    // The day at the station: a visit at 22:00 in Recife is that day's, not the next UTC one's.
    static const QRegularExpression offset("^([+-])(\\d\\d):(\\d\\d)$");
    QDateTime atStation = QDateTime::fromString(line.time, Qt::ISODateWithMs);
    if (const auto match = offset.match(line.chain.utcOffset); match.hasMatch())
        atStation = atStation.addSecs((match.captured(1) == "-" ? -60 : 60) *
                                      (match.captured(2).toInt() * 60 + match.captured(3).toInt()));
    const bool failure = line.result == "failed" || line.result == "interrupted";
    return {line.time.left(13), atStation.toString("yyyy-MM-dd"), line.result,
            failure ? line.fields.value("reason").toString() : QString("")};
}

void HistoryStore::BatchSummary::add(const JournalLine& line, const QString& station,
                                     const QString& receivedAt) {
    ++counts[countKey(line)];
    if (!line.identifier.isEmpty()) {
        const auto [box, added] = boxes.try_emplace(identifierKey(line.identifier), &line, station);
        if (!added && std::pair(line.time, line.chain.visit) >
                          std::pair(box->second.line->time, box->second.line->chain.visit))
            box->second = {&line, station};
    }
    if (!line.legacy) {
        JournalSeen& chain = journals[line.chain.journal];
        chain.station = station;
        chain.lines.push_back(&line);
    }
    // A line sent as soon as it was written arrives about when it ends by the station's clock:
    // the least lag seen is how far behind the server's clock the station's runs.
    const QDateTime ended = QDateTime::fromString(line.time, Qt::ISODateWithMs)
                                .addMSecs(qint64(line.durationSeconds * 1000));
    const qint64 lag = ended.msecsTo(QDateTime::fromString(receivedAt, Qt::ISODateWithMs));
    const auto [seen, added] = stations.try_emplace(station, StationSeen{line.chain.visit, lag});
    seen->second.lastVisit = line.chain.visit;
    seen->second.leastLagMs = std::min(seen->second.leastLagMs, lag);
}

const char* outcomeName(IngestOutcome outcome) {
    switch (outcome) {
        case IngestOutcome::Stored:
            return "stored";
        case IngestOutcome::Duplicate:
            return "duplicate";
        case IngestOutcome::Conflict:
            return "conflict";
    }
    return "";
}

QString PageKey::toToken() const {
    return QString::fromLatin1(
        (time + "|" + visit)
            .toUtf8()
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

std::optional<PageKey> PageKey::fromToken(const QString& token) {
    const auto decoded = QByteArray::fromBase64Encoding(
        token.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QStringList parts = QString::fromUtf8(*decoded).split('|');
    if (parts.size() != 2 || parts[1].isEmpty())
        return std::nullopt;
    return PageKey{parts[0], parts[1]};
}

bool HistoryStore::isPostgresLocation(const QString& location) {
    return location.startsWith("postgresql://") || location.startsWith("postgres://");
}

HistoryStore::HistoryStore(const QString& location)
    : connectionName_(newConnectionName()), postgres_(isPostgresLocation(location)) {
    if (postgres_) {
        const QUrl url(location);
        db_ = QSqlDatabase::addDatabase("QPSQL", connectionName_);
        // A socket folder is given as ?host=/run/postgresql, as libpq takes it.
        const QString socketFolder = QUrlQuery(url).queryItemValue("host");
        db_.setHostName(socketFolder.isEmpty() ? url.host() : socketFolder);
        if (url.port() > 0)
            db_.setPort(url.port());
        db_.setUserName(url.userName());
        db_.setPassword(url.password());
        db_.setDatabaseName(url.path().mid(1));
        db_.setConnectOptions("connect_timeout=10");
    } else {
        const QFileInfo file(location);
        QDir().mkpath(file.absolutePath());
        db_ = QSqlDatabase::addDatabase("QSQLITE", connectionName_);
        db_.setDatabaseName(location);
        // Writers from the server's threads wait for each other instead of failing.
        db_.setConnectOptions("QSQLITE_BUSY_TIMEOUT=30000");
    }
    if (!db_.isValid())
        throw StoreError(
            QString("o driver %1 do Qt SQL não está instalado (instale %2)")
                .arg(db_.driverName(), postgres_ ? "libqt6sql6-psql" : "libqt6sql6-sqlite")
                .toStdString());
    if (!db_.open())
        throw StoreError(
            QString("não foi possível abrir o banco de dados %1: %2")
                .arg(postgres_ ? QUrl(location).toDisplayString(QUrl::RemovePassword) : location,
                     db_.lastError().text())
                .toStdString());
    if (!postgres_) {
        // A stored line is answered as stored only once it is on the disk.
        exec("PRAGMA journal_mode = WAL");
        exec("PRAGMA synchronous = FULL");
        // Pages that every batch changes (the boxes and their indexes) are copied back into
        // the database once per 64 MiB of log rather than once per batch or two.
        exec("PRAGMA wal_autocheckpoint = 16384");
        // Room for the indexes a batch walks; SQLite's 2 MiB default rereads them from the file.
        exec("PRAGMA cache_size = -16384");
    }
    migrate();
}

HistoryStore::~HistoryStore() {
    prepared_.clear();
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

QSqlQuery HistoryStore::prepare(const QString& sql) {
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw StoreError(("erro no banco de dados: " + query.lastError().text()).toStdString());
    return query;
}

void HistoryStore::run(QSqlQuery& query) {
    if (!query.exec())
        throw StoreError(("erro no banco de dados: " + query.lastError().text()).toStdString());
}

QSqlQuery& HistoryStore::prepared(const QString& sql) {
    const auto found = prepared_.find(sql);
    if (found != prepared_.end())
        return found->second;
    return prepared_.emplace(sql, prepare(sql)).first->second;
}

void HistoryStore::runWith(QSqlQuery& query, const QVariantList& values) {
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    run(query);
}

void HistoryStore::runReading(QSqlQuery& query, const QVariantList& values,
                              const std::function<void(const QSqlQuery&)>& onResult) {
    runWith(query, values);
    while (query.next())
        if (onResult)
            onResult(query);
    query.finish();
}

void HistoryStore::runRows(const std::function<QString(std::size_t)>& sqlFor,
                           const std::vector<QVariantList>& rows,
                           const std::function<void(const QSqlQuery&)>& onResult) {
    const std::size_t most = postgres_ ? kPostgresRowsPerStatement : kSqliteRowsPerStatement;
    auto row = rows.begin();
    for (const std::size_t size : statementSizes(rows.size(), most)) {
        QVariantList values;
        for (const auto end = row + std::ptrdiff_t(size); row != end; ++row)
            values += *row;
        runReading(prepared(sqlFor(size)), values, onResult);
    }
}

void HistoryStore::insertRows(const QString& table, const std::vector<Column>& columns,
                              const QString& onConflict, const std::vector<QVariantList>& rows,
                              const std::function<void(const QSqlQuery&)>& onResult) {
    QStringList names;
    for (const Column& column : columns)
        names << column.name;
    const QString insert = "INSERT INTO " + table + " (" + names.join(", ") + ") ";
    if (!postgres_) {
        runRows(
            [&](std::size_t n) {
                return insert + "VALUES " + placeholders(int(columns.size()), n) + " " + onConflict;
            },
            rows, onResult);
        return;
    }
    // One statement whatever the batch: each column's values as one array, which PostgreSQL
    // reads far quicker than as many values in the statement's text.
    if (rows.empty())
        return;
    QStringList arrays;
    QVariantList values;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        arrays << QString("?::%1[]").arg(columns[i].postgresType);
        values << arrayLiteral(rows, qsizetype(i));
    }
    runReading(prepared(insert + "SELECT * FROM unnest(" + arrays.join(", ") + ") " + onConflict),
               values, onResult);
}

void HistoryStore::exec(const QString& sql) {
    QSqlQuery query(db_);
    if (!query.exec(sql))
        throw StoreError(("erro no banco de dados: " + query.lastError().text()).toStdString());
}

void HistoryStore::begin() {
    if (postgres_) {
        exec("BEGIN");
        return;
    }
    // The process's writers queue here, each woken as soon as the one before ends; SQLite's own
    // wait for its lock sleeps in steps and leaves the database idle between writers.
    static std::mutex sqliteWriters;
    writing_ = std::unique_lock(sqliteWriters);
    // SQLite takes the write lock at once, so that a reader's snapshot never has to be upgraded.
    try {
        exec("BEGIN IMMEDIATE");
    } catch (...) {
        writing_ = {};
        throw;
    }
}

void HistoryStore::commit() {
    exec("COMMIT");
    writing_ = {};
}

void HistoryStore::rollback() {
    QSqlQuery(db_).exec("ROLLBACK");
    writing_ = {};
}

int HistoryStore::schemaVersion() {
    if (!db_.tables().contains("schema_version"))
        return 0;
    QSqlQuery query = prepare("SELECT version FROM schema_version");
    run(query);
    return query.next() ? query.value(0).toInt() : 0;
}

void HistoryStore::migrate() {
    begin();
    try {
        // Servers started together on one database migrate one after the other.
        if (postgres_)
            exec("SELECT pg_advisory_xact_lock(7340512)");
        const int found = schemaVersion();
        if (found > kSchemaVersion)
            throw StoreError(QString("o banco de dados está no esquema %1, mais novo que o %2 "
                                     "deste vekhistory: instale a versão do vekhistory que o criou "
                                     "ou uma mais nova")
                                 .arg(found)
                                 .arg(kSchemaVersion)
                                 .toStdString());
        for (int version = found; version < kSchemaVersion; ++version) {
            for (const QString& statement : migrationStatements(version, postgres_))
                exec(statement);
            if (version == 2)
                countStoredVisits();
            QSqlQuery query = prepare("UPDATE schema_version SET version = ?");
            query.addBindValue(version + 1);
            run(query);
        }
        commit();
    } catch (const StoreError& error) {
        rollback();
        if (postgres_ && QString(error.what()).contains("permission denied"))
            throw StoreError(std::string(error.what()) +
                             " (crie ou atualize o esquema rodando o vekhistory uma vez com o "
                             "usuário dono do banco de dados)");
        throw;
    }
}

IngestOutcome HistoryStore::ingest(const JournalLine& line, const QString& station) {
    return ingest({{&line, station}}).front();
}

std::vector<IngestOutcome> HistoryStore::ingest(const std::vector<LineFrom>& lines) {
    // Rows are locked in one order whatever the batch (visits by key, then boxes, journals and
    // stations by key), so that batches stored at once by several servers never dead-lock.
    std::vector<std::size_t> order(lines.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&lines](std::size_t a, std::size_t b) {
        return lines[a].line->chain.visit < lines[b].line->chain.visit;
    });
    std::vector<Arrival> arrivals;
    for (const std::size_t i : order) {
        const JournalLine& line = *lines[i].line;
        arrivals.push_back(
            {&line, line.chain.station.isEmpty() ? lines[i].station : line.chain.station});
    }
    const QString receivedAt = nowUtc();
    std::vector<IngestOutcome> outcomes(lines.size());
    begin();
    try {
        // The hash each visit of the batch is stored with: by this batch or before it.
        std::map<QString, QString> storedHash;
        std::set<QString> storedNow;  // until a line is answered as the one stored
        for (auto& [visit, hash] : insertVisits(arrivals, receivedAt)) {
            storedNow.insert(visit);
            storedHash.emplace(visit, hash);
        }
        QStringList storedBefore;
        for (const Arrival& arrival : arrivals)
            if (!storedNow.contains(arrival.line->chain.visit))
                storedBefore << arrival.line->chain.visit;
        storedHash.merge(storedHashes(storedBefore));

        BatchSummary stored;
        for (std::size_t k = 0; k < arrivals.size(); ++k) {
            const JournalLine& line = *arrivals[k].line;
            const auto known = storedHash.find(line.chain.visit);
            IngestOutcome& outcome = outcomes[order[k]];
            if (known == storedHash.end() || known->second != line.hash) {
                keepConflict(arrivals[k], receivedAt);
                outcome = IngestOutcome::Conflict;
            } else if (storedNow.erase(line.chain.visit) == 1) {
                stored.add(line, arrivals[k].station, receivedAt);
                outcome = IngestOutcome::Stored;
            } else {
                outcome = IngestOutcome::Duplicate;
            }
        }
        updateSummaries(stored, receivedAt);
        commit();
        return outcomes;
    } catch (...) {
        rollback();
        throw;
    }
}

std::vector<std::pair<QString, QString>> HistoryStore::insertVisits(
    const std::vector<Arrival>& arrivals, const QString& receivedAt) {
    std::vector<QVariantList> rows;
    for (const auto& [line, station] : arrivals)
        rows.push_back({text(line->chain.visit), text(line->chain.journal),
                        line->legacy ? QVariant() : QVariant(line->chain.seq),
                        text(line->chain.prev), text(line->hash), text(station), text(line->time),
                        text(line->identifier), text(identifierKey(line->identifier)),
                        text(firmwareHeld(*line)), text(line->profile), text(line->result),
                        text(receivedAt), QVariant(line->bytes)});
    std::vector<std::pair<QString, QString>> inserted;
    insertRows("visits",
               {{"visit", "text"},
                {"journal", "text"},
                {"seq", "bigint"},
                {"prev", "text"},
                {"line_hash", "text"},
                {"station", "text"},
                {"time", "text"},
                {"identifier", "text"},
                {"identifier_key", "text"},
                {"firmware", "text"},
                {"profile", "text"},
                {"result", "text"},
                {"received_at", "text"},
                {"line", "bytea"}},
               "ON CONFLICT (visit) DO NOTHING RETURNING visit, line_hash", rows,
               [&inserted](const QSqlQuery& row) {
                   inserted.emplace_back(row.value(0).toString(), row.value(1).toString());
               });
    return inserted;
}

std::map<QString, QString> HistoryStore::storedHashes(const QStringList& visits) {
    std::vector<QVariantList> rows;
    for (const QString& visit : visits)
        rows.push_back({visit});
    std::map<QString, QString> hashes;
    runRows(
        [](std::size_t n) {
            return "SELECT visit, line_hash FROM visits WHERE visit IN " + placeholders(int(n), 1);
        },
        rows,
        [&hashes](const QSqlQuery& row) {
            hashes.emplace(row.value(0).toString(), row.value(1).toString());
        });
    return hashes;
}

void HistoryStore::keepConflict(const Arrival& arrival, const QString& receivedAt) {
    QSqlQuery& conflict = prepared(
        "INSERT INTO conflicts (visit, line_hash, station, received_at, line)"
        " VALUES (?, ?, ?, ?, ?) ON CONFLICT (visit, line_hash) DO NOTHING");
    runWith(conflict, {text(arrival.line->chain.visit), text(arrival.line->hash),
                       text(arrival.station), text(receivedAt), QVariant(arrival.line->bytes)});
}

void HistoryStore::updateSummaries(const BatchSummary& stored, const QString& receivedAt) {
    updateBoxes(stored.boxes);
    for (const auto& [journal, seen] : stored.journals)
        updateJournal(journal, seen);
    addVisitCounts(stored.counts);
    QSqlQuery& station = prepared(
        "INSERT INTO stations (station, last_received, last_visit, least_lag_ms)"
        " VALUES (?, ?, ?, ?) ON CONFLICT (station) DO UPDATE SET"
        " last_received = excluded.last_received, last_visit = excluded.last_visit,"
        " least_lag_ms = CASE WHEN excluded.least_lag_ms < stations.least_lag_ms"
        " THEN excluded.least_lag_ms ELSE stations.least_lag_ms END");
    for (const auto& [name, seen] : stored.stations)
        runWith(station,
                {text(name), text(receivedAt), text(seen.lastVisit), QVariant(seen.leastLagMs)});
}

void HistoryStore::updateBoxes(const std::map<QString, BoxSeen>& boxes) {
    std::vector<QVariantList> rows;
    for (const auto& [key, latest] : boxes) {
        const JournalLine& line = *latest.line;
        rows.push_back({text(key), text(line.identifier), text(line.time), text(line.chain.visit),
                        text(latest.station), text(firmwareHeld(line)), text(line.profile),
                        text(line.result)});
    }
    std::vector<Column> columns;
    for (const char* name : {"identifier_key", "identifier", "last_time", "last_visit", "station",
                             "firmware", "profile", "result"})
        columns.push_back({name, "text"});
    insertRows("boxes", columns,
               "ON CONFLICT (identifier_key) DO UPDATE SET identifier = excluded.identifier,"
               " last_time = excluded.last_time, last_visit = excluded.last_visit,"
               " station = excluded.station, firmware = excluded.firmware,"
               " profile = excluded.profile, result = excluded.result"
               " WHERE (excluded.last_time, excluded.last_visit) >"
               " (boxes.last_time, boxes.last_visit)",
               rows);
}

void HistoryStore::updateJournal(const QString& journal, const JournalSeen& seen) {
    std::vector<const JournalLine*> lines = seen.lines;
    std::sort(lines.begin(), lines.end(), [](const JournalLine* a, const JournalLine* b) {
        return a->chain.seq < b->chain.seq;
    });
    const JournalLine& first = *lines.front();
    const JournalLine& last = *lines.back();
    bool unbroken = true;  // each line the one after the line before, naming it
    for (std::size_t i = 1; i < lines.size(); ++i)
        unbroken = unbroken && lines[i]->chain.seq == lines[i - 1]->chain.seq + 1 &&
                   lines[i]->chain.prev == lines[i - 1]->hash;
    const bool fromStart = unbroken && first.chain.seq == 1 && first.chain.prev.isEmpty();
    // Lines that carry on a chain known intact to its end keep it known intact, so that the
    // station list need not walk it again; a line at or below the seq the chain was checked
    // through (a second line for a seq) has the check start again below it.
    QSqlQuery& upsert = prepared(
        "INSERT INTO journals (journal, station, last_seq, last_hash, lines, checked_seq)"
        " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (journal) DO UPDATE SET"
        " lines = journals.lines + excluded.lines,"
        " last_hash = CASE WHEN excluded.last_seq > journals.last_seq"
        " THEN excluded.last_hash ELSE journals.last_hash END,"
        " last_seq = CASE WHEN excluded.last_seq > journals.last_seq"
        " THEN excluded.last_seq ELSE journals.last_seq END,"
        " checked_seq = CASE WHEN journals.checked_seq = journals.last_seq"
        " AND journals.lines = journals.last_seq AND journals.last_seq + 1 = ?"
        " AND journals.last_hash = ? THEN excluded.last_seq"
        " WHEN journals.checked_seq >= ? THEN ? ELSE journals.checked_seq END");
    runWith(upsert, {text(journal), text(seen.station), QVariant(last.chain.seq), text(last.hash),
                     QVariant(qint64(lines.size())), QVariant(fromStart ? last.chain.seq : 0),
                     QVariant(unbroken ? first.chain.seq : -1), text(first.chain.prev),
                     QVariant(first.chain.seq), QVariant(first.chain.seq - 1)});
}

void HistoryStore::addVisitCounts(const std::map<CountKey, qint64>& counts) {
    QSqlQuery& count = prepared(
        "INSERT INTO visit_counts (hour, day, result, reason, visits) VALUES (?, ?, ?, ?, ?)"
        " ON CONFLICT (hour, day, result, reason) DO UPDATE SET"
        " visits = visit_counts.visits + excluded.visits");
    for (const auto& [key, visits] : counts)
        runWith(count, {text(key.hour), text(key.day), text(key.result), text(key.reason),
                        QVariant(visits)});
}

// The visits stored before the counts were kept, counted once when the schema gains them.
void HistoryStore::countStoredVisits() {
    QString after = "";
    for (int rows = kVerifyPage; rows == kVerifyPage;) {
        QSqlQuery page =
            prepare("SELECT visit, line FROM visits WHERE visit > ? ORDER BY visit LIMIT ?");
        page.addBindValue(after);
        page.addBindValue(kVerifyPage);
        run(page);
        std::map<CountKey, qint64> counts;
        for (rows = 0; page.next(); ++rows) {
            after = page.value(0).toString();
            const ParsedLine parsed = parseJournalLine(page.value(1).toByteArray());
            if (parsed.ok())
                ++counts[countKey(parsed.line)];
        }
        page.finish();
        addVisitCounts(counts);
    }
}

FleetState HistoryStore::fleetState() {
    QSqlQuery query = prepare(
        "SELECT firmware, profile, result, COUNT(*) FROM boxes GROUP BY firmware, profile, result");
    run(query);
    FleetState fleet;
    while (query.next()) {
        const qint64 boxes = query.value(3).toLongLong();
        fleet.boxes += boxes;
        fleet.firmware[query.value(0).toString()] += boxes;
        fleet.profiles[query.value(1).toString()] += boxes;
        fleet.lastResults[query.value(2).toString()] += boxes;
    }
    return fleet;
}

VisitWindow HistoryStore::visitsSince(const QString& hourUtc) {
    QSqlQuery query = prepare(
        "SELECT COALESCE(SUM(visits), 0),"
        " COALESCE(SUM(CASE WHEN result = 'failed' THEN visits ELSE 0 END), 0)"
        " FROM visit_counts WHERE hour >= ?");
    query.addBindValue(hourUtc);
    run(query);
    query.next();
    return {query.value(0).toLongLong(), query.value(1).toLongLong()};
}

std::vector<DayCount> HistoryStore::visitsByDay(const QString& firstDay) {
    // A station's day starts at most 14 hours from the UTC one: the hour bounds the range read.
    const QString firstHour =
        QDateTime(QDate::fromString(firstDay, Qt::ISODate), QTime(0, 0), Qt::UTC)
            .addSecs(-14 * 3600)
            .toString("yyyy-MM-ddTHH");
    QSqlQuery query = prepare(
        "SELECT day, result, SUM(visits) FROM visit_counts WHERE hour >= ? AND day >= ?"
        " GROUP BY day, result ORDER BY day, result");
    query.addBindValue(firstHour);
    query.addBindValue(firstDay);
    run(query);
    std::vector<DayCount> days;
    while (query.next())
        days.push_back(
            {query.value(0).toString(), query.value(1).toString(), query.value(2).toLongLong()});
    return days;
}

std::vector<ReasonCount> HistoryStore::failuresByReason(const QString& hourUtc) {
    QSqlQuery query = prepare(
        "SELECT result, reason, SUM(visits) AS n FROM visit_counts WHERE hour >= ?"
        " AND result IN ('failed', 'interrupted') GROUP BY result, reason"
        " ORDER BY n DESC, result, reason");
    query.addBindValue(hourUtc);
    run(query);
    std::vector<ReasonCount> reasons;
    while (query.next())
        reasons.push_back(
            {query.value(0).toString(), query.value(1).toString(), query.value(2).toLongLong()});
    return reasons;
}

void HistoryStore::recordBacklog(const QString& station, qint64 lines) {
    QSqlQuery query = prepare(
        "INSERT INTO station_backlogs (station, backlog, reported_at) VALUES (?, ?, ?)"
        " ON CONFLICT (station) DO UPDATE SET backlog = excluded.backlog,"
        " reported_at = excluded.reported_at");
    for (const QVariant& value : {text(station), QVariant(lines), QVariant(nowUtc())})
        query.addBindValue(value);
    run(query);
}

std::map<QString, StationBacklog> HistoryStore::backlogs() {
    QSqlQuery query = prepare("SELECT station, backlog, reported_at FROM station_backlogs");
    run(query);
    std::map<QString, StationBacklog> result;
    while (query.next())
        result[query.value(0).toString()] = {query.value(1).toLongLong(),
                                             query.value(2).toString()};
    return result;
}

std::vector<BoxState> HistoryStore::boxes(const HistoryFilter& filter, const PageKey& after,
                                          int limit) {
    HistoryFilter exact = filter;
    exact.search.clear();
    Where where = filterWhere(exact, "last_time");
    // The piece is looked up among the boxes' trigrams: PostgreSQL's index serves a LIKE,
    // SQLite's a phrase of three characters or more.
    const QString piece = identifierKey(filter.search);
    const QString amongPieces =
        "identifier_key IN (SELECT identifier_key FROM box_pieces WHERE %1)";
    if (postgres_ && !piece.isEmpty())
        where.add(amongPieces.arg(kPieceClause), likePattern(piece));
    else if (piece.size() >= 3)
        where.add(amongPieces.arg("box_pieces MATCH ?"),
                  '"' + QString(piece).replace('"', "\"\"") + '"');
    else if (!piece.isEmpty())
        where.add(kPieceClause, likePattern(piece));
    addPageKey(where, after, "last_time", "last_visit", false);
    QSqlQuery query = prepare(
        "SELECT identifier, last_time, last_visit, station, firmware, profile, result FROM boxes" +
        where.sql() + " ORDER BY last_time DESC, last_visit DESC LIMIT ?");
    for (const QVariant& value : where.values)
        query.addBindValue(value);
    query.addBindValue(limit);
    run(query);
    std::vector<BoxState> page;
    while (query.next()) {
        BoxState& box = page.emplace_back();
        int column = 0;
        for (QString* field : {&box.identifier, &box.lastTime, &box.lastVisit, &box.station,
                               &box.firmware, &box.profile, &box.result})
            *field = query.value(column++).toString();
    }
    return page;
}

std::vector<StoredVisit> HistoryStore::visits(const HistoryFilter& filter, const PageKey& after,
                                              int limit, bool chronological) {
    Where where = filterWhere(filter, "time");
    addPageKey(where, after, "time", "visit", chronological);
    const QString order = chronological ? "ASC" : "DESC";
    QSqlQuery query = prepare("SELECT visit, time, received_at, line FROM visits" + where.sql() +
                              QString(" ORDER BY time %1, visit %1 LIMIT ?").arg(order));
    for (const QVariant& value : where.values)
        query.addBindValue(value);
    query.addBindValue(limit);
    run(query);
    std::vector<StoredVisit> page;
    while (query.next())
        page.push_back({query.value(0).toString(), query.value(1).toString(),
                        query.value(2).toString(), query.value(3).toByteArray()});
    return page;
}

void HistoryStore::followChain(JournalState& state, qint64 from) {
    // The chain is walked in seq order a page at a time: one pass over the journal's index,
    // memory flat however long the journal.
    qint64 expected = from + 1;
    QStringList hashesBefore;  // of the line(s) at expected - 1
    if (from > 0) {
        QSqlQuery known = prepare("SELECT line_hash FROM visits WHERE journal = ? AND seq = ?");
        known.addBindValue(state.journal);
        known.addBindValue(from);
        run(known);
        while (known.next())
            hashesBefore << known.value(0).toString();
    }
    qint64 afterSeq = from;
    QString afterVisit = "";
    for (;;) {
        QSqlQuery page = prepare(
            "SELECT seq, visit, prev, line_hash FROM visits WHERE journal = ? AND seq > ?"
            " AND (seq, visit) > (?, ?) ORDER BY seq, visit LIMIT ?");
        for (const QVariant& value : {QVariant(state.journal), QVariant(from), QVariant(afterSeq),
                                      QVariant(afterVisit), QVariant(kVerifyPage)})
            page.addBindValue(value);
        run(page);
        int rows = 0;
        while (page.next()) {
            ++rows;
            afterSeq = page.value(0).toLongLong();
            afterVisit = page.value(1).toString();
            const QString prev = page.value(2).toString();
            const QString hash = page.value(3).toString();
            if (afterSeq == expected - 1) {
                // A second line for a seq: another visit written in the place of one.
                if (state.breaks.empty() || state.breaks.back() != afterSeq)
                    state.breaks.push_back(afterSeq);
                hashesBefore << hash;
                continue;
            }
            if (afterSeq > expected)
                state.missing.push_back({expected, afterSeq - 1});
            else if (!(afterSeq == 1 ? prev.isEmpty() : hashesBefore.contains(prev)))
                state.breaks.push_back(afterSeq);
            hashesBefore = {hash};
            expected = afterSeq + 1;
        }
        if (rows < kVerifyPage)
            return;
    }
}

void HistoryStore::rememberCheckedPrefix(const JournalState& state, qint64 checked) {
    qint64 intactThrough = state.lastSeq;
    if (!state.missing.empty())
        intactThrough = std::min(intactThrough, state.missing.front().first - 1);
    if (!state.breaks.empty())
        intactThrough = std::min(intactThrough, state.breaks.front() - 1);
    if (intactThrough <= checked)
        return;
    // Only if no line came since the check was read: one that did may be a second line for a
    // seq already checked, and is checked next time.
    QSqlQuery remember = prepare(
        "UPDATE journals SET checked_seq = ? WHERE journal = ? AND lines = ? AND checked_seq < ?");
    for (const QVariant& value : {QVariant(intactThrough), QVariant(state.journal),
                                  QVariant(state.lines), QVariant(intactThrough)})
        remember.addBindValue(value);
    run(remember);
}

std::vector<StationState> HistoryStore::stations() {
    std::vector<StationState> result;
    std::map<QString, std::size_t> byName;
    QSqlQuery query = prepare(
        "SELECT station, last_received, last_visit, least_lag_ms FROM stations ORDER BY station");
    run(query);
    while (query.next()) {
        byName[query.value(0).toString()] = result.size();
        result.push_back({query.value(0).toString(),
                          query.value(1).toString(),
                          query.value(2).toString(),
                          -query.value(3).toLongLong(),
                          {}});
    }
    // Only the chains not known intact to their end are walked, from where they were.
    for (auto& [journal, checked] : journalHeads()) {
        if (checked != journal.lastSeq || journal.lines != journal.lastSeq) {
            followChain(journal, checked);
            rememberCheckedPrefix(journal, checked);
        }
        if (const auto station = byName.find(journal.station); station != byName.end())
            result[station->second].journals.push_back(std::move(journal));
    }
    return result;
}

std::vector<std::pair<JournalState, qint64>> HistoryStore::journalHeads() {
    QSqlQuery query = prepare(
        "SELECT journal, station, last_seq, last_hash, lines, checked_seq FROM journals"
        " ORDER BY journal");
    run(query);
    // A PostgreSQL connection streams one query's rows at a time: read them all first.
    std::vector<std::pair<JournalState, qint64>> heads;
    while (query.next())
        heads.emplace_back(JournalState{query.value(0).toString(),
                                        query.value(1).toString(),
                                        query.value(3).toString(),
                                        query.value(2).toLongLong(),
                                        query.value(4).toLongLong(),
                                        {},
                                        {}},
                           query.value(5).toLongLong());
    return heads;
}

std::vector<QByteArray> HistoryStore::conflicts(const QString& visit) {
    QSqlQuery query = prepare("SELECT line FROM conflicts WHERE visit = ? ORDER BY received_at");
    query.addBindValue(visit);
    run(query);
    std::vector<QByteArray> lines;
    while (query.next())
        lines.push_back(query.value(0).toByteArray());
    return lines;
}

VerifyReport HistoryStore::verify() {
    VerifyReport report;
    QString after = "";  // not null: a null binds as NULL and matches nothing
    for (;;) {
        QSqlQuery page = prepare(
            "SELECT visit, journal, seq, prev, line_hash, station, time, identifier, result, line"
            " FROM visits WHERE visit > ? ORDER BY visit LIMIT ?");
        page.addBindValue(after);
        page.addBindValue(kVerifyPage);
        run(page);
        int rows = 0;
        while (page.next()) {
            ++rows;
            ++report.lines;
            after = page.value(0).toString();
            const ParsedLine parsed = parseJournalLine(page.value(9).toByteArray());
            const JournalLine& line = parsed.line;
            QString what;
            if (!parsed.ok())
                what = "a linha guardada não é mais válida: " + parsed.refusal.message;
            else if (line.hash != page.value(4).toString())
                what = "os bytes da linha não têm mais o SHA-256 guardado";
            else if (line.chain.visit != after || line.chain.journal != page.value(1).toString() ||
                     (!line.legacy && line.chain.seq != page.value(2).toLongLong()) ||
                     line.chain.prev != page.value(3).toString() ||
                     (!line.chain.station.isEmpty() &&
                      line.chain.station != page.value(5).toString()) ||
                     line.time != page.value(6).toString() ||
                     line.identifier != page.value(7).toString() ||
                     line.result != page.value(8).toString())
                what = "as colunas não batem com a linha guardada";
            if (!what.isEmpty())
                report.altered.push_back({after, what});
        }
        if (rows < kVerifyPage)
            break;
    }
    for (auto& [journal, checked] : journalHeads()) {
        followChain(journal, 0);
        if (!journal.intact())
            report.brokenJournals.push_back(std::move(journal));
    }
    return report;
}

void HistoryStore::addToken(const TokenEntry& token) {
    QSqlQuery query =
        prepare("INSERT INTO tokens (hash, role, name, created_at) VALUES (?, ?, ?, ?)");
    for (const QVariant& value : {QVariant(QString::fromLatin1(token.hash.toHex())),
                                  QVariant(token.role), QVariant(token.name), QVariant(nowUtc())})
        query.addBindValue(value);
    run(query);
}

std::vector<TokenEntry> HistoryStore::tokens() {
    QSqlQuery query = prepare("SELECT hash, role, name FROM tokens");
    run(query);
    std::vector<TokenEntry> result;
    while (query.next())
        result.push_back({QByteArray::fromHex(query.value(0).toString().toLatin1()),
                          query.value(1).toString(), query.value(2).toString()});
    return result;
}

bool HistoryStore::roleMayChangeVisits() {
    if (!postgres_)
        return false;
    QSqlQuery query = prepare(
        "SELECT has_table_privilege('visits', 'UPDATE') OR has_table_privilege('visits', 'DELETE')"
        " OR has_table_privilege('visits', 'TRUNCATE')");
    run(query);
    return query.next() && query.value(0).toBool();
}

void HistoryStore::grantServerRole(const QString& role) {
    if (!postgres_)
        throw StoreError("papéis só existem no PostgreSQL");
    static const QRegularExpression plainName("^[a-z_][a-z0-9_]{0,62}$");
    if (!plainName.match(role).hasMatch())
        throw StoreError("o nome do papel deve ter só letras minúsculas, algarismos e _");
    // A role name cannot be bound: it is checked above and quoted.
    const QString quoted = '"' + role + '"';
    begin();
    try {
        exec("GRANT SELECT, INSERT ON visits, conflicts TO " + quoted);
        exec("REVOKE UPDATE, DELETE, TRUNCATE ON visits, conflicts FROM " + quoted);
        exec(
            "GRANT SELECT, INSERT, UPDATE ON boxes, journals, stations, visit_counts,"
            " station_backlogs TO " +
            quoted);
        exec("GRANT SELECT, INSERT ON box_pieces TO " + quoted);
        exec("GRANT SELECT ON tokens, schema_version TO " + quoted);
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

}  // namespace vek::history
