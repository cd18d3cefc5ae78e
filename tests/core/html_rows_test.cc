// Header rows, data rows and the graph applet of the page writer, byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "core/containers.h"
#include "core/escape.h"
#include "core/html_writer.h"
#include "support/capture.h"

namespace {

const std::string kAttr = " onMouseOver=\"bgc(this,0)\" onmouseout=\"bgc(this,1)\"";
const std::string kSectionOpen =
    "<table border=0 cellspacing=1 cellpadding=2 bgcolor=#a7a7a7 width=610>\n"
    "<tr bgcolor=#dfd8df><td>\n"
    "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=604>\n";

class RowWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_prefix_ = html.prefix;
    saved_attribute_ = html.row_attribute;
    html.prefix = "/q/";
    html.row_attribute = kRowHighlightAttribute;
  }
  void TearDown() override {
    html.prefix = saved_prefix_;
    html.row_attribute = saved_attribute_;
  }

 private:
  const char* saved_prefix_ = nullptr;
  const char* saved_attribute_ = nullptr;
};

TEST_F(RowWriterTest, HeaderRows) {
  PageCapture page;
  html.summary_header("Visitors From:");
  html.list_header("Host:", "Visitors");
  html.list_header2("Page:", "Time", "Views");
  html.list_close();
  EXPECT_EQ(page.text(),
            "<tr bgcolor=#a7a7a7 align=right><td class=lbl align=left width=100%>Visitors "
            "From:</td><td class=lbl>Visitors</td><td class=lbl nowrap>% of all</td></tr>\n" +
                kSectionOpen +
                "<tr bgcolor=#a7a7a7 align=right><td class=lbl align=center>#</td>"
                "<td class=lbl align=left width=100%>Host:</td><td class=lbl>Visitors</td>"
                "<td class=lbl nowrap>% of all</td></tr>\n" +
                kSectionOpen +
                "<tr bgcolor=#a7a7a7 align=right><td class=lbl align=center>#</td>"
                "<td class=lbl align=left width=100%>Page:</td><td class=lbl>Time</td>"
                "<td class=lbl>Views</td><td class=lbl nowrap>% of all</td></tr>\n"
                "</table>\n</td></tr>\n</table>\n");
}

TEST_F(RowWriterTest, SummaryRowShowsTheAverageOnlyForMoreThanOneDay) {
  PageCapture page;
  html.summary_row("Unique Visitors", 10, 1);
  html.summary_row("Page Views", 10, 3);
  html.summary_row("Hits", 1234567, 0);
  EXPECT_EQ(page.text(), "<tr class=dat align=right" + kAttr +
                             "><td align=left width=100%>Unique Visitors </td><td></td>"
                             "<td>10</td></tr>\n"
                             "<tr class=dat align=right" +
                             kAttr +
                             "><td align=left width=100%>Page Views (average / total)</td>"
                             "<td>3</td><td>10</td></tr>\n"
                             "<tr class=dat align=right" +
                             kAttr +
                             "><td align=left width=100%>Hits </td><td></td>"
                             "<td>1,234,567</td></tr>\n");
}

TEST_F(RowWriterTest, PercentRow) {
  PageCapture page;
  html.percent_row("Search Engines", 1, 3);
  html.percent_row("Bookmarks", 5, 0);
  EXPECT_EQ(page.text(), "<tr class=dat align=right" + kAttr +
                             "><td align=left>Search Engines</td><td>1</td><td>33.3</td></tr>\n"
                             "<tr class=dat align=right" +
                             kAttr +
                             "><td align=left>Bookmarks</td><td>5</td><td>0.0</td></tr>\n");
}

TEST_F(RowWriterTest, ListRows) {
  PageCapture page;
  html.ranked_row(1, "www.example.com", 1234567, 0.5f);
  html.spacer_row(4);
  html.ranked_row_highlight(2, "Google (top 2 of 5)", 12, 1.0f / 3.0f);
  html.indent_row("cheap flights", 1000, 0.25f);
  html.ranked_row2(3, "/index.html", "01:05", 999, 0.001f);
  html.spacer_row(5);
  html.ranked_row_values2(4, ".gif Image", 1000, 2048, 1.0f);
  EXPECT_EQ(page.text(),
            "<tr class=dat align=right" + kAttr +
                "><td>1</td><td align=left>www.example.com</td><td>1,234,567</td>"
                "<td>50.0</td></tr>\n"
                "<tr><td colspan=4 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n"
                "<tr class=dat align=right bgcolor=#d1cbd1><td>2</td><td align=left><span "
                "class=ttl>Google (top 2 of 5)</span></td><td>12</td><td>33.3</td></tr>\n"
                "<tr class=dat align=right" +
                kAttr +
                "><td>&nbsp;</td><td align=left>cheap flights</td><td>1,000</td>"
                "<td>25.0</td></tr>\n"
                "<tr class=dat align=right" +
                kAttr +
                "><td>3</td><td align=left>/index.html</td><td>01:05</td><td>999</td>"
                "<td>0.1</td></tr>\n"
                "<tr><td colspan=5 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n"
                "<tr class=dat align=right" +
                kAttr +
                "><td>4</td><td align=left>.gif Image</td><td>1,000</td><td>2,048</td>"
                "<td>100.0</td></tr>\n");
}

TEST_F(RowWriterTest, RowsFollowTheRowHighlightingSetting) {
  html.row_attribute = "";
  PageCapture page;
  html.ranked_row(1, "a", 1, 1.0f);
  html.ranked_row_highlight(2, "b", 1, 1.0f);
  EXPECT_EQ(page.text(),
            "<tr class=dat align=right><td>1</td><td align=left>a</td><td>1</td>"
            "<td>100.0</td></tr>\n"
            "<tr class=dat align=right bgcolor=#d1cbd1><td>2</td><td align=left><span "
            "class=ttl>b</span></td><td>1</td><td>100.0</td></tr>\n");
}

TEST_F(RowWriterTest, ShareOfAZeroTotalShowsZero) {
  float nan = std::numeric_limits<float>::quiet_NaN();
  float inf = std::numeric_limits<float>::infinity();
  PageCapture page;
  html.ranked_row(1, "a", 0, nan);
  html.indent_row("b", 3, inf);
  html.ranked_row_values2(2, "c", 1, 2, -inf);
  std::string text = page.text();
  EXPECT_EQ(text.find("nan"), std::string::npos);
  EXPECT_EQ(text.find("inf"), std::string::npos);
  EXPECT_NE(text.find("<td>0</td><td>0.0</td></tr>\n"), std::string::npos);
  EXPECT_NE(text.find("<td>3</td><td>0.0</td></tr>\n"), std::string::npos);
  EXPECT_NE(text.find("<td>2</td><td>0.0</td></tr>\n"), std::string::npos);
}

TEST_F(RowWriterTest, HostileTextIsEscapedInPlainTextRows) {
  const char* hostile = "<script>alert('x')</script>&\"";
  // Visitor and file text: "&" too, so that no character reference can form.
  const std::string text_safe = "&lt;script&gt;alert('x')&lt;/script&gt;&amp;\"";
  // Labels of the program's own keep their "&" ("Direct Hits & Bookmarks").
  const std::string label_safe = "&lt;script&gt;alert('x')&lt;/script&gt;&\"";
  auto occurrences = [](const std::string& text, const std::string& snippet) {
    size_t count = 0;
    for (size_t at = text.find(snippet); at != std::string::npos; at = text.find(snippet, at + 1)) ++count;
    return count;
  };
  PageCapture page;
  html.indent_row(hostile, 1, 1.0f);
  html.ranked_row2(1, hostile, hostile, 1, 1.0f);
  html.ranked_row_values2(1, hostile, 1, 1, 1.0f);
  html.ranked_row_highlight(1, hostile, 1, 1.0f);
  std::string texts = page.text();
  html.percent_row(hostile, 1, 1);
  html.summary_row(hostile, 1, 1);
  html.list_header(hostile, hostile);
  std::string labels = page.text().substr(texts.size());
  EXPECT_EQ(texts.find("<script>"), std::string::npos);
  EXPECT_EQ(labels.find("<script>"), std::string::npos);
  EXPECT_EQ(occurrences(texts, text_safe), 5u);
  EXPECT_EQ(occurrences(labels, label_safe), 4u);
}

TEST_F(RowWriterTest, RankedRowTakesHtml) {
  // Its callers put links in the label and escape the visitor's part themselves.
  std::string label = "<a target=r0 href=\"" + attr_escape("http://x/?\"><script>") + "\">" +
                      html_escape("x/?\"><script>") + "</a>";
  PageCapture page;
  html.ranked_row(1, label.c_str(), 2, 1.0f);
  EXPECT_EQ(page.text(), "<tr class=dat align=right" + kAttr +
                             "><td>1</td><td align=left><a target=r0 "
                             "href=\"http://x/?&quot;&gt;&lt;script&gt;\">x/?\"&gt;&lt;"
                             "script&gt;</a></td><td>2</td><td>100.0</td></tr>\n");
}

TEST_F(RowWriterTest, ParameterListsEndWithAComma) {
  const int32_t values[] = {5, 3, 1};
  const int8_t bytes[] = {-1, 0, 127};
  PageCapture page;
  html.param_ints("visitors", 3, values);
  html.param_ints("hits", 0, values);
  html.param_bytes("days", 3, bytes);
  html.param("type", "pie");
  EXPECT_EQ(page.text(),
            "<param name=visitors value=\"5,3,1,\">\n"
            "<param name=hits value=\"\">\n"
            "<param name=days value=\"-1,0,127,\">\n"
            "<param name=type value=\"pie\">\n");
}

TEST_F(RowWriterTest, DailyBarGraph) {
  DailySeries series;
  ASSERT_EQ(series.append(DayDate{2003, 12, 31}, 10, 20), 0);
  ASSERT_EQ(series.append(DayDate{2004, 1, 1}, 1234, 5678), 0);
  PageCapture page;
  html.graph_applet("bar", 2, series.visitors.data, nullptr, series.page_views.data, nullptr,
                    &series);
  EXPECT_EQ(page.text(),
            "<applet codebase=/q/appl code=Corvilande.class width=604 height=150>\n"
            "<param name=type value=\"bar\">\n"
            "<param name=background value=\"223,216,223\">\n"
            "<param name=labelcolor value=\"0,0,0\">\n"
            "<param name=fbcolor value=\"250,205,0\">\n"
            "<param name=fhcolor value=\"240,0,0\">\n"
            "<param name=bbcolor value=\"0,100,205\">\n"
            "<param name=bhcolor value=\"200,0,0\">\n"
            "<param name=visitors value=\"10,1234,\">\n"
            "<param name=hits value=\"20,5678,\">\n"
            "<param name=days value=\"31,1,\">\n"
            "<param name=months value=\"12,1,\">\n"
            "<param name=years value=\"2003,2004,\">\n"
            "</applet>");
}

TEST_F(RowWriterTest, HourlyBarGraphIsLabelledByHour) {
  int32_t visitors[24];
  int32_t views[24];
  std::string visitor_list;
  std::string view_list;
  for (int h = 0; h < 24; ++h) {
    visitors[h] = h;
    views[h] = 2 * h;
    visitor_list += std::to_string(h) + ",";
    view_list += std::to_string(2 * h) + ",";
  }
  PageCapture page;
  html.graph_applet("bar", 24, visitors, nullptr, views, nullptr, nullptr);
  std::string text = page.text();
  EXPECT_NE(text.find("<param name=visitors value=\"" + visitor_list + "\">\n"
                      "<param name=hits value=\"" + view_list + "\">\n"
                      "<param name=autolabel value=\"hours\">\n</applet>"),
            std::string::npos);
  EXPECT_EQ(text.find("name=days"), std::string::npos);
}

TEST_F(RowWriterTest, PieIsDrawnInTheGivenOrder) {
  const int32_t values[] = {1, 5, 3};
  const int32_t order[] = {1, 2, 0};
  const char* labels[] = {"Linux", "Windows", "Mac OS"};
  PageCapture page;
  html.graph_applet("pie", 3, values, order, nullptr, labels, nullptr);
  EXPECT_EQ(page.text(),
            "<applet codebase=/q/appl code=Corvilande.class width=604 height=150>\n"
            "<param name=type value=\"pie\">\n"
            "<param name=background value=\"223,216,223\">\n"
            "<param name=labelcolor value=\"0,0,0\">\n"
            "<param name=visitors value=\"5,3,1,\">\n"
            "<param name=labels value=\"Windows,Mac OS,Linux,\">\n"
            "</applet>");
}

TEST_F(RowWriterTest, PieKeepsTheTwentyLargestSlices) {
  int32_t values[25];
  int32_t order[25];
  std::string label_text[25];
  const char* labels[25];
  for (int i = 0; i < 25; ++i) {
    values[i] = i + 1;
    order[i] = 24 - i;
    label_text[i] = "L" + std::to_string(i + 1);
    labels[i] = label_text[i].c_str();
  }
  std::string expected_values;
  std::string expected_labels;
  for (int i = 0; i < 20; ++i) {
    expected_values += std::to_string(25 - i) + ",";
    expected_labels += "L" + std::to_string(25 - i) + ",";
  }
  PageCapture page;
  html.graph_applet("pie", 25, values, order, nullptr, labels, nullptr);
  std::string text = page.text();
  EXPECT_NE(text.find("<param name=visitors value=\"" + expected_values + "\">\n"
                      "<param name=labels value=\"" + expected_labels + "\">\n</applet>"),
            std::string::npos);
}

TEST_F(RowWriterTest, PieLabelsCannotBreakTheParameterList) {
  const int32_t values[] = {2, 1};
  const int32_t order[] = {0, 1};
  const char* labels[] = {"Acme, Inc.", "\"><script>x</script>"};
  PageCapture page;
  html.graph_applet("pie", 2, values, order, nullptr, labels, nullptr);
  EXPECT_NE(page.text().find("<param name=labels value=\"Acme; Inc.,"
                             "&quot;&gt;&lt;script&gt;x&lt;/script&gt;,\">\n"),
            std::string::npos);
}

TEST_F(RowWriterTest, ParameterValuesAreAttributeEscaped) {
  PageCapture page;
  html.param("type", "pie\" onload=\"x");
  EXPECT_EQ(page.text(), "<param name=type value=\"pie&quot; onload=&quot;x\">\n");
}

TEST_F(RowWriterTest, BarGraphNeverReadsPastItsDaySeries) {
  DailySeries series;
  ASSERT_EQ(series.append(DayDate{2004, 2, 29}, 1, 2), 0);
  int32_t visitors[3] = {1, 0, 0};
  int32_t views[3] = {2, 0, 0};
  PageCapture page;
  html.graph_applet("bar", 3, visitors, nullptr, views, nullptr, &series);
  std::string text = page.text();
  EXPECT_NE(text.find("<param name=days value=\"29,\">\n<param name=months value=\"2,\">\n"
                      "<param name=years value=\"2004,\">\n"),
            std::string::npos);
}

}  // namespace

TEST_F(RowWriterTest, ProgramLabelsWithAmpersandsAndApostrophesStayAsTheyAre) {
  PageCapture page;
  html.percent_row("Direct Hits & Bookmarks", 1, 2);
  html.list_header("Visitor's Paths", "Visitors");
  std::string text = page.text();
  EXPECT_NE(text.find("Direct Hits & Bookmarks"), std::string::npos);
  EXPECT_NE(text.find("Visitor's Paths"), std::string::npos);
}
