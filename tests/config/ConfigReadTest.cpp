#include "config/ConfigRead.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "link/DevicePacket.h"

namespace vek {
namespace {

std::vector<uint8_t> request(uint32_t base, uint32_t index) {
    std::array<uint8_t, kMaxToolFrame> out{};
    const std::size_t size = buildConfigReadRequest(base, index, out);
    return {out.begin(), out.begin() + size};
}

TEST(ConfigReadRequest, FirstChunkAtBaseZero) {
    EXPECT_EQ(request(0, 1), (std::vector<uint8_t>{0xBC, 0x21, 0x07, 0x00, 0x06, 0x00, 0x00, 0x00,
                                                   0x00, 0x01, 0xF4, 0x00, 0x01, 0xDF}));
}

TEST(ConfigReadRequest, ChunksStepFromTheBaseAndTheLastAsksForTheRest) {
    const uint32_t base = 0x0800F800;
    for (uint32_t i = 1; i <= kConfigReadCount; ++i) {
        const std::vector<uint8_t> frame = request(base, i);
        ASSERT_EQ(frame.size(), 14u);
        EXPECT_EQ(readBE32(&frame[5]), base + (i - 1) * 500) << i;
        EXPECT_EQ(readBE16(&frame[9]), i == 5 ? 32 : 500) << i;
    }
}

std::vector<uint8_t> reply(uint32_t address, uint16_t count, std::size_t dataBytes) {
    std::vector<uint8_t> payload(6 + dataBytes, 0x5A);
    writeBE32(payload.data(), address);
    writeBE16(&payload[4], count);
    return payload;
}

TEST(ConfigReadReply, PlacesDataAtTheirBlockOffset) {
    const auto payload = reply(0x1000 + 2000, 32, 32);
    const auto r = parseConfigReply(payload, 0x1000);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->offset, 2000u);
    EXPECT_EQ(r->data.size(), 32u);
    EXPECT_EQ(r->data.data(), payload.data() + 6);
}

struct IgnoredReply {
    const char* name;
    std::vector<uint8_t> payload;
};

class ConfigReadIgnored : public testing::TestWithParam<IgnoredReply> {};

TEST_P(ConfigReadIgnored, IsNotPlaced) {
    EXPECT_FALSE(parseConfigReply(GetParam().payload, 0x1000));
}

INSTANTIATE_TEST_SUITE_P(Bounds, ConfigReadIgnored,
                         testing::Values(IgnoredReply{"HeaderOnly", reply(0x1000, 0, 0)},
                                         IgnoredReply{"BelowBase", reply(0x0FFF, 1, 1)},
                                         IgnoredReply{"PastTheBlockEnd",
                                                      reply(0x1000 + 2000, 33, 33)},
                                         IgnoredReply{"FarPastTheBlock", reply(0xFFFFFFFF, 1, 1)},
                                         IgnoredReply{"CountBeyondFrame", reply(0x1000, 500, 499)}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vek
