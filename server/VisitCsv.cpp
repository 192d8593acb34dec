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

std::string csvText(const QString& value) {
    return csvField(value.toStdString());
}

}  // namespace

std::string visitCsvHeader() {
    std::string header = "visit,time";
    for (const char* column : kLineColumns)
        header += std::string(",") + column;
    return header + ",actions,stopped_step,stopped_packet,stopped_packets,received_at\n";
}

std::string visitCsvRow(const StoredVisit& visit) {
    const QJsonObject line = QJsonDocument::fromJson(visit.line).object();
    std::string row = csvText(visit.visit) + ',' + csvText(visit.time);
    for (const char* column : kLineColumns)
        row += ',' + csvText(line.value(column).toVariant().toString());
    QStringList actions;
    for (const QJsonValue& action : line.value("actions").toArray())
        actions << action.toString();
    row += ',' + csvText(actions.join(' '));
    const QJsonObject stopped = line.value("stopped_at").toObject();
    for (const char* key : {"step", "packet", "packets"})
        row += ',' + csvText(stopped.value(key).toVariant().toString());
    return row + ',' + csvText(visit.receivedAt) + '\n';
}

}  // namespace vek::history
