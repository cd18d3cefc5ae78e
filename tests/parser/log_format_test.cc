#include "parser/log_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "parser/log_parser.h"

namespace {

const char kTrackerLine[] =
    "05/17/2003 10:00:06 192.0.2.7 host7.example.net \"/shop/index.html?x=1#top\" "
    "\"http://www.search.example/q?w=a b\" \"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\"";

std::string value(const LogParser& parser, int letter) {
  return parser.values[letter] ? parser.values[letter] : "(null)";
}

TEST(LogFormat, BuiltInFormatCompilesToElevenFieldsAndSeparators) {
  LogParser parser;
  ASSERT_EQ(compile_format(parser), 0);
  EXPECT_EQ(std::strlen(kBuiltInFormat), 38u);
  EXPECT_EQ(parser.field_count, 11);
  EXPECT_EQ(parser.separator_count, 11);
  const std::vector<std::string> separators = {"/", "/", " ", ":", ":", " ", " ", " \"", "\" \"", "\" \"", "\""};
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(parser.separators[i], separators[i]) << i;
    EXPECT_EQ(parser.separator_lengths[i], static_cast<int>(separators[i].size())) << i;
  }
  const std::string used = "MdyHnsihfru";
  for (int k = 0; k < FORMAT_LETTER_COUNT; ++k) {
    bool expected = used.find(format_letters[k]) != std::string::npos;
    EXPECT_EQ(parser.letter_used[k], expected) << format_letters[k];
  }
  EXPECT_EQ(parser.field_letters[0], LETTER_MONTH);
  EXPECT_EQ(parser.field_letters[10], LETTER_AGENT);
}

TEST(LogFormat, TrackerLineSplitsIntoElevenValuesInPlace) {
  LogParser parser;
  ASSERT_EQ(compile_format(parser), 0);
  char line[sizeof kTrackerLine];
  std::memcpy(line, kTrackerLine, sizeof kTrackerLine);
  ASSERT_EQ(split_line(parser, line), 0);
  EXPECT_EQ(value(parser, LETTER_MONTH), "05");
  EXPECT_EQ(value(parser, LETTER_DAY), "17");
  EXPECT_EQ(value(parser, LETTER_YEAR), "2003");
  EXPECT_EQ(value(parser, LETTER_HOUR), "10");
  EXPECT_EQ(value(parser, LETTER_MINUTE), "00");
  EXPECT_EQ(value(parser, LETTER_SECOND), "06");
  EXPECT_EQ(value(parser, LETTER_ADDRESS), "192.0.2.7");
  EXPECT_EQ(value(parser, LETTER_HOST), "host7.example.net");
  EXPECT_EQ(value(parser, LETTER_PAGE), "/shop/index.html?x=1#top");
  EXPECT_EQ(value(parser, LETTER_REFERRER), "http://www.search.example/q?w=a b");
  EXPECT_EQ(value(parser, LETTER_AGENT), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
  // Values point into the line itself.
  EXPECT_EQ(parser.values[LETTER_MONTH], line);
  // Letters the format lacks stay null.
  for (int k : {LETTER_ANY, LETTER_MONTH_NAME, LETTER_STATUS, LETTER_BYTES, LETTER_AM_PM}) {
    EXPECT_EQ(parser.values[k], nullptr) << format_letters[k];
  }
  LineTime time;
  ASSERT_EQ(read_line_time(parser, &time), 0);
  EXPECT_EQ(time.year, 2003);
  EXPECT_EQ(time.month, 5);
  EXPECT_EQ(time.day, 17);
  EXPECT_EQ(time.hour, 10);
  EXPECT_EQ(time.minute, 0);
  EXPECT_EQ(time.second, 6);
}

TEST(LogFormat, EmptyHostAndQuotesInsideTheAgent) {
  LogParser parser;
  ASSERT_EQ(compile_format(parser), 0);
  char line[] = "01/02/2004 03:04:05 10.0.0.1  \"/\" \"-\" \"Agent \"quoted\" part\"";
  ASSERT_EQ(split_line(parser, line), 0);
  EXPECT_EQ(value(parser, LETTER_HOST), "");
  EXPECT_EQ(value(parser, LETTER_REFERRER), "-");
  EXPECT_EQ(value(parser, LETTER_AGENT), "Agent ");
}

TEST(LogFormat, MissingSeparatorIsInvalidAndLeavesNoStaleValues) {
  LogParser parser;
  ASSERT_EQ(compile_format(parser), 0);
  char good[sizeof kTrackerLine];
  std::memcpy(good, kTrackerLine, sizeof kTrackerLine);
  ASSERT_EQ(split_line(parser, good), 0);

  char no_closing_quote[] = "05/17/2003 10:00:06 1.2.3.4 h \"/\" \"-\" \"agent";
  EXPECT_EQ(split_line(parser, no_closing_quote), ERR_FRM);
  char no_blank[] = "05/17/200310:00:06 1.2.3.4 h \"/\" \"-\" \"agent\"";
  EXPECT_EQ(split_line(parser, no_blank), ERR_FRM);
  char few_fields[] = "05/17/2003 10:00:06";
  EXPECT_EQ(split_line(parser, few_fields), ERR_FRM);
  // The fields the failed split did not reach no longer point into the old line.
  EXPECT_EQ(parser.values[LETTER_AGENT], nullptr);
  EXPECT_EQ(parser.values[LETTER_PAGE], nullptr);
  char empty[] = "";
  EXPECT_EQ(split_line(parser, empty), ERR_FRM);
}

TEST(LogFormat, MonthFromNumberOrName) {
  LogParser numbers;
  ASSERT_EQ(compile_format(numbers), 0);
  char line[] = "07/01/2003 00:00:00 a b \"c\" \"d\" \"e\"";
  ASSERT_EQ(split_line(numbers, line), 0);
  EXPECT_EQ(line_month(numbers), 7);

  LogParser names;
  ASSERT_EQ(compile_log_format(names, "%d/%m/%y:%H:%n:%s %i"), 0);
  EXPECT_TRUE(names.letter_used[LETTER_MONTH_NAME]);
  EXPECT_FALSE(names.letter_used[LETTER_MONTH]);
  struct Case {
    const char* month;
    int expected;
  } cases[] = {{"Jul", 7}, {"jul", 1}, {"July", 7}, {"Dec", 12}, {"Xyz", 1}, {"J", 1}, {"", 1}};
  for (const Case& c : cases) {
    std::string text = std::string("10/") + c.month + "/2003:01:02:03 1.2.3.4";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    ASSERT_EQ(split_line(names, buffer.data()), 0) << c.month;
    EXPECT_EQ(line_month(names), c.expected) << c.month;
  }
}

TEST(LogFormat, HourWithAnAmPmField) {
  LogParser parser;
  ASSERT_EQ(compile_log_format(parser, "%H:%n:%s %a|%i"), 0);
  struct Case {
    const char* text;
    int hour;
  } cases[] = {{"11:00:00 PM|x", 23}, {"11:00:00 am|x", 11}, {"11:00:00 pm|x", 23},
               {"12:00:00 AM|x", 0},  {"12:30:00 PM|x", 12}, {"01:00:00 P|x", 13},
               {"00:00:00 PM|x", 12}, {"13:00:00 PM|x", 25}, {"13:00:00 AM|x", 13}};
  for (const Case& c : cases) {
    std::vector<char> buffer(c.text, c.text + std::strlen(c.text) + 1);
    ASSERT_EQ(split_line(parser, buffer.data()), 0) << c.text;
    EXPECT_EQ(line_hour(parser), c.hour) << c.text;
  }
  // Without an am/pm field the hour is the number as written.
  LogParser plain;
  ASSERT_EQ(compile_format(plain), 0);
  char line[] = "07/01/2003 12:00:00 a b \"c\" \"d\" \"e\"";
  ASSERT_EQ(split_line(plain, line), 0);
  EXPECT_EQ(line_hour(plain), 12);
}

TEST(LogFormat, DamagedDateOrTimeIsOutOfRange) {
  LogParser parser;
  ASSERT_EQ(compile_format(parser), 0);
  const char* damaged[] = {
      "13/17/2003 10:00:06", "00/17/2003 10:00:06", "05/32/2003 10:00:06", "05/00/2003 10:00:06",
      "05/17/2003 24:00:06", "05/17/2003 -1:00:06", "05/17/2003 10:60:06", "05/17/2003 10:00:60",
      "05/17/203 10:00:06",  "05/17/20030 10:00:06", "05/17/99999999999999 10:00:06",
      "99999999999/17/2003 10:00:06", "xx/17/2003 10:00:06"};
  for (const char* head : damaged) {
    std::string text = std::string(head) + " 1.2.3.4 h \"/\" \"-\" \"a\"";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    ASSERT_EQ(split_line(parser, buffer.data()), 0) << head;
    LineTime time;
    EXPECT_EQ(read_line_time(parser, &time), ERR_FRM) << head;
  }
  char edge[] = "12/31/9999 23:59:59 1.2.3.4 h \"/\" \"-\" \"a\"";
  ASSERT_EQ(split_line(parser, edge), 0);
  LineTime time;
  EXPECT_EQ(read_line_time(parser, &time), 0);
}

TEST(LogFormat, FormatWithoutDateLettersReadsZerosSafely) {
  LogParser parser;
  ASSERT_EQ(compile_log_format(parser, "%i %h"), 0);
  char line[] = "1.2.3.4 host";
  ASSERT_EQ(split_line(parser, line), 0);
  EXPECT_EQ(line_month(parser), 0);
  EXPECT_EQ(line_hour(parser), 0);
  LineTime time;
  EXPECT_EQ(read_line_time(parser, &time), ERR_FRM);
}

TEST(LogFormat, UnusualFormatTexts) {
  LogParser parser;
  // A letter outside the table makes no field; its separator still counts.
  ASSERT_EQ(compile_log_format(parser, "%i %Z|%h"), 0);
  EXPECT_EQ(parser.field_count, 2);
  EXPECT_EQ(parser.separator_count, 2);
  // A "%" at the very end makes nothing.
  ASSERT_EQ(compile_log_format(parser, "%i-%"), 0);
  EXPECT_EQ(parser.field_count, 1);
  EXPECT_EQ(parser.separator_count, 1);
  ASSERT_EQ(compile_log_format(parser, ""), 0);
  EXPECT_EQ(parser.field_count, 0);
  // More fields than the parser holds is refused and leaves no half format.
  std::string many;
  for (int i = 0; i < kMaxFormatParts + 1; ++i) many += "%? ";
  EXPECT_EQ(compile_log_format(parser, many.c_str()), ERR_FRM);
  EXPECT_EQ(parser.field_count, 0);
  EXPECT_EQ(parser.separator_count, 0);
  // Recompiling replaces the earlier format.
  ASSERT_EQ(compile_format(parser), 0);
  ASSERT_EQ(compile_format(parser), 0);
  EXPECT_EQ(parser.separator_count, 11);
}

TEST(LogFormat, OutOfMemoryWhileCompiling) {
  for (int successes = 0; successes < 12; ++successes) {
    LogParser parser;
    fail_allocations_after(successes);
    int result = compile_format(parser);
    fail_allocations_after(-1);
    EXPECT_EQ(result, ERR_MEM) << successes;
    EXPECT_EQ(parser.separator_count, 0);
    EXPECT_EQ(parser.field_count, 0);
  }
  LogParser parser;
  fail_allocations_after(12);
  EXPECT_EQ(compile_format(parser), 0);
  fail_allocations_after(-1);
}

}  // namespace
