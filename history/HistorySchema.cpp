#include "history/HistorySchema.h"

namespace vek::history {

namespace {

QStringList firstSchema(bool postgres) {
    const QString bytes = postgres ? "BYTEA" : "BLOB";
    QStringList statements{
        "CREATE TABLE schema_version (version INTEGER NOT NULL)",
        // Times are UTC text "yyyy-MM-ddTHH:mm:ss.zzzZ": their text order is their time order.
        "CREATE TABLE visits (visit TEXT PRIMARY KEY, journal TEXT NOT NULL, seq BIGINT,"
        " prev TEXT NOT NULL, line_hash TEXT NOT NULL, station TEXT NOT NULL, time TEXT NOT NULL,"
        " identifier TEXT NOT NULL, identifier_key TEXT NOT NULL, firmware TEXT NOT NULL,"
        " profile TEXT NOT NULL, result TEXT NOT NULL, received_at TEXT NOT NULL,"
        " line " +
            bytes + " NOT NULL)",
        "CREATE INDEX visits_by_time ON visits (time, visit)",
        "CREATE INDEX visits_by_box ON visits (identifier_key, time, visit)",
        "CREATE INDEX visits_by_journal ON visits (journal, seq)",
        "CREATE INDEX visits_by_station ON visits (station, time, visit)",
        "CREATE TABLE conflicts (visit TEXT NOT NULL, line_hash TEXT NOT NULL,"
        " station TEXT NOT NULL, received_at TEXT NOT NULL, line " +
            bytes +
            " NOT NULL,"
            " PRIMARY KEY (visit, line_hash))",
        // Each box's latest visit, kept with every insert so that lists never scan the visits.
        "CREATE TABLE boxes (identifier_key TEXT PRIMARY KEY, identifier TEXT NOT NULL,"
        " last_time TEXT NOT NULL, last_visit TEXT NOT NULL, station TEXT NOT NULL,"
        " firmware TEXT NOT NULL, profile TEXT NOT NULL, result TEXT NOT NULL)",
        "CREATE INDEX boxes_by_time ON boxes (last_time, last_visit)",
        "CREATE TABLE journals (journal TEXT PRIMARY KEY, station TEXT NOT NULL,"
        " last_seq BIGINT NOT NULL, last_hash TEXT NOT NULL, lines BIGINT NOT NULL)",
        "CREATE INDEX journals_by_station ON journals (station)",
        "CREATE TABLE stations (station TEXT PRIMARY KEY, last_received TEXT NOT NULL,"
        " last_visit TEXT NOT NULL, least_lag_ms BIGINT NOT NULL)",
        "CREATE TABLE tokens (hash TEXT PRIMARY KEY,"
        " role TEXT NOT NULL CHECK (role IN ('station', 'reader')), name TEXT NOT NULL,"
        " created_at TEXT NOT NULL)",
    };
    // Visits and conflicts are append-only whoever connects; the owner must drop the trigger
    // on purpose to change one, and verify finds what was changed.
    if (postgres) {
        statements << "CREATE FUNCTION vekhistory_append_only() RETURNS trigger LANGUAGE plpgsql"
                      " AS $$ BEGIN RAISE EXCEPTION 'as visitas só aceitam inclusões'; END $$";
        for (const char* table : {"visits", "conflicts"}) {
            statements << QString(
                              "CREATE TRIGGER %1_append_only BEFORE UPDATE OR DELETE ON %1"
                              " FOR EACH ROW EXECUTE FUNCTION vekhistory_append_only()")
                              .arg(table)
                       << QString(
                              "CREATE TRIGGER %1_no_truncate BEFORE TRUNCATE ON %1"
                              " FOR EACH STATEMENT EXECUTE FUNCTION vekhistory_append_only()")
                              .arg(table)
                       << QString("REVOKE UPDATE, DELETE, TRUNCATE ON %1 FROM PUBLIC").arg(table);
        }
    } else {
        for (const char* table : {"visits", "conflicts"})
            for (const char* change : {"UPDATE", "DELETE"})
                statements << QString(
                                  "CREATE TRIGGER %1_no_%2 BEFORE %3 ON %1 BEGIN"
                                  " SELECT RAISE(ABORT, 'as visitas só aceitam inclusões'); END")
                                  .arg(table, QString(change).toLower(), change);
    }
    statements << "INSERT INTO schema_version (version) VALUES (0)";
    return statements;
}

// A new table written with every insert: the server roles an earlier program let write the boxes
// may write it too, or their next batch would be refused.
QString grantToBoxWriters(const QString& privilegesOnTables) {
    return "DO $$ DECLARE writer name; BEGIN FOR writer IN SELECT DISTINCT grantee"
           " FROM information_schema.role_table_grants WHERE table_name = 'boxes'"
           " AND privilege_type = 'INSERT' AND grantee <> current_user LOOP"
           " EXECUTE format('GRANT " +
           privilegesOnTables + " TO %I', writer); END LOOP; END $$";
}

// Visits counted by the UTC hour they began, the day it was at their station, result and reason,
// kept with every insert so that the fleet's overview never scans the visits; and the backlog
// each station last told.
QStringList fleetSummaries(bool postgres) {
    QStringList statements{
        "CREATE TABLE visit_counts (hour TEXT NOT NULL, day TEXT NOT NULL, result TEXT NOT NULL,"
        " reason TEXT NOT NULL, visits BIGINT NOT NULL, PRIMARY KEY (hour, day, result, reason))",
        "CREATE TABLE station_backlogs (station TEXT PRIMARY KEY, backlog BIGINT NOT NULL,"
        " reported_at TEXT NOT NULL)",
    };
    if (postgres)
        statements << grantToBoxWriters("SELECT, INSERT, UPDATE ON visit_counts, station_backlogs");
    return statements;
}

// Boxes found by any piece of their identifier through its trigrams, not by reading them all.
// SQLite keeps the pieces in a table of their own, filled in the insert's transaction by a
// trigger; a box's key never changes, so only a new box adds to it.
QStringList boxPieceIndex(bool postgres) {
    if (postgres)
        return {"CREATE EXTENSION IF NOT EXISTS pg_trgm",
                "CREATE INDEX boxes_by_piece ON boxes USING gin (identifier_key gin_trgm_ops)"};
    return {"CREATE VIRTUAL TABLE box_pieces USING fts5(identifier_key, tokenize = 'trigram')",
            "INSERT INTO box_pieces (identifier_key) SELECT identifier_key FROM boxes",
            "CREATE TRIGGER boxes_pieces AFTER INSERT ON boxes BEGIN"
            " INSERT INTO box_pieces (identifier_key) VALUES (new.identifier_key); END"};
}

// PostgreSQL's trigrams move to a table of their own too, filled by a trigger on new boxes: the
// many updates of the boxes' latest state then no longer feed a trigram index.
QStringList postgresPiecesApart(bool postgres) {
    if (!postgres)
        return {};
    return {
        "DROP INDEX boxes_by_piece", "CREATE TABLE box_pieces (identifier_key TEXT PRIMARY KEY)",
        "INSERT INTO box_pieces (identifier_key) SELECT identifier_key FROM boxes",
        // A new box goes straight into the index rather than into a list every search reads
        // through until a vacuum: new boxes are few, searches many.
        "CREATE INDEX box_pieces_by_trigram ON box_pieces USING gin (identifier_key gin_trgm_ops)"
        " WITH (fastupdate = off)",
        "CREATE FUNCTION vekhistory_box_pieces() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
        " INSERT INTO box_pieces (identifier_key) SELECT identifier_key FROM added;"
        " RETURN NULL; END $$",
        "CREATE TRIGGER boxes_pieces AFTER INSERT ON boxes REFERENCING NEW TABLE AS added"
        " FOR EACH STATEMENT EXECUTE FUNCTION vekhistory_box_pieces()",
        grantToBoxWriters("SELECT, INSERT ON box_pieces")};
}

}  // namespace

QStringList migrationStatements(int from, bool postgres) {
    switch (from) {
        case 0:
            return firstSchema(postgres);
        case 1:
            // The seq a journal's chain is known intact through, from 1.
            return {"ALTER TABLE journals ADD COLUMN checked_seq BIGINT NOT NULL DEFAULT 0"};
        case 2:
            return fleetSummaries(postgres);
        case 3:
            return boxPieceIndex(postgres);
        case 4:
            return postgresPiecesApart(postgres);
        default:
            return {};
    }
}

}  // namespace vek::history
