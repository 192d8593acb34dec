#pragma once

#include <QString>
#include <array>
#include <vector>

namespace vek::history {

// The results a visit ends with, in the order the charts stack them, with their words.
struct ResultWords {
    const char* key;
    const char* singular;
    const char* plural;
};
extern const std::array<ResultWords, 4> kResultWords;
// The words for a result, or the result itself when it is none of ours.
QString resultWords(const QString& result);

// A day's visits by result, in kResultWords' order.
struct DayColumn {
    QString day;  // yyyy-MM-dd
    std::array<qint64, 4> visits{};
};

struct LabelCount {
    QString label;
    qint64 count = 0;
};

// Inline SVG drawn by the server: no script, no style attribute, colours from the page's CSS
// classes, and each bar's numbers in its <title> for a pointer that rests on it.
QString dayChartSvg(const QString& name, const std::vector<DayColumn>& days);
QString barChartSvg(const QString& name, const std::vector<LabelCount>& rows);

}  // namespace vek::history
