#pragma once

#include <QByteArray>
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
    std::string block;                 // SHA-256 of the block written, or "unchanged"
    std::vector<std::string> actions;  // the steps begun, in order
    std::optional<StoppedAt> stoppedAt;
    std::string result;  // "serviced", "current", "failed" or "interrupted"
    std::string reason;  // why it failed, a stable identifier
    std::string error;   // the error's text
    double seconds = 0;
};

QByteArray recordLine(const VisitRecord& visit);  // one JSON object and a line end

// The record of visits: JSON Lines, appended one visit a line with a single write, flushed to
// the disk before the next, so that a crash or a pulled cord never spoils an earlier line; a line
// whose write fails is taken back whole. A partial last line that a crash left is closed with a
// line end before anything is appended, and readers skip it. One station holds a record at a
// time. Thread-safe.
class RecordFile {
  public:
    // CommandFailure kExitFileError when the file cannot be opened, is no regular file or is
    // held by another station.
    explicit RecordFile(const std::string& path);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    bool hadPartialLine() const { return hadPartialLine_; }
    // Throws CommandFailure kExitFileError when the line cannot be written whole.
    void append(const VisitRecord& visit);

  private:
    std::string path_;
    std::unique_ptr<AppendFile> file_;
    bool hadPartialLine_ = false;
    std::mutex mutex_;
};

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
