#include "core/report_loader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "core/ad_campaigns.h"
#include "core/config.h"
#include "core/domains.h"
#include "core/errors.h"
#include "core/file_types.h"
#include "core/memory.h"
#include "core/pages.h"
#include "core/paths.h"
#include "core/program.h"
#include "core/tables.h"
#include "core/traffic.h"
#include "support/work_dir.h"

namespace {

using Counts = std::map<std::string, int>;

Counts counts_of(const siArr& table) {
  Counts counts;
  for (int32_t i = 0; i < table.keys.count; ++i) counts[table.keys.strings[i]] = table.data[i];
  return counts;
}

// One finished day as the parser holds it before it writes the day out.
struct ParserDay {
  Traffic traffic;
  Hst hst;
  Pgs pgs;
  Paths paths;
  Cds cds;
  Tps tps;
  Fls fls;
  Url url;

  ParserDay(int year, int month, int day, int visitors) {
    hst.set_name("HST");
    std::snprintf(pgs.tag, sizeof pgs.tag, "PGS");
    cds.set_name("CDS");
    std::snprintf(tps.tag, sizeof tps.tag, "TPS");
    fls.set_name("FLS");
    url.set_name("URL");
    traffic.first_date = DayDate{year, month, day};
    traffic.hits = visitors * 3;
    traffic.bytes = 4096.0 * visitors;
    traffic.average_visit_seconds = 60;
    traffic.hourly_visitors[9] = visitors;
    traffic.hourly_page_views[9] = visitors * 2;
  }

  // Two visitors' paths over pages of this day's table; the day's times follow.
  void add_paths(const char* first, const char* second) {
    int32_t a, b;
    bool is_page;
    ASSERT_EQ(pgs.add_view(first, &a, &is_page), 0);
    ASSERT_EQ(pgs.add_view(second, &b, &is_page), 0);
    ASSERT_EQ(paths.record_page_view(0, a, 9, 0, 0), 0);
    ASSERT_EQ(paths.record_page_view(0, b, 9, 0, 30), 0);
    ASSERT_EQ(paths.record_page_view(1, b, 9, 5, 0), 0);
    int average = 0;
    ASSERT_EQ(paths.close_day(&average, pgs), 0);
  }

  void write_tables(FILE* f, bool state_file) {
    hst.write(f);
    pgs.write(f);
    paths.write(f, state_file);
    cds.write(f);
    tps.write(f);
    fls.write(f);
    url.write(f);
  }

  // The day file and the summary record, as a day close leaves them.
  void close() {
    const DayDate& d = traffic.first_date;
    char name[64];
    std::snprintf(name, sizeof name, "data/%i%02i%02i.log", d.year, d.month, d.day);
    FILE* f = std::fopen(name, "w");
    write_tables(f, false);
    std::fclose(f);
    f = std::fopen("data/sts.log", "a");
    traffic.write(f);
    std::fclose(f);
  }

  // The state file of a run that ended inside this day.
  void save_state() {
    const DayDate& d = traffic.first_date;
    FILE* f = std::fopen("data/tmp.log", "w");
    std::fprintf(f, "DAT %i %i %i 10 20 30\n\nIPS\n0 3232235777\n\nREC\n", d.year, d.month, d.day);
    traffic.write(f);
    write_tables(f, true);
    std::fclose(f);
  }
};

// The report program's tables for one request.
struct Report {
  Traffic traffic;
  Dom countries;
  Hst hosts;
  Pgs pages;
  Paths paths;
  Cds codes;
  Tps types;
  Fls files;
  AdCampaigns campaigns;
  ReferringDomains domains;
  Url referrers;

  Report() {
    paths.depth.init();
    std::snprintf(campaigns.tag, sizeof campaigns.tag, "ACP");
  }

  int load(DayDate from, DayDate to) {
    return load_range(traffic, from, to, &countries, &hosts, &pages, &paths, &codes, &types, &files, &campaigns,
                      nullptr, &domains, &referrers);
  }
  int days() const { return traffic.daily.visitors.count; }
};

void write_file(const std::string& name, const std::string& text) {
  FILE* f = std::fopen(name.c_str(), "w");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

std::string record(int year, int month, int day, int visitors) {
  return "DAT " + std::to_string(year) + " " + std::to_string(month) + " " + std::to_string(day) +
         "\nTRF 10 60 5\nHRV " + std::to_string(visitors) +
         " 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\nHRP 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\nOPS\nBRW\n\n";
}

class ReportLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    select_program_build(ProgramBuild::report);
    std::filesystem::create_directory("data");
    saved_today_ = today;
    today.year = 2004;
    today.month = 3;
    today.day = 15;
  }
  void TearDown() override {
    for (auto& on : config.report_on) on = 1;
    today = saved_today_;
    fail_allocations_after(-1);
    select_program_build(ProgramBuild::parser);
  }
  void only(std::initializer_list<ReportKey> keys) {
    for (auto& on : config.report_on) on = 0;
    for (ReportKey key : keys) config.report_on[key] = 1;
  }

  WorkDir dir_;
  StartTime saved_today_;
};

// Two days closed by the parser's own writers and read back as one range.
TEST_F(ReportLoader, RangeSumsTheRecordsAndDayFilesOfItsDays) {
  ParserDay first(2004, 2, 28, 4);
  ASSERT_EQ(first.hst.add("example.co.uk", 3), 0);
  ASSERT_EQ(first.cds.add("200", 7), 0);
  ASSERT_EQ(first.fls.add("/a.zip", 2), 0);
  char gif[] = "/logo.gif";
  ASSERT_EQ(add_file_type(first.tps, gif, 3072.0), 0);
  ASSERT_EQ(first.url.add("http://www.search.com/q", 2), 0);
  first.add_paths("/index.html", "/b.html");
  first.close();
  ParserDay second(2004, 2, 29, 6);
  ASSERT_EQ(second.hst.add("example.co.uk", 1), 0);
  ASSERT_EQ(second.hst.add("isp.net", 5), 0);
  ASSERT_EQ(second.cds.add("404", 1), 0);
  char gif2[] = "/x.GIF";
  ASSERT_EQ(add_file_type(second.tps, gif2, 2048.0), 0);
  ASSERT_EQ(second.url.add("http://www.search.com/q", 1), 0);
  second.add_paths("/b.html", "/c.html");
  second.close();

  Report report;
  ASSERT_EQ(report.load({2004, 2, 28}, {2004, 2, 29}), 0);
  const Traffic& t = report.traffic;
  EXPECT_EQ(report.days(), 2);
  EXPECT_EQ(t.first_date.day, 28);
  EXPECT_EQ(t.last_date.day, 29);
  EXPECT_EQ(t.visitors, 10);
  EXPECT_EQ(t.page_views, 20);
  EXPECT_EQ(t.hits, 30);
  EXPECT_EQ(t.bytes, 40.0);  // kilobytes stay kilobytes
  EXPECT_EQ(t.average_visit_seconds, 120);
  EXPECT_EQ(counts_of(report.hosts), (Counts{{"example.co.uk", 4}, {"isp.net", 5}}));
  EXPECT_EQ(counts_of(report.codes), (Counts{{"200", 7}, {"404", 1}}));
  EXPECT_EQ(counts_of(report.files), (Counts{{"/a.zip", 2}}));
  ASSERT_EQ(report.types.amounts.keys.count, 1);
  EXPECT_EQ(report.types.requests.data[0], 2);
  EXPECT_EQ(report.types.amounts.values.data[0], 5.0);
  EXPECT_EQ(counts_of(report.pages.views), (Counts{{"/index.html", 1}, {"/b.html", 2}, {"/c.html", 1}}));
  EXPECT_EQ(counts_of(report.referrers), (Counts{{"http://www.search.com/q", 3}}));
  EXPECT_EQ(counts_of(report.domains), (Counts{{"search.com", 3}}));
  EXPECT_EQ(counts_of(report.countries.counts), (Counts{{"uk", 4}, {"net", 5}}));
}

// Records of the 1st, 3rd and 7th, with a day file each.
class FrameChoice : public ReportLoader {
 protected:
  void SetUp() override {
    ReportLoader::SetUp();
    for (int day : {1, 3, 7}) {
      ParserDay d(2004, 1, day, day);
      ASSERT_EQ(d.hst.add(("d" + std::to_string(day) + ".com").c_str(), 1), 0);
      d.close();
    }
  }
  Counts hosts_of(DayDate from, DayDate to, int* days, int* visitors) {
    Report report;
    EXPECT_EQ(report.load(from, to), 0);
    *days = report.days();
    *visitors = report.traffic.visitors;
    return counts_of(report.hosts);
  }
};

TEST_F(FrameChoice, OnlyTheDaysOfTheFrameLoad) {
  int days, visitors;
  EXPECT_EQ(hosts_of({2004, 1, 1}, {2004, 1, 5}, &days, &visitors), (Counts{{"d1.com", 1}, {"d3.com", 1}}));
  EXPECT_EQ(days, 2);
  EXPECT_EQ(visitors, 4);
  EXPECT_EQ(hosts_of({2004, 1, 2}, {2004, 1, 7}, &days, &visitors), (Counts{{"d3.com", 1}, {"d7.com", 1}}));
  EXPECT_EQ(visitors, 10);
  EXPECT_EQ(hosts_of({2004, 1, 3}, {2004, 1, 3}, &days, &visitors), (Counts{{"d3.com", 1}}));
  EXPECT_EQ(days, 1);
  // Between records, after the last one, and backwards: nothing.
  EXPECT_EQ(hosts_of({2004, 1, 4}, {2004, 1, 5}, &days, &visitors), Counts{});
  EXPECT_EQ(days, 0);
  EXPECT_EQ(hosts_of({2004, 1, 8}, {2004, 1, 31}, &days, &visitors), Counts{});
  EXPECT_EQ(visitors, 0);
  EXPECT_EQ(hosts_of({2004, 1, 7}, {2004, 1, 1}, &days, &visitors), Counts{});
  EXPECT_EQ(visitors, 0);
}

TEST_F(ReportLoader, FramesRunAcrossMonthsAndYears) {
  const int dates[][3] = {{2003, 11, 30}, {2003, 12, 31}, {2004, 1, 1}, {2004, 1, 31}, {2004, 2, 1}};
  for (int i = 0; i < 5; ++i) {
    ParserDay d(dates[i][0], dates[i][1], dates[i][2], 1 << i);
    ASSERT_EQ(d.cds.add("200", 1 << i), 0);
    d.close();
  }
  Report year_end;
  ASSERT_EQ(year_end.load({2003, 12, 1}, {2004, 1, 31}), 0);
  EXPECT_EQ(year_end.traffic.visitors, 2 + 4 + 8);
  EXPECT_EQ(counts_of(year_end.codes), (Counts{{"200", 14}}));
  EXPECT_EQ(year_end.traffic.first_date.year, 2003);
  EXPECT_EQ(year_end.traffic.last_date.month, 1);
  ASSERT_EQ(year_end.days(), 3);
  EXPECT_EQ(year_end.traffic.daily.years.data[0], 2003);
  EXPECT_EQ(year_end.traffic.daily.days.data[2], 31);

  Report month_ends;
  ASSERT_EQ(month_ends.load({2003, 11, 30}, {2004, 1, 1}), 0);
  EXPECT_EQ(month_ends.traffic.visitors, 1 + 2 + 4);
}

TEST_F(ReportLoader, TodayAloneReadsTheStateFileWhateverDayItHolds) {
  ParserDay closed(2004, 3, 14, 2);
  ASSERT_EQ(closed.hst.add("closed.com", 1), 0);
  closed.close();
  ParserDay open(2004, 3, 13, 5);  // a state left from an older day
  ASSERT_EQ(open.hst.add("open.com", 2), 0);
  ASSERT_EQ(open.url.add("news://comp.lang", 2), 0);
  char page[] = "/p.html";
  ASSERT_EQ(add_file_type(open.tps, page, 1024.0), 0);
  open.add_paths("/p.html", "/q.html");
  open.save_state();

  Report now;
  ASSERT_EQ(now.load({2004, 3, 15}, {2004, 3, 15}), 0);
  EXPECT_EQ(now.days(), 1);
  EXPECT_EQ(now.traffic.first_date.day, 13);
  EXPECT_EQ(now.traffic.visitors, 5);
  EXPECT_EQ(now.traffic.bytes, 20.0);
  EXPECT_EQ(counts_of(now.hosts), (Counts{{"open.com", 2}}));
  EXPECT_EQ(counts_of(now.pages.views), (Counts{{"/p.html", 1}, {"/q.html", 1}}));
  ASSERT_EQ(now.types.amounts.keys.count, 1);
  EXPECT_EQ(now.types.amounts.values.data[0], 1.0);  // kilobytes, as in the day files
  EXPECT_EQ(now.traffic.referrer_sources[SRC_NEWSGROUPS], 2);

  // A frame ending today but starting earlier reads the summary only.
  Report week;
  ASSERT_EQ(week.load({2004, 3, 9}, {2004, 3, 15}), 0);
  EXPECT_EQ(counts_of(week.hosts), (Counts{{"closed.com", 1}}));
  EXPECT_EQ(week.traffic.visitors, 2);
}

TEST_F(ReportLoader, MissingFiles) {
  Report none;
  EXPECT_EQ(none.load({2004, 1, 1}, {2004, 1, 31}), ERR_EDB);
  Report today_none;
  EXPECT_EQ(today_none.load({2004, 3, 15}, {2004, 3, 15}), ERR_EDB);

  // A record without its day file still counts its traffic.
  write_file("data/sts.log", record(2004, 1, 2, 7));
  Report day;
  ASSERT_EQ(day.load({2004, 1, 1}, {2004, 1, 31}), 0);
  EXPECT_EQ(day.traffic.visitors, 7);
  EXPECT_EQ(day.hosts.keys.count, 0);

  // A state file without its record loads nothing.
  write_file("data/tmp.log", "DAT 2004 3 15 1 2 3\n\nHST\n1 a.com\n\n");
  Report no_record;
  ASSERT_EQ(no_record.load({2004, 3, 15}, {2004, 3, 15}), 0);
  EXPECT_EQ(no_record.days(), 0);
  EXPECT_EQ(no_record.hosts.keys.count, 0);
}

TEST_F(ReportLoader, SummaryOnlyReadsNoDayFile) {
  ParserDay d(2004, 1, 2, 3);
  ASSERT_EQ(d.hst.add("a.com", 1), 0);
  d.close();
  Traffic traffic;
  ASSERT_EQ(load_range(traffic, {2004, 1, 1}, {2004, 1, 2}, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(traffic.visitors, 3);
  EXPECT_EQ(traffic.daily.visitors.count, 1);
  EXPECT_EQ(traffic.referrer_sources[SRC_WEB_SITES], 0);
}

// Referrer keys and what each counts toward.
class ReferrerSources : public ReportLoader {
 protected:
  void SetUp() override {
    ReportLoader::SetUp();
    ParserDay d(2004, 1, 2, 40);
    const std::pair<const char*, int> keys[] = {
        {"http://www.mail.example.com/inbox", 1},  // e-mail, domain without www.
        {"ftp://files.example.org/", 2},           // other web sites only
        {"news://comp.lang.c", 4},                 // newsgroups
        {"wtv-mail:/read", 8},                     // e-mail
        {"https://www.partner.com/ad?x=1", 16},    // ad campaign
        {"httpx", 32},                             // begins with http: its own host
    };
    for (auto& [key, count] : keys) ASSERT_EQ(d.url.add(key, count), 0);
    d.close();
    ASSERT_EQ(report_.campaigns.add("Spring"), 0);
    ASSERT_EQ(report_.campaigns.add_pattern("partner"), 0);
  }
  Report report_;
};

TEST_F(ReferrerSources, EachTotalFollowsItsOwnRule) {
  ASSERT_EQ(report_.load({2004, 1, 1}, {2004, 1, 2}), 0);
  const int32_t* s = report_.traffic.referrer_sources;
  EXPECT_EQ(s[SRC_NEWSGROUPS], 4);
  EXPECT_EQ(s[SRC_EMAIL], 1 + 8);
  EXPECT_EQ(s[SRC_AD_CAMPAIGNS], 16);
  EXPECT_EQ(s[SRC_SEARCH_ENGINES], 0);
  EXPECT_EQ(s[SRC_WEB_SITES], 63 - 4 - 9 - 16);
  EXPECT_EQ(counts_of(report_.campaigns.counters), (Counts{{"Spring", 16}}));
  EXPECT_EQ(counts_of(report_.domains), (Counts{{"mail.example.com", 1}, {"partner.com", 16}, {"httpx", 32}}));
  EXPECT_EQ(report_.referrers.keys.count, 6);
}

TEST_F(ReferrerSources, SwitchedOffReportsAreNotCounted) {
  only({RPT_ACP});  // referrers read for the campaigns, then emptied
  ASSERT_EQ(report_.load({2004, 1, 1}, {2004, 1, 2}), 0);
  EXPECT_EQ(report_.traffic.referrer_sources[SRC_AD_CAMPAIGNS], 16);
  EXPECT_EQ(report_.domains.keys.count, 0);
  EXPECT_EQ(report_.referrers.keys.count, 0);

  Report none;
  only({RPT_HST, RPT_CDS});
  ASSERT_EQ(none.load({2004, 1, 1}, {2004, 1, 2}), 0);
  for (int32_t total : none.traffic.referrer_sources) EXPECT_EQ(total, 0);
  EXPECT_EQ(none.referrers.keys.count, 0);
}

TEST_F(ReportLoader, SwitchesDecideWhichSectionsAreRead) {
  ParserDay d(2004, 1, 2, 1);
  ASSERT_EQ(d.hst.add("a.co.uk", 1), 0);
  ASSERT_EQ(d.cds.add("200", 1), 0);
  ASSERT_EQ(d.fls.add("/f", 1), 0);
  d.add_paths("/x", "/y");
  d.close();

  only({RPT_DEP});  // the pages are read for the path pages
  Report depth;
  ASSERT_EQ(depth.load({2004, 1, 2}, {2004, 1, 2}), 0);
  EXPECT_EQ(depth.pages.views.keys.count, 2);
  EXPECT_EQ(depth.hosts.keys.count + depth.codes.keys.count + depth.files.keys.count, 0);

  only({RPT_DOM});  // hosts read for the countries, then emptied
  Report countries;
  ASSERT_EQ(countries.load({2004, 1, 2}, {2004, 1, 2}), 0);
  EXPECT_EQ(counts_of(countries.countries.counts), (Counts{{"uk", 1}}));
  EXPECT_EQ(countries.hosts.keys.count, 0);
  EXPECT_EQ(countries.pages.views.keys.count, 0);

  only({RPT_LRF});
  Report least;
  ASSERT_EQ(least.load({2004, 1, 2}, {2004, 1, 2}), 0);
  EXPECT_EQ(counts_of(least.files), (Counts{{"/f", 1}}));
  EXPECT_EQ(least.countries.counts.keys.count, 0);
}

TEST_F(ReportLoader, DamagedFilesLoadWhatTheyCan) {
  std::string long_key(20000, 'k');
  write_file("data/sts.log",
             "\n\nTRF 1 1 1\nHRV 100\n\n"                    // a record without its date
             + record(2004, 1, 2, 1) + "\n\n" + record(2004, 1, 3, 2) +  // stray empty lines
             "DAT 2004 1 1\nTRF 5 5 5\n\n"                   // out of order: before the frame
             + "DAT 2004 1 4 " + long_key + "\nHRV 4\n\n" +   // an over-long date line
             "DAT 2004 1 5\nHRV 8");                          // cut off at the end
  write_file("data/20040102.log", "HST\n2147483647 a.com\n-5 " + long_key + "\n\n\nCDS\n1 200\n\nXYZ\n1 b\n\n");
  write_file("data/20040103.log", "HST\n2147483647 a.com\n1\n\nFLS\n" + long_key + "\n\nURL\n7 http://x.com/\n");
  write_file("data/20040104.log", "HST\n1 c.com");
  Report report;
  ASSERT_EQ(report.load({2004, 1, 2}, {2004, 1, 31}), 0);
  EXPECT_EQ(report.days(), 3);
  EXPECT_EQ(report.traffic.visitors, 1 + 2 + 4 + 8);  // the cut record adds its numbers, no day
  EXPECT_EQ(report.traffic.last_date.day, 5);
  // The over-long line is one line, cut to the report program's buffer.
  EXPECT_EQ(counts_of(report.hosts),
            (Counts{{"a.com", INT32_MAX}, {std::string(10239 - 3, 'k'), -5}, {"", 1}, {"c.com", 1}}));
  EXPECT_EQ(counts_of(report.codes), (Counts{{"200", 1}}));
  EXPECT_EQ(counts_of(report.files), (Counts{{"", 0}}));
  EXPECT_EQ(counts_of(report.referrers), (Counts{{"http://x.com/", 7}}));
}

TEST_F(ReportLoader, HostileDatesNameNoFileOutsideTheirBounds) {
  write_file("data/sts.log", "DAT 2147483647 -2147483648 99999\nHRV 1\n\n");
  Report report;
  ASSERT_EQ(report.load({0, 0, 0}, {2147483647, 12, 31}), 0);
  EXPECT_EQ(report.days(), 1);
  EXPECT_EQ(report.traffic.last_date.month, INT32_MIN);
}

TEST_F(ReportLoader, SaturatingTotals) {
  write_file("data/sts.log", record(2004, 1, 2, 1) + record(2004, 1, 3, 1));
  write_file("data/20040102.log", "URL\n2147483647 ftp://a\n-2147483648 news://n\n5 ftp://b\n\n");
  write_file("data/20040103.log", "URL\n2147483647 ftp://a\n\n");
  Report report;
  ASSERT_EQ(report.load({2004, 1, 1}, {2004, 1, 3}), 0);
  EXPECT_EQ(counts_of(report.referrers), (Counts{{"ftp://a", INT32_MAX}, {"news://n", INT32_MIN}, {"ftp://b", 5}}));
  const int32_t* s = report.traffic.referrer_sources;
  EXPECT_EQ(s[SRC_NEWSGROUPS], INT32_MIN);
  EXPECT_EQ(s[SRC_WEB_SITES], INT32_MAX);  // 4 less the newsgroups' minimum, held in range
}

TEST_F(ReportLoader, OutOfMemoryIsReportedAtEveryStep) {
  ParserDay d(2004, 1, 2, 2);
  ASSERT_EQ(d.hst.add("a.co.uk", 1), 0);
  ASSERT_EQ(d.url.add("http://www.a.com/", 1), 0);
  ASSERT_EQ(d.cds.add("200", 1), 0);
  d.add_paths("/x", "/y");
  d.close();
  ParserDay e(2004, 1, 3, 2);
  e.close();
  int failures = 0;
  for (int successes = 0; successes < 200; ++successes) {
    Report report;
    fail_allocations_after(successes);
    int status = report.load({2004, 1, 1}, {2004, 1, 3});
    fail_allocations_after(-1);
    if (status == 0) break;
    EXPECT_EQ(status, ERR_MEM) << successes;
    ++failures;
  }
  EXPECT_GT(failures, 5);
  EXPECT_LT(failures, 200);
}

}  // namespace
