#include "update/VersionRecord.h"

#include <gtest/gtest.h>

#include <string>

namespace vek {
namespace {

constexpr const char* kCurrentRecord = "#*$(002.036.068@@002.036.068)$*#";

std::string record(const std::string& fields) {
    return "#*$(" + fields + "@@" + fields + ")$*#";
}

// The record with `before` in front and spaces after it, to `length` characters in all.
std::string page(const std::string& rec, std::size_t length, const std::string& before = " ") {
    std::string text = before + rec;
    text.resize(length, ' ');
    return text;
}

struct RecordCase {
    const char* name;
    std::string text;
    std::optional<PublishedVersion> expected;
};

class VersionRecordCheck : public testing::TestWithParam<RecordCase> {};

TEST_P(VersionRecordCheck, AcceptsOnlyAWellFormedRecordInABodyOfTheRightLength) {
    EXPECT_EQ(parseVersionRecord(GetParam().text), GetParam().expected);
}

const PublishedVersion kCurrent{2, 36, 68};

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionRecordCheck,
    testing::Values(
        RecordCase{"ShortestBodyHoldingTheRecord", page(kCurrentRecord, 33), kCurrent},
        RecordCase{"LongestBodyHoldingTheRecord", page(kCurrentRecord, 499), kCurrent},
        RecordCase{"RecordAtTheVeryEnd", std::string(10, '-') + kCurrentRecord, kCurrent},
        RecordCase{"RecordWrappedAsPlainText", std::string("<PRE>") + kCurrentRecord + "</PRE>",
                   kCurrent},
        RecordCase{"RecordAloneIsTooShort", kCurrentRecord, std::nullopt},
        RecordCase{"EmptyBody", "", std::nullopt},
        RecordCase{"BodyOf500IsTooLong", page(kCurrentRecord, 500), std::nullopt},
        RecordCase{"NumberSignBeforeTheRecord", "<!-- #1 -->" + page(kCurrentRecord, 60),
                   std::nullopt},
        RecordCase{"NoNumberSign", std::string(100, 'x'), std::nullopt},
        RecordCase{"FewerThan32CharactersFromTheSign",
                   std::string(40, ' ') + std::string(kCurrentRecord).substr(0, 31), std::nullopt},
        RecordCase{"NonDigitInBothCopies", page(record("002.0A6.068"), 40), std::nullopt},
        RecordCase{"SpaceForALeadingZero", page(record(" 02.036.068"), 40), std::nullopt},
        RecordCase{"BytesBeyondAsciiInAField", page(record("002.036.\xff\x80\xe9"), 40),
                   std::nullopt},
        RecordCase{"BytesBeyondAsciiAroundTheRecord",
                   "\xe9\xff\x80" + page(kCurrentRecord, 60, "\xc3\xa3 "), kCurrent},
        RecordCase{"OlderVersionIsParsedAsIs", page(record("002.035.065"), 40),
                   PublishedVersion{2, 35, 'A'}},
        RecordCase{"HighestCodes", page(record("999.999.999"), 40),
                   PublishedVersion{999, 999, 999}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every non-digit position of the layout, spoiled in turn, fails the check.
TEST(VersionRecordLayout, EachFixedCharacterIsChecked) {
    for (const std::size_t offset : {0, 1, 2, 3, 7, 11, 15, 16, 20, 24, 28, 29, 30, 31}) {
        std::string rec = kCurrentRecord;
        rec[offset] = 'x';
        EXPECT_EQ(parseVersionRecord(page(rec, 40)), std::nullopt) << "offset " << offset;
    }
}

TEST(VersionRecordLayout, CopiesDifferingInOneCharacterAreRejected) {
    for (std::size_t offset = 17; offset <= 27; ++offset) {
        std::string rec = kCurrentRecord;
        rec[offset] = rec[offset] == '9' ? '8' : rec[offset] == '.' ? '0' : '9';
        EXPECT_EQ(parseVersionRecord(page(rec, 40)), std::nullopt) << "offset " << offset;
    }
}

TEST(VersionAddresses, VersionFileIsOnTheUpdateHost) {
    EXPECT_EQ(versionFileAddress(kUpdateHost), "www.norvane.com.br/files/vektool.ver");
}

struct AddressCase {
    const char* name;
    int letter;
    const char* file;
};

class DownloadAddress : public testing::TestWithParam<AddressCase> {};

TEST_P(DownloadAddress, NamesThePublishedFile) {
    EXPECT_EQ(downloadAddress(kUpdateHost, {2, 37, GetParam().letter}),
              std::string("www.norvane.com.br/files/") + GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(
    Letters, DownloadAddress,
    testing::Values(AddressCase{"ReleaseLetterA", 'A', "VekTool v2.37.A.exe"},
                    AddressCase{"LowerCaseLetter", 'z', "VekTool v2.37.z.exe"},
                    AddressCase{"NulIsEncoded", 0, "VekTool v2.37.%00.exe"},
                    AddressCase{"SpaceIsEncoded", ' ', "VekTool v2.37.%20.exe"},
                    AddressCase{"NumberSignIsNoFragment", '#', "VekTool v2.37.%23.exe"},
                    AddressCase{"SlashIsNoFolder", '/', "VekTool v2.37.%2F.exe"},
                    AddressCase{"PercentIsEncoded", '%', "VekTool v2.37.%25.exe"},
                    AddressCase{"Code255AsUtf8", 255, "VekTool v2.37.%C3%BF.exe"},
                    AddressCase{"Code999AsUtf8", 999, "VekTool v2.37.%CF%A7.exe"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionAddresses, DownloadOfTheRecordRead) {
    const auto version = parseVersionRecord(page(record("002.037.065"), 40));
    ASSERT_TRUE(version);
    EXPECT_NE(*version, kOwnVersion);
    EXPECT_EQ(downloadAddress(kUpdateHost, *version),
              "www.norvane.com.br/files/VekTool v2.37.A.exe");
}

}  // namespace
}  // namespace vek
