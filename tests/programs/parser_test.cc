#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "parser/expected_pages.h"
#include "support/cgi_harness.h"
#include "support/config_file.h"

namespace {

const std::string kParser = program_path("parser/parser.cgi");


// "MM/DD/YYYY hh:mm:ss " followed by the rest.
void expect_log_line(const std::string& log, const std::string& rest) {
  ASSERT_EQ(log.size(), 20 + rest.size()) << log;
  EXPECT_EQ(log[2], '/');
  EXPECT_EQ(log[5], '/');
  EXPECT_EQ(log[13], ':');
  EXPECT_EQ(log.substr(20), rest);
}

TEST(ParserProgram, VersionAnswerEvenForAGetRequest) {
  CgiSandbox box;
  CgiResult r = box.run(kParser, {{"QUERY_STRING", "VERSION"}, {"REQUEST_METHOD", "GET"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "Content-type: text/html\r\n\r\n<tt>Version: 3.3.000 IMG/SSI</tt>");
  EXPECT_FALSE(box.exists("status.html"));
  EXPECT_FALSE(box.exists("data/err.log"));
  EXPECT_FALSE(box.exists("data/prs.lck"));
}

TEST(ParserProgram, RefusesAGetRequest) {
  CgiSandbox box;
  box.write_file("config.cfg", "DIR /qmy/\n");
  CgiResult r = box.run(kParser, {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "version"},
                                  {"DOCUMENT_ROOT", box.dir()}, {"REMOTE_ADDR", "192.0.2.8"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "Content-type: text/html\r\n\r\n<html><body><tt>Invalid input.</tt></body></html>");
  // The configuration is not loaded yet: the page goes to the working directory.
  EXPECT_EQ(box.read_file("status.html"), kInputErrorPage);
  expect_log_line(box.read_file("data/err.log"), "ERR_INP PRSR 192.0.2.8 na\n");
  EXPECT_FALSE(box.exists("data/prs.lck"));
}

TEST(ParserProgram, WaitsForTheLockOfARunningParse) {
  CgiSandbox box;
  int fd = open(box.path("data/prs.lck").c_str(), O_WRONLY | O_CREAT, 0200);
  ASSERT_GE(fd, 0);
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_len = 4;
  ASSERT_EQ(fcntl(fd, F_SETLK, &lock), 0);
  pid_t pid = box.start(kParser, {{"REQUEST_METHOD", "POST"}});
  usleep(300 * 1000);
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0);  // still waiting
  close(fd);
  EXPECT_EQ(CgiSandbox::finish(pid), 0);
}

TEST(ParserProgram, LockFileThatCannotBeOpened) {
  CgiSandbox box;
  box.write_file("config.cfg", "DIR /qmy/\n");
  ASSERT_EQ(mkdir(box.path("data/prs.lck").c_str(), 0755), 0);
  CgiResult r = box.run(kParser, {{"DOCUMENT_ROOT", box.dir()}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(box.read_file("status.html").find("Failed to open input / output file(s)."), std::string::npos);
  expect_log_line(box.read_file("data/err.log"), "ERR_FIL PRSR na na\n");
}

// A working directory with the configuration files the parser loads.
void install(const CgiSandbox& box, const std::string& config = "") {
  box.write_file("config.cfg", config_file(config));
  box.write_file("formats.cfg", "");
  box.write_file("dat_acp.cfg", "");
}

const char kLog[] =
    "05/17/2003 10:00:00 192.0.2.1 a.example.net \"/\" \"-\" \"Mozilla/5.0\"\n"
    "05/17/2003 10:00:07 192.0.2.2 b.example.net \"/x.html\" \"http://c.example/\" \"Mozilla/5.0\"\n";

TEST(ParserProgram, SuccessfulRunRemovesTheLog) {
  CgiSandbox box;
  install(box);
  box.write_file("data/qmy.log", kLog);
  CgiResult r = box.run(kParser, {{"REQUEST_METHOD", "POST"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(box.exists("data/qmy.log"));
  EXPECT_FALSE(box.exists("data/err.log"));
  std::string state = box.read_file("data/tmp.log");
  // The saved time is the last counted line's plus one second.
  EXPECT_EQ(state.substr(0, 22), "DAT 2003 5 17 10 0 8\n\n");
  EXPECT_NE(state.find("\nTRF 2 0 0\n"), std::string::npos) << state;
  std::string page = box.read_file("status.html");
  EXPECT_NE(page.find("<title>Finished parsing log file</title>"), std::string::npos);
  EXPECT_NE(page.find("<td align=right>2</td><td>Hits</td>"), std::string::npos);
  EXPECT_NE(page.find("<h2>100% completed</h2>"), std::string::npos);

  // A second run reads the new log whole, on top of the first: a line stamped before
  // the saved time is new all the same.
  box.write_file("data/qmy.log",
                 "05/17/2003 10:00:07 192.0.2.4 e.example.net \"/old.html\" \"-\" \"Mozilla/5.0\"\n"
                 "05/17/2003 10:00:08 192.0.2.3 d.example.net \"/late.html\" \"-\" \"Mozilla/5.0\"\n");
  r = box.run(kParser, {});
  EXPECT_EQ(r.exit_status, 0);
  state = box.read_file("data/tmp.log");
  EXPECT_NE(state.find("\nTRF 4 "), std::string::npos) << state;
}

TEST(ParserProgram, FailedRunKeepsTheLog) {
  CgiSandbox box;
  box.write_file("data/qmy.log", kLog);
  CgiResult r = box.run(kParser, {{"REQUEST_METHOD", "POST"}, {"HTTP_USER_AGENT", "Scheduler/1.0"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(box.read_file("data/qmy.log"), kLog);
  EXPECT_NE(box.read_file("status.html").find("Failed to open input / output file(s)."), std::string::npos);
  expect_log_line(box.read_file("data/err.log"), "ERR_FIL PRSR na Scheduler/1.0\n");
  EXPECT_FALSE(box.exists("data/tmp.log"));
}

TEST(ParserProgram, MissingLogShowsTheLogErrorUnderTheConfiguredFolder) {
  CgiSandbox box;
  install(box, "DIR /stats/\n");
  ASSERT_EQ(mkdir(box.path("stats").c_str(), 0755), 0);
  CgiResult r = box.run(kParser, {{"DOCUMENT_ROOT", box.dir()}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_FALSE(box.exists("status.html"));
  std::string page = box.read_file("stats/status.html");
  EXPECT_NE(page.find("Empty or missing Quillmoray log file."), std::string::npos);
  expect_log_line(box.read_file("data/err.log"), "ERR_LOG PRSR na na\n");
}

TEST(ParserProgram, ResumesAfterAFailedRunWithoutCountingTwice) {
  CgiSandbox box;
  install(box);
  box.write_file("data/tmp.log", "DAT 2003 5 17 10 0 1\n\nIPS\n0 3221225985\n\nREC\nDAT 2003 5 17\nTRF 1 0 0\n\n");
  box.write_file("data/qmy.log", kLog);  // its first line is already counted
  CgiResult r = box.run(kParser, {});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_FALSE(box.exists("data/qmy.log"));
  std::string state = box.read_file("data/tmp.log");
  EXPECT_NE(state.find("\nTRF 2 "), std::string::npos) << state;
}

TEST(ParserProgram, PageNumberOfADamagedStateFileSizesNothing) {
  // The same state file naming page 0, then page 268435456 of its one page: the
  // damaged run holds no more memory than the sound one.
  long peak_kb[2] = {};
  for (const char* page : {"000000000", "268435456"}) {
    CgiSandbox box;
    install(box);
    box.write_file("data/tmp.log", std::string("DAT 2003 5 17 10 0 1\n\nIPS\n0 3221225985\n\nREC\nDAT 2003 5 17\n"
                                               "TRF 1 0 0\n\nPGS\n0 1 /\n\nVIS\n0 1 0 10 0 0 ") +
                                       page + ".0.0\n\n");
    box.write_file("data/qmy.log", kLog);
    CgiResult r = box.run(kParser, {});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(box.read_file("status.html").find("Finished parsing log file"), std::string::npos) << page;
    peak_kb[page[0] == '2'] = r.peak_kb;
  }
  EXPECT_LT(peak_kb[1], peak_kb[0] + 32 * 1024);
}

TEST(ParserProgram, RemovesWhatKilledRunsLeftAndNothingElse) {
  CgiSandbox box;
  install(box, "DIR /stats/\n");
  ASSERT_EQ(mkdir(box.path("stats").c_str(), 0755), 0);
  box.write_file("data/qmy.log", kLog);
  const struct {
    const char* name;
    bool stays;
  } files[] = {
      {"data/20261120.log.XD6VW5", false}, {"data/tmp.log.a1B2c3", false},
      {"stats/status.html.Qw3rTy", false}, {"status.html.Zx9Cv8", false},
      {"config.cfg.Old123", false},        {"dat_acp.cfg.Old456", false},
      {"config.cfg.New123", true},         // perhaps a save in progress
      {"data/sts.log.A1b2C3", true},       {"data/notes.log.A1b2C3", true},
      {"data/tmp.log.A1b2C", true},        {"data/tmp.log.A1b-C3", true},
      {"stats/other.html.A1b2C3", true},   {"data/2026.log.bak", true},
  };
  for (const auto& f : files) box.write_file(f.name, "left\n");
  ASSERT_EQ(mkdir(box.path("data/tmp.log.Folder").c_str(), 0755), 0);
  const time_t long_ago = time(nullptr) - 120;
  for (const char* old : {"config.cfg.Old123", "dat_acp.cfg.Old456"}) {
    struct timeval times[2] = {{long_ago, 0}, {long_ago, 0}};
    ASSERT_EQ(utimes(box.path(old).c_str(), times), 0);
  }
  CgiResult r = box.run(kParser, {{"DOCUMENT_ROOT", box.dir()}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_NE(box.read_file("stats/status.html").find("Finished parsing log file"), std::string::npos);
  for (const auto& f : files) EXPECT_EQ(box.exists(f.name), f.stays) << f.name;
  EXPECT_TRUE(box.exists("data/tmp.log.Folder"));
}

}  // namespace
