#include "TestJournal.h"

#include <QDateTime>
#include <QJsonArray>
#include <QUuid>

TestJournal::TestJournal(const QString& station)
    : station_(station), journal_(QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

QByteArray TestJournal::next(const QString& identifier, const QJsonObject& fields) {
    const QDateTime start = QDateTime(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC).addSecs(seq_ * 60);
    QJsonObject visit{{"time", start.toString(Qt::ISODateWithMs)},
                      {"tool_version", "2.36"},
                      {"identifier", identifier},
                      {"hardware_type", 3},
                      {"firmware_before", "2.30"},
                      {"firmware_after", "2.36"},
                      {"profile", "frota"},
                      {"actions", QJsonArray{"update"}},
                      {"result", "serviced"},
                      {"duration_s", 41.5}};
    for (auto field = fields.begin(); field != fields.end(); ++field)
        visit.insert(field.key(), field.value());
    const QByteArray line =
        vek::history::buildJournalLine(visit, {QUuid::createUuid().toString(QUuid::WithoutBraces),
                                               journal_, seq_, prev_, station_, "-03:00"});
    prev_ = vek::history::lineHash(QByteArrayView(line).chopped(1));
    ++seq_;
    return line;
}
