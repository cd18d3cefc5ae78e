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
#include "core/search_engines.h"
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

void write_file(const std::string& name, const std::string& text) {
  FILE* f = std::fopen(name.c_str(), "w");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

std::string record(int year, int month, int day, int visitors) {
  return "DAT " + std::to_string(year) + " " + std::to_string(month) + " " + std::to_string(day) +
         "\nTRF 10 60 5\nHRV " + std::to_string(visitors) + "\n\n";
}

// One day as the parser holds it, written out with the parser's own writers.
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
    std::snprintf(hst.tag, 4, "HST"), std::snprintf(pgs.tag, 4, "PGS"), std::snprintf(cds.tag, 4, "CDS");
    std::snprintf(tps.tag, 4, "TPS"), std::snprintf(fls.tag, 4, "FLS"), std::snprintf(url.tag, 4, "URL");
    traffic.first_date = DayDate{year, month, day};
    traffic.hits = 3 * visitors;
    traffic.bytes = 4096.0 * visitors;
    traffic.hourly_visitors[9] = visitors;
  }
  // Visitor 0 views `first` then `second`, visitor 1 `second` alone.
  void add_paths(const char* first, const char* second) {
    int32_t a, b;
    bool is_page;
    int average;
    ASSERT_EQ(pgs.add_view(first, &a, &is_page) | pgs.add_view(second, &b, &is_page), 0);
    ASSERT_EQ(paths.record_page_view(0, a, 9, 0, 0) | paths.record_page_view(0, b, 9, 0, 30), 0);
    ASSERT_EQ(paths.record_page_view(1, b, 9, 5, 0) | paths.close_day(&average, pgs), 0);
  }
  void tables(FILE* f, bool state_file) {
    hst.write(f), pgs.write(f), paths.write(f, state_file), cds.write(f), tps.write(f), fls.write(f), url.write(f);
  }
  void close() {  // the day file and the summary record
    char name[64];
    std::snprintf(name, sizeof name, "data/%i%02i%02i.log", traffic.first_date.year, traffic.first_date.month,
                  traffic.first_date.day);
    FILE* f = std::fopen(name, "w");
    tables(f, false);
    std::fclose(f);
    f = std::fopen("data/sts.log", "a");
    traffic.write(f);
    std::fclose(f);
  }
  void save_state() {  // the state file of a run that ended inside this day
    FILE* f = std::fopen("data/tmp.log", "w");
    std::fprintf(f, "DAT %i %i %i 10 20 30\n\nIPS\n0 3232235777\n\nREC\n", traffic.first_date.year,
                 traffic.first_date.month, traffic.first_date.day);
    traffic.write(f);
    tables(f, true);
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
  Eng engines;
  ReferringDomains domains;
  Url referrers;

  Report() { paths.depth.init(); }
  int load(DayDate from, DayDate to) {
    return load_range(traffic, from, to, &countries, &hosts, &pages, &paths, &codes, &types, &files, &campaigns,
                      &engines, &domains, &referrers);
  }
  int days() const { return traffic.daily.visitors.count; }
};

class ReportLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    select_program_build(ProgramBuild::report);
    std::filesystem::create_directory("data");
    saved_today_ = today;
    today.year = 2004, today.month = 3, today.day = 15;
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

TEST_F(ReportLoader, RangeSumsTheRecordsAndDayFilesOfItsDays) {
  ParserDay first(2004, 2, 28, 4), second(2004, 2, 29, 6);
  char gif[] = "/logo.gif", gif2[] = "/x.GIF";
  ASSERT_EQ(first.hst.add("example.co.uk", 3) | first.cds.add("200", 7) | first.fls.add("/a.zip", 2) |
                add_file_type(first.tps, gif, 3072.0) | first.url.add("http://www.search.com/q", 2),
            0);
  ASSERT_EQ(second.hst.add("example.co.uk", 1) | second.hst.add("isp.net", 5) | second.cds.add("404", 1) |
                add_file_type(second.tps, gif2, 2048.0) | second.url.add("http://www.search.com/q", 1),
            0);
  first.add_paths("/index.html", "/b.html");
  second.add_paths("/b.html", "/c.html");
  first.close();
  second.close();

  Report r;
  ASSERT_EQ(r.load({2004, 2, 28}, {2004, 2, 29}), 0);
  EXPECT_EQ(r.days(), 2);
  EXPECT_EQ(r.traffic.first_date.day * 100 + r.traffic.last_date.day, 2829);
  EXPECT_EQ(r.traffic.visitors, 10);
  EXPECT_EQ(r.traffic.hits, 30);
  EXPECT_EQ(r.traffic.bytes, 40.0);  // kilobytes stay kilobytes
  EXPECT_EQ(counts_of(r.hosts), (Counts{{"example.co.uk", 4}, {"isp.net", 5}}));
  EXPECT_EQ(counts_of(r.codes), (Counts{{"200", 7}, {"404", 1}}));
  EXPECT_EQ(counts_of(r.files), (Counts{{"/a.zip", 2}}));
  ASSERT_EQ(r.types.amounts.keys.count, 1);
  EXPECT_EQ(r.types.requests.data[0] * 100 + r.types.amounts.values.data[0], 205);
  EXPECT_EQ(counts_of(r.pages.views), (Counts{{"/index.html", 1}, {"/b.html", 2}, {"/c.html", 1}}));
  EXPECT_EQ(counts_of(r.referrers), (Counts{{"http://www.search.com/q", 3}}));
  EXPECT_EQ(counts_of(r.domains), (Counts{{"search.com", 3}}));
  EXPECT_EQ(counts_of(r.countries.counts), (Counts{{"uk", 4}, {"net", 5}}));
  // Paths index>b, b, b>c, c: the same page numbers across both days' files.
  EXPECT_EQ(r.paths.endpoints.count, 4);
  EXPECT_EQ(r.paths.single_view_pages.count, 2);
  ASSERT_EQ(r.paths.depth.counts.count, 1);  // 1 and 2 pages share a bucket of 2
  EXPECT_EQ(r.paths.depth.counts.data[0], 4);
}

TEST_F(ReportLoader, OnlyTheDaysOfTheFrameLoad) {
  const int dates[][3] = {{2003, 12, 31}, {2004, 1, 1}, {2004, 1, 3}, {2004, 1, 7}};
  for (auto& d : dates) {
    ParserDay day(d[0], d[1], d[2], d[2]);
    ASSERT_EQ(day.hst.add(("d" + std::to_string(d[2]) + ".com").c_str(), 1), 0);
    day.close();
  }
  auto hosts_of = [](DayDate from, DayDate to) {
    Report r;
    EXPECT_EQ(r.load(from, to), 0);
    EXPECT_EQ(r.days(), static_cast<int>(r.hosts.keys.count));
    return counts_of(r.hosts);
  };
  EXPECT_EQ(hosts_of({2004, 1, 1}, {2004, 1, 5}), (Counts{{"d1.com", 1}, {"d3.com", 1}}));
  EXPECT_EQ(hosts_of({2004, 1, 2}, {2004, 1, 7}), (Counts{{"d3.com", 1}, {"d7.com", 1}}));
  EXPECT_EQ(hosts_of({2003, 12, 1}, {2004, 1, 1}), (Counts{{"d31.com", 1}, {"d1.com", 1}}));
  EXPECT_EQ(hosts_of({2004, 1, 4}, {2004, 1, 5}), Counts{});   // between records
  EXPECT_EQ(hosts_of({2004, 1, 8}, {2004, 1, 31}), Counts{});  // after the last
  EXPECT_EQ(hosts_of({2004, 1, 7}, {2004, 1, 1}), Counts{});   // entered backwards
}

TEST_F(ReportLoader, TodayAloneReadsTheStateFileWhateverDayItHolds) {
  ParserDay closed(2004, 3, 14, 2), open(2004, 3, 13, 5);
  ASSERT_EQ(closed.hst.add("closed.com", 1) | open.hst.add("open.com", 2) | open.url.add("news://c.l", 2), 0);
  char page[] = "/p.html";
  ASSERT_EQ(add_file_type(open.tps, page, 1024.0), 0);
  open.add_paths("/p.html", "/q.html");
  closed.close();
  open.save_state();

  Report now;
  ASSERT_EQ(now.load({2004, 3, 15}, {2004, 3, 15}), 0);
  EXPECT_EQ(now.days(), 1);
  EXPECT_EQ(now.traffic.first_date.day, 13);
  EXPECT_EQ(now.traffic.visitors, 5);
  EXPECT_EQ(now.traffic.bytes, 20.0);
  EXPECT_EQ(counts_of(now.hosts), (Counts{{"open.com", 2}}));
  EXPECT_EQ(counts_of(now.pages.views), (Counts{{"/p.html", 1}, {"/q.html", 1}}));
  EXPECT_EQ(now.paths.endpoints.count, 2);
  EXPECT_EQ(now.types.amounts.values.data[0], 1.0);  // kilobytes, as in the day files
  EXPECT_EQ(now.traffic.referrer_sources[SRC_NEWSGROUPS], 2);

  Report week;  // ends today, starts earlier: the summary only
  ASSERT_EQ(week.load({2004, 3, 9}, {2004, 3, 15}), 0);
  EXPECT_EQ(counts_of(week.hosts), (Counts{{"closed.com", 1}}));
}

TEST_F(ReportLoader, MissingFilesAndTheSummaryOnlyFrame) {
  EXPECT_EQ(Report().load({2004, 1, 1}, {2004, 1, 31}), ERR_EDB);
  EXPECT_EQ(Report().load({2004, 3, 15}, {2004, 3, 15}), ERR_EDB);

  write_file("data/sts.log", record(2004, 1, 2, 7));  // no day file: the traffic still counts
  Report day;
  ASSERT_EQ(day.load({2004, 1, 1}, {2004, 1, 31}), 0);
  EXPECT_EQ(day.traffic.visitors, 7);

  write_file("data/20040102.log", "HST\n1 a.com\n\n");
  Traffic traffic;  // no tables: no day file is read
  ASSERT_EQ(load_range(traffic, {2004, 1, 1}, {2004, 1, 2}, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(traffic.daily.visitors.count, 1);

  write_file("data/tmp.log", "DAT 2004 3 15 1 2 3\n\nHST\n1 a.com\n\n");  // no "REC": nothing
  Report no_record;
  ASSERT_EQ(no_record.load({2004, 3, 15}, {2004, 3, 15}), 0);
  EXPECT_EQ(no_record.days() + no_record.hosts.keys.count, 0);
}

TEST_F(ReportLoader, ReferrerSourcesFollowTheirOwnRulesAndSwitches) {
  write_file("dat_eng.cfg", "Engine A | enginea. q=\n");
  ParserDay d(2004, 1, 2, 40);
  ASSERT_EQ(d.url.add("http://search.enginea.com/search?hl=en&q=Blue+Widgets&x=1", 64) |
                d.url.add("http://www.mail.example.com/inbox", 1) | d.url.add("ftp://files.example.org/", 2) |
                d.url.add("news://comp.lang.c", 4) | d.url.add("wtv-mail:/read", 8) |
                d.url.add("https://www.partner.com/ad?x=1", 16) | d.url.add("httpx", 32),
            0);
  d.close();
  Report r;
  ASSERT_EQ(r.campaigns.add("Spring") | r.campaigns.add_pattern("partner") | r.engines.load(), 0);
  ASSERT_EQ(r.load({2004, 1, 1}, {2004, 1, 2}), 0);
  const int32_t* s = r.traffic.referrer_sources;
  EXPECT_EQ(s[SRC_NEWSGROUPS], 4);
  EXPECT_EQ(s[SRC_EMAIL], 1 + 8);
  EXPECT_EQ(s[SRC_AD_CAMPAIGNS], 16);
  EXPECT_EQ(s[SRC_SEARCH_ENGINES], 64);
  EXPECT_EQ(s[SRC_WEB_SITES], 127 - 4 - 9 - 16 - 64);
  EXPECT_EQ(counts_of(r.engines.phrases), (Counts{{"blue widgets", 64}}));
  EXPECT_EQ(counts_of(r.campaigns.counters), (Counts{{"Spring", 16}}));
  EXPECT_EQ(counts_of(r.domains), (Counts{{"search.enginea.com", 64}, {"mail.example.com", 1}, {"partner.com", 16}, {"httpx", 32}}));

  only({RPT_ENG});  // read for the engines, then emptied
  Report eng;
  ASSERT_EQ(eng.campaigns.add("Spring") | eng.campaigns.add_pattern("partner") | eng.engines.load(), 0);
  ASSERT_EQ(eng.load({2004, 1, 1}, {2004, 1, 2}), 0);
  EXPECT_EQ(counts_of(eng.engines.engines), (Counts{{"Engine A", 64}}));
  EXPECT_EQ(eng.traffic.referrer_sources[SRC_AD_CAMPAIGNS], 0);
  EXPECT_EQ(eng.domains.keys.count + eng.referrers.keys.count, 0);

  only({RPT_HST, RPT_CDS});  // not read at all
  Report none;
  ASSERT_EQ(none.load({2004, 1, 1}, {2004, 1, 2}), 0);
  for (int32_t total : none.traffic.referrer_sources) EXPECT_EQ(total, 0);
}

TEST_F(ReportLoader, SwitchesDecideWhichSectionsAreRead) {
  ParserDay d(2004, 1, 2, 1);
  ASSERT_EQ(d.hst.add("a.co.uk", 1) | d.cds.add("200", 1) | d.fls.add("/f", 1), 0);
  d.add_paths("/x", "/y");
  d.close();
  only({RPT_DEP});  // the pages are read for the path pages
  Report depth;
  ASSERT_EQ(depth.load({2004, 1, 2}, {2004, 1, 2}), 0);
  EXPECT_EQ(depth.pages.views.keys.count, 2);
  EXPECT_EQ(depth.hosts.keys.count + depth.codes.keys.count + depth.files.keys.count, 0);
  only({RPT_DOM, RPT_LRF});  // hosts read for the countries, then emptied
  Report countries;
  ASSERT_EQ(countries.load({2004, 1, 2}, {2004, 1, 2}), 0);
  EXPECT_EQ(counts_of(countries.countries.counts), (Counts{{"uk", 1}}));
  EXPECT_EQ(counts_of(countries.files), (Counts{{"/f", 1}}));
  EXPECT_EQ(countries.hosts.keys.count + countries.pages.views.keys.count, 0);
}

TEST_F(ReportLoader, DamagedFilesLoadWhatTheyCan) {
  std::string long_key(20000, 'k');
  write_file("data/sts.log", "\n\nTRF 1 1 1\nHRV 100\n\n" +                  // a record without its date
                                 record(2004, 1, 2, 1) + "\n\n" + record(2004, 1, 3, 2) +  // stray empty lines
                                 "DAT 2004 1 1\nTRF 5 5 5\n\n" +             // out of order: before the frame
                                 "DAT 2004 1 4 " + long_key + "\nHRV 4\n\n"  // an over-long date line
                                 "DAT 2004 1 5\nHRV 8");                     // cut off at the end
  write_file("data/20040102.log",
             "HST\n2147483647 a.com\n-5 " + long_key + "\n\n\nURL\n2147483647 ftp://a\n-2147483648 news://n\n"
             "5 ftp://b\n\nXYZ\n1 b\n\n");
  write_file("data/20040103.log", "HST\n2147483647 a.com\n1\n\nURL\n2147483647 ftp://a\n");
  write_file("data/20040104.log", "PTH\n3 0\n\nHST\n1 c.com");  // paths before their pages
  Report r;
  ASSERT_EQ(r.load({2004, 1, 2}, {2004, 1, 31}), 0);
  EXPECT_EQ(r.days(), 3);
  EXPECT_EQ(r.traffic.visitors, 1 + 2 + 4 + 8);  // the cut record adds its numbers, but no day
  EXPECT_EQ(r.traffic.last_date.day, 5);
  // Sums held at the ends of the range; an over-long line is one line, cut to the buffer.
  EXPECT_EQ(counts_of(r.hosts), (Counts{{"a.com", INT32_MAX}, {std::string(10236, 'k'), -5}, {"", 1}, {"c.com", 1}}));
  EXPECT_EQ(counts_of(r.referrers), (Counts{{"ftp://a", INT32_MAX}, {"news://n", INT32_MIN}, {"ftp://b", 5}}));
  EXPECT_EQ(r.traffic.referrer_sources[SRC_WEB_SITES], INT32_MAX);  // 4 less the newsgroups' minimum
  EXPECT_EQ(r.paths.endpoints.count, 0);

  write_file("data/sts.log", "DAT 2147483647 -2147483648 99999\nHRV 1\n\n");  // no such day file name
  Report hostile;
  ASSERT_EQ(hostile.load({0, 0, 0}, {2147483647, 12, 31}), 0);
  EXPECT_EQ(hostile.days(), 1);
}

TEST_F(ReportLoader, OutOfMemoryIsReportedAtEveryStep) {
  ParserDay d(2004, 1, 2, 2), e(2004, 1, 3, 2);
  ASSERT_EQ(d.hst.add("a.co.uk", 1) | d.url.add("http://www.a.com/", 1) | d.cds.add("200", 1), 0);
  d.add_paths("/x", "/y");
  d.close();
  e.close();
  int failures = 0;
  for (int successes = 0; successes < 200; ++successes, ++failures) {
    Report r;
    fail_allocations_after(successes);
    int status = r.load({2004, 1, 1}, {2004, 1, 3});
    fail_allocations_after(-1);
    if (status == 0) break;
    EXPECT_EQ(status, ERR_MEM) << successes;
  }
  EXPECT_GT(failures, 5);
  EXPECT_LT(failures, 200);
}

}  // namespace
