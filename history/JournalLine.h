#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QString>

namespace vek::history {

// The longest journal line taken, without its line end: a visit's line is well under 4 KiB.
constexpr qsizetype kMaxLineBytes = 64 * 1024;

// Where a line stands in its journal: written by the journal's one writer.
struct ChainFields {
    QString visit;    // UUID, lower case without braces
    QString journal;  // the journal file's UUID
    qint64 seq = 0;   // 1, 2, ... in the journal
    QString prev;     // lineHash of the previous line; empty for the first
    QString station;
    QString utcOffset;  // the station's offset from UTC when it wrote the line: "-03:00"
};

// One visit's line of a journal, parsed and checked.
struct JournalLine {
    QByteArray bytes;     // as written, without the line end
    QString hash;         // lineHash(bytes)
    bool legacy = false;  // written before the chain: identity derived from its bytes, no seq
    ChainFields chain;
    QString time;  // the visit's start in UTC, "yyyy-MM-ddTHH:mm:ss.zzzZ" whatever form it came in
    QString identifier, firmwareBefore, firmwareAfter, profile, result;
    double durationSeconds = 0;
    QJsonObject fields;  // everything the line holds
};

// Why a line is refused: a stable identifier for programs and a text for people.
struct LineRefusal {
    QString reason;  // malformed_json, invalid_utf8, line_too_long, wrong_type, missing_field,
                     // unknown_result, invalid_value
    QString message;
};

struct ParsedLine {
    JournalLine line;
    LineRefusal refusal;  // reason empty when the line is good
    bool ok() const { return refusal.reason.isEmpty(); }
};

// Takes a line's bytes with or without its line end ("\n" or "\r\n").
ParsedLine parseJournalLine(QByteArrayView bytes);

// SHA-256 hex of a line's bytes without its line end: the next line's prev.
QString lineHash(QByteArrayView bytesWithoutLineEnd);

// A journal line, with its line end, from a visit's own fields and its place in the chain; the
// chain's keys replace any of the same name in visitFields.
QByteArray buildJournalLine(const QJsonObject& visitFields, const ChainFields& chain);

// The pseudo-journal that lines written before the chain belong to; they are never chained.
QString legacyJournal();
// A stable visit UUID for a line written before the chain, from its bytes alone.
QString legacyVisitId(QByteArrayView bytesWithoutLineEnd);

// "0011a2b3-44..." and "0011A2B344..." name the same box: upper case, no dashes or spaces.
QString identifierKey(const QString& identifier);

}  // namespace vek::history
