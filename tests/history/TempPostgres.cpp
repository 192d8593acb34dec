#include "TempPostgres.h"

#include <unistd.h>
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <stdexcept>

namespace {

void runAsServerUser(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (geteuid() == 0)
        process.start(
            "setpriv",
            QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", program} + args);
    else
        process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        throw std::runtime_error((program + " failed: " + process.readAll()).toStdString());
}

}  // namespace

QString TempPostgres::serverBinaries() {
    const QStringList versions =
        QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto v = versions.rbegin(); v != versions.rend(); ++v)
        if (QFile::exists("/usr/lib/postgresql/" + *v + "/bin/initdb"))
            return "/usr/lib/postgresql/" + *v + "/bin";
    return {};
}

TempPostgres::TempPostgres() : binaries_(serverBinaries()) {
    if (geteuid() == 0) {
        // The server's user must own its folder.
        QProcess::execute("chown", {"-R", "nobody:nogroup", dir_.path()});
    }
    runAsServerUser(binaries_ + "/initdb", {"-D", dir_.path() + "/data", "-U", "vekowner",
                                            "--auth=trust", "-E", "UTF8", "--no-locale"});
    pgCtl({"start"});
}

TempPostgres::~TempPostgres() {
    try {
        pgCtl({"stop", "-m", "immediate"});
    } catch (const std::exception&) {
        // Already stopped: nothing is left to end.
    }
}

void TempPostgres::pgCtl(const QStringList& args) {
    runAsServerUser(binaries_ + "/pg_ctl",
                    QStringList{"-D", dir_.path() + "/data", "-l", dir_.path() + "/log", "-w", "-o",
                                "-c listen_addresses='' -k " + dir_.path()} +
                        args);
}

void TempPostgres::restart() {
    pgCtl({"restart", "-m", "fast"});
}

QString TempPostgres::url(const QString& database, const QString& user) const {
    return QString("postgresql://%1@localhost/%2?host=%3").arg(user, database, dir_.path());
}

QString TempPostgres::execute(const QString& database, const QString& sql, const QString& user) {
    const QString name = "temp-postgres-admin";
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name);
        db.setHostName(dir_.path());
        db.setUserName(user);
        db.setDatabaseName(database);
        if (!db.open())
            error = db.lastError().text();
        else if (QSqlQuery query(db); !query.exec(sql))
            error = query.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

QString TempPostgres::createDatabase() {
    const QString name = QString("history%1").arg(++databases_);
    const QString error = execute("postgres", "CREATE DATABASE " + name);
    if (!error.isEmpty())
        throw std::runtime_error(error.toStdString());
    return name;
}
