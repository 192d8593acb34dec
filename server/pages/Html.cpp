#include "server/pages/Html.h"

#include <QDateTime>
#include <QLocale>

namespace vek::history {

QString escapeHtml(QStringView text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '&':
                escaped += u"&amp;";
                break;
            case '<':
                escaped += u"&lt;";
                break;
            case '>':
                escaped += u"&gt;";
                break;
            case '"':
                escaped += u"&quot;";
                break;
            case '\'':
                escaped += u"&#39;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

QString timeElement(const QString& utc) {
    const QDateTime time = QDateTime::fromString(utc, Qt::ISODateWithMs);
    if (!time.isValid())
        return escapeHtml(utc);
    return QString("<time datetime=\"%1\">%2 UTC</time>")
        .arg(escapeHtml(utc), time.toUTC().toString("dd/MM/yyyy HH:mm:ss"));
}

QString formatCount(qint64 count) {
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(count);
}

QString formatShare(qint64 part, qint64 whole) {
    if (whole == 0)
        return "—";
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(100.0 * part / whole, 'f', 1) +
           " %";
}

}  // namespace vek::history
