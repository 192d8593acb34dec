#include "server/VisitCsv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <array>

#include "history/CsvField.h"

namespace vek::history {

namespace {

// The line's own fields, in the columns' order; the visit (derived for a line written before the
// chain), the UTC time and received_at come from the server.
constexpr std::array kLineColumns{
    "journal",        "seq",          "station", "utc_offset",   "identifier",
    "hardware_type",  "tool_version", "port",    "stable_name",  "firmware_before",
    "firmware_after", "profile",      "block",   "block_before", "block_after",
    "result",         "reason",       "error",   "duration_s"};

void appendText(std::string& out, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    appendCsvField(out, std::string_view(utf8.constData(), std::size_t(utf8.size())));
}

// A field's text as the line holds it: a string as it is, a number as written.
void appendValue(std::string& out, const QJsonValue& value) {
    out += ',';
    appendText(out, value.isString() ? value.toString() : value.toVariant().toString());
}

}  // namespace

std::string visitCsvHeader() {
    std::string header = "visit,time";
    for (const char* column : kLineColumns)
        header += std::string(",") + column;
    return header + ",actions,stopped_step,stopped_packet,stopped_packets,received_at\n";
}

void appendVisitCsvRow(std::string& out, const StoredVisit& visit) {
    const QJsonObject line = QJsonDocument::fromJson(visit.line).object();
    appendText(out, visit.visit);
    out += ',';
    appendText(out, visit.time);
    for (const char* column : kLineColumns)
        appendValue(out, line.value(QLatin1StringView(column)));
    QStringList actions;
    for (const QJsonValue& action : line.value(QLatin1StringView("actions")).toArray())
        actions << action.toString();
    out += ',';
    appendText(out, actions.join(' '));
    const QJsonObject stopped = line.value(QLatin1StringView("stopped_at")).toObject();
    for (const char* key : {"step", "packet", "packets"})
        appendValue(out, stopped.value(QLatin1StringView(key)));
    out += ',';
    appendText(out, visit.receivedAt);
    out += '\n';
}

}  // namespace vek::history
