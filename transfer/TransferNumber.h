#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vek {

// The shift used by the next transfer number; 5 at start, never reset.
struct ShiftCounter {
    uint8_t value = 5;
};

// The transfer number from the local date-and-time text (short date then long time, nothing
// between) and the shift counter, which it advances. 0 means "use RandomBelow(limit)".
uint32_t transferNumberFromText(std::string_view dateTime, ShiftCounter& shift, uint32_t limit);

// The local date and time as the user's locale writes them ("%x" then "%X").
std::string localDateTimeText();

// A fixed-seed pseudo-random value from 0 to limit - 1, or 0 when limit is 0; repeats run to run.
uint32_t RandomBelow(uint32_t limit);

// transferNumberFromText over the given text, falling back to RandomBelow(limit) on 0.
uint32_t NewTransferNumber(std::string_view dateTime, ShiftCounter& shift, uint32_t limit);

// NewTransferNumber over the current local date and time.
uint32_t NewTransferNumber(ShiftCounter& shift, uint32_t limit);

}  // namespace vek
