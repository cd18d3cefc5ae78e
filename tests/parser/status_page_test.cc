#include "parser/status_page.h"

#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/text.h"
#include "parser/log_parser.h"
#include "expected_pages.h"
#include "scratch_dir.h"

namespace {

const char kRunningHead[] =
    "<html>\n<head>\n<meta http-equiv=refresh content=\"3; url=status.html\">\n"
    "<meta http-equiv=pragma content=no-cache>\n<link rel=stylesheet type=text/css href=styles.css>\n"
    "<title>Parsing log file...</title>\n</head>\n"
    "<body bgcolor=#efefef text=#000000 link=#0000ff vlink=#0000b4>\n<table width=100% height=100%>\n"
    "<tr align=center valign=center><td>\n<h1>Parsing log file...</h1>\n";

const char kFiguresHead[] =
    "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#efefef width=355>\n<tr class=dat>\n"
    "<td nowrap><b>Data processed:</b></td>\n";

const char kBarHead[] =
    "</tr>\n</table>\n<br>\n<table border=0 cellspacing=1 cellpadding=1 bgcolor=#000000 width=350>\n"
    "<tr bgcolor=#ffd400><td>\n<table border=0 cellspacing=0 cellpadding=1 bgcolor=#c09700 width=346>\n"
    "<tr><td>\n<table border=0 cellspacing=0 cellpadding=1 bgcolor=#ffd400 width=344>\n";

std::string figures(const char* hits, const char* kb, const char* hits_rate, const char* kb_rate) {
  return std::string(kFiguresHead) + "<td align=right>" + hits + "</td><td>Hits</td>\n<td align=right>" + kb +
         "</td><td>Kb</td>\n</tr>\n<tr class=dat>\n<td nowrap><b>Processing speed:</b></td>\n<td align=right>" +
         hits_rate + "</td><td>Hits/sec</td>\n<td align=right>" + kb_rate + "</td><td>Kb/sec</td>\n";
}

std::string running_page(const std::string& numbers, int bar, int percent) {
  return std::string(kRunningHead) + numbers + kBarHead + "<tr>\n<td width=" + std::to_string(bar) +
         " bgcolor=#ffd400 align=right>&nbsp;</td>\n<td width=" + std::to_string(350 - bar) +
         " bgcolor=#a7a7a7>&nbsp;</td>\n</tr>\n</table>\n</td></tr>\n</table>\n</td></tr>\n</table>\n<h2>" +
         std::to_string(percent) +
         "% completed</h2>\n<u>Note</u>: This page will refresh automatically every 3 seconds.\n"
         "</td></tr>\n</table>\n</body>\n</html>\n";
}

class StatusPage : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_dir_ = config.static_dir;
    config.static_dir[0] = '\0';
    unsetenv("DOCUMENT_ROOT");
    unsetenv("REMOTE_ADDR");
    unsetenv("HTTP_USER_AGENT");
    today.now = 1000000;
    today.year = 2003;
    today.month = 5;
    today.day = 7;
    today.hour = 9;
    today.minute = 8;
    today.second = 1;
  }
  void TearDown() override { copy_bounded(config.static_dir, sizeof config.static_dir, saved_dir_.c_str()); }

  ScratchDir scratch;
  LogParser parser;

 private:
  std::string saved_dir_;
};

int files_in(const std::string& dir) {
  int count = 0;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') ++count;
  }
  closedir(d);
  return count;
}

TEST(PrintNumber, ThousandsGroupsIntoAFile) {
  char* text = nullptr;
  size_t size = 0;
  FILE* memory = open_memstream(&text, &size);
  for (int value : {0, 7, 999, 1000, 1001, 20000, 999999, 1000000, 2147483647, -1234}) {
    fprint_number(memory, value);
    std::fputc(' ', memory);
  }
  std::fclose(memory);
  EXPECT_STREQ(text, "0 7 999 1,000 1,001 20,000 999,999 1,000,000 2,147,483,647 -1,234 ");
  std::free(text);
}

TEST_F(StatusPage, PathRule) {
  EXPECT_EQ(status_page_path(), "status.html");
  setenv("DOCUMENT_ROOT", "/var/www", 1);
  EXPECT_EQ(status_page_path(), "status.html");  // no DIR: the working directory
  copy_bounded(config.static_dir, sizeof config.static_dir, "/qmy/");
  EXPECT_EQ(status_page_path(), "/var/www/qmy/status.html");
  unsetenv("DOCUMENT_ROOT");
  EXPECT_EQ(status_page_path(), "/qmy/status.html");
  std::string long_root(4000, 'r');
  setenv("DOCUMENT_ROOT", long_root.c_str(), 1);
  EXPECT_EQ(status_page_path(), long_root + "/qmy/status.html");
}

TEST_F(StatusPage, PageUnderTheDocumentRoot) {
  ASSERT_EQ(mkdir("site", 0755), 0);
  ASSERT_EQ(mkdir("site/stats", 0755), 0);
  setenv("DOCUMENT_ROOT", (scratch.dir() + "/site").c_str(), 1);
  copy_bounded(config.static_dir, sizeof config.static_dir, "/stats/");
  EXPECT_EQ(write_progress_page(parser, false, today.now), 0);
  EXPECT_TRUE(ScratchDir::exists("site/stats/status.html"));
  EXPECT_FALSE(ScratchDir::exists("status.html"));
  show_parser_error(ERR_LOG);
  EXPECT_NE(ScratchDir::read("site/stats/status.html").find("<title>Error</title>"), std::string::npos);
  EXPECT_EQ(files_in(scratch.dir() + "/site/stats"), 1);  // no temporary file left behind
}

TEST_F(StatusPage, ErrorPageAndErrorLogLine) {
  EXPECT_EQ(show_parser_error(ERR_INP), 0);
  EXPECT_EQ(ScratchDir::read("status.html"), kInputErrorPage);
  EXPECT_EQ(ScratchDir::read(kErrorLogPath), "05/07/2003 09:08:01 ERR_INP PRSR na na\n");

  setenv("REMOTE_ADDR", "203.0.113.9", 1);
  setenv("HTTP_USER_AGENT", "Mozilla/5.0 (X11; Linux x86_64)", 1);
  show_parser_error(ERR_MEM);
  EXPECT_EQ(ScratchDir::read(kErrorLogPath),
            "05/07/2003 09:08:01 ERR_INP PRSR na na\n"
            "05/07/2003 09:08:01 ERR_MEM PRSR 203.0.113.9 Mozilla/5.0 (X11; Linux x86_64)\n");
}

TEST_F(StatusPage, CodeZeroWritesNothing) {
  EXPECT_EQ(show_parser_error(0), 0);
  EXPECT_FALSE(ScratchDir::exists("status.html"));
  EXPECT_FALSE(ScratchDir::exists(kErrorLogPath));
}

TEST_F(StatusPage, PageThatCannotBeWritten) {
  copy_bounded(config.static_dir, sizeof config.static_dir, "/missing-folder/");
  setenv("DOCUMENT_ROOT", scratch.dir().c_str(), 1);
  EXPECT_EQ(write_progress_page(parser, true, today.now), ERR_FIL);
  EXPECT_EQ(show_parser_error(ERR_FIL), 0);  // the page is skipped, the line still written
  EXPECT_EQ(ScratchDir::read(kErrorLogPath), "05/07/2003 09:08:01 ERR_FIL PRSR na na\n");
  // An error log that cannot be opened drops the line quietly.
  ASSERT_EQ(std::remove(kErrorLogPath), 0);
  ASSERT_EQ(mkdir(kErrorLogPath, 0755), 0);
  EXPECT_EQ(show_parser_error(ERR_FIL), 0);
}

TEST_F(StatusPage, ReplacesTheOldPageWhole) {
  ScratchDir::write("status.html", std::string(100000, 'o'));
  ASSERT_EQ(write_progress_page(parser, false, today.now), 0);
  std::string page = ScratchDir::read("status.html");
  EXPECT_EQ(page.substr(0, 7), "<html>\n");
  EXPECT_EQ(page.find('o' + std::string(10, 'o')), std::string::npos);
  EXPECT_EQ(files_in(scratch.dir()), 2);  // data/ and status.html
}

TEST_F(StatusPage, CompletionPage) {
  parser.lines_counted = 1234567;
  parser.bytes_read = 10 * 1024 * 1024;
  parser.bytes_to_read = 999;  // whatever the figures: 100% and a full bar
  ASSERT_EQ(write_progress_page(parser, false, today.now + 4), 0);
  std::string page = "<html>\n<head>\n<meta http-equiv=pragma content=no-cache>\n"
            "<link rel=stylesheet type=text/css href=styles.css>\n<title>Finished parsing log file</title>\n"
            "</head>\n<body bgcolor=#efefef text=#000000 link=#0000ff vlink=#0000b4>\n"
            "<table width=100% height=100%>\n<tr align=center valign=center><td>\n"
            "<h1>Finished parsing log file</h1>\n" +
                figures("1,234,567", "10,240", "308,641", "2,560") + kBarHead +
                "<tr>\n<td width=350 bgcolor=#ffd400 align=right>&nbsp;</td>\n</tr>\n</table>\n"
                "</td></tr>\n</table>\n</td></tr>\n</table>\n<h2>100% completed</h2>\n"
                "<a href=# onClick=\"window.close()\"><b>close window</b></a>\n"
                "</td></tr>\n</table>\n</body>\n</html>\n";
  EXPECT_EQ(ScratchDir::read("status.html"), page);
  // A place in the log that was lost is noted above the close link.
  parser.position.place_lost = true;
  parser.position.lines_passed_over = 1063;
  ASSERT_EQ(write_progress_page(parser, false, today.now + 4), 0);
  const std::string note = std::string("<u>Note</u>: ") + error_message(ERR_POS) +
                           " 1,063 lines were passed over as already counted.<br>\n";
  EXPECT_EQ(ScratchDir::read("status.html"), page.insert(page.find("<a href=#"), note));
}

TEST_F(StatusPage, RunningPage) {
  parser.lines_counted = 20000;
  parser.bytes_read = 2048000;
  parser.bytes_to_read = 4096000;
  ASSERT_EQ(write_progress_page(parser, true, today.now + 10), 0);
  EXPECT_EQ(ScratchDir::read("status.html"), running_page(figures("20,000", "2,000", "2,000", "200"), 175, 50));

  // Finished within the start second: one second is taken, rates equal the totals.
  parser.bytes_read = 1000;
  ASSERT_EQ(write_progress_page(parser, true, today.now), 0);
  EXPECT_EQ(ScratchDir::read("status.html"), running_page(figures("20,000", "0", "20,000", "0"), 0, 0));
  // A clock set back during the run counts as one second too.
  ASSERT_EQ(write_progress_page(parser, true, today.now - 50), 0);
  EXPECT_EQ(ScratchDir::read("status.html"), running_page(figures("20,000", "0", "20,000", "0"), 0, 0));
  // A run past midnight: true elapsed seconds.
  parser.bytes_read = 3 * 1024 * 1024;
  parser.bytes_to_read = 4 * 1024 * 1024;
  ASSERT_EQ(write_progress_page(parser, true, today.now + 7200), 0);
  EXPECT_EQ(ScratchDir::read("status.html"), running_page(figures("20,000", "3,072", "2", "0"), 262, 75));
}

TEST_F(StatusPage, RunningPageNeverDividesByZeroNorPassesAHundredPercent) {
  parser.lines_counted = 40000;
  parser.bytes_read = 5000;
  parser.bytes_to_read = 4000;  // the tracker appended during the run
  ASSERT_EQ(write_progress_page(parser, true, today.now + 1), 0);
  EXPECT_EQ(ScratchDir::read("status.html"), running_page(figures("40,000", "4", "40,000", "4"), 350, 100));
  parser.bytes_to_read = 0;
  ASSERT_EQ(write_progress_page(parser, true, today.now + 1), 0);
  EXPECT_EQ(ScratchDir::read("status.html"), running_page(figures("40,000", "4", "40,000", "4"), 350, 100));
  parser.bytes_to_read = -2;
  parser.bytes_read = 0;
  ASSERT_EQ(write_progress_page(parser, true, today.now + 1), 0);
  EXPECT_EQ(ScratchDir::read("status.html"), running_page(figures("40,000", "0", "40,000", "0"), 350, 100));
}

}  // namespace
