#pragma once

#include <httplib.h>

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

// The program vekhistory run as it is installed.
struct ProgramRun {
    int exitCode = -1;
    QString out, err;
};
ProgramRun runVekhistory(const QStringList& args);

// `vekhistory serve` on a free loopback port, stopped (SIGTERM) when the object goes.
class ServedHistory {
  public:
    // extra: more options for serve, such as --tls-cert and --tls-key.
    explicit ServedHistory(const QString& db, const QStringList& extra = {});
    ~ServedHistory();

    int port() const { return port_; }
    httplib::Client client(const std::string& token = {}) const;
    // POST /api/v1/visits with the lines; the answer's JSON.
    QJsonObject post(const QByteArray& lines, const std::string& token = {}) const;
    QJsonObject get(const std::string& path, const std::string& token = {}) const;

  private:
    QProcess process_;
    std::string scheme_;
    int port_ = 0;
};
