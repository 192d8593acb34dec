// vekctl's update and config set under the faults of the window's fault suite: each completes with
// the box holding exactly what was sent, or fails with the link's exit code; never a false
// success.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "FaultCatalog.h"
#include "Vekctl.h"
#include "config/Presets.h"
#include "config/Profile.h"
#include "sim/SimBox.h"
#include "transfer/FirmwareImage.h"

namespace vek::testing {
namespace {

struct Case {
    const char* fault;
    Operation op;
};

class VekctlUnderFault : public ::testing::TestWithParam<Case> {};

TEST_P(VekctlUnderFault, CompletesIntactOrFailsWithTheLinksCode) {
    const Fault& fault = faultNamed(GetParam().fault);
    const Operation op = GetParam().op;
    SimBox box(fieldBox(op == Operation::Upload ? 30 : 36), *fault.during(op));
    box.start();
    const QString port = QString::fromStdString(box.portPath());

    PanelValues panel = presetPanel(defaultPreset());
    panel.edit(ConfigField::VMX) = "100";
    QTemporaryDir dir;
    QFile profile(dir.filePath("profile.json"));
    profile.open(QIODevice::WriteOnly);
    profile.write(profileJson({"", std::nullopt, panel}));
    profile.close();

    const Outcome run =
        op == Operation::Upload
            ? Vekctl().run({"--json", "update", "-p", port}, std::chrono::minutes(2))
            : Vekctl().run({"config", "set", "-p", port, profile.fileName()},
                           std::chrono::minutes(2));
    std::printf("[ figures  ] %s, %s: exit %d\n", fault.name, nameOf(op), run.exitCode);
    if (run.exitCode != 0) {
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        EXPECT_NE(fault.ends, Ends::Completed) << run.err.toStdString();
        return;
    }
    EXPECT_EQ(fault.ends, Ends::Completed) << "a fault that must be reported passed";
    if (op == Operation::Upload) {
        const auto image = FirmwareImage();
        EXPECT_EQ(box.firmwareReceived(), std::vector<uint8_t>(image.begin(), image.end()));
        EXPECT_TRUE(run.out.contains("\"version_after\":\"3.0.2.36\"")) << run.out.toStdString();
    } else {
        EXPECT_EQ(box.storedConfig(), std::get<EncodedConfig>(encodeConfigBlock(panel)).block);
    }
}

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const char* fault : {"replies lost", "a byte corrupted", "split in two writes 20 ms apart",
                              "Nack instead of Ack", "silent from mid-transfer"})
        for (const Operation op : {Operation::Upload, Operation::Write})
            all.push_back({fault, op});
    return all;
}

INSTANTIATE_TEST_SUITE_P(Faults, VekctlUnderFault, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name =
                                 std::string(info.param.fault) + "_" + nameOf(info.param.op);
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

}  // namespace
}  // namespace vek::testing
