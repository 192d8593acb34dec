// A box pulled out during an upload, during a read and while idle: the window neither hangs nor
// spins, and the next press of the connection button closes the port so that a new one opens.
#include <gtest/gtest.h>

#include <cstdio>

#include "WindowHarness.h"
#include "sim/SimBox.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

const QString kReadDone = QStringLiteral("Leitura da configuração interna concluída!");

// What must hold after any unplugging.
void expectRecovers(Window& w, const char* when) {
    const auto cpuBefore = processCpuTime();
    spin(3s);
    const auto cpu = processCpuTime() - cpuBefore;
    std::printf("[ unplug   ] %s: %lld ms of CPU in the 3 s after; messages:", when,
                static_cast<long long>(cpu.count()));
    for (const MessageBoxRequest& m : w.messages)
        std::printf(" \"%s\"", m.title.toStdString().c_str());
    std::printf("\n");
    EXPECT_LT(cpu, 600ms) << "a core spinning would use all 3000 ms";

    w.pressConnection();
    EXPECT_FALSE(w.form->VCP.Connected());
    EXPECT_TRUE(w.logHas("Conexão fechada..."));

    SimBox replugged(fieldBox(36));
    replugged.start();
    w.messages.clear();
    w.connectTo(replugged.portPath());
    EXPECT_TRUE(waitUntil([&] { return w.logHas(kReadDone); }, 10s))
        << w.form->logLines().join("\n").toStdString();
    spin(1500ms);  // long enough for a pacer left over from before to show itself
    EXPECT_TRUE(w.messages.empty()) << w.messages.front().title.toStdString();
}

TEST(Unplug, DuringAnUpload) {
    SimFaults faults;
    faults.hangUpAtPacket = 900;
    SimBox box(fieldBox(30), faults);
    box.start();
    Window w;
    w.connectTo(box.portPath());
    ASSERT_TRUE(waitUntil([&] { return box.stats().hangUps == 1; }, 20s));
    expectRecovers(w, "during an upload");
}

TEST(Unplug, DuringARead) {
    PtyPeer peer;
    Window w;
    w.connectTo(peer.slavePath());
    peer.write(statusFrame(1, {3, 0, 2, 36}, 0x0800F000));
    ASSERT_TRUE(waitUntil([&] { return !peer.drain(0ms).empty(); }, 5s));
    peer.hangUp();
    expectRecovers(w, "during a read");
}

TEST(Unplug, WhileIdle) {
    SimBox box(fieldBox(36));
    box.start();
    Window w;
    w.connectTo(box.portPath());
    ASSERT_TRUE(waitUntil([&] { return w.logHas(kReadDone); }, 10s));
    box.hangUp();
    expectRecovers(w, "while idle");
}

}  // namespace
}  // namespace vek::testing
