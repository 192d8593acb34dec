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
#include "cli/Record.h"

namespace vek {
namespace {

constexpr const char* kHelp = R"(uso: vekctl [opções] COMANDO [argumentos]

Identifica o Vek, atualiza o firmware e lê, grava e compara a configuração, pela porta serial.

Comandos:
  list [--probe]                 as portas seriais (com o nome estável em /dev/serial/by-id);
                                 --probe: o que responde em cada uma, todas ao mesmo tempo
  info -p PORTA                  a identificação: modo, identificador, versão, base da
                                 configuração e o que o VekTool faria com o firmware
  update -p PORTA [--force] [--downgrade] [--record ARQ]
                                 envia o firmware do VekTool quando o do Vek é mais antigo
                                 (--force: mesmo quando já é o atual; --downgrade: também a um
                                 Vek com firmware mais novo) e confirma a nova versão
  config get -p PORTA [-o ARQ] [--raw ARQ]
                                 lê a configuração num perfil (JSON); --raw guarda também o
                                 bloco de 2032 bytes como veio
  config set -p PORTA ARQ [--allow-old-firmware] [--record ARQ]
                                 confere o perfil como a janela confere, grava e lê de volta;
                                 recusa um Vek que precisa de atualização (vekctl update antes)
  config check ARQ               confere um perfil sem tocar em nenhum Vek
  config diff A B                os campos que diferem; A e B são perfis ou port:PORTA
  preset default|trevalo [-o ARQ]
                                 o preset como perfil
  remote-commands ARQ            os nove comandos de configuração remota do perfil
  provision --profile ARQ [-p PORTA ...|--all] [--watch] [--record ARQ] [--jobs N]
                                 a estação: cada Vek identificado, com o firmware em dia, o
                                 perfil gravado (se já não o guarda) e verificado, e a visita
                                 registrada; as portas ao mesmo tempo; --watch atende cada Vek
                                 que for ligado, até Ctrl-C
  report ARQ [--csv]             o registro: totais por resultado e a última visita de cada Vek
  sync ARQ --to URL [--token T]  envia ao servidor do histórico as visitas do diário ARQ que ele
                                 ainda não confirmou (um notebook de volta ao escritório)

PORTA é um caminho (/dev/ttyACM0), um nome de dispositivo (ttyACM0) ou id: seguido do
identificador como a janela o mostra (id:0011A2B3-44C5D6E7-8899FA0B), que procura em todas as
portas. Sem -p vale a variável VEKCTL_PORT. Portas de VEKTOOL_PORTS entram na lista.

Opções:
  -p, --port PORTA   a porta do Vek
  -o, --output ARQ   grava o perfil em ARQ em vez da saída padrão
      --raw ARQ      (config get) grava o bloco lido em ARQ
      --force        (update) envia o firmware mesmo a um Vek atualizado
      --downgrade    (update) volta ao firmware do VekTool um Vek com firmware mais novo
      --allow-old-firmware
                     (config set) grava mesmo num Vek cujo firmware precisa de atualização
      --probe        (list) pergunta a cada porta o que está ligado nela
      --timeout S    quanto esperar pelo status do Vek, em segundos (padrão 3)
      --profile ARQ  (provision) o perfil a gravar
      --all          (provision) todas as portas USB presentes
      --watch        (provision) continua e atende cada Vek que for ligado
      --record ARQ   (provision, update, config set) acrescenta a visita ao diário ARQ: uma
                     linha JSON por visita, encadeada à anterior
      --station NOME (com --record) o nome da estação nas linhas (padrão: o nome do host)
      --sync URL     (com --record) envia cada visita do diário ao servidor do histórico depois
                     de gravada, e as que ficaram de antes; um servidor fora do ar não atrasa
                     nem falha o atendimento (padrão: a variável VEKCTL_SYNC)
      --to URL       (sync) o servidor do histórico
      --token T      o token da estação no servidor (padrão: a variável VEKCTL_TOKEN)
      --jobs N       (provision) no máximo N Vek atendidos ao mesmo tempo (padrão 16)
      --csv          (report) a última visita de cada Vek em CSV
      --json         resultado em JSON na saída padrão (eventos um por linha no update)
  -q, --quiet        só os erros na saída de erros
  -h, --help         este texto
  -V, --version      a versão

Códigos de saída:
  0    sucesso
  1    a operação falhou na ligação com o Vek (ERRO #0x01 a #0x04, porta perdida)
  2    uso errado da linha de comando
  3    perfil inválido (nada foi enviado ao Vek)
  4    a porta não pôde ser aberta (sem permissão, inexistente, em uso)
  5    nenhum Vek respondeu
  6    o Vek não confirmou o que foi gravado, ou os perfis comparados diferem
  7    o Vek está em modo de operação
  8    a configuração guardada no Vek é inválida
  9    (provision) algumas visitas falharam
  10   o hardware do Vek não aceita a operação
  11   um arquivo não pôde ser lido ou gravado (ou o registro está em uso por outra estação)
  12   o firmware do Vek precisa ser atualizado antes (vekctl update)
  13   (sync) o servidor do histórico não recebeu todas as visitas; elas ficam no diário
  14   (sync) o servidor recusou visitas; elas ficam em ARQ.refused com o motivo
  130  interrompido (Ctrl-C); a porta é fechada
)";

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

bool allowed(const QString& command, const QString& sub, const QString& option) {
    if (option == "port")
        return command == "info" || command == "update" || command == "config" ||
               command == "provision";
    if (option == "profile" || option == "all" || option == "watch" || option == "jobs")
        return command == "provision";
    if (option == "record" || option == "station" || option == "sync")
        return command == "provision" || command == "update" ||
               (command == "config" && sub == "set");
    if (option == "token")
        return command == "provision" || command == "update" ||
               (command == "config" && sub == "set") || command == "sync";
    if (option == "to")
        return command == "sync";
    if (option == "csv")
        return command == "report";
    if (option == "output")
        return (command == "config" && sub == "get") || command == "preset";
    if (option == "raw")
        return command == "config" && sub == "get";
    if (option == "force" || option == "downgrade")
        return command == "update";
    if (option == "allow-old-firmware")
        return command == "config" && sub == "set";
    if (option == "probe")
        return command == "list";
    return true;
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
        out.error(parser.errorText().toStdString() + "\n'vekctl --help' mostra o uso");
        return kExitUsage;
    }
    if (parser.isSet(help)) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    if (parser.isSet(version)) {
        std::printf("vekctl %s\n", VEK_VERSION);
        return kExitOk;
    }

    Invocation inv;
    inv.words = parser.positionalArguments();
    const QString command = inv.words.value(0);
    for (const QString& name : parser.optionNames()) {
        const QString longName = name == "p"   ? "port"
                                 : name == "o" ? "output"
                                 : name == "q" ? "quiet"
                                               : name;
        const QString sub = command == "config" ? inv.words.value(1) : QString();
        if (!allowed(command, sub, longName)) {
            out.error("a opção --" + longName.toStdString() + " não vale para '" +
                      (command + (sub.isEmpty() ? "" : " " + sub)).toStdString() +
                      "'\n'vekctl --help' mostra o uso");
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
