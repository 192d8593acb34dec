// The flows through the real window, offscreen, driven by its own event loop as the program is.
#include <QEventLoop>
#include <QTextBlock>
#include <QTimer>

#include "app/Form1.h"
#include "bench/Flows.h"
#include "config/ConfigRead.h"
#include "sim/SimBox.h"
#include "tests/app/DrivenWindow.h"
#include "transfer/FirmwareImage.h"

namespace vek::bench {

namespace {

using namespace std::chrono_literals;

constexpr auto kFlowLimit = 60s;

// Frame sizes on the wire of the read, for the line-time column.
constexpr uint64_t kReadRequestFrame = kFrameOverhead + 6;

uint64_t readWireBytes() {
    uint64_t bytes = 0;
    for (uint32_t offset = 0; offset < kConfigBlockSize; offset += kConfigChunk)
        bytes += kReadRequestFrame + kFrameOverhead + 6 +
                 std::min<uint32_t>(kConfigChunk, kConfigBlockSize - offset);
    return bytes;
}

// A window as the program makes it, shown, its message boxes answered and kept.
struct BenchWindow : testing::WindowRecord {
    std::unique_ptr<TForm1> form = std::make_unique<TForm1>(route({}));

    BenchWindow() { form->show(); }

    // Runs the event loop until the log shows `last`, timing from the line `first` on; action,
    // if any, starts the flow once the loop runs.
    RunFigures timeBetween(const QString& first, const QString& last,
                           const std::function<void()>& action = {}) {
        RunFigures run;
        QEventLoop loop;
        Instant start, end;
        bool started = false, ended = false;
        QTextDocument* log = form->ui.Log->document();
        const auto watch = QObject::connect(form->ui.Log, &QTextEdit::textChanged, &loop, [&] {
            const QString line = log->lastBlock().text();
            if (!started && line == first) {
                started = true;
                start = Instant::now();
            } else if (started && !ended && line == last) {
                ended = true;
                end = Instant::now();
                loop.quit();
            }
        });
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(kFlowLimit);
        if (action)
            QTimer::singleShot(0, &loop, action);
        loop.exec();
        QObject::disconnect(watch);
        if (!ended) {
            run.failure = "no \"" + last.toStdString() + "\" within the limit";
            return run;
        }
        if (!messages.empty()) {
            run.failure = "message box: " + messages.front().title.toStdString();
            return run;
        }
        run.between(start, end);
        run.ok = true;
        return run;
    }
};

}  // namespace

RunFigures windowUpload() {
    SimBox box(outdatedBox());
    box.start();
    BenchWindow w;
    RunFigures run = w.timeBetween(QStringLiteral("Iniciando atualização..."),
                                   QStringLiteral("Atualização concluída com sucesso!"),
                                   [&] { testing::connectTo(*w.form, box.portPath()); });
    run.exchanges = int(transferPacketCount(kFirmwareImageSize));
    run.wireBytes = transferWireBytes(kFirmwareImageSize);
    w.form.reset();  // closes the port before the box goes
    if (run.ok && box.stats().fwPacketsAccepted != run.exchanges) {
        run.ok = false;
        run.failure = "the box accepted " + std::to_string(box.stats().fwPacketsAccepted);
    }
    return run;
}

ConfigRunFigures windowConfigReadAndWrite() {
    SimBox box(currentBox());
    box.start();
    BenchWindow w;
    ConfigRunFigures runs;
    runs.read = w.timeBetween(QStringLiteral("Buscando configuração interna..."),
                              QStringLiteral("Leitura da configuração interna concluída!"),
                              [&] { testing::connectTo(*w.form, box.portPath()); });
    runs.read.exchanges = int(kConfigReadCount);
    runs.read.wireBytes = readWireBytes();
    if (runs.read.ok) {
        runs.write = w.timeBetween(QStringLiteral("Iniciando atualização..."),
                                   QStringLiteral("Atualização concluída com sucesso!"),
                                   [&] { w.form->ui.B_SetConfig->click(); });
    } else {
        runs.write.failure = "no read before it";
    }
    runs.write.exchanges = int(transferPacketCount(kConfigBlockSize));
    runs.write.wireBytes = transferWireBytes(kConfigBlockSize);
    w.form.reset();
    if (runs.write.ok && box.stats().configWritesCompleted != 1) {
        runs.write.ok = false;
        runs.write.failure = "the box stored nothing";
    }
    return runs;
}

}  // namespace vek::bench
