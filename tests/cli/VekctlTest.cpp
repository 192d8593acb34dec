// vekctl end to end: the program as a script runs it, simulated boxes on pseudo-terminals.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <csignal>
#include <thread>

#include "Vekctl.h"
#include "config/Presets.h"
#include "config/Profile.h"
#include "sim/SimBox.h"
#include "transfer/FirmwareImage.h"
#include "transfer/TransferState.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

QString portOf(const SimBox& box) {
    return QString::fromStdString(box.portPath());
}

QJsonObject jsonOf(const QString& out) {
    return QJsonDocument::fromJson(out.trimmed().split('\n').last().toUtf8()).object();
}

// A box that has seen nothing from the tool.
bool untouched(const SimBox& box) {
    const SimStats s = box.stats();
    return s.fwPacketsReceived == 0 && s.configPacketsReceived == 0 && s.configReadRequests == 0 &&
           s.jumps == 0;
}

struct StartedBox : SimBox {
    explicit StartedBox(SimModel model, SimFaults faults = {}) : SimBox(std::move(model), faults) {
        start();
    }
};

SimModel boxWith(std::array<uint8_t, 4> version, uint8_t mode = 1) {
    SimModel model = fieldBox(version[3]);
    model.version = version;
    model.mode = mode;
    return model;
}

TEST(Vekctl, InfoTellsEachKindOfBoxWithItsExitCode) {
    const struct {
        std::array<uint8_t, 4> version;
        uint8_t mode;
        const char* decision;
        int exitCode;
    } kinds[] = {
        {{3, 0, 2, 36}, 1, "up_to_date", 0},   {{4, 0, 2, 30}, 1, "upload_due", 0},
        {{2, 0, 1, 0}, 1, "discontinued", 10}, {{5, 0, 1, 0}, 1, "unknown_hardware", 10},
        {{3, 0, 2, 36}, 0, nullptr, 7},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.exitCode == 7 ? "operating mode" : kind.decision);
        StartedBox box(boxWith(kind.version, kind.mode));
        const Outcome run = Vekctl().run({"--json", "info", "-p", portOf(box)});
        EXPECT_EQ(run.exitCode, kind.exitCode) << run.err.toStdString();
        const QJsonObject info = jsonOf(run.out);
        EXPECT_EQ(info["identifier"].toString(), "0011A2B3-44C5D6E7-8899FA0B");
        if (kind.decision)
            EXPECT_EQ(info["decision"].toString(), kind.decision);
        else
            EXPECT_EQ(info["mode"].toString(), "operating");
        EXPECT_TRUE(untouched(box));
    }
}

TEST(Vekctl, UpdateLeavesTheCarriedImageAtTheBoxAndConfirmsTheVersion) {
    StartedBox box(boxWith({3, 0, 2, 30}));
    const Outcome run = Vekctl().run({"--json", "update", "-p", portOf(box)});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const auto image = FirmwareImage();
    EXPECT_EQ(box.firmwareReceived(), std::vector<uint8_t>(image.begin(), image.end()));
    const QJsonObject end = jsonOf(run.out);
    EXPECT_EQ(end["version_before"].toString(), "3.0.2.30");
    EXPECT_EQ(end["version_after"].toString(), "3.0.2.36");
}

TEST(Vekctl, AProfileTakenFromOneBoxLeavesAnotherWithTheSameBlock) {
    SimModel oldModel = fieldBox(36);
    oldModel.store = std::get<EncodedConfig>(encodeConfigBlock(presetPanel(trevaloPreset()))).block;
    StartedBox oldBox(oldModel);
    StartedBox newBox(fieldBox(36));
    QTemporaryDir dir;
    const QString profile = dir.filePath("van-7.json");
    const Vekctl vekctl;

    ASSERT_EQ(vekctl.run({"config", "get", "-p", portOf(oldBox), "-o", profile}).exitCode, 0);
    const Outcome set = vekctl.run({"config", "set", "-p", portOf(newBox), profile});
    ASSERT_EQ(set.exitCode, 0) << set.err.toStdString();
    EXPECT_EQ(newBox.storedConfig(), oldModel.store);
}

TEST(Vekctl, DiffOfTwoBoxesShowsTheOneFieldThatDiffers) {
    PanelValues panel = presetPanel(defaultPreset());
    panel.group(AlertGroup::RPX).bzOut = true;
    SimModel changed = fieldBox(36);
    changed.store = std::get<EncodedConfig>(encodeConfigBlock(panel)).block;
    StartedBox a(fieldBox(36)), b(changed);
    const Outcome run =
        Vekctl().run({"--json", "config", "diff", "port:" + portOf(a), "port:" + portOf(b)});
    EXPECT_EQ(run.exitCode, 6) << run.err.toStdString();
    const QJsonArray differences = jsonOf(run.out)["differences"].toArray();
    ASSERT_EQ(differences.size(), 1);
    EXPECT_EQ(differences[0]["field"].toString(), "engine_speed.buzzer.exit");
    EXPECT_EQ(differences[0]["caption"].toString(),
              QString::fromUtf8("ROTAÇÃO DO MOTOR / ALERTA BUZZER / Saída"));
}

TEST(Vekctl, AnIdentifierPicksItsBoxAmongSeveral) {
    std::vector<std::unique_ptr<StartedBox>> boxes;
    QStringList ports;
    for (uint32_t n = 1; n <= 3; ++n) {
        SimModel model = fieldBox(36);
        model.id = {0x11111111 * n, 0x22222222, 0x33333333};
        boxes.push_back(std::make_unique<StartedBox>(model));
        ports << portOf(*boxes.back());
    }
    const Outcome run =
        Vekctl(ports).run({"--json", "info", "-p", "id:22222222-22222222-33333333"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(jsonOf(run.out)["port"].toString(), ports[1]);
    // With no port named, the one box that answers is taken; several are listed instead.
    const Outcome several = Vekctl(ports).run({"info"});
    EXPECT_EQ(several.exitCode, 2);
    for (const QString& port : ports)
        EXPECT_TRUE(several.err.contains(port)) << several.err.toStdString();
    const Outcome one = Vekctl({ports[2]}).run({"--json", "info"});
    EXPECT_EQ(one.exitCode, 0) << one.err.toStdString();
    EXPECT_EQ(jsonOf(one.out)["port"].toString(), ports[2]);
}

TEST(Vekctl, ABadProfileIsRefusedBeforeAnyFrameGoesOut) {
    StartedBox box(fieldBox(36));
    QTemporaryDir dir;
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    };
    QByteArray fast = profileJson({"", std::nullopt, presetPanel(defaultPreset())});
    fast.replace("\"limit\": 120", "\"limit\": 151");
    const struct {
        QString file;
        const char* names;
    } cases[] = {
        {write("broken.json", "{\"format\": 1,"), "broken.json"},
        {write("empty.json", ""), "empty.json"},
        {write("fast.json", fast), "speed.limit: Parâmetro inválido! [Velocidade]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.names);
        const Outcome run = Vekctl().run({"config", "set", "-p", portOf(box), c.file});
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_TRUE(run.err.contains(c.names)) << run.err.toStdString();
    }
    EXPECT_TRUE(untouched(box));
}

TEST(Vekctl, ASilentBoxAndAHungUpBoxEachGiveTheirExitCode) {
    SimModel silent = fieldBox(36);
    silent.statusIntervalMs = 3'600'000;
    StartedBox quiet(silent);
    const Outcome none = Vekctl().run({"info", "-p", portOf(quiet), "--timeout", "0.5"});
    EXPECT_EQ(none.exitCode, 5) << none.err.toStdString();

    SimFaults pulled;
    pulled.hangUpAtPacket = 200;
    StartedBox gone(boxWith({3, 0, 2, 30}), pulled);
    const Outcome lost = Vekctl().run({"update", "-p", portOf(gone)});
    EXPECT_EQ(lost.exitCode, 1) << lost.err.toStdString();
    EXPECT_TRUE(lost.err.contains("o Vek foi desconectado no pacote 200 de 1833"))
        << lost.err.toStdString();
    EXPECT_TRUE(lost.err.contains("rode 'vekctl update' de novo")) << lost.err.toStdString();

    // Every packet taken but the closing one: no success is announced.
    SimFaults unanswered;
    unanswered.silentFromPacket = transferPacketCount(kConfigBlockSize);
    StartedBox closing(fieldBox(36), unanswered);
    QTemporaryDir dir;
    const QString profile = dir.filePath("default.json");
    ASSERT_EQ(Vekctl().run({"preset", "default", "-o", profile}).exitCode, 0);
    const Outcome unconfirmed =
        Vekctl().run({"config", "set", "-p", portOf(closing), profile, "--json"});
    EXPECT_EQ(unconfirmed.exitCode, 1) << unconfirmed.err.toStdString();
    EXPECT_FALSE(unconfirmed.err.contains("sucesso")) << unconfirmed.err.toStdString();
    // The report is one line that names where the transfer stopped.
    const QString message = jsonOf(unconfirmed.out)["message"].toString();
    EXPECT_TRUE(message.startsWith("ERRO #0x02: A operação não foi concluida! (Nacks = 0"))
        << message.toStdString();
    const QString last = QString::number(transferPacketCount(kConfigBlockSize));
    EXPECT_TRUE(message.endsWith("no pacote " + last + " de " + last)) << message.toStdString();
    EXPECT_FALSE(message.contains('\r') || message.contains('\n'));
}

// What is read as a profile or a record is a regular file: a box's port named without "port:"
// would be read for ever, and a file that is no record is not an empty one.
TEST(Vekctl, AFileArgumentThatIsNoFileOrNoRecordIsRefusedAtOnce) {
    StartedBox box(fieldBox(36));
    QTemporaryDir dir;
    const QString profile = dir.filePath("p.json");
    ASSERT_EQ(Vekctl().run({"preset", "trevalo", "-o", profile}).exitCode, 0);
    const Outcome port = Vekctl().run({"config", "diff", portOf(box), profile}, 5s);
    EXPECT_EQ(port.exitCode, 11);
    EXPECT_TRUE(port.err.contains("use port:" + portOf(box))) << port.err.toStdString();

    const Outcome notRecord = Vekctl().run({"report", profile});
    EXPECT_EQ(notRecord.exitCode, 11);
    EXPECT_TRUE(notRecord.err.contains("não é um registro")) << notRecord.err.toStdString();
    EXPECT_EQ(Vekctl().run({"report", "/proc/self/mem"}).exitCode, 11);
}

TEST(Vekctl, APathThatIsNoSerialPortIsSaidSo) {
    const Outcome run = Vekctl().run({"info", "-p", "/dev/null"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.err.trimmed(), "vekctl: /dev/null não é uma porta serial");
}

// A script reads exactly one JSON document from each command that is not a stream.
TEST(Vekctl, JsonOfAConfigurationCommandIsOneDocument) {
    StartedBox box(fieldBox(36));
    QTemporaryDir dir;
    const QString profile = dir.filePath("p.json");
    ASSERT_EQ(Vekctl().run({"preset", "trevalo", "-o", profile}).exitCode, 0);
    const QStringList commands[] = {
        {"config", "get", "-p", portOf(box)},
        {"config", "set", "-p", portOf(box), profile},
        {"config", "diff", profile, "port:" + portOf(box)},
    };
    for (const QStringList& command : commands) {
        SCOPED_TRACE(command.join(' ').toStdString());
        const Outcome run = Vekctl().run(QStringList{"--json"} + command);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        QJsonParseError error{};
        EXPECT_TRUE(QJsonDocument::fromJson(run.out.toUtf8(), &error).isObject())
            << error.errorString().toStdString() << "\n"
            << run.out.toStdString();
    }
}

// A new firmware may keep its configuration elsewhere: the update comes first, unless told.
TEST(Vekctl, AConfigurationIsNotWrittenToABoxWhoseFirmwareIsDue) {
    StartedBox box(boxWith({3, 0, 2, 30}));
    QTemporaryDir dir;
    const QString profile = dir.filePath("p.json");
    ASSERT_EQ(Vekctl().run({"preset", "default", "-o", profile}).exitCode, 0);
    const Outcome refused = Vekctl().run({"config", "set", "-p", portOf(box), profile});
    EXPECT_EQ(refused.exitCode, 12);
    EXPECT_TRUE(refused.err.contains("vekctl update -p")) << refused.err.toStdString();
    EXPECT_TRUE(untouched(box));

    const Outcome told =
        Vekctl().run({"config", "set", "-p", portOf(box), profile, "--allow-old-firmware"});
    EXPECT_EQ(told.exitCode, 0) << told.err.toStdString();
    EXPECT_TRUE(told.err.contains("Gravando a configuração de")) << told.err.toStdString();
    EXPECT_FALSE(told.err.contains("atualização", Qt::CaseInsensitive)) << told.err.toStdString();
}

TEST(Vekctl, ANewerFirmwareGoesBackOnlyWhenADowngradeIsAsked) {
    StartedBox box(boxWith({3, 0, 2, 40}));
    const Outcome forced = Vekctl().run({"update", "--force", "-p", portOf(box)});
    EXPECT_EQ(forced.exitCode, 2);
    EXPECT_TRUE(forced.err.contains("--downgrade")) << forced.err.toStdString();
    EXPECT_TRUE(untouched(box));

    const Outcome back = Vekctl().run({"update", "--downgrade", "-p", portOf(box)});
    EXPECT_EQ(back.exitCode, 0) << back.err.toStdString();
    EXPECT_TRUE(back.out.contains("de 2.40 para 2.36")) << back.out.toStdString();
    EXPECT_EQ(box.firmwareReceived(),
              std::vector<uint8_t>(FirmwareImage().begin(), FirmwareImage().end()));
}

TEST(Vekctl, CtrlCDuringAnUploadClosesThePortAndExits130) {
    SimModel model = boxWith({3, 0, 2, 30});
    StartedBox box(model);
    QProcess process;
    Vekctl().start(process, {"update", "-p", portOf(box)});
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (box.stats().fwPacketsAccepted < 100 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(5ms);
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(2000));
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_LT(box.stats().fwPacketsAccepted, 1833);
    // The port is free again: another visit finds the box.
    EXPECT_EQ(Vekctl().run({"info", "-p", portOf(box)}).exitCode, 0);
}

}  // namespace
}  // namespace vek::testing
