#include "config/RemoteCommands.h"

#include <cstdio>

namespace vek {

namespace {

constexpr std::size_t kPaddedWidth = 25;

// A command over edit boxes: its arguments are their texts, then the alert code.
struct FieldCommand {
    const char* prefix;
    std::vector<ConfigField> fields;
    int (*alertCode)(const PanelValues&);
    const char* name;
};

int groupCodeOf(const PanelValues& panel, AlertGroup g) {
    return groupAlertCode(panel.group(g));
}

const std::vector<FieldCommand>& fieldCommands() {
    using F = ConfigField;
    using P = const PanelValues&;
    static const std::vector<FieldCommand> kCommands{
        {"#CACP", {F::ACP}, [](P p) { return simpleAlertCode(p.bzAcp, p.evAcp); }, "Aceleração"},
        {"#CACN", {F::ACN}, [](P p) { return simpleAlertCode(p.bzAcn, p.evAcn); }, "Desaceleração"},
        {"#CVMX",
         {F::VMX, F::TVMX},
         [](P p) { return groupCodeOf(p, AlertGroup::VMX); },
         "Velocidade"},
        {"#CVCH",
         {F::VCH, F::TVCH},
         [](P p) { return groupCodeOf(p, AlertGroup::VCH); },
         "Velocidade na chuva"},
        {"#CRPX",
         {F::RPX, F::TRPX},
         [](P p) { return groupCodeOf(p, AlertGroup::RPX); },
         "Rotação do motor"},
        {"#COCS",
         {F::TOSC, F::XOSC},
         [](P p) { return groupCodeOf(p, AlertGroup::OSC); },
         "Ociosidade do motor"},
        {"#CBGL",
         {F::VBGL, F::RBGL, F::TBGL},
         [](P p) { return groupCodeOf(p, AlertGroup::BGL); },
         "Banguela"},
    };
    return kCommands;
}

// "prefix[a,b,...]", its XOR as two uppercase hex digits, "_" up to the padded width, the name.
std::string commandLine(const char* prefix, const std::vector<std::string>& args,
                        const char* name) {
    std::string line = prefix;
    for (std::size_t i = 0; i < args.size(); ++i) {
        line += i == 0 ? '[' : ',';
        line += args[i];
    }
    line += ']';
    uint8_t x = 0;
    for (const char c : line)
        x ^= static_cast<uint8_t>(c);
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", x);
    line += checksum;
    if (line.size() < kPaddedWidth)
        line.append(kPaddedWidth - line.size(), '_');
    return line + name;
}

std::string listLine(const char* prefix, std::optional<int> value, const char* label,
                     const char* name) {
    if (!value)
        return invalidParameterMessage(label, MessageStyle::Remote);
    return commandLine(prefix, {std::to_string(*value)}, name);
}

std::string twoDigits(int code) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2d", code);
    return text;
}

}  // namespace

RemoteCommandList remoteCommands(const PanelValues& panel) {
    RemoteCommandList list;
    list.lines.push_back(
        listLine("#CPI", choiceAt(kPingChoices, panel.pingIndex), kPingLabel, "PING"));
    const auto b232 = choiceAt(kBaudChoicesInHundreds, panel.b232Index);
    list.lines.push_back(
        listLine("#CBR", b232 ? std::optional(*b232 * 100) : std::nullopt, kB232Label, "RS232-B"));

    for (const FieldCommand& command : fieldCommands()) {
        const int code = command.alertCode(panel);
        std::vector<std::string> args;
        std::optional<ConfigField> rejected;
        for (const ConfigField f : command.fields) {
            if (!checkedFieldValue(f, panel.edit(f))) {
                rejected = f;
                break;
            }
            // The text as typed, leading zeros and all: only its value is checked.
            args.push_back(panel.edit(f));
        }
        if (rejected) {
            list.lines.push_back(invalidParameterMessage(
                fieldLabel(*rejected, MessageStyle::Remote), MessageStyle::Remote));
            list.rejectedFields.push_back(*rejected);
        } else {
            args.push_back(twoDigits(code));
            list.lines.push_back(commandLine(command.prefix, args, command.name));
        }
    }
    return list;
}

}  // namespace vek
