// vekhistory: the service history server and its administration.
#include <pthread.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <csignal>
#include <iostream>
#include <map>
#include <thread>

#include "history/HistoryStore.h"
#include "server/HistoryServer.h"
#include "server/Tokens.h"

using namespace vek::history;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFound = 1;  // verify found altered lines or broken chains; import refused lines
constexpr int kExitUsage = 2;
constexpr int kExitDatabase = 3;

const char* const kUsage =
    "uso: vekhistory serve [--db BANCO] [--listen ENDEREÇO:PORTA] [--tls-cert ARQ --tls-key ARQ]\n"
    "     vekhistory token add --role station|reader --name NOME [--db BANCO]\n"
    "     vekhistory import [--db BANCO] [--station NOME] DIÁRIO...\n"
    "     vekhistory verify [--db BANCO]\n"
    "     vekhistory grant PAPEL [--db BANCO]   (PostgreSQL, como dono do banco)\n"
    "BANCO: um arquivo SQLite ou postgresql://usuário@máquina:porta/banco\n";

struct UsageError {
    QString message;
};

QString defaultDb() {
    const QString fromEnvironment = qEnvironmentVariable("VEKHISTORY_DB");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           "/vekhistory/history.db";
}

// Parses the command's options; the database option is common to all.
QCommandLineParser& parse(QCommandLineParser& parser, const QStringList& args,
                          const QList<QCommandLineOption>& options) {
    parser.addOption({"db", "banco", "BANCO", defaultDb()});
    parser.addOptions(options);
    if (!parser.parse(args))
        throw UsageError{parser.errorText()};
    return parser;
}

std::pair<std::string, int> listenAddress(const QString& text) {
    const int colon = int(text.lastIndexOf(':'));
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    if (colon <= 0 || !ok || port < 0 || port > 65535)
        throw UsageError{"--listen deve ser ENDEREÇO:PORTA, como 127.0.0.1:8470"};
    QString host = text.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    return {host.toStdString(), port};
}

int serve(const QStringList& args) {
    QCommandLineParser parser;
    parse(parser, args,
          {{"listen", "endereço", "ENDEREÇO:PORTA", "127.0.0.1:8470"},
           {"tls-cert", "certificado", "ARQ"},
           {"tls-key", "chave", "ARQ"}});
    ServerSettings settings;
    settings.db = parser.value("db");
    std::tie(settings.host, settings.port) = listenAddress(parser.value("listen"));
    settings.tlsCert = parser.value("tls-cert").toStdString();
    settings.tlsKey = parser.value("tls-key").toStdString();

    // SIGINT and SIGTERM are taken by a thread of their own, which stops the server cleanly.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    HistoryServer server(settings);
    const char* scheme = settings.tlsCert.empty() ? "http" : "https";
    // One write, so that whoever reads it never sees half the address.
    std::cerr << QString("vekhistory: ouvindo em %1://%2:%3%4\n")
                     .arg(scheme, QString::fromStdString(settings.host))
                     .arg(server.port())
                     .arg(server.openWithoutTokens() ? " (aberto: sem tokens)" : "")
                     .toStdString()
              << std::flush;
    std::thread stopper([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    server.run();
    // The server stopped for another reason than a signal: wake the stopper.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return kExitOk;
}

int addToken(const QStringList& args) {
    if (args.value(1) != "add")
        throw UsageError{"use: vekhistory token add --role station|reader --name NOME"};
    QCommandLineParser parser;
    parse(parser, args.mid(1), {{"role", "papel", "PAPEL"}, {"name", "nome", "NOME"}});
    const QString role = parser.value("role");
    const QString name = parser.value("name");
    if ((role != "station" && role != "reader") || name.trimmed().isEmpty())
        throw UsageError{"--role deve ser station ou reader, e --name não pode ser vazio"};
    HistoryStore store(parser.value("db"));
    const QString token = newToken();
    store.addToken({tokenHash(token.toUtf8()), role, name});
    // Shown this once: only its hash is kept.
    std::cout << token.toStdString() << std::endl;
    std::cerr << "vekhistory: token de " << role.toStdString() << " \"" << name.toStdString()
              << "\" criado; guarde-o agora, ele não será mostrado de novo" << std::endl;
    return kExitOk;
}

constexpr int kImportBatch = 500;

// A journal's lines into the store, a batch per transaction. A line a crash cut short (closed
// off by the station, or the file's unended last line) is skipped, not refused.
class JournalImport {
  public:
    JournalImport(HistoryStore& store, const QString& station) : store_(store), station_(station) {}

    void importFile(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            report(path, 0, file.errorString(), "refused");
            return;
        }
        for (int number = 1; !file.atEnd(); ++number) {
            const QByteArray bytes = file.readLine(kMaxLineBytes + 3);
            if (bytes.trimmed().isEmpty())
                continue;
            if (!bytes.endsWith('\n') && !file.atEnd()) {
                report(path, number, "linha longa demais", "refused");
                while (!file.atEnd() && !file.readLine(kMaxLineBytes).endsWith('\n')) {
                }
                continue;
            }
            ParsedLine parsed = parseJournalLine(bytes);
            if (!bytes.endsWith('\n') || parsed.refusal.reason == "malformed_json")
                report(path, number, "linha incompleta, ignorada", "skipped");
            else if (!parsed.ok())
                report(path, number, parsed.refusal.message, "refused");
            else if (parsed.line.chain.station.isEmpty() && station_.isEmpty())
                report(path, number, "linha sem station: importe com --station NOME", "refused");
            else
                pending_.push_back(std::move(parsed));
            if (pending_.size() == kImportBatch)
                flush();
        }
        flush();
    }

    int finish() {
        std::cout << "stored " << counts_["stored"] << ", duplicate " << counts_["duplicate"]
                  << ", conflict " << counts_["conflict"] << ", refused " << counts_["refused"]
                  << ", skipped " << counts_["skipped"] << std::endl;
        return counts_["refused"] > 0 ? kExitFound : kExitOk;
    }

  private:
    void report(const QString& path, int number, const QString& what, const char* count) {
        std::cerr << path.toStdString() << (number > 0 ? ":" + std::to_string(number) : "") << ": "
                  << what.toStdString() << '\n';
        ++counts_[count];
    }

    void flush() {
        std::vector<HistoryStore::LineFrom> batch;
        for (const ParsedLine& parsed : pending_)
            batch.push_back({&parsed.line, station_});
        for (const IngestOutcome outcome : store_.ingest(batch))
            ++counts_[outcomeName(outcome)];
        pending_.clear();
    }

    HistoryStore& store_;
    QString station_;
    std::vector<ParsedLine> pending_;
    std::map<QString, int> counts_;
};

int importJournals(const QStringList& args) {
    QCommandLineParser parser;
    parse(parser, args, {{"station", "estação das linhas antigas sem station", "NOME"}});
    if (parser.positionalArguments().isEmpty())
        throw UsageError{"diga os diários a importar"};
    HistoryStore store(parser.value("db"));
    JournalImport import(store, parser.value("station"));
    for (const QString& path : parser.positionalArguments())
        import.importFile(path);
    return import.finish();
}

int verify(const QStringList& args) {
    QCommandLineParser parser;
    parse(parser, args, {});
    HistoryStore store(parser.value("db"));
    const VerifyReport report = store.verify();
    for (const AlteredLine& line : report.altered)
        std::cout << "alterada: visita " << line.visit.toStdString() << ": "
                  << line.what.toStdString() << '\n';
    for (const JournalState& journal : report.brokenJournals) {
        std::cout << "diário " << journal.journal.toStdString() << " ("
                  << journal.station.toStdString() << "):";
        for (const SeqRange& range : journal.missing)
            std::cout << " faltam " << range.first << ".." << range.last << ';';
        for (const qint64 seq : journal.breaks)
            std::cout << " quebra em " << seq << ';';
        std::cout << '\n';
    }
    std::cout << report.lines << " linhas verificadas, " << report.altered.size() << " alteradas, "
              << report.brokenJournals.size() << " diários com falhas" << std::endl;
    return report.altered.empty() && report.brokenJournals.empty() ? kExitOk : kExitFound;
}

int grant(const QStringList& args) {
    QCommandLineParser parser;
    parse(parser, args, {});
    if (parser.positionalArguments().size() != 1)
        throw UsageError{"diga o papel do PostgreSQL que roda o servidor"};
    HistoryStore(parser.value("db")).grantServerRole(parser.positionalArguments().first());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    const QString command = args.value(1);
    if (args.size() > 1)
        args.removeAt(1);
    try {
        if (command == "serve")
            return serve(args);
        if (command == "token")
            return addToken(args);
        if (command == "import")
            return importJournals(args);
        if (command == "verify")
            return verify(args);
        if (command == "grant")
            return grant(args);
        if (command == "--help" || command == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
        std::cerr << kUsage;
        return kExitUsage;
    } catch (const UsageError& error) {
        std::cerr << "vekhistory: " << error.message.toStdString() << '\n' << kUsage;
        return kExitUsage;
    } catch (const StoreError& error) {
        std::cerr << "vekhistory: " << error.what() << std::endl;
        return kExitDatabase;
    } catch (const ServerError& error) {
        std::cerr << "vekhistory: " << error.what() << std::endl;
        return kExitUsage;
    }
}
