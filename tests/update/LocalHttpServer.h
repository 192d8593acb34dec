#pragma once

// A tiny HTTP/1.1 server on 127.0.0.1 for the viewer's tests: each path answers as configured,
// or never, and every request is recorded.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <utility>

namespace vek::test {

struct HttpReply {
    int status = 200;
    QByteArray contentType;  // no Content-Type header when empty
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    bool answers = true;  // false: the request is read and the connection held open, silent
    int delayMs = 0;

    static HttpReply of(int status, QByteArray contentType, QByteArray body);
    static HttpReply silent();
    HttpReply withHeader(QByteArray name, QByteArray value) const;
    HttpReply delayedBy(int milliseconds) const;
};

struct HttpRequest {
    QByteArray path;
    QByteArray head;  // request line and header fields as received
};

class LocalHttpServer {
  public:
    LocalHttpServer();

    void on(const QByteArray& path, HttpReply reply) { replies_[path] = std::move(reply); }
    // "127.0.0.1:PORT/path": without a scheme, as the window hands addresses to the viewer.
    QString address(const QByteArray& path) const;
    const QList<HttpRequest>& requests() const { return requests_; }
    int openConnections() const { return openConnections_; }

    // An address on a port where nothing listens.
    static QString closedPortAddress(const QByteArray& path);

  private:
    void serve(QTcpSocket* socket, const QByteArray& head);

    QMap<QByteArray, HttpReply> replies_;
    QList<HttpRequest> requests_;
    int openConnections_ = 0;
    QTcpServer server_;  // last: its sockets go first, while what they report into still exists
};

}  // namespace vek::test
