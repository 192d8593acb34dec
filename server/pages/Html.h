#pragma once

#include <QString>
#include <QStringView>

namespace vek::history {

// Text from a record made safe in an element's content and in a quoted attribute: every value
// shown on a page goes through here.
QString escapeHtml(QStringView text);

// A UTC time as "31/05/2024 14:02:03 UTC" in a <time> element, which the page's script extends
// with the reader's own time.
QString timeElement(const QString& utc);

// Counts and shares as a Brazilian reader writes them: "12.345", "4,2 %".
QString formatCount(qint64 count);
QString formatShare(qint64 part, qint64 whole);

}  // namespace vek::history
