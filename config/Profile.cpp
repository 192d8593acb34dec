#include "config/Profile.h"

#include "config/Nearest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <span>

namespace vek {

namespace {

// Every field of the panel that a profile holds, in the panel's order.
struct FieldDef {
    enum Kind { Choice, Number, Flag };
    Kind kind = Choice;
    std::string path{};
    std::string caption{};
    // Choice: which list, its values and their unit on the panel.
    int PanelValues::*index = nullptr;
    std::span<const int> choices{};
    int unit = 1;
    int onlyKept = 0;  // the one choice the box keeps, when it keeps only one
    // Number: the edit box and the most its block field holds.
    ConfigField field = ConfigField::ACP;
    uint32_t max = 0;
    // Flag: the check box.
    std::function<bool&(PanelValues&)> flag{};
};

// The profile's key of each group with event and buzzer boxes, indexed by AlertGroup.
constexpr std::array<const char*, 5> kGroupPaths{"speed", "rain_speed", "engine_speed", "idling",
                                                 "coasting"};

struct GroupDef {
    const char* caption;
    std::vector<std::pair<const char*, ConfigField>> values;  // key, edit box
};

// The label of each edit box, as the panel shows it.
const char* labelOf(ConfigField field) {
    switch (field) {
        case ConfigField::ACP:
            return "Aceleração máxima permitida [km/h.s]";
        case ConfigField::ACN:
            return "Desaceleração máxima permitida [km/h.s]";
        case ConfigField::VMX:
        case ConfigField::VCH:
            return "Velocidade máxima permitida [km/h]";
        case ConfigField::RPX:
            return "Rotação máxima permitida [rpm]";
        case ConfigField::TOSC:
            return "Tempo máximo permitido para ociosidade do motor [minutos]";
        case ConfigField::XOSC:
            return "Tempo de exceção para manobras rápidas [segundos]";
        case ConfigField::VBGL:
            return "Velocidade mínima validação [km/h]";
        case ConfigField::RBGL:
            return "Rotação máxima validação [rpm]";
        case ConfigField::TVMX:
        case ConfigField::TVCH:
        case ConfigField::TRPX:
        case ConfigField::TBGL:
            break;
    }
    return "Tempo validação [segundos]";
}

constexpr const char* kEvent = "REGISTRAR EVENTO";
constexpr const char* kBuzzer = "ALERTA BUZZER";

std::vector<FieldDef> buildFields() {
    std::vector<FieldDef> fields;
    const auto choice = [&](const char* path, const char* caption, int PanelValues::*index,
                            std::span<const int> choices, int unit) {
        FieldDef f{.kind = FieldDef::Choice, .path = path, .caption = caption};
        f.index = index;
        f.choices = choices;
        f.unit = unit;
        fields.push_back(std::move(f));
    };
    choice("ping", "PING [s]", &PanelValues::pingIndex, kPingChoices, 1);
    choice("rs232_a", "RS232-A", &PanelValues::a232Index, kBaudChoicesInHundreds, 100);
    fields.back().onlyKept = kA232Kept;
    choice("rs232_b", "RS232-B", &PanelValues::b232Index, kBaudChoicesInHundreds, 100);

    const auto number = [&](const std::string& path, const std::string& group, ConfigField field) {
        FieldDef f{
            .kind = FieldDef::Number, .path = path, .caption = group + " / " + labelOf(field)};
        f.field = field;
        f.max = storedMaximum(field);
        fields.push_back(std::move(f));
    };
    const auto flag = [&](const std::string& path, const std::string& caption,
                          std::function<bool&(PanelValues&)> box) {
        FieldDef f{.kind = FieldDef::Flag, .path = path, .caption = caption};
        f.flag = std::move(box);
        fields.push_back(std::move(f));
    };

    // Acceleration and deceleration: one check box of each kind.
    const struct {
        const char* path;
        const char* caption;
        ConfigField field;
        bool PanelValues::*event;
        bool PanelValues::*buzzer;
    } simple[] = {
        {"acceleration", "ACELERAÇÃO (aceleração brusca)", ConfigField::ACP, &PanelValues::evAcp,
         &PanelValues::bzAcp},
        {"deceleration", "DESACELERAÇÃO (frenagem brusca)", ConfigField::ACN, &PanelValues::evAcn,
         &PanelValues::bzAcn},
    };
    for (const auto& s : simple) {
        const std::string path = s.path, caption = s.caption;
        number(path + ".limit", caption, s.field);
        flag(path + ".event", caption + " / " + kEvent,
             [m = s.event](PanelValues& p) -> bool& { return p.*m; });
        flag(path + ".buzzer", caption + " / " + kBuzzer,
             [m = s.buzzer](PanelValues& p) -> bool& { return p.*m; });
    }

    // The five groups with event and buzzer boxes, indexed by AlertGroup.
    const GroupDef groups[] = {
        {"VELOCIDADE", {{"limit", ConfigField::VMX}, {"validation_time", ConfigField::TVMX}}},
        {"VELOCIDADE NA CHUVA",
         {{"limit", ConfigField::VCH}, {"validation_time", ConfigField::TVCH}}},
        {"ROTAÇÃO DO MOTOR", {{"limit", ConfigField::RPX}, {"validation_time", ConfigField::TRPX}}},
        {"OCIOSIDADE DO MOTOR (funcionando parado)",
         {{"time_limit", ConfigField::TOSC}, {"exception_time", ConfigField::XOSC}}},
        {"CONDUÇÃO DESENGRENADA (banguela)",
         {{"min_speed", ConfigField::VBGL},
          {"max_engine_speed", ConfigField::RBGL},
          {"validation_time", ConfigField::TBGL}}},
    };
    const struct {
        const char* path;
        const char* caption;
        bool GroupAlerts::*box;
    } boxes[] = {
        {"event.entry", "REGISTRAR EVENTO / Entrada", &GroupAlerts::evIn},
        {"event.exit", "REGISTRAR EVENTO / Saída", &GroupAlerts::evOut},
        {"buzzer.entry", "ALERTA BUZZER / Entrada", &GroupAlerts::bzIn},
        {"buzzer.exit", "ALERTA BUZZER / Saída", &GroupAlerts::bzOut},
        {"buzzer.during", "ALERTA BUZZER / Durante", &GroupAlerts::bzWh},
    };
    for (AlertGroup g : kAlertGroups) {
        const GroupDef& group = groups[int(g)];
        const std::string path = kGroupPaths[int(g)], caption = group.caption;
        for (const auto& [key, field] : group.values)
            number(path + "." + key, caption, field);
        for (const auto& b : boxes)
            flag(path + "." + b.path, caption + " / " + b.caption,
                 [g, m = b.box](PanelValues& p) -> bool& { return p.group(g).*m; });
    }
    return fields;
}

const std::vector<FieldDef>& fieldTable() {
    static const std::vector<FieldDef> fields = buildFields();
    return fields;
}

// The shown value of a field, for differences.
std::string shownValue(const FieldDef& f, const PanelValues& panel) {
    switch (f.kind) {
        case FieldDef::Choice: {
            const int index = panel.*f.index;
            if (index < 0 || std::size_t(index) >= f.choices.size())
                return "(nenhum)";
            return std::to_string(f.choices[std::size_t(index)] * f.unit);
        }
        case FieldDef::Number:
            return panel.edit(f.field);
        case FieldDef::Flag:
            break;
    }
    return f.flag(const_cast<PanelValues&>(panel)) ? "marcado" : "desmarcado";
}

QJsonValue jsonValue(const FieldDef& f, const PanelValues& panel) {
    switch (f.kind) {
        case FieldDef::Choice:
            return f.choices[std::size_t(panel.*f.index)] * f.unit;
        case FieldDef::Number:
            return std::stoi(panel.edit(f.field));
        case FieldDef::Flag:
            break;
    }
    return f.flag(const_cast<PanelValues&>(panel));
}

// A JSON object whose keys keep the order they were added in: the panel's order, for people.
struct OrderedObject {
    struct Member {
        std::string key;
        QJsonValue value;                  // a member that is no object
        std::vector<OrderedObject> inner;  // one, for a member that is an object
    };
    std::vector<Member> members;

    OrderedObject& object(const std::string& key) {
        for (Member& m : members)
            if (m.key == key && !m.inner.empty())
                return m.inner.front();
        members.push_back({key, {}, std::vector<OrderedObject>(1)});
        return members.back().inner.front();
    }
    void set(const std::string& key, const QJsonValue& value) {
        members.push_back({key, value, {}});
    }
    void setAtPath(const std::string& path, const QJsonValue& value) {
        const auto dot = path.find('.');
        if (dot == std::string::npos)
            return set(path, value);
        object(path.substr(0, dot)).setAtPath(path.substr(dot + 1), value);
    }

    void write(QByteArray& out, int depth) const {
        const QByteArray indent((depth + 1) * 2, ' ');
        out += "{\n";
        for (std::size_t i = 0; i < members.size(); ++i) {
            const Member& m = members[i];
            out += indent + scalar(QString::fromStdString(m.key)) + ": ";
            if (m.inner.empty())
                out += scalar(m.value);
            else
                m.inner.front().write(out, depth + 1);
            out += i + 1 < members.size() ? ",\n" : "\n";
        }
        out += QByteArray(depth * 2, ' ') + "}";
    }
    static QByteArray scalar(const QJsonValue& value) {
        const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        return array.mid(1, array.size() - 2);
    }
};

using Leaves = std::vector<std::pair<std::string, QJsonValue>>;  // in file order
using Problems = std::vector<ProfileError>;

// The leaves of a profile by dotted path; objects are entered where the table (or the source)
// has fields below them.
void flatten(const QJsonObject& object, const std::string& prefix, Leaves& leaves,
             Problems& problems) {
    const auto isGroup = [](const std::string& path) {
        if (path == "source")
            return true;
        for (const FieldDef& f : fieldTable())
            if (f.path.starts_with(path + "."))
                return true;
        return false;
    };
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::string path = prefix + it.key().toStdString();
        // "speed.limit" written flat would stand beside, or for, the nested field.
        if (it.key().contains('.'))
            problems.push_back({path, "chave com ponto: escreva o campo dentro do seu objeto"});
        else if (!isGroup(path))
            leaves.emplace_back(path, it.value());
        else if (!it.value().isObject())
            problems.push_back({path, "esperado um objeto"});
        else
            flatten(it.value().toObject(), path + ".", leaves, problems);
    }
}

// The keys that an object holds twice, by their dotted paths. Qt's reader keeps the last of the
// two, so a person who wrote both would get one silently; the text is valid JSON already.
std::vector<std::string> repeatedKeys(const QByteArray& json) {
    std::vector<std::string> repeated;
    struct Level {
        bool object;
        std::string path;  // of the level's members, with the trailing dot
        std::set<QString> keys;
    };
    std::vector<Level> levels;
    bool keyNext = false;
    QString lastKey;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') {
            const qsizetype start = i;
            for (++i; json[i] != '"'; ++i)
                if (json[i] == '\\')
                    ++i;
            if (!keyNext)
                continue;
            const QByteArray token = "[" + json.mid(start, i - start + 1) + "]";
            lastKey = QJsonDocument::fromJson(token).array().at(0).toString();
            if (!levels.back().keys.insert(lastKey).second)
                repeated.push_back(levels.back().path + lastKey.toStdString());
            keyNext = false;
        } else if (c == '{' || c == '[') {
            const std::string path = levels.empty() || !levels.back().object
                                         ? (levels.empty() ? std::string() : levels.back().path)
                                         : levels.back().path + lastKey.toStdString() + ".";
            levels.push_back({c == '{', path, {}});
            keyNext = c == '{';
        } else if (c == '}' || c == ']') {
            levels.pop_back();
        } else if (c == ',') {
            keyNext = levels.back().object;
        }
    }
    return repeated;
}

std::optional<ProfileError> readField(const FieldDef& f, const QJsonValue& value,
                                      PanelValues& panel) {
    if (f.kind == FieldDef::Flag) {
        if (!value.isBool())
            return ProfileError{f.path, "esperado true ou false"};
        f.flag(panel) = value.toBool();
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!value.isDouble() || std::floor(number) != number || std::abs(number) > 1e9)
        return ProfileError{f.path, "esperado um número inteiro"};
    const auto whole = static_cast<int64_t>(number);
    if (f.kind == FieldDef::Number) {
        if (whole < 0 || whole > int64_t(f.max))
            return ProfileError{f.path, "o valor " + std::to_string(whole) +
                                            " não cabe no Vek (de 0 a " + std::to_string(f.max) +
                                            ")"};
        panel.edit(f.field) = std::to_string(whole);
        return std::nullopt;
    }
    std::string listed;
    for (std::size_t i = 0; i < f.choices.size(); ++i) {
        if (int64_t(f.choices[i]) * f.unit != whole)
            continue;
        if (f.onlyKept != 0 && f.choices[i] != f.onlyKept)
            return ProfileError{f.path, "o Vek só guarda " + std::to_string(f.onlyKept * f.unit) +
                                            " aqui; com " + std::to_string(whole) +
                                            " a leitura seguinte daria a configuração como "
                                            "inválida"};
        panel.*f.index = int(i);
        return std::nullopt;
        listed += (i ? ", " : "") + std::to_string(f.choices[i] * f.unit);
    }
    return ProfileError{
        f.path, "o valor " + std::to_string(whole) + " não é uma das opções (" + listed + ")"};
}

void readSource(const Leaves& leaves, Profile& profile, Problems& problems) {
    ProfileSource source;
    bool any = false;
    for (const auto& [path, value] : leaves) {
        std::string* text = path == "source.identifier" ? &source.identifier
                            : path == "source.version"  ? &source.version
                            : path == "source.time"     ? &source.time
                                                        : nullptr;
        if (!text)
            continue;
        if (!value.isString()) {
            problems.push_back({path, "esperado um texto"});
            continue;
        }
        *text = value.toString().toStdString();
        any = true;
    }
    if (any)
        profile.source = source;
}

// Where a JSON text goes wrong, as a person finds it in an editor.
std::string lineAndColumn(const QByteArray& json, qsizetype offset) {
    const QByteArray before = json.left(offset);
    const qsizetype lineStart = before.lastIndexOf('\n') + 1;
    return "linha " + std::to_string(before.count('\n') + 1) + ", coluna " +
           std::to_string(QString::fromUtf8(before.mid(lineStart)).size() + 1);
}

std::vector<std::string> knownPaths() {
    std::vector<std::string> paths{"format", "name", "source.identifier", "source.version",
                                   "source.time"};
    for (const FieldDef& f : fieldTable())
        paths.push_back(f.path);
    return paths;
}

}  // namespace

std::variant<Profile, std::vector<ProfileError>> parseProfile(const QByteArray& json) {
    if (json.trimmed().isEmpty())
        return Problems{{{}, "arquivo vazio"}};
    if (json.size() > kProfileMaxBytes)
        return Problems{{{}, "arquivo grande demais (mais de 1 MiB)"}};
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Problems{{{},
                         "não é JSON válido: " + parseError.errorString().toStdString() + " na " +
                             lineAndColumn(json, parseError.offset)}};
    if (!document.isObject())
        return Problems{{{}, "esperado um objeto JSON"}};

    Problems problems;
    for (const std::string& path : repeatedKeys(json))
        problems.push_back({path, "campo repetido: só um valor pode valer"});
    Leaves leaves;
    flatten(document.object(), "", leaves, problems);
    std::map<std::string, QJsonValue> byPath(leaves.begin(), leaves.end());

    const QJsonValue format = byPath["format"];
    if (!format.isDouble() || format.toDouble() != kProfileFormat)
        problems.push_back(
            {"format", "formato não suportado: esperado " + std::to_string(kProfileFormat)});
    const std::vector<std::string> known = knownPaths();
    for (const auto& leaf : leaves) {
        const std::string& path = leaf.first;
        if (std::find(known.begin(), known.end(), path) != known.end())
            continue;
        const auto meant = nearestWord(path, known);
        problems.push_back({path, meant ? "campo desconhecido; você quis dizer " + *meant + "?"
                                        : std::string("campo desconhecido")});
    }

    Profile profile;
    if (byPath.contains("name")) {
        if (byPath["name"].isString())
            profile.name = byPath["name"].toString().toStdString();
        else
            problems.push_back({"name", "esperado um texto"});
    }
    readSource(leaves, profile, problems);
    std::set<ConfigField> unread;
    for (const FieldDef& f : fieldTable()) {
        const auto it = byPath.find(f.path);
        auto error = it == byPath.end() ? ProfileError{f.path, "campo ausente"}
                                        : readField(f, it->second, profile.panel);
        if (!error)
            continue;
        problems.push_back(std::move(*error));
        if (f.kind == FieldDef::Number)
            unread.insert(f.field);
    }
    // The panel's interlock makes these impossible, and the box refuses them when read back.
    for (AlertGroup g : kAlertGroups) {
        const GroupAlerts& a = profile.panel.group(g);
        if (a.bzWh && (a.bzIn || a.bzOut))
            problems.push_back({std::string(kGroupPaths[int(g)]) + ".buzzer.during",
                                "\"during\" exclui \"entry\" e \"exit\" no mesmo alerta"});
    }
    if (problems.empty())
        return profile;
    // The write's checks too, on the values that were read, so that one run tells them all.
    for (ProfileError& problem : writeProblems(profile.panel))
        if (std::none_of(unread.begin(), unread.end(),
                         [&](ConfigField f) { return fieldPath(f) == problem.field; }))
            problems.push_back(std::move(problem));
    return problems;
}

std::vector<ProfileError> writeProblems(const PanelValues& panel) {
    std::vector<ProfileError> problems;
    for (const ConfigRejection& rejection : configRejections(panel)) {
        if (!rejection.field)
            continue;  // a list left unselected: a profile always names a choice
        std::string message = rejection.message;
        for (std::size_t at; (at = message.find("\r\n")) != std::string::npos;)
            message.replace(at, 2, " ");
        problems.push_back({fieldPath(*rejection.field), message});
    }
    return problems;
}

QByteArray profileJson(const Profile& profile) {
    OrderedObject root;
    root.set("format", kProfileFormat);
    if (!profile.name.empty())
        root.set("name", QString::fromStdString(profile.name));
    if (profile.source) {
        OrderedObject& source = root.object("source");
        source.set("identifier", QString::fromStdString(profile.source->identifier));
        source.set("version", QString::fromStdString(profile.source->version));
        source.set("time", QString::fromStdString(profile.source->time));
    }
    for (const FieldDef& f : fieldTable())
        root.setAtPath(f.path, jsonValue(f, profile.panel));
    QByteArray json;
    root.write(json, 0);
    return json + "\n";
}

std::string fieldPath(ConfigField field) {
    for (const FieldDef& f : fieldTable())
        if (f.kind == FieldDef::Number && f.field == field)
            return f.path;
    return {};
}

std::optional<PanelValues> storedPanel(const ConfigBlockBytes& block) {
    const auto shown = decodeConfigBlock(block);
    if (!shown || shown->problems != 0)
        return std::nullopt;
    PanelValues panel;
    panel.pingIndex = shown->pingIndex;
    panel.a232Index = shown->a232Index;
    panel.b232Index = shown->b232Index;
    panel.edits = shown->edits;
    panel.bzAcp = *shown->bzAcp;
    panel.evAcp = *shown->evAcp;
    panel.bzAcn = *shown->bzAcn;
    panel.evAcn = *shown->evAcn;
    for (AlertGroup g : kAlertGroups) {
        const ReadBackGroup& stored = shown->groups[int(g)];
        GroupAlerts& alerts = panel.group(g);
        alerts.bzIn = (*stored.buzzer)[0];
        alerts.bzOut = (*stored.buzzer)[1];
        alerts.bzWh = (*stored.buzzer)[2];
        alerts.evIn = (*stored.event)[0];
        alerts.evOut = (*stored.event)[1];
    }
    return panel;
}

std::vector<FieldDifference> differences(const PanelValues& a, const PanelValues& b) {
    std::vector<FieldDifference> found;
    for (const FieldDef& f : fieldTable()) {
        std::string before = shownValue(f, a), after = shownValue(f, b);
        if (before != after)
            found.push_back({f.path, f.caption, std::move(before), std::move(after)});
    }
    return found;
}

}  // namespace vek
