#include "server/pages/FleetPages.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <cstdlib>
#include <iostream>
#include <map>

#include "history/CsvField.h"
#include "history/HistoryStore.h"
#include "server/Access.h"
#include "server/ApiForms.h"
#include "server/HistoryServer.h"
#include "server/ThreadStore.h"
#include "server/pages/Charts.h"
#include "server/pages/Html.h"

namespace vek::history {

namespace {

constexpr int kChartDays = 90;
constexpr int kDownloadPage = 1000;
constexpr std::size_t kChartRows = 15;  // the rest are summed as "outros"
// Nothing but the server's own files: no inline script or style, no frame, no other origin.
constexpr const char* kContentSecurityPolicy =
    "default-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";

enum class Section { Overview, Boxes, Stations };

QString utcText(const QDateTime& time) {
    return time.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzz'Z'");
}

void sendHtml(httplib::Response& res, const QString& html, int status = 200) {
    res.status = status;
    res.set_header("Content-Security-Policy", kContentSecurityPolicy);
    res.set_header("Referrer-Policy", "same-origin");
    res.set_content(html.toStdString(), "text/html; charset=utf-8");
}

QString page(Section section, const QString& title, const QString& body) {
    static const std::array<std::tuple<Section, const char*, const char*>, 3> kSections{
        {{Section::Overview, "/", "Visão geral"},
         {Section::Boxes, "/caixas", "Caixas"},
         {Section::Stations, "/estacoes", "Estações"}}};
    QString nav;
    for (const auto& [which, path, words] : kSections)
        nav += QString("<a href=\"%1\"%2>%3</a>")
                   .arg(path, which == section ? " aria-current=\"page\"" : "", words);
    return QString(
               "<!DOCTYPE html><html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
               "<title>%1 · Histórico de serviço VekTool</title>"
               "<link rel=\"icon\" href=\"/static/icon.svg\" type=\"image/svg+xml\">"
               "<link rel=\"stylesheet\" href=\"/static/fleet.css\">"
               "<script src=\"/static/fleet.js\" defer></script></head><body>"
               "<header><span class=\"brand\">VekTool · histórico de serviço</span>"
               "<nav>%2</nav></header><main>%3</main>"
               "<footer>Página gerada em %4. Horários em UTC e, com scripts ligados, também no "
               "fuso deste computador.</footer></body></html>")
        .arg(escapeHtml(title), nav, body, timeElement(utcText(QDateTime::currentDateTimeUtc())));
}

void sendPageRefusal(httplib::Response& res, const Refusal& refusal) {
    QString advice;
    if (refusal.status == 401) {
        // The browser asks for a name and password: the token goes in as the password.
        res.set_header("WWW-Authenticate", "Basic realm=\"vekhistory\", charset=\"UTF-8\"");
        advice =
            "Entre com um token de leitura como senha (o usuário pode ser qualquer nome). "
            "Quem administra o servidor cria um com <code>vekhistory token add --role "
            "reader --name NOME</code>.";
    } else if (refusal.status == 403) {
        advice = "Este token é de uma estação; as páginas pedem um token de leitura.";
    }
    sendHtml(res,
             page(Section::Overview, "Acesso recusado",
                  QString("<h1>%1</h1><p>%2</p><p>%3</p>")
                      .arg(refusal.status == 401 || refusal.status == 403 ? "Acesso recusado"
                                                                          : "Não foi possível "
                                                                            "mostrar a página",
                           escapeHtml(refusal.message), advice)),
             refusal.status);
}

// A link to one of our pages with its query; the values are encoded, then escaped for the
// attribute.
QString href(const QString& path, const QUrlQuery& query) {
    const QString encoded = query.toString(QUrl::FullyEncoded);
    return escapeHtml(encoded.isEmpty() ? path : path + "?" + encoded);
}

QString boxLink(const QString& identifier) {
    return QString("<a class=\"id\" href=\"%1\">%2</a>")
        .arg(href("/caixa", QUrlQuery{{"id", identifier}}), escapeHtml(identifier));
}

QString resultBadge(const QString& result) {
    return QString("<span class=\"result r-%1\">%2</span>")
        .arg(escapeHtml(result), escapeHtml(resultWords(result)));
}

QString legend() {
    QString items;
    for (const ResultWords& words : kResultWords)
        items += QString("<li><span class=\"r-%1\"></span>%2</li>").arg(words.key, words.plural);
    return "<ul class=\"legend\">" + items + "</ul>";
}

// A chart with its numbers beside it in a table, for a screen reader or a printer.
QString figure(const QString& svg, const QString& table) {
    return QString(
               "<div class=\"figure\"><div class=\"plot\">%1</div><div class=\"numbers\">%2"
               "</div></div>")
        .arg(svg, table);
}

// The most frequent rows, the rest summed.
std::vector<LabelCount> topRows(const std::map<QString, qint64>& counts) {
    std::vector<LabelCount> rows;
    for (const auto& [label, count] : counts)
        rows.push_back({label, count});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const LabelCount& a, const LabelCount& b) { return a.count > b.count; });
    if (rows.size() > kChartRows) {
        qint64 rest = 0;
        for (std::size_t i = kChartRows - 1; i < rows.size(); ++i)
            rest += rows[i].count;
        rows.resize(kChartRows - 1);
        rows.push_back({"outros", rest});
    }
    return rows;
}

// A bar chart of boxes by a field, each row of its table a link to those boxes.
QString boxesBy(const QString& name, const char* filter, const std::map<QString, qint64>& counts,
                const QString& column) {
    const std::vector<LabelCount> rows = topRows(counts);
    QString table = QString(
                        "<table><thead><tr><th>%1</th><th class=\"n\">Caixas</th></tr></thead>"
                        "<tbody>")
                        .arg(column);
    for (const LabelCount& row : rows) {
        const bool other = counts.count(row.label) == 0;
        const QString label = row.label.isEmpty() ? "(vazio)" : escapeHtml(row.label);
        table += QString("<tr><td>%1</td><td class=\"n\">%2</td></tr>")
                     .arg(other ? label
                                : QString("<a href=\"%1\">%2</a>")
                                      .arg(href("/caixas", QUrlQuery{{filter, row.label}}), label),
                          formatCount(row.count));
    }
    return figure(barChartSvg(name, rows), table + "</tbody></table>");
}

QString hourBound(const QDateTime& now, qint64 hoursBack) {
    const QDateTime hour(now.date(), QTime(now.time().hour(), 0), Qt::UTC);
    return hour.addSecs(-3600 * hoursBack).toString("yyyy-MM-ddTHH");
}

QString windowCards(HistoryStore& store, const QDateTime& now, qint64 boxes) {
    QString cards =
        QString("<div><dt>Caixas conhecidas</dt><dd>%1</dd></div>").arg(formatCount(boxes));
    for (const auto& [words, hours] :
         {std::pair{"Visitas nas últimas 24 h", 24}, std::pair{"Visitas em 7 dias", 24 * 7},
          std::pair{"Visitas em 30 dias", 24 * 30}}) {
        const QString since = hourBound(now, hours);
        const VisitWindow window = store.visitsSince(since);
        cards +=
            QString(
                "<div data-since=\"%1\"><dt>%2</dt><dd>%3<small>%4 falharam · desde %5"
                "</small></dd></div>")
                .arg(escapeHtml(since + ":00:00.000Z"), words, formatCount(window.visits),
                     formatShare(window.failed, window.visits), timeElement(since + ":00:00.000Z"));
    }
    return "<dl class=\"cards\">" + cards + "</dl>";
}

QString dayFigure(HistoryStore& store, const QDateTime& now) {
    const QDate first = now.date().addDays(1 - kChartDays);
    std::map<QString, DayColumn> byDay;
    for (QDate day = first; day <= now.date(); day = day.addDays(1))
        byDay[day.toString(Qt::ISODate)].day = day.toString(Qt::ISODate);
    for (const DayCount& count : store.visitsByDay(first.toString(Qt::ISODate))) {
        DayColumn& column = byDay[count.day];
        column.day = count.day;
        for (std::size_t r = 0; r < kResultWords.size(); ++r)
            if (count.result == kResultWords[r].key)
                column.visits[r] += count.visits;
    }
    std::vector<DayColumn> days;
    QString head = "<th>Dia</th>", rows;
    for (const ResultWords& words : kResultWords)
        head += QString("<th class=\"n\">%1</th>").arg(words.plural);
    for (const auto& [key, column] : byDay) {
        days.push_back(column);
        qint64 total = 0;
        QString cells;
        for (const qint64 visits : column.visits) {
            total += visits;
            cells += QString("<td class=\"n\">%1</td>").arg(formatCount(visits));
        }
        // The table keeps to the days that had visits, newest first.
        if (total > 0)
            rows.prepend(
                QString("<tr><td>%1</td>%2</tr>")
                    .arg(QDate::fromString(key, Qt::ISODate).toString("dd/MM/yyyy"), cells));
    }
    return figure(
        dayChartSvg("Visitas por dia nos últimos 90 dias, por resultado", days) + legend(),
        QString("<table><thead><tr>%1</tr></thead><tbody>%2</tbody></table>")
            .arg(head, rows.isEmpty() ? "<tr><td colspan=\"5\">nenhuma visita</td></tr>" : rows));
}

QString clockOffset(qint64 ms) {
    const qint64 tenths = (ms + (ms < 0 ? -50 : 50)) / 100;
    return QString("%1%2,%3 s")
        .arg(tenths > 0   ? "+"
             : tenths < 0 ? "-"
                          : "")
        .arg(std::abs(tenths) / 10)
        .arg(std::abs(tenths) % 10);
}

QString stationTable(HistoryStore& store) {
    const std::map<QString, StationBacklog> backlogs = store.backlogs();
    QString rows;
    int index = 0;
    for (const StationState& station : store.stations()) {
        bool intact = true;
        for (const JournalState& journal : station.journals)
            intact = intact && journal.intact();
        const auto backlog = backlogs.find(station.station);
        rows += QString(
                    "<tr><td><a href=\"/estacoes#e%1\">%2</a></td><td>%3</td><td>%4</td>"
                    "<td class=\"n\">%5</td><td class=\"n\">%6</td></tr>")
                    .arg(++index)
                    .arg(escapeHtml(station.station), timeElement(station.lastReceived),
                         intact ? "<span class=\"ok\">íntegras</span>"
                                : "<span class=\"bad\">com falhas</span>",
                         clockOffset(station.clockOffsetMs),
                         backlog == backlogs.end() ? "—" : formatCount(backlog->second.lines));
    }
    return "<table class=\"wide\"><thead><tr><th>Estação</th><th>Última linha recebida</th>"
           "<th>Cadeias dos diários</th><th class=\"n\">Relógio</th><th class=\"n\">A enviar</th>"
           "</tr></thead><tbody>" +
           (rows.isEmpty() ? "<tr><td colspan=\"5\">nenhuma estação enviou visitas</td></tr>"
                           : rows) +
           "</tbody></table>";
}

void overviewPage(const httplib::Request&, httplib::Response& res, const Caller&) {
    HistoryStore& store = threadStore();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const FleetState fleet = store.fleetState();
    std::map<QString, qint64> reasons;
    for (const ReasonCount& reason : store.failuresByReason(hourBound(now, 24 * 30)))
        reasons[resultWords(reason.result) + ": " +
                (reason.reason.isEmpty() ? "sem motivo" : reason.reason)] += reason.visits;
    QString lastResults;
    for (const ResultWords& words : kResultWords)
        lastResults +=
            QString(
                "<tr><td><a href=\"/caixas?result=%1\">%2</a></td>"
                "<td class=\"n\">%3</td></tr>")
                .arg(words.key, resultBadge(words.key),
                     formatCount(
                         fleet.lastResults.count(words.key) ? fleet.lastResults.at(words.key) : 0));
    const QString body =
        "<h1>Visão geral da frota</h1>" + windowCards(store, now, fleet.boxes) +
        "<h2>Visitas por dia (90 dias, no dia de cada estação)</h2>" + dayFigure(store, now) +
        "<div class=\"columns\"><section><h2>Caixas por firmware (última visita)</h2>" +
        boxesBy("Caixas por versão de firmware", "firmware", fleet.firmware, "Firmware") +
        "</section><section><h2>Perfis em uso (última visita)</h2>" +
        boxesBy("Caixas por perfil", "profile", fleet.profiles, "Perfil") +
        "</section></div><div class=\"columns\"><section><h2>Falhas por motivo (30 dias)</h2>" +
        (reasons.empty()
             ? QString("<p class=\"muted\">Nenhuma falha nos últimos 30 dias.</p>")
             : figure(barChartSvg("Falhas por motivo nos últimos 30 dias", topRows(reasons)), "")) +
        "</section><section><h2>Caixas pelo resultado da última visita</h2><table><thead><tr>"
        "<th>Resultado</th><th class=\"n\">Caixas</th></tr></thead><tbody>" +
        lastResults + "</tbody></table></section></div><h2>Estações</h2>" + stationTable(store);
    sendHtml(res, page(Section::Overview, "Visão geral", body));
}

QString filterForm(const httplib::Request& req) {
    QString fields;
    for (const auto& [name, words, type] :
         {std::tuple{"q", "Identificador (pedaço)", "search"},
          std::tuple{"firmware", "Firmware", "text"}, std::tuple{"profile", "Perfil", "text"},
          std::tuple{"station", "Estação", "text"},
          std::tuple{"since", "Última visita desde", "date"}, std::tuple{"until", "até", "date"}})
        fields += QString("<label>%1<input type=\"%2\" name=\"%3\" value=\"%4\"></label>")
                      .arg(words, type, name, escapeHtml(param(req, name)));
    QString options = "<option value=\"\">qualquer</option>";
    for (const ResultWords& words : kResultWords)
        options += QString("<option value=\"%1\"%2>%3</option>")
                       .arg(words.key, param(req, "result") == words.key ? " selected" : "",
                            words.singular);
    return "<form class=\"filters\" method=\"get\" action=\"/caixas\">" + fields +
           "<label>Último resultado<select name=\"result\">" + options +
           "</select></label><button type=\"submit\">Filtrar</button>"
           "<a href=\"/caixas\">limpar filtros</a></form>";
}

// The list's filters as they came, for the links that keep them.
QUrlQuery filterQuery(const httplib::Request& req) {
    QUrlQuery query;
    for (const char* name : {"q", "firmware", "profile", "result", "station", "since", "until"})
        if (!param(req, name).isEmpty())
            query.addQueryItem(name, param(req, name));
    return query;
}

void boxesPage(const httplib::Request& req, httplib::Response& res, const Caller&) {
    const HistoryFilter filter = filterOf(req);
    const Page at = pageOf(req);
    const std::vector<BoxState> boxes = threadStore().boxes(filter, at.after, at.limit);
    const QUrlQuery query = filterQuery(req);
    QString rows;
    for (const BoxState& box : boxes)
        rows +=
            QString(
                "<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td>"
                "</tr>")
                .arg(boxLink(box.identifier), timeElement(box.lastTime), escapeHtml(box.station),
                     escapeHtml(box.firmware), escapeHtml(box.profile), resultBadge(box.result));
    QString pager;
    if (!at.after.isEmpty())
        pager += QString("<a href=\"%1\">← primeira página</a>").arg(href("/caixas", query));
    if (int(boxes.size()) == at.limit) {
        QUrlQuery next = query;
        next.addQueryItem("after",
                          PageKey{boxes.back().lastTime, boxes.back().lastVisit}.toToken());
        pager +=
            QString("<a rel=\"next\" href=\"%1\">próxima página →</a>").arg(href("/caixas", next));
    }
    const QString body =
        "<h1>Caixas</h1>" + filterForm(req) +
        QString(
            "<p class=\"actions\"><a href=\"%1\" download>Baixar CSV</a>"
            "<a href=\"%2\" download>Baixar JSON</a><span class=\"muted\">todas as caixas "
            "destes filtros, da visita mais recente para a mais antiga</span></p>")
            .arg(href("/caixas.csv", query), href("/caixas.json", query)) +
        "<table class=\"wide\" id=\"boxes\"><thead><tr><th>Caixa</th><th>Última visita</th>"
        "<th>Estação</th><th>Firmware</th><th>Perfil</th><th>Resultado</th></tr></thead><tbody>" +
        (rows.isEmpty() ? "<tr><td colspan=\"6\">nenhuma caixa com estes filtros</td></tr>"
                        : rows) +
        "</tbody></table><p class=\"pager\">" + pager + "</p>";
    sendHtml(res, page(Section::Boxes, "Caixas", body));
}

// Every box the filters select, a page at a time from the database, so memory stays flat; a
// database failure cuts the transfer short rather than end it cleanly.
void streamBoxes(const HistoryFilter& filter, httplib::Response& res, bool json) {
    auto after = std::make_shared<PageKey>();
    res.set_header("Content-Disposition", json ? "attachment; filename=\"caixas.json\""
                                               : "attachment; filename=\"caixas.csv\"");
    res.set_chunked_content_provider(
        json ? "application/json; charset=utf-8" : "text/csv; charset=utf-8",
        [filter, after, json](std::size_t offset, httplib::DataSink& sink) {
            try {
                std::string chunk = offset > 0 ? ""
                                    : json     ? "{\"boxes\":["
                                               : "identifier,last_time,last_visit,station,"
                                                 "firmware,profile,result\n";
                const std::vector<BoxState> boxes =
                    threadStore().boxes(filter, *after, kDownloadPage);
                for (const BoxState& box : boxes) {
                    if (json) {
                        if (offset > 0 || &box != &boxes.front())
                            chunk += ',';
                        chunk += QJsonDocument(boxJson(box))
                                     .toJson(QJsonDocument::Compact)
                                     .toStdString();
                        continue;
                    }
                    for (const QString* field : {&box.identifier, &box.lastTime, &box.lastVisit,
                                                 &box.station, &box.firmware, &box.profile}) {
                        appendCsvField(chunk, field->toStdString());
                        chunk += ',';
                    }
                    appendCsvField(chunk, box.result.toStdString());
                    chunk += '\n';
                }
                if (!boxes.empty())
                    *after = {boxes.back().lastTime, boxes.back().lastVisit};
                const bool last = int(boxes.size()) < kDownloadPage;
                if (last && json)
                    chunk += "]}\n";
                if (!chunk.empty() && !sink.write(chunk.data(), chunk.size()))
                    return false;
                if (last)
                    sink.done();
                return true;
            } catch (const StoreError& error) {
                return streamBroken(error);
            }
        });
}

QString shortHash(const QString& hash) {
    return hash.isEmpty() ? QString("—")
                          : QString("<code title=\"%1\">%2</code>")
                                .arg(escapeHtml(hash), escapeHtml(hash.left(8)));
}

QString firmwareChange(const QJsonObject& line) {
    const QString before = line.value("firmware_before").toString();
    const QString after = line.value("firmware_after").toString();
    if (after.isEmpty() || after == before)
        return escapeHtml(before);
    return escapeHtml(before) + " → " + escapeHtml(after);
}

// The block as read before any write and as held after; a read that differs from what the box
// held after the visit before was written by something other than our visits.
QString blockChange(const QJsonObject& line, const QString& heldBefore) {
    const QString read = line.value("block_before").toString();
    const QString after = line.value("block_after").toString();
    QString cell =
        shortHash(read) + (after == read ? QString(" (sem mudança)") : " → " + shortHash(after));
    if (!heldBefore.isEmpty() && !read.isEmpty() && read != heldBefore)
        cell += QString(
                    "<span class=\"changed\">alterado fora das visitas: após a visita anterior "
                    "era %1</span>")
                    .arg(shortHash(heldBefore));
    return cell;
}

void boxPage(const httplib::Request& req, httplib::Response& res, const Caller&) {
    HistoryFilter filter;
    filter.identifier = param(req, "id");
    const Page at = pageOf(req);
    HistoryStore& store = threadStore();
    const std::vector<BoxState> state =
        filter.identifier.isEmpty() ? std::vector<BoxState>{} : store.boxes(filter, {}, 1);
    if (state.empty())
        throw Refusal{404, "box_not_found", "nenhuma visita desta caixa no histórico"};
    const BoxState& box = state.front();
    // One visit more than shown: the oldest shown is compared with the one before it.
    std::vector<StoredVisit> visits = store.visits(filter, at.after, at.limit + 1, false);
    const bool more = int(visits.size()) > at.limit;
    std::vector<QJsonObject> lines;
    for (const StoredVisit& visit : visits)
        lines.push_back(QJsonDocument::fromJson(visit.line).object());
    QString rows;
    for (std::size_t i = 0; i < visits.size() && int(i) < at.limit; ++i) {
        const QJsonObject& line = lines[i];
        QStringList actions;
        for (const QJsonValue& action : line.value("actions").toArray())
            actions << action.toString();
        const QString heldBefore =
            i + 1 < lines.size() ? lines[i + 1].value("block_after").toString() : QString();
        QString problem = escapeHtml(line.value("reason").toString());
        if (const QString error = line.value("error").toString(); !error.isEmpty())
            problem += (problem.isEmpty() ? "" : "<br>") + escapeHtml(error);
        rows += QString(
                    "<tr><td>%1</td><td>%2<br><span class=\"muted\">%3</span></td><td>%4</td>"
                    "<td>%5</td><td>%6</td><td>%7</td><td>%8</td><td>%9</td></tr>")
                    .arg(timeElement(visits[i].time), escapeHtml(line.value("station").toString()),
                         escapeHtml(line.value("port").toString()), firmwareChange(line),
                         escapeHtml(line.value("profile").toString()),
                         blockChange(line, heldBefore), escapeHtml(actions.join(", ")),
                         resultBadge(line.value("result").toString()), problem);
    }
    const QUrlQuery self{{"id", box.identifier}};
    QString pager;
    if (!at.after.isEmpty())
        pager += QString("<a href=\"%1\">← visitas mais recentes</a>").arg(href("/caixa", self));
    if (more) {
        QUrlQuery next = self;
        const StoredVisit& last = visits[std::size_t(at.limit) - 1];
        next.addQueryItem("after", PageKey{last.time, last.visit}.toToken());
        pager += QString("<a rel=\"next\" href=\"%1\">visitas mais antigas →</a>")
                     .arg(href("/caixa", next));
    }
    const QJsonValue hardware = lines.empty() ? QJsonValue() : lines.front().value("hardware_type");
    const QString body =
        QString(
            "<h1>Caixa <span class=\"id\">%1</span></h1><dl class=\"facts\">"
            "<dt>Tipo de hardware</dt><dd>%2</dd><dt>Última visita</dt><dd>%3</dd>"
            "<dt>Estação</dt><dd>%4</dd><dt>Firmware</dt><dd>%5</dd><dt>Perfil</dt><dd>%6</dd>"
            "<dt>Resultado</dt><dd>%7</dd></dl>")
            .arg(escapeHtml(box.identifier),
                 hardware.isDouble() ? QString::number(hardware.toInteger()) : QString("—"),
                 timeElement(box.lastTime), escapeHtml(box.station), escapeHtml(box.firmware),
                 escapeHtml(box.profile), resultBadge(box.result)) +
        "<h2>Visitas, da mais recente para a mais antiga</h2><table class=\"wide\" id=\"visits\">"
        "<thead><tr><th>Quando</th><th>Estação e porta</th><th>Firmware</th><th>Perfil</th>"
        "<th>Bloco de configuração lido → depois</th><th>Ações</th><th>Resultado</th>"
        "<th>Motivo e erro</th></tr></thead><tbody>" +
        rows + "</tbody></table><p class=\"pager\">" + pager + "</p>";
    sendHtml(res, page(Section::Boxes, "Caixa " + box.identifier, body));
}

QString journalState(const JournalState& journal) {
    if (journal.intact())
        return "<span class=\"ok\">íntegra</span>";
    QStringList faults;
    for (const SeqRange& range : journal.missing)
        faults << (range.first == range.last
                       ? QString("falta a linha %1").arg(range.first)
                       : QString("faltam as linhas %1 a %2").arg(range.first).arg(range.last));
    for (const qint64 seq : journal.breaks)
        faults << QString("quebra na linha %1").arg(seq);
    return "<span class=\"bad\">" + faults.join("; ") + "</span>";
}

void stationsPage(const httplib::Request&, httplib::Response& res, const Caller&) {
    HistoryStore& store = threadStore();
    const std::map<QString, StationBacklog> backlogs = store.backlogs();
    QString body = "<h1>Estações</h1>";
    int index = 0;
    for (const StationState& station : store.stations()) {
        const auto backlog = backlogs.find(station.station);
        QString journals;
        for (const JournalState& journal : station.journals)
            journals += QString(
                            "<tr><td><code>%1</code></td><td class=\"n\">%2</td>"
                            "<td class=\"n\">%3</td><td>%4</td></tr>")
                            .arg(escapeHtml(journal.journal), formatCount(journal.lines),
                                 formatCount(journal.lastSeq), journalState(journal));
        body += QString(
                    "<section id=\"e%1\"><h2>%2</h2><dl class=\"facts\">"
                    "<dt>Última linha recebida</dt><dd>%3</dd>"
                    "<dt>Relógio da estação</dt><dd>%4 em relação ao servidor</dd>"
                    "<dt>Linhas a enviar</dt><dd>%5</dd></dl>")
                    .arg(++index)
                    .arg(escapeHtml(station.station), timeElement(station.lastReceived),
                         clockOffset(station.clockOffsetMs),
                         backlog == backlogs.end()
                             ? QString("a estação ainda não informou")
                             : formatCount(backlog->second.lines) + " (informado em " +
                                   timeElement(backlog->second.reportedAt) + ")") +
                "<table class=\"wide\"><thead><tr><th>Diário</th><th class=\"n\">Linhas</th>"
                "<th class=\"n\">Última sequência</th><th>Cadeia</th></tr></thead><tbody>" +
                journals + "</tbody></table></section>";
    }
    if (index == 0)
        body += "<p class=\"muted\">Nenhuma estação enviou visitas ainda.</p>";
    sendHtml(res, page(Section::Stations, "Estações", body));
}

// The page's own CSS and script, built into the program.
httplib::Server::Handler staticFile(const QString& resource, const char* type) {
    QFile file(resource);
    file.open(QIODevice::ReadOnly);
    const std::string bytes = file.readAll().toStdString();
    return [bytes, type](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "max-age=3600");
        res.set_content(bytes, type);
    };
}

}  // namespace

void addFleetPages(httplib::Server& http, bool open) {
    const auto reader = [open](Route route) {
        return guardedRoute(Access::Read, open, std::move(route), sendPageRefusal);
    };
    http.Get("/", reader(overviewPage));
    http.Get("/caixas", reader(boxesPage));
    http.Get("/caixa", reader(boxPage));
    http.Get("/estacoes", reader(stationsPage));
    for (const bool json : {false, true})
        http.Get(json ? "/caixas.json" : "/caixas.csv",
                 reader([json](const httplib::Request& req, httplib::Response& res, const Caller&) {
                     streamBoxes(filterOf(req), res, json);
                 }));
    http.Get("/static/fleet.css", staticFile(":/fleet/fleet.css", "text/css; charset=utf-8"));
    http.Get("/static/fleet.js", staticFile(":/fleet/fleet.js", "text/javascript; charset=utf-8"));
    http.Get("/static/icon.svg", staticFile(":/fleet/icon.svg", "image/svg+xml"));
}

}  // namespace vek::history
