#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/AppendFile.h"

namespace vek {

// Where a visit stopped short: the step under way and the packet it had reached.
struct StoppedAt {
    std::string step;  // "upload", "read", "write" or "verify"
    uint32_t packet = 0, packets = 0;
};

// One visit of a box at the provisioning station, as its record line says it.
struct VisitRecord {
    std::string time;  // the visit's start, ISO 8601 UTC
    std::string toolVersion;
    std::string port, stableName, identifier;
    int hardwareType = -1;  // -1: not identified
    std::string firmwareBefore, firmwareAfter;
    std::string profile;
    std::string block;  // SHA-256 of the block written, or "unchanged"
    // SHA-256 of the block read before any write, and of the block held after the visit
    std::string blockBefore, blockAfter;
    std::vector<std::string> actions;  // the steps begun, in order
    std::optional<StoppedAt> stoppedAt;
    std::string result;  // "serviced", "current", "failed" or "interrupted"
    std::string reason;  // why it failed, a stable identifier
    std::string error;   // the error's text
    double seconds = 0;
};

// The visit's own fields, as its record line holds them besides its place in the journal.
QJsonObject visitFields(const VisitRecord& visit);

// The record of visits, the station's journal: JSON Lines, appended one visit a line with a single
// write, flushed to the disk before the next, so that a crash or a pulled cord never spoils an
// earlier line; a line whose write fails is taken back whole. Each line carries its visit's UUID,
// the journal's UUID, its sequence number and the hash of the line before, so the lines form a
// chain that a history server can check. A partial last line that a crash left is closed with a
// line end, skipped by readers and by the chain. One station holds a record at a time; its
// appends are one after another, so the chain stays linear. Thread-safe.
class RecordFile {
  public:
    // CommandFailure kExitFileError when the file cannot be opened, is no regular file or is
    // held by another station. station names the station in every line.
    RecordFile(const std::string& path, const std::string& station);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    bool hadPartialLine() const { return hadPartialLine_; }
    // Throws CommandFailure kExitFileError when the line cannot be written whole.
    void append(const VisitRecord& visit);

  private:
    void continueChain();

    std::string path_;
    std::unique_ptr<AppendFile> file_;
    bool hadPartialLine_ = false;
    std::mutex mutex_;
    QString station_, journal_, prev_;
    qint64 seq_ = 0;  // of the last line
};

// The host's name, the station's name unless it is given one.
std::string defaultStationName();

// What a record holds: the totals by result and the last visit of each box.
struct RecordSummary {
    std::map<std::string, int> totals;             // by result
    std::map<std::string, VisitRecord> lastVisit;  // by identifier
    int visits = 0;
    int skippedLines = 0;  // lines that are no visit (a partial line left by a crash)
};
// CommandFailure kExitFileError when file holds lines but none is a visit: it is no record.
RecordSummary summarizeRecord(const QByteArray& contents, const std::string& file);

// The last visits as CSV, a header and a row per box, for a spreadsheet.
std::string lastVisitsCsv(const RecordSummary& summary);

}  // namespace vek
