#include "transfer/TransferState.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "link/DevicePacket.h"

// Counts allocations, so that a test can show that building a packet needs none.
namespace {
std::atomic<long> allocations{0};
}

// Out of line: inlined, GCC sees malloc() and free() where callers use new and delete, and warns.
[[gnu::noinline]] void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace vek {
namespace {

using Bytes = std::vector<uint8_t>;
using Frame = std::array<uint8_t, kMaxToolFrame>;

constexpr std::array<uint8_t, 5> kClosing{0x01, 0x02, 0x03, 0x04, 0x05};

Bytes patternBlock(std::size_t size) {
    Bytes block(size);
    for (std::size_t i = 0; i < size; ++i)
        block[i] = uint8_t(i * 7 + i / 256);
    return block;
}

TransferState stateOver(const Bytes& block, int32_t kind = ConfigData) {
    TransferState state;
    state.Kind = kind;
    state.Block = block.data();
    state.Length = uint32_t(block.size());
    state.Closing = kClosing;
    state.PacketCount = transferPacketCount(state.Length);
    state.TransferNo = 0x1234;
    return state;
}

Bytes build(const TransferState& state) {
    Frame out{};
    return Bytes(out.begin(), out.begin() + buildTransferPacket(state, out));
}

struct ShapeRow {
    const char* name;
    uint32_t length;
    uint32_t packets;
    uint32_t lastData;  // data bytes in the last data packet
};

class TransferShapes : public testing::TestWithParam<ShapeRow> {};

// Every packet decodes as the box would read it, and the data packets put the block back together.
TEST_P(TransferShapes, PacketsCarryTheBlockThenTheClosingBytes) {
    const ShapeRow& row = GetParam();
    const Bytes block = patternBlock(row.length);
    TransferState state = stateOver(block);
    ASSERT_EQ(state.PacketCount, row.packets);

    Bytes received;
    for (uint32_t n = 1; n <= state.PacketCount; ++n) {
        state.PacketNo = n;
        const Bytes frame = build(state);
        const DecodedPacket packet = decodePacket(frame, kBoxAddress);
        ASSERT_EQ(packet.outcome, DecodeOutcome::Accepted) << "packet " << n;
        ASSERT_FALSE(packet.trailingBytes);
        EXPECT_EQ(frame[1], kToolToBox);
        EXPECT_EQ(packet.type, ConfigData);
        const auto p = packet.payload;
        EXPECT_EQ(readBE16(&p[0]), 0x1234);
        EXPECT_EQ(readBE16(&p[2]), n);
        EXPECT_EQ(readBE16(&p[4]), row.packets);
        const auto data = p.subspan(6);
        if (n == state.PacketCount) {
            EXPECT_EQ(frame.size(), 19u);
            EXPECT_TRUE(std::equal(data.begin(), data.end(), kClosing.begin(), kClosing.end()));
        } else {
            EXPECT_EQ(data.size(), n + 1 == state.PacketCount ? row.lastData : kDataPerPacket)
                << "packet " << n;
            received.insert(received.end(), data.begin(), data.end());
        }
    }
    EXPECT_EQ(received, block);
}

INSTANTIATE_TEST_SUITE_P(Lengths, TransferShapes,
                         testing::Values(ShapeRow{"EmptyBlockIsTheClosingPacketAlone", 0, 1, 0},
                                         ShapeRow{"TwoFullPacketsNoEmptyOne", 96, 3, 48},
                                         ShapeRow{"OneByteOver", 97, 4, 1},
                                         ShapeRow{"ConfigurationBlock", 2032, 44, 16},
                                         ShapeRow{"FirmwareImage", 87916, 1833, 28}),
                         [](const testing::TestParamInfo<ShapeRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(BuildTransferPacket, ClosingPacketOfAConfigurationWrite) {
    const Bytes block = patternBlock(2032);
    TransferState state = stateOver(block);
    state.PacketNo = 44;
    // 0xBC + 0x21 + 0x06 + 0x0B + 0x12 + 0x34 + 0x2C + 0x2C + 1 + 2 + 3 + 4 + 5 = 0x19B
    EXPECT_EQ(build(state), (Bytes{0xBC, 0x21, 0x06, 0x00, 0x0B, 0x12, 0x34, 0x00, 0x2C, 0x00, 0x2C,
                                   0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x01, 0x9B}));
}

TEST(BuildTransferPacket, RepeatIsByteForByteTheFirst) {
    const Bytes block = patternBlock(97);
    TransferState state = stateOver(block, FwData);
    state.PacketNo = 2;
    const Bytes first = build(state);
    state.PacketNo = 3;
    build(state);
    state.PacketNo = 2;
    EXPECT_EQ(build(state), first);
}

TEST(BuildTransferPacket, NumbersTravelAsTheirLow16Bits) {
    TransferState state;
    state.Kind = 0x106;  // the type is the low byte
    state.TransferNo = 0x12345;
    state.PacketCount = 0x10003;
    state.PacketNo = 0x10003;  // the closing packet: no block needed
    state.Closing = kClosing;
    const Bytes frame = build(state);
    ASSERT_EQ(frame.size(), 19u);
    EXPECT_EQ(Bytes(frame.begin() + 2, frame.begin() + 11),
              (Bytes{0x06, 0x00, 0x0B, 0x23, 0x45, 0x00, 0x03, 0x00, 0x03}));
}

TEST(BuildTransferPacket, RefusesWhatWouldReadOutsideTheBlockOrBuffer) {
    const Bytes block = patternBlock(96);
    TransferState state = stateOver(block);
    Frame out{};

    state.PacketNo = 0;  // before the first send
    EXPECT_EQ(buildTransferPacket(state, out), 0u);
    state.PacketNo = state.PacketCount + 1;
    EXPECT_EQ(buildTransferPacket(state, out), 0u);

    // A count that does not fit the length: the block ends before packet 3.
    state.PacketCount = 5;
    state.PacketNo = 3;
    EXPECT_EQ(buildTransferPacket(state, out), 0u);
    state.PacketNo = 2;
    EXPECT_EQ(build(state).size(), kMaxToolFrame);

    state.PacketCount = 3;
    state.PacketNo = 1;
    state.Block = nullptr;
    EXPECT_EQ(buildTransferPacket(state, out), 0u);

    state.Block = block.data();
    EXPECT_EQ(buildTransferPacket(state, std::span(out).first(kMaxToolFrame - 1)), 0u);
}

TEST(BuildTransferPacket, NeedsNoAllocation) {
    const Bytes block = patternBlock(87916);
    TransferState state = stateOver(block, FwData);
    Frame out{};
    std::size_t sent = 0;
    const long before = allocations;
    for (state.PacketNo = 1; state.PacketNo <= state.PacketCount; ++state.PacketNo)
        sent += buildTransferPacket(state, out);
    const long during = allocations - before;
    EXPECT_EQ(during, 0);
    EXPECT_EQ(sent, 87916u + 1833u * (kFrameOverhead + 6) + 5u);
}

}  // namespace
}  // namespace vek
