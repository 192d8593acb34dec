#include "LocalHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace vek::test {

HttpReply HttpReply::of(int status, QByteArray contentType, QByteArray body) {
    HttpReply reply;
    reply.status = status;
    reply.contentType = std::move(contentType);
    reply.body = std::move(body);
    return reply;
}

HttpReply HttpReply::silent() {
    HttpReply reply;
    reply.answers = false;
    return reply;
}

HttpReply HttpReply::withHeader(QByteArray name, QByteArray value) const {
    HttpReply reply = *this;
    reply.headers.append({std::move(name), std::move(value)});
    return reply;
}

HttpReply HttpReply::delayedBy(int milliseconds) const {
    HttpReply reply = *this;
    reply.delayMs = milliseconds;
    return reply;
}

LocalHttpServer::LocalHttpServer() {
    server_.listen(QHostAddress::LocalHost);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            ++openConnections_;
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                --openConnections_;
                socket->deleteLater();
            });
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                // The request head may come in pieces; it is served once, when complete.
                if (socket->property("served").toBool())
                    return;
                const QByteArray head = socket->property("head").toByteArray() + socket->readAll();
                socket->setProperty("head", head);
                const qsizetype end = head.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                socket->setProperty("served", true);
                serve(socket, head.left(end));
            });
        }
    });
}

QString LocalHttpServer::address(const QByteArray& path) const {
    return QStringLiteral("127.0.0.1:%1").arg(server_.serverPort()) + QString::fromLatin1(path);
}

QString LocalHttpServer::closedPortAddress(const QByteArray& path) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("127.0.0.1:%1").arg(port) + QString::fromLatin1(path);
}

void LocalHttpServer::serve(QTcpSocket* socket, const QByteArray& head) {
    const QByteArray path = head.left(head.indexOf("\r\n")).split(' ').value(1);
    requests_.append({path, head});
    const HttpReply reply = replies_.value(path, HttpReply::of(404, "text/html", "<html></html>"));
    if (!reply.answers)
        return;
    QTimer::singleShot(reply.delayMs, socket, [socket, reply] {
        QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
        if (!reply.contentType.isEmpty())
            response += "Content-Type: " + reply.contentType + "\r\n";
        for (const auto& [name, value] : reply.headers)
            response += name + ": " + value + "\r\n";
        response += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        response += "Connection: close\r\n\r\n" + reply.body;
        socket->write(response);
        socket->disconnectFromHost();
    });
}

}  // namespace vek::test
