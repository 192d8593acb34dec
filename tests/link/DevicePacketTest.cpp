#include "link/DevicePacket.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace vek {
namespace {

using Bytes = std::vector<uint8_t>;

// A heap copy of exactly the bytes' size, so that AddressSanitizer reports any read past the end.
class ExactCopy {
  public:
    explicit ExactCopy(const Bytes& bytes)
        : size_(bytes.size()), data_(std::make_unique<uint8_t[]>(bytes.size())) {
        std::copy(bytes.begin(), bytes.end(), data_.get());
    }
    DecodedPacket decode(uint8_t ownAddress = kToolAddress) const {
        return decodePacket({data_.get(), size_}, ownAddress);
    }
    const uint8_t* data() const { return data_.get(); }

  private:
    std::size_t size_;
    std::unique_ptr<uint8_t[]> data_;
};

Bytes withLength(uint16_t length) {
    Bytes payload(length);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = uint8_t(i * 31 + 7);
    return encodePacket(Status, payload, kBoxToTool);
}

TEST(EncodePacket, KnownFrames) {
    EXPECT_EQ(encodePacket(Jump, {}), (Bytes{0xBC, 0x21, 0x05, 0x00, 0x00, 0x00, 0x00, 0xE2}));
    const Bytes request{0x00, 0x00, 0x00, 0x00, 0x01, 0xF4};  // 500 bytes at address 0
    EXPECT_EQ(encodePacket(ConfigRead, request), (Bytes{0xBC, 0x21, 0x07, 0x00, 0x06, 0x00, 0x00,
                                                        0x00, 0x00, 0x01, 0xF4, 0x00, 0x01, 0xDF}));
}

TEST(EncodePacket, IntoTooSmallBufferWritesNothing) {
    std::array<uint8_t, 13> out{};
    const Bytes payload(6, 0xFF);
    EXPECT_EQ(encodePacketInto(ConfigRead, payload, out), 0u);
    EXPECT_EQ(out, (std::array<uint8_t, 13>{}));
}

TEST(EncodePacket, ChecksumKeepsLow24BitsOfLongPayload) {
    // 65535 bytes of 0xFF sum to more than 2^24 together with the header.
    const Bytes frame = encodePacket(FwData, Bytes(0xFFFF, 0xFF));
    ASSERT_EQ(frame.size(), 0xFFFFu + kFrameOverhead);
    const uint32_t sum = 0xBC + 0x21 + 0x01 + 0xFF + 0xFF + 0xFFFFu * 0xFF;
    EXPECT_EQ(readBE24(frame.data() + frame.size() - 3), sum & 0xFFFFFF);
    EXPECT_TRUE(encodePacket(FwData, Bytes(0x10000)).empty());
}

struct DecodeRow {
    const char* name;
    Bytes bytes;
    DecodeOutcome outcome;
    bool trailing = false;
};

class DecodeCases : public testing::TestWithParam<DecodeRow> {};

TEST_P(DecodeCases, Outcome) {
    const DecodeRow& row = GetParam();
    const DecodedPacket packet = ExactCopy(row.bytes).decode();
    EXPECT_EQ(packet.outcome, row.outcome);
    EXPECT_EQ(packet.trailingBytes, row.trailing);
    if (packet.outcome != DecodeOutcome::Accepted) {
        EXPECT_TRUE(packet.payload.empty());
    }
}

const Bytes kAck{0xBC, 0x12, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0xD3};

Bytes tooLongHeader(uint16_t length) {
    Bytes bytes{0xBC, 0x12, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    writeBE16(bytes.data() + 3, length);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DecodeCases,
    testing::Values(
        DecodeRow{"AckOfPacketOne", kAck, DecodeOutcome::Accepted},
        DecodeRow{"AckToTheBox",
                  {0xBC, 0x11, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0xD2},
                  DecodeOutcome::BadDestination},
        DecodeRow{"SenderNibbleIgnored",
                  {0xBC, 0xF2, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01, 0xB3},
                  DecodeOutcome::Accepted},
        DecodeRow{"PayloadByteChanged",
                  {0xBC, 0x12, 0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0xD3},
                  DecodeOutcome::BadChecksum},
        DecodeRow{"FirstPayloadByteChanged",
                  {0xBC, 0x12, 0x02, 0x00, 0x02, 0x80, 0x01, 0x00, 0x00, 0xD3},
                  DecodeOutcome::BadChecksum},
        DecodeRow{"ChecksumHighByteChanged",
                  {0xBC, 0x12, 0x02, 0x00, 0x02, 0x00, 0x01, 0x01, 0x00, 0xD3},
                  DecodeOutcome::BadChecksum},
        DecodeRow{"BadChecksumToTheBoxIsBadChecksum",
                  {0xBC, 0x11, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0xD3},
                  DecodeOutcome::BadChecksum},
        DecodeRow{"SevenBytesFromStartByte",
                  {0xBC, 0x12, 0x0B, 0x00, 0x00, 0x00, 0x00},
                  DecodeOutcome::TooShort},
        DecodeRow{"Nothing", {}, DecodeOutcome::TooShort},
        DecodeRow{"EightBytesEmptyFrame",
                  {0xBC, 0x12, 0x0B, 0x00, 0x00, 0x00, 0x00, 0xD9},
                  DecodeOutcome::Accepted},
        DecodeRow{"WrongStartByte",
                  {0xBD, 0x12, 0x0B, 0x00, 0x00, 0x00, 0x00, 0xDA},
                  DecodeOutcome::BadStart},
        DecodeRow{"AckWithTrailingByte",
                  {0xBC, 0x12, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0xD3, 0xBC},
                  DecodeOutcome::Accepted,
                  true},
        DecodeRow{"AckMissingLastByte",
                  {0xBC, 0x12, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00},
                  DecodeOutcome::Incomplete},
        DecodeRow{"Length1020WhateverItsChecksum", tooLongHeader(1020), DecodeOutcome::TooLong},
        DecodeRow{"LengthFFFF", tooLongHeader(0xFFFF), DecodeOutcome::TooLong},
        DecodeRow{"Length1019HeaderOnly", tooLongHeader(1019), DecodeOutcome::Incomplete},
        DecodeRow{"Length1019Whole", withLength(1019), DecodeOutcome::Accepted}),
    [](const testing::TestParamInfo<DecodeRow>& info) { return std::string(info.param.name); });

TEST(DecodePacket, AcceptedAckCarriesItsFields) {
    const ExactCopy bytes(kAck);
    const DecodedPacket packet = bytes.decode();
    ASSERT_EQ(packet.outcome, DecodeOutcome::Accepted);
    EXPECT_EQ(packet.type, Ack);
    EXPECT_EQ(packet.length, 2);
    ASSERT_EQ(packet.payload.size(), 2u);
    EXPECT_EQ(packet.payload.data(), bytes.data() + 5);
    EXPECT_EQ(readBE16(packet.payload.data()), 1);
}

TEST(DecodePacket, OwnAddressSelectsTheReceiver) {
    // The box's view of a frame the tool sends.
    const Bytes jump = encodePacket(Jump, {});
    EXPECT_EQ(decodePacket(jump).outcome, DecodeOutcome::BadDestination);
    EXPECT_EQ(decodePacket(jump, kBoxAddress).outcome, DecodeOutcome::Accepted);
}

TEST(DecodePacket, EveryPrefixOfAFrameStopsShortOfItsEnd) {
    for (const uint16_t length : {0, 1, 2, 45, 54, 1019}) {
        const Bytes frame = withLength(length);
        for (std::size_t size = 0; size <= frame.size(); ++size) {
            const DecodedPacket packet =
                ExactCopy(Bytes(frame.begin(), frame.begin() + size)).decode();
            const DecodeOutcome expected = size < kFrameOverhead ? DecodeOutcome::TooShort
                                           : size < frame.size() ? DecodeOutcome::Incomplete
                                                                 : DecodeOutcome::Accepted;
            ASSERT_EQ(packet.outcome, expected) << "length " << length << ", " << size << " bytes";
        }
        const ExactCopy whole(frame);
        const DecodedPacket packet = whole.decode();
        EXPECT_TRUE(std::equal(packet.payload.begin(), packet.payload.end(), frame.begin() + 5));
    }
}

TEST(DecodePacket, GarbageNeverReachesBeyondTheBytes) {
    std::minstd_rand random(20261208);
    for (int round = 0; round < 20000; ++round) {
        Bytes bytes(random() % 80);
        for (auto& b : bytes)
            b = uint8_t(random());
        // Mostly plausible headers, so that the later checks run too.
        if (bytes.size() >= 5 && random() % 4 != 0) {
            bytes[0] = kStartByte;
            writeBE16(bytes.data() + 3, random() % 80);
            if (random() % 2 != 0) {
                const std::size_t summed =
                    std::min<std::size_t>(5 + readBE16(&bytes[3]), bytes.size());
                uint32_t sum = 0;
                for (std::size_t i = 0; i < summed; ++i)
                    sum += bytes[i];
                if (summed + 3 <= bytes.size())
                    writeBE24(&bytes[summed], sum);
            }
        }
        const DecodedPacket packet = ExactCopy(bytes).decode();
        if (packet.outcome == DecodeOutcome::Accepted) {
            ASSERT_LE(packet.length + kFrameOverhead, bytes.size());
            ASSERT_EQ(packet.payload.size(), packet.length);
            ASSERT_EQ(packet.trailingBytes, bytes.size() > packet.length + kFrameOverhead);
        }
    }
}

}  // namespace
}  // namespace vek
