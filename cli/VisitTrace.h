#pragma once

#include <exception>
#include <string>

#include "cli/BoxLink.h"
#include "cli/Record.h"

namespace vek {

// What a visit to one box did, built up as it goes, for its record line: the steps begun, the
// box's identity and firmware, the blocks before and after, and how it ended.
class VisitTrace {
  public:
    VisitTrace(const std::string& port, const std::string& profile);

    void reachedOn(const std::string& port);
    void identified(const DeviceInfo& info);
    void firmwareNow(const DeviceInfo& info);
    void begin(const char* step);  // "identify", "upload", "read", "write" or "verify"
    void blockRead(const ConfigBlockBytes& block);
    void blockHeld(const ConfigBlockBytes& block);
    void blockUnchanged() { visit_.block = "unchanged"; }
    void blockWritten(const ConfigBlockBytes& block);

    // Ends the visit: successful (serviced, or current when nothing changed), or with the
    // failure in flight, which it tells by kind; where it stopped is taken from link.
    const VisitRecord& succeeded();
    const VisitRecord& failed(std::exception_ptr failure, const BoxLink* link);

    const VisitRecord& record() const { return visit_; }

  private:
    void finish();

    std::chrono::steady_clock::time_point started_;
    VisitRecord visit_;
};

// A port that another program holds is no box's visit: told, never recorded.
bool portHeldElsewhere(const VisitRecord& visit);

// SHA-256 of a configuration block, in hex.
std::string blockHash(const ConfigBlockBytes& block);

}  // namespace vek
