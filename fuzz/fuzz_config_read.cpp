// The configuration read-back: a reply's placement in the read-back buffer, and the decoding of
// the buffer once the read is complete.
//
// Input: byte 0 chooses. Even: bytes 1..4 are the box's base address (big-endian), the rest one
// reply payload. Odd: the rest is the start of the read-back buffer (zeros after it); with bit 1
// set the record's checksum is made right first, so that the field decoding is reached.
#include <algorithm>
#include <span>

#include "config/ConfigBlock.h"
#include "config/ConfigRead.h"
#include "fuzz/FuzzCheck.h"
#include "link/DevicePacket.h"

namespace {

using vek::fuzz::check;

void placeReply(std::span<const uint8_t> input) {
    if (input.size() < 4)
        return;
    const uint32_t base = vek::readBE32(input.data());
    const auto payload = input.subspan(4);
    const auto reply = vek::parseConfigReply(payload, base);
    if (!reply)
        return;
    // Whatever is accepted lands inside the buffer and comes from the payload's data part.
    check(reply->offset <= vek::kConfigBlockSize);
    check(reply->data.size() <= vek::kConfigBlockSize - reply->offset);
    check(reply->data.data() == payload.data() + 6);
    check(reply->data.size() <= payload.size() - 6);
    vek::ConfigBlockBytes buffer{};
    std::copy(reply->data.begin(), reply->data.end(), buffer.begin() + reply->offset);

    // Every request for this base is a frame the box accepts.
    for (uint32_t index = 1; index <= vek::kConfigReadCount; ++index) {
        uint8_t frame[32];
        const std::size_t n = vek::buildConfigReadRequest(base, index, frame);
        check(vek::decodePacket({frame, n}, vek::kBoxAddress).outcome ==
              vek::DecodeOutcome::Accepted);
    }
}

void decodeBuffer(std::span<const uint8_t> input, bool repairSum) {
    vek::ConfigBlockBytes block{};
    std::copy_n(input.begin(), std::min(input.size(), block.size()), block.begin());
    if (repairSum) {
        const std::size_t total = vek::readBE16(&block[4]) + 9;
        if (total >= 9 && total <= block.size()) {
            uint32_t sum = 0;
            for (std::size_t i = 0; i < total - 3; ++i)
                sum += block[i];
            vek::writeBE24(&block[total - 3], sum);
        }
    }
    const auto shown = vek::decodeConfigBlock(block);
    if (!shown)
        return;
    check(shown->pingIndex >= -1 && shown->pingIndex < 10);
    check(shown->a232Index >= -1 && shown->a232Index < 4);
    check(shown->b232Index >= -1 && shown->b232Index < 4);
    check(shown->problems >= 0);
    for (const auto& text : shown->edits)
        check(!text.empty() && text.size() <= 5);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::span<const uint8_t> rest(data + 1, size - 1);
    if (data[0] % 2 == 0)
        placeReply(rest);
    else
        decodeBuffer(rest, data[0] & 2);
    return 0;
}
