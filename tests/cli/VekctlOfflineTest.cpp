// vekctl's commands that need no box, as a script runs them; built for Windows too.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "Vekctl.h"

namespace vek::testing {
namespace {

struct Folder {
    QTemporaryDir dir;
    QString write(const char* name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }
    QByteArray read(const QString& path) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }
};

TEST(VekctlOffline, APresetIsAValidProfileWithTheWindowsRemoteCommands) {
    Folder f;
    const QString profile = f.dir.filePath("default.json");
    const Vekctl vekctl;
    ASSERT_EQ(vekctl.run({"preset", "default", "-o", profile}).exitCode, 0);
    EXPECT_EQ(vekctl.run({"config", "check", profile}).exitCode, 0);
    const Outcome remote = vekctl.run({"remote-commands", profile});
    EXPECT_EQ(remote.exitCode, 0) << remote.err.toStdString();
    const QStringList lines = remote.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[0].trimmed(), "#CPI[180]46______________PING");
    EXPECT_EQ(lines[8].trimmed(), "#CBGL[40,900,5,11]0B_____Banguela");
}

TEST(VekctlOffline, ProfilesThatDifferOrAreBadGiveTheirCodes) {
    Folder f;
    const Vekctl vekctl;
    const QString a = f.dir.filePath("a.json");
    ASSERT_EQ(vekctl.run({"preset", "trevalo", "-o", a}).exitCode, 0);
    QByteArray changed = f.read(a);
    changed.replace("\"time_limit\": 1", "\"time_limit\": 2");
    const QString b = f.write("b.json", changed);
    const Outcome diff = vekctl.run({"--json", "config", "diff", a, b});
    EXPECT_EQ(diff.exitCode, 6);
    const QJsonArray found = QJsonDocument::fromJson(diff.out.toUtf8())["differences"].toArray();
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0]["field"].toString(), "idling.time_limit");

    changed.replace("\"time_limit\": 2", "\"time_limit\": \"2\"");
    const Outcome bad = vekctl.run({"config", "check", f.write("c.json", changed)});
    EXPECT_EQ(bad.exitCode, 3);
    EXPECT_TRUE(bad.err.contains("c.json: idling.time_limit")) << bad.err.toStdString();
    EXPECT_EQ(vekctl.run({"config", "frobnicate"}).exitCode, 2);
    // Options that mean nothing to a command are refused, not ignored.
    EXPECT_EQ(vekctl.run({"config", "check", a, "-o", f.dir.filePath("x")}).exitCode, 2);
    EXPECT_EQ(vekctl.run({"config", "set", "-p", "COM9", a, "--raw", "x"}).exitCode, 2);
}

TEST(VekctlOffline, EachCommandHasItsOwnHelpAndMistypesAreNamed) {
    const Vekctl vekctl;
    const Outcome help = vekctl.run({"help", "config", "set"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("uso: vekctl config set")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--allow-old-firmware") && help.out.contains("Exemplo:"));
    EXPECT_FALSE(help.out.contains("--probe")) << "another command's option";
    EXPECT_EQ(vekctl.run({"config", "set", "--help"}).out, help.out);
    EXPECT_TRUE(vekctl.run({"--jsn", "info"})
                    .err.contains("--jsn: opção desconhecida; você quis "
                                  "dizer --json?"));
    EXPECT_TRUE(vekctl.run({"infi"}).err.contains("você quis dizer info?"));
}

TEST(VekctlOffline, TheReportSkipsAPartialLineAndKeepsEachBoxsLastVisit) {
    Folder f;
    const QString record = f.write(
        "visits.jsonl",
        R"({"time":"2026-12-09T10:00:00.000Z","identifier":"A","result":"failed","reason":"no_box"}
{"time":"2026-12-09T10:05:00.000Z","identifier":"A","result":"serviced"}
{"time":"2026-12-09T10:01:00.000Z","identifier":"B","result":"current"}
{"time":"2026-12-09T10:0)");
    const Outcome report = Vekctl().run({"--json", "report", record});
    ASSERT_EQ(report.exitCode, 0) << report.err.toStdString();
    const QJsonObject summary = QJsonDocument::fromJson(report.out.toUtf8()).object();
    EXPECT_EQ(summary["visits"].toInt(), 3);
    EXPECT_EQ(summary["skipped_lines"].toInt(), 1);
    const QJsonArray boxes = summary["boxes"].toArray();
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_EQ(boxes[0]["result"].toString(), "serviced");
}

}  // namespace
}  // namespace vek::testing
