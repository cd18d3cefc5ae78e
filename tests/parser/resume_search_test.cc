#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/text.h"
#include "parser/log_parser.h"
#include "parser/log_reader.h"
#include "scratch_dir.h"

namespace {

std::string hit(int day, int hour, int minute, int second, const std::string& agent = "Mozilla/5.0") {
  char head[64];
  std::snprintf(head, sizeof head, "05/%2.2i/2003 %2.2i:%2.2i:%2.2i ", day, hour, minute, second);
  return std::string(head) + "198.51.100.4 host.example \"/\" \"-\" \"" + agent + "\"";
}

LineTime at(int day, int hour, int minute, int second) {
  LineTime t;
  t.year = 2003;
  t.month = 5;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

class ResumeSearch : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(compile_format(parser), 0); }

  int64_t search(const LineTime& saved) {
    int64_t offset = -1;
    EXPECT_EQ(find_resume_offset(parser, saved, &offset), 0);
    return offset;
  }

  ScratchDir scratch;
  LogParser parser;
};

// A log of the given lines with the given line end; the offset of each line.
std::vector<int64_t> write_log(const std::vector<std::string>& lines, const std::string& end) {
  std::string log;
  std::vector<int64_t> offsets;
  for (const std::string& line : lines) {
    offsets.push_back(static_cast<int64_t>(log.size()));
    log += line + end;
  }
  ScratchDir::write(kHitLogPath, log);
  return offsets;
}

TEST_F(ResumeSearch, StartsAtTheFirstLineOfTheSavedSecond) {
  for (std::string end : {"\n", "\r\n"}) {
    std::vector<std::string> lines;
    for (int s = 0; s <= 10; ++s) {
      for (int k = 0; k < 3; ++k) lines.push_back(hit(17, 10, 0, s, "agent " + std::to_string(k)));
    }
    std::vector<int64_t> offsets = write_log(lines, end);
    // Saved 10:00:06 (the last counted line was 10:00:05): the first of the three 10:00:06 lines.
    EXPECT_EQ(search(at(17, 10, 0, 6)), offsets[18]) << end.size();
    // A saved time between lines starts at the next newer one.
    std::vector<std::string> gap = {hit(17, 10, 0, 1), hit(17, 10, 0, 2), hit(17, 10, 0, 9), hit(17, 10, 0, 9)};
    offsets = write_log(gap, end);
    EXPECT_EQ(search(at(17, 10, 0, 6)), offsets[2]) << end.size();
  }
}

TEST_F(ResumeSearch, AllOlderAllNewerAndSecondSixty) {
  std::vector<std::string> lines = {hit(17, 9, 59, 58), hit(17, 9, 59, 59), hit(17, 10, 0, 0), hit(17, 10, 0, 1)};
  std::vector<int64_t> offsets = write_log(lines, "\n");
  int64_t size = file_size(kHitLogPath);
  EXPECT_EQ(search(at(17, 11, 0, 0)), size);
  EXPECT_EQ(search(at(18, 0, 0, 0)), size);
  EXPECT_EQ(search(at(16, 23, 59, 60)), 0);
  EXPECT_EQ(search(at(17, 9, 0, 0)), 0);
  // 09:59:59 plus one second is saved as 09:59:60: after every line of 09:59, before 10:00.
  EXPECT_EQ(search(at(17, 9, 59, 60)), offsets[2]);
}

TEST_F(ResumeSearch, EveryLineAndEverySavedTimeMatchesALinearScan) {
  // Logs of various sizes with repeated seconds, long and short lines, both line ends,
  // junk at the top and a last line without a line end.
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  for (int round = 0; round < 12; ++round) {
    std::vector<std::string> lines;
    std::vector<int> seconds;
    std::string log = round % 3 == 0 ? "#Fields: junk at the top\n\nnot a hit line\n" : "";
    std::vector<int64_t> offsets;
    int count = 1 + static_cast<int>(next() % (round * 40 + 2));
    int second = 0;
    for (int i = 0; i < count; ++i) {
      second += static_cast<int>(next() % 3);  // 0 repeats the second
      std::string agent(1 + next() % (round % 4 == 3 ? 9000 : 200), 'a');
      offsets.push_back(static_cast<int64_t>(log.size()));
      seconds.push_back(second);
      log += hit(17, 12, second / 60, second % 60, agent);
      if (i + 1 < count || round % 2 == 0) log += next() % 2 ? "\r\n" : "\n";
    }
    ScratchDir::write(kHitLogPath, log);
    for (int saved = -1; saved <= second + 1; ++saved) {
      int64_t expected = static_cast<int64_t>(log.size());
      for (int i = 0; i < count; ++i) {
        if (seconds[i] >= saved) {
          expected = offsets[i];
          break;
        }
      }
      LineTime t = saved < 0 ? at(17, 11, 59, 59) : at(17, 12, saved / 60, saved % 60);
      ASSERT_EQ(search(t), expected) << "round " << round << " saved " << saved;
    }
  }
}

TEST_F(ResumeSearch, LinesThatCannotBeComparedAreLookedPastWhereverTheyStand) {
  // Random logs in time order with lines the reader never counts strewn among the
  // good ones: lines too long for the buffer, lines that do not split, damaged times.
  // The search must still give the first good line that is not older.
  const int capacity = line_buffer_size();
  const std::string prefix = hit(17, 12, 0, 0, "");
  uint32_t seed = 777;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  for (int round = 0; round < 40; ++round) {
    std::string log;
    std::vector<int64_t> offsets;  // of the good lines
    std::vector<int> seconds;
    int count = 1 + static_cast<int>(next() % 60);
    int second = 0;
    for (int i = 0; i < count; ++i) {
      while (next() % 3 == 0) {
        switch (next() % 5) {
          case 0: log += hit(17, 12, 0, 0, std::string(capacity + next() % 300, 'L')) + "\n"; break;
          case 1: log += hit(17, 12, 0, 0, std::string(capacity - prefix.size() - 1, 'x')) + "\"\n"; break;
          case 2: log += "not a hit line\n"; break;
          case 3: log += "05/17/2003 12:00:61 198.51.100.4 h \"/\" \"-\" \"x\"\n"; break;
          default: log += "\n"; break;
        }
      }
      second += static_cast<int>(next() % 3);
      // Good lines of every length the buffer can take, up to the last byte.
      size_t agent = next() % 4 == 0 ? capacity - prefix.size() - 1 : 1 + next() % 100;
      offsets.push_back(static_cast<int64_t>(log.size()));
      seconds.push_back(second);
      log += hit(17, 12, second / 60, second % 60, std::string(agent, 'a')) + "\n";
    }
    if (next() % 2) log += hit(17, 12, 0, 0, std::string(2 * capacity, 'T'));  // a long last line
    ScratchDir::write(kHitLogPath, log);
    for (int saved = 0; saved <= second + 1; ++saved) {
      int64_t expected = static_cast<int64_t>(log.size());
      for (int i = 0; i < count; ++i) {
        if (seconds[i] >= saved) {
          expected = offsets[i];
          break;
        }
      }
      ASSERT_EQ(search(at(17, 12, saved / 60, saved % 60)), expected) << "round " << round << " saved " << saved;
    }
  }
}

TEST_F(ResumeSearch, EndsOnLogsWithoutUsableLines) {
  const int capacity = line_buffer_size();
  const LineTime saved = at(17, 10, 0, 6);
  // No line end at all; one huge line; huge lines around good ones; nothing but line ends.
  ScratchDir::write(kHitLogPath, std::string(3 * capacity, 'z'));
  EXPECT_EQ(search(saved), file_size(kHitLogPath));
  ScratchDir::write(kHitLogPath, std::string(3 * capacity, 'z') + "\n");
  EXPECT_EQ(search(saved), file_size(kHitLogPath));
  std::string big(2 * capacity + 3, 'q');
  std::string log = big + "\n" + hit(17, 10, 0, 5) + "\n" + big + "\n";
  int64_t good = static_cast<int64_t>(log.size());
  log += hit(17, 10, 0, 7) + "\n" + big;
  ScratchDir::write(kHitLogPath, log);
  EXPECT_EQ(search(saved), good);
  ScratchDir::write(kHitLogPath, std::string(5000, '\n'));
  EXPECT_EQ(search(saved), 5000);
  ScratchDir::write(kHitLogPath, "");
  EXPECT_EQ(search(saved), 0);
}

TEST_F(ResumeSearch, MissingLogIsALogError) {
  int64_t offset = 77;
  EXPECT_EQ(find_resume_offset(parser, at(17, 10, 0, 6), &offset), ERR_LOG);
  EXPECT_EQ(offset, 0);
}

TEST_F(ResumeSearch, ReaderResumesWhereTheSearchPoints) {
  std::vector<std::string> lines = {hit(17, 10, 0, 4), hit(17, 10, 0, 5), hit(17, 10, 0, 6, "first"),
                                    hit(17, 10, 0, 6, "second"), hit(17, 10, 0, 7)};
  write_log(lines, "\r\n");
  int64_t offset = search(at(17, 10, 0, 6));
  static std::vector<std::string> agents;
  agents.clear();
  auto counter = [](LogParser& p) {
    agents.push_back(p.values[LETTER_AGENT]);
    return 0;
  };
  ASSERT_EQ(read_hit_log(parser, offset, counter), 0);
  EXPECT_EQ(agents, (std::vector<std::string>{"first", "second", "Mozilla/5.0"}));
}

TEST(CompareLineTime, OrderOfComponents) {
  LogParser parser;
  ASSERT_EQ(compile_format(parser), 0);
  const LineTime saved = at(17, 10, 0, 6);
  struct Case {
    std::string line;
    int expected;
  } cases[] = {
      {hit(17, 10, 0, 6), 0},
      {hit(17, 10, 0, 5), -1},
      {hit(17, 10, 0, 7), 1},
      {hit(16, 23, 59, 59), -1},
      {hit(18, 0, 0, 0), 1},
      {hit(17, 9, 59, 59), -1},
      {"04/30/2004 00:00:00 a b \"/\" \"-\" \"x\"", 1},
      {"06/01/2002 00:00:00 a b \"/\" \"-\" \"x\"", -1},
      {"not a line", -1},
      {"05/17/2003 10:00:61 a b \"/\" \"-\" \"x\"", -1},
      {"", -1},
  };
  for (const Case& c : cases) {
    std::vector<char> text(c.line.begin(), c.line.end());
    text.push_back('\0');
    EXPECT_EQ(compare_line_time(parser, text.data(), saved), c.expected) << c.line;
  }
}

}  // namespace
