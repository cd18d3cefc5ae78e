// The traffic sections of the report page, byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/program.h"
#include "core/report_page.h"
#include "core/traffic.h"
#include "support/capture.h"
#include "support/page_settings.h"

namespace {

const std::string kSectionOpen =
    "<table border=0 cellspacing=1 cellpadding=2 bgcolor=#a7a7a7 width=610>\n"
    "<tr bgcolor=#dfd8df><td>\n"
    "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=604>\n";
const std::string kSectionClose = "</table>\n</td></tr>\n</table>\n";
const std::string kInnerTable = "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=604>\n";
const std::string kSpacer3 = "<tr><td colspan=3 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n";
const std::string kSpacer4 = "<tr><td colspan=4 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n";
const std::string kAppletHead =
    "<applet codebase=/q/appl code=Corvilande.class width=604 height=150>\n"
    "<param name=type value=\"%\">\n"
    "<param name=background value=\"223,216,223\">\n"
    "<param name=labelcolor value=\"0,0,0\">\n";

std::string applet_head(const char* type) {
  std::string head = kAppletHead;
  return head.replace(head.find('%'), 1, type);
}

std::string list_header(const char* key) {
  return kSectionOpen +
         "<tr bgcolor=#a7a7a7 align=right><td class=lbl align=center>#</td>"
         "<td class=lbl align=left width=100%>" + key + "</td><td class=lbl>Visitors</td>"
         "<td class=lbl nowrap>% of all</td></tr>\n";
}

std::string row(int position, const char* label, const char* count, const char* percent) {
  return "<tr class=dat align=right><td>" + std::to_string(position) + "</td><td align=left>" + label +
         "</td><td>" + count + "</td><td>" + percent + "</td></tr>\n";
}

std::string percent_row(const char* label, const char* count, const char* percent) {
  return std::string("<tr class=dat align=right><td align=left>") + label + "</td><td>" + count + "</td><td>" +
         percent + "</td></tr>\n";
}

class TrafficSectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memcpy(saved_on_, config.report_on, sizeof saved_on_);
    std::memcpy(saved_charts_, config.chart_on, sizeof saved_charts_);
    std::memcpy(saved_limits_, config.row_limits, sizeof saved_limits_);
    select_program_build(ProgramBuild::report);
  }
  void TearDown() override {
    std::memcpy(config.report_on, saved_on_, sizeof saved_on_);
    std::memcpy(config.chart_on, saved_charts_, sizeof saved_charts_);
    std::memcpy(config.row_limits, saved_limits_, sizeof saved_limits_);
    select_program_build(ProgramBuild::parser);
    fail_allocations_after(-1);
  }

  // A frame of `days` days from March 1, 2004.
  void frame(int days, int visitors, int page_views) {
    traffic.visitors = visitors;
    traffic.page_views = page_views;
    traffic.first_date = {2004, 3, 1};
    traffic.last_date = {2004, 3, days};
    for (int d = 1; d <= days; ++d) ASSERT_EQ(traffic.daily.append({2004, 3, d}, d * 2, d * 5), 0);
  }

  PageSettings settings{"/q/", ""};
  Traffic traffic;

 private:
  uint8_t saved_on_[REPORT_KEY_COUNT];
  uint8_t saved_charts_[CHART_KEY_COUNT];
  int saved_limits_[REPORT_KEY_COUNT];
};

template <typename F>
std::string captured(F write) {
  PageCapture page;
  write();
  return page.text();
}

TEST_F(TrafficSectionTest, SummaryOfThreeDays) {
  frame(3, 10, 25);
  traffic.average_visit_seconds = 301;  // sum of three daily averages
  int32_t* sources = traffic.referrer_sources;
  sources[SRC_WEB_SITES] = 2;
  sources[SRC_SEARCH_ENGINES] = 3;
  sources[SRC_NEWSGROUPS] = 1;
  sources[SRC_EMAIL] = 1;
  sources[SRC_AD_CAMPAIGNS] = 1;
  std::string expected =
      title_bar("Stats for March 1, 2004 - March 3, 2004 (3 days)", "HDR") + kSectionOpen + "<tr><td>\n" +
      kInnerTable +
      "<tr class=dat align=right><td align=left width=100%>Unique Visitors (average / total)</td>"
      "<td>3</td><td>10</td></tr>\n" + kSpacer3 +
      "<tr class=dat align=right><td align=left width=100%>Page Views (average / total)</td>"
      "<td>8</td><td>25</td></tr>\n" + kSpacer3 +
      "<tr class=dat align=right><td align=left>Avg. Visit Time per Visitor</td><td colspan=2>01:40</td></tr>\n" +
      kSpacer3 +
      "<tr class=dat align=right><td align=left>Avg. Page Views per Visitor</td><td colspan=2>2.50</td></tr>\n"
      "</table>\n" + kInnerTable +
      "<tr bgcolor=#a7a7a7 align=right><td class=lbl align=left width=100%>Visitors From:</td>"
      "<td class=lbl>Visitors</td><td class=lbl nowrap>% of all</td></tr>\n" +
      percent_row("Ad Campaigns and Partners", "1", "10.0") + kSpacer3 +
      percent_row("Direct Hits & Bookmarks", "2", "20.0") + kSpacer3 +
      percent_row("Top 50 Search Engines", "3", "30.0") + kSpacer3 +
      percent_row("Other Web Sites", "2", "20.0") + kSpacer3 + percent_row("Newsgroups", "1", "10.0") +
      kSpacer3 + percent_row("E-Mails", "1", "10.0") + "</table>\n</td></tr>\n" + kSectionClose + "<br>\n";
  EXPECT_EQ(captured([&] { print_summary(traffic); }), expected);
}

TEST_F(TrafficSectionTest, SummaryOfOneDayHasNoAveragesAndNoDailyGraph) {
  frame(1, 1000000, 1234567);
  config.chart_on[CHT_DAY] = 1;
  std::string page = captured([&] {
    print_summary(traffic);
    print_daily(traffic);
  });
  EXPECT_EQ(page.find(title_bar("Stats for March 1, 2004", "HDR")), 0u);
  EXPECT_NE(page.find("<td align=left width=100%>Unique Visitors </td><td></td><td>1,000,000</td>"),
            std::string::npos);
  EXPECT_NE(page.find("<td align=left width=100%>Page Views </td><td></td><td>1,234,567</td>"), std::string::npos);
  EXPECT_NE(page.find("<td colspan=2>1.23</td>"), std::string::npos);
  EXPECT_EQ(page.find("(average / total)"), std::string::npos);
  EXPECT_EQ(page.find("Daily Statistics"), std::string::npos);
  EXPECT_EQ(page.find("<applet"), std::string::npos);
}

TEST_F(TrafficSectionTest, SummaryOfDamagedRecords) {
  // No visitors: nothing at all.
  EXPECT_EQ(captured([&] { print_summary(traffic); }), "");

  // Visitors without a complete day block, a month that does not exist, and
  // source totals that leave more than the int range for the direct hits.
  traffic.visitors = 5;
  traffic.page_views = 7;
  traffic.average_visit_seconds = 3725;
  traffic.first_date = {2004, 13, 5};
  traffic.referrer_sources[SRC_WEB_SITES] = INT32_MIN;
  std::string page = captured([&] { print_summary(traffic); });
  EXPECT_EQ(page.find(title_bar("Stats for Unknown 5, 2004", "HDR")), 0u);
  EXPECT_NE(page.find("<td colspan=2>1:02:05</td>"), std::string::npos);
  EXPECT_NE(page.find(percent_row("Direct Hits & Bookmarks", "2,147,483,647", "42949672940.0")),
            std::string::npos);
}

TEST_F(TrafficSectionTest, DailyAndHourlyGraphs) {
  frame(2, 6, 15);
  traffic.hourly_visitors[0] = 1;
  traffic.hourly_visitors[23] = 5;
  traffic.hourly_page_views[12] = 15;
  config.chart_on[CHT_DAY] = 1;
  config.chart_on[CHT_HRS] = 1;
  const std::string bar_colours =
      "<param name=fbcolor value=\"250,205,0\">\n<param name=fhcolor value=\"240,0,0\">\n"
      "<param name=bbcolor value=\"0,100,205\">\n<param name=bhcolor value=\"200,0,0\">\n";
  EXPECT_EQ(captured([&] { print_daily(traffic); }),
            title_bar("Daily Statistics", "DAY") + kSectionOpen + "<tr><td>\n" + applet_head("bar") + bar_colours +
                "<param name=visitors value=\"2,4,\">\n<param name=hits value=\"5,10,\">\n"
                "<param name=days value=\"1,2,\">\n<param name=months value=\"3,3,\">\n"
                "<param name=years value=\"2004,2004,\">\n</applet></td></tr>\n" +
                kSectionClose + "<br>\n");
  EXPECT_EQ(captured([&] { print_hourly(traffic); }),
            title_bar("Hourly Statistics", "HRS") + kSectionOpen + "<tr><td>\n" + applet_head("bar") + bar_colours +
                "<param name=visitors value=\"1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5,\">\n"
                "<param name=hits value=\"0,0,0,0,0,0,0,0,0,0,0,0,15,0,0,0,0,0,0,0,0,0,0,0,\">\n"
                "<param name=autolabel value=\"hours\">\n</applet></td></tr>\n" +
                kSectionClose + "<br>\n");

  config.chart_on[CHT_DAY] = 0;
  config.chart_on[CHT_HRS] = 0;
  EXPECT_EQ(captured([&] {
              print_daily(traffic);
              print_hourly(traffic);
            }),
            "");
}

// Seven systems in five groups, 24 visitors.
void seven_systems(Traffic& traffic) {
  traffic.visitors = 24;
  traffic.os[OS_WINDOWS_XP] = 9;
  traffic.os[3] = 5;   // Windows 98
  traffic.os[17] = 5;  // Linux
  traffic.os[20] = 2;  // Macintosh
  traffic.os[OS_UNKNOWN] = 1;
  traffic.os[10] = 1;  // FreeBSD
  traffic.os[25] = 1;  // WebTV
}

TEST_F(TrafficSectionTest, OperatingSystemsTopFiveOfSevenWithGroupPie) {
  seven_systems(traffic);
  config.row_limits[RPT_OPS] = 5;
  config.chart_on[CHT_OPS] = 1;
  std::string rows = row(1, "Windows XP", "9", "37.5") + kSpacer4 + row(2, "Windows 98", "5", "20.8") + kSpacer4 +
                     row(3, "Linux", "5", "20.8") + kSpacer4 + row(4, "Macintosh", "2", "8.3") + kSpacer4 +
                     row(5, "Unknown OS", "1", "4.2");
  EXPECT_EQ(captured([&] { print_operating_systems(traffic); }),
            title_bar("Operating Systems (top 5 of 7)", "OPS") + list_header("Operating System:") + rows +
                kSpacer4 + "</table>\n" + applet_head("pie") +
                "<param name=visitors value=\"14,6,2,1,1,\">\n"
                "<param name=labels value=\"Windows Based,Unix Based,Macintosh,WebTV,Unknown OS,\">\n"
                "</applet></td></tr>\n</table>\n<br>\n");

  // Without the chart: no closing spacer, no pie; a total of 0 shows 0.0.
  config.chart_on[CHT_OPS] = 0;
  config.row_limits[RPT_OPS] = 10;
  traffic.visitors = 0;
  std::string page = captured([&] { print_operating_systems(traffic); });
  EXPECT_EQ(page.find(title_bar("Operating Systems", "OPS")), 0u);
  EXPECT_NE(page.find(row(7, "WebTV", "1", "0.0") + "</table>\n</td></tr>\n</table>\n<br>\n"), std::string::npos);
  EXPECT_EQ(page.find("<applet"), std::string::npos);

  // Nothing seen: nothing written.
  Traffic empty;
  EXPECT_EQ(captured([&] { print_operating_systems(empty); }), "");
}

TEST_F(TrafficSectionTest, BrowsersByFamilyAndVersion) {
  traffic.visitors = 16;
  traffic.msie[5] = 3;
  traffic.netscape[3] = 3;
  traffic.aol[6] = 3;
  traffic.other_browsers[BRW_UNKNOWN] = 3;
  traffic.other_browsers[BRW_OPERA] = 2;
  traffic.msie[4] = 1;
  traffic.other_browsers[BRW_WEBTV] = 1;
  config.chart_on[CHT_BRW] = 1;
  // Equal counts: MSIE, Netscape, AOL, then the other kinds.
  std::string rows = row(1, "Internet Explorer 6.x", "3", "18.8") + kSpacer4 +
                     row(2, "Netscape Navigator 4.x", "3", "18.8") + kSpacer4 +
                     row(3, "America Online 7.x", "3", "18.8") + kSpacer4 + row(4, "Unknown Browser", "3", "18.8") +
                     kSpacer4 + row(5, "Opera Browser", "2", "12.5") + kSpacer4 +
                     row(6, "Internet Explorer 5.x", "1", "6.2") + kSpacer4 + row(7, "WebTV Browser", "1", "6.2");
  EXPECT_EQ(captured([&] { print_browsers(traffic); }),
            title_bar("Browser Types", "BRW") + list_header("Browser Type:") + rows + kSpacer4 + "</table>\n" +
                applet_head("pie") + "<param name=visitors value=\"4,3,3,3,2,1,\">\n"
                "<param name=labels value=\"Internet Explorer,Netscape Navigator,America Online,Unknown Browser,"
                "Opera Browser,WebTV Browser,\">\n</applet></td></tr>\n</table>\n<br>\n");

  config.row_limits[RPT_BRW] = 2;
  config.chart_on[CHT_BRW] = 0;
  traffic.netscape[9] = 7;
  EXPECT_EQ(captured([&] { print_browsers(traffic); }),
            title_bar("Browser Types (top 2 of 8)", "BRW") + list_header("Browser Type:") +
                row(1, "Netscape Navigator 10.x", "7", "43.8") + kSpacer4 +
                row(2, "Internet Explorer 6.x", "3", "18.8") + "</table>\n</td></tr>\n</table>\n<br>\n");
}

TEST_F(TrafficSectionTest, OutOfMemory) {
  seven_systems(traffic);
  config.chart_on[CHT_OPS] = 1;
  // No ranking: the title bar, then the out-of-memory box instead of the list.
  std::string box = captured([] { html.out_of_memory(); });
  fail_allocations_after(0);
  EXPECT_EQ(captured([&] { print_operating_systems(traffic); }), title_bar("Operating Systems", "OPS") + box);
  // No slice order: the list without its pie.
  fail_allocations_after(1);
  std::string page = captured([&] { print_operating_systems(traffic); });
  fail_allocations_after(-1);
  EXPECT_NE(page.find(row(7, "WebTV", "1", "4.2") + kSpacer4 + "</table>\n</td></tr>\n</table>\n<br>\n"),
            std::string::npos);
  EXPECT_EQ(page.find("<applet"), std::string::npos);
}

TEST(DisplayNames, FixedNumbering) {
  EXPECT_STREQ(kOsNames[OS_UNKNOWN], "Unknown OS");
  EXPECT_STREQ(kOsNames[OS_WINDOWS_XP], "Windows XP");
  EXPECT_EQ(kOsGroups[OS_WINDOWS_XP], 0);
  EXPECT_STREQ(kOsNames[19], "Unknown Unix");
  EXPECT_EQ(kOsGroups[19], 1);
  EXPECT_STREQ(kOsGroupNames[kOsGroups[26]], "Sega Dreamcast");
  EXPECT_STREQ(kOsGroupNames[kOsGroups[OS_UNKNOWN]], "Unknown OS");
  for (int k = 0; k < kOsCount; ++k) EXPECT_TRUE(kOsGroups[k] >= 0 && kOsGroups[k] < kOsGroupCount) << k;
  EXPECT_STREQ(kBrowserNames[kBrowserFamilyCount + BRW_COMPATIBLE], "Netscape Compatible");
  EXPECT_STREQ(kBrowserNames[kBrowserFamilyCount + BRW_WEBTV], "WebTV Browser");
}

}  // namespace
