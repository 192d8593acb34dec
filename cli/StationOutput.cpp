#include "cli/StationOutput.h"

#include "cli/Console.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace vek {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr auto kProgressEvery = std::chrono::milliseconds(250);
constexpr std::size_t kFinishedRowsShown = 10;

void jsonLine(const QJsonObject& object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.data(), 1, std::size_t(line.size()), stdout);
    std::fflush(stdout);
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
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

// The phase as the technician reads it.
const char* phaseText(const std::string& phase) {
    if (phase == "identify")
        return "identificação";
    if (phase == "upload")
        return "firmware";
    if (phase == "read")
        return "leitura";
    return "gravação";
}

}  // namespace

StationOutput::StationOutput(Mode mode) : mode_(mode) {}

StationOutput::Mode StationOutput::modeFor(bool json) {
    if (json)
        return Mode::Json;
    return stdoutIsTerminal() ? Mode::Table : Mode::Lines;
}

void StationOutput::line(const std::string& port, const std::string& text) {
    std::printf("%s: %s\n", port.c_str(), text.c_str());
    std::fflush(stdout);
}

void StationOutput::begin(const std::string& port) {
    const std::lock_guard lock(mutex_);
    Row fresh;
    fresh.order = nextOrder_++;
    rows_[port] = fresh;
    switch (mode_) {
        case Mode::Json:
            return jsonLine({{"event", "begin"}, {"port", text(port)}});
        case Mode::Lines:
            return line(port, "começo da visita");
        case Mode::Table:
            return redrawLocked(true);
    }
}

void StationOutput::phase(const std::string& port, const char* phase,
                          const std::string& identifier) {
    const std::lock_guard lock(mutex_);
    Row& row = rows_[port];
    row.identifier = identifier;
    row.phase = phase;
    row.done = row.total = 0;
    row.phaseStarted = Clock::now();
    switch (mode_) {
        case Mode::Json:
            return jsonLine({{"event", "phase"},
                             {"port", text(port)},
                             {"phase", phase},
                             {"identifier", text(identifier)}});
        case Mode::Lines:
            return line(
                port, std::string(phaseText(phase)) + (identifier.empty() ? "" : " " + identifier));
        case Mode::Table:
            return redrawLocked(true);
    }
}

void StationOutput::progress(const std::string& port, uint32_t done, uint32_t total) {
    const auto now = Clock::now();
    const std::lock_guard lock(mutex_);
    Row& row = rows_[port];
    row.done = done;
    row.total = total;
    if (mode_ == Mode::Table)
        return redrawLocked(false);
    if (mode_ != Mode::Json || (done < total && now - row.lastShown < kProgressEvery))
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
    switch (mode_) {
        case Mode::Json: {
            rows_.erase(visit.port);
            QJsonObject event = visitFields(visit);
            event.insert("event", "end");
            return jsonLine(event);
        }
        case Mode::Lines:
            rows_.erase(visit.port);
            return line(visit.port, resultText(visit));
        case Mode::Table:
            break;
    }
    Row& row = rows_[visit.port];
    row.identifier = visit.identifier;
    row.result = resultText(visit);
    row.finished = true;
    // Only the latest visits that ended stay on the table.
    std::vector<std::pair<uint64_t, std::string>> ended;
    for (const auto& [port, r] : rows_)
        if (r.finished)
            ended.emplace_back(r.order, port);
    std::sort(ended.begin(), ended.end());
    for (std::size_t i = 0; i + kFinishedRowsShown < ended.size(); ++i)
        rows_.erase(ended[i].second);
    redrawLocked(true);
}

void StationOutput::message(const std::string& text) {
    const std::lock_guard lock(mutex_);
    std::fprintf(stderr, "%s\n", text.c_str());
}

void StationOutput::sync(const SyncState& state) {
    std::string text = state.backlog == 0 ? "histórico em dia"
                                          : "histórico: " + std::to_string(state.backlog) +
                                                " visita(s) por enviar";
    if (!state.problem.isEmpty())
        text += " (" + state.problem.toStdString() + ")";
    if (state.refused > 0)
        text += "; " + std::to_string(state.refused) + " recusada(s), no arquivo .refused";
    const std::lock_guard lock(mutex_);
    switch (mode_) {
        case Mode::Json:
            return jsonLine({{"event", "sync"},
                             {"backlog", state.backlog},
                             {"problem", state.problem},
                             {"refused", state.refused}});
        case Mode::Lines:
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
            return;
        case Mode::Table:
            syncLine_ = text;
            return redrawLocked(true);
    }
}

void StationOutput::summary(const std::map<std::string, int>& results,
                            const std::map<std::string, int>& failures) {
    const std::lock_guard lock(mutex_);
    const auto count = [&](const char* result) {
        const auto it = results.find(result);
        return it == results.end() ? 0 : it->second;
    };
    if (mode_ == Mode::Json) {
        QJsonObject reasons;
        for (const auto& [reason, n] : failures)
            reasons.insert(text(reason), n);
        return jsonLine({{"event", "summary"},
                         {"serviced", count("serviced")},
                         {"current", count("current")},
                         {"failed", count("failed")},
                         {"interrupted", count("interrupted")},
                         {"failures", reasons}});
    }
    if (mode_ == Mode::Table)
        redrawLocked(true);
    std::string reasons;
    for (const auto& [reason, n] : failures)
        reasons += (reasons.empty() ? " (" : ", ") + reason + ": " + std::to_string(n);
    std::printf("Atendidos: %d, já em dia: %d, falharam: %d%s, interrompidos: %d\n",
                count("serviced"), count("current"), count("failed"),
                reasons.empty() ? "" : (reasons + ")").c_str(), count("interrupted"));
    std::fflush(stdout);
}

void StationOutput::redrawLocked(bool force) {
    const auto now = Clock::now();
    if (!force && now - lastDrawn_ < kRedrawEvery)
        return;
    lastDrawn_ = now;
    // The visits under way, and the latest that ended.
    std::vector<std::pair<const std::string*, const Row*>> shown;
    for (const auto& [port, row] : rows_)
        shown.emplace_back(&port, &row);
    std::sort(shown.begin(), shown.end(),
              [](const auto& a, const auto& b) { return a.second->order < b.second->order; });
    std::string out;
    if (drawnLines_ > 0)
        out += "\033[" + std::to_string(drawnLines_) + "A";
    char header[160];
    std::snprintf(header, sizeof header, "%-24s %-26s %-14s %-12s %s", "PORTA", "IDENTIFICADOR",
                  "FASE", "PROGRESSO", "RESULTADO");
    out += std::string("\r\033[K") + header + "\n";
    int lines = 1;
    for (const auto& [port, row] : shown) {
        char text[512];
        std::snprintf(text, sizeof text, "%-24s %-26s %-14s %-12s %s", port->c_str(),
                      row->identifier.c_str(), row->finished ? "" : phaseText(row->phase),
                      row->finished
                          ? ""
                          : percentAndLeft(row->done, row->total, now - row->phaseStarted).c_str(),
                      row->result.c_str());
        out += std::string("\r\033[K") + text + "\n";
        ++lines;
    }
    if (!syncLine_.empty()) {
        out += "\r\033[K" + syncLine_ + "\n";
        ++lines;
    }
    // Lines left over from a longer table are cleared.
    for (int extra = lines; extra < drawnLines_; ++extra)
        out += "\r\033[K\n";
    drawnLines_ = std::max(lines, drawnLines_);
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace vek
