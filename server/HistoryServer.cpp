#include "server/HistoryServer.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <iostream>

#include "history/HistoryStore.h"
#include "server/Access.h"
#include "server/ApiForms.h"
#include "server/ThreadStore.h"
#include "server/VisitCsv.h"
#include "server/WorkerPool.h"
#include "server/pages/FleetPages.h"

namespace vek::history {

namespace {

constexpr int kCsvPage = 1000;
constexpr std::size_t kCsvRowBytes = 1024;  // room for a row without regrowing
constexpr time_t kReadTimeoutSeconds = 10;
constexpr time_t kWriteTimeoutSeconds = 10;
constexpr time_t kKeepAliveSeconds = 5;
constexpr std::size_t kKeepAliveRequests = 100;

void sendJson(httplib::Response& res, const QJsonObject& body, int status = 200) {
    res.status = status;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(),
                    "application/json; charset=utf-8");
}

void sendRefusal(httplib::Response& res, const Refusal& refusal) {
    sendJson(res, {{"error", refusal.reason}, {"message", refusal.message}}, refusal.status);
}

QJsonValue nextToken(const PageKey& last, std::size_t rows, int limit) {
    return int(rows) < limit ? QJsonValue() : QJsonValue(last.toToken());
}

QJsonObject visitJson(const StoredVisit& visit) {
    QJsonObject line = QJsonDocument::fromJson(visit.line).object();
    line.insert("visit", visit.visit);
    line.insert("received_at", visit.receivedAt);
    return line;
}

QJsonObject journalJson(const JournalState& journal) {
    QJsonArray missing, breaks;
    for (const SeqRange& range : journal.missing)
        missing.append(QJsonArray{range.first, range.last});
    for (const qint64 seq : journal.breaks)
        breaks.append(seq);
    return {{"journal", journal.journal}, {"last_seq", journal.lastSeq}, {"lines", journal.lines},
            {"intact", journal.intact()}, {"missing", missing},          {"breaks", breaks}};
}

httplib::Server::Handler guarded(Access access, bool open, Route route) {
    return guardedRoute(access, open, std::move(route), sendRefusal);
}

// The refusal of a line that cannot be stored, or an empty object when it can.
QJsonObject refusalOf(const ParsedLine& parsed, const Caller& caller) {
    if (!parsed.ok())
        return {{"result", "refused"},
                {"reason", parsed.refusal.reason},
                {"message", parsed.refusal.message}};
    const QString station =
        parsed.line.chain.station.isEmpty() ? caller.name : parsed.line.chain.station;
    if (station.isEmpty())
        return {{"result", "refused"},
                {"reason", "missing_field"},
                {"message", "linha sem station: envie-a com o token da estação"}};
    if (caller.role == "station" && station != caller.name)
        return {{"result", "refused"},
                {"reason", "forged_station"},
                {"message", "a linha é de outra estação que não a do token"}};
    return {};
}

// What a station still has to send once this request is answered: the lines it told as unsent
// (X-Vek-Backlog) less those the request carries.
void keepBacklog(const httplib::Request& req, const QString& station, std::size_t lines) {
    bool told = false;
    const qint64 unsent =
        QString::fromStdString(req.get_header_value("X-Vek-Backlog")).toLongLong(&told);
    if (told && unsent >= 0 && !station.isEmpty())
        threadStore().recordBacklog(station, std::max<qint64>(0, unsent - qint64(lines)));
}

void postVisits(const httplib::Request& req, httplib::Response& res, const Caller& caller) {
    if (req.get_header_value("Content-Type").rfind("application/x-ndjson", 0) != 0)
        throw Refusal{415, "unsupported_media_type",
                      "envie as linhas do diário como application/x-ndjson"};
    const QByteArrayView body(req.body.data(), qsizetype(req.body.size()));
    if (body.count('\n') + (body.endsWith('\n') ? 0 : 1) > kMaxLinesPerRequest)
        throw Refusal{413, "too_many_lines",
                      QString("no máximo %1 linhas por pedido").arg(kMaxLinesPerRequest)};
    std::vector<QJsonObject> answers;
    std::vector<ParsedLine> accepted;  // all stored in one transaction
    std::vector<std::size_t> acceptedAnswers;
    qsizetype start = 0;
    for (int number = 1; start < body.size(); ++number) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        const QByteArrayView bytes = body.sliced(start, end - start);
        start = end + 1;
        if (bytes.trimmed().isEmpty())
            continue;
        ParsedLine parsed = parseJournalLine(bytes);
        QJsonObject answer = refusalOf(parsed, caller);
        answer.insert("line", number);
        if (answer.contains("reason")) {
            answers.push_back(answer);
            continue;
        }
        answer.insert("visit", parsed.line.chain.visit);
        acceptedAnswers.push_back(answers.size());
        answers.push_back(answer);
        accepted.push_back(std::move(parsed));
    }
    std::vector<HistoryStore::LineFrom> batch;
    for (const ParsedLine& parsed : accepted)
        batch.push_back({&parsed.line, caller.name});
    const std::vector<IngestOutcome> outcomes = threadStore().ingest(batch);
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        answers[acceptedAnswers[i]].insert("result", outcomeName(outcomes[i]));
    keepBacklog(req,
                caller.name.isEmpty() && !accepted.empty() ? accepted.front().line.chain.station
                                                           : caller.name,
                answers.size());

    QJsonObject counts{{"stored", 0}, {"duplicate", 0}, {"conflict", 0}, {"refused", 0}};
    QJsonArray results;
    for (const QJsonObject& answer : answers) {
        const QString result = answer.value("result").toString();
        counts.insert(result, counts.value(result).toInt() + 1);
        results.append(answer);
    }
    counts.insert("results", results);
    sendJson(res, counts);
}

void getBoxes(const httplib::Request& req, httplib::Response& res, const Caller&) {
    const HistoryFilter filter = filterOf(req);
    const Page page = pageOf(req);
    const std::vector<BoxState> boxes = threadStore().boxes(filter, page.after, page.limit);
    QJsonArray list;
    for (const BoxState& box : boxes)
        list.append(boxJson(box));
    const PageKey last =
        boxes.empty() ? PageKey{} : PageKey{boxes.back().lastTime, boxes.back().lastVisit};
    sendJson(res, {{"boxes", list}, {"next", nextToken(last, boxes.size(), page.limit)}});
}

QJsonObject visitPage(const HistoryFilter& filter, const Page& page, bool chronological) {
    const std::vector<StoredVisit> visits =
        threadStore().visits(filter, page.after, page.limit, chronological);
    QJsonArray list;
    for (const StoredVisit& visit : visits)
        list.append(visitJson(visit));
    const PageKey last =
        visits.empty() ? PageKey{} : PageKey{visits.back().time, visits.back().visit};
    return {{"visits", list}, {"next", nextToken(last, visits.size(), page.limit)}};
}

void getBoxTimeline(const httplib::Request& req, httplib::Response& res, const Caller&) {
    HistoryFilter filter;
    filter.identifier = QString::fromStdString(req.matches[1]);
    const Page page = pageOf(req);
    QJsonObject timeline = visitPage(filter, page, true);
    if (page.after.isEmpty() && timeline.value("visits").toArray().isEmpty())
        throw Refusal{404, "box_not_found", "nenhuma visita desta caixa no histórico"};
    timeline.insert("identifier", filter.identifier);
    sendJson(res, timeline);
}

// The whole filtered set, a page at a time from the database, so memory stays flat however
// many rows there are; a database failure cuts the transfer short rather than end it cleanly.
void streamCsv(const HistoryFilter& filter, httplib::Response& res) {
    auto after = std::make_shared<PageKey>();
    res.set_header("Content-Disposition", "attachment; filename=\"visitas.csv\"");
    res.set_chunked_content_provider(
        "text/csv; charset=utf-8", [filter, after](std::size_t offset, httplib::DataSink& sink) {
            try {
                std::string chunk = offset == 0 ? visitCsvHeader() : std::string();
                chunk.reserve(kCsvPage * kCsvRowBytes);
                const std::vector<StoredVisit> rows =
                    threadStore().visits(filter, *after, kCsvPage, true);
                for (const StoredVisit& visit : rows)
                    appendVisitCsvRow(chunk, visit);
                if (!rows.empty())
                    *after = {rows.back().time, rows.back().visit};
                if (!chunk.empty() && !sink.write(chunk.data(), chunk.size()))
                    return false;
                if (int(rows.size()) < kCsvPage)
                    sink.done();
                return true;
            } catch (const StoreError& error) {
                return streamBroken(error);
            }
        });
}

void getVisits(const httplib::Request& req, httplib::Response& res, const Caller&) {
    const HistoryFilter filter = filterOf(req);
    if (req.get_param_value("format") == "csv")
        return streamCsv(filter, res);
    sendJson(res, visitPage(filter, pageOf(req), false));
}

void getStations(const httplib::Request&, httplib::Response& res, const Caller&) {
    QJsonArray list;
    for (const StationState& station : threadStore().stations()) {
        QJsonArray journals;
        bool intact = true;
        for (const JournalState& journal : station.journals) {
            journals.append(journalJson(journal));
            intact = intact && journal.intact();
        }
        list.append(QJsonObject{{"station", station.station},
                                {"last_received", station.lastReceived},
                                {"last_visit", station.lastVisit},
                                {"clock_offset_s", station.clockOffsetMs / 1000.0},
                                {"chains_intact", intact},
                                {"journals", journals}});
    }
    sendJson(res, {{"stations", list}});
}

}  // namespace

bool isLoopbackHost(const std::string& host) {
    return host.rfind("127.", 0) == 0 || host == "::1" || host == "localhost";
}

HistoryServer::HistoryServer(const ServerSettings& settings) {
    setThreadStoreLocation(settings.db);
    {
        HistoryStore store(settings.db);
        open_ = store.tokens().empty();
        if (store.roleMayChangeVisits())
            std::cerr << "vekhistory: aviso: o papel desta conexão pode alterar e apagar visitas "
                         "(é o dono do banco?); rode o servidor com um papel próprio, liberado "
                         "pelo dono com \"vekhistory grant PAPEL\"\n";
    }
    if (open_ && !isLoopbackHost(settings.host))
        throw ServerError(
            "nenhum token cadastrado: fora do endereço local o servidor só abre com tokens. "
            "Crie um com \"vekhistory token add --role station --name NOME\" (e um de leitura "
            "com --role reader) ou ouça em 127.0.0.1");
    if (settings.tlsCert.empty() != settings.tlsKey.empty())
        throw ServerError("--tls-cert e --tls-key vão juntos");
    if (settings.tlsCert.empty()) {
        http_ = std::make_unique<httplib::Server>();
    } else {
        http_ =
            std::make_unique<httplib::SSLServer>(settings.tlsCert.c_str(), settings.tlsKey.c_str());
        if (!http_->is_valid())
            throw ServerError("não foi possível carregar o certificado " + settings.tlsCert +
                              " e a chave " + settings.tlsKey);
    }
    http_->new_task_queue = [this, requestTime = settings.requestTime] {
        return new WorkerPool(kWorkerThreads, kQueuedConnections, port_, requestTime);
    };
    http_->set_payload_max_length(kMaxBodyBytes);
    http_->set_read_timeout(kReadTimeoutSeconds);
    http_->set_write_timeout(kWriteTimeoutSeconds);
    http_->set_keep_alive_timeout(kKeepAliveSeconds);
    http_->set_keep_alive_max_count(kKeepAliveRequests);
    http_->set_default_headers(
        {{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}});
    addRoutes();
    port_ = settings.port == 0
                ? http_->bind_to_any_port(settings.host)
                : (http_->bind_to_port(settings.host, settings.port) ? settings.port : -1);
    if (port_ < 0)
        throw ServerError("não foi possível ouvir em " + settings.host + ":" +
                          std::to_string(settings.port) + " (o endereço existe e está livre?)");
}

HistoryServer::~HistoryServer() = default;

void HistoryServer::addRoutes() {
    const bool open = open_;
    http_->Post("/api/v1/visits", guarded(Access::Post, open, postVisits));
    http_->Get("/api/v1/boxes", guarded(Access::Read, open, getBoxes));
    http_->Get(R"(/api/v1/boxes/([^/]+))", guarded(Access::Read, open, getBoxTimeline));
    http_->Get("/api/v1/visits", guarded(Access::Read, open, getVisits));
    http_->Get("/api/v1/stations", guarded(Access::Read, open, getStations));
    addFleetPages(*http_, open);
    http_->Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
        try {
            threadStore().tokens();
            sendJson(res, {{"status", "ok"}});
        } catch (const StoreError&) {
            closeThreadStore();
            sendRefusal(res, {503, "database_unavailable", "o banco de dados não respondeu"});
        }
    });
    // The library's own refusals (413 for a body too large, 404) get a body that says why.
    http_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return;
        if (res.status == 413)
            sendRefusal(res, {413, "body_too_large",
                              QString("o pedido passa de %1 bytes").arg(kMaxBodyBytes)});
        else if (res.status == 404)
            sendRefusal(res, {404, "not_found", "caminho desconhecido"});
        else
            sendRefusal(res, {res.status, "bad_request", "pedido HTTP recusado"});
    });
    http_->set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            sendRefusal(res, {500, "internal_error", "erro interno do servidor"});
        });
    // A request without a body is read whole once it is routed; one with a body, once its
    // route's handler runs.
    http_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        if (req.method == "GET" || req.method == "HEAD")
            WorkerPool::requestRead();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Method, path and status only: never a token or a line. It runs once the answer is sent,
    // and the connection's next request is then waited for.
    http_->set_logger([](const httplib::Request& req, const httplib::Response& res) {
        std::cerr << req.remote_addr << ' ' << req.method << ' ' << req.path << ' ' << res.status
                  << '\n';
        WorkerPool::answerSent();
    });
}

void HistoryServer::run() {
    http_->listen_after_bind();
}

void HistoryServer::stop() {
    http_->stop();
}

}  // namespace vek::history
