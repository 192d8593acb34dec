// The window against a box on the kernel's USB serial driver; run inside the virtual machine by
// window.sh, with the port in USBVM_PORT and the gadget's UDC file (whose writing unplugs and
// plugs the box in) in USBVM_UDC.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProgressBar>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "WindowHarness.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

const QString kReadDone = QStringLiteral("Leitura da configuração interna concluída!");

struct UsbBox {
    const char* port = std::getenv("USBVM_PORT");
    const char* udc = std::getenv("USBVM_UDC");

    bool present() const { return port && udc; }
    std::string controller() const {
        std::string name;
        std::getline(std::ifstream(udc), name);
        return name;
    }
    void bindTo(const std::string& controller) const { std::ofstream(udc) << controller << "\n"; }
};

void printLog(const Window& w) {
    for (const QString& line : w.form->logLines())
        std::printf("  log: %s\n", line.toStdString().c_str());
    for (const MessageBoxRequest& m : w.messages)
        std::printf("  message: %s: %s\n", m.title.toStdString().c_str(),
                    m.text.toStdString().c_str());
}

// The window connected to the box as the test begins.
class WindowOnUsb : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!usb.present())
            GTEST_SKIP() << "runs in the virtual machine of scripts/usbvm/";
        w.emplace();
        w->connectTo(usb.port);
    }
    const UsbBox usb;
    std::optional<Window> w;  // made only where the box is, as it needs the platform
};

TEST_F(WindowOnUsb, IdentifiesUploadsAndReads) {
    EXPECT_TRUE(waitUntil([&] { return w->logHas("Vek v3.0.2.30"); }, 10s));
    EXPECT_TRUE(waitUntil([&] { return w->logHas("Atualização concluída com sucesso!"); }, 90s));
    EXPECT_TRUE(waitUntil([&] { return w->logHas(kReadDone); }, 20s));
    EXPECT_TRUE(w->messages.empty());
    printLog(*w);
}

TEST_F(WindowOnUsb, AnUnplugMidUploadIsReportedAndTheWindowStaysUsable) {
    const std::string controller = usb.controller();
    QProgressBar& bar = *w->form->ui.ProgressBar1;
    ASSERT_TRUE(waitUntil([&] { return bar.value() > bar.maximum() / 2; }, 60s));
    usb.bindTo("");
    EXPECT_TRUE(waitUntil([&] { return !w->messages.empty(); }, 30s)) << "no report of the unplug";
    printLog(*w);
    const auto cpuBefore = processCpuTime();
    spin(2s);
    EXPECT_LT(processCpuTime() - cpuBefore, 800ms) << "a core spinning would use all 2000 ms";

    w->pressConnection();
    EXPECT_FALSE(w->form->VCP.Connected());
    usb.bindTo(controller);
    ASSERT_TRUE(waitUntil([&] { return std::ifstream(usb.port).good(); }, 10s));
    w->messages.clear();
    w->connectTo(usb.port);
    EXPECT_TRUE(waitUntil([&] { return w->logHas(kReadDone); }, 90s)) << "not usable after it";
    printLog(*w);
}

// Against deaf-box.py, whose USB side takes nothing: the link fails with the tool's writes still
// queued in the driver, whose closing would wait 30 s for them. Opening the port again during that
// wait is refused at once: the driver would hold the open until the wait ends.
TEST_F(WindowOnUsb, ClosingAfterTheBoxStoppedTakingDataReturnsAtOnce) {
    ASSERT_TRUE(waitUntil([&] { return !w->messages.empty(); }, 90s)) << "no report of the failure";
    printLog(*w);
    QElapsedTimer clock;
    clock.start();
    w->pressConnection();
    const qint64 closingMs = clock.elapsed();
    std::printf("[ figures  ] closing: %lld ms\n", static_cast<long long>(closingMs));
    EXPECT_FALSE(w->form->VCP.Connected());
    EXPECT_LT(closingMs, 5000) << "the driver's closing wait is 30 s";
    EXPECT_TRUE(w->logHas("Conexão fechada..."));

    clock.restart();
    w->connectTo(usb.port);
    const qint64 reopeningMs = clock.elapsed();
    std::printf("[ figures  ] opening again: %lld ms\n", static_cast<long long>(reopeningMs));
    printLog(*w);
    EXPECT_LT(reopeningMs, 5000) << "the open waited for the closing";
    EXPECT_FALSE(w->form->VCP.Connected());
}

}  // namespace
}  // namespace vek::testing
