#include "parser/log_reader.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/text.h"
#include "parser/log_parser.h"
#include "scratch_dir.h"

namespace {

std::string hit(int hour, int minute, int second, const std::string& agent = "Mozilla/5.0",
                const std::string& page = "/index.html", int day = 17) {
  char head[64];
  std::snprintf(head, sizeof head, "05/%2.2i/2003 %2.2i:%2.2i:%2.2i ", day, hour, minute, second);
  return std::string(head) + "192.0.2.1 host.example \"" + page + "\" \"-\" \"" + agent + "\"";
}

// What the counter was given, one entry per line.
std::vector<std::string> seen;
int fail_at = 0;  // the counter fails with -8 at this line (1-based); 0 never

std::string field(const LogParser& parser, int letter) {
  return parser.values[letter] ? parser.values[letter] : "(null)";
}

int record_line(LogParser& parser) {
  seen.push_back(field(parser, LETTER_HOUR) + ":" + field(parser, LETTER_MINUTE) + ":" +
                 field(parser, LETTER_SECOND) + "|" + field(parser, LETTER_PAGE) + "|" +
                 field(parser, LETTER_AGENT));
  if (fail_at != 0 && static_cast<int>(seen.size()) == fail_at) return ERR_MEM;
  return 0;
}

class HitLogReading : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    fail_at = 0;
    ASSERT_EQ(compile_format(parser), 0);
  }
  ScratchDir scratch;
  LogParser parser;
};

// True when another process could take the lock on the file now.
bool lock_is_free(const char* path) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(path, O_WRONLY);
    if (fd < 0) _exit(2);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_len = 4;
    _exit(fcntl(fd, F_SETLK, &lock) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(HitLogReading, LfAndCrLfLogsGiveTheSameValues) {
  std::string lines[] = {hit(10, 0, 1), hit(10, 0, 2, "Opera/9.80", "/a?b=1"), hit(10, 0, 3)};
  ScratchDir::write(kHitLogPath, lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");
  ASSERT_EQ(read_hit_log(parser, 0, record_line), 0);
  std::vector<std::string> lf = seen;
  ASSERT_EQ(lf.size(), 3u);
  EXPECT_EQ(lf[1], "10:00:02|/a?b=1|Opera/9.80");
  EXPECT_EQ(parser.lines_counted, 3);

  seen.clear();
  LogParser crlf_parser;
  ASSERT_EQ(compile_format(crlf_parser), 0);
  std::string crlf = lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n";
  ScratchDir::write(kHitLogPath, crlf);
  ASSERT_EQ(read_hit_log(crlf_parser, 0, record_line), 0);
  EXPECT_EQ(seen, lf);
  EXPECT_EQ(crlf_parser.bytes_read, static_cast<double>(crlf.size()));
  EXPECT_EQ(crlf_parser.bytes_to_read, static_cast<double>(crlf.size()));
}

TEST_F(HitLogReading, SkipsCommentsEmptyBrokenAndDamagedLines) {
  std::string log = "# comment " + hit(9, 0, 0) + "\n" + "\n" + "\r\n" + hit(10, 0, 1) + "\n" +
                    "05/17/2003 10:00:02 1.2.3.4 h \"/\" \"-\" \"no closing quote\n" +
                    "13/17/2003 10:00:03 1.2.3.4 h \"/\" \"-\" \"bad month\"\n" +
                    "05/17/2003 25:00:03 1.2.3.4 h \"/\" \"-\" \"bad hour\"\n" + hit(10, 0, 4) + "\n";
  ScratchDir::write(kHitLogPath, log);
  ASSERT_EQ(read_hit_log(parser, 0, record_line), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "10:00:01|/index.html|Mozilla/5.0");
  EXPECT_EQ(seen[1], "10:00:04|/index.html|Mozilla/5.0");
  EXPECT_EQ(parser.lines_counted, 2);
}

TEST_F(HitLogReading, LastLineWithoutLineEndIsCounted) {
  ScratchDir::write(kHitLogPath, hit(10, 0, 1) + "\n" + hit(10, 0, 2, "Last"));
  ASSERT_EQ(read_hit_log(parser, 0, record_line), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], "10:00:02|/index.html|Last");
  // Also with a carriage return but no line feed, and for a log of one such line.
  seen.clear();
  LogParser other;
  ASSERT_EQ(compile_format(other), 0);
  ScratchDir::write(kHitLogPath, hit(10, 0, 3, "Only") + "\r");
  ASSERT_EQ(read_hit_log(other, 0, record_line), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "10:00:03|/index.html|Only");
}

TEST_F(HitLogReading, EmptyAndMissingLog) {
  EXPECT_EQ(read_hit_log(parser, 0, record_line), ERR_LOG);
  EXPECT_FALSE(parser.tracker_lock.held());
  ScratchDir::write(kHitLogPath, "");
  EXPECT_EQ(read_hit_log(parser, 0, record_line), 0);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(parser.bytes_to_read, 0);
}

TEST_F(HitLogReading, ReadFailureIsALogError) {
  // A directory opens but cannot be read.
  ASSERT_EQ(mkdir(kHitLogPath, 0755), 0);
  EXPECT_EQ(read_hit_log(parser, 0, record_line), ERR_LOG);
}

TEST_F(HitLogReading, LinesThatDoNotFitTheBufferAreSkipped) {
  const int capacity = line_buffer_size();
  auto sized = [](int length, const std::string& tag) {
    std::string line = hit(10, 0, 0, tag);
    line.insert(line.size() - 1, std::string(length - line.size(), 'x'));
    return line;
  };
  std::string longest = sized(capacity - 1, "fits");  // with its "\n" exactly fills the buffer
  std::string log = hit(10, 0, 1, "before") + "\n" + sized(25 * 1024, "long") + "\n" + hit(10, 0, 2, "after") +
                    "\n" + sized(capacity, "exactly") + "\n" + sized(3 * capacity + 17, "huge") + "\r\n" +
                    longest + "\n" + hit(10, 0, 3, "end") + "\n";
  ScratchDir::write(kHitLogPath, log);
  ASSERT_EQ(read_hit_log(parser, 0, record_line), 0);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], "10:00:01|/index.html|before");
  EXPECT_EQ(seen[1], "10:00:02|/index.html|after");
  EXPECT_EQ(seen[2].substr(0, 26), "10:00:00|/index.html|fitsx");
  EXPECT_EQ(seen[3], "10:00:03|/index.html|end");
  EXPECT_EQ(parser.bytes_read, static_cast<double>(log.size()));
}

TEST_F(HitLogReading, OverLongLastLineWithoutLineEnd) {
  std::string log = hit(10, 0, 1) + "\n" + std::string(line_buffer_size() + 5, 'y');
  ScratchDir::write(kHitLogPath, log);
  ASSERT_EQ(read_hit_log(parser, 0, record_line), 0);
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(HitLogReading, ManyChunksKeepEveryLine) {
  std::string log;
  int count = 0;
  for (int m = 0; m < 60; ++m) {
    for (int s = 0; s < 60; ++s) {
      log += hit(11, m, s, "agent " + std::to_string(count)) + (count % 2 ? "\r\n" : "\n");
      ++count;
    }
  }
  ScratchDir::write(kHitLogPath, log);
  ASSERT_EQ(read_hit_log(parser, 0, record_line), 0);
  ASSERT_EQ(seen.size(), static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(seen[i].substr(seen[i].find("agent")), "agent " + std::to_string(i));
  }
}

TEST_F(HitLogReading, ReadsFromTheOffset) {
  std::string first = hit(10, 0, 1) + "\n";
  std::string log = first + hit(10, 0, 2) + "\n";
  ScratchDir::write(kHitLogPath, log);
  ASSERT_EQ(read_hit_log(parser, static_cast<int64_t>(first.size()), record_line), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].substr(0, 8), "10:00:02");
  EXPECT_EQ(parser.bytes_to_read, static_cast<double>(log.size() - first.size()));

  // An offset past the end reads nothing and has nothing to read.
  seen.clear();
  LogParser other;
  ASSERT_EQ(compile_format(other), 0);
  ASSERT_EQ(read_hit_log(other, static_cast<int64_t>(log.size()) + 2, record_line), 0);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(other.bytes_to_read, 0);
}

TEST_F(HitLogReading, CounterErrorEndsTheReading) {
  ScratchDir::write(kHitLogPath, hit(10, 0, 1) + "\n" + hit(10, 0, 2) + "\n" + hit(10, 0, 3) + "\n");
  fail_at = 2;
  EXPECT_EQ(read_hit_log(parser, 0, record_line), ERR_MEM);
  EXPECT_EQ(seen.size(), 2u);
  // The last line without a line end too.
  seen.clear();
  LogParser other;
  ASSERT_EQ(compile_format(other), 0);
  ScratchDir::write(kHitLogPath, hit(10, 0, 1) + "\n" + hit(10, 0, 2));
  EXPECT_EQ(read_hit_log(other, 0, record_line), ERR_MEM);
}

// The status page as it stood when the counter was given each 20000th line.
std::vector<std::string> pages_at_multiples;

int record_progress(LogParser& parser) {
  int64_t n = static_cast<int64_t>(parser.lines_counted);
  if (n % 20000 == 0 || n % 20000 == 1) {
    pages_at_multiples.push_back(ScratchDir::exists("status.html") ? ScratchDir::read("status.html") : "");
  }
  return 0;
}

TEST_F(HitLogReading, ProgressPageBeforeEvery20000thLine) {
  pages_at_multiples.clear();
  std::string log;
  for (int i = 0; i < 40001; ++i) log += hit(12, (i / 60) % 60, i % 60) + "\n";
  ScratchDir::write(kHitLogPath, log + "garbage\n");
  ASSERT_EQ(read_hit_log(parser, 0, record_progress), 0);
  // Lines 1, 20000, 20001, 40000, 40001.
  ASSERT_EQ(pages_at_multiples.size(), 5u);
  EXPECT_EQ(pages_at_multiples[0], "");
  EXPECT_NE(pages_at_multiples[1].find("<td align=right>20,000</td><td>Hits</td>"), std::string::npos);
  EXPECT_NE(pages_at_multiples[1].find("Parsing log file..."), std::string::npos);
  EXPECT_EQ(pages_at_multiples[2], pages_at_multiples[1]);
  EXPECT_NE(pages_at_multiples[3].find("<td align=right>40,000</td><td>Hits</td>"), std::string::npos);
  EXPECT_EQ(parser.lines_counted, 40001);
}

TEST_F(HitLogReading, HoldsTheTrackerLockUntilTheLogIsRemoved) {
  ScratchDir::write(kHitLogPath, hit(10, 0, 1) + "\n");
  ASSERT_EQ(read_hit_log(parser, 0, record_line), 0);
  EXPECT_TRUE(parser.tracker_lock.held());
  EXPECT_FALSE(lock_is_free(kTrackerLockPath));
  remove_hit_log(parser);
  EXPECT_FALSE(ScratchDir::exists(kHitLogPath));
  EXPECT_FALSE(parser.tracker_lock.held());
  EXPECT_TRUE(lock_is_free(kTrackerLockPath));
}

TEST_F(HitLogReading, TrackerLockThatCannotBeTakenKeepsTheRunFromSucceeding) {
  ScratchDir::write(kHitLogPath, hit(10, 0, 1) + "\n");
  ASSERT_EQ(mkdir(kTrackerLockPath, 0755), 0);
  EXPECT_EQ(read_hit_log(parser, 0, record_line), ERR_FIL);
}

TEST_F(HitLogReading, HitAppendedByTheTrackerDuringTheFinalReadIsNotLost) {
  std::string half = hit(10, 0, 2, "half");
  half.pop_back();  // the closing quote is not written yet
  ScratchDir::write(kHitLogPath, hit(10, 0, 1) + "\n" + half);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t tracker = fork();
  if (tracker == 0) {
    // A tracker in the middle of appending: it holds its lock, completes the line that
    // the reader saw only half of and adds one more, then lets go.
    FileLock lock;
    if (lock.acquire(kTrackerLockPath) != 0) _exit(2);
    if (write(ready[1], "x", 1) != 1) _exit(3);
    usleep(200 * 1000);
    ScratchDir::append(kHitLogPath, " more\"\n" + hit(10, 0, 3, "appended") + "\n");
    _exit(0);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(read_hit_log(parser, 0, record_line), 0);
  int status = 0;
  waitpid(tracker, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1], "10:00:02|/index.html|half more");
  EXPECT_EQ(seen[2], "10:00:03|/index.html|appended");
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
