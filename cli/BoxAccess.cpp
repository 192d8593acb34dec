#include "cli/BoxAccess.h"

#include <QString>
#include <cstdio>
#include <thread>

#include "cli/ExitCode.h"
#include "serial/EComPort.h"
#include "serial/EnumComPorts.h"
#include "serial/OpenFailure.h"

namespace vek {

namespace {

std::string openFailureText(const std::string& port, const EComPort& error) {
    const char* reason = openFailureReason(error.SystemCode());
    return "não foi possível abrir a porta " + port + ": " +
           (reason ? reason : systemErrorText(error.SystemCode()));
}

const char* openFailureId(const EComPort& error) {
    switch (classifyOpenFailure(error.SystemCode())) {
        case OpenFailure::NoPermission:
            return "port_no_permission";
        case OpenFailure::Absent:
            return "port_absent";
        case OpenFailure::Busy:
            return "port_busy";
        case OpenFailure::Other:
            break;
    }
    return "port_unavailable";
}

std::string seconds(std::chrono::milliseconds wait) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", double(wait.count()) / 1000);
    return text;
}

ReachedBox reachById(const std::array<uint32_t, 3>& id, const TComSignal& stop,
                     std::chrono::milliseconds wait) {
    const std::vector<std::string> ports = listPorts();
    std::vector<ProbedPort> probed = probePorts(ports, stop, wait, true);
    for (ProbedPort& p : probed) {
        if (p.announcement && p.announcement->status && p.announcement->status->id == id)
            return {p.port, std::move(p.link), *p.announcement};
    }
    throw CommandFailure(kExitNoBox, "no_box",
                         "nenhum Vek com o identificador " + identifierText(id, '-') +
                             " respondeu em " + std::to_string(ports.size()) + " portas");
}

}  // namespace

std::vector<std::string> listPorts() {
    std::vector<std::string> ports;
    try {
        EnumComPorts(ports);
    } catch (const EComPort& error) {
        throw CommandFailure(kExitPortUnavailable, "no_port_list",
                             "não foi possível listar as portas seriais (" +
                                 systemErrorText(error.SystemCode()) + ")");
    }
    return ports;
}

std::unique_ptr<BoxLink> openBox(const std::string& port, const TComSignal& stop, PaceLoop* loop) {
    try {
        return std::make_unique<BoxLink>(port, stop, loop);
    } catch (const EComPort& error) {
        if (error.ErrorCode() == 1)
            throw CommandFailure(kExitPortUnavailable, openFailureId(error),
                                 openFailureText(port, error));
        throw CommandFailure(kExitPortUnavailable, "port_unavailable",
                             notASerialPort(error.SystemCode())
                                 ? port + " não é uma porta serial"
                                 : "não foi possível preparar a porta " + port + ": " +
                                       systemErrorText(error.SystemCode()));
    }
}

ReachedBox reachBox(const std::string& named, const TComSignal& stop,
                    std::chrono::milliseconds wait) {
    if (named.starts_with("id:")) {
        const auto id = parseIdentifier(std::string_view(named).substr(3));
        if (!id)
            throw CommandFailure(
                kExitUsage, "usage",
                "identificador inválido: '" + named.substr(3) +
                    "' (24 dígitos hexadecimais, como 0011A2B3-44C5D6E7-8899FA0B)");
        return reachById(*id, stop, wait);
    }
    ReachedBox box{named, openBox(named, stop), {}};
    auto announcement = box.link->waitForAnnouncement(wait);
    if (!announcement)
        throw CommandFailure(
            kExitNoBox, "no_box",
            "nenhum Vek respondeu em " + named + " (nenhum status em " + seconds(wait) + " s)");
    box.announcement = std::move(*announcement);
    return box;
}

std::vector<ProbedPort> probePorts(const std::vector<std::string>& ports, const TComSignal& stop,
                                   std::chrono::milliseconds wait, bool keepOpen) {
    std::vector<ProbedPort> probed(ports.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        probed[i].port = ports[i];
        if (!MayOpenUnasked(ports[i])) {
            probed[i].error = "não perguntada: não é uma porta USB";
            continue;
        }
        threads.emplace_back([&, i] {
            ProbedPort& p = probed[i];
            try {
                p.link = openBox(p.port, stop);
                p.announcement = p.link->waitForAnnouncement(wait);
            } catch (const Interrupted&) {
                p.error = "interrompido";
            } catch (const std::exception& error) {
                p.error = error.what();
            }
            if (!keepOpen)
                p.link.reset();
        });
    }
    for (std::thread& t : threads)
        t.join();
    if (stop.raised())
        throw Interrupted();
    return probed;
}

const char* decisionId(DeviceAction action) {
    switch (action) {
        case DeviceAction::UpToDateThenRead:
            return "up_to_date";
        case DeviceAction::UploadFirmware:
            return "upload_due";
        case DeviceAction::DiscontinuedThenRead:
            return "discontinued";
        case DeviceAction::None:
            break;
    }
    return "unknown_hardware";
}

QJsonObject identificationJson(const std::string& port, const Announcement& announcement) {
    QJsonObject object{{"port", QString::fromStdString(port)},
                       {"mode", announcement.operatingMode() ? "operating" : "bootloader"}};
    const QString stable = QString::fromStdString(StableName(port));
    if (!stable.isEmpty())
        object.insert("stable_name", stable);
    if (!announcement.status)
        return object;
    const DeviceInfo& info = *announcement.status;
    char base[16];
    std::snprintf(base, sizeof base, "0x%08X", unsigned(info.configBase));
    object.insert("identifier", QString::fromStdString(identifierText(info.id, '-')));
    object.insert("version", QString::fromStdString(versionText(info.version)));
    object.insert("hardware_type", info.version[0]);
    object.insert("config_base", QString::fromLatin1(base));
    if (!announcement.operatingMode())
        object.insert("decision", decisionId(decideDeviceAction(info.version)));
    return object;
}

std::string identificationText(const Announcement& announcement) {
    if (announcement.operatingMode()) {
        std::string text;
        if (announcement.status)
            text = versionAndIdText(*announcement.status) + "\n";
        for (char& c : text)
            if (c == '\r')
                c = ' ';
        return text + "Modo: operação\n" + operatingModeNoticeText();
    }
    const DeviceInfo& info = *announcement.status;
    std::string text = versionAndIdText(info);
    text.erase(text.find('\r'), 1);
    char base[64];
    std::snprintf(base, sizeof base, "\nModo: bootloader\nBase da configuração: 0x%08X\n",
                  unsigned(info.configBase));
    text += base;
    switch (decideDeviceAction(info.version)) {
        case DeviceAction::UpToDateThenRead:
            return text + kUpToDateText + "\n";
        case DeviceAction::UploadFirmware:
            return text + "Firmware desatualizado: a atualização para " +
                   std::to_string(kCarriedFirmware[0]) + "." + std::to_string(kCarriedFirmware[1]) +
                   " é necessária\n";
        case DeviceAction::DiscontinuedThenRead:
            return text + kDiscontinuedWarning + "\n";
        case DeviceAction::None:
            break;
    }
    return text + "Hardware desconhecido (tipo " + std::to_string(info.version[0]) +
           "): nada é feito com este Vek\n";
}

std::string operatingModeNoticeText() {
    std::string text;
    for (const char* line : kOperatingModeNotice)
        text += std::string(line) + "\n";
    return text;
}

}  // namespace vek
