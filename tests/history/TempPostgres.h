#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

// A PostgreSQL of the test's own: initdb in a temporary folder, listening only on a socket in
// that folder, run as "nobody" when the test runs as root (PostgreSQL refuses root), stopped
// when the object goes.
class TempPostgres {
  public:
    // Empty when this machine has no PostgreSQL server programs.
    static QString serverBinaries();

    TempPostgres();
    ~TempPostgres();
    TempPostgres(const TempPostgres&) = delete;
    TempPostgres& operator=(const TempPostgres&) = delete;

    // A new, empty database owned by the cluster's owner "vekowner"; its URL for that user.
    QString createDatabase();
    QString url(const QString& database, const QString& user = "vekowner") const;
    // Runs SQL as the owner on a database; the error's text, empty on success.
    QString execute(const QString& database, const QString& sql, const QString& user = "vekowner");
    void restart();

  private:
    void pgCtl(const QStringList& args);

    QTemporaryDir dir_;
    QString binaries_;
    int databases_ = 0;
};
