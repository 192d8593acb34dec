#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <optional>

#include "LocalHttpServer.h"
#include "update/VersionRecord.h"
#include "update/WebViewer.h"

namespace vek {
namespace {

using test::HttpReply;
using test::LocalHttpServer;

constexpr int kNavigationTimeoutMs = 5000;
constexpr int kFresh = CppWebBrowser::navNoHistory | CppWebBrowser::navNoReadFromCache |
                       CppWebBrowser::navNoWriteToCache;
const QByteArray kRecord = "#*$(002.037.065@@002.037.065)$*#";

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "update_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

class Viewer : public testing::Test {
  protected:
    void SetUp() override {
        // The local server is reached directly whatever proxy the environment names.
        viewer.network().setProxy(QNetworkProxy::NoProxy);
    }

    bool waitComplete(int timeoutMs = kNavigationTimeoutMs) {
        return QTest::qWaitFor([&] { return viewer.ReadyState() == 4; }, timeoutMs);
    }
    QString body() const {
        return viewer.Document() ? viewer.Document()->bodyInnerHtml() : QString();
    }
    // An error page is complete, has a body, and no version record can be read from it.
    void expectErrorPage() const {
        ASSERT_EQ(viewer.ReadyState(), 4);
        ASSERT_NE(viewer.Document(), nullptr);
        EXPECT_TRUE(viewer.Document()->hasBody());
        EXPECT_FALSE(body().isEmpty());
        EXPECT_FALSE(body().contains(u'#')) << body().toStdString();
    }

    QCoreApplication& application = app();  // first: the network manager needs it when made
    LocalHttpServer server;
    CppWebBrowser viewer;
};

struct ServedCase {
    const char* name;
    HttpReply reply;
    std::optional<QString> expected;  // none: an error page
    bool hasBody = true;
};

class ViewerServed : public Viewer, public testing::WithParamInterface<ServedCase> {};

TEST_P(ViewerServed, CompletesWithTheDocumentTheReplyMakes) {
    server.on("/files/vektool.ver", GetParam().reply);
    viewer.Navigate(server.address("/files/vektool.ver"), kFresh);
    EXPECT_EQ(viewer.ReadyState(), 1);
    EXPECT_EQ(viewer.Document(), nullptr);
    ASSERT_TRUE(waitComplete());
    if (!GetParam().expected) {
        expectErrorPage();
        EXPECT_FALSE(parseVersionRecord(body().toLatin1().toStdString()));
    } else {
        ASSERT_NE(viewer.Document(), nullptr);
        EXPECT_EQ(viewer.Document()->hasBody(), GetParam().hasBody);
        EXPECT_EQ(body(), *GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ViewerServed,
    testing::Values(
        ServedCase{"PlainTextRecord", HttpReply::of(200, "text/plain", kRecord + "\r\n"),
                   "<PRE>" + QString::fromLatin1(kRecord) + "\r\n</PRE>"},
        ServedCase{"HtmlRecord",
                   HttpReply::of(200, "text/html",
                                 "<html><body bgcolor=\"#fff\">v " + kRecord + "</body></html>"),
                   "v " + QString::fromLatin1(kRecord)},
        ServedCase{"HtmlWithoutBody", HttpReply::of(200, "text/html", "<html><head></head></html>"),
                   "", false},
        // An error status is never read as the file, whatever its page says.
        ServedCase{"NotFoundHoldingARecord",
                   HttpReply::of(404, "text/plain", kRecord + "  padding padding"), std::nullopt},
        ServedCase{"ServerError", HttpReply::of(500, "text/html", "<body>" + kRecord + "</body>"),
                   std::nullopt},
        ServedCase{"EmptyBodyJustFits", HttpReply::of(200, "text/plain", QByteArray()),
                   "<PRE></PRE>"},
        ServedCase{"LargestBodyPresented",
                   HttpReply::of(200, "text/plain", QByteArray(CppWebBrowser::kMaxBodyBytes, 'a')),
                   "<PRE>" + QString(CppWebBrowser::kMaxBodyBytes, u'a') + "</PRE>"},
        ServedCase{
            "TooLargeBody",
            HttpReply::of(200, "text/plain", QByteArray(CppWebBrowser::kMaxBodyBytes + 1, 'a')),
            std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Viewer, FollowsARedirect) {
    server.on("/old",
              HttpReply::of(302, "text/html", "").withHeader("Location", "/files/vektool.ver"));
    server.on("/files/vektool.ver", HttpReply::of(200, "text/plain", kRecord));
    viewer.Navigate(server.address("/old"), kFresh);
    ASSERT_TRUE(waitComplete());
    EXPECT_EQ(body(), "<PRE>" + QString::fromLatin1(kRecord) + "</PRE>");
}

TEST_F(Viewer, ClosedPortGivesAnErrorPage) {
    viewer.Navigate(LocalHttpServer::closedPortAddress("/files/vektool.ver"), kFresh);
    ASSERT_TRUE(waitComplete());
    expectErrorPage();
}

TEST_F(Viewer, SilentServerNeverBlocksAndStopAbortsIt) {
    server.on("/files/vektool.ver", HttpReply::silent());
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);

    viewer.Navigate(server.address("/files/vektool.ver"), kFresh);
    QTest::qWait(500);
    EXPECT_GE(ticks, 20);
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_EQ(viewer.ReadyState(), 1);
    EXPECT_EQ(viewer.Document(), nullptr);

    viewer.Stop();
    EXPECT_EQ(viewer.ReadyState(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 2000));
    EXPECT_EQ(viewer.ReadyState(), 0);
    EXPECT_EQ(viewer.Document(), nullptr);
}

TEST_F(Viewer, SilentServerEndsAsAnErrorPageAfterTheTransferTimeout) {
    server.on("/files/vektool.ver", HttpReply::silent());
    viewer.setTransferTimeout(200);
    viewer.Navigate(server.address("/files/vektool.ver"), kFresh);
    ASSERT_TRUE(waitComplete());
    expectErrorPage();
}

TEST_F(Viewer, StopLeavesACompleteDocument) {
    server.on("/files/vektool.ver", HttpReply::of(200, "text/plain", kRecord));
    viewer.Navigate(server.address("/files/vektool.ver"), kFresh);
    ASSERT_TRUE(waitComplete());
    viewer.Stop();
    EXPECT_EQ(viewer.ReadyState(), 4);
    EXPECT_EQ(body(), "<PRE>" + QString::fromLatin1(kRecord) + "</PRE>");
}

// The reply of an abandoned navigation must not overwrite the newer one's document.
TEST_F(Viewer, NewNavigationSupersedesThePendingOne) {
    server.on("/slow", HttpReply::of(200, "text/plain", "slow").delayedBy(300));
    server.on("/fast", HttpReply::of(200, "text/plain", "fast"));
    viewer.Navigate(server.address("/slow"), kFresh);
    QTest::qWait(50);
    viewer.Navigate(server.address("/fast"), kFresh);
    ASSERT_TRUE(waitComplete());
    QTest::qWait(500);
    EXPECT_EQ(body(), "<PRE>fast</PRE>");
}

TEST_F(Viewer, NavigationWithoutFlagsGoesToTheShellUnfetched) {
    server.on("/files/vektool.ver", HttpReply::of(200, "text/plain", kRecord));
    viewer.Navigate(server.address("/files/vektool.ver"), kFresh);
    ASSERT_TRUE(waitComplete());

    QStringList opened;
    viewer.openExternally = [&](const QString& url) { opened << url; };
    const QString download = server.address("/files/VekTool v2.37.A.exe");
    viewer.Navigate(download);
    QTest::qWait(200);
    EXPECT_EQ(opened, QStringList{"http://" + download});
    EXPECT_EQ(server.requests().size(), 1);
    // The version file's document is left as it was.
    EXPECT_EQ(viewer.ReadyState(), 4);
    EXPECT_EQ(body(), "<PRE>" + QString::fromLatin1(kRecord) + "</PRE>");
}

TEST_F(Viewer, NavigationWithoutFlagsAndWithoutShellDoesNothing) {
    viewer.Navigate(server.address("/files/VekTool v2.37.A.exe"));
    QTest::qWait(100);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(viewer.ReadyState(), 0);
}

// An encoded release letter survives the shell's address parsing as the same file name.
TEST(DownloadUrl, EncodedLetterStaysEncoded) {
    const QUrl url(withScheme(QString::fromStdString(downloadAddress(kUpdateHost, {2, 37, '#'}))));
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.fragment(), QString());
    EXPECT_EQ(url.path(), "/files/VekTool v2.37.#.exe");
    EXPECT_EQ(url.toEncoded(), "http://www.norvane.com.br/files/VekTool%20v2.37.%23.exe");
}

class ViewerCache : public Viewer {
  protected:
    void SetUp() override {
        Viewer::SetUp();
        ASSERT_TRUE(cacheDir.isValid());
        cache = new QNetworkDiskCache(&viewer.network());
        cache->setCacheDirectory(cacheDir.path());
        viewer.network().setCache(cache);
        server.on(
            "/files/vektool.ver",
            HttpReply::of(200, "text/plain", kRecord).withHeader("Cache-Control", "max-age=3600"));
    }
    void navigateTwice(int flags) {
        for (int i = 0; i < 2; ++i) {
            viewer.Navigate(server.address("/files/vektool.ver"), flags);
            ASSERT_TRUE(waitComplete());
            EXPECT_EQ(body(), "<PRE>" + QString::fromLatin1(kRecord) + "</PRE>");
        }
    }
    bool cached() const {
        return cache->metaData(QUrl(withScheme(server.address("/files/vektool.ver")))).isValid();
    }

    QTemporaryDir cacheDir;
    QNetworkDiskCache* cache = nullptr;
};

// The contrast that shows the cache is in play at all.
TEST_F(ViewerCache, ACachedFetchIsReadFromTheCache) {
    navigateTwice(CppWebBrowser::navNoHistory);
    EXPECT_TRUE(cached());
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(ViewerCache, FlagsFourteenBypassTheCacheBothWays) {
    navigateTwice(kFresh);
    EXPECT_FALSE(cached());
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_TRUE(server.requests()[1].head.contains("Cache-Control: no-cache"));
}

}  // namespace
}  // namespace vek
