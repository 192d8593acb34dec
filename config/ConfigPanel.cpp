#include "config/ConfigPanel.h"

#include <limits>

namespace vek {

namespace {

constexpr uint32_t kNoUpperBound = std::numeric_limits<uint32_t>::max();

struct FieldRule {
    const char* editBox;
    uint32_t min;
    uint32_t max;  // inclusive; kNoUpperBound where only digits are asked for
    const char* label;
    const char* remoteLabel;
};

// Indexed by ConfigField. The bounds are the write's, which differ from some spin ranges.
constexpr std::array<FieldRule, kConfigFieldCount> kFieldRules{{
    {"ED_ACP", 0, kNoUpperBound, "Aceleração", "Aceleração"},
    {"ED_ACN", 0, kNoUpperBound, "Desaceleração", "Desaceleração"},
    {"ED_VMX", 0, 150, "Velocidade", "Velocidade"},
    {"ED_TVMX", 0, 60, "Tempo validação Velocidade", "Tempo validação Velocidade"},
    {"ED_VCH", 0, 150, "Velocidade na Chuva", "Velocidade na Chuva"},
    {"ED_TVCH", 0, 60, "Tempo validação Velocidade na Chuva",
     "Tempo validação Velocidade na Chuva"},
    {"ED_RPX", 1000, kNoUpperBound, "Rotação do Motor", "Rotação do Motor"},
    {"ED_TRPX", 0, 60, "Tempo validação Rotação", "Tempo validação Rotação"},
    {"ED_TOSC", 1, kNoUpperBound, "Tempo osciosidade", "Tempo ociosidade"},
    {"ED_XOSC", 0, 60, "Tempo excessão manobra", "Tempo excessão manobra"},
    {"ED_VBGL", 1, kNoUpperBound, "Velocidade min. Banguela", "Velocidade min. Banguela"},
    {"ED_RBGL", 300, 1000, "Rotação max. Banguela", "Rotação max. Banguela"},
    {"ED_TBGL", 0, 30, "Tempo validação Banguela", "Tempo validação Banguela"},
}};

const FieldRule& ruleOf(ConfigField field) {
    return kFieldRules[static_cast<int>(field)];
}

}  // namespace

const char* groupCode(AlertGroup group) {
    static constexpr std::array<const char*, 5> kCodes{"VMX", "VCH", "RPX", "OSC", "BGL"};
    return kCodes[static_cast<int>(group)];
}

const char* editBoxName(ConfigField field) {
    return ruleOf(field).editBox;
}

std::optional<uint32_t> checkedFieldValue(ConfigField field, std::string_view text) {
    if (text.empty())
        return std::nullopt;
    uint32_t low32 = 0;  // wraps: the value modulo 2^32
    uint64_t exact = 0;  // the value, held exactly until it passes 2^32, then only "too big"
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const auto digit = static_cast<uint32_t>(c - '0');
        low32 = low32 * 10 + digit;
        if (exact <= kNoUpperBound)
            exact = exact * 10 + digit;
    }
    const FieldRule& rule = ruleOf(field);
    if (exact < rule.min)
        return std::nullopt;
    if (rule.max != kNoUpperBound && exact > rule.max)
        return std::nullopt;
    return low32;
}

const char* fieldLabel(ConfigField field, MessageStyle style) {
    const FieldRule& rule = ruleOf(field);
    return style == MessageStyle::Write ? rule.label : rule.remoteLabel;
}

std::string invalidParameterMessage(std::string_view label, MessageStyle style) {
    std::string message =
        style == MessageStyle::Write ? "Parâmetro inválido!\r\n[" : "Parâmetro inválido! [";
    message += label;
    message += ']';
    return message;
}

int simpleAlertCode(bool buzzer, bool event) {
    return 10 * buzzer + event;
}

int groupAlertCode(const GroupAlerts& a) {
    return 10 * (a.bzIn + 2 * a.bzOut + 4 * a.bzWh) + (a.evIn + 2 * a.evOut);
}

}  // namespace vek
