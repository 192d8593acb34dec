#include "Vekhistory.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QRegularExpression>

ProgramRun runVekhistory(const QStringList& args) {
    QProcess process;
    process.start(VEKHISTORY_PATH, args);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

ServedHistory::ServedHistory(const QString& db, const QStringList& extra) {
    process_.setReadChannel(QProcess::StandardError);
    process_.start(VEKHISTORY_PATH,
                   QStringList{"serve", "--db", db, "--listen", "127.0.0.1:0"} + extra);
    static const QRegularExpression listening("ouvindo em (https?)://127\\.0\\.0\\.1:(\\d+)");
    QString said;
    while (port_ == 0 && process_.waitForReadyRead(20000)) {
        said += QString::fromUtf8(process_.readAllStandardError());
        if (const auto match = listening.match(said); match.hasMatch()) {
            scheme_ = match.captured(1).toStdString();
            port_ = match.captured(2).toInt();
        }
    }
    if (port_ == 0) {
        process_.kill();
        process_.waitForFinished();
        throw std::runtime_error(("vekhistory serve did not start: " + said).toStdString());
    }
    // The request log is not read: let it go.
    process_.setStandardErrorFile(QProcess::nullDevice());
}

ServedHistory::~ServedHistory() {
    process_.terminate();
    if (!process_.waitForFinished(20000)) {
        ADD_FAILURE() << "vekhistory serve did not stop on SIGTERM";
        process_.kill();
        process_.waitForFinished();
    }
}

httplib::Client ServedHistory::client(const std::string& token) const {
    httplib::Client client(scheme_ + "://127.0.0.1:" + std::to_string(port_));
    client.set_read_timeout(60);
    // The test's certificate is its own, signed by nobody.
    client.enable_server_certificate_verification(false);
    if (!token.empty())
        client.set_bearer_token_auth(token.c_str());
    return client;
}

QJsonObject ServedHistory::post(const QByteArray& lines, const std::string& token) const {
    const auto res =
        client(token).Post("/api/v1/visits", lines.toStdString(), "application/x-ndjson");
    if (!res)
        throw std::runtime_error("no answer to POST /api/v1/visits");
    QJsonObject answer = QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
    answer.insert("status", res->status);
    return answer;
}

QJsonObject ServedHistory::get(const std::string& path, const std::string& token) const {
    const auto res = client(token).Get(path.c_str());
    if (!res)
        throw std::runtime_error("no answer to GET " + path);
    QJsonObject answer = QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
    answer.insert("status", res->status);
    return answer;
}
