// The configuration read as the window shows it, the box played on a pseudo-terminal and every
// event handed over by the port as in the field.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <QTextBlock>

#include "WindowHarness.h"
#include "config/ConfigRead.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

QColor colourOf(const TForm1& f, const QString& line) {
    for (QTextBlock b = f.ui.Log->document()->begin(); b.isValid(); b = b.next()) {
        if (b.text() == line)
            return b.begin().fragment().charFormat().foreground().color();
    }
    return {};
}

std::vector<uint8_t> readReply(uint32_t offset, std::span<const uint8_t> data) {
    std::vector<uint8_t> payload(6 + data.size());
    writeBE32(payload.data(), offset);
    writeBE16(&payload[4], uint32_t(data.size()));
    std::copy(data.begin(), data.end(), payload.begin() + 6);
    return encodePacket(ConfigRead, payload, kBoxToTool);
}

// A window connected to a box the test plays.
class ReadThroughWindow : public ::testing::Test {
  protected:
    void SetUp() override { w.connectTo(box.slavePath()); }

    PtyPeer box;
    Window w;
    TForm1& f = *w.form;
};

TEST_F(ReadThroughWindow, ADiscontinuedBoxWithAnInvalidStoreShowsProgressAndRedWarnings) {
    box.write(statusFrame(1, {2, 0, 1, 0}));
    ASSERT_TRUE(waitUntil([&] { return w.logHas("Buscando configuração interna..."); }));
    EXPECT_EQ(f.ui.ProgressBar1->maximum(), 5);

    std::vector<int> shown;
    QObject::connect(f.ui.ProgressBar1, &QProgressBar::valueChanged,
                     [&](int value) { shown.push_back(value); });
    std::vector<uint8_t> store(2032, 0xFF);
    for (uint32_t n = 1; n <= 5; ++n) {
        ASSERT_TRUE(waitUntil([&] { return !box.drain().empty(); })) << "request " << n;
        const uint32_t offset = (n - 1) * kConfigChunk;
        const uint32_t count = std::min<uint32_t>(kConfigChunk, 2032 - offset);
        box.write(readReply(offset, std::span(store).subspan(offset, count)));
    }
    ASSERT_TRUE(waitUntil([&] { return w.logHas("Preparando configuração padrão..."); }))
        << f.logLines().join("\n").toStdString();
    // The reply number + 1 after each reply, 0 when the read ends; then the defaults' write.
    ASSERT_GE(shown.size(), 5u);
    EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + 5),
              (std::vector<int>{2, 3, 4, 5, 0}));
    const QColor red(Qt::red);
    EXPECT_EQ(colourOf(f,
                       "Essa versão do vek está descontinuada, entre em contato com a Norvane "
                       "para mais informações!"),
              red);
    EXPECT_EQ(colourOf(f, "Configuração inválida!"), red);
    EXPECT_EQ(colourOf(f, "Preparando configuração padrão..."), QColor(Qt::black));
}

TEST_F(ReadThroughWindow, APortClosedDuringTheReadEndsItWithErro03) {
    box.write(statusFrame(1, {3, 0, 2, 36}));
    ASSERT_TRUE(waitUntil([&] { return !box.drain().empty(); })) << "no read request";
    w.pressConnection();
    ASSERT_FALSE(f.VCP.Connected());
    ASSERT_TRUE(waitUntil([&] { return !w.messages.empty(); }, 2s));
    EXPECT_EQ(w.messages[0].title, "ERRO #0x03");
    EXPECT_EQ(w.messages[0].text, "Não há conexão ativa!");
    EXPECT_EQ(w.messages[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(f.ui.ProgressBar1->value(), 0);
    EXPECT_FALSE(f.Timer3.isActive());
}

}  // namespace
}  // namespace vek::testing
