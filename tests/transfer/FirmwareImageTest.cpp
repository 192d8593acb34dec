#include "transfer/FirmwareImage.h"

#include <gtest/gtest.h>

#include <numeric>

#include "link/DevicePacket.h"
#include "transfer/TransferState.h"

namespace vek {
namespace {

TEST(FirmwareImage, SizeAndClosingBytes) {
    EXPECT_EQ(FirmwareImage().size(), kFirmwareImageSize);
    EXPECT_EQ(FirmwareClosing(), (std::array<uint8_t, 5>{0xEE, 0x00, 0x74, 0x12, 0x66}));
}

// The box checks the closing bytes against the image: its XOR, then its 32-bit sum big-endian.
// A replaced image must come with closing bytes of its own.
TEST(FirmwareImage, ClosingBytesMatchTheImage) {
    const auto image = FirmwareImage();
    const uint8_t x = std::accumulate(image.begin(), image.end(), uint8_t{0},
                                      [](uint8_t a, uint8_t b) { return uint8_t(a ^ b); });
    const uint32_t sum = std::accumulate(image.begin(), image.end(), uint32_t{0});
    const auto& closing = FirmwareClosing();
    EXPECT_EQ(x, closing[0]);
    EXPECT_EQ(sum, readBE32(&closing[1]));
}

TEST(FirmwareImage, UploadShape) {
    TransferState state;
    state.Kind = FwData;
    state.Block = FirmwareImage().data();
    state.Length = kFirmwareImageSize;
    state.Closing = FirmwareClosing();
    state.PacketCount = transferPacketCount(state.Length);
    ASSERT_EQ(state.PacketCount, 1833u);

    std::array<uint8_t, kMaxToolFrame> out{};
    state.PacketNo = 1832;
    ASSERT_EQ(buildTransferPacket(state, out), kFrameOverhead + 6 + 28);
    EXPECT_TRUE(std::equal(out.begin() + 11, out.begin() + 11 + 28, FirmwareImage().end() - 28));

    state.PacketNo = 1833;
    ASSERT_EQ(buildTransferPacket(state, out), 19u);
    EXPECT_TRUE(std::equal(out.begin() + 11, out.begin() + 16, FirmwareClosing().begin()));
}

}  // namespace
}  // namespace vek
