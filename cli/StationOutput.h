#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/JournalSync.h"
#include "cli/Record.h"

namespace vek {

// What the provisioning station tells, from the threads of its visits. When standard error is a
// terminal, a table with a row per port in port order, redrawn in place to fit the terminal's
// width and height, results in colour (unless NO_COLOR), a footer with the running totals; when
// standard output is no terminal, one line per event, stamped with the time, for a log; with json
// one object per event on standard output (progress a few times a second) and nothing else.
class StationOutput {
  public:
    StationOutput(bool json, bool watch);

    void begin(const std::string& port);
    void phase(const std::string& port, const char* phase, const std::string& identifier);
    void progress(const std::string& port, uint32_t done, uint32_t total);
    void end(const VisitRecord& visit);
    void gone(const std::string& port);     // the box was unplugged after its visit
    void message(const std::string& text);  // a line of its own, on standard error
    // The journal's sync with the history server: its backlog and why it waits, when it changes.
    void sync(const SyncState& state);
    // The totals at the end, each box counted by its last visit, and the boxes whose last visit
    // failed.
    void summary(const std::map<std::string, VisitRecord>& lastVisits);

  private:
    struct Row {
        std::string identifier, phase, result;
        uint32_t done = 0, total = 0;
        std::chrono::steady_clock::time_point phaseStarted{}, lastShown{}, ended{};
        bool finished = false, failed = false, gone = false;
    };
    void line(const std::string& port, const std::string& text);
    void redrawLocked(bool force);
    std::string footerLocked() const;

    bool json_, watch_, table_, lines_, colour_;
    std::mutex mutex_;
    std::map<std::string, Row> rows_;
    std::map<std::string, int> totals_;     // visits ended, by result
    std::vector<std::size_t> drawnWidths_;  // of each line of the last frame
    std::chrono::steady_clock::time_point lastDrawn_{};
    std::string syncLine_;
};

}  // namespace vek
