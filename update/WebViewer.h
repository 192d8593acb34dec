#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace vek {

// The document the viewer holds once a navigation is complete.
class WebDocument {
  public:
    explicit WebDocument(QString bodyInnerMarkup, bool hasBody = true);
    bool hasBody() const { return hasBody_; }
    QString bodyInnerHtml() const { return body_; }
    void close() { closed_ = true; }
    bool closed() const { return closed_; }

  private:
    QString body_;
    bool hasBody_;
    bool closed_ = false;
};

// The hidden HTML viewer: fetches an address in the background and is only polled; nothing here
// ever blocks the event loop.
// - A navigation with flags fetches the address into the document. An HTML reply is presented as
//   its body's inner markup; any other type as "<PRE>" + escaped text + "</PRE>"; an unreachable
//   host, an HTTP error, a reply that stalls or one larger than kMaxBodyBytes as a complete error
//   page that holds no version record.
// - A navigation without flags is the user's own (the download of a published tool): it is handed
//   to openExternally and not fetched; the current document is left as it is.
class CppWebBrowser : public QObject {
    Q_OBJECT
  public:
    enum { navNoHistory = 2, navNoReadFromCache = 4, navNoWriteToCache = 8 };
    enum { readyStateUninitialized = 0, readyStateLoading = 1, readyStateComplete = 4 };

    // A reply larger than this is not presented: a hostile server cannot exhaust memory.
    static constexpr qint64 kMaxBodyBytes = 1024 * 1024;
    // No byte for this long ends the navigation with the error page.
    static constexpr int kDefaultTransferTimeoutMs = 10'000;

    explicit CppWebBrowser(QObject* parent = nullptr);
    ~CppWebBrowser() override;

    // Aborts the navigation in progress, if any: ReadyState falls back to 0 with no document,
    // since a stopped navigation is not complete. A complete document is left alone.
    void Stop();
    void Navigate(const QString& address, int flags = 0);
    int ReadyState() const { return readyState_; }
    WebDocument* Document() const { return document_.get(); }  // nullptr unless complete

    // Where navigations without flags go, with "http://" already in front. Empty by default
    // (the core has no desktop); the window sets QDesktopServices::openUrl.
    std::function<void(const QString& url)> openExternally;

    // For navigations started after the call.
    void setTransferTimeout(int milliseconds) { transferTimeoutMs_ = milliseconds; }
    // The client the viewer fetches with, for a cache or a proxy of the caller's choice.
    QNetworkAccessManager& network() { return *network_; }

    // How a fetched reply is presented, given its Content-Type header and its bytes.
    static WebDocument documentFromReply(const QByteArray& contentType, const QByteArray& body);

  private:
    void readAvailable();
    void finished();
    void complete(WebDocument document);
    void dropReply();

    std::unique_ptr<QNetworkAccessManager> network_;
    QNetworkReply* reply_ = nullptr;
    QByteArray body_;
    int readyState_ = readyStateUninitialized;
    int transferTimeoutMs_ = kDefaultTransferTimeoutMs;
    std::unique_ptr<WebDocument> document_;
};

// "http://" in front of an address that has no scheme.
QString withScheme(const QString& address);

}  // namespace vek
