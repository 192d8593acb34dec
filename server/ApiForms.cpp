#include "server/ApiForms.h"

#include <QDate>
#include <QDateTime>
#include <QJsonObject>

#include "server/Access.h"
#include "server/HistoryServer.h"

namespace vek::history {

namespace {

// A date is the whole day; a time needs its offset. Empty when the text is neither.
QString utcBound(const QString& text, bool until) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10)
        return QDateTime(until ? day.addDays(1) : day, QTime(0, 0), Qt::UTC)
            .toString("yyyy-MM-ddTHH:mm:ss.zzz'Z'");
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid() || time.timeSpec() == Qt::LocalTime)
        return {};
    return time.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzz'Z'");
}

}  // namespace

QString param(const httplib::Request& req, const char* name) {
    return QString::fromStdString(req.get_param_value(name));
}

HistoryFilter filterOf(const httplib::Request& req) {
    HistoryFilter f;
    f.search = param(req, "q");
    f.identifier = param(req, "identifier");
    f.firmware = param(req, "firmware");
    f.profile = param(req, "profile");
    f.result = param(req, "result");
    f.station = param(req, "station");
    for (const auto& [name, bound, until] :
         {std::tuple{"since", &f.since, false}, std::tuple{"until", &f.until, true}}) {
        const QString text = param(req, name);
        if (text.isEmpty())
            continue;
        *bound = utcBound(text, until);
        if (bound->isEmpty())
            throw Refusal{
                400, "invalid_parameter",
                QString("%1 deve ser uma data (2024-05-31) ou data e hora com fuso").arg(name)};
    }
    return f;
}

Page pageOf(const httplib::Request& req) {
    Page page{{}, kDefaultPageSize};
    if (req.has_param("after")) {
        const auto key = PageKey::fromToken(param(req, "after"));
        if (!key)
            throw Refusal{400, "invalid_parameter", "after não é um marcador de página válido"};
        page.after = *key;
    }
    if (req.has_param("limit")) {
        bool ok = false;
        page.limit = param(req, "limit").toInt(&ok);
        if (!ok || page.limit < 1 || page.limit > kMaxPageSize)
            throw Refusal{400, "invalid_parameter",
                          QString("limit deve ir de 1 a %1").arg(kMaxPageSize)};
    }
    return page;
}

QJsonObject boxJson(const BoxState& box) {
    return {{"identifier", box.identifier}, {"last_time", box.lastTime},
            {"last_visit", box.lastVisit},  {"station", box.station},
            {"firmware", box.firmware},     {"profile", box.profile},
            {"result", box.result}};
}

}  // namespace vek::history
