#include "cli/Record.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUuid>
#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "cli/ExitCode.h"
#include "cli/Files.h"
#include "history/CsvField.h"
#include "history/JournalLine.h"

namespace vek {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

std::string textOf(const QJsonObject& o, const char* key) {
    return o.value(key).toString().toStdString();
}

[[noreturn]] void fileFailure(const std::string& path, const std::system_error& error) {
    if (error.code() == std::errc::resource_unavailable_try_again)
        throw CommandFailure(kExitFileError, "record_in_use",
                             path +
                                 ": o registro está em uso por outra estação (outro vekctl "
                                 "provision); espere que ela termine ou use outro --record");
    throw CommandFailure(
        kExitFileError, "record_unwritable",
        path + ": não foi possível gravar no registro (" + error.code().message() + ")");
}

}  // namespace

QJsonObject visitFields(const VisitRecord& v) {
    QJsonArray actions;
    for (const std::string& a : v.actions)
        actions.append(text(a));
    QJsonObject line{{"time", text(v.time)},
                     {"tool_version", text(v.toolVersion)},
                     {"port", text(v.port)},
                     {"stable_name", text(v.stableName)},
                     {"identifier", text(v.identifier)},
                     {"hardware_type", v.hardwareType},
                     {"firmware_before", text(v.firmwareBefore)},
                     {"firmware_after", text(v.firmwareAfter)},
                     {"profile", text(v.profile)},
                     {"block", text(v.block)},
                     {"block_before", text(v.blockBefore)},
                     {"block_after", text(v.blockAfter)},
                     {"actions", actions},
                     {"result", text(v.result)},
                     {"reason", text(v.reason)},
                     {"error", text(v.error)},
                     {"duration_s", qRound(v.seconds * 1000) / 1000.0}};
    if (v.stoppedAt)
        line.insert("stopped_at", QJsonObject{{"step", text(v.stoppedAt->step)},
                                              {"packet", qint64(v.stoppedAt->packet)},
                                              {"packets", qint64(v.stoppedAt->packets)}});
    return line;
}

std::string defaultStationName() {
    return QSysInfo::machineHostName().toStdString();
}

RecordFile::RecordFile(const std::string& path, const std::string& station)
    : path_(path), station_(QString::fromStdString(station)) {
    requireRegularFile(path, true);
    try {
        file_ = std::make_unique<AppendFile>(path);
        // A crash mid-write leaves a line without its end: close it, so that ours start afresh.
        if (!file_->endsWithLineEnd()) {
            hadPartialLine_ = true;
            file_->appendSynced("\n", 1);
        }
    } catch (const std::system_error& error) {
        fileFailure(path, error);
    }
    continueChain();
}

RecordFile::~RecordFile() = default;

// The chain goes on from the journal's last whole line; a file with none starts a journal.
void RecordFile::continueChain() {
    QFile file(QString::fromStdString(path_));
    QByteArray tail;
    if (file.open(QIODevice::ReadOnly)) {
        file.seek(std::max<qint64>(0, file.size() - 2 * history::kMaxLineBytes));
        tail = file.readAll();
    }
    const QList<QByteArray> lines = tail.split('\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const history::ParsedLine parsed = history::parseJournalLine(*line);
        if (!parsed.ok() || parsed.line.legacy)
            continue;
        journal_ = parsed.line.chain.journal;
        seq_ = parsed.line.chain.seq;
        prev_ = parsed.line.hash;
        return;
    }
    journal_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
}

void RecordFile::append(const VisitRecord& visit) {
    const QJsonObject fields = visitFields(visit);
    const std::lock_guard lock(mutex_);
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    const QString utcOffset = QString::asprintf(
        "%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 3600, std::abs(offset) / 60 % 60);
    const history::ChainFields chain{QUuid::createUuid().toString(QUuid::WithoutBraces),
                                     journal_,
                                     seq_ + 1,
                                     prev_,
                                     station_,
                                     utcOffset};
    const QByteArray line = history::buildJournalLine(fields, chain);
    try {
        file_->appendSynced(line.data(), std::size_t(line.size()));
    } catch (const std::system_error& error) {
        fileFailure(path_, error);
    }
    seq_ = chain.seq;
    prev_ = history::lineHash(QByteArrayView(line).chopped(1));
}

RecordSummary summarizeRecord(const QByteArray& contents, const std::string& file) {
    RecordSummary summary;
    for (const QByteArray& line : contents.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
        if (error.error != QJsonParseError::NoError || !o.contains("result")) {
            ++summary.skippedLines;
            continue;
        }
        VisitRecord v;
        v.time = textOf(o, "time");
        v.toolVersion = textOf(o, "tool_version");
        v.port = textOf(o, "port");
        v.stableName = textOf(o, "stable_name");
        v.identifier = textOf(o, "identifier");
        v.hardwareType = o.value("hardware_type").toInt(-1);
        v.firmwareBefore = textOf(o, "firmware_before");
        v.firmwareAfter = textOf(o, "firmware_after");
        v.profile = textOf(o, "profile");
        v.block = textOf(o, "block");
        for (const QJsonValue& a : o.value("actions").toArray())
            v.actions.push_back(a.toString().toStdString());
        v.result = textOf(o, "result");
        v.reason = textOf(o, "reason");
        v.error = textOf(o, "error");
        v.seconds = o.value("duration_s").toDouble();
        if (const QJsonObject stopped = o.value("stopped_at").toObject(); !stopped.isEmpty())
            v.stoppedAt =
                StoppedAt{textOf(stopped, "step"), uint32_t(stopped.value("packet").toInteger()),
                          uint32_t(stopped.value("packets").toInteger())};
        ++summary.visits;
        ++summary.totals[v.result];
        // Times are ISO 8601 in UTC, so their text order is their order in time.
        const std::string key = v.identifier.empty() ? "port " + v.port : v.identifier;
        const auto known = summary.lastVisit.find(key);
        if (known == summary.lastVisit.end() || known->second.time <= v.time)
            summary.lastVisit[key] = std::move(v);
    }
    if (summary.visits == 0 && summary.skippedLines > 0)
        throw CommandFailure(kExitFileError, "not_a_record",
                             file + ": não é um registro de visitas do vekctl (nenhuma das " +
                                 std::to_string(summary.skippedLines) + " linhas é uma visita)");
    return summary;
}

std::string lastVisitsCsv(const RecordSummary& summary) {
    std::string csv =
        "identifier,time,port,stable_name,hardware_type,firmware_before,firmware_after,profile,"
        "block,actions,result,reason,error,duration_s\n";
    for (const auto& [key, v] : summary.lastVisit) {
        std::string actions;
        for (const std::string& a : v.actions) {
            if (!actions.empty())
                actions += ' ';
            actions += a;
        }
        const std::vector<std::string> fields{
            v.identifier,
            v.time,
            v.port,
            v.stableName,
            v.hardwareType < 0 ? "" : std::to_string(v.hardwareType),
            v.firmwareBefore,
            v.firmwareAfter,
            v.profile,
            v.block,
            actions,
            v.result,
            v.reason,
            v.error,
            QString::number(v.seconds, 'f', 3).toStdString()};
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0)
                csv += ',';
            history::appendCsvField(csv, fields[i]);
        }
        csv += "\n";
    }
    return csv;
}

}  // namespace vek
