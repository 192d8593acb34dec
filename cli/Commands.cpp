#include "cli/Commands.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>

#include "cli/ExitCode.h"
#include "cli/Files.h"
#include "cli/Help.h"
#include "cli/JournalSync.h"
#include "cli/Record.h"
#include "cli/Service.h"
#include "cli/Station.h"
#include "cli/VisitTrace.h"
#include "config/ConfigBlock.h"
#include "config/Presets.h"
#include "config/Profile.h"
#include "config/RemoteCommands.h"
#include "serial/EnumComPorts.h"

namespace vek {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

[[noreturn]] void usage(const std::string& message) {
    throw CommandFailure(kExitUsage, "usage", message);
}

// The positional argument at index, after the command's own words.
std::string argument(const Invocation& inv, qsizetype index, const char* what) {
    if (index >= inv.words.size())
        usage(std::string("falta ") + what);
    return inv.words[index].toStdString();
}

void expectArguments(const Invocation& inv, qsizetype count) {
    if (inv.words.size() > count)
        usage("argumento a mais: '" + inv.words[count].toStdString() + "'");
}

// The box on -p, or with none the one box that answers on the USB serial ports, as flashers take
// their one device; none or several is said, with the ports.
ReachedBox reachTheBox(const Invocation& inv, const TComSignal& stop, Output& out) {
    if (!inv.port.empty())
        return reachBox(inv.port, stop, inv.wait);
    std::vector<std::string> ports = listPorts();
    std::erase_if(ports, [](const std::string& port) { return !MayOpenUnasked(port); });
    std::vector<ProbedPort> probed = probePorts(ports, stop, inv.wait, true);
    std::erase_if(probed, [](const ProbedPort& p) { return !p.announcement; });
    std::string listed;
    for (const ProbedPort& p : probed)
        listed += (listed.empty() ? "" : ", ") + p.port;
    if (probed.size() == 1) {
        out.message("Usando " + probed.front().port + ", o único Vek que respondeu");
        return {probed.front().port, std::move(probed.front().link), *probed.front().announcement};
    }
    if (probed.empty())
        throw CommandFailure(kExitNoBox, "no_box",
                             ports.empty()
                                 ? "nenhuma porta USB serial presente: conecte o Vek ou "
                                   "diga a porta com -p"
                                 : "nenhum Vek respondeu nas portas USB (" +
                                       std::to_string(ports.size()) + "); diga a porta com -p");
    usage("há " + std::to_string(probed.size()) + " Vek ligados (" + listed +
          "): diga qual com -p PORTA");
}

// ---- files ----

// A profile's problems, all of them: one line, or a line each under a count.
[[noreturn]] void profileRefused(const std::string& file,
                                 const std::vector<ProfileError>& problems) {
    const auto line = [](const ProfileError& p) {
        return (p.field.empty() ? "" : p.field + ": ") + p.message;
    };
    std::string message = file + ": ";
    if (problems.size() == 1) {
        message += line(problems.front());
    } else {
        message += std::to_string(problems.size()) + " problemas";
        for (const ProfileError& problem : problems)
            message += "\n  " + line(problem);
    }
    throw CommandFailure(kExitInvalidProfile, "invalid_profile", message);
}

Profile loadProfile(const std::string& file) {
    auto parsed = parseProfile(readFile(file, kProfileMaxBytes));
    if (const auto* problems = std::get_if<std::vector<ProfileError>>(&parsed))
        profileRefused(file, *problems);
    return std::get<Profile>(std::move(parsed));
}

// The name a record gives the profile: its own, or its file's.
std::string profileName(const Profile& profile, const std::string& file) {
    return profile.name.empty() ? QFileInfo(text(file)).completeBaseName().toStdString()
                                : profile.name;
}

// The window's checks of the panel, in its order and with its messages.
EncodedConfig checkedBlock(const std::string& file, const PanelValues& panel) {
    if (const auto problems = writeProblems(panel); !problems.empty())
        profileRefused(file, problems);
    return std::get<EncodedConfig>(encodeConfigBlock(panel));
}

// ---- boxes ----

ReachedBox reachBootloaderBox(const Invocation& inv, const TComSignal& stop, Output& out) {
    ReachedBox box = reachTheBox(inv, stop, out);
    if (box.announcement.operatingMode()) {
        out.message(identificationText(box.announcement));
        throw CommandFailure(kExitOperatingMode, "operating_mode",
                             "o Vek em " + box.port + " está em modo de operação");
    }
    return box;
}

const DeviceInfo& infoOf(const ReachedBox& box) {
    return *box.announcement.status;
}

void requireKnownHardware(const ReachedBox& box) {
    if (decideDeviceAction(infoOf(box).version) == DeviceAction::None)
        throw CommandFailure(kExitNotSupported, "unknown_hardware",
                             "hardware desconhecido (tipo " +
                                 std::to_string(infoOf(box).version[0]) + ") em " + box.port);
}

BoxLink::Progress progressOf(Output& out, const std::string& what) {
    return [&out, what](uint32_t done, uint32_t total) { out.progress(what, done, total); };
}

ConfigBlockBytes readStoredBlock(ReachedBox& box, Output& out) {
    out.message("Buscando configuração interna...");
    const ConfigBlockBytes block =
        box.link->readConfig(infoOf(box).configBase, progressOf(out, "Lendo configuração"));
    out.endProgress();
    return block;
}

PanelValues storedPanelOf(const ConfigBlockBytes& block, const std::string& port) {
    auto panel = storedPanel(block);
    if (!panel)
        throw CommandFailure(kExitInvalidStore, "invalid_stored_configuration",
                             "Configuração inválida! (o bloco guardado pelo Vek em " + port +
                                 " não passa na leitura; nada foi gravado)");
    return *panel;
}

QString sha256Of(std::span<const uint8_t> bytes) {
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                                 QCryptographicHash::Sha256)
            .toHex());
}

// How long a single command waits for the history server to take its line.
constexpr auto kSyncGrace = std::chrono::seconds(3);

// The one visit of update or config set, recorded in the journal that --record names: its line
// is written however the visit ends, and the ending goes on. The box reached is kept here so that
// where a transfer stopped can still be read when it failed.
class RecordedVisit {
  public:
    RecordedVisit(const Invocation& inv, const std::string& profile, Output& out)
        : inv_(inv), out_(out), trace_(inv.port, profile) {
        if (!inv.record.empty())
            record_ = std::make_unique<RecordFile>(inv.record, inv.station);
    }

    ReachedBox& reached(ReachedBox box) {
        box_ = std::move(box);
        trace_.reachedOn(box_.port);
        if (box_.announcement.status)
            trace_.identified(*box_.announcement.status);
        trace_.begin("identify");
        return box_;
    }
    VisitTrace& trace() { return trace_; }

    template <typename Body>
    int run(Body body) {
        int code = kExitOk;
        try {
            code = body();
        } catch (...) {
            const VisitRecord& v = trace_.failed(std::current_exception(), box_.link.get());
            if (record_ && !portHeldElsewhere(v)) {
                try {
                    record_->append(v);
                    sendJournal();
                } catch (const CommandFailure& failure) {
                    out_.error(failure.what());
                }
            }
            throw;
        }
        if (record_) {
            record_->append(trace_.succeeded());
            sendJournal();
        }
        return code;
    }

  private:
    // The journal's new line, and any left from before, to the history server; one that is away
    // leaves them for the next time, never failing the visit.
    void sendJournal() {
        if (inv_.syncUrl.empty())
            return;
        JournalSync sync(inv_.record, text(inv_.syncUrl), text(inv_.syncToken));
        const SyncState state = sync.drain(kSyncGrace);
        if (state.backlog > 0)
            out_.message("vekctl: histórico: " + std::to_string(state.backlog) +
                         " visita(s) por enviar (" + state.problem.toStdString() +
                         "); ficam no diário para a próxima sincronização");
    }

    const Invocation& inv_;
    Output& out_;
    std::unique_ptr<RecordFile> record_;
    VisitTrace trace_;
    ReachedBox box_;
};

// ---- commands ----

int list(const Invocation& inv, Output& out, const TComSignal& stop) {
    expectArguments(inv, 1);
    const std::vector<std::string> ports = listPorts();
    std::vector<ProbedPort> probed;
    if (inv.probe)
        probed = probePorts(ports, stop, inv.wait, false);

    QJsonArray rows;
    std::string table;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const std::string stable = StableName(ports[i]);
        QJsonObject row{{"port", text(ports[i])}};
        if (!stable.empty())
            row.insert("stable_name", text(stable));
        std::string line = ports[i] + (stable.empty() ? "" : "  " + stable);
        if (inv.probe) {
            const ProbedPort& p = probed[i];
            if (p.announcement) {
                row.insert("box", identificationJson(p.port, *p.announcement));
                const auto& status = p.announcement->status;
                line += p.announcement->operatingMode() ? "  modo de operação" : "  bootloader";
                if (status)
                    line += "  " + identifierText(status->id, '-') + "  v" +
                            versionText(status->version) + "  hw " +
                            std::to_string(status->version[0]);
            } else if (!p.error.empty()) {
                row.insert("error", text(p.error));
                line += "  (" + p.error + ")";
            } else {
                line += "  (nenhum Vek respondeu)";
            }
        }
        rows.append(row);
        table += line + "\n";
    }
    if (ports.empty())
        table = "nenhuma porta serial encontrada\n";
    out.result(table, {{"ok", true}, {"ports", rows}});
    return kExitOk;
}

int info(const Invocation& inv, Output& out, const TComSignal& stop) {
    expectArguments(inv, 1);
    const ReachedBox box = reachTheBox(inv, stop, out);
    QJsonObject object = identificationJson(box.port, box.announcement);
    const bool operating = box.announcement.operatingMode();
    // A box whose hardware takes no firmware of the tool's is told as update tells it.
    const bool supported = operating || takesCarriedFirmware(box.announcement.status->version[0]);
    object.insert("ok", !operating && supported);
    out.result(identificationText(box.announcement), object);
    return operating ? kExitOperatingMode : supported ? kExitOk : kExitNotSupported;
}

// The box's firmware, c.d of its version, as people write it: "2.36".
std::string firmwareText(uint8_t major, uint8_t minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

int updateBox(const Invocation& inv, Output& out, const TComSignal& stop, RecordedVisit& visit) {
    ReachedBox& box = visit.reached(reachBootloaderBox(inv, stop, out));
    const DeviceInfo before = infoOf(box);
    const DeviceAction action = decideDeviceAction(before.version);
    if (!takesCarriedFirmware(before.version[0])) {
        out.message(identificationText(box.announcement));
        throw CommandFailure(kExitNotSupported, decisionId(action),
                             "o Vek em " + box.port + " (hardware " +
                                 std::to_string(before.version[0]) +
                                 ") não recebe o firmware do VekTool");
    }
    const std::array<uint8_t, 2> boxFirmware{before.version[2], before.version[3]};
    const std::string from = firmwareText(boxFirmware[0], boxFirmware[1]),
                      to = firmwareText(kCarriedFirmware[0], kCarriedFirmware[1]);
    const bool newer = boxFirmware > kCarriedFirmware;
    if (newer && inv.force && !inv.downgrade)
        usage("o Vek em " + box.port + " tem o firmware " + from +
              ", mais novo que o do VekTool (" + to +
              "); --force não volta o firmware: para voltar a " + to + ", use --downgrade");
    QJsonObject end{{"event", "end"},
                    {"ok", true},
                    {"port", text(box.port)},
                    {"identifier", text(identifierText(before.id, '-'))},
                    {"version_before", text(versionText(before.version))}};
    const bool upload =
        action == DeviceAction::UploadFirmware || inv.force || (newer && inv.downgrade);
    if (!upload) {
        end.insert("action", "none");
        end.insert("version_after", text(versionText(before.version)));
        out.result(kUpToDateText, end);
        return kExitOk;
    }
    if (out.json())
        out.jsonLine({{"event", "begin"},
                      {"operation", "update"},
                      {"port", text(box.port)},
                      {"identifier", text(identifierText(before.id, '-'))},
                      {"version_before", text(versionText(before.version))}});
    out.message(identificationText(box.announcement));
    out.message(newer ? "Voltando o firmware de " + from + " para " + to + "..."
                      : std::string("Iniciando atualização..."));
    visit.trace().begin("upload");
    const auto after = uploadFirmware(*box.link, [&](uint32_t done, uint32_t total) {
        out.progress("Atualizando firmware", done, total);
        if (done == total) {
            out.endProgress();
            out.message("Atualização concluída com sucesso!");
        }
    });
    end.insert("action", newer                                    ? "downgraded"
                         : action == DeviceAction::UploadFirmware ? "uploaded"
                                                                  : "rewritten");
    visit.trace().firmwareNow(after);
    end.insert("version_after", text(versionText(after.version)));
    const std::string version = " (v" + versionText(after.version) + ")";
    out.result(newer ? "Firmware voltou de " + from + " para " + to + version
               : action == DeviceAction::UploadFirmware
                   ? kUpToDateText + version
                   : "Firmware " + to + " gravado de novo" + version,
               end);
    return kExitOk;
}

int update(const Invocation& inv, Output& out, const TComSignal& stop) {
    expectArguments(inv, 1);
    RecordedVisit visit(inv, "", out);
    return visit.run([&] { return updateBox(inv, out, stop, visit); });
}

int configGet(const Invocation& inv, Output& out, const TComSignal& stop) {
    expectArguments(inv, 2);
    ReachedBox box = reachBootloaderBox(inv, stop, out);
    requireKnownHardware(box);
    const ConfigBlockBytes block = readStoredBlock(box, out);
    if (!inv.raw.empty())
        writeFile(inv.raw,
                  QByteArray(reinterpret_cast<const char*>(block.data()), qsizetype(block.size())));
    Profile profile;
    profile.panel = storedPanelOf(block, box.port);
    profile.source =
        ProfileSource{identifierText(infoOf(box).id, '-'), versionText(infoOf(box).version),
                      QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString()};
    const QByteArray json = profileJson(profile);
    if (inv.output.empty()) {
        out.result(json.toStdString(), QJsonDocument::fromJson(json).object());
        return kExitOk;
    }
    writeFile(inv.output, json);
    out.message("Leitura da configuração interna concluída!");
    out.result("Perfil gravado em " + inv.output,
               {{"ok", true},
                {"port", text(box.port)},
                {"file", text(inv.output)},
                {"identifier", text(profile.source->identifier)}});
    return kExitOk;
}

int setBox(const Invocation& inv, Output& out, const TComSignal& stop, const std::string& file,
           const EncodedConfig& encoded, RecordedVisit& visit) {
    ReachedBox& box = visit.reached(reachBootloaderBox(inv, stop, out));
    requireKnownHardware(box);
    const DeviceInfo& info = infoOf(box);
    // The new firmware may keep its configuration elsewhere, so it comes first.
    if (decideDeviceAction(info.version) == DeviceAction::UploadFirmware && !inv.oldFirmware)
        throw CommandFailure(
            kExitFirmwareDue, "firmware_due",
            "o firmware do Vek em " + box.port + " (" +
                firmwareText(info.version[2], info.version[3]) + ") é anterior ao do VekTool (" +
                firmwareText(kCarriedFirmware[0], kCarriedFirmware[1]) +
                "): rode 'vekctl update -p " + box.port +
                "' antes, já que a configuração pode mudar de lugar com o novo firmware (ou use "
                "--allow-old-firmware para gravar assim mesmo)");

    // A journal's line tells what the box held before.
    if (!inv.record.empty()) {
        visit.trace().begin("read");
        visit.trace().blockRead(readStoredBlock(box, out));
    }
    out.message("Gravando a configuração de " + file + " no Vek " + identifierText(info.id, '-') +
                "...");
    visit.trace().begin("write");
    writeConfiguration(*box.link, encoded, progressOf(out, "Gravando configuração"));
    visit.trace().blockWritten(encoded.block);
    out.endProgress();
    out.message("Configuração enviada; lendo de volta para conferir...");
    visit.trace().begin("verify");
    verifyConfiguration(*box.link, info.configBase, encoded, progressOf(out, "Conferindo"));
    visit.trace().blockHeld(encoded.block);
    out.endProgress();
    out.result("Configuração gravada e verificada em " + box.port,
               {{"ok", true},
                {"port", text(box.port)},
                {"identifier", text(identifierText(info.id, '-'))},
                {"file", text(file)},
                {"sha256", sha256Of(encoded.block)}});
    return kExitOk;
}

int configSet(const Invocation& inv, Output& out, const TComSignal& stop) {
    const std::string file = argument(inv, 2, "o arquivo do perfil");
    expectArguments(inv, 3);
    const Profile profile = loadProfile(file);
    const EncodedConfig encoded = checkedBlock(file, profile.panel);
    RecordedVisit visit(inv, profileName(profile, file), out);
    return visit.run([&] { return setBox(inv, out, stop, file, encoded, visit); });
}

int configCheck(const Invocation& inv, Output& out, const TComSignal&) {
    const std::string file = argument(inv, 2, "o arquivo do perfil");
    expectArguments(inv, 3);
    const EncodedConfig encoded = checkedBlock(file, loadProfile(file).panel);
    out.result(file + ": perfil válido",
               {{"ok", true}, {"file", text(file)}, {"sha256", sha256Of(encoded.block)}});
    return kExitOk;
}

// A profile file, or the configuration of the box on "port:PATH".
PanelValues panelFrom(const std::string& source, const Invocation& inv, Output& out,
                      const TComSignal& stop) {
    if (!source.starts_with("port:")) {
        try {
            return loadProfile(source).panel;
        } catch (const CommandFailure& failure) {
            std::error_code error;
            if (failure.id() != "not_a_file" || !std::filesystem::is_character_file(source, error))
                throw;
            throw CommandFailure(failure.exitCode(), failure.id(),
                                 failure.what() +
                                     std::string(" (para ler o Vek nessa porta, use port:") +
                                     source + ")");
        }
    }
    Invocation onPort = inv;
    onPort.port = source.substr(5);
    ReachedBox box = reachBootloaderBox(onPort, stop, out);
    requireKnownHardware(box);
    return storedPanelOf(readStoredBlock(box, out), box.port);
}

int configDiff(const Invocation& inv, Output& out, const TComSignal& stop) {
    const std::string a = argument(inv, 2, "o primeiro perfil"),
                      b = argument(inv, 3, "o segundo perfil");
    expectArguments(inv, 4);
    const auto found = differences(panelFrom(a, inv, out, stop), panelFrom(b, inv, out, stop));
    QJsonArray rows;
    std::string lines;
    for (const FieldDifference& d : found) {
        rows.append(QJsonObject{{"field", text(d.field)},
                                {"caption", text(d.caption)},
                                {"a", text(d.before)},
                                {"b", text(d.after)}});
        lines += d.caption + ": " + d.before + " → " + d.after + "\n";
    }
    const std::string sides = "A: " + a + "\nB: " + b + "\n";
    out.result(sides + (found.empty() ? "sem diferenças" : "A → B:\n" + lines),
               {{"ok", true}, {"a", text(a)}, {"b", text(b)}, {"differences", rows}});
    return found.empty() ? kExitOk : kExitMismatch;
}

int preset(const Invocation& inv, Output& out, const TComSignal&) {
    const std::string name = argument(inv, 1, "o nome do preset (default ou trevalo)");
    expectArguments(inv, 2);
    if (name != "default" && name != "trevalo")
        usage("preset desconhecido: '" + name + "' (default ou trevalo)");
    Profile profile;
    profile.name = name;
    profile.panel = presetPanel(name == "default" ? defaultPreset() : trevaloPreset());
    const QByteArray json = profileJson(profile);
    if (inv.output.empty()) {
        out.result(json.toStdString(), QJsonDocument::fromJson(json).object());
        return kExitOk;
    }
    writeFile(inv.output, json);
    out.result("Perfil gravado em " + inv.output, {{"ok", true}, {"file", text(inv.output)}});
    return kExitOk;
}

int remote(const Invocation& inv, Output& out, const TComSignal&) {
    const std::string file = argument(inv, 1, "o arquivo do perfil");
    expectArguments(inv, 2);
    const RemoteCommandList list = remoteCommands(loadProfile(file).panel);
    QJsonArray lines;
    std::string shown;
    for (const std::string& line : list.lines) {
        lines.append(text(line));
        shown += line + "\n";
    }
    const bool valid = list.rejectedFields.empty();
    out.result(shown, {{"ok", valid}, {"file", text(file)}, {"commands", lines}});
    return valid ? kExitOk : kExitInvalidProfile;
}

int provisionCommand(const Invocation& inv, Output& out, const TComSignal& stop) {
    expectArguments(inv, 1);
    if (inv.profile.empty())
        usage("falta o perfil: --profile ARQ");
    if (inv.ports.empty() == !inv.all && !inv.watch)
        usage("diga as portas: -p PORTA (uma ou mais) ou --all");
    if (!inv.ports.empty() && inv.all)
        usage("-p e --all não vão juntos");
    for (const std::string& port : inv.ports)
        if (port.starts_with("id:"))
            usage("o provision quer portas, não identificadores: " + port);
    const Profile profile = loadProfile(inv.profile);
    StationOptions options;
    options.profileName = profileName(profile, inv.profile);
    options.station = inv.station;
    options.syncUrl = inv.syncUrl;
    options.syncToken = inv.syncToken;
    options.block = checkedBlock(inv.profile, profile.panel);
    options.ports = inv.ports;
    options.all = inv.all;
    options.watch = inv.watch;
    options.recordFile = inv.record;
    options.jobs = inv.jobs;
    options.wait = inv.wait;
    StationOutput station(out.json(), inv.watch);
    return provision(options, station, stop);
}

int report(const Invocation& inv, Output& out, const TComSignal&) {
    const std::string file = argument(inv, 1, "o arquivo do registro");
    expectArguments(inv, 2);
    const RecordSummary summary =
        summarizeRecord(readFile(file, std::numeric_limits<int>::max() - 1), file);
    if (inv.csv) {
        out.result(lastVisitsCsv(summary), {});
        return kExitOk;
    }
    QJsonObject totals;
    std::string text = "Visitas: " + std::to_string(summary.visits);
    for (const auto& [result, n] : summary.totals) {
        totals.insert(QString::fromStdString(result), n);
        text += ", " + result + ": " + std::to_string(n);
    }
    if (summary.skippedLines > 0)
        text += " (" + std::to_string(summary.skippedLines) + " linhas incompletas ignoradas)";
    text += "\n\nÚltima visita de cada Vek:\n";
    QJsonArray boxes;
    for (const auto& [key, v] : summary.lastVisit) {
        boxes.append(visitFields(v));
        text += v.identifier + "  " + v.time + "  " + v.port + "  " + v.firmwareAfter + "  " +
                v.result + (v.reason.empty() ? "" : " (" + v.reason + ")") + "\n";
    }
    out.result(text, {{"ok", true},
                      {"visits", summary.visits},
                      {"totals", totals},
                      {"skipped_lines", summary.skippedLines},
                      {"boxes", boxes}});
    return kExitOk;
}

int syncCommand(const Invocation& inv, Output& out, const TComSignal& stop) {
    const std::string journal = argument(inv, 1, "o diário (o arquivo de --record)");
    expectArguments(inv, 2);
    if (inv.syncUrl.empty())
        usage("falta o servidor do histórico: --to URL (ou a variável VEKCTL_SYNC)");
    requireRegularFile(journal, false);
    JournalSync sync(journal, text(inv.syncUrl), text(inv.syncToken),
                     [&out](const SyncState& state) {
                         out.progress("Enviando ao histórico", 0, uint32_t(state.backlog));
                     });
    const qint64 waiting = sync.state().backlog;
    SyncState state = sync.state();
    while (!stop.raised()) {
        state = sync.drain(std::chrono::milliseconds(250));
        if (state.backlog == 0 || !state.problem.isEmpty())
            break;
    }
    out.endProgress();
    if (stop.raised())
        throw Interrupted();
    const QJsonObject object{{"ok", state.backlog == 0 && state.refused == 0},
                             {"journal", text(journal)},
                             {"sent", waiting - state.backlog},
                             {"backlog", state.backlog},
                             {"refused", state.refused},
                             {"problem", state.problem}};
    if (state.backlog > 0)
        throw CommandFailure(kExitSyncUnreached, "sync_unreached",
                             "o histórico não recebeu " + std::to_string(state.backlog) +
                                 " visita(s) (" + state.problem.toStdString() +
                                 "); elas ficam no diário: rode 'vekctl sync' de novo");
    out.result(state.refused == 0
                   ? "Histórico em dia: " + std::to_string(waiting) + " visita(s) enviada(s)"
                   : std::to_string(state.refused) +
                         " visita(s) recusada(s) pelo histórico; veja " + journal + ".refused",
               object);
    return state.refused == 0 ? kExitOk : kExitSyncRefused;
}

}  // namespace

int runCommand(const Invocation& inv, Output& out, const TComSignal& stop) {
    using Handler = std::function<int(const Invocation&, Output&, const TComSignal&)>;
    static const std::map<QString, Handler> kCommands{
        {"list", list},
        {"info", info},
        {"update", update},
        {"preset", preset},
        {"remote-commands", remote},
        {"provision", provisionCommand},
        {"report", report},
        {"sync", syncCommand},
    };
    static const std::map<QString, Handler> kConfigCommands{
        {"get", configGet},
        {"set", configSet},
        {"check", configCheck},
        {"diff", configDiff},
    };
    if (inv.words.isEmpty())
        usage("falta o comando; 'vekctl --help' lista os comandos");
    const QString& command = inv.words[0];
    if (command == "config") {
        if (inv.words.size() < 2)
            usage("falta o subcomando de config: get, set, check ou diff");
        const auto it = kConfigCommands.find(inv.words[1]);
        if (it == kConfigCommands.end())
            usage("subcomando de config desconhecido: '" + inv.words[1].toStdString() +
                  "' (get, set, check ou diff)");
        return it->second(inv, out, stop);
    }
    const auto it = kCommands.find(command);
    if (it == kCommands.end())
        usage("comando desconhecido: '" + command.toStdString() + "'" +
              (commandSuggestion(command.toStdString()).empty()
                   ? "; 'vekctl --help' lista os comandos"
                   : "; " + commandSuggestion(command.toStdString())));
    return it->second(inv, out, stop);
}

}  // namespace vek
