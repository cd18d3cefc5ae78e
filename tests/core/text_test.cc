#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/program.h"
#include "core/text.h"
#include "support/capture.h"

namespace {

std::string strip(std::string text) {
  std::vector<char> area(text.begin(), text.end());
  area.push_back('\0');
  strip_line_end(area.data());
  return std::string(area.data());
}

TEST(StripLineEnd, CutsLineFeedAndCarriageReturnIndependently) {
  EXPECT_EQ(strip("x\r\n"), "x");
  EXPECT_EQ(strip("x\n"), "x");
  EXPECT_EQ(strip("\n"), "");
  EXPECT_EQ(strip(""), "");
  EXPECT_EQ(strip("x"), "x");
  EXPECT_EQ(strip("\r"), "\r");  // a one-byte text has only its last byte tested
  EXPECT_EQ(strip("x\ry"), "x");  // the second test does not depend on the first
  EXPECT_EQ(strip("\r\n"), "");
}

TEST(NextIntToken, CutsTokensAndStopsAtTheEnd) {
  char text[] = "12 34";
  char* cursor = text;
  EXPECT_EQ(next_int_token(' ', &cursor), 12);
  EXPECT_EQ(next_int_token(' ', &cursor), 34);
  EXPECT_EQ(*cursor, '\0');
  EXPECT_EQ(cursor, text + 5);
  EXPECT_EQ(next_int_token(' ', &cursor), 0);
  EXPECT_EQ(cursor, text + 5);

  // Read as atoi reads: blanks, a sign, digits up to the first other byte.
  char fields[] = "  -7x|abc||+5|99999999999|-99999999999";
  cursor = fields;
  EXPECT_EQ(next_int_token('|', &cursor), -7);
  EXPECT_EQ(next_int_token('|', &cursor), 0);
  EXPECT_EQ(next_int_token('|', &cursor), 0);
  EXPECT_EQ(next_int_token('|', &cursor), 5);
  EXPECT_EQ(next_int_token('|', &cursor), INT_MAX);
  EXPECT_EQ(next_int_token('|', &cursor), INT_MIN);
}

TEST(TextToInt, ReadsAsStrtolDoesWithinTheIntRange) {
  const char* texts[] = {"0", "42", "-17", "+8", "  \t\n12x", "007", "2147483647", "2147483648", "-2147483648",
                         "-2147483649", "99999999999999999999999", "-99999999999999999999999", "", "-", "+",
                         "x12", "1.5", " - 3", "4294967296", "18446744073709551617", "\v\f\r9"};
  for (const char* text : texts) {
    long expected = std::strtol(text, nullptr, 10);
    if (expected > INT_MAX) expected = INT_MAX;
    if (expected < INT_MIN) expected = INT_MIN;
    EXPECT_EQ(text_to_int(text), expected) << '"' << text << '"';
  }
}

TEST(LowerCase, ChangesOnlyAsciiCapitals) {
  char text[] = "MSIE 6.0; Windows-NT \xC4\xD6";
  EXPECT_EQ(lower_case(text), text);
  EXPECT_STREQ(text, "msie 6.0; windows-nt \xC4\xD6");
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qm_text_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    select_program_build(ProgramBuild::parser);
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  std::string path(const char* name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(TempDir, FileSizeIsSixtyFourBit) {
  EXPECT_EQ(file_size(path("missing").c_str()), 0);
  std::string empty = path("empty");
  FILE* f = std::fopen(empty.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(file_size(empty.c_str()), 0);

  // A sparse hit log past 2 GiB and 4 GiB.
  std::string big = path("big");
  int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 3LL * 1024 * 1024 * 1024), 0);
  EXPECT_EQ(file_size(big.c_str()), 3LL * 1024 * 1024 * 1024);
  ASSERT_EQ(ftruncate(fd, 5LL * 1024 * 1024 * 1024 + 7), 0);
  EXPECT_EQ(file_size(big.c_str()), 5LL * 1024 * 1024 * 1024 + 7);
  close(fd);
}

// Writes `content` to a file and reads it back line by line.
struct Lines {
  std::vector<std::string> lines;
  std::vector<bool> cuts;
};

Lines read_all(const std::string& file, const std::string& content) {
  FILE* f = std::fopen(file.c_str(), "wb");
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
  f = std::fopen(file.c_str(), "rb");
  Lines out;
  bool cut;
  while (read_line(f, &cut)) {
    out.lines.push_back(line_buffer);
    out.cuts.push_back(cut);
  }
  std::fclose(f);
  return out;
}

TEST_F(TempDir, ReadLineKeepsWholeLinesAndDropsTheExcessOfLongOnes) {
  for (ProgramBuild build : {ProgramBuild::report, ProgramBuild::parser}) {
    select_program_build(build);
    const std::size_t size = static_cast<std::size_t>(line_buffer_size());
    SCOPED_TRACE(size);
    const std::string fits(size - 2, 'a');  // with its line feed: size - 1 bytes
    const std::string full(size - 1, 'b');  // only its line feed does not fit
    const std::string crlf(size - 2, 'c');  // its "\r" fits, its "\n" does not
    const std::string over(size + 100, 'd');
    Lines got = read_all(path("lines"), "top\n" + fits + "\n" + full + "\n" + crlf + "\r\n" + over +
                                            "\nnext\n" + std::string(size, 'e') + "\r\nlast");
    ASSERT_EQ(got.lines.size(), 8u);
    EXPECT_EQ(got.lines[0], "top\n");
    EXPECT_EQ(got.lines[1], fits + "\n");
    EXPECT_EQ(got.lines[2], full);
    EXPECT_EQ(got.lines[3], crlf);
    EXPECT_EQ(got.lines[4], over.substr(0, size - 1));
    EXPECT_EQ(got.lines[5], "next\n");
    EXPECT_EQ(got.lines[6], std::string(size - 1, 'e'));
    EXPECT_EQ(got.lines[7], "last");
    EXPECT_EQ(got.cuts, (std::vector<bool>{false, false, false, false, true, false, true, false}));
  }
}

TEST_F(TempDir, ReadLineAfterAFullBufferTellsALineEndFromText) {
  select_program_build(ProgramBuild::report);
  const std::string full(10239, 'f');
  Lines got = read_all(path("ends"), full + "\r\n" + full + "\rx\n" + full + "\r");
  ASSERT_EQ(got.lines.size(), 3u);
  for (const std::string& line : got.lines) EXPECT_EQ(line, full);
  EXPECT_EQ(got.cuts, (std::vector<bool>{false, true, false}));
}

TEST_F(TempDir, ReadLineCutsALongLineThatHoldsANulByte) {
  select_program_build(ProgramBuild::report);
  std::string line(20000, 'x');
  line[10] = '\0';
  Lines got = read_all(path("nul"), line + "\nafter\n");
  ASSERT_EQ(got.lines.size(), 2u);
  EXPECT_EQ(got.lines[0], std::string(10, 'x'));
  EXPECT_TRUE(got.cuts[0]);
  EXPECT_EQ(got.lines[1], "after\n");
}

std::string printed(int value) {
  PageCapture page;
  print_number(value);
  return page.text();
}

TEST(PrintNumber, GroupsThousands) {
  EXPECT_EQ(printed(0), "0");
  EXPECT_EQ(printed(7), "7");
  EXPECT_EQ(printed(999), "999");
  EXPECT_EQ(printed(1000), "1,000");
  EXPECT_EQ(printed(1234567), "1,234,567");
  EXPECT_EQ(printed(1000000), "1,000,000");
  EXPECT_EQ(printed(1002003), "1,002,003");
  EXPECT_EQ(printed(INT_MAX), "2,147,483,647");
  EXPECT_EQ(printed(-5), "-5");
  EXPECT_EQ(printed(-1234), "-1,234");
  EXPECT_EQ(printed(INT_MIN), "-2,147,483,648");
}

TEST(FormatDuration, HoursMinutesSeconds) {
  EXPECT_STREQ(format_duration(0), "00:00");
  EXPECT_STREQ(format_duration(59), "00:59");
  EXPECT_STREQ(format_duration(65), "01:05");
  EXPECT_STREQ(format_duration(3599), "59:59");
  EXPECT_STREQ(format_duration(3600), "1:00:00");
  EXPECT_STREQ(format_duration(86400), "24:00:00");
  EXPECT_STREQ(format_duration(90061), "25:01:01");
  EXPECT_EQ(format_duration(5), line_buffer);
  EXPECT_STREQ(format_duration(-65), "-01:05");
  EXPECT_STREQ(format_duration(INT_MIN), "-596523:14:08");
}

std::string Frame(const DayDate& from, const DayDate& to) {
  return std::to_string(from.year) + "-" + std::to_string(from.month) + "-" + std::to_string(from.day) + ".." +
         std::to_string(to.year) + "-" + std::to_string(to.month) + "-" + std::to_string(to.day);
}

class TimeFrame : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = today; }
  void TearDown() override { today = saved_; }

  static void set_date(int year, int month, int day) {
    today.year = year;
    today.month = month;
    today.day = day;
  }
  // The frame for `word` as "from..to", starting from caller-set dates that any
  // word may keep.
  static std::string frame(const char* word, DayDate from = DayDate{1, 2, 3}, DayDate to = DayDate{4, 5, 6}) {
    report_time_frame(from, to, word);
    return Frame(from, to);
  }

  StartTime saved_;
};


TEST_F(TimeFrame, EveryWordOnAWednesday) {
  set_date(2003, 6, 18);
  EXPECT_EQ(frame("cday"), Frame({2003, 6, 18}, {2003, 6, 18}));
  EXPECT_EQ(frame("pday"), Frame({2003, 6, 17}, {2003, 6, 17}));
  EXPECT_EQ(frame("cweek"), Frame({2003, 6, 15}, {2003, 6, 18}));
  EXPECT_EQ(frame("pweek"), Frame({2003, 6, 8}, {2003, 6, 14}));
  EXPECT_EQ(frame("cmonth"), Frame({2003, 6, 1}, {2003, 6, 18}));
  EXPECT_EQ(frame("pmonth"), Frame({2003, 5, 1}, {2003, 5, 31}));
  EXPECT_EQ(frame("cyear"), Frame({2003, 1, 1}, {2003, 12, 31}));
  EXPECT_EQ(frame("pyear"), Frame({2002, 1, 1}, {2002, 12, 31}));
  EXPECT_EQ(frame("ssumm"), Frame({0, 0, 0}, {2003, 6, 18}));
  EXPECT_EQ(frame("lsumm"), Frame({0, 0, 0}, {2003, 6, 18}));
  EXPECT_EQ(frame("custom"), Frame({1, 2, 3}, {4, 5, 6}));
}

TEST_F(TimeFrame, WeeksStartOnSunday) {
  set_date(2003, 6, 15);  // a Sunday
  EXPECT_EQ(frame("cweek"), Frame({2003, 6, 15}, {2003, 6, 15}));
  EXPECT_EQ(frame("pweek"), Frame({2003, 6, 8}, {2003, 6, 14}));
  set_date(2003, 6, 21);  // a Saturday
  EXPECT_EQ(frame("cweek"), Frame({2003, 6, 15}, {2003, 6, 21}));
  EXPECT_EQ(frame("pweek"), Frame({2003, 6, 8}, {2003, 6, 14}));
  set_date(2004, 1, 1);  // a Thursday: both weeks reach into the previous year
  EXPECT_EQ(frame("cweek"), Frame({2003, 12, 28}, {2004, 1, 1}));
  EXPECT_EQ(frame("pweek"), Frame({2003, 12, 21}, {2003, 12, 27}));
}

TEST_F(TimeFrame, MonthAndYearCarries) {
  set_date(2004, 1, 15);
  EXPECT_EQ(frame("pmonth"), Frame({2003, 12, 1}, {2003, 12, 31}));
  set_date(2004, 1, 1);
  EXPECT_EQ(frame("pday"), Frame({2003, 12, 31}, {2003, 12, 31}));
  set_date(2004, 3, 1);  // leap year
  EXPECT_EQ(frame("pday"), Frame({2004, 2, 29}, {2004, 2, 29}));
  EXPECT_EQ(frame("pmonth"), Frame({2004, 2, 1}, {2004, 2, 29}));
  set_date(2003, 3, 1);
  EXPECT_EQ(frame("pday"), Frame({2003, 2, 28}, {2003, 2, 28}));
  set_date(1900, 3, 1);  // not a leap year
  EXPECT_EQ(frame("pmonth"), Frame({1900, 2, 1}, {1900, 2, 28}));
  set_date(2000, 3, 1);  // a leap year
  EXPECT_EQ(frame("pmonth"), Frame({2000, 2, 1}, {2000, 2, 29}));
  set_date(2003, 5, 1);
  EXPECT_EQ(frame("pday"), Frame({2003, 4, 30}, {2003, 4, 30}));
  EXPECT_EQ(frame("pmonth"), Frame({2003, 4, 1}, {2003, 4, 30}));
}

TEST_F(TimeFrame, CustomTakesTheCallersDates) {
  set_date(2003, 6, 18);
  EXPECT_EQ(frame("custom", {0, 0, 0}, {2002, 5, 17}), Frame({2002, 5, 17}, {2002, 5, 17}));
  EXPECT_EQ(frame("custom", {0, 0, 1}, {2002, 5, 17}), Frame({0, 0, 1}, {2002, 5, 17}));
  // Nothing checks that the dates are in order.
  EXPECT_EQ(frame("custom", {2003, 1, 1}, {2002, 5, 17}), Frame({2003, 1, 1}, {2002, 5, 17}));
}

TEST_F(TimeFrame, UnknownWordsChangeNothing) {
  set_date(2003, 6, 18);
  for (const char* word : {"CDAY", "cday ", "", "day", "cweeks", "login", "parse"})
    EXPECT_EQ(frame(word), Frame({1, 2, 3}, {4, 5, 6})) << word;
  EXPECT_EQ(frame(nullptr), Frame({1, 2, 3}, {4, 5, 6}));
}

TEST_F(TimeFrame, DaylightSavingCannotShiftADay) {
  const char* old = std::getenv("TZ");
  std::string saved_tz = old ? old : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  // 00:30 on the first day of summer time: 86400 seconds earlier is still the
  // evening of two days before.
  struct tm local = {};
  local.tm_year = 2004 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 29;
  local.tm_min = 30;
  local.tm_isdst = -1;
  time_t start = mktime(&local);
  set_today(start);
  EXPECT_EQ(today.day, 29);
  EXPECT_EQ(today.hour, 0);
  EXPECT_EQ(frame("pday"), Frame({2004, 3, 28}, {2004, 3, 28}));
  // The same on the first day of winter time, at 23:30.
  local = {};
  local.tm_year = 2004 - 1900;
  local.tm_mon = 9;
  local.tm_mday = 31;
  local.tm_hour = 23;
  local.tm_min = 30;
  local.tm_isdst = -1;
  set_today(mktime(&local));
  EXPECT_EQ(frame("pday"), Frame({2004, 10, 30}, {2004, 10, 30}));
  if (old) {
    setenv("TZ", saved_tz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(CalendarHelpers, WeekdaysAndMonthLengths) {
  EXPECT_EQ(weekday_of(DayDate{1970, 1, 1}), 4);
  EXPECT_EQ(weekday_of(DayDate{2003, 6, 15}), 0);
  EXPECT_EQ(weekday_of(DayDate{2000, 2, 29}), 2);
  EXPECT_EQ(weekday_of(DayDate{1969, 12, 31}), 3);
  EXPECT_EQ(days_in_month(2004, 2), 29);
  EXPECT_EQ(days_in_month(2100, 2), 28);
  EXPECT_EQ(days_in_month(2003, 11), 30);
  for (int64_t d : {-800000LL, -1LL, 0LL, 12345LL, 2932896LL}) {
    EXPECT_EQ(days_from_date(date_from_days(d)), d);
  }
}

}  // namespace
