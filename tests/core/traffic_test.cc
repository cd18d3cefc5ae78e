#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>

#include "core/config.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/traffic.h"

namespace {

std::string written(const Traffic& t) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&buffer, &size);
  t.write(f);
  std::fclose(f);
  std::string out(buffer, size);
  std::free(buffer);
  return out;
}

// Reads blocks from `text` with Traffic::read, `reads` times; returns the last status.
int read_from(Traffic& t, const std::string& text, bool state_file, int reads = 1) {
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  int status = 0;
  for (int i = 0; i < reads; ++i) status = t.read(f, state_file);
  std::fclose(f);
  return status;
}

template <int N>
int sum(const int32_t (&counters)[N]) {
  return std::accumulate(counters, counters + N, 0);
}

int all_browsers(const Traffic& t) {
  return sum(t.aol) + sum(t.msie) + sum(t.netscape) + sum(t.other_browsers);
}

class TrafficBlock : public ::testing::Test {
 protected:
  void TearDown() override {
    config.report_on[RPT_OPS] = 1;
    config.report_on[RPT_BRW] = 1;
    fail_allocations_after(-1);
  }
};

const char kFullBlock[] =
    "DAT 2003 6 18\n"
    "TRF 120 95 1\n"
    "HRV 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 4\n"
    "HRP 2 0 0 0 0 0 0 0 0 0 3 0 0 0 0 0 0 0 0 0 0 0 0 9\n"
    "OPS 0.1 3.2 27.2\n"
    "BRW n.3.1 i.5.2 i.9.1 a.5.1 o.0.3 o.7.1\n"
    "\n";

TEST_F(TrafficBlock, WritesEveryLineByteForByte) {
  Traffic t;
  t.first_date = DayDate{2003, 6, 18};
  t.hits = 120;
  t.average_visit_seconds = 95;
  t.bytes = 2047;  // kilobytes are truncated
  t.hourly_visitors[0] = 1;
  t.hourly_visitors[23] = 4;
  t.hourly_page_views[0] = 2;
  t.hourly_page_views[10] = 3;
  t.hourly_page_views[23] = 9;
  t.os[0] = 1;
  t.os[3] = 2;
  t.os[27] = 2;
  t.os[5] = -4;  // only counts above 0 are listed
  t.netscape[3] = 1;
  t.msie[5] = 2;
  t.msie[9] = 1;
  t.aol[5] = 1;
  t.other_browsers[0] = 3;
  t.other_browsers[7] = 1;
  // Totals of a report never reach a block.
  t.visitors = 77;
  t.page_views = 88;
  t.referrer_sources[SRC_SEARCH_ENGINES] = 66;
  EXPECT_EQ(written(t), kFullBlock);
}

TEST_F(TrafficBlock, EmptyListsAreBareTagsAndADayWithoutHitsWritesNothing) {
  Traffic t;
  t.first_date = DayDate{2004, 2, 29};
  t.bytes = 3072;
  t.hourly_visitors[5] = 7;
  EXPECT_EQ(written(t), "");  // hits 0
  t.hits = 1;
  EXPECT_EQ(written(t),
            "DAT 2004 2 29\nTRF 1 0 3\n"
            "HRV 0 0 0 0 0 7 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
            "HRP 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
            "OPS\nBRW\n\n");
}

TEST_F(TrafficBlock, KilobytesStayInRange) {
  Traffic t;
  t.hits = 1;
  t.bytes = 1e18;
  EXPECT_NE(written(t).find("\nTRF 1 0 2147483647\n"), std::string::npos);
  t.bytes = -1e18;
  EXPECT_NE(written(t).find("\nTRF 1 0 -2147483648\n"), std::string::npos);
}

TEST_F(TrafficBlock, ReadsABlockIntoTheRecord) {
  Traffic t;
  ASSERT_EQ(read_from(t, kFullBlock, false), 0);
  EXPECT_FALSE(t.at_end);
  EXPECT_EQ(t.first_date.year, 2003);
  EXPECT_EQ(t.last_date.day, 18);
  EXPECT_EQ(t.hits, 120);
  EXPECT_EQ(t.average_visit_seconds, 95);
  EXPECT_EQ(t.bytes, 1);  // kilobytes stay kilobytes in the report program
  EXPECT_EQ(t.visitors, 5);
  EXPECT_EQ(t.page_views, 14);
  EXPECT_EQ(t.hourly_page_views[10], 3);
  EXPECT_EQ(t.os[27], 2);
  EXPECT_EQ(t.os[3], 2);
  EXPECT_EQ(t.netscape[3], 1);
  EXPECT_EQ(t.msie[9], 1);
  EXPECT_EQ(t.aol[5], 1);
  EXPECT_EQ(t.other_browsers[7], 1);
  EXPECT_EQ(all_browsers(t), 9);
  ASSERT_EQ(t.daily.visitors.count, 1);
  EXPECT_EQ(t.daily.visitors.data[0], 5);
  EXPECT_EQ(t.daily.page_views.data[0], 14);
  EXPECT_EQ(t.daily.years.data[0], 2003);
  EXPECT_EQ(t.daily.months.data[0], 6);
  EXPECT_EQ(t.daily.days.data[0], 18);
}

TEST_F(TrafficBlock, StateReadRoundTripsTheParsersDay) {
  Traffic day;
  day.first_date = DayDate{2003, 1, 2};
  day.hits = 9;
  day.bytes = 3 * 1024 + 1000;
  day.average_visit_seconds = 42;
  day.hourly_visitors[13] = 2;
  day.hourly_page_views[13] = 5;
  day.count_os("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
  char agent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";
  day.count_browser(agent);
  std::string block = written(day);

  Traffic back;
  ASSERT_EQ(read_from(back, block, true), 0);
  EXPECT_EQ(back.bytes, 3072);  // kB 3 turned back into bytes
  EXPECT_EQ(back.hits, 9);
  EXPECT_EQ(back.os[OS_WINDOWS_XP], 1);
  EXPECT_EQ(back.msie[5], 1);
  EXPECT_EQ(written(back), block);
}

TEST_F(TrafficBlock, UnknownLettersTagsAndShortLines) {
  Traffic t;
  ASSERT_EQ(read_from(t,
                      "DAT 2003 6 18\n"
                      "XYZ 1 2 3\n"
                      "HRV 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n"
                      "OPS\n"
                      "BRW n.3.2 x.1.5 i.5.7 o.1.1\n"
                      "\n",
                      false),
            0);
  EXPECT_EQ(t.visitors, 20);
  for (int h = 20; h < 24; ++h) EXPECT_EQ(t.hourly_visitors[h], 0);
  EXPECT_EQ(t.hourly_visitors[19], 1);
  EXPECT_EQ(sum(t.os), 0);
  EXPECT_EQ(t.netscape[3], 2);
  EXPECT_EQ(t.msie[5], 7);
  EXPECT_EQ(t.other_browsers[1], 1);
  EXPECT_EQ(all_browsers(t), 10);
  EXPECT_EQ(t.hits, 0);
}

TEST_F(TrafficBlock, TwoBlocksGiveTwoDailyEntries) {
  const std::string text =
      "DAT 2003 12 31\nTRF 10 5 7\nHRV 1 2 3\nHRP 4\nOPS 17.1\nBRW\n\n"
      "DAT 2004 1 1\nTRF 20 6 8\nHRV 0 0 10\nHRP 5 5\nOPS 17.2\nBRW o.6.1\n\n";
  Traffic t;
  ASSERT_EQ(read_from(t, text, false, 2), 0);
  EXPECT_FALSE(t.at_end);
  EXPECT_EQ(t.first_date.year, 2003);
  EXPECT_EQ(t.first_date.month, 12);
  EXPECT_EQ(t.first_date.day, 31);
  EXPECT_EQ(t.last_date.year, 2004);
  EXPECT_EQ(t.last_date.month, 1);
  EXPECT_EQ(t.last_date.day, 1);
  EXPECT_EQ(t.visitors, 16);
  EXPECT_EQ(t.page_views, 14);
  EXPECT_EQ(t.hits, 30);
  EXPECT_EQ(t.average_visit_seconds, 11);  // the sum of the days' averages
  EXPECT_EQ(t.bytes, 15);
  EXPECT_EQ(t.os[17], 3);
  ASSERT_EQ(t.daily.visitors.count, 2);
  EXPECT_EQ(t.daily.visitors.data[0], 6);
  EXPECT_EQ(t.daily.visitors.data[1], 10);
  EXPECT_EQ(t.daily.page_views.data[1], 10);
  EXPECT_EQ(t.daily.years.data[1], 2004);
}

TEST_F(TrafficBlock, EndOfFileSetsTheEndFlag) {
  const std::string text = "DAT 2003 6 18\nTRF 1 0 0\nHRV 3\n\n";
  Traffic t;
  ASSERT_EQ(read_from(t, text, false, 2), 0);
  EXPECT_TRUE(t.at_end);
  EXPECT_EQ(t.daily.visitors.count, 1);  // nothing left: no second entry
  EXPECT_EQ(t.last_date.day, 18);

  // A block cut off by the end of the file adds its numbers but no day.
  Traffic cut;
  ASSERT_EQ(read_from(cut, "DAT 2003 6 19\nTRF 4 0 0\nHRV 2\n", false), 0);
  EXPECT_TRUE(cut.at_end);
  EXPECT_EQ(cut.hits, 4);
  EXPECT_EQ(cut.visitors, 2);
  EXPECT_EQ(cut.daily.visitors.count, 0);

  // The flag survives a reset.
  cut.reset();
  EXPECT_TRUE(cut.at_end);
  EXPECT_EQ(cut.hits, 0);
}

TEST_F(TrafficBlock, ReportSwitchesApplyToTheReportReadOnly) {
  config.report_on[RPT_OPS] = 0;
  Traffic report;
  ASSERT_EQ(read_from(report, kFullBlock, false), 0);
  EXPECT_EQ(sum(report.os), 0);
  EXPECT_EQ(all_browsers(report), 9);  // "BRW" is still on

  config.report_on[RPT_BRW] = 0;
  Traffic neither;
  ASSERT_EQ(read_from(neither, kFullBlock, false), 0);
  EXPECT_EQ(sum(neither.os), 0);
  EXPECT_EQ(all_browsers(neither), 0);

  // The parser's own state keeps every counter, or a resumed day would lose them.
  Traffic state;
  ASSERT_EQ(read_from(state, kFullBlock, true), 0);
  EXPECT_EQ(sum(state.os), 5);
  EXPECT_EQ(all_browsers(state), 9);
}

TEST_F(TrafficBlock, DamagedPairsNeverReachOutsideTheCounters) {
  Traffic t;
  ASSERT_EQ(read_from(t,
                      "DAT 2003 6 18\n"
                      "OPS -1.5 28.3 2000000000.1 5.2 99999999999.1 .4 3\n"
                      "BRW n.10.1 n.-1.1 i.-5.1 a.99.1 o.8.1 o.-1.1 o.7.1 n..3 a.4\n"
                      "HRV 2147483647 2147483647\n"
                      "TRF 2147483647 0 99999999999\nTRF 5 0 0\n"
                      "\n",
                      false),
            0);
  // Only the sound pairs count: OPS 5.2 and ".4" (index 0); BRW o.7.1 and "n..3" (index 0).
  EXPECT_EQ(sum(t.os), 6);
  EXPECT_EQ(t.os[5], 2);
  EXPECT_EQ(t.os[0], 4);
  EXPECT_EQ(t.other_browsers[7], 1);
  EXPECT_EQ(t.netscape[0], 3);
  EXPECT_EQ(all_browsers(t), 4);
  EXPECT_EQ(t.hourly_visitors[0], 2147483647);
  EXPECT_EQ(t.visitors, 2147483647);  // counts stop at the top of their range
  EXPECT_EQ(t.hits, 2147483647);
  EXPECT_EQ(t.bytes, 2147483647.0);
}

TEST_F(TrafficBlock, FailedGrowthOfTheDailySeriesIsReported) {
  Traffic t;
  fail_allocations_after(0);
  EXPECT_EQ(read_from(t, kFullBlock, false), ERR_MEM);
  fail_allocations_after(-1);
  EXPECT_EQ(t.hits, 120);  // the counters already added stay added
  EXPECT_EQ(t.daily.visitors.count, 0);
  EXPECT_EQ(t.daily.days.count, 0);
}

TEST_F(TrafficBlock, ResetClearsEveryTotal) {
  Traffic t;
  ASSERT_EQ(read_from(t, kFullBlock, false), 0);
  t.referrer_sources[SRC_EMAIL] = 3;
  t.reset();
  EXPECT_EQ(t.daily.visitors.count, 0);
  EXPECT_EQ(t.first_date.year, 0);
  EXPECT_EQ(t.last_date.year, 0);
  EXPECT_EQ(t.hits + t.visitors + t.page_views + t.average_visit_seconds, 0);
  EXPECT_EQ(t.bytes, 0);
  EXPECT_EQ(sum(t.referrer_sources) + sum(t.hourly_visitors) + sum(t.hourly_page_views) + sum(t.os), 0);
  EXPECT_EQ(all_browsers(t), 0);
}

}  // namespace
