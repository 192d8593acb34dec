#pragma once

#include "bench/Figures.h"
#include "config/ConfigBlock.h"
#include "sim/SimModel.h"

namespace vek::bench {

// The flows measured, each against a simulated box of its own with no added delay.
enum class Flow { FirmwareUpload, ConfigRead, ConfigWrite };

// A box that wants the carried firmware, or one that is current and holds a valid configuration.
SimModel outdatedBox();
SimModel currentBox();

// The bytes on the line, both ways, of a transfer of a block of length bytes.
uint64_t transferWireBytes(uint32_t length);

// The same exchanges with the same frames by a plain blocking loop on the pseudo-terminal: write
// a frame, read the answer. No window, no thread of its own, no event loop.
RunFigures bareRun(Flow flow);

// The real window offscreen: the upload from its first packet to its success line; the read from
// its first request to its success line, then the write of what was read, on the same connection.
RunFigures windowUpload();
struct ConfigRunFigures {
    RunFigures read, write;
};
ConfigRunFigures windowConfigReadAndWrite();

// vekctl's link, in this process: the upload from its first packet to the accepted closing
// packet.
RunFigures cliUpload();
// `vekctl info` run as a program against a box sending its status once a second: from the box's
// first status to the program's exit, in seconds; negative when it failed.
double cliInfoAfterFirstStatus(const std::string& vekctl);

// `vekctl provision` of boxes that each need the whole upload, the write and the verify, every
// reply 1 ms late as on a USB link.
struct StationFigures {
    bool ok = false;
    std::string failure;
    int boxes = 0;
    double wallS = 0;      // from the spawn to the exit
    double cpuS = 0;       // the program's own, user and system
    double boxesCpuS = 0;  // the simulated boxes', in the benchmark's own process, meanwhile
};
// With a journal, and with syncUrl also --sync to that history server; each box pauses
// pauseMs before it reports its new firmware.
StationFigures provisionRun(int boxes, const std::string& vekctl, const std::string& journal = {},
                            const std::string& syncUrl = {}, int pauseMs = 1000);

}  // namespace vek::bench
