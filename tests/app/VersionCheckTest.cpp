// The online version check driven tick by tick against a local web server.
#include <gtest/gtest.h>

#include <QCursor>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTest>
#include <set>

#include "WindowHarness.h"
#include "tests/update/LocalHttpServer.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;
using test::HttpReply;
using test::LocalHttpServer;

const QByteArray kFile = "/files/vektool.ver";
const QString kUpToDate = QStringLiteral("O VekTool está atualizado");
const QString kOffer = QStringLiteral("Clique aqui para atualizar o VekTool");

HttpReply versionFile(const QByteArray& fields) {
    return HttpReply::of(200, "text/plain", "#*$(" + fields + "@@" + fields + ")$*#\r\n");
}

class VersionCheck : public ::testing::Test {
  protected:
    void start(const QString& host) {
        TForm1Options options;
        options.updateHost = host;
        w = std::make_unique<Window>(options);
        // Ticks come from the test alone; the local server is reached whatever proxy is set.
        form().Timer4.stop();
        form().CppWebBrowser1.network().setProxy(QNetworkProxy::NoProxy);
    }
    void start() { start(server.address("")); }
    TForm1& form() { return *w->form; }
    bool pageComplete() {
        return waitUntil([&] { return form().CppWebBrowser1.ReadyState() == 4; });
    }

    // One tick as Timer4 gives it; reports whether the window left Timer4 on.
    bool tick() {
        ++ticks;
        form().Timer4.start();
        const auto begin = std::chrono::steady_clock::now();
        form().Timer4Timer();
        slowest = std::max(slowest, std::chrono::steady_clock::now() - begin);
        const bool on = form().Timer4.isActive();
        form().Timer4.stop();
        return on;
    }

    // Ticks on to `last`; the version file must be requested on each tick of `expected` and on
    // no other. With awaitPage the viewer's page is complete before the next tick.
    void expectRequestsAt(int last, const std::set<int>& expected, bool awaitPage) {
        qsizetype requests = server.requests().size();
        while (ticks < last) {
            tick();
            if (expected.count(ticks)) {
                ++requests;
                ASSERT_TRUE(waitUntil([&] { return server.requests().size() == requests; }))
                    << "no request on tick " << ticks;
                EXPECT_EQ(server.requests().back().path, kFile);
                if (awaitPage) {
                    ASSERT_TRUE(pageComplete()) << "tick " << ticks;
                }
            } else if (expected.count(ticks + 1) || ticks == last) {
                spin(30ms);
                ASSERT_EQ(server.requests().size(), requests) << "request by tick " << ticks;
            }
        }
    }

    void runFirstCheck() {
        expectRequestsAt(6, {3}, true);
        checkTimerOn = tick();
    }

    QApplication& application = app();  // first: the server's socket needs its event loop
    LocalHttpServer server;
    std::unique_ptr<Window> w;
    int ticks = 0;
    bool checkTimerOn = true;
    std::chrono::steady_clock::duration slowest{};
};

TEST_F(VersionCheck, PageThatNeverCompletesIsRequestedAgainEvery16Ticks) {
    server.on(kFile, HttpReply::silent());
    start();
    expectRequestsAt(38, {3, 19, 35}, false);
    EXPECT_TRUE(w->messages.empty());
    EXPECT_TRUE(form().ui.L_Msg->text().isEmpty());
    // The viewer loads in the background: no tick waits for the silent server.
    EXPECT_LT(slowest, 500ms);
}

TEST_F(VersionCheck, CompletePageWithoutRecordIsRequestedAgainEvery7Ticks) {
    for (const HttpReply& reply :
         {HttpReply::of(404, "text/html", "<html><body>none</body></html>"),
          HttpReply::of(200, "text/plain", "no record in this file")}) {
        SCOPED_TRACE(reply.status);
        server.on(kFile, reply);
        start();
        ticks = 0;
        const qsizetype before = server.requests().size();
        expectRequestsAt(20, {3, 10, 17}, true);
        EXPECT_EQ(server.requests().size() - before, 3);
        EXPECT_TRUE(w->messages.empty());
        EXPECT_TRUE(form().ui.L_Msg->text().isEmpty());
    }
}

TEST_F(VersionCheck, RecordArrivingAfterAStalledRequestEndsTheCheckForGood) {
    server.on(kFile, HttpReply::silent());
    start();
    expectRequestsAt(18, {3}, false);
    server.on(kFile, versionFile("002.036.068"));
    expectRequestsAt(22, {19}, true);
    EXPECT_FALSE(tick()) << "Timer4 is switched off by the valid record";
    EXPECT_EQ(form().ui.L_Msg->text(), kUpToDate);
    expectRequestsAt(60, {}, false);
    EXPECT_EQ(server.requests().size(), 2);
}

TEST_F(VersionCheck, CurrentVersionPublishedSaysUpToDateInPlainGray) {
    server.on(kFile, versionFile("002.036.068"));
    start();
    runFirstCheck();
    EXPECT_FALSE(checkTimerOn);
    EXPECT_EQ(form().ui.L_Msg->text(), kUpToDate);
    EXPECT_FALSE(form().ui.L_Msg->font().underline());
    EXPECT_EQ(form().ui.L_Msg->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    EXPECT_TRUE(w->messages.empty());
    EXPECT_TRUE(w->opened.empty());
}

TEST_F(VersionCheck, NewerVersionOfferedAndAcceptedOpensTheDownloadOnce) {
    server.on(kFile, versionFile("002.037.065"));
    start();
    w->answer = QMessageBox::Yes;
    runFirstCheck();
    EXPECT_FALSE(checkTimerOn);
    ASSERT_EQ(w->messages.size(), 1u);
    const MessageBoxRequest& box = w->messages[0];
    EXPECT_EQ(box.title, QStringLiteral("Atualização VekTool"));
    EXPECT_EQ(box.text, QStringLiteral("Há uma nova versão do aplicativo VekTool disponível\r\n"
                                       "gostaria de fazer o download agora?"));
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(w->opened,
              std::vector<QString>{"http://" + server.address("/files/VekTool v2.37.A.exe")});
    EXPECT_TRUE(form().ui.L_Msg->text().isEmpty());
    // The download is the shell's: the viewer fetches nothing more.
    spin(30ms);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(VersionCheck, DeclinedOfferBecomesALinkThatDownloadsOnce) {
    server.on(kFile, versionFile("002.037.065"));
    start();
    w->answer = QMessageBox::No;
    runFirstCheck();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_TRUE(w->opened.empty());
    QLabel* label = form().ui.L_Msg;
    EXPECT_EQ(label->text(), kOffer);
    EXPECT_TRUE(label->font().underline());
    label->ensurePolished();
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(label, &enter);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(label, &leave);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    const std::vector<QString> download{"http://" + server.address("/files/VekTool v2.37.A.exe")};
    QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_EQ(w->opened, download);
    EXPECT_TRUE(label->text().isEmpty());
    QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_EQ(w->opened, download) << "a second click opens nothing";
    EXPECT_EQ(w->messages.size(), 1u);
}

TEST_F(VersionCheck, OlderPublishedVersionIsOfferedToo) {
    server.on(kFile, versionFile("002.035.068"));
    start();
    w->answer = QMessageBox::Yes;
    runFirstCheck();
    EXPECT_FALSE(checkTimerOn);
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0].title, QStringLiteral("Atualização VekTool"));
    EXPECT_EQ(w->opened,
              std::vector<QString>{"http://" + server.address("/files/VekTool v2.35.D.exe")});
}

TEST_F(VersionCheck, UnreachableHostIsRetriedQuietly) {
    start(LocalHttpServer::closedPortAddress(""));
    for (int round = 0; round < 2; ++round) {
        while (ticks < 3 + 7 * round - 1)
            tick();
        EXPECT_TRUE(tick());
        EXPECT_EQ(form().CppWebBrowser1.ReadyState(), 1) << "requested on tick " << ticks;
        ASSERT_TRUE(pageComplete());
        while (ticks < 6 + 7 * round)
            tick();
        EXPECT_TRUE(tick()) << "a failed check leaves Timer4 on";
    }
    EXPECT_TRUE(w->messages.empty());
    EXPECT_TRUE(w->opened.empty());
    EXPECT_TRUE(form().ui.L_Msg->text().isEmpty());
    EXPECT_LT(slowest, 500ms);
}

}  // namespace
}  // namespace vek::testing
