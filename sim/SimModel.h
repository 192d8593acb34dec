#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/ConfigBlock.h"

namespace vek {

struct Preset;

// How a box in operating mode makes itself known, about once each status interval.
enum class OperatingAnnouncement { Status, Packet, StatusThenPacket };

// What the simulated box is: its mode, identity, version, configuration base and store.
struct SimModel {
    uint8_t mode = 1;  // 0 operating mode, otherwise bootloader
    std::array<uint32_t, 3> id{0x0011A2B3, 0x44C5D6E7, 0x8899FA0B};  // display order
    std::string text1 = "VEK", text2 = "BOOT";                       // at most 12 bytes each travel
    std::array<uint8_t, 4> version{3, 0, 2, 30};
    std::array<uint8_t, 2> carriedFirmware{2, 36};  // reported after a whole image
    uint32_t configBase = 0;
    ConfigBlockBytes store = [] {
        ConfigBlockBytes b;
        b.fill(0xFF);
        return b;
    }();
    int statusIntervalMs = 1000;
    // How long after taking a whole firmware image the box reports its new version (it
    // restarts); otherwise no status comes while a transfer or read runs nor 1 s after it.
    int newFirmwarePauseMs = 1000;
    OperatingAnnouncement announcement = OperatingAnnouncement::Status;
};

// Counts of what the box has seen, for tests.
struct SimStats {
    int statusesSent = 0;
    int fwPacketsAccepted = 0;  // first acceptance of each packet number
    int fwRepeatsSeen = 0;      // packets received again and re-acknowledged
    int configPacketsAccepted = 0;
    int configRepeatsSeen = 0;
    int fwPacketsReceived = 0;  // every copy, repeats included
    int configPacketsReceived = 0;
    int packetsIgnored = 0;  // transfer packets out of order, malformed or met with silence
    int configReadRequests = 0;
    int nacksSent = 0;
    int jumps = 0;
    int firmwareImagesCompleted = 0;
    int configWritesCompleted = 0;
    int hangUps = 0;                    // asked for by the faults
    std::vector<uint32_t> readOffsets;  // block offset and count of every ConfigRead request
    std::vector<uint32_t> readCounts;
};

// A preset's block, as the tool writes it.
ConfigBlockBytes presetBlock(const Preset& preset);
ConfigBlockBytes defaultPresetBlock();

// The box a technician meets most: in its bootloader, hardware 3.0, firmware 2.<firmwareMinor>,
// its configuration at 0x0800F000 holding the default preset's block.
SimModel fieldBox(uint8_t firmwareMinor, int statusIntervalMs = 100);

}  // namespace vek
