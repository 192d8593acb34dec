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
#include <numeric>

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

// LIKE sees only what the user typed: its wildcards are escaped.
QString likePattern(const QString& piece) {
    QString escaped = identifierKey(piece);
    escaped.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_");
    return "%" + escaped + "%";
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
        where.add("identifier_key LIKE ? ESCAPE '\\'", likePattern(f.search));
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
        ++chain.lines;
        if (chain.firstSeq == 0 || line.chain.seq < chain.firstSeq)
            chain.firstSeq = line.chain.seq;
        if (line.chain.seq > chain.lastSeq) {
            chain.lastSeq = line.chain.seq;
            chain.lastHash = line.hash;
        }
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
    }
    migrate();
}

HistoryStore::~HistoryStore() {
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

void HistoryStore::exec(const QString& sql) {
    QSqlQuery query(db_);
    if (!query.exec(sql))
        throw StoreError(("erro no banco de dados: " + query.lastError().text()).toStdString());
}

void HistoryStore::begin() {
    // SQLite takes the write lock at once, so that a reader's snapshot never has to be upgraded.
    exec(postgres_ ? "BEGIN" : "BEGIN IMMEDIATE");
}

void HistoryStore::commit() {
    exec("COMMIT");
}

void HistoryStore::rollback() {
    QSqlQuery(db_).exec("ROLLBACK");
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
    std::sort(order.begin(), order.end(), [&lines](std::size_t a, std::size_t b) {
        return lines[a].line->chain.visit < lines[b].line->chain.visit;
    });
    const QString receivedAt = nowUtc();
    std::vector<IngestOutcome> outcomes(lines.size());
    begin();
    try {
        BatchSummary stored;
        for (const std::size_t i : order) {
            const JournalLine& line = *lines[i].line;
            const QString station =
                line.chain.station.isEmpty() ? lines[i].station : line.chain.station;
            outcomes[i] = insertVisit(line, station, receivedAt);
            if (outcomes[i] == IngestOutcome::Stored)
                stored.add(line, station, receivedAt);
        }
        updateSummaries(stored, receivedAt);
        commit();
        return outcomes;
    } catch (...) {
        rollback();
        throw;
    }
}

IngestOutcome HistoryStore::insertVisit(const JournalLine& line, const QString& station,
                                        const QString& receivedAt) {
    QSqlQuery insert = prepare(
        "INSERT INTO visits (visit, journal, seq, prev, line_hash, station, time, identifier,"
        " identifier_key, firmware, profile, result, received_at, line)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (visit) DO NOTHING");
    for (const QVariant& value :
         {text(line.chain.visit), text(line.chain.journal),
          line.legacy ? QVariant() : QVariant(line.chain.seq), text(line.chain.prev),
          text(line.hash), text(station), text(line.time), text(line.identifier),
          text(identifierKey(line.identifier)), text(firmwareHeld(line)), text(line.profile),
          text(line.result), text(receivedAt), QVariant(line.bytes)})
        insert.addBindValue(value);
    run(insert);
    if (insert.numRowsAffected() == 1)
        return IngestOutcome::Stored;
    QSqlQuery known = prepare("SELECT line_hash FROM visits WHERE visit = ?");
    known.addBindValue(line.chain.visit);
    run(known);
    if (known.next() && known.value(0).toString() == line.hash)
        return IngestOutcome::Duplicate;
    known.finish();
    QSqlQuery conflict = prepare(
        "INSERT INTO conflicts (visit, line_hash, station, received_at, line)"
        " VALUES (?, ?, ?, ?, ?) ON CONFLICT (visit, line_hash) DO NOTHING");
    for (const QVariant& value : {text(line.chain.visit), text(line.hash), text(station),
                                  text(receivedAt), QVariant(line.bytes)})
        conflict.addBindValue(value);
    run(conflict);
    return IngestOutcome::Conflict;
}

void HistoryStore::updateSummaries(const BatchSummary& stored, const QString& receivedAt) {
    QSqlQuery box = prepare(
        "INSERT INTO boxes (identifier_key, identifier, last_time, last_visit, station,"
        " firmware, profile, result) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"
        " ON CONFLICT (identifier_key) DO UPDATE SET identifier = excluded.identifier,"
        " last_time = excluded.last_time, last_visit = excluded.last_visit,"
        " station = excluded.station, firmware = excluded.firmware,"
        " profile = excluded.profile, result = excluded.result"
        " WHERE (excluded.last_time, excluded.last_visit) > (boxes.last_time, boxes.last_visit)");
    for (const auto& [key, latest] : stored.boxes) {
        const JournalLine& line = *latest.line;
        for (const QVariant& value :
             {text(key), text(line.identifier), text(line.time), text(line.chain.visit),
              text(latest.station), text(firmwareHeld(line)), text(line.profile),
              text(line.result)})
            box.addBindValue(value);
        run(box);
    }
    QSqlQuery journal = prepare(
        "INSERT INTO journals (journal, station, last_seq, last_hash, lines)"
        " VALUES (?, ?, ?, ?, ?) ON CONFLICT (journal) DO UPDATE SET"
        " lines = journals.lines + excluded.lines,"
        " last_hash = CASE WHEN excluded.last_seq > journals.last_seq"
        " THEN excluded.last_hash ELSE journals.last_hash END,"
        " last_seq = CASE WHEN excluded.last_seq > journals.last_seq"
        " THEN excluded.last_seq ELSE journals.last_seq END");
    // A line at or below the seq the chain was checked through (a second line for a seq) has the
    // check start again below it.
    QSqlQuery uncheck =
        prepare("UPDATE journals SET checked_seq = ? WHERE journal = ? AND checked_seq >= ?");
    for (const auto& [id, chain] : stored.journals) {
        for (const QVariant& value : {text(id), text(chain.station), QVariant(chain.lastSeq),
                                      text(chain.lastHash), QVariant(chain.lines)})
            journal.addBindValue(value);
        run(journal);
        for (const QVariant& value :
             {QVariant(chain.firstSeq - 1), text(id), QVariant(chain.firstSeq)})
            uncheck.addBindValue(value);
        run(uncheck);
    }
    addVisitCounts(stored.counts);
    QSqlQuery station = prepare(
        "INSERT INTO stations (station, last_received, last_visit, least_lag_ms)"
        " VALUES (?, ?, ?, ?) ON CONFLICT (station) DO UPDATE SET"
        " last_received = excluded.last_received, last_visit = excluded.last_visit,"
        " least_lag_ms = CASE WHEN excluded.least_lag_ms < stations.least_lag_ms"
        " THEN excluded.least_lag_ms ELSE stations.least_lag_ms END");
    for (const auto& [name, seen] : stored.stations) {
        for (const QVariant& value :
             {text(name), text(receivedAt), text(seen.lastVisit), QVariant(seen.leastLagMs)})
            station.addBindValue(value);
        run(station);
    }
}

void HistoryStore::addVisitCounts(const std::map<CountKey, qint64>& counts) {
    QSqlQuery count = prepare(
        "INSERT INTO visit_counts (hour, day, result, reason, visits) VALUES (?, ?, ?, ?, ?)"
        " ON CONFLICT (hour, day, result, reason) DO UPDATE SET"
        " visits = visit_counts.visits + excluded.visits");
    for (const auto& [key, visits] : counts) {
        for (const QVariant& value :
             {text(key.hour), text(key.day), text(key.result), text(key.reason), QVariant(visits)})
            count.addBindValue(value);
        run(count);
    }
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
    Where where = filterWhere(filter, "last_time");
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

JournalState HistoryStore::journalState(const QString& journal, ChainCheck check) {
    JournalState state;
    QSqlQuery head = prepare(
        "SELECT station, last_seq, last_hash, lines, checked_seq FROM journals WHERE journal = ?");
    head.addBindValue(journal);
    run(head);
    if (!head.next())
        return state;
    state = {journal,
             head.value(0).toString(),
             head.value(2).toString(),
             head.value(1).toLongLong(),
             head.value(3).toLongLong(),
             {},
             {}};
    const qint64 checked = head.value(4).toLongLong();
    head.finish();
    // Nothing came since the whole chain was found intact.
    if (check == ChainCheck::Tail && checked == state.lastSeq && state.lines == state.lastSeq)
        return state;
    const qint64 from = check == ChainCheck::Whole ? 0 : checked;
    followChain(state, from);
    if (check == ChainCheck::Tail)
        rememberCheckedPrefix(state, checked);
    return state;
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
    QSqlQuery query = prepare(
        "SELECT station, last_received, last_visit, least_lag_ms FROM stations ORDER BY station");
    run(query);
    while (query.next())
        result.push_back({query.value(0).toString(),
                          query.value(1).toString(),
                          query.value(2).toString(),
                          -query.value(3).toLongLong(),
                          {}});
    for (StationState& station : result) {
        QSqlQuery journals =
            prepare("SELECT journal FROM journals WHERE station = ? ORDER BY journal");
        journals.addBindValue(station.station);
        run(journals);
        // A PostgreSQL connection streams one query's rows at a time: read them all first.
        QStringList names;
        while (journals.next())
            names << journals.value(0).toString();
        for (const QString& name : names)
            station.journals.push_back(journalState(name, ChainCheck::Tail));
    }
    return result;
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
    QSqlQuery journals = prepare("SELECT journal FROM journals ORDER BY journal");
    run(journals);
    QStringList names;
    while (journals.next())
        names << journals.value(0).toString();
    for (const QString& name : names) {
        JournalState state = journalState(name, ChainCheck::Whole);
        if (!state.intact())
            report.brokenJournals.push_back(std::move(state));
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
        exec("GRANT SELECT ON tokens, schema_version TO " + quoted);
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

}  // namespace vek::history
