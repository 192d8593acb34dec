#include "transfer/TransferNumber.h"

#include <gtest/gtest.h>

#include <clocale>
#include <regex>
#include <set>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <cwchar>
#endif

namespace vek {
namespace {

// 8 December 2026, 14:23:29 in the Brazilian short date and long time, with nothing between.
constexpr std::string_view kBrazilian = "08/12/202614:23:29";

// The first fourteen codes: 48 56 47 49 50 47 50 48 50 54 49 52 58 50 ("08/12/202614:2").
// Their product is 696,567,956,294,246,400,000,000, whose low 32 bits are 0xEAE80000.
struct ShiftRow {
    uint8_t shift;
    uint32_t value;  // (0xEAE80000 >> shift) & 0xFFFF
};

TEST(TransferNumberFromText, BrazilianDateAndTimeForEachShift) {
    for (const ShiftRow row :
         {ShiftRow{5, 0x4000}, ShiftRow{6, 0xA000}, ShiftRow{7, 0xD000}, ShiftRow{8, 0xE800},
          ShiftRow{9, 0x7400}, ShiftRow{10, 0xBA00}, ShiftRow{11, 0x5D00}}) {
        ShiftCounter shift{row.shift};
        EXPECT_EQ(transferNumberFromText(kBrazilian, shift, 0xFFFF), row.value)
            << "shift " << int(row.shift);
    }
}

TEST(TransferNumberFromText, ShiftRunsFrom5To11ThenStartsOver) {
    ShiftCounter shift;
    std::vector<int> used;
    for (int i = 0; i < 9; ++i) {
        used.push_back(shift.value);
        transferNumberFromText(kBrazilian, shift, 0xFFFF);
    }
    EXPECT_EQ(used, (std::vector<int>{5, 6, 7, 8, 9, 10, 11, 5, 6}));
    shift.value = 200;  // out of the cycle: back to its start, without an undefined shift
    EXPECT_EQ(transferNumberFromText(kBrazilian, shift, 0xFFFF), 0u);
    EXPECT_EQ(shift.value, 5);
}

TEST(TransferNumberFromText, TextCases) {
    struct Row {
        const char* name;
        std::string text;
        uint32_t limit;
        uint32_t value;  // at shift 5
    } rows[] = {
        {"LimitMasksTheShiftedProduct", std::string(kBrazilian), 0x7FFF, 0x4000 & 0x7FFF},
        {"ProductCoversOnlyFourteenChars", "08/12/202614:2" + std::string("9:59"), 0xFFFF, 0x4000},
        // Missing characters count as 0, and so does the product.
        {"ShortTextIsZero", "08/12/2026", 0xFFFF, 0},
        {"EmptyTextIsZero", "", 0xFFFF, 0},
        // 0x80 is -128: the product 0xFFFFFF80 shifted by 5 is 0x7FFFFFC (4 if read unsigned).
        {"CharactersAreSigned", "\x80" + std::string(13, '\x01'), 0xFFFF, 0xFFFC},
    };
    for (const Row& row : rows) {
        ShiftCounter shift;
        EXPECT_EQ(transferNumberFromText(row.text, shift, row.limit), row.value) << row.name;
    }
}

TEST(NewTransferNumber, ZeroProductFallsBackToTheGenerator) {
    ShiftCounter shift;
    std::set<uint32_t> values;
    for (int i = 0; i < 50; ++i) {
        const uint32_t value = NewTransferNumber("08/12/2026", shift, 0xFFFF);
        EXPECT_LT(value, 0xFFFFu);
        values.insert(value);
    }
    EXPECT_GT(values.size(), 40u);
    EXPECT_EQ(shift.value, 5 + 50 % 7);
}

TEST(NewTransferNumber, NonZeroValueIsTaken) {
    ShiftCounter shift;
    EXPECT_EQ(NewTransferNumber(kBrazilian, shift, 0xFFFF), 0x4000u);
    EXPECT_EQ(shift.value, 6);
}

TEST(RandomBelow, StaysBelowTheLimit) {
    EXPECT_EQ(RandomBelow(0), 0u);
    EXPECT_EQ(RandomBelow(1), 0u);
    std::set<uint32_t> seen;
    for (int i = 0; i < 1000; ++i) {
        const uint32_t value = RandomBelow(10);
        ASSERT_LT(value, 10u);
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 10u);
}

// Restores the time locale that a test changed.
class TimeLocale : public testing::Test {
  protected:
    void TearDown() override { std::setlocale(LC_TIME, saved_.c_str()); }

  private:
    std::string saved_ = std::setlocale(LC_TIME, nullptr);
};

// Windows writes the date and time by the user's regional settings, not by the C library's LC_TIME.
#ifndef _WIN32
TEST_F(TimeLocale, CLocaleDateThenTimeWithNothingBetween) {
    ASSERT_TRUE(std::setlocale(LC_TIME, "C"));
    // "%x" is MM/DD/YY, "%X" HH:MM:SS.
    EXPECT_TRUE(
        std::regex_match(localDateTimeText(), std::regex(R"(\d\d/\d\d/\d\d\d\d:\d\d:\d\d)")))
        << localDateTimeText();
}
#endif

// Whether the date and time now follow Brazil's: LC_TIME set to it on POSIX; on Windows the
// user's regional settings, which a program cannot change (Wine takes them from LC_ALL).
bool brazilianTime() {
#ifdef _WIN32
    wchar_t name[LOCALE_NAME_MAX_LENGTH];
    return GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) > 0 &&
           std::wcscmp(name, L"pt-BR") == 0;
#else
    return std::setlocale(LC_TIME, "pt_BR.UTF-8") != nullptr;
#endif
}

TEST_F(TimeLocale, BrazilianTextHas18Characters) {
    if (!brazilianTime())
        GTEST_SKIP() << "the Brazilian date and time are not available";
    EXPECT_TRUE(
        std::regex_match(localDateTimeText(), std::regex(R"(\d\d/\d\d/\d\d\d\d\d\d:\d\d:\d\d)")))
        << localDateTimeText();
}

}  // namespace
}  // namespace vek
