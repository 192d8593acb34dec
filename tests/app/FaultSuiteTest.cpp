// The firmware upload, the configuration read and the configuration write through the window,
// each under every fault of the simulated box: each either completes with the box holding exactly
// what was sent, or ends in its report, after which the next connection works.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cstdio>
#include <optional>
#include <set>

#include "FaultCatalog.h"
#include "WindowHarness.h"
#include "config/Presets.h"
#include "sim/SimBox.h"
#include "transfer/FirmwareImage.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

ConfigBlockBytes blockOf(const PanelValues& panel) {
    return std::get<EncodedConfig>(encodeConfigBlock(panel)).block;
}

struct Outcome {
    std::string text;  // "completed" or what the report says
    std::optional<MessageBoxRequest> report;
    int nacks = 0;          // sent by the box
    TransferState counted;  // the tool's counters when it reported
    int repeats = 0;        // packets or requests the box received more than once
    qint64 ms = 0;
};

const QString kTransferDone = QStringLiteral("Atualização concluída com sucesso!");
const QString kReadDone = QStringLiteral("Leitura da configuração interna concluída!");

// The first message of an operation that does not complete. The transfer's report counts the
// box's Nacks and the receive events the tool found faulty.
std::pair<QString, QString> expectedReport(Ends ends, Operation op, int nacks,
                                           const TransferState& t) {
    if (ends == Ends::PortFailure)
        return {"Vek Tool", "WriteFile function failed (win error code: 5)"};
    if (op == Operation::Read)
        return {"ERRO #0x04", "A operação não pode ser concluida!"};
    return {"ERRO #0x02",
            QString::asprintf("A operação não foi concluida!\r\nNacks = %d\r\nCode10 = "
                              "%d\r\nCode15 = %d\r\nCode20 = %d",
                              nacks, t.Code10, t.Code15, t.Code20)};
}

// One box and one window through the three operations.
class Visit {
  public:
    Visit() : box_(fieldBox(30)) { box_.start(); }

    Outcome run(Operation op, const SimFaults& faults) {
        box_.setFaults(faults);
        const SimStats before = box_.stats();
        const std::size_t messagesBefore = w_.messages.size();
        QElapsedTimer clock;
        clock.start();
        const bool done = start(op);
        Outcome out;
        out.ms = clock.elapsed();
        out.repeats = repeatsSince(op, before);
        out.nacks = box_.stats().nacksSent - before.nacksSent;
        out.counted = f().transferState;
        if (!done && w_.messages.size() > messagesBefore)
            out.report = w_.messages[messagesBefore];
        out.text = done ? "completed" : out.report ? out.report->title.toStdString() : "no end";
        if (out.report && out.report->title == "Vek Tool")
            out.text = out.report->text.toStdString();
        return out;
    }

    // After a report: the next connection, with a sound box, does the operation.
    void recover(Operation op) {
        box_.setFaults({});
        reconnect();
        ASSERT_TRUE(awaitOne(op == Operation::Upload ? kTransferDone : kReadDone)) << log();
        if (op == Operation::Write) {
            ASSERT_TRUE(write()) << log();
        }
        settle(op);
    }

    void expectHolds(Operation op) {
        switch (op) {
            case Operation::Upload: {
                const auto image = FirmwareImage();
                EXPECT_EQ(box_.firmwareReceived(),
                          std::vector<uint8_t>(image.begin(), image.end()));
                EXPECT_EQ(box_.stats().firmwareImagesCompleted, 1);
                break;
            }
            case Operation::Read:
                EXPECT_EQ(f().readBackBlock, box_.storedConfig());
                EXPECT_EQ(w_.edit("ED_VMX")->text(), "120");
                break;
            case Operation::Write:
                EXPECT_EQ(box_.storedConfig(), blockOf(edited()));
                EXPECT_EQ(box_.stats().configWritesCompleted, 1);
                break;
        }
    }

    std::string log() const { return f().logLines().join("\n").toStdString(); }

    // Lets what an operation set off (the read after an upload) finish, faults and all.
    void settle(Operation op) {
        if (op == Operation::Upload)
            awaitOne(kReadDone);
        waitUntil([&] { return !f().Timer1.isActive() && !f().Timer3.isActive(); }, 30s);
        spin(200ms);
    }

  private:
    TForm1& f() const { return *w_.form; }

    bool start(Operation op) {
        switch (op) {
            case Operation::Upload:
                portInUse_ = box_.portPath();
                w_.connectTo(portInUse_);
                return awaitOne(kTransferDone);
            case Operation::Read:
                reconnect();
                return awaitOne(kReadDone);
            case Operation::Write:
                return write();
        }
        return false;
    }

    static PanelValues edited() {
        PanelValues panel = presetPanel(defaultPreset());
        panel.edit(ConfigField::VMX) = "100";
        return panel;
    }

    bool write() {
        w_.edit("ED_VMX")->setText("100");
        f().ui.B_SetConfig->click();
        return awaitOne(kTransferDone);
    }

    // True when line is logged once more, false when a report comes first.
    bool awaitOne(const QString& line) {
        const auto count = [&] { return f().logLines().count(line); };
        const qsizetype linesBefore = count();
        const std::size_t messagesBefore = w_.messages.size();
        waitUntil([&] { return count() > linesBefore || w_.messages.size() > messagesBefore; },
                  120s);
        return count() > linesBefore;
    }

    int repeatsSince(Operation op, const SimStats& before) const {
        const SimStats now = box_.stats();
        const int sent = int(f().transferState.PacketNo);
        switch (op) {
            case Operation::Upload:
                return now.fwPacketsReceived - before.fwPacketsReceived - sent;
            case Operation::Write:
                return now.configPacketsReceived - before.configPacketsReceived - sent;
            case Operation::Read: {
                const auto first = now.readOffsets.begin() + long(before.readOffsets.size());
                const std::set<uint32_t> distinct(first, now.readOffsets.end());
                return int(now.readOffsets.end() - first) - int(distinct.size());
            }
        }
        return 0;
    }

    // Closes the port and opens the box's, through the port list, as a technician would: a box
    // that came back is under a new name.
    void reconnect() {
        if (f().VCP.Connected())
            w_.pressConnection();
        if (const int hangUps = box_.stats().hangUps; hangUps > hangUpsSeen_) {
            waitUntil([&] { return box_.portPath() != portInUse_; }, 5s);
            hangUpsSeen_ = hangUps;
        }
        portInUse_ = box_.portPath();
        setenv("VEKTOOL_PORTS", portInUse_.c_str(), 1);
        f().ComboBox1DropDown();
        unsetenv("VEKTOOL_PORTS");
        f().ui.ComboBox1->setCurrentText(QString::fromStdString(portInUse_));
        w_.pressConnection();
    }

    SimBox box_;
    Window w_;
    std::string portInUse_;
    int hangUpsSeen_ = 0;
};

TEST(FaultSuite, EveryOperationCompletesIntactOrEndsInItsReportAndTheToolStaysUsable) {
    std::printf("\n%-40s %-7s %-46s %8s %9s\n", "fault", "op", "outcome", "repeats", "time ms");
    for (const Fault& fault : faults()) {
        SCOPED_TRACE(fault.name);
        Visit visit;
        for (const Operation op : kOperations) {
            SCOPED_TRACE(nameOf(op));
            const std::optional<SimFaults> faults = fault.during(op);
            if (!faults) {
                std::printf("%-40s %-7s %-46s\n", fault.name, nameOf(op), "not affected");
                continue;
            }
            const Outcome out = visit.run(op, *faults);
            std::printf("%-40s %-7s %-46s %8d %9lld\n", fault.name, nameOf(op), out.text.c_str(),
                        out.repeats, static_cast<long long>(out.ms));
            std::fflush(stdout);
            if (out.report) {
                ASSERT_NE(fault.ends, Ends::Completed) << out.text << "\n" << visit.log();
                const auto [title, text] = expectedReport(fault.ends, op, out.nacks, out.counted);
                EXPECT_EQ(out.report->title.toStdString(), title.toStdString());
                EXPECT_EQ(out.report->text.toStdString(), text.toStdString());
                visit.recover(op);
            } else {
                ASSERT_EQ(out.text, "completed") << visit.log();
                EXPECT_EQ(fault.ends, Ends::Completed) << "a fault that must be reported passed";
                visit.settle(op);
            }
            visit.expectHolds(op);
        }
    }
}

}  // namespace
}  // namespace vek::testing
