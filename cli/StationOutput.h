#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "cli/JournalSync.h"
#include "cli/Record.h"

namespace vek {

// What the provisioning station tells, from the threads of its visits: on a terminal a table with
// a row per port redrawn in place; off a terminal one line per event, each prefixed with its port
// and never mixed with another; with json one object per event (progress a few times a second).
class StationOutput {
  public:
    enum class Mode { Table, Lines, Json };
    explicit StationOutput(Mode mode);
    static Mode modeFor(bool json);

    void begin(const std::string& port);
    void phase(const std::string& port, const char* phase, const std::string& identifier);
    void progress(const std::string& port, uint32_t done, uint32_t total);
    void end(const VisitRecord& visit);
    void message(const std::string& text);  // a line of its own, on standard error
    // The journal's sync with the history server: its backlog and why it waits, when it changes.
    void sync(const SyncState& state);
    // The totals at the end: serviced, already current, failed by reason, interrupted.
    void summary(const std::map<std::string, int>& results,
                 const std::map<std::string, int>& failures);

  private:
    struct Row {
        std::string identifier, phase, result;
        uint32_t done = 0, total = 0;
        std::chrono::steady_clock::time_point phaseStarted{}, lastShown{};
        bool finished = false;
        uint64_t order = 0;
    };
    void line(const std::string& port, const std::string& text);
    void redrawLocked(bool force);

    Mode mode_;
    std::mutex mutex_;
    std::map<std::string, Row> rows_;
    uint64_t nextOrder_ = 0;
    int drawnLines_ = 0;
    std::string syncLine_;  // the table's footer
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace vek
