#pragma once

#include <cstdint>

namespace vek {

// Misbehaviour of the simulated box, set per test or on the command line. Every probability runs
// from 0 (never) to 1 (always) and is drawn per frame from a generator started at seed, so a run
// repeats exactly.
struct SimFaults {
    uint32_t seed = 1;
    double loseReply = 0;      // the frame is not sent at all
    double corruptByte = 0;    // one byte of the frame is changed
    double splitReply = 0;     // the frame goes out in two writes, splitGapMs apart
    double garbageBefore = 0;  // noise in front of the frame, in the same write
    double trailingBytes = 0;  // noise after the frame, in the same write
    double nackInstead = 0;    // a transfer packet that would be accepted is refused with a Nack
    int delayMs = 0;           // every frame leaves this much later
    int splitGapMs = 20;
    bool wrongDestination = false;  // frames addressed to the box itself
    bool statusesToo = false;       // the frame faults hit statuses, not only replies
    uint32_t silentFromPacket =
        0;                        // transfer packets numbered this or higher go unanswered; 0 none
    uint32_t hangUpAtPacket = 0;  // the cable is pulled when this transfer packet comes; 0 never
    int comeBackAfterMs = -1;     // after a hang-up, a new port this much later; -1 never
};

}  // namespace vek
