// One receive event through the window's receive handler, with the transfer and the read in the
// state the input's first bytes choose. The bytes reach the handler the way the box's do: written
// to the master side of a pseudo-terminal whose slave side the window's port has open, then read
// by the handler through the port.
//
// Input: byte 0 flags, bytes 1..2 a big-endian selector, the rest the event's bytes.
//   flags & 3   0 idle, 1 firmware upload, 2 configuration write, 3 configuration read;
//               the selector picks the packet the transfer or read is waiting on
//   flags & 4   the read-back buffer holds a valid configuration (a completed read shows it)
//   flags & 8   the box has been identified on this connection (its Status is ignored)
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QTextEdit>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/Form1.h"
#include "config/Presets.h"
#include "sim/RawPty.h"
#include "transfer/TransferState.h"

namespace {

constexpr std::size_t kHeader = 3;
constexpr uint32_t kConfigBase = 0x0801F000;

int g_master = -1;
vek::TForm1* g_form = nullptr;
bool g_escaped = false;  // an exception reached the window's standard display

std::string openPseudoTerminal() {
    std::string slave;
    g_master = vek::openRawPseudoTerminal(slave, O_NONBLOCK);
    return slave;
}

// Discards what the tool wrote, so that the master side never fills up.
void drainMaster() {
    uint8_t buf[4096];
    while (::read(g_master, buf, sizeof buf) > 0) {
    }
}

void stopTimers(vek::TForm1& form) {
    for (QTimer* t : {&form.Timer1, &form.Timer2, &form.Timer3, &form.Timer4, &form.Timer5})
        t->stop();
}

void setUpState(vek::TForm1& form, uint8_t flags, uint16_t selector) {
    auto& t = form.transferState;
    form.deviceInfo = {};
    form.deviceInfo.mode = 1;
    form.deviceInfo.configBase = kConfigBase;
    t = {};
    form.readBackBlock = {};
    form.configBlock = {};
    form.B_SetDefaultsClick();

    switch (flags & 3) {
        case 0:
            break;
        case 1:
            form.deviceInfo.version = {3, 1, 2, 30};
            form.B_FwTxClick();
            break;
        case 2:
            form.B_SetConfigClick();
            break;
        case 3:
            form.B_GetConfigClick();
            break;
    }
    if ((flags & 3) != 0 && t.PacketCount > 0) {
        // Packet n sent and waiting for its answer, all before it answered.
        t.PacketNo = 1 + selector % t.PacketCount;
        t.AckedNo = t.PacketNo == 1 ? vek::kNoPacketAcked : t.PacketNo - 1;
    }
    if (flags & 4) {
        const auto encoded = vek::encodeConfigBlock(vek::presetPanel(vek::defaultPreset()));
        if (const auto* config = std::get_if<vek::EncodedConfig>(&encoded))
            form.readBackBlock = config->block;
    }
    form.deviceInfo.identified = (flags & 8) != 0;
}

// Waits until the port's receive queue holds count bytes, or gives up after a second.
int waitForInput(vek::TForm1& form, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    int queued = form.VCP.InputCount();
    while (queued < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        queued = form.VCP.InputCount();
    }
    return queued;
}

}  // namespace

// Qt's font and glyph caches (fontconfig, FreeType, HarfBuzz) live for the whole process and are
// not freed: they would be reported as leaks of whichever input first laid out a text.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication app(*argc, *argv);

    static char dirTemplate[] = "/tmp/vek-fuzz-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    vek::TForm1Options options;
    options.updateHost = QStringLiteral("127.0.0.1:9");  // never the real host
    options.executableDir = QString::fromUtf8(dir ? dir : "/nonexistent");
    options.openUrl = [](const QString&) {};
    options.messageBox = [](const vek::MessageBoxRequest& request) {
        // The standard exception display: something escaped a handler.
        if (request.title == QLatin1String("Vek Tool"))
            g_escaped = true;
        return QMessageBox::Ok;
    };
    static vek::TForm1 form(std::move(options));
    g_form = &form;
    stopTimers(form);
    QCoreApplication::processEvents();

    form.VCP.Port = openPseudoTerminal();
    // The handler is called by the target itself, once per input.
    form.VCP.TriggersOnRxChar = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < kHeader)
        return 0;
    vek::TForm1& form = *g_form;
    stopTimers(form);
    if (!form.VCP.Connected())
        form.VCP.Open();
    form.VCP.ClearBuffer(true, false);
    drainMaster();
    form.ui.Log->clear();
    g_escaped = false;

    setUpState(form, data[0], uint16_t((data[1] << 8) | data[2]));
    drainMaster();

    const std::size_t n = size - kHeader;
    if (n > 0) {
        if (::write(g_master, data + kHeader, n) != ssize_t(n))
            std::abort();
        const int queued = waitForInput(form, int(n));
        form.VCP.OnRxChar(&form.VCP, queued);
    }
    stopTimers(form);
    // For looking at what an input does: VEK_FUZZ_TRACE=1 prints the window's log after it.
    static const bool trace = getenv("VEK_FUZZ_TRACE") != nullptr;
    if (trace) {
        const auto& t = form.transferState;
        fprintf(stderr, "-- kind %d packet %u/%u acked %u, log:\n%s\n", int(t.Kind), t.PacketNo,
                t.PacketCount, t.AckedNo, qPrintable(form.logLines().join(QLatin1Char('|'))));
    }
    if (g_escaped) {
        fprintf(stderr, "an exception reached the standard display\n");
        std::abort();
    }
    return 0;
}
