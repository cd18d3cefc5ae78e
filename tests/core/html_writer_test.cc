// Page frame and forms of the page writer, compared byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/config.h"
#include "core/html_writer.h"
#include "core/text.h"
#include "support/capture.h"

namespace {

// Sets the writer, configuration and start time a page depends on, and puts
// them back afterwards.
class PageWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_today_ = today;
    saved_prefix_ = html.prefix;
    saved_attribute_ = html.row_attribute;
    saved_highlighting_ = config.row_highlighting;
    std::memcpy(saved_password_, config.password, sizeof saved_password_);
    html.prefix = "/q/";
    html.row_attribute = kRowHighlightAttribute;
    config.row_highlighting = 1;
    std::strcpy(config.password, "secret");
    today = StartTime{};
    today.year = 2004;
    today.month = 3;
    today.day = 7;
    today.hour = 9;
    today.minute = 5;
  }
  void TearDown() override {
    today = saved_today_;
    html.prefix = saved_prefix_;
    html.row_attribute = saved_attribute_;
    config.row_highlighting = saved_highlighting_;
    std::memcpy(config.password, saved_password_, sizeof saved_password_);
  }

 private:
  StartTime saved_today_;
  const char* saved_prefix_ = nullptr;
  const char* saved_attribute_ = nullptr;
  uint8_t saved_highlighting_ = 1;
  char saved_password_[sizeof config.password];
};

const std::string kHeadStart =
    "<html>\n<head>\n<script language=javascript>\n//<!--\n";
const std::string kBgc =
    "function bgc(el, idx)\n{ bg = ['#d1cbd1', '#dfd8df']; el.bgColor = bg[idx]; }\n";
const std::string kHeadRest =
    "function help(arg)\n"
    "{ window.open('/q/help.html#' + arg, 'help', "
    "'width=600,height=450,resizable=0,status=1,scrollbars=1'); }\n"
    "function progress()\n"
    "{ window.open('', 'progress', 'width=400,height=200,resizable=0,status=0,scrollbars=0'); }\n"
    "//-->\n</script>\n"
    "<link rel=stylesheet type=text/css href=/q/styles.css>\n"
    "<title>Quillmoray v3.3 - Fast and comprehensive analysis of your web site traffic.</title>\n"
    "</head>\n"
    "<body bgcolor=#efefef text=#000000 link=#0000ff vlink=#0000b4>\n"
    "<a name=top></a>\n<center>\n";

std::string title_bar(const std::string& title, const std::string& code) {
  return "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#efefef width=610>\n"
         "<tr><td colspan=5><img src=/q/imgs/t_t.gif width=610 height=4></td></tr>\n"
         "<tr bgcolor=#ffd400 valign=center>\n"
         "<td width=1 bgcolor=#c09700><img src=/q/imgs/i.gif width=1 height=17></td>\n"
         "<td width=38><img src=/q/imgs/i.gif width=38 height=17></td>\n"
         "<td width=532 align=center class=ttl>" +
         title +
         "</td>\n"
         "<td width=38><a href=\"javascript:help('" +
         code +
         "')\" onMouseOver=\"window.status='Help';return true\" "
         "onMouseOut=\"window.status='';return true\"><img src=/q/imgs/i_h.gif alt=help "
         "width=19 height=17 border=0></a>"
         "<a href=#top onMouseOver=\"window.status='Top';return true\" "
         "onMouseOut=\"window.status='';return true\"><img src=/q/imgs/i_t.gif alt=top "
         "width=19 height=17 border=0></a></td>\n"
         "<td width=1 bgcolor=#c09700><img src=/q/imgs/i.gif width=1 height=17></td>\n</tr>\n"
         "<tr><td colspan=5><img src=/q/imgs/t_b.gif width=610 height=4></td></tr>\n"
         "</table>\n";
}

const std::string kSectionOpen =
    "<table border=0 cellspacing=1 cellpadding=2 bgcolor=#a7a7a7 width=610>\n"
    "<tr bgcolor=#dfd8df><td>\n"
    "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=604>\n";
const std::string kSectionClose = "</table>\n</td></tr>\n</table>\n";

const std::string kFooter =
    "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#efefef width=610>\n"
    "<tr><td class=ftr width=100%>Generated on 03/07/2004 @ 9:05 by "
    "<a href=http://www.quillmoray.example>Quillmoray v3.3</a><br>\n</td>\n"
    "<td width=88><a href=http://www.quillmoray.example><img src=/q/imgs/31x88.gif "
    "alt=\"Quillmoray - web statistics\" border=0 height=31 width=88></a></td></tr>\n"
    "</table>\n<br>\n</center>\n</body>\n</html>\n";

std::string months(int selected) {
  const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::string out;
  for (int m = 1; m <= 12; ++m) {
    out += "<option value=" + std::to_string(m) + (m == selected ? " selected" : "") + ">" +
           names[m - 1];
  }
  return out;
}

std::string numbers(int from, int to, int selected) {
  std::string out;
  for (int v = from; v <= to; ++v) {
    out += "<option value=" + std::to_string(v) + (v == selected ? " selected" : "") + ">" +
           std::to_string(v);
  }
  return out;
}

std::string start_pickers(int last_year) {
  return "<select class=clr name=ms><option value=0 selected>M" + months(0) + "\n</select>" +
         "<select class=clr name=ds><option value=0 selected>D" + numbers(1, 31, 0) +
         "\n</select>" + "<select class=clr name=ys><option value=0 selected>Y" +
         numbers(2000, last_year, 0) + "\n</select>" + " <tt>-</tt> ";
}

std::string end_pickers(int month, int last_year, int year) {
  return "<select class=clr name=me>" + months(month) + "\n</select>" +
         "<select class=clr name=de>" + numbers(1, 31, 0) + "\n</select>" +
         "<select class=clr name=ye>" + numbers(2000, last_year, year) + "\n</select>";
}

std::string selector(const std::string& colour, int width, const std::string& pass_attr,
                     const std::string& pickers) {
  return "<table border=0 cellspacing=0 cellpadding=1 bgcolor=#" + colour +
         " width=" + std::to_string(width) + ">\n" +
         "<tr valign=top>\n<td>"
         "<form action=report.cgi method=post>\n"
         "<input type=hidden name=pass value=\"" +
         pass_attr +
         "\">\n"
         "<select class=clr name=type>\n"
         "<option value=cday>Current Day<option value=pday>Previous Day"
         "<option value=cweek>Current Week<option value=pweek>Previous Week"
         "<option value=cmonth>Current Month<option value=pmonth>Previous Month"
         "<option value=cyear>Current Year<option value=pyear>Previous Year"
         "<option value=ssumm>Short Summary<option value=lsumm>Long Summary"
         "</select> <input type=image src=/q/imgs/go.gif width=32 height=20 border=0 "
         "align=absbottom></form><p></p></td>\n"
         "<td align=right><form action=report.cgi method=post>\n"
         "<input type=hidden name=pass value=\"" +
         pass_attr +
         "\">\n"
         "<input type=hidden name=type value=custom>\n" +
         pickers +
         " <input type=image src=/q/imgs/go.gif width=32 height=20 border=0 "
         "align=absbottom></form></td>\n</tr>\n"
         "</table>\n";
}

TEST_F(PageWriterTest, PageHeadCarriesTheHighlightScriptOnlyWhenHighlightingIsOn) {
  {
    PageCapture page;
    html.page_head();
    EXPECT_EQ(page.text(), kHeadStart + kBgc + kHeadRest);
  }
  config.row_highlighting = 0;
  PageCapture page;
  html.page_head();
  EXPECT_EQ(page.text(), kHeadStart + kHeadRest);
}

TEST_F(PageWriterTest, EmptyPrefixMakesStaticUrlsRelative) {
  html.prefix = "";
  PageCapture page;
  html.page_head();
  html.spacer_row(4);
  std::string text = page.text();
  EXPECT_NE(text.find("href=styles.css>"), std::string::npos);
  EXPECT_NE(text.find("window.open('help.html#' + arg"), std::string::npos);
  EXPECT_NE(text.find("<img src=imgs/i.gif>"), std::string::npos);
}

TEST_F(PageWriterTest, FooterShowsTheStartTime) {
  PageCapture page;
  html.page_footer();
  EXPECT_EQ(page.text(), kFooter);
}

TEST_F(PageWriterTest, FooterPadsMonthDayAndMinuteButNotTheHour) {
  today.month = 12;
  today.day = 31;
  today.year = 2011;
  today.hour = 23;
  today.minute = 0;
  PageCapture page;
  html.page_footer();
  EXPECT_NE(page.text().find("Generated on 12/31/2011 @ 23:00 by "), std::string::npos);
}

TEST_F(PageWriterTest, SectionFrame) {
  PageCapture page;
  html.section_title("Visiting Hosts (top 10 of 12)", "HST");
  html.section_open();
  html.section_close();
  html.line_break();
  EXPECT_EQ(page.text(), title_bar("Visiting Hosts (top 10 of 12)", "HST") + kSectionOpen +
                             kSectionClose + "<br>\n");
}

TEST_F(PageWriterTest, TablesAndOptions) {
  PageCapture page;
  html.table_open(2, 0, "dfd8df", 300);
  html.option_int(7, false);
  html.option_int(8, true);
  html.option_text(3, "Mar", true);
  html.option_text(4, "Apr", false);
  html.option_value("cday", "Current Day");
  html.table_close();
  EXPECT_EQ(page.text(),
            "<table border=0 cellspacing=2 cellpadding=0 bgcolor=#dfd8df width=300>\n"
            "<option value=7>7<option value=8 selected>8"
            "<option value=3 selected>Mar<option value=4>Apr"
            "<option value=cday>Current Day"
            "</table>\n");
}

TEST_F(PageWriterTest, OutOfMemoryBox) {
  PageCapture page;
  html.out_of_memory();
  EXPECT_EQ(page.text(), kSectionOpen +
                             "<tr><td>\n<center><br>Not enough memory to generate this report - "
                             "try again or contact administrator.<br><br></center>\n</td></tr>\n" +
                             kSectionClose + "<br>\n");
}

TEST_F(PageWriterTest, LinkLegend) {
  PageCapture page;
  html.link_legend();
  EXPECT_EQ(page.text(),
            "<table border=0 cellspacing=0 cellpadding=5 bgcolor=#efefef width=610>\n"
            "<tr align=center><td>\n"
            "<img src=/q/imgs/c_r.gif width=8 height=8 border=1 align=absmiddle> cgi "
            "generated&nbsp;\n"
            "<img src=/q/imgs/c_p.gif width=8 height=8 border=1 align=absmiddle> e-mail "
            "messages&nbsp;\n"
            "<img src=/q/imgs/c_g.gif width=8 height=8 border=1 align=absmiddle> "
            "newsgroups&nbsp;\n"
            "<img src=/q/imgs/c_b.gif width=8 height=8 border=1 align=absmiddle> regular links\n"
            "</td></tr>\n</table>\n");
}

std::string written_pickers(char which) {
  PageCapture page;
  html.date_pickers(which);
  return page.text();
}

// The start lists begin with the unset value 0, selected; the end lists preselect
// today's month and year but not the day; no year is preselected before 2000.
TEST_F(PageWriterTest, DatePickersOfferTheYears2000To2010AtLeast) {
  today.year = 2008;
  EXPECT_EQ(written_pickers('s'), start_pickers(2010));
  EXPECT_EQ(written_pickers('e'), end_pickers(3, 2010, 2008));
  today.year = 1999;
  EXPECT_EQ(written_pickers('e'), end_pickers(3, 2010, 0));
}

TEST_F(PageWriterTest, DatePickersRunToTheCurrentYear) {
  today.year = 2024;
  today.month = 11;
  EXPECT_EQ(written_pickers('e'), end_pickers(11, 2024, 2024));
  EXPECT_EQ(written_pickers('s'), start_pickers(2024));
}

TEST_F(PageWriterTest, ReportSelector) {
  PageCapture page;
  html.report_selector("efefef", 610);
  EXPECT_EQ(page.text(),
            selector("efefef", 610, "secret", start_pickers(2010) + end_pickers(3, 2010, 2004)));
}

TEST_F(PageWriterTest, PasswordWithQuotesPostsBackUnchanged) {
  std::strcpy(config.password, "a\"b'<&>");
  PageCapture page;
  html.report_selector("efefef", 610);
  EXPECT_EQ(page.text(), selector("efefef", 610, "a&quot;b&#39;&lt;&amp;&gt;",
                                  start_pickers(2010) + end_pickers(3, 2010, 2004)));
}

TEST_F(PageWriterTest, StartPage) {
  config.row_highlighting = 0;
  PageCapture page;
  html.start_page();
  std::string expected =
      kHeadStart + kHeadRest + title_bar("Generating HTML Reports", "GNR") + kSectionOpen +
      "<tr>\n<td>\n"
      "<p class=menu>There are two ways to generate reports with Quillmoray. First, you can "
      "select a predefined\n"
      "report from the drop down menu located below on the left side. Second, you can specify "
      "a custom\n"
      "time frame using drop down menus located below on the right side. To get a report for "
      "one\n"
      "particular day, just enter it as an ending date and leave starting date as is "
      "(M/D/Y).</p>\n"
      "<p class=menu><u>Note</u>: Before generating HTML reports you will need to instruct "
      "Quillmoray to parse\n"
      "your server log file.</p>\n"
      "<center>\n" +
      selector("dfd8df", 594, "secret", start_pickers(2010) + end_pickers(3, 2010, 2004)) +
      "</center>\n</td>\n</tr>\n" + kSectionClose + "<br>\n" +
      title_bar("Parsing Server Log File", "PRS") + kSectionOpen +
      "<tr>\n<td>\n"
      "<p class=menu>To parse a server log file just press the button below. After the parsing "
      "is finished you may generate various HTML\n"
      "reports. For info on automating log file parsing \n"
      "<a href=\"javascript:help('PRS')\" onMouseOver=\"window.status='Help';return true\" "
      "onMouseOut=\"window.status='';return true\"><b>click here</b></a>.</p>\n"
      "<p class=menu><u>Note</u>: Before parsing the log file you will need to <a "
      "href=config.cgi target=config>\n"
      "<b>configure Quillmoray</b></a> and set your preferences.</p>\n"
      "<center><form action=report.cgi method=post target=progress onSubmit=\"progress()\">\n"
      "<input type=hidden name=pass value=\"secret\">\n"
      "<input type=hidden name=type value=\"parse\">\n"
      "<input type=image src=/q/imgs/parse.gif width=97 height=20 border=0>\n"
      "</form></center>\n"
      "</td>\n</tr>\n" +
      kSectionClose + "<br>\n" + kFooter;
  EXPECT_EQ(page.text(), expected);
}

TEST_F(PageWriterTest, HostileTitleIsEscaped) {
  PageCapture page;
  html.section_title("<script>x</script>", "HST");
  EXPECT_EQ(page.text(), title_bar("&lt;script&gt;x&lt;/script&gt;", "HST"));
}

}  // namespace
