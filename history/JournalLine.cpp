#include "history/JournalLine.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUuid>
#include <algorithm>
#include <array>
#include <cmath>

namespace vek::history {

namespace {

// The name space of the UUIDs derived from the bytes of lines written before the chain.
const QUuid kLegacyNamespace{"6c0f4a3e-2b7d-4d61-9a58-1f3e8c2d7b90"};

enum class Kind { Text, Integer, Number, TextList, StoppedAt };

struct FieldRule {
    const char* key;
    Kind kind;
};

// The keys a line may hold and what each must be; other keys are kept as they come.
constexpr std::array kFieldRules{
    FieldRule{"visit", Kind::Text},
    FieldRule{"journal", Kind::Text},
    FieldRule{"seq", Kind::Integer},
    FieldRule{"prev", Kind::Text},
    FieldRule{"station", Kind::Text},
    FieldRule{"time", Kind::Text},
    FieldRule{"utc_offset", Kind::Text},
    FieldRule{"tool_version", Kind::Text},
    FieldRule{"port", Kind::Text},
    FieldRule{"stable_name", Kind::Text},
    FieldRule{"identifier", Kind::Text},
    FieldRule{"hardware_type", Kind::Integer},
    FieldRule{"firmware_before", Kind::Text},
    FieldRule{"firmware_after", Kind::Text},
    FieldRule{"profile", Kind::Text},
    FieldRule{"block", Kind::Text},
    FieldRule{"block_before", Kind::Text},
    FieldRule{"block_after", Kind::Text},
    FieldRule{"actions", Kind::TextList},
    FieldRule{"result", Kind::Text},
    FieldRule{"reason", Kind::Text},
    FieldRule{"error", Kind::Text},
    FieldRule{"duration_s", Kind::Number},
    FieldRule{"stopped_at", Kind::StoppedAt},
};

constexpr std::array kResults{"serviced", "current", "failed", "interrupted"};

// Integers up to 2^53 are exact in a JSON number.
bool isInteger(const QJsonValue& v) {
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    return std::isfinite(d) && d == std::floor(d) && std::fabs(d) <= 9007199254740992.0;
}

bool isTextList(const QJsonValue& v) {
    if (!v.isArray())
        return false;
    for (const QJsonValue& item : v.toArray())
        if (!item.isString())
            return false;
    return true;
}

bool isStoppedAt(const QJsonValue& v) {
    if (!v.isObject())
        return false;
    const QJsonObject o = v.toObject();
    return o.value("step").isString() && isInteger(o.value("packet")) &&
           isInteger(o.value("packets"));
}

bool hasKind(const QJsonValue& v, Kind kind) {
    switch (kind) {
        case Kind::Text:
            return v.isString();
        case Kind::Integer:
            return isInteger(v);
        case Kind::Number:
            return v.isDouble();
        case Kind::TextList:
            return isTextList(v);
        case Kind::StoppedAt:
            return isStoppedAt(v);
    }
    return false;
}

bool isUuid(const QString& s) {
    return s.size() == 36 && !QUuid::fromString(s).isNull();
}

bool isSha256Hex(const QString& s) {
    static const QRegularExpression hex("^[0-9a-f]{64}$");
    return hex.match(s).hasMatch();
}

bool isEmptyOrSha256Hex(const QString& s) {
    return s.isEmpty() || isSha256Hex(s);
}

bool isUtcOffset(const QString& s) {
    static const QRegularExpression offset("^[+-]\\d\\d:\\d\\d$");
    return offset.match(s).hasMatch();
}

// The time with its offset ("Z" or "+hh:mm") in UTC with milliseconds, so that text order is
// time order; empty when the text is no time or has no offset.
QString utcTime(const QString& text) {
    const QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid() || t.timeSpec() == Qt::LocalTime)
        return {};
    return t.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzz'Z'");
}

bool isValidUtf8(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8.decode(bytes);
    return !utf8.hasError();
}

ParsedLine refused(const QString& reason, const QString& message) {
    ParsedLine parsed;
    parsed.refusal = {reason, message};
    return parsed;
}

QString uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces);
}

LineRefusal chainRefusal(const JournalLine& line) {
    const ChainFields& c = line.chain;
    if (!isUuid(c.visit) || !isUuid(c.journal))
        return {"invalid_value", "visit e journal devem ser UUIDs"};
    if (c.seq < 1)
        return {"invalid_value", "seq deve ser 1 ou maior"};
    if (!isEmptyOrSha256Hex(c.prev) || (c.seq == 1) != c.prev.isEmpty())
        return {"invalid_value",
                "prev deve ser vazio na primeira linha e o SHA-256 da anterior nas demais"};
    if (c.station.isEmpty())
        return {"missing_field", "falta o campo station"};
    if (!c.utcOffset.isEmpty() && !isUtcOffset(c.utcOffset))
        return {"invalid_value", "utc_offset deve ser da forma -03:00"};
    return {};
}

}  // namespace

QString lineHash(QByteArrayView bytesWithoutLineEnd) {
    return QString::fromLatin1(
        QCryptographicHash::hash(bytesWithoutLineEnd, QCryptographicHash::Sha256).toHex());
}

QString legacyJournal() {
    return uuidText(QUuid::createUuidV5(kLegacyNamespace, QString("legacy journal")));
}

QString legacyVisitId(QByteArrayView bytesWithoutLineEnd) {
    return uuidText(QUuid::createUuidV5(kLegacyNamespace, lineHash(bytesWithoutLineEnd)));
}

QString identifierKey(const QString& identifier) {
    QString key;
    for (const QChar c : identifier)
        if (c != '-' && !c.isSpace())
            key += c.toUpper();
    return key;
}

ParsedLine parseJournalLine(QByteArrayView bytes) {
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    if (bytes.size() > kMaxLineBytes)
        return refused("line_too_long", QString("a linha passa de %1 bytes").arg(kMaxLineBytes));
    if (!isValidUtf8(bytes))
        return refused("invalid_utf8", "a linha não é UTF-8 válido");
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return refused("malformed_json", "a linha não é um objeto JSON");

    ParsedLine parsed;
    JournalLine& line = parsed.line;
    line.bytes = bytes.toByteArray();
    line.hash = lineHash(bytes);
    line.fields = document.object();
    const QJsonObject& o = line.fields;
    for (const FieldRule& rule : kFieldRules)
        if (o.contains(rule.key) && !hasKind(o.value(rule.key), rule.kind))
            return refused("wrong_type", QString("o campo %1 tem o tipo errado").arg(rule.key));
    for (const char* key : {"time", "result"})
        if (!o.contains(key))
            return refused("missing_field", QString("falta o campo %1").arg(key));

    line.result = o.value("result").toString();
    if (std::find(kResults.begin(), kResults.end(), line.result) == kResults.end())
        return refused("unknown_result",
                       "result deve ser serviced, current, failed ou interrupted");
    line.time = utcTime(o.value("time").toString());
    if (line.time.isEmpty())
        return refused("invalid_value", "time deve ser uma data e hora ISO 8601 com fuso");
    for (const char* key : {"block_before", "block_after"})
        if (!isEmptyOrSha256Hex(o.value(key).toString()))
            return refused("invalid_value",
                           QString("%1 deve ser um SHA-256 em hexadecimal").arg(key));
    line.identifier = o.value("identifier").toString();
    line.firmwareBefore = o.value("firmware_before").toString();
    line.firmwareAfter = o.value("firmware_after").toString();
    line.profile = o.value("profile").toString();
    line.durationSeconds = o.value("duration_s").toDouble();

    ChainFields& chain = line.chain;
    chain.station = o.value("station").toString();
    chain.utcOffset = o.value("utc_offset").toString();
    line.legacy = !o.contains("visit") && !o.contains("journal") && !o.contains("seq");
    if (line.legacy) {
        chain.visit = legacyVisitId(bytes);
        chain.journal = legacyJournal();
        return parsed;
    }
    for (const char* key : {"visit", "journal", "seq", "prev", "station"})
        if (!o.contains(key))
            return refused("missing_field", QString("falta o campo %1").arg(key));
    chain.visit = o.value("visit").toString();
    chain.journal = o.value("journal").toString();
    chain.seq = qint64(o.value("seq").toDouble());
    chain.prev = o.value("prev").toString();
    parsed.refusal = chainRefusal(line);
    return parsed;
}

QByteArray buildJournalLine(const QJsonObject& visitFields, const ChainFields& chain) {
    QJsonObject line = visitFields;
    line.insert("visit", chain.visit);
    line.insert("journal", chain.journal);
    line.insert("seq", chain.seq);
    line.insert("prev", chain.prev);
    line.insert("station", chain.station);
    line.insert("utc_offset", chain.utcOffset);
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

}  // namespace vek::history
