#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/ConfigBlock.h"
#include "sim/SimFaults.h"
#include "sim/SimModel.h"

namespace vek {

class SimBoxLoop;

// One thread that serves many boxes: each wakeup serves every box with bytes in or a write due, so
// that a bench's many boxes do not cost a thread and its wakeups each. Outlives its boxes.
class SimBoxGroup {
  public:
    SimBoxGroup();
    ~SimBoxGroup();
    SimBoxGroup(const SimBoxGroup&) = delete;
    SimBoxGroup& operator=(const SimBoxGroup&) = delete;

  private:
    friend class SimBox;
    std::unique_ptr<SimBoxLoop> loop_;
};

// A box on the master side of a pseudo-terminal, served by a thread of its own or by its group's.
// Thread-safe: every public member may be called from any thread but the one serving the box.
//
// How it lives with the Linux pseudo-terminal:
// - The slave is set raw through a short open of its own at construction, before any byte
//   passes: a cooked slave would echo the tool's frames back and translate line ends. The
//   settings stay with the terminal after that descriptor is closed.
// - The box keeps no slave descriptor, so the tool's exclusive open works as against a device.
// - With no slave descriptor open the master polls hang-up at once and reads fail with EIO: the
//   box then takes nobody to be connected, leaves the master out of its poll (it would wake at
//   once for ever) and writes nothing, since bytes written then would wait in the slave's queue
//   for the next opener. It learns of the tool's open from an inotify watch on the slave's node
//   (a 50 ms check where that watch cannot be made) and then finds hang-up gone.
// - hangUp() closes the master: the tool's slave then polls hang-up for good and reads 0.
//
// On an existing terminal instead (the device side of a USB serial gadget, /dev/ttyGS0), the box
// cannot tell whether the tool has its end open, as a box on a cable cannot: it serves the line
// from the start. The line hangs up when the cable goes; the box then opens it again at once, so
// that the next plug-in finds it serving. Its own hang-up fault does not apply there.
class SimBox {
  public:
    using EventSink = std::function<void(const std::string&)>;

    // Makes the pseudo-terminal, or with a device opens that terminal; throws std::system_error
    // when it cannot. With a group, the group's thread serves the box once started.
    explicit SimBox(SimModel model = {}, SimFaults faults = {}, std::string device = {},
                    SimBoxGroup* group = nullptr);
    ~SimBox();  // stops serving and closes the master
    SimBox(const SimBox&) = delete;
    SimBox& operator=(const SimBox&) = delete;

    // The slave's path, for the tool to open (new after coming back), or the device.
    std::string portPath() const;
    void start();
    void stop();

    SimModel model() const;
    void setModel(const SimModel& model);
    SimFaults faults() const;
    void setFaults(const SimFaults& faults);  // restarts the faults' generator from their seed
    SimStats stats() const;
    std::vector<uint8_t> firmwareReceived() const;  // the last complete image
    ConfigBlockBytes storedConfig() const;

    // One line per event (connection, status, transfer begun or completed, read), called on the
    // thread serving the box with no lock held.
    void setEventSink(EventSink sink);

    // Closes the master as a pulled cable would; the box stays silent until destroyed (or, with
    // the fault comeBackAfterMs, comes back as a new port). Returns when the master is closed.
    void hangUp();

  private:
    friend class SimBoxLoop;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vek
