#include "cli/StationOutput.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "cli/Console.h"

namespace vek {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr auto kProgressEvery = std::chrono::milliseconds(250);
constexpr std::size_t kIdentifierWidth = 26;
constexpr std::size_t kPhaseWidth = 12;
constexpr std::size_t kProgressWidth = 10;

void jsonLine(const QJsonObject& object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.data(), 1, std::size_t(line.size()), stdout);
    std::fflush(stdout);
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

// Columns a text takes: its characters, not its bytes.
std::size_t widthOf(const std::string& s) {
    return std::size_t(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// s in exactly width columns: cut with "…" at the end (or at the start, for a port, whose end
// tells it apart) or padded.
std::string fitted(const std::string& s, std::size_t width, bool keepEnd = false) {
    const std::size_t has = widthOf(s);
    if (has <= width)
        return s + std::string(width - has, ' ');
    if (width == 0)
        return {};
    std::size_t keep = width - 1, at = 0, count = 0;
    if (keepEnd) {
        // Skip has - keep characters from the start.
        for (; at < s.size() && count < has - keep; ++at)
            if ((s[at] & 0xC0) != 0x80 && count++ == has - keep)
                break;
        while (at < s.size() && (s[at] & 0xC0) == 0x80)
            ++at;
        return "…" + s.substr(at);
    }
    for (; at < s.size(); ++at)
        if ((s[at] & 0xC0) != 0x80 && count++ == keep)
            break;
    return s.substr(0, at) + "…";
}

std::string percentAndLeft(uint32_t done, uint32_t total, Clock::duration spent) {
    if (total == 0)
        return "";
    const double share = double(done) / total;
    char shown[48];
    if (done == 0) {
        std::snprintf(shown, sizeof shown, "%3d%%", 0);
    } else {
        const double left = std::chrono::duration<double>(spent).count() / share * (1 - share);
        std::snprintf(shown, sizeof shown, "%3d%% %d:%02d", int(share * 100), int(left) / 60,
                      int(left) % 60);
    }
    return shown;
}

std::string resultText(const VisitRecord& v) {
    if (v.result == "failed")
        return "FALHOU: " + v.error;
    if (v.result == "interrupted")
        return "interrompido";
    if (v.result == "current")
        return "já em dia";
    std::string done;
    for (const std::string& a : v.actions)
        if (a == "upload" || a == "write")
            done += std::string(done.empty() ? "" : " e ") +
                    (a == "upload" ? "firmware atualizado" : "configuração gravada");
    return "atendido: " + done;
}

// The same, short enough for a row of the table.
std::string shortResult(const VisitRecord& v) {
    if (v.result != "serviced")
        return resultText(v);
    std::string done;
    for (const std::string& a : v.actions)
        if (a == "upload" || a == "write")
            done +=
                std::string(done.empty() ? "" : " e ") + (a == "upload" ? "firmware" : "config");
    return "ok: " + done;
}

// The phase as the technician reads it.
const char* phaseText(const std::string& phase) {
    if (phase == "identify")
        return "identificação";
    if (phase == "upload")
        return "firmware";
    if (phase == "read")
        return "leitura";
    if (phase == "verify")
        return "conferência";
    return "gravação";
}

// Ports in the order a person counts them: ttyACM2 before ttyACM10.
bool portBefore(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            const unsigned long long x = std::stoull(a.substr(i, ei - i)),
                                     y = std::stoull(b.substr(j, ej - j));
            if (x != y)
                return x < y;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string stamp() {
    return QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString();
}

}  // namespace

StationOutput::StationOutput(bool json, bool watch)
    : json_(json),
      watch_(watch),
      table_(!json && stderrIsTerminal()),
      lines_(!json && (!stdoutIsTerminal() || !table_)),
      colour_(table_ && qEnvironmentVariableIsEmpty("NO_COLOR")) {}

void StationOutput::line(const std::string& port, const std::string& text) {
    std::printf("%s %s: %s\n", stamp().c_str(), port.c_str(), text.c_str());
    std::fflush(stdout);
}

void StationOutput::begin(const std::string& port) {
    const std::lock_guard lock(mutex_);
    rows_[port] = Row{};
    if (json_)
        return jsonLine({{"event", "begin"}, {"port", text(port)}});
    if (lines_)
        line(port, "começo da visita");
    if (table_)
        redrawLocked(true);
}

void StationOutput::phase(const std::string& port, const char* phase,
                          const std::string& identifier) {
    const std::lock_guard lock(mutex_);
    Row& row = rows_[port];
    row.identifier = identifier;
    row.phase = phase;
    row.done = row.total = 0;
    row.phaseStarted = Clock::now();
    if (json_)
        return jsonLine({{"event", "phase"},
                         {"port", text(port)},
                         {"phase", phase},
                         {"identifier", text(identifier)}});
    if (lines_)
        line(port, std::string(phaseText(phase)) + (identifier.empty() ? "" : " " + identifier));
    if (table_)
        redrawLocked(true);
}

void StationOutput::progress(const std::string& port, uint32_t done, uint32_t total) {
    // Called for every packet of every box: a log shows no progress, and takes no lock for it.
    if (!table_ && !json_)
        return;
    const auto now = Clock::now();
    const std::lock_guard lock(mutex_);
    Row& row = rows_[port];
    row.done = done;
    row.total = total;
    if (table_)
        redrawLocked(false);
    if (!json_ || (done < total && now - row.lastShown < kProgressEvery))
        return;
    row.lastShown = now;
    jsonLine({{"event", "progress"},
              {"port", text(port)},
              {"phase", text(row.phase)},
              {"done", qint64(done)},
              {"total", qint64(total)}});
}

void StationOutput::end(const VisitRecord& visit) {
    const std::lock_guard lock(mutex_);
    ++totals_[visit.result];
    if (json_) {
        rows_.erase(visit.port);
        QJsonObject event = visitFields(visit);
        event.insert("event", "end");
        return jsonLine(event);
    }
    if (lines_)
        line(visit.port, resultText(visit));
    Row& row = rows_[visit.port];
    row.identifier = visit.identifier;
    row.result = shortResult(visit);
    row.finished = true;
    row.failed = visit.result == "failed";
    row.ended = Clock::now();
    if (table_)
        redrawLocked(true);
}

void StationOutput::gone(const std::string& port) {
    const std::lock_guard lock(mutex_);
    const auto row = rows_.find(port);
    if (row == rows_.end() || !row->second.finished)
        return;
    row->second.gone = true;
    if (json_)
        return jsonLine({{"event", "unplugged"}, {"port", text(port)}});
    if (lines_)
        line(port, "retirado");
    if (table_)
        redrawLocked(true);
}

void StationOutput::message(const std::string& text) {
    const std::lock_guard lock(mutex_);
    if (table_ && !drawnWidths_.empty()) {
        // Above the table, which is drawn again below it.
        std::fprintf(stderr, "\r\033[J%s\n", text.c_str());
        drawnWidths_.clear();
        return redrawLocked(true);
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

void StationOutput::sync(const SyncState& state) {
    std::string shown = state.backlog == 0 ? "histórico em dia"
                                           : "histórico: " + std::to_string(state.backlog) +
                                                 " visita(s) por enviar";
    if (!state.problem.isEmpty())
        shown += " (" + state.problem.toStdString() + ")";
    if (state.refused > 0)
        shown += "; " + std::to_string(state.refused) + " recusada(s), no arquivo .refused";
    const std::lock_guard lock(mutex_);
    if (json_)
        return jsonLine({{"event", "sync"},
                         {"backlog", state.backlog},
                         {"problem", state.problem},
                         {"refused", state.refused}});
    if (lines_) {
        std::printf("%s %s\n", stamp().c_str(), shown.c_str());
        std::fflush(stdout);
    }
    syncLine_ = state.backlog == 0 && state.refused == 0 ? "" : shown;
    if (table_)
        redrawLocked(true);
}

std::string StationOutput::footerLocked() const {
    const auto count = [&](const char* result) {
        const auto it = totals_.find(result);
        return it == totals_.end() ? 0 : it->second;
    };
    const auto underWay = std::count_if(rows_.begin(), rows_.end(),
                                        [](const auto& row) { return !row.second.finished; });
    std::string footer = "atendidos " + std::to_string(count("serviced")) + " · já em dia " +
                         std::to_string(count("current")) + " · falharam " +
                         std::to_string(count("failed")) + " · em andamento " +
                         std::to_string(underWay);
    if (watch_)
        footer += underWay == 0 ? " · aguardando Vek…" : "";
    if (!syncLine_.empty())
        footer += " · " + syncLine_;
    return footer;
}

void StationOutput::summary(const std::map<std::string, VisitRecord>& lastVisits) {
    std::map<std::string, int> results, failures;
    std::vector<const VisitRecord*> pending;
    for (const auto& [box, visit] : lastVisits) {
        ++results[visit.result];
        if (visit.result == "failed") {
            ++failures[visit.reason];
            pending.push_back(&visit);
        }
    }
    const std::lock_guard lock(mutex_);
    const auto count = [&](const char* result) { return results[result]; };
    if (json_) {
        QJsonObject reasons;
        for (const auto& [reason, n] : failures)
            reasons.insert(text(reason), n);
        QJsonArray waiting;
        for (const VisitRecord* v : pending)
            waiting.append(QJsonObject{{"identifier", text(v->identifier)},
                                       {"port", text(v->port)},
                                       {"reason", text(v->reason)},
                                       {"error", text(v->error)}});
        return jsonLine({{"event", "summary"},
                         {"serviced", count("serviced")},
                         {"current", count("current")},
                         {"failed", count("failed")},
                         {"interrupted", count("interrupted")},
                         {"failures", reasons},
                         {"pending", waiting}});
    }
    if (table_)
        redrawLocked(true);
    std::string reasons;
    for (const auto& [reason, n] : failures)
        reasons += (reasons.empty() ? " (" : ", ") + reason + ": " + std::to_string(n);
    std::printf("Atendidos: %d, já em dia: %d, falharam: %d%s, interrompidos: %d\n",
                count("serviced"), count("current"), count("failed"),
                reasons.empty() ? "" : (reasons + ")").c_str(), count("interrupted"));
    if (!pending.empty()) {
        std::printf("Pendentes (a última visita falhou):\n");
        for (const VisitRecord* v : pending)
            std::printf("  %s  %s  %s\n", v->identifier.empty() ? "-" : v->identifier.c_str(),
                        v->port.c_str(), v->error.c_str());
    }
    std::fflush(stdout);
}

void StationOutput::redrawLocked(bool force) {
    const auto now = Clock::now();
    if (!force && now - lastDrawn_ < kRedrawEvery)
        return;
    lastDrawn_ = now;
    const TerminalSize terminal = stderrTerminalSize();
    const std::size_t columns = std::size_t(std::max(terminal.columns, 20)) - 1;

    // The visits under way, then the latest that ended, as many as the terminal holds, shown in
    // port order.
    std::vector<const std::pair<const std::string, Row>*> rows;
    for (const auto& entry : rows_)
        rows.push_back(&entry);
    std::stable_sort(rows.begin(), rows.end(), [](const auto* a, const auto* b) {
        if (a->second.finished != b->second.finished)
            return !a->second.finished;
        return a->second.ended > b->second.ended;
    });
    rows.resize(std::min(rows.size(), std::size_t(std::max(terminal.rows - 3, 1))));
    std::sort(rows.begin(), rows.end(),
              [](const auto* a, const auto* b) { return portBefore(a->first, b->first); });

    std::size_t portWidth = 5;
    for (const auto* row : rows)
        portWidth = std::max(portWidth, widthOf(row->first));
    portWidth = std::min(portWidth, std::max<std::size_t>(8, columns / 6));
    const std::size_t fixed = portWidth + kIdentifierWidth + kPhaseWidth + kProgressWidth + 4;
    const std::size_t resultWidth = columns > fixed ? columns - fixed : 0;

    std::vector<std::pair<std::string, std::string>> lines;  // text, colour
    const auto add = [&](std::string shown, std::string colour = {}) {
        lines.emplace_back(fitted(shown, columns), std::move(colour));
    };
    add(fitted("PORTA", portWidth) + " " + fitted("IDENTIFICADOR", kIdentifierWidth) + " " +
        fitted("FASE", kPhaseWidth) + " " + fitted("PROGRESSO", kProgressWidth) + " RESULTADO");
    for (const auto* entry : rows) {
        const Row& row = entry->second;
        std::string result = row.result;
        if (row.finished && !row.failed)
            result += row.gone ? " · retirado" : " · pode retirar";
        else if (row.finished && row.gone)
            result += " · retirado";
        const char* colour = !row.finished                   ? ""
                             : row.failed                    ? "\033[1;31m"
                             : row.result == "interrompido"  ? "\033[33m"
                             : row.result.starts_with("ok:") ? "\033[32m"
                                                             : "";
        std::string shown = fitted(entry->first, portWidth, true) + " " +
                            fitted(row.identifier, kIdentifierWidth) + " ";
        // A visit that ended has no phase or progress: its result takes their columns too.
        if (row.finished)
            shown += fitted(result, kPhaseWidth + kProgressWidth + 2 + resultWidth);
        else
            shown += fitted(phaseText(row.phase), kPhaseWidth) + " " +
                     fitted(percentAndLeft(row.done, row.total, now - row.phaseStarted),
                            kProgressWidth) +
                     " " + fitted(result, resultWidth);
        add(shown, colour);
    }
    add(footerLocked(), "\033[2m");

    // Back to the top of the last frame, counting the rows its lines take at today's width (a
    // narrower terminal wraps them), and down over it again.
    std::string out;
    std::size_t up = 0;
    for (const std::size_t width : drawnWidths_)
        up += std::max<std::size_t>(1, (width + columns) / (columns + 1));
    if (up > 0)
        out += "\033[" + std::to_string(up) + "A";
    out += "\r\033[J";
    drawnWidths_.clear();
    for (const auto& [shown, colour] : lines) {
        out += colour_ && !colour.empty() ? colour + shown + "\033[0m\n" : shown + "\n";
        drawnWidths_.push_back(widthOf(shown));
    }
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace vek
