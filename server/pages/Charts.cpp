#include "server/pages/Charts.h"

#include <QDate>
#include <algorithm>

#include "server/pages/Html.h"

namespace vek::history {

const std::array<ResultWords, 4> kResultWords{{{"serviced", "atendido", "atendidos"},
                                               {"current", "já em dia", "já em dia"},
                                               {"failed", "falhou", "falharam"},
                                               {"interrupted", "interrompido", "interrompidos"}}};

QString resultWords(const QString& result) {
    for (const ResultWords& words : kResultWords)
        if (result == words.key)
            return words.singular;
    return result;
}

namespace {

// The axis' top: 1, 2 or 5 times a power of ten, at or above the largest value.
qint64 axisTop(qint64 largest) {
    for (qint64 power = 1;; power *= 10)
        for (const qint64 step : {1, 2, 5})
            if (step * power >= largest)
                return step * power;
}

QString svgOpen(const QString& name, int width, int height) {
    return QString(
               "<svg class=\"chart\" viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\" "
               "role=\"img\" aria-label=\"%3\" xmlns=\"http://www.w3.org/2000/svg\">")
        .arg(width)
        .arg(height)
        .arg(escapeHtml(name));
}

}  // namespace

QString dayChartSvg(const QString& name, const std::vector<DayColumn>& days) {
    constexpr int kWidth = 900, kHeight = 240, kLeft = 48, kRight = 8, kTop = 10, kBottom = 28;
    constexpr double kPlotHeight = kHeight - kTop - kBottom;
    qint64 largest = 0;
    for (const DayColumn& day : days) {
        qint64 total = 0;
        for (const qint64 visits : day.visits)
            total += visits;
        largest = std::max(largest, total);
    }
    const qint64 top = axisTop(std::max<qint64>(largest, 1));
    const double slot = days.empty() ? 0 : double(kWidth - kLeft - kRight) / double(days.size());
    QString svg = svgOpen(name, kWidth, kHeight);
    for (const qint64 tick : {qint64(0), top / 2, top}) {
        const double y = kTop + kPlotHeight * (1.0 - double(tick) / double(top));
        svg += QString(
                   "<line class=\"grid\" x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\"/>"
                   "<text class=\"axis\" x=\"%4\" y=\"%5\" text-anchor=\"end\">%6</text>")
                   .arg(kLeft)
                   .arg(kWidth - kRight)
                   .arg(y, 0, 'f', 1)
                   .arg(kLeft - 6)
                   .arg(y + 4, 0, 'f', 1)
                   .arg(formatCount(tick));
    }
    for (std::size_t i = 0; i < days.size(); ++i) {
        const DayColumn& day = days[i];
        const double x = kLeft + slot * double(i);
        const QDate date = QDate::fromString(day.day, Qt::ISODate);
        if (i % 15 == 0)
            svg += QString("<text class=\"axis\" x=\"%1\" y=\"%2\">%3</text>")
                       .arg(x, 0, 'f', 1)
                       .arg(kHeight - 8)
                       .arg(escapeHtml(date.toString("dd/MM")));
        qint64 total = 0;
        QStringList parts;
        for (std::size_t r = 0; r < kResultWords.size(); ++r) {
            total += day.visits[r];
            if (day.visits[r] > 0)
                parts << formatCount(day.visits[r]) + " " + kResultWords[r].plural;
        }
        if (total == 0)
            continue;
        svg += QString("<g><title>%1: %2 visitas (%3)</title>")
                   .arg(escapeHtml(date.toString("dd/MM/yyyy")), formatCount(total),
                        escapeHtml(parts.join(", ")));
        double base = kTop + kPlotHeight;
        for (std::size_t r = 0; r < kResultWords.size(); ++r) {
            if (day.visits[r] == 0)
                continue;
            const double height = kPlotHeight * double(day.visits[r]) / double(top);
            base -= height;
            svg += QString("<rect class=\"r-%1\" x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\"/>")
                       .arg(kResultWords[r].key)
                       .arg(x + slot * 0.1, 0, 'f', 1)
                       .arg(base, 0, 'f', 1)
                       .arg(slot * 0.8, 0, 'f', 1)
                       .arg(height, 0, 'f', 1);
        }
        svg += "</g>";
    }
    return svg + "</svg>";
}

QString barChartSvg(const QString& name, const std::vector<LabelCount>& rows) {
    constexpr int kWidth = 520, kRow = 24, kLabel = 170, kBar = 280;
    constexpr qsizetype kLabelChars = 24;
    qint64 largest = 1;
    for (const LabelCount& row : rows)
        largest = std::max(largest, row.count);
    QString svg = svgOpen(name, kWidth, kRow * int(rows.size()) + 4);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LabelCount& row = rows[i];
        const QString label = row.label.isEmpty() ? QString("(vazio)") : row.label;
        const QString shown =
            label.size() > kLabelChars ? label.left(kLabelChars - 1) + "…" : label;
        const int y = kRow * int(i);
        const double length = std::max(1.0, kBar * double(row.count) / double(largest));
        // Numbers first, the record's texts last and in one call: an .arg after them would
        // take a "%1" in a label for its own.
        svg += QString(
                   "<g><title>%7: %8</title>"
                   "<text class=\"label\" x=\"%1\" y=\"%2\" text-anchor=\"end\">%9</text>"
                   "<rect class=\"bar\" x=\"%3\" y=\"%4\" width=\"%5\" height=\"%6\"/>"
                   "<text class=\"value\" x=\"%10\" y=\"%2\">%8</text></g>")
                   .arg(kLabel - 8)
                   .arg(y + 17)
                   .arg(kLabel)
                   .arg(y + 4)
                   .arg(length, 0, 'f', 1)
                   .arg(kRow - 8)
                   .arg(escapeHtml(label), formatCount(row.count), escapeHtml(shown),
                        QString::number(kLabel + length + 6, 'f', 1));
    }
    return svg + "</svg>";
}

}  // namespace vek::history
