// vekctl: the service work of VekTool from the command line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <QCommandLineParser>
#include <QCoreApplication>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/Help.h"
#include "cli/Record.h"

namespace vek {
namespace {

// Options that each command takes, besides --json, --quiet and --timeout.
// Ctrl-C ends every command within a second, whatever it waits on: one that has not ended by
// then is ended here, its ports and files closed by the system.
constexpr std::chrono::seconds kInterruptGrace{1};

void endSoonAfterInterrupt(const TComSignal& stop) {
    std::thread([&stop] {
        stop.waitRaised();
        std::this_thread::sleep_for(kInterruptGrace);
        std::fputs("vekctl: interrompido\n", stderr);
        std::_Exit(kExitInterrupted);
    }).detach();
}

// What to do after a failure, where there is something to do.
std::string nextStep(const QString& command, const QString& sub, const std::string& failure) {
    const bool linkFailed =
        failure == "port_lost" || failure == "link_failed" || failure == "interrupted";
    if (command == "update" && linkFailed)
        return "Reconecte o Vek e rode 'vekctl update' de novo: ele fica no bootloader até que "
               "uma atualização se complete.";
    if (command == "config" && sub == "set" && linkFailed)
        return "Reconecte o Vek e rode 'vekctl config set' de novo: a configuração só está "
               "gravada quando é lida de volta igual.";
    return {};
}

int run(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vekctl");
    QCoreApplication::setApplicationVersion(QStringLiteral("%1").arg(VEK_VERSION));

    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption port({"p", "port"}, "", "PORTA");
    const QCommandLineOption output({"o", "output"}, "", "ARQ");
    const QCommandLineOption raw("raw", "", "ARQ");
    const QCommandLineOption force("force", "");
    const QCommandLineOption downgrade("downgrade", "");
    const QCommandLineOption oldFirmware("allow-old-firmware", "");
    const QCommandLineOption probe("probe", "");
    const QCommandLineOption timeout("timeout", "", "S");
    const QCommandLineOption json("json", "");
    const QCommandLineOption quiet({"q", "quiet"}, "");
    const QCommandLineOption help({"h", "help"}, "");
    const QCommandLineOption version({"V", "version"}, "");
    const QCommandLineOption profile("profile", "", "ARQ");
    const QCommandLineOption all("all", "");
    const QCommandLineOption watch("watch", "");
    const QCommandLineOption record("record", "", "ARQ");
    const QCommandLineOption station("station", "", "NOME");
    const QCommandLineOption sync("sync", "", "URL");
    const QCommandLineOption to("to", "", "URL");
    const QCommandLineOption token("token", "", "T");
    const QCommandLineOption jobs("jobs", "", "N");
    const QCommandLineOption csv("csv", "");
    parser.addOptions({port,    output, raw,  force,   downgrade, oldFirmware, probe, timeout,
                       json,    quiet,  help, version, profile,   all,         watch, record,
                       station, sync,   to,   token,   jobs,      csv});

    Output out(false, false);
    if (!parser.parse(QCoreApplication::arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const std::string typed = unknown.first().toStdString();
            const std::string meant = optionSuggestion(typed);
            out.error((typed.size() == 1 ? "-" : "--") + typed + ": opção desconhecida" +
                      (meant.empty() ? "" : "; " + meant));
        } else {
            out.error(parser.errorText().toStdString());
        }
        out.message("'vekctl --help' mostra o uso");
        return kExitUsage;
    }
    if (parser.isSet(version)) {
        std::printf("vekctl %s\n", VEK_VERSION);
        return kExitOk;
    }

    Invocation inv;
    inv.words = parser.positionalArguments();
    const QString command = inv.words.value(0);
    const std::string named =
        commandNameOf(command.toStdString(), inv.words.value(1).toStdString());
    if (parser.isSet(help) || command == "help") {
        // "vekctl help config set" and "vekctl config set --help" alike.
        const QStringList asked = command == "help" ? inv.words.mid(1) : inv.words;
        const std::string name =
            commandNameOf(asked.value(0).toStdString(), asked.value(1).toStdString());
        if (asked.isEmpty() || name.empty()) {
            std::fputs(wholeHelp().c_str(), stdout);
            return asked.isEmpty() ? kExitOk : kExitUsage;
        }
        std::fputs(commandHelp(name)->c_str(), stdout);
        return kExitOk;
    }
    for (const QString& name : parser.optionNames()) {
        const QString longName = name == "p"   ? "port"
                                 : name == "o" ? "output"
                                 : name == "q" ? "quiet"
                                               : name;
        // An unknown command is told by itself, below.
        if (!named.empty() && !takesOption(named, longName.toStdString())) {
            out.error("a opção --" + longName.toStdString() + " não vale para '" + named + "'");
            out.message("'vekctl help " + named + "' mostra as opções de '" + named + "'");
            return kExitUsage;
        }
    }
    for (const QString& p : parser.values(port))
        inv.ports.push_back(p.toStdString());
    inv.port = parser.value(port).toStdString();
    if (inv.ports.size() > 1 && command != "provision") {
        out.error("só o provision aceita várias portas");
        return kExitUsage;
    }
    inv.profile = parser.value(profile).toStdString();
    inv.record = parser.value(record).toStdString();
    inv.station =
        parser.isSet(station) ? parser.value(station).toStdString() : defaultStationName();
    const QString server = parser.isSet(sync) ? parser.value(sync) : parser.value(to);
    inv.syncUrl = (server.isEmpty() ? qEnvironmentVariable("VEKCTL_SYNC") : server).toStdString();
    inv.syncToken =
        (parser.isSet(token) ? parser.value(token) : qEnvironmentVariable("VEKCTL_TOKEN"))
            .toStdString();
    // The journal is the truth that is sent: nothing is sent that was not written first.
    if (parser.isSet(sync) && inv.record.empty()) {
        out.error("--sync envia o diário: diga qual com --record ARQ");
        return kExitUsage;
    }
    if (command != "sync" && inv.record.empty())
        inv.syncUrl.clear();
    inv.all = parser.isSet(all);
    inv.watch = parser.isSet(watch);
    inv.csv = parser.isSet(csv);
    if (parser.isSet(jobs)) {
        bool number = false;
        inv.jobs = parser.value(jobs).toInt(&number);
        if (!number || inv.jobs < 1 || inv.jobs > 256) {
            out.error("--jobs quer um número de 1 a 256");
            return kExitUsage;
        }
    }
    if (inv.port.empty())
        inv.port = qEnvironmentVariable("VEKCTL_PORT").toStdString();
    inv.output = parser.value(output).toStdString();
    inv.raw = parser.value(raw).toStdString();
    inv.force = parser.isSet(force);
    inv.downgrade = parser.isSet(downgrade);
    inv.oldFirmware = parser.isSet(oldFirmware);
    inv.probe = parser.isSet(probe);
    if (parser.isSet(timeout)) {
        bool number = false;
        const double seconds = parser.value(timeout).toDouble(&number);
        if (!number || seconds <= 0 || seconds > 3600) {
            out.error("--timeout quer um número de segundos entre 0 e 3600");
            return kExitUsage;
        }
        inv.wait = std::chrono::milliseconds(qint64(seconds * 1000));
    }

    // An update tells its events as a stream; every other command gives one document.
    Output result(parser.isSet(json), parser.isSet(quiet), command == "update");
    // Lives as long as the process: the watchdog waits on it.
    static TComSignal& stop = *new TComSignal;
    raiseOnInterrupt(stop);
    endSoonAfterInterrupt(stop);
    const auto fail = [&](ExitCode code, const std::string& id, const std::string& message,
                          QJsonObject details = {}) {
        result.endProgress();
        const std::string hint = nextStep(command, inv.words.value(1), id);
        result.error(message);
        if (!hint.empty())
            result.message(hint);
        if (result.json()) {
            details.insert("ok", false);
            details.insert("error", QString::fromStdString(id));
            details.insert("message", QString::fromStdString(message));
            if (!hint.empty())
                details.insert("next_step", QString::fromStdString(hint));
            details.insert("exit_code", code);
            result.jsonLine(details);
        }
        return code;
    };
    try {
        return runCommand(inv, result, stop);
    } catch (const CommandFailure& failure) {
        return fail(failure.exitCode(), failure.id(), failure.what());
    } catch (const LinkError& failure) {
        return fail(kExitLinkFailed, "link_failed", failure.title() + ": " + failure.what(),
                    {{"title", QString::fromStdString(failure.title())}});
    } catch (const Interrupted&) {
        return fail(kExitInterrupted, "interrupted", "interrompido; a porta foi fechada");
    } catch (const std::exception& failure) {
        // Out of memory or threads: a message and a failure, not an abort.
        return fail(kExitLinkFailed, "internal_error", failure.what());
    }
}

}  // namespace
}  // namespace vek

int main(int argc, char* argv[]) {
    return vek::run(argc, argv);
}
