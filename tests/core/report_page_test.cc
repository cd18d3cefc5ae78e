// The report page: traffic sections byte for byte, the section order and switches.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "core/ad_campaigns.h"
#include "core/config.h"
#include "core/domains.h"
#include "core/file_types.h"
#include "core/memory.h"
#include "core/pages.h"
#include "core/path_reports.h"
#include "core/report_page.h"
#include "core/search_engines.h"
#include "core/tables.h"
#include "support/page_settings.h"
#include "support/temp_files.h"
#include "support/work_dir.h"

namespace {

const std::string kSectionOpen =
    "<table border=0 cellspacing=1 cellpadding=2 bgcolor=#a7a7a7 width=610>\n<tr bgcolor=#dfd8df><td>\n"
    "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=604>\n";
const std::string kClose = "</table>\n</td></tr>\n</table>\n<br>\n";
const std::string kSpacer3 = "<tr><td colspan=3 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n";
const std::string kSpacer4 = "<tr><td colspan=4 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n";

std::string cells(const std::string& first, const char* count, const char* percent) {
  return "<tr class=dat align=right>" + first + "</td><td>" + count + "</td><td>" + percent + "</td></tr>\n";
}
std::string row(int n, const char* label, const char* count, const char* percent) {
  return cells("<td>" + std::to_string(n) + "</td><td align=left>" + label, count, percent);
}
std::string source(const char* label, const char* count, const char* percent) {
  return cells(std::string("<td align=left>") + label, count, percent) + kSpacer3;
}
template <typename F>
std::string captured(F write) {
  PageCapture page;
  write();
  return page.text();
}

class ReportPageTest : public ::testing::Test {
 protected:
  // Every report and chart on with 10 rows in the test; the process's own settings after it.
  void SetUp() override {
    swap_settings();
    select_program_build(ProgramBuild::report);
  }
  void TearDown() override {
    swap_settings();
    select_program_build(ProgramBuild::parser);
    fail_allocations_after(-1);
  }
  void swap_settings() {
    std::swap(config.report_on, defaults_.report_on);
    std::swap(config.chart_on, defaults_.chart_on);
    std::swap(config.row_limits, defaults_.row_limits);
  }
  // A frame of `days` days from March 1, 2004.
  void frame(int days, int visitors, int page_views) {
    traffic.visitors = visitors;
    traffic.page_views = page_views;
    traffic.first_date = {2004, 3, 1};
    traffic.last_date = {2004, 3, days};
    for (int d = 1; d <= days; ++d) ASSERT_EQ(traffic.daily.append({2004, 3, d}, d * 2, d * 5), 0);
  }
  Config defaults_;
  PageSettings settings{"/q/", ""};
  Traffic traffic;
};

TEST_F(ReportPageTest, SummaryOfThreeDays) {
  frame(3, 10, 25);
  traffic.average_visit_seconds = 301;  // sum of the daily averages
  const int32_t sources[kReferrerSourceCount] = {2, 3, 1, 1, 1};
  std::memcpy(traffic.referrer_sources, sources, sizeof sources);
  const std::string inner = "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=604>\n";
  const std::string totals =
      title_bar("Stats for March 1, 2004 - March 3, 2004 (3 days)", "HDR") + kSectionOpen + "<tr><td>\n" + inner +
      "<tr class=dat align=right><td align=left width=100%>Unique Visitors (average / total)</td>"
      "<td>3</td><td>10</td></tr>\n" + kSpacer3 +
      "<tr class=dat align=right><td align=left width=100%>Page Views (average / total)</td>"
      "<td>8</td><td>25</td></tr>\n" + kSpacer3 +
      "<tr class=dat align=right><td align=left>Avg. Visit Time per Visitor</td><td colspan=2>01:40"
      "</td></tr>\n" + kSpacer3 +
      "<tr class=dat align=right><td align=left>Avg. Page Views per Visitor</td><td colspan=2>2.50"
      "</td></tr>\n</table>\n";
  const std::string sources_box =
      inner +
      "<tr bgcolor=#a7a7a7 align=right><td class=lbl align=left width=100%>Visitors From:</td>"
      "<td class=lbl>Visitors</td><td class=lbl nowrap>% of all</td></tr>\n" +
      source("Ad Campaigns and Partners", "1", "10.0") + source("Direct Hits & Bookmarks", "2", "20.0") +
      source("Top 50 Search Engines", "3", "30.0") + source("Other Web Sites", "2", "20.0") +
      source("Newsgroups", "1", "10.0") + cells("<td align=left>E-Mails", "1", "10.0") + "</table>\n";
  EXPECT_EQ(captured([&] { print_summary(traffic); }), totals + sources_box + "</td></tr>\n" + kClose);
  // Without the referrers read (the short summary) the sources box is left out.
  EXPECT_EQ(captured([&] { print_summary(traffic, false); }), totals + "</td></tr>\n" + kClose);
}

TEST_F(ReportPageTest, OneDayAndDamagedRecords) {
  EXPECT_EQ(captured([&] { print_summary(traffic); }), "");  // no visitors
  frame(1, 1000000, 1234567);
  std::string page = captured([&] { print_summary(traffic); print_daily(traffic); });
  EXPECT_EQ(page.find(title_bar("Stats for March 1, 2004", "HDR")), 0u);
  EXPECT_NE(page.find(">Unique Visitors </td><td></td><td>1,000,000</td>"), std::string::npos);
  EXPECT_NE(page.find("<td colspan=2>1.23</td>"), std::string::npos);
  EXPECT_EQ(page.find("Daily Statistics"), std::string::npos);

  // No complete day block, a month that does not exist, source totals whose rest
  // leaves the int range.
  traffic.daily.clear();
  traffic.first_date.month = 13;
  traffic.average_visit_seconds = 3725;
  traffic.referrer_sources[SRC_WEB_SITES] = INT32_MIN;
  page = captured([&] { print_summary(traffic); });
  EXPECT_EQ(page.find(title_bar("Stats for Unknown 1, 2004", "HDR")), 0u);
  EXPECT_NE(page.find("<td colspan=2>1:02:05</td>"), std::string::npos);
  EXPECT_NE(page.find(">Direct Hits & Bookmarks</td><td>2,147,483,647</td>"), std::string::npos);
}

TEST_F(ReportPageTest, OperatingSystemsTopFiveOfSevenWithGroupPie) {
  traffic.visitors = 24;
  for (auto [os, count] : {std::pair{27, 9}, {3, 5}, {17, 5}, {20, 2}, {0, 1}, {10, 1}, {25, 1}}) {
    traffic.os[os] = count;
  }
  config.row_limits[RPT_OPS] = 5;
  EXPECT_EQ(captured([&] { print_operating_systems(traffic); }),
            title_bar("Operating Systems (top 5 of 7)", "OPS") + captured([] {
              html.list_header("Operating System:", "Visitors");
            }) + row(1, "Windows XP", "9", "37.5") + kSpacer4 + row(2, "Windows 98", "5", "20.8") + kSpacer4 +
                row(3, "Linux", "5", "20.8") + kSpacer4 + row(4, "Macintosh", "2", "8.3") + kSpacer4 +
                row(5, "Unknown OS", "1", "4.2") + kSpacer4 + "</table>\n" +
                "<applet codebase=/q/appl code=Corvilande.class width=604 height=150>\n"
                "<param name=type value=\"pie\">\n<param name=background value=\"223,216,223\">\n"
                "<param name=labelcolor value=\"0,0,0\">\n<param name=visitors value=\"14,6,2,1,1,\">\n"
                "<param name=labels value=\"Windows Based,Unix Based,Macintosh,WebTV,Unknown OS,\">\n"
                "</applet></td></tr>\n</table>\n<br>\n");

  // Out of memory: no ranking gives the box after the title; no slice order drops the pie.
  fail_allocations_after(0);
  EXPECT_EQ(captured([&] { print_operating_systems(traffic); }),
            title_bar("Operating Systems (top 5 of 7)", "OPS") + captured([] { html.out_of_memory(); }));
  fail_allocations_after(1);
  std::string page = captured([&] { print_operating_systems(traffic); });
  EXPECT_NE(page.find(row(5, "Unknown OS", "1", "4.2") + kSpacer4 + kClose), std::string::npos);
  EXPECT_EQ(page.find("<applet"), std::string::npos);
}

TEST_F(ReportPageTest, BrowserRowsAndTies) {
  traffic.visitors = 0;  // shares of no visitors show 0.0
  traffic.aol[6] = traffic.netscape[3] = traffic.msie[5] = traffic.other_browsers[BRW_UNKNOWN] = 3;
  traffic.netscape[9] = 7;
  traffic.other_browsers[BRW_WEBTV] = 1;
  config.chart_on[CHT_BRW] = 0;
  EXPECT_EQ(captured([&] { print_browsers(traffic); }),
            title_bar("Browser Types", "BRW") + captured([] { html.list_header("Browser Type:", "Visitors"); }) +
                row(1, "Netscape Navigator 10.x", "7", "0.0") + kSpacer4 +
                row(2, "Internet Explorer 6.x", "3", "0.0") + kSpacer4 +
                row(3, "Netscape Navigator 4.x", "3", "0.0") + kSpacer4 + row(4, "America Online 7.x", "3", "0.0") +
                kSpacer4 + row(5, "Unknown Browser", "3", "0.0") + kSpacer4 + row(6, "WebTV Browser", "1", "0.0") +
                kClose);
}

// The visitor and file texts of the whole page's tables.
struct PageTexts {
  const char* host = "host.example.co.uk";
  const char* file = "/logo.gif";
  const char* campaign = "Spring";
  const char* referrer = "http://finder.example/s?q=blue";
  const char* domain = "finder.example";
  const char* pages_and_paths = "65 2 /a\n0 1 /b\n\n2 0 1\n1 1\n\n";
  const char* engines = "Finder | finder. q=\n";
  // Definition files; without them countries, codes and types show no names.
  const char* country_names = nullptr;
  const char* code_names = nullptr;
  const char* type_names = nullptr;
};

// Every table of a report with entries: 4 visitors, 8 page views, 16 hits and 32.9
// kilobytes, so the first row's share tells which total a section divides by.
class WholePageTest : public ReportPageTest {
 protected:
  void SetUp() override {
    ReportPageTest::SetUp();
    frame(2, 4, 8);
    traffic.hits = 16;
    traffic.bytes = 32.9;
    traffic.os[17] = traffic.msie[5] = 2;
    std::strcpy(countries.tag, "DMN");
    std::strcpy(pages.tag, "PGS");
    std::strcpy(types.tag, "TPS");
    std::strcpy(campaigns.tag, "ACP");
    hosts.set_name("HST");
    codes.set_name("CDS");
    files.set_name("FLS");
    referrers.set_name("URL");
    if (texts.country_names) work.write("dat_dom.cfg", texts.country_names);
    if (texts.code_names) work.write("dat_cds.cfg", texts.code_names);
    if (texts.type_names) work.write("dat_tps.cfg", texts.type_names);
    ASSERT_EQ((texts.country_names ? countries.load_country_names() : 0) | (texts.code_names ? codes.load() : 0) |
                  (texts.type_names ? types.load() : 0),
              0);
    char file_name[] = "logo.gif";
    ASSERT_EQ(countries.counts.add("uk", 2) | hosts.add(texts.host, 2) | codes.add("200", 2) |
                  add_file_type(types, file_name, 2.0) | files.add(texts.file, 2) |
                  campaigns.counters.add(texts.campaign, 2) | referrers.add(texts.referrer, 2) |
                  domains.add(texts.domain, 2),
              0);
    paths.depth.init();
    FILE* day = file_with(texts.pages_and_paths);  // pages, then paths
    intArr line_map;
    ASSERT_EQ(pages.read(day, line_map) | paths.read_paths(day, line_map), 0);
    std::fclose(day);
    ASSERT_EQ(collect_paths(paths) | depth_count(paths.depth, &paths.root, -1), 0);
    work.write("dat_eng.cfg", texts.engines);
    int32_t search_total = 0;
    ASSERT_EQ(engines.load() | classify_search_referrers(engines, referrers, search_total), 0);
  }
  std::string page() {
    return captured([&] {
      EXPECT_EQ(print_reports(traffic, countries, hosts, pages, paths, codes, types, files, campaigns, engines,
                              domains, referrers), 0);
    });
  }
  PageTexts texts;
  WorkDir work;
  Dom countries;
  Hst hosts;
  Pgs pages;
  Paths paths;
  Cds codes;
  Tps types;
  Fls files;
  AdCampaigns campaigns;
  Eng engines;
  ReferringDomains domains;
  Url referrers;
};

struct Section {
  const char* title;
  ReportKey key;      // REPORT_KEY_COUNT: not a switched report
  const char* labels; // the header's key and value labels
  const char* share;  // of the first row
};
const Section kSections[] = {
    {"Stats for March 1, 2004 - March 2, 2004 (2 days)", REPORT_KEY_COUNT, nullptr, nullptr},
    {"Daily Statistics", REPORT_KEY_COUNT, nullptr, nullptr},
    {"Hourly Statistics", REPORT_KEY_COUNT, nullptr, nullptr},
    {"Operating Systems", RPT_OPS, ">Operating System:</td><td class=lbl>Visitors<", "50.0"},
    {"Browser Types", RPT_BRW, ">Browser Type:</td><td class=lbl>Visitors<", "50.0"},
    {"Visiting Countries", RPT_DOM, ">Country:</td><td class=lbl>Visitors<", "50.0"},
    {"Visiting Hosts", RPT_HST, ">Host:</td><td class=lbl>Visitors<", "50.0"},
    {"Most Requested Pages", RPT_MRP, ">Page:</td><td class=lbl>Time</td><td class=lbl>Views<", "25.0"},
    {"Least Requested Pages", RPT_LRP, ">Page:</td><td class=lbl>Time</td><td class=lbl>Views<", "12.5"},
    {"Entry Pages", RPT_ENP, ">Page:</td><td class=lbl>Views<", "50.0"},
    {"Exit Pages", RPT_EXP, ">Page:</td><td class=lbl>Views<", "75.0"},
    {"Single View Pages", RPT_SVP, ">Page:</td><td class=lbl>Visitors<", "25.0"},
    {"Visitor's Paths", RPT_PTH, ">Path:</td><td class=lbl>Visitors<", "50.0"},
    {"Visit Depth", RPT_DEP, ">Level:</td><td class=lbl>Visitors<", "100.0"},
    {"Status Codes", RPT_CDS, ">Code:</td><td class=lbl>Requests<", "12.5"},
    {"File Types", RPT_TPS, ">Type:</td><td class=lbl>Requests</td><td class=lbl>Kbytes<", "6.2"},
    {"Most Requested Files", RPT_MRF, ">File:</td><td class=lbl>Requests<", "12.5"},
    {"Least Requested Files", RPT_LRF, ">File:</td><td class=lbl>Requests<", "12.5"},
    {"Ad Campaigns", RPT_ACP, ">Name:</td><td class=lbl>Visitors<", "50.0"},
    {"Search Engines", RPT_ENG, ">Search Engine</td><td class=lbl>Visitors<", "50.0"},
    {"Search Queries", RPT_SQR, ">Key Phrase:</td><td class=lbl>Visitors<", "50.0"},
    {"Search Engine Queries", RPT_SEQ, ">Key Phrase</td><td class=lbl>Visitors<", "50.0"},
    {"Referring Domains", RPT_REF, ">Domain:</td><td class=lbl>Visitors<", "50.0"},
    {"Referring URLs", RPT_URL, ">Url:</td><td class=lbl>Visitors<", "50.0"},
};

// The section texts in page order, each from its title bar up to the next one.
std::vector<std::pair<std::string, std::string>> sections_of(const std::string& page) {
  const std::string bar = "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#efefef width=610>\n<tr><td colspan";
  const std::string cell = "<td width=532 align=center class=ttl>";
  std::vector<std::pair<std::string, std::string>> found;
  for (std::size_t at = page.find(bar); at != std::string::npos;) {
    std::size_t next = page.find(bar, at + 1);
    std::size_t title = page.find(cell, at) + cell.size();
    found.push_back({page.substr(title, page.find("</td>", title) - title), page.substr(at, next - at)});
    at = next;
  }
  return found;
}
std::vector<std::string> titles_of(const std::string& page) {
  std::vector<std::string> titles;
  for (auto& section : sections_of(page)) titles.push_back(section.first);
  return titles;
}

TEST_F(WholePageTest, SectionsInOrderWithLabelsTotalsAndOneBreakEach) {
  std::string text = page();
  std::string footer = captured([] { html.page_footer(); });
  EXPECT_EQ(text.find(captured([] { html.page_head(); html.report_selector("efefef", 610); }) +
                      title_bar(kSections[0].title, "HDR")), 0u);
  ASSERT_EQ(text.substr(text.size() - footer.size()), footer);
  auto found = sections_of(text.substr(0, text.size() - footer.size()));
  ASSERT_EQ(found.size(), std::size(kSections));
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Section& expected = kSections[i];
    const std::string& body = found[i].second;
    EXPECT_EQ(found[i].first, expected.title);
    EXPECT_EQ(body.substr(body.size() - 10).find("<br>\n"), 5u) << expected.title;  // one, not two
    if (!expected.labels) continue;
    EXPECT_NE(body.find(expected.labels), std::string::npos) << expected.title;
    EXPECT_NE(body.find(std::string("<td>") + expected.share + "</td></tr>\n"), std::string::npos) << expected.title;
  }
}

TEST_F(WholePageTest, SwitchesAndEmptyTables) {
  for (const Section& off : kSections) {
    if (off.key == REPORT_KEY_COUNT) continue;
    std::vector<std::string> expected;
    for (const Section& section : kSections) {
      if (&section != &off) expected.push_back(section.title);
    }
    config.report_on[off.key] = 0;
    EXPECT_EQ(titles_of(page()), expected) << off.title;
    config.report_on[off.key] = 1;
  }
  // Empty hosts, pages, files, domains and URLs leave no trace, not even a break.
  hosts.clear();
  pages.clear();
  files.clear();
  domains.clear();
  referrers.clear();
  std::string text = page();
  EXPECT_EQ(titles_of(text).size(), std::size(kSections) - 7);
  EXPECT_EQ(text.find("<br>\n<br>\n"), std::string::npos);

  config.chart_on[CHT_DAY] = config.chart_on[CHT_HRS] = 0;
  std::memset(config.report_on, 0, sizeof config.report_on);
  EXPECT_EQ(titles_of(page()), std::vector<std::string>{kSections[0].title});
}

// Visitor and file texts holding "&copy" and "&amp;": each is written with its "&"
// escaped once, so a browser shows the text as it was; the program's labels stay.
class EscapedTextsTest : public WholePageTest {
 protected:
  EscapedTextsTest() {
    texts.host = "h&copy.example.co.uk";
    texts.file = "/logo.gif?a=1&copy=2";
    texts.campaign = "Spring &copy Sale";
    texts.referrer = "http://finder.example/s&copy?q=a+%26amp%3B+b";  // the phrase "a &amp; b"
    texts.domain = "finder&copy.example";
    texts.pages_and_paths = "65 2 /shop?id=1&copy=2\n0 1 /b&amp;c\n\n2 0 1\n1 1\n\n";
    texts.engines = "Finder &copy | finder. q=\n";
    texts.country_names = "uk United &amp; Kingdom\n";
    texts.code_names = "200 OK &copy\n";
    texts.type_names = "gif GIF &amp; images\n";
  }
};

TEST_F(EscapedTextsTest, AmpersandsOfVisitorAndFileTextsAreEscapedOnce) {
  const std::pair<const char*, const char*> kExpected[] = {
      {"Visiting Countries", ">.uk&nbsp; United &amp;amp; Kingdom</td>"},
      {"Visiting Hosts", ">h&amp;copy.example.co.uk</td>"},
      {"Most Requested Pages", ">/shop?id=1&amp;copy=2</td>"},
      {"Least Requested Pages", ">/b&amp;amp;c</td>"},
      {"Entry Pages", ">/shop?id=1&amp;copy=2</td>"},
      {"Exit Pages", ">/b&amp;amp;c</td>"},
      {"Single View Pages", ">/b&amp;amp;c</td>"},
      {"Visitor's Paths", ">/shop?id=1&amp;copy=2 <img src=/q/imgs/a.gif align=absbottom> /b&amp;amp;c</td>"},
      {"Status Codes", ">200 OK &amp;copy</td>"},
      {"File Types", ">.gif GIF &amp;amp; images</td>"},
      {"Most Requested Files", ">/logo.gif?a=1&amp;copy=2</td>"},
      {"Ad Campaigns", ">Spring &amp;copy Sale</td>"},
      {"Search Engines", ">Finder &amp;copy</td>"},
      {"Search Queries", ">a &amp;amp; b</td>"},
      {"Search Engine Queries", "<span class=ttl>Finder &amp;copy</span></td>"},
      {"Search Engine Queries", "<td>&nbsp;</td><td align=left>a &amp;amp; b</td>"},
      {"Referring Domains", ">www.finder&amp;copy.example</a></td>"},
      {"Referring URLs", ">finder.example/s&amp;copy</a></td>"},
      // Visitors' addresses open with no hold on the report's window.
      {"Referring Domains", "<a target=r0 rel=\"noopener noreferrer\" href=\"http://www.finder&amp;copy.example\">"},
      {"Referring URLs",
       " target=u0 rel=\"noopener noreferrer\" href=\"http://finder.example/s&amp;copy?q=a+%26amp%3B+b\">"},
  };
  std::string text = page();
  auto sections = sections_of(text);
  for (const auto& [title, expected] : kExpected) {
    bool found = false;
    for (const auto& [section, body] : sections) {
      found = found || (section == title && body.find(expected) != std::string::npos);
    }
    EXPECT_TRUE(found) << title << ": " << expected;
  }
  // Nowhere raw, nowhere escaped twice: links and pie labels are attribute-escaped.
  EXPECT_EQ(text.find("&copy"), std::string::npos);
  EXPECT_EQ(text.find("&amp;amp;amp;"), std::string::npos);
  EXPECT_NE(text.find(">Direct Hits & Bookmarks</td>"), std::string::npos);
  EXPECT_NE(text.find("class=ttl>Visitor's Paths</td>"), std::string::npos);
}

TEST_F(WholePageTest, FrameWithoutVisitors) {
  traffic.visitors = 0;
  EXPECT_EQ(page(), captured([] {
              html.page_head();
              html.report_selector("efefef", 610);
            }) + kSectionOpen + "<tr><td>\n<center><br>No Visitors.<br><br></center>\n</td></tr>\n" + kClose +
                captured([] { html.page_footer(); }));
}

}  // namespace
