#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/output.h"
#include "core/text.h"
#include "support/capture.h"
#include "support/cgi_harness.h"
#include "support/file_text.h"
#include "support/page_settings.h"

namespace {

const std::string kReport = program_path("report/report.cgi");
const std::string kHeader = "Content-type: text/html\r\n\r\n";

// The password as "config.cfg" stores it.
std::string scrambled(const std::string& password) {
  std::string text = password;
  for (char& c : text) c = static_cast<char>(c ^ 0xA7);
  return text;
}

// A working directory with the files every request loads.
void install(const CgiSandbox& box, const std::string& password, const std::string& more = "") {
  box.write_file("config.cfg", "PSW " + scrambled(password) + "\n" + more);
  box.write_file("formats.cfg", "");
  box.write_file("dat_acp.cfg", "");
}

struct TimedRun {
  CgiResult result;
  time_t start = 0;
  time_t end = 0;
};

TimedRun run(const CgiSandbox& box, CgiEnv env, const std::string& body = "") {
  TimedRun r;
  r.start = std::time(nullptr);
  r.result = box.run(kReport, env, body);
  r.end = std::time(nullptr);
  return r;
}

TimedRun post(const CgiSandbox& box, const std::string& body, CgiEnv env = {}) {
  env["REQUEST_METHOD"] = "POST";
  env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  if (!env.count("CONTENT_LENGTH")) env["CONTENT_LENGTH"] = std::to_string(body.size());
  return run(box, env, body);
}

// A page as the page writer writes it at the given moment, with the installed
// settings (static-file prefix, password).
std::string page_at(time_t moment, const char* prefix, const char* password, const std::function<void()>& write) {
  PageSettings settings(prefix, kRowHighlightAttribute);
  copy_setting(config.password, sizeof config.password, password);
  set_today(moment);
  PageCapture page;
  write();
  std::string text = page.text();
  config.password[0] = '\0';
  return text;
}

// The answer must be the header and the page of the moment the run started or
// ended (a run can pass the turn of a minute).
void expect_answer(const TimedRun& r, const std::function<void()>& write, const char* prefix = "",
                   const char* password = "") {
  EXPECT_EQ(r.result.exit_status, 0);
  std::string at_start = kHeader + page_at(r.start, prefix, password, write);
  if (r.result.out == at_start) return;
  EXPECT_EQ(r.result.out, kHeader + page_at(r.end, prefix, password, write));
}

// The body of the error page, around the code's message.
void write_error_page(const char* message) {
  html.page_head();
  html.section_title("Error", "TRB");
  html.section_open();
  page_puts(
      "<tr><td>\n"
      "<table border=0 cellspacing=0 cellpadding=10 width=100% height=120>\n"
      "<tr><td valign=center>\n"
      "<p class=err><font color=#ff0000><b>ERROR:</b></font> ");
  page_puts(message);
  page_puts(
      "</p>\n"
      "</td></tr>\n"
      "</table>\n"
      "</td></tr>\n");
  html.section_close();
  html.line_break();
  html.page_footer();
}

const char kFileMessage[] =
    "Failed to open input / output file(s). Make sure that you are not missing any installation files, and "
    "that you have set file permissions according to the installation instructions.";
const char kEmptyDatabaseMessage[] =
    "Empty Quillmoray database. In order for the program to generate any reports you first need to instruct it "
    "to parse your server's log file. Once the program successfully completes the parsing try this again.";
const char kInputMessage[] = "Invalid program input. Please use only the forms provided to input data.";
const char kPasswordMessage[] = "Invalid program password. Please use <b>Back</b> button to correct the problem.";

// "MM/DD/YYYY hh:mm:ss " followed by the rest.
void expect_log_line(const std::string& log, const std::string& rest) {
  ASSERT_EQ(log.size(), 20 + rest.size()) << log;
  EXPECT_EQ(log[2], '/');
  EXPECT_EQ(log[13], ':');
  EXPECT_EQ(log.substr(20), rest);
}

TEST(ReportProgram, VersionAnswerForAnyMethod) {
  CgiSandbox box;  // nothing installed: the answer needs no file
  for (const char* method : {"GET", "POST"}) {
    TimedRun r = run(box, {{"QUERY_STRING", "VERSION"}, {"REQUEST_METHOD", method}});
    EXPECT_EQ(r.result.exit_status, 0);
    EXPECT_EQ(r.result.out, kHeader + "<tt>Version: 3.3.001 IMG/SSI</tt>");
  }
  EXPECT_FALSE(box.exists("data/err.log"));
}

TEST(ReportProgram, MissingConfigurationFailsEveryOtherRequest) {
  CgiSandbox box;
  for (const char* query : {"version", "VERSION2"}) {
    TimedRun r = run(box, {{"QUERY_STRING", query}, {"REQUEST_METHOD", "GET"}, {"REMOTE_ADDR", "192.0.2.7"}});
    expect_answer(r, [] { write_error_page(kFileMessage); });
  }
  std::string log = box.read_file("data/err.log");
  ASSERT_EQ(log.size(), 2 * 46u) << log;
  expect_log_line(log.substr(46), "ERR_FIL RPRT 192.0.2.7 na\n");
}

TEST(ReportProgram, OnlyPostedFormsAreTaken) {
  CgiSandbox box;
  install(box, "");
  // Even a GET request carrying every field of a login is refused.
  TimedRun r = run(box, {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "pass=&type=login"}});
  expect_answer(r, [] { write_error_page(kInputMessage); });
  expect_log_line(box.read_file("data/err.log"), "ERR_INP RPRT na na\n");

  // So is a body announced larger than any form (16 KiB), before anything is read.
  for (const char* length : {"999999999999", "-1", "12x", "16385"}) {
    r = post(box, "pass=&type=login", {{"CONTENT_LENGTH", length}});
    expect_answer(r, [] { write_error_page(kInputMessage); });
  }
  const std::string longest = "type=login&x=" + std::string(16384 - 13, '=');
  expect_answer(post(box, longest), [] { html.start_page(); });
}

// All three programs at once, while the error log passes 1 MiB: it is moved aside
// once, over the older log, with the line that passed the limit; no line is lost.
TEST(ErrorLog, MovedAsideOnceByProgramsAtOnce) {
  CgiSandbox box;
  const std::string full = std::string(kErrorLogLimit - 1, 'x') + "\n";
  box.write_file("data/err.log", full);
  box.write_file("data/err.log.1", "older\n");
  std::vector<pid_t> runs;
  for (int i = 0; i < 4; ++i) {
    runs.push_back(box.start(program_path("tracker/tracker.cgi"), {{"QUERY_STRING", "x"}}));
    runs.push_back(box.start(program_path("parser/parser.cgi"), {{"REQUEST_METHOD", "GET"}}));
    runs.push_back(box.start(kReport, {{"REQUEST_METHOD", "GET"}}));
  }
  for (pid_t pid : runs) CgiSandbox::finish(pid);
  const std::string moved = box.read_file("data/err.log.1");
  ASSERT_EQ(moved.compare(0, full.size(), full), 0);
  ASSERT_GT(moved.size(), full.size());
  const std::string lines = moved.substr(full.size()) + box.read_file("data/err.log");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 12) << lines;
  for (const char* rest : {"ERR_INP STTS na na\n", "ERR_INP PRSR na na\n", "ERR_FIL RPRT na na\n"}) EXPECT_EQ(count_of(lines, rest), 4);
}

TEST(ReportProgram, WrongPasswordIsLoggedAndNothingIsDone) {
  CgiSandbox box;
  install(box, "s3cret");
  const std::string config_before = box.read_file("config.cfg");
  TimedRun r = post(box, "pass=secret&type=parse&LOG=x",
                    {{"REMOTE_ADDR", "192.0.2.9"}, {"HTTP_USER_AGENT", "Evil/1.0\n01/01/2000 00:00:00 FORGED"}});
  expect_answer(r, [] { write_error_page(kPasswordMessage); });
  EXPECT_EQ(box.read_file("config.cfg"), config_before);
  // A line feed in the user agent cannot start a second line.
  expect_log_line(box.read_file("data/err.log"), "ERR_PSW RPRT 192.0.2.9 Evil/1.0%0A01/01/2000 00:00:00 FORGED\n");
}

TEST(ReportProgram, PasswordsAreComparedWhole) {
  CgiSandbox box;
  install(box, "abcdefghijkl", "DIR /q/\n");  // 12 characters, as the configuration page allows
  const std::string config_before = box.read_file("config.cfg");
  for (const char* pass : {"abcdefghi", "abcdefghijk", "abcdefghijklm", "abcdefghijklmnopqrstuvwxyz", ""}) {
    TimedRun r = post(box, std::string("type=login&pass=") + pass);
    expect_answer(r, [] { write_error_page(kPasswordMessage); }, "/q/");
  }
  TimedRun r = post(box, "type=login&pass=abcdefghijkl");
  expect_answer(r, [] { html.start_page(); }, "/q/", "abcdefghijkl");
  EXPECT_EQ(box.read_file("config.cfg"), config_before);
}

TEST(ReportProgram, LoginShowsTheStartPage) {
  CgiSandbox box;
  install(box, "pw\"<");
  TimedRun r = post(box, "pass=pw%22%3C&type=login");
  expect_answer(r, [] { html.start_page(); }, "", "pw\"<");

  // The last "PSW" line holds, whole: a shorter one leaves nothing of the first behind.
  install(box, "abcdefghijkl", "PSW " + scrambled("pw") + "\n");
  r = post(box, "pass=pw&type=login");
  expect_answer(r, [] { html.start_page(); }, "", "pw");

  // An empty configured password lets a post without "pass" in.
  install(box, "");
  r = post(box, "type=login");
  expect_answer(r, [] { html.start_page(); });
  EXPECT_FALSE(box.exists("data/err.log"));
}

// A parser stand-in: waits until the test opens the pipe "go", then records how
// it was started.
void install_parser_stub(const CgiSandbox& box) {
  ASSERT_EQ(mkfifo(box.path("go").c_str(), 0600), 0);
  box.write_file("parser.cgi",
                 "#!/bin/sh\n"
                 "cat go >/dev/null\n"
                 "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
                 "{ echo \"$0 $REQUEST_METHOD\"; echo \"$streams\"; cat config.cfg; } >ran.tmp\n"
                 "mv ran.tmp ran\n");
  ASSERT_EQ(chmod(box.path("parser.cgi").c_str(), 0755), 0);
}

// Lets the stand-in go on and waits for its record; false when it never ran.
bool release_parser_stub(const CgiSandbox& box) {
  int fd = -1;
  for (int tries = 0; tries < 500 && fd < 0; ++tries) {
    fd = open(box.path("go").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) usleep(10 * 1000);  // no reader yet
  }
  if (fd < 0) return false;
  close(fd);
  for (int tries = 0; tries < 500; ++tries) {
    if (box.exists("ran")) return true;
    usleep(10 * 1000);
  }
  return false;
}

std::string parse_start_page(const std::string& dir) {
  return kHeader +
         "<html>\n<head>\n"
         "<meta http-equiv=refresh content=\"3; url=" + dir + "status.html\">\n"
         "<link rel=stylesheet type=text/css href=" + dir + "styles.css>\n"
         "</head>\n<body bgcolor=#efefef text=#000000>\n"
         "<table width=100% height=100%>\n"
         "<tr align=center valign=center><td>\n"
         "<h1>This page will refresh automatically in 3 seconds.</h1>\n"
         "<h1>Do not close or reload this page.</h1>\n"
         "</td></tr>\n</table>\n"
         "</body>\n</html>\n";
}

TEST(ReportProgram, ParseSavesTheSettingsAnswersAndStartsTheParserWithoutWaiting) {
  CgiSandbox box;
  install(box, "pw", "FRM 4\nLOG /var/log/old.log\nDIR /stats/\n");
  install_parser_stub(box);
  TimedRun r = post(box, "pass=pw&type=parse");
  // The answer is complete while the parser still waits.
  EXPECT_EQ(r.result.exit_status, 0);
  EXPECT_EQ(r.result.out, parse_start_page("/stats/"));
  EXPECT_FALSE(box.exists("ran"));
  ASSERT_TRUE(release_parser_stub(box));
  std::string ran = box.read_file("ran");
  // Started as "parser.cgi" with the request's environment, no response streams,
  // and the saved settings already in place.
  EXPECT_EQ(ran.substr(0, ran.find("FRM")), "parser.cgi POST\n/dev/null\n/dev/null\n/dev/null\n");
  EXPECT_NE(ran.find("FRM 0\nLOG \nDIR /stats/\n"), std::string::npos) << ran;
  EXPECT_NE(ran.find("PSW " + scrambled("pw") + "\n"), std::string::npos);
  EXPECT_FALSE(box.exists("data/err.log"));
}

TEST(ReportProgram, ParseTakesThePostedLogSettingsSafely) {
  CgiSandbox box;
  install(box, "pw");
  install_parser_stub(box);
  // A line feed in the location cannot add a line to the configuration.
  TimedRun r = post(box, "pass=pw&type=parse&FRM=3&LOG=/logs/a.log%0APSW%20x");
  EXPECT_EQ(r.result.out, parse_start_page(""));
  ASSERT_TRUE(release_parser_stub(box));
  std::string saved = box.read_file("config.cfg");
  EXPECT_EQ(saved.substr(0, 29), "FRM 3\nLOG /logs/a.logPSW x\nDI") << saved;
  EXPECT_EQ(saved.find("\nPSW x"), std::string::npos);

  // A location of 64 characters is taken whole; a longer one is refused.
  const std::string longest(64, 'L');
  ASSERT_EQ(unlink(box.path("go").c_str()), 0);
  ASSERT_EQ(unlink(box.path("ran").c_str()), 0);
  install_parser_stub(box);
  r = post(box, "pass=pw&type=parse&LOG=" + longest);
  EXPECT_EQ(r.result.out, parse_start_page(""));
  ASSERT_TRUE(release_parser_stub(box));
  EXPECT_NE(box.read_file("config.cfg").find("LOG " + longest + "\n"), std::string::npos);

  saved = box.read_file("config.cfg");
  r = post(box, "pass=pw&type=parse&LOG=" + longest + "X");
  expect_answer(r, [] { write_error_page(kInputMessage); });
  EXPECT_EQ(box.read_file("config.cfg"), saved);
}

TEST(ReportProgram, FailedSaveStartsNoParser) {
  CgiSandbox box;
  install(box, "pw");
  box.write_file("parser.cgi", "#!/bin/sh\ntouch ran\n");
  ASSERT_EQ(chmod(box.path("parser.cgi").c_str(), 0755), 0);
  // A folder in place of the campaign file: it reads as empty but cannot be replaced.
  ASSERT_EQ(unlink(box.path("dat_acp.cfg").c_str()), 0);
  ASSERT_EQ(mkdir(box.path("dat_acp.cfg").c_str(), 0755), 0);
  TimedRun r = post(box, "pass=pw&type=parse", {{"HTTP_USER_AGENT", "Mozilla/4.0"}});
  expect_answer(r, [] { write_error_page(kFileMessage); });
  expect_log_line(box.read_file("data/err.log"), "ERR_FIL RPRT na Mozilla/4.0\n");
  usleep(300 * 1000);
  EXPECT_FALSE(box.exists("ran"));
}

TEST(ReportProgram, ParserThatCannotBeStartedLeavesTheAnswerAlone) {
  CgiSandbox box;
  install(box, "pw");
  TimedRun r = post(box, "pass=pw&type=parse");
  EXPECT_EQ(r.result.exit_status, 0);
  EXPECT_EQ(r.result.out, parse_start_page(""));
  EXPECT_EQ(r.result.err, "");
  EXPECT_FALSE(box.exists("data/err.log"));
}

// The installation's definition files.
void install_definitions(const CgiSandbox& box) {
  for (const char* name : {"dat_dom.cfg", "dat_cds.cfg", "dat_tps.cfg", "dat_eng.cfg"}) {
    box.write_file(name, file_text(std::string(QM_SOURCE_DIR) + "/install/" + name));
  }
}

TEST(ReportProgram, EveryDefinitionFileIsNeededForAReport) {
  CgiSandbox box;
  install(box, "pw");
  install_definitions(box);
  // Even the short summary, which lists no table, loads them all first.
  ASSERT_EQ(unlink(box.path("dat_eng.cfg").c_str()), 0);
  TimedRun r = post(box, "pass=pw&type=ssumm");
  expect_answer(r, [] { write_error_page(kFileMessage); });
  expect_log_line(box.read_file("data/err.log"), "ERR_FIL RPRT na na\n");
}

TEST(ReportProgram, ReportWithoutStatisticsShowsTheEmptyDatabaseError) {
  CgiSandbox box;
  install(box, "pw");
  install_definitions(box);
  // Today alone is read from the parser's state, any other frame from the summary.
  for (const char* type : {"cday", "cmonth"}) {
    TimedRun r = post(box, std::string("pass=pw&type=") + type);
    expect_answer(r, [] { write_error_page(kEmptyDatabaseMessage); });
  }
  expect_log_line(box.read_file("data/err.log").substr(39), "ERR_EDB RPRT na na\n");
}

TEST(ReportProgram, ShortSummaryShowsNoVisitorSources) {
  CgiSandbox box;
  install(box, "pw");
  install_definitions(box);
  box.write_file("data/sts.log", "DAT 2004 3 1\nTRF 4 60 5\nHRV 2\nHRP 3\n\n");
  box.write_file("data/20040301.log", "URL\n1 http://other.example/page\n\n");
  // The long summary reads the referrers and shows where the visitors came from.
  TimedRun r = post(box, "pass=pw&type=lsumm");
  EXPECT_NE(r.result.out.find(">Other Web Sites</td><td>1</td><td>50.0</td>"), std::string::npos);
  // The short one reads none, so it leaves the box out rather than show every
  // visitor as a direct hit; the summary closes after its averages.
  r = post(box, "pass=pw&type=ssumm");
  const std::string& page = r.result.out;
  EXPECT_EQ(page.find("Visitors From:"), std::string::npos);
  EXPECT_NE(page.find(">Avg. Page Views per Visitor</td><td colspan=2>1.50</td></tr>\n</table>\n</td></tr>\n</table>"
                      "\n</td></tr>\n</table>\n<br>\n"),
            std::string::npos);
  EXPECT_FALSE(box.exists("data/err.log"));
}

// A hit of a tracked page, as a visitor's browser makes it.
void track(const CgiSandbox& box, const std::string& address, const std::string& page) {
  CgiResult r = box.run(program_path("tracker/tracker.cgi"),
                        {{"QUERY_STRING", "dir=http://site.example/qm&ref=http%3A%2F%2Fsearch.example%2F"},
                         {"REQUEST_METHOD", "GET"},
                         {"REMOTE_ADDR", address},
                         {"REMOTE_HOST", "client" + address.substr(address.rfind('.') + 1) + ".example.co.uk"},
                         {"HTTP_REFERER", "http://site.example" + page},
                         {"HTTP_USER_AGENT", "Mozilla/5.0 (Windows NT 10.0; Win64; x64)"},
                         {"TZ", "UTC0"}});
  ASSERT_EQ(r.exit_status, 0);
}

TEST(ReportProgram, FromTrackedHitsThroughAParseToTheReportPage) {
  CgiSandbox box;
  install(box, "pw");
  install_definitions(box);
  ASSERT_EQ(symlink(program_path("parser/parser.cgi").c_str(), box.path("parser.cgi").c_str()), 0);
  track(box, "192.0.2.1", "/index.html");
  track(box, "192.0.2.1", "/docs/guide.html");
  track(box, "192.0.2.2", "/index.html");
  ASSERT_NE(box.read_file("data/qmy.log"), "");

  TimedRun r = post(box, "pass=pw&type=parse", {{"TZ", "UTC0"}});
  EXPECT_EQ(r.result.out, parse_start_page(""));
  // The parser runs on its own; it removes the hit log when it has counted it.
  for (int tries = 0; tries < 3000 && box.exists("data/qmy.log"); ++tries) usleep(10 * 1000);
  ASSERT_FALSE(box.exists("data/qmy.log"));
  for (int tries = 0; tries < 3000; ++tries) {
    if (box.read_file("status.html").find("100% completed") != std::string::npos) break;
    usleep(10 * 1000);
  }
  EXPECT_NE(box.read_file("status.html").find("Finished parsing log file"), std::string::npos);

  r = post(box, "pass=pw&type=cday", {{"TZ", "UTC0"}});
  const std::string& page = r.result.out;
  EXPECT_EQ(r.result.exit_status, 0);
  EXPECT_EQ(page.substr(0, kHeader.size() + 7), kHeader + "<html>\n");
  EXPECT_EQ(page.find("ERROR:"), std::string::npos);
  for (const char* text : {"/index.html", "/docs/guide.html", "example.co.uk", "search.example"}) {
    EXPECT_NE(page.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(page.substr(page.size() - 16), "</body>\n</html>\n");
  EXPECT_FALSE(box.exists("data/err.log"));
}

}  // namespace
