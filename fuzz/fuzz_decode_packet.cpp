// The frame decoder on the bytes of one receive event, whatever they are.
#include <span>

#include "fuzz/FuzzCheck.h"
#include "link/DevicePacket.h"

using vek::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    for (const uint8_t own : {vek::kToolAddress, vek::kBoxAddress}) {
        const vek::DecodedPacket packet = vek::decodePacket(bytes, own);
        if (packet.outcome != vek::DecodeOutcome::Accepted) {
            check(packet.payload.empty() && !packet.trailingBytes);
            continue;
        }
        // The payload is a view into the frame, exactly as long as the frame says.
        check(packet.payload.size() == packet.length);
        check(packet.payload.data() == data + vek::kHeaderSize);
        const std::size_t frameSize = packet.length + vek::kFrameOverhead;
        check(frameSize <= size && frameSize <= vek::kReceiveLimit + 3);
        check(packet.trailingBytes == (size > frameSize));
        // An accepted frame is what the encoder writes for its type, payload and address.
        const auto again = vek::encodePacket(packet.type, packet.payload, data[1]);
        check(again.size() == frameSize && std::equal(again.begin(), again.end(), data));
    }
    return 0;
}
