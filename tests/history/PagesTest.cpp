#include <gtest/gtest.h>

#include <QRegularExpression>

#include "server/pages/Charts.h"
#include "server/pages/Html.h"

using namespace vek::history;

TEST(PagesTest, EscapingLeavesNoMarkupInTextOrAttributes) {
    EXPECT_EQ(escapeHtml(u"<script>alert('x')</script> \"a\" & &amp;"),
              "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &quot;a&quot; &amp; &amp;amp;");
    EXPECT_EQ(timeElement("\"><script>"), "&quot;&gt;&lt;script&gt;");
}

TEST(PagesTest, ChartsKeepLabelsAsTextAndBarsToScale) {
    // A "%1" in a record's text must not be taken for a placeholder of the chart's own numbers.
    const QString label = "<b>%1 '\"</b>";
    const QString bars = barChartSvg("por perfil", {{label, 40}, {"frota", 10}});
    EXPECT_FALSE(bars.contains("<b>"));
    EXPECT_EQ(bars.count("&lt;b&gt;%1 &#39;&quot;&lt;/b&gt;"), 2);  // its title and its text
    const QRegularExpression width("class=\"bar\" x=\"\\d+\" y=\"\\d+\" width=\"([\\d.]+)\"");
    std::vector<double> widths;
    for (auto match = width.globalMatch(bars); match.hasNext();)
        widths.push_back(match.next().captured(1).toDouble());
    ASSERT_EQ(widths.size(), 2u);
    EXPECT_DOUBLE_EQ(widths[0], 4 * widths[1]);

    // A day of nothing draws no bar and divides by nothing; a day's stack is its total's height.
    const QString days = dayChartSvg("por dia", {{"2024-05-30", {}}, {"2024-05-31", {3, 0, 1, 0}}});
    EXPECT_FALSE(days.contains("nan") || days.contains("inf"));
    EXPECT_TRUE(days.contains("<title>31/05/2024: 4 visitas (3 atendidos, 1 falharam)</title>"));
    EXPECT_FALSE(days.contains("30/05/2024:"));
    const QRegularExpression height("class=\"r-(serviced|failed)\"[^>]* height=\"([\\d.]+)\"");
    double stacked = 0;
    for (auto match = height.globalMatch(days); match.hasNext();)
        stacked += match.next().captured(2).toDouble();
    EXPECT_NEAR(stacked, (240 - 10 - 28) * 4.0 / 5.0, 0.2);  // axis top 5 for a largest day of 4
}
