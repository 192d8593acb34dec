#include "serial/EComPort.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vek {
namespace {

struct MessageRow {
    const char* meaning;
    int code;
    int systemCode;
    const char* message;
};

class EComPortMessage : public testing::TestWithParam<MessageRow> {};

TEST_P(EComPortMessage, ReadsAsTheTechnicianSeesIt) {
    const MessageRow& row = GetParam();
    const EComPort error(row.code, row.systemCode);
    EXPECT_STREQ(error.what(), row.message);
    EXPECT_EQ(error.ErrorCode(), row.code);
    EXPECT_EQ(error.SystemCode(), row.systemCode);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, EComPortMessage,
    testing::Values(
        MessageRow{"OpenWithoutSystemCode", 1, -1, "Unable to open com port"},
        MessageRow{"OpenRefusedBusy", 1, 16, "Unable to open com port (win error code: 16)"},
        MessageRow{"WriteAfterHangUp", 2, 5, "WriteFile function failed (win error code: 5)"},
        MessageRow{"NoDeviceList", 23, 2, "Registry error (win error code: 2)"},
        MessageRow{"SystemCodeZeroIsShown", 7, 0,
                   "SetCommState function failed (win error code: 0)"},
        MessageRow{"LastCodeOfTable", 22, -1, "A component is linked to OnRxBuf event"},
        MessageRow{"BelowTable", 0, -1, ""},
        MessageRow{"AboveTableKeepsSuffix", 24, 3, " (win error code: 3)"}),
    [](const testing::TestParamInfo<MessageRow>& info) { return info.param.meaning; });

TEST(EComPortTable, EveryCodeHasItsOwnText) {
    std::set<std::string> texts;
    for (int code = 1; code <= 23; ++code) {
        const std::string text = EComPort::textOf(code);
        EXPECT_FALSE(text.empty()) << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 23u);
}

}  // namespace
}  // namespace vek
