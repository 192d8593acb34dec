#include "transfer/TransferNumber.h"

#include <mutex>
#include <random>

namespace vek {

namespace {

constexpr std::size_t kProductChars = 14;
constexpr uint8_t kFirstShift = 5;
constexpr uint8_t kLastShift = 11;

}  // namespace

uint32_t transferNumberFromText(std::string_view dateTime, ShiftCounter& shift, uint32_t limit) {
    // c13 x c0 x ... x c12 of the characters as signed 8-bit values; unsigned arithmetic wraps
    // as the 32-bit product does.
    const auto code = [&](std::size_t i) {
        return i < dateTime.size() ? uint32_t(int32_t(int8_t(dateTime[i]))) : 0u;
    };
    uint32_t product = code(kProductChars - 1);
    for (std::size_t i = 0; i + 1 < kProductChars; ++i)
        product *= code(i);
    const uint32_t value = shift.value < 32 ? (product >> shift.value) & limit : 0;
    shift.value = shift.value >= kLastShift ? kFirstShift : uint8_t(shift.value + 1);
    return value;
}

uint32_t RandomBelow(uint32_t limit) {
    // Never seeded by us: the default seed gives the same values every run. Boxes serviced in
    // parallel draw from it at once.
    static std::mutex mutex;
    static std::minstd_rand generator;
    const std::lock_guard lock(mutex);
    return limit == 0 ? 0 : uint32_t(generator() % limit);
}

uint32_t NewTransferNumber(std::string_view dateTime, ShiftCounter& shift, uint32_t limit) {
    const uint32_t value = transferNumberFromText(dateTime, shift, limit);
    return value != 0 ? value : RandomBelow(limit);
}

uint32_t NewTransferNumber(ShiftCounter& shift, uint32_t limit) {
    return NewTransferNumber(localDateTimeText(), shift, limit);
}

}  // namespace vek
