#include <gtest/gtest.h>

#include <QJsonArray>

#include "TestJournal.h"
#include "history/JournalLine.h"

using namespace vek::history;

namespace {

struct RefusedLine {
    const char* meaning;
    QByteArray bytes;
    const char* reason;
};

const QByteArray kChain =
    R"("visit":"0b9ad1c6-5d55-4d2b-8a4e-3b9e8f6c1a20","journal":"5f0c2a8e-1d4b-4c7a-9e3f-)"
    R"(2a1b0c9d8e7f","seq":1,"prev":"")";

}  // namespace

TEST(JournalLineTest, RefusesEachFaultWithItsReason) {
    const std::vector<RefusedLine> rows{
        {"cut short by a crash", R"({"time":"2024-05-01T10:00:00Z","res)", "malformed_json"},
        {"not an object", R"(["serviced"])", "malformed_json"},
        {"invalid UTF-8",
         "{\"time\":\"2024-05-01T10:00:00Z\",\"result\":\"failed\","
         "\"error\":\"\xC3\x28\"}",
         "invalid_utf8"},
        {"longer than any line", "{\"error\":\"" + QByteArray(kMaxLineBytes, 'x') + "\"}",
         "line_too_long"},
        {"seq as text",
         "{" + QByteArray(kChain).replace("\"seq\":1", "\"seq\":\"1\"") +
             R"(,"station":"b1","time":"2024-05-01T10:00:00Z","result":"failed"})",
         "wrong_type"},
        {"actions not a list of texts",
         R"({"time":"2024-05-01T10:00:00Z","result":"failed","actions":[1]})", "wrong_type"},
        {"unknown result", R"({"time":"2024-05-01T10:00:00Z","result":"ok"})", "unknown_result"},
        {"time without its offset", R"({"time":"2024-05-01T10:00:00","result":"failed"})",
         "invalid_value"},
        {"chained without station",
         "{" + kChain + R"(,"time":"2024-05-01T10:00:00Z","result":"failed"})", "missing_field"},
        {"first line naming a previous one",
         "{" +
             QByteArray(kChain).replace("\"prev\":\"\"",
                                        "\"prev\":\"" + QByteArray(64, 'a') + "\"") +
             R"(,"station":"b1","time":"2024-05-01T10:00:00Z","result":"failed"})",
         "invalid_value"},
    };
    for (const RefusedLine& row : rows) {
        const ParsedLine parsed = parseJournalLine(row.bytes);
        EXPECT_EQ(parsed.refusal.reason, row.reason) << row.meaning;
        EXPECT_FALSE(parsed.refusal.message.isEmpty()) << row.meaning;
    }
}

TEST(JournalLineTest, BuiltLinesParseBackChainedWhateverTheirLineEnd) {
    TestJournal journal("bancada-1");
    const QByteArray first = journal.next("0011A2B3-44556677");
    const QByteArray second = journal.next(
        "0011A2B3-44556677",
        {{"result", "interrupted"},
         {"block_before", QString(64, 'b')},
         {"stopped_at", QJsonObject{{"step", "config"}, {"packet", 3}, {"packets", 9}}}});
    const ParsedLine one = parseJournalLine(first);
    const ParsedLine two = parseJournalLine(QByteArray(second).replace('\n', "\r\n"));
    ASSERT_TRUE(one.ok()) << one.refusal.message.toStdString();
    ASSERT_TRUE(two.ok()) << two.refusal.message.toStdString();
    EXPECT_FALSE(two.line.legacy);
    EXPECT_EQ(two.line.chain.journal, journal.id());
    EXPECT_EQ(two.line.chain.seq, 2);
    EXPECT_EQ(two.line.chain.prev, one.line.hash);
    EXPECT_EQ(two.line.chain.station, "bancada-1");
    EXPECT_EQ(two.line.hash, lineHash(QByteArrayView(second).chopped(1)));
    EXPECT_EQ(two.line.time, "2024-05-01T10:02:00.000Z");
}

TEST(JournalLineTest, LinesFromBeforeTheChainTakeAStableIdentityFromTheirBytes) {
    const QByteArray line =
        R"({"time":"2024-05-01T07:00:00-03:00","identifier":"0011A2B3","result":"serviced"})";
    const ParsedLine parsed = parseJournalLine(line + "\n");
    ASSERT_TRUE(parsed.ok());
    EXPECT_TRUE(parsed.line.legacy);
    EXPECT_EQ(parsed.line.chain.visit, parseJournalLine(line).line.chain.visit);
    EXPECT_NE(parsed.line.chain.visit,
              parseJournalLine(QByteArray(line).replace("0011", "0012")).line.chain.visit);
    EXPECT_EQ(parsed.line.chain.journal, legacyJournal());
    EXPECT_EQ(parsed.line.time, "2024-05-01T10:00:00.000Z");
}
