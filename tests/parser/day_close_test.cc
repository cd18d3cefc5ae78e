#include "parser/day_close.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "core/errors.h"
#include "core/memory.h"
#include "parser/line_accounting.h"
#include "parser/log_reader.h"
#include "parser_fixture.h"

namespace {

using DayClose = ParserFixture;

std::string lines(std::initializer_list<std::string> items, const std::string& end = "\n") {
  std::string text;
  for (const std::string& item : items) text += item + end;
  return text;
}

// A run as the program makes it: a fresh parser over the hit log in the working directory.
int run_parse() {
  LogParser parser;
  int result = compile_format(parser);
  if (result == 0) result = parse_log(parser);
  clear_day(parser);
  return result;
}

// Makes every file write beyond `bytes` fail while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  struct rlimit old_;
  sighandler_t old_handler_;
};

TEST_F(DayClose, OneDayLogWritesOnlyTheFullStateFile) {
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 10, 0, 0, "192.0.2.1", "/", "http://a.example/"),
                                        hit_line(5, 17, 10, 0, 9, "192.0.2.1", "/b.html")}));
  ASSERT_EQ(run_parse(), 0);
  EXPECT_FALSE(ScratchDir::exists(kSummaryFilePath));
  EXPECT_FALSE(ScratchDir::exists("data/20030517.log"));
  std::string state = ScratchDir::read(kStateFilePath);
  EXPECT_EQ(state.substr(0, 24), "DAT 2003 5 17 10 0 10\n\nI");
  EXPECT_NE(state.find("\nIPS\n0 3221225985\n\nREC\nDAT 2003 5 17\nTRF 2 9 0\n"), std::string::npos) << state;
  EXPECT_NE(state.find("\nURL\n1 http://a.example/\n\n"), std::string::npos);
  EXPECT_NE(state.find("\nVIS\n"), std::string::npos);
  // The completion page.
  EXPECT_NE(ScratchDir::read("status.html").find("<h2>100% completed</h2>"), std::string::npos);
}

TEST_F(DayClose, ChangeOfDayWritesTheSummaryAndTheDayFile) {
  ScratchDir::write(kSummaryFilePath, "DAT 2003 5 16\nTRF 1 0 0\n\n");
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 23, 59, 58, "192.0.2.1", "/"),
                                        hit_line(5, 17, 23, 59, 59, "192.0.2.2", "/x.html"),
                                        hit_line(5, 18, 0, 0, 3, "192.0.2.1", "/y.html"),
                                        hit_line(5, 18, 0, 10, 0, "192.0.2.3", "/")},
                                       "\r\n"));
  ASSERT_EQ(run_parse(), 0);
  std::string summary = ScratchDir::read(kSummaryFilePath);
  EXPECT_EQ(summary.substr(0, 25), "DAT 2003 5 16\nTRF 1 0 0\n\n");
  EXPECT_EQ(summary.substr(25, 29), "DAT 2003 5 17\nTRF 2 0 0\nHRV 0");
  EXPECT_EQ(summary.find("DAT 2003 5 18"), std::string::npos);
  std::string day = ScratchDir::read("data/20030517.log");
  EXPECT_EQ(day.substr(0, 17), "HST\n2 example.net");
  EXPECT_NE(day.find("\n\nPGS\n"), std::string::npos);
  EXPECT_NE(day.find("/x.html"), std::string::npos);
  EXPECT_EQ(day.find("/y.html"), std::string::npos);
  EXPECT_EQ(day.find("VIS"), std::string::npos);
  std::string state = ScratchDir::read(kStateFilePath);
  EXPECT_EQ(state.substr(0, 23), "DAT 2003 5 18 0 10 1\n\nI");
  EXPECT_NE(state.find("\nREC\nDAT 2003 5 18\nTRF 2 "), std::string::npos);
}

TEST_F(DayClose, LastSecondOfTheDayIsSavedAsSixty) {
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 23, 59, 59, "192.0.2.1", "/")}));
  ASSERT_EQ(run_parse(), 0);
  EXPECT_EQ(ScratchDir::read(kStateFilePath).substr(0, 24), "DAT 2003 5 17 23 59 60\n\n");
  // The next run resumes after the lines it counted: one appended within the same
  // second is counted too.
  ScratchDir::append(kHitLogPath, lines({hit_line(5, 17, 23, 59, 59, "192.0.2.1", "/"),
                                         hit_line(5, 18, 0, 0, 0, "192.0.2.9", "/new.html")}));
  ASSERT_EQ(run_parse(), 0);
  EXPECT_NE(ScratchDir::read("data/20030517.log").find("\nPGS\n0 2 /\n\n"), std::string::npos);
  // The only line of the new day keeps its own time through the day's close.
  EXPECT_EQ(ScratchDir::read(kStateFilePath).substr(0, 21), "DAT 2003 5 18 0 0 1\n\n");
}

TEST_F(DayClose, FirstLineOfANewDayEntersThePathsAtItsOwnTime) {
  // As it does when a run resumes at that line from the short state file.
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 0, "192.0.2.1", "/")), 0);
  ASSERT_EQ(count(hit_line(5, 18, 9, 30, 7, "192.0.2.1", "/next.html")), 0);
  EXPECT_EQ(parser.line_time.second, 7);
  ASSERT_EQ(parser.paths.session_count, 1);
  EXPECT_EQ(parser.paths.sessions[0]->second, 7);
  EXPECT_EQ(parser.traffic.hits, 1);
  EXPECT_EQ(parser.traffic.first_date.day, 18);
  // The short state file holds the first line's own time.
  EXPECT_EQ(ScratchDir::read(kStateFilePath), "DAT 2003 5 18 9 30 7\n\n");
}

TEST_F(DayClose, RunFailingAfterAChangeOfDayLeavesTheShortState) {
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 10, 0, 0, "192.0.2.1", "/"),
                                        hit_line(5, 18, 8, 0, 0, "192.0.2.1", "/a.html"),
                                        hit_line(5, 18, 8, 0, 5, "192.0.2.2", "/b.html", "http://c.example/")}));
  // Memory runs out once the new day has begun.
  static int calls;
  calls = 0;
  int result = read_hit_log(parser, 0, [](LogParser& p) {
    if (++calls == 3) fail_allocations_after(0);
    int r = count_line(p);
    fail_allocations_after(-1);
    return r;
  });
  EXPECT_EQ(result, ERR_MEM);
  EXPECT_EQ(ScratchDir::read(kStateFilePath), "DAT 2003 5 18 8 0 0\n\n");
  EXPECT_TRUE(ScratchDir::exists("data/20030517.log"));
  parser.tracker_lock.release();
  // The next run counts the new day from its first line.
  ASSERT_EQ(run_parse(), 0);
  std::string state = ScratchDir::read(kStateFilePath);
  EXPECT_EQ(state.substr(0, 21), "DAT 2003 5 18 8 0 6\n\n");
  EXPECT_NE(state.find("\nTRF 2 "), std::string::npos) << state;
  EXPECT_EQ(ScratchDir::read(kSummaryFilePath).find("DAT 2003 5 17"), 0u);
  EXPECT_EQ(ScratchDir::read(kSummaryFilePath).find("DAT 2003 5 17", 1), std::string::npos);
}

TEST_F(DayClose, DayWithoutHitsWritesAnEmptyDayFileAndNoSummary) {
  ScratchDir::write(kStateFilePath, "DAT 2003 5 17 10 0 0\n\n");
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 18, 0, 0, 1, "192.0.2.1", "/")}));
  ASSERT_EQ(run_parse(), 0);
  EXPECT_FALSE(ScratchDir::exists(kSummaryFilePath));
  EXPECT_TRUE(ScratchDir::exists("data/20030517.log"));
  EXPECT_EQ(ScratchDir::read("data/20030517.log"), "");
}

TEST_F(DayClose, ResumesAtTheSavedTime) {
  for (std::string end : {"\n", "\r\n"}) {
    std::remove(kPositionFilePath);  // the first round's would name the state and its log
    ScratchDir::write(kStateFilePath, "DAT 2003 5 17 10 0 6\n\nIPS\n\nREC\n");
    ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 10, 0, 4, "192.0.2.4", "/"),
                                          hit_line(5, 17, 10, 0, 5, "192.0.2.5", "/"),
                                          hit_line(5, 17, 10, 0, 6, "192.0.2.6", "/"),
                                          hit_line(5, 17, 10, 0, 6, "192.0.2.7", "/"),
                                          hit_line(5, 17, 10, 0, 8, "192.0.2.8", "/")},
                                         end));
    ASSERT_EQ(run_parse(), 0);
    std::string state = ScratchDir::read(kStateFilePath);
    EXPECT_EQ(state.substr(0, 22), "DAT 2003 5 17 10 0 9\n\n");
    EXPECT_NE(state.find("\nTRF 3 "), std::string::npos) << state;
    EXPECT_EQ(state.find("3221225989"), std::string::npos);  // 192.0.2.5 was counted before
  }
}

TEST_F(DayClose, EveryLineOlderCountsNothingAndChangesNothing) {
  ScratchDir::write(kStateFilePath, "DAT 2003 5 17 12 0 0\n\nIPS\n\nREC\n");
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 10, 0, 4, "192.0.2.4", "/")}));
  ASSERT_EQ(run_parse(), 0);
  EXPECT_EQ(ScratchDir::read(kStateFilePath), "DAT 2003 5 17 12 0 0\n\nIPS\n\nREC\n");
}

TEST_F(DayClose, StateWrittenAndLoadedBackIsTheSame) {
  ScratchDir::write(kHitLogPath,
                    lines({hit_line(5, 17, 10, 0, 0, "192.0.2.1", "/", "http://a.example/x", "Opera/9.80",
                                    "a.example.co.uk"),
                           hit_line(5, 17, 10, 0, 30, "192.0.2.1", "/b.html"),
                           hit_line(5, 17, 11, 5, 0, "192.0.2.2", "/b.html", "http://www.search.example/?q=x"),
                           hit_line(5, 17, 12, 0, 0, "192.0.2.1", "/c.html")}));
  ASSERT_EQ(run_parse(), 0);
  std::string first = ScratchDir::read(kStateFilePath);
  // Load it into a fresh parser and write it again: only the saved second moves on.
  LogParser again;
  ASSERT_EQ(compile_format(again), 0);
  again.visitors = new ips();
  ASSERT_EQ(load_state(again), 0);
  EXPECT_EQ(again.visitors->count(), 2);
  EXPECT_EQ(again.traffic.hits, 4);
  again.line_time.second -= 1;
  ASSERT_EQ(close_day(again), 0);
  EXPECT_EQ(ScratchDir::read(kStateFilePath), first);
}

TEST_F(DayClose, StateThatExistsButCannotBeReadIsAnError) {
  ASSERT_EQ(mkdir(kStateFilePath, 0755), 0);
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 10, 0, 0, "192.0.2.1", "/")}));
  EXPECT_EQ(run_parse(), ERR_FIL);
}

TEST_F(DayClose, FailedWritesKeepTheOldFiles) {
  const std::string old_state = "DAT 2003 5 17 10 0 0\n\nIPS\n\nREC\nDAT 2003 5 17\nTRF 5 0 0\n\n";
  ScratchDir::write(kStateFilePath, old_state);
  std::string log;
  for (int i = 0; i < 200; ++i) log += hit_line(5, 17, 11, i / 60, i % 60, "192.0.2." + std::to_string(i), "/") + "\n";
  ScratchDir::write(kHitLogPath, log);
  {
    FileSizeLimit limit(1000);
    EXPECT_EQ(run_parse(), ERR_FIL);
  }
  EXPECT_EQ(ScratchDir::read(kStateFilePath), old_state);
  EXPECT_EQ(std::system("test $(ls data | grep -v err.log | wc -l) -eq 3"), 0);  // no temp file

  // A change of day whose summary append fails: nothing of it stays, the state is kept.
  ScratchDir::write(kSummaryFilePath, std::string(990, '#'));
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 18, 0, 0, 0, "192.0.2.1", "/")}));
  {
    FileSizeLimit limit(1000);
    EXPECT_EQ(run_parse(), ERR_FIL);
  }
  EXPECT_EQ(ScratchDir::read(kSummaryFilePath), std::string(990, '#'));
  EXPECT_EQ(ScratchDir::read(kStateFilePath), old_state);
}

TEST_F(DayClose, ShortStateThatCannotBeWrittenTakesTheSummaryRecordBack) {
  // The old state stays, so the next run counts the day again: its record must not
  // stay in the summary, or the day would be stored twice.
  ScratchDir::write(kSummaryFilePath, "earlier\n");
  ASSERT_EQ(mkdir(kStateFilePath, 0755), 0);
  ScratchDir::write(std::string(kStateFilePath) + "/keep", "x");  // the rename cannot replace it
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 10, 0, 0, "192.0.2.1", "/"),
                                        hit_line(5, 18, 0, 0, 0, "192.0.2.2", "/")}));
  LogParser parser;
  ASSERT_EQ(compile_format(parser), 0);
  parser.visitors = new ips;
  EXPECT_EQ(read_hit_log(parser, 0, count_line), ERR_FIL);
  EXPECT_EQ(ScratchDir::read(kSummaryFilePath), "earlier\n");
  clear_day(parser);
}

TEST_F(DayClose, CountsNearTheLimitInADamagedStateSaturate) {
  struct Case {
    const char* state;
    int hour, minute, second;
    const char* visits_line;
  } cases[] = {
      // A visit count at the limit, then a pause beyond the session timeout.
      {"VIS\n 2799027152\n", 5, 0, 1, "\nVIS\n0 2147483647 0 5 0 1 0.0.0\n"},
      // A timed-views count at the limit, then a timed pause on that page.
      {"PGS\n0 1 /\n\nVIS\n0 1 0 0 0 0 0.2147483647.0\n", 0, 0, 1, "\nVIS\n0 1 1 0 0 1 0.2147483647.1 0.0.0\n"},
  };
  for (const Case& c : cases) {
    ScratchDir::write(kStateFilePath, std::string("DAT 2003 5 17 0 0 0\n\n") + c.state + "\n");
    ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, c.hour, c.minute, c.second, "192.0.2.1", "/")}));
    ASSERT_EQ(run_parse(), 0) << c.state;
    EXPECT_NE(ScratchDir::read(kStateFilePath).find(c.visits_line), std::string::npos)
        << ScratchDir::read(kStateFilePath);
  }
}

TEST_F(DayClose, TimeNeverGoesBack) {
  // A clock set back across midnight: the 17th's late lines come after the 18th's
  // first. They count in the day in hand at its latest time; the 17th is closed once.
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 23, 59, 50, "192.0.2.1", "/a.html"),
                                        hit_line(5, 17, 23, 59, 51, "192.0.2.2", "/a.html"),
                                        hit_line(5, 17, 23, 59, 52, "192.0.2.3", "/a.html"),
                                        hit_line(5, 18, 0, 0, 5, "192.0.2.4", "/x.html"),
                                        hit_line(5, 17, 23, 59, 58, "192.0.2.4", "/b.html"),
                                        hit_line(5, 18, 0, 0, 9, "192.0.2.5", "/y.html")}));
  ASSERT_EQ(run_parse(), 0);
  EXPECT_EQ(ScratchDir::read(kSummaryFilePath).find("DAT 2003 5 18"), std::string::npos);
  EXPECT_NE(ScratchDir::read("data/20030517.log").find("\nPGS\n0 3 /a.html\n\n"), std::string::npos);
  // Nor back from the saved state: a log with an older line (summer time ending).
  ScratchDir::write(kHitLogPath, lines({hit_line(5, 17, 23, 0, 0, "192.0.2.4", "/c.html")}));
  ASSERT_EQ(run_parse(), 0);
  const std::string state = ScratchDir::read(kStateFilePath);
  EXPECT_EQ(state.substr(0, 21), "DAT 2003 5 18 0 0 10\n") << state;
  EXPECT_NE(state.find("\nTRF 4 "), std::string::npos);
  // Visitor 4: /x.html at 00:00:05, /b.html then, /c.html at 00:00:09: no pause below 0.
  EXPECT_NE(state.find("\nVIS\n0 1 4 0 0 9 0.0.0 1.1.4 3.0.0\n"), std::string::npos) << state;
}

TEST_F(DayClose, ClosingADayAgainNeverStoresItTwice) {
  // A run stopped after the day's record was appended but before the short state file
  // was written leaves the old state: the next run closes the same day once more.
  const std::string log = lines({hit_line(5, 17, 10, 0, 0, "192.0.2.1", "/"),
                                 hit_line(5, 17, 10, 0, 5, "192.0.2.2", "/a.html"),
                                 hit_line(5, 18, 8, 0, 0, "192.0.2.1", "/b.html")});
  ScratchDir::write(kHitLogPath, log);
  ASSERT_EQ(run_parse(), 0);
  const std::string record = ScratchDir::read(kSummaryFilePath);
  const std::string day_file = ScratchDir::read("data/20030517.log");
  const std::string state = ScratchDir::read(kStateFilePath);
  ASSERT_EQ(record.compare(0, 14, "DAT 2003 5 17\n"), 0);
  const std::string earlier = "DAT 2003 5 16\nTRF 1 0 0\n\n";
  const std::string other = "DAT 2003 5 17\nTRF 9 0 0\n\n";  // the same day, other figures
  struct Case {
    std::string before;  // the summary file the stopped run left
    std::string after;   // what it holds once the day is closed again
  } cases[] = {
      {"", record},
      {record, record},
      {earlier + record, earlier + record},
      {record.substr(0, 1), record},                   // an append cut off anywhere
      {earlier + record.substr(0, 20), earlier + record},
      {earlier + record.substr(0, record.size() - 1), earlier + record},
      {other, other + record},                          // a different record is not this one
      {record + earlier, record + earlier + record},    // nor one that is not the last
      {"earlier\n", "earlier\n" + record},
  };
  for (const Case& c : cases) {
    ScratchDir::write(kSummaryFilePath, c.before);
    std::remove(kStateFilePath);
    ScratchDir::write(kHitLogPath, log);
    ASSERT_EQ(run_parse(), 0);
    EXPECT_EQ(ScratchDir::read(kSummaryFilePath), c.after) << c.before;
    EXPECT_EQ(ScratchDir::read("data/20030517.log"), day_file);
    EXPECT_EQ(ScratchDir::read(kStateFilePath), state);
  }
}

}  // namespace
