// The installation through a real web server: install.sh lays it out, lighttpd
// serves it with the shipped rules, and the requests come over HTTP.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/file_text.h"
#include "support/web_server.h"

namespace {

const std::string kPassword = "p&ss \"1";

#define START_SERVED(served)                                         \
  if (lighttpd_program().empty()) GTEST_SKIP() << "needs the Debian package lighttpd"; \
  ASSERT_TRUE(served.start(kPassword)) << served.error()

struct Day {
  int year, month, day;
};

Day day_of(std::time_t when) {
  std::tm t{};
  localtime_r(&when, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

// One visitor's page views through the tracker, as the tracking code makes them:
// the page is the request's referrer, "ref=" the page's own referrer.
void visit(const ServedInstallation& served, const std::string& address, const std::vector<std::string>& pages,
           const std::string& first_referrer) {
  std::string referrer = first_referrer;
  for (const std::string& page : pages) {
    HttpRequest request;
    request.target = "/quillmoray/tracker.cgi?dir=" + served.url() + "&" + form_body({{"ref", referrer}});
    request.referer = served.site() + page;
    request.source_address = address;
    HttpResponse answer = served.send(request);
    ASSERT_EQ(answer.status, 302) << answer.headers;
    ASSERT_EQ(answer.header("Location"), served.url() + "/imgs/i.gif");
    referrer = served.site() + page;
  }
}

// Today: three visitors, six page views; a search engine, a campaign and a direct hit.
void send_todays_traffic(const ServedInstallation& served) {
  visit(served, "127.0.0.2", {"/", "/products.html"}, "http://www.google.com/search?q=garden+spade");
  visit(served, "127.0.0.3", {"/about.html"}, "http://newsletter.example.com/spring.html?id=4");
  visit(served, "127.0.0.4", {"/", "/products.html", "/contact.html"}, "");
}

// A closed day, written as the tracker would have: two visitors, three page views.
std::string earlier_hits(const Day& d) {
  char date[32];
  std::snprintf(date, sizeof date, "%2.2i/%2.2i/%i", d.month, d.day, d.year);
  std::string agent = "\"Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:121.0) Gecko/20100101 Firefox/121.0\"\n";
  std::string day = date;
  return day + " 10:00:00 127.0.0.7 127.0.0.7 \"/\" \"-\" " + agent +
         day + " 10:01:00 127.0.0.7 127.0.0.7 \"/about.html\" \"-\" " + agent +
         day + " 11:00:00 127.0.0.8 127.0.0.8 \"/products.html\" \"http://www.example-blog.net/post\" " + agent;
}

std::string report(const ServedInstallation& served, const std::vector<std::pair<std::string, std::string>>& fields) {
  std::vector<std::pair<std::string, std::string>> all = {{"pass", kPassword}};
  all.insert(all.end(), fields.begin(), fields.end());
  HttpResponse answer = served.post("/quillmoray/report.cgi", form_body(all));
  EXPECT_EQ(answer.status, 200);
  return answer.body;
}

// Writes the two days before today and today's traffic, parses through the report program
// and waits for the parse to finish; gives the parse-start page.
std::string parse_traffic(const ServedInstallation& served) {
  std::time_t now = std::time(nullptr);
  served.write("data/qmy.log", earlier_hits(day_of(now - 2 * 24 * 3600)) + earlier_hits(day_of(now - 24 * 3600)));
  send_todays_traffic(served);
  std::string started = report(served, {{"type", "parse"}});
  EXPECT_NE(started.find("<meta http-equiv=refresh content=\"3; url=/quillmoray/status.html\">"), std::string::npos)
      << started;
  EXPECT_TRUE(served.wait_for_status("Finished parsing log file", 60)) << served.read("status.html");
  return started;
}

std::string summary_row(const std::string& label, int total) {
  return "<td align=left width=100%>" + label + " </td><td></td><td>" + std::to_string(total) + "</td>";
}

}  // namespace

TEST(WebServer, TrackerAnswersWithTheSpacerAndRecordsEachVisitorsAddress) {
  ServedInstallation served;
  START_SERVED(served);
  visit(served, "127.0.0.2", {"/", "/products.html?item=3"}, "http://www.google.com/search?q=spade");
  visit(served, "127.0.0.3", {"/about.html"}, "");

  std::istringstream log(served.read("data/qmy.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  const std::regex hit(R"re(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d (\S+) \S* "([^"]*)" "([^"]*)" "Mozilla/5.0 .*")re");
  const std::string expected[3][3] = {{"127.0.0.2", "/", "http://www.google.com/search?q=spade"},
                                      {"127.0.0.2", "/products.html?item=3", served.site() + "/"},
                                      {"127.0.0.3", "/about.html", "-"}};
  for (int i = 0; i < 3; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, hit)) << lines[i];
    EXPECT_EQ(m[1], expected[i][0]);
    EXPECT_EQ(m[2], expected[i][1]);
    EXPECT_EQ(m[3], expected[i][2]);
  }
  HttpResponse spacer = served.get("/quillmoray/imgs/i.gif");
  EXPECT_EQ(spacer.status, 200);
  EXPECT_EQ(spacer.header("Content-Type"), "image/gif");
  EXPECT_EQ(spacer.body.compare(0, 6, "GIF89a"), 0);
}

TEST(WebServer, ParseThroughTheReportProgramAndReportsOfTheTraffic) {
  ServedInstallation served;
  START_SERVED(served);
  parse_traffic(served);
  const Day yesterday = day_of(std::time(nullptr) - 24 * 3600);

  // The status page is written under the document root at DIR and served from there.
  HttpResponse status = served.get("/quillmoray/status.html");
  EXPECT_EQ(status.status, 200);
  EXPECT_NE(status.body.find("<h1>Finished parsing log file</h1>"), std::string::npos);
  EXPECT_FALSE(served.exists("data/qmy.log"));

  std::string today = report(served, {{"type", "cday"}});
  EXPECT_NE(today.find(summary_row("Unique Visitors", 3)), std::string::npos) << today;
  EXPECT_NE(today.find(summary_row("Page Views", 6)), std::string::npos);
  // Two views of the page, whatever the time spent on it.
  EXPECT_TRUE(std::regex_search(today, std::regex("<td align=left>/products.html</td><td>\\d\\d:\\d\\d</td><td>2</td>")));

  // A custom frame of the closed day before.
  std::string y = std::to_string(yesterday.year), m = std::to_string(yesterday.month),
              d = std::to_string(yesterday.day);
  std::string custom =
      report(served, {{"type", "custom"}, {"ys", y}, {"ms", m}, {"ds", d}, {"ye", y}, {"me", m}, {"de", d}});
  EXPECT_NE(custom.find(summary_row("Unique Visitors", 2)), std::string::npos) << custom;
  EXPECT_NE(custom.find(summary_row("Page Views", 3)), std::string::npos);

  HttpResponse wrong = served.post("/quillmoray/report.cgi", form_body({{"pass", "p&ss"}, {"type", "cday"}}));
  EXPECT_NE(wrong.body.find("Invalid program password."), std::string::npos) << wrong.body;
}

// Asks a server on the port for every private file in many spellings and posts to
// the parser: all refused, no parse started, the public pages still served.
void expect_private_files_refused(const ServedInstallation& served, int port) {
  // Copies of the settings, and temporary files the programs leave when killed.
  const char* planted[] = {"config.cfg.AbC123", "dat_acp.cfg.x1Y2z3", "status.html.Qw3rTy", "config.cfg~",
                           "config.cfg.bak",    "data/tmp.log.Ab12Cd", "data/20240101.log.Zz99Aa"};
  for (const char* name : planted) served.write(name, "PSW Mozilla/5.0\n");
  const std::string log = served.read("data/qmy.log");
  ASSERT_FALSE(log.empty());
  const std::string status_before = served.read("status.html");
  const char* refused[] = {
      "/quillmoray/config.cfg",        "/quillmoray/dat_acp.cfg",      "/quillmoray/formats.cfg",
      "/quillmoray/dat_dom.cfg",       "/quillmoray/data/qmy.log",     "/quillmoray/data/",
      "/quillmoray/data",              "/quillmoray/data/err.log",     "/quillmoray/parser.cgi",
      "/quillmoray/parser.cgi?VERSION", "/quillmoray/parser.cgi/x",    "/quillmoray/.htaccess",
      "/quillmoray/%63onfig.cfg",      "/quillmoray/config%2ecfg",     "//quillmoray/config.cfg",
      "/quillmoray/./config.cfg",      "/quillmoray/imgs/../config.cfg", "/quillmoray/config.cfg/",
      "/quillmoray/config.cfg/x",      "/quillmoray/%64ata/qmy.log",   "/quillmoray/data//qmy.log",
      "/quillmoray/data/%2e%2e/config.cfg",
  };
  std::vector<std::string> targets(std::begin(refused), std::end(refused));
  for (const char* name : planted) targets.push_back(std::string("/quillmoray/") + name);
  for (const std::string& target : targets) {
    HttpRequest request;
    request.target = target;
    HttpResponse answer = http_request(port, request);
    EXPECT_TRUE(answer.status == 403 || answer.status == 404 || answer.status == 400)
        << target << " gave " << answer.status;
    EXPECT_EQ(answer.body.find("PSW"), std::string::npos) << target;
    EXPECT_EQ(answer.body.find("Mozilla/5.0"), std::string::npos) << target;
  }
  for (const char* target : {"/quillmoray/parser.cgi", "/quillmoray/parser.cgi/x", "/quillmoray/%70arser.cgi"}) {
    HttpRequest request;
    request.method = "POST";
    request.target = target;
    EXPECT_EQ(http_request(port, request).status, 403) << target;
  }
  // No parse ran: the hit log and the status page are as they were.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(served.read("data/qmy.log"), log);
  EXPECT_EQ(served.read("status.html"), status_before);
  for (const char* target : {"/quillmoray/", "/quillmoray/login.html", "/quillmoray/styles.css"}) {
    HttpRequest request;
    request.target = target;
    EXPECT_EQ(http_request(port, request).status, 200) << target;
  }
  // A body far over what the programs read is refused before one runs; a login of
  // nearly the programs' 16 KiB still gets in.
  HttpRequest login;
  login.method = "POST";
  login.target = "/quillmoray/report.cgi";
  login.body = form_body({{"pass", kPassword}, {"type", "login"}, {"x", std::string(15 * 1024, 'x')}});
  EXPECT_NE(http_request(port, login).body.find("Generating HTML Reports"), std::string::npos);
  login.body = form_body({{"pass", kPassword}, {"type", "login"}, {"x", std::string(2 << 20, 'x')}});
  EXPECT_EQ(http_request(port, login).status, 413);
}

TEST(WebServer, PrivateFilesAndTheParserAreRefusedHoweverTheyAreAsked) {
  ServedInstallation served;
  START_SERVED(served);
  send_todays_traffic(served);
  expect_private_files_refused(served, served.port());
}

// The same rules for Apache, in the installation's .htaccess file and in its rules
// for the server's configuration; a data/.htaccess, which the programs' user could
// remove, is not needed.
TEST(WebServer, ApacheRulesRefuseTheSameFiles) {
  if (apache_program().empty()) GTEST_SKIP() << "needs the Debian package apache2";
  ServedInstallation served;
  START_SERVED(served);
  send_todays_traffic(served);
  std::filesystem::remove(served.folder() + "/data/.htaccess");
  served.write("../apache.html", "<p>A page of the site</p>\n");
  using Rules = ServedInstallation::ApacheRules;
  for (Rules rules : {Rules::htaccess, Rules::server_configuration}) {
    int port = served.start_apache(rules);
    ASSERT_NE(port, 0) << served.error();
    HttpRequest hit;
    hit.target = "/quillmoray/tracker.cgi?dir=" + served.url() + "&ref=";
    hit.referer = served.site() + "/apache.html";
    HttpResponse answer = http_request(port, hit);
    EXPECT_EQ(answer.status, 302);
    EXPECT_EQ(answer.header("Location"), "http://127.0.0.1:" + std::to_string(port) + "/quillmoray/imgs/i.gif");
    EXPECT_NE(served.read("data/qmy.log").find("\"/apache.html\" \"-\""), std::string::npos);
    HttpRequest page;
    page.target = "/apache.html";
    EXPECT_EQ(http_request(port, page).status, 200) << "a page of the site in the document root";
    expect_private_files_refused(served, port);
  }
}

TEST(WebServer, TheWebServersUserCanWriteOnlyWhatTheProgramsWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "only root gives the files to the web server's user";
  ServedInstallation served;
  START_SERVED(served);
  passwd* user = getpwnam(served.web_user().c_str());
  ASSERT_NE(user, nullptr);
  std::set<std::string> writable;
  const std::filesystem::path root = served.prefix();
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat s;
    ASSERT_EQ(lstat(entry.path().c_str(), &s), 0);
    bool by_owner = s.st_uid == user->pw_uid && (s.st_mode & S_IWUSR);
    bool by_group = s.st_gid == user->pw_gid && (s.st_mode & S_IWGRP);
    if (by_owner || by_group || (s.st_mode & S_IWOTH)) {
      writable.insert(std::filesystem::relative(entry.path(), root).string());
    }
  }
  // Before any request there are only the installation's files.
  std::set<std::string> expected = {"www/quillmoray/config.cfg", "www/quillmoray/dat_acp.cfg",
                                    "www/quillmoray/status.html", "www/quillmoray/data"};
  EXPECT_EQ(writable, expected);
  struct stat config;
  ASSERT_EQ(stat((served.folder() + "/config.cfg").c_str(), &config), 0);
  EXPECT_EQ(config.st_mode & 0777, 0600u);  // the scrambled password is no one else's to read

  // The programs' user links root's files into data/, and the install step runs again:
  // none is written, made readable or given away; the folders keep their modes.
  const std::string data = served.folder() + "/data/";
  std::vector<std::string> secrets;
  for (std::string name : {".htaccess.new", ".htaccess", "qmy.log", "hard-link"}) {
    secrets.push_back(served.prefix() + "/secret-" + name);
    std::ofstream(secrets.back()) << "secret\n";
    ASSERT_EQ(chmod(secrets.back().c_str(), 0600), 0);
    unlink((data + name).c_str());
    if (name == "hard-link") {
      ASSERT_EQ(link(secrets.back().c_str(), (data + name).c_str()), 0);
    } else {
      ASSERT_EQ(symlink(secrets.back().c_str(), (data + name).c_str()), 0);
      ASSERT_EQ(lchown((data + name).c_str(), user->pw_uid, user->pw_gid), 0);
    }
  }
  ASSERT_TRUE(served.install()) << served.error();
  for (const std::string& secret : secrets) {
    struct stat s;
    ASSERT_EQ(stat(secret.c_str(), &s), 0);
    EXPECT_EQ(file_text(secret), "secret\n") << secret;
    EXPECT_EQ(s.st_mode & 07777, 0600u) << secret;
    EXPECT_EQ(s.st_uid, 0u) << secret;
  }
  struct stat prefix, data_folder;
  ASSERT_EQ(stat(served.prefix().c_str(), &prefix) | stat(data.c_str(), &data_folder), 0);
  EXPECT_EQ(prefix.st_mode & 07777, 0711u);
  EXPECT_EQ(data_folder.st_mode & 07777, 0700u);
  EXPECT_EQ(data_folder.st_uid, user->pw_uid);
}

// Everything under the folder as lstat sees it, with a hash of each file's content.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat s{};
    lstat(entry.path().c_str(), &s);
    entries[entry.path()] = std::to_string(s.st_mode) + " " + std::to_string(s.st_uid) + " " + std::to_string(s.st_gid) +
                            " " + std::to_string(s.st_mtim.tv_sec) + "." + std::to_string(s.st_mtim.tv_nsec) + " " +
                            std::to_string(std::hash<std::string>{}(file_text(entry.path())));
  }
  return entries;
}

// An owner opens folders to the web server's user, one more each row (those checked
// first last), who puts a link where root writes: a run as root is refused with the
// fix and changes nothing.
TEST(WebServer, LinksInAFolderOpenToTheWebServersUserAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "only root gives the folders to the web server's user";
  ServedInstallation served;
  START_SERVED(served);
  const passwd* user = getpwnam(served.web_user().c_str());
  const std::string root = served.prefix(), www = root + "/www", q = www + "/quillmoray", secret = root + "/secret";
  std::ofstream(secret) << "secret\n";
  const std::string install = "bash " QM_SOURCE_DIR "/scripts/install.sh --password p --build " QM_BIN_DIR " --prefix ";
  struct {
    std::string open;  // with its mode; the link put there (in place of what is there)
    mode_t mode;
    std::string link, to = "", run = "", says = "";  // defaults: the secret, the install, the fix
  } plants[] = {
      {root + "/apache", 0777, root + "/apache/quillmoray.conf"},
      {root + "/lighttpd", 0775, root + "/lighttpd/server.conf"},
      {root + "/lighttpd", 01775, root + "/lighttpd/quillmoray.conf.new"},
      {q + "/imgs", 01775, q + "/imgs/i.gif.new"}, {q, 0775, q + "/tracker.cgi.new"}, {q, 01775, q + "/zz.html"},
      {q, 0775, q + "/config.cfg"}, {q + "/data", 0700, q + "/data/via", root, install + q + "/data/via", "not root's"},
      {www, 01775, www + "/index.html", "", "bash " QM_SOURCE_DIR "/scripts/demo-site.sh " + www + " x"},
      {www, 0775, q}, {www, 0777, www + "/x", "", install + www + "/new/prefix", "g-w,o-w " + www + ","},
      {root, 01777, root + "/apache"},
  };
  for (const auto& plant : plants) {
    ASSERT_EQ(chown(plant.open.c_str(), 0, user->pw_gid) | chmod(plant.open.c_str(), plant.mode), 0);
    rename(plant.link.c_str(), (plant.link + ".moved").c_str());
    ASSERT_EQ(symlink((plant.to.empty() ? secret : plant.to).c_str(), plant.link.c_str()) |
                  lchown(plant.link.c_str(), user->pw_uid, user->pw_gid), 0);
    const auto before = snapshot(root);
    int status = 0;
    const std::string said = output_of(plant.run.empty() ? install + root : plant.run, &status);
    EXPECT_NE(status, 0) << plant.link;
    EXPECT_NE(said.find(plant.says.empty() ? "g-w,o-w " + plant.open + ";" : plant.says), std::string::npos) << said;
    EXPECT_EQ(snapshot(root), before) << plant.link;
  }
}

// Every static file that a page of the installation names is there, and help.html
// has an anchor for every help code: the start page, the error page, a report page
// with every section, the parse pages and the installation's own pages.
TEST(WebServer, EveryStaticFileThePagesNameIsInstalled) {
  ServedInstallation served;
  START_SERVED(served);
  served.write("dat_acp.cfg", "Spring newsletter | newsletter.example.com\n");

  struct Page {
    std::string name, url, body;
  };
  std::vector<Page> pages;
  const std::string program = served.url() + "/report.cgi";
  pages.push_back({"start page", program, report(served, {{"type", "login"}})});
  pages.push_back({"error page", program, report(served, {{"type", "nothing"}})});
  pages.push_back({"parse-start page", program, parse_traffic(served)});
  pages.push_back({"completion page", served.url() + "/status.html", served.get("/quillmoray/status.html").body});
  pages.push_back({"report page", program, report(served, {{"type", "cday"}})});
  ASSERT_NE(pages.back().body.find("imgs/a.gif"), std::string::npos) << "the report page lacks a path";
  ASSERT_NE(pages.back().body.find("imgs/c_r.gif"), std::string::npos) << "the report page lacks referrers";
  pages.push_back({"summary page", program, report(served, {{"type", "lsumm"}})});
  // A parse without hits ends on the parser's error page.
  report(served, {{"type", "parse"}});
  EXPECT_FALSE(served.wait_for_status("never shown", 10));
  pages.push_back({"parser's error page", served.url() + "/status.html", served.get("/quillmoray/status.html").body});
  EXPECT_NE(pages.back().body.find("<b>ERROR:</b>"), std::string::npos) << pages.back().body;
  for (const char* own : {"login.html", "tracking.html", "help.html"}) {
    pages.push_back({own, served.url() + "/" + own, served.get(std::string("/quillmoray/") + own).body});
  }

  const std::regex reference(R"re((?:src|href|url)=(?:"([^"]*)"|([^ >"]+)))re", std::regex::icase);
  const std::regex help_code(R"(help\('([A-Z]{3})'\))");
  // No link opens another site in a window of its own that gets a hold on the page.
  const std::regex opener(R"re(<a (?![^>]*noopener)(?=[^>]*target=)[^>]*href="?http://(?!127\.0\.0\.1:))re");
  std::set<std::string> files, codes;
  for (const Page& page : pages) {
    ASSERT_FALSE(page.body.empty()) << page.name;
    EXPECT_FALSE(std::regex_search(page.body, opener)) << page.name;
    const std::string folder = page.url.substr(0, page.url.rfind('/') + 1);
    for (std::sregex_iterator it(page.body.begin(), page.body.end(), reference), end; it != end; ++it) {
      std::string target = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
      if (target.empty() || target[0] == '#' || target.rfind("javascript:", 0) == 0) continue;
      // The start page's link to the configuration page leads nowhere: no program serves it.
      if (target == "config.cgi") continue;
      if (target.rfind("http://", 0) == 0) {
        if (target.rfind(served.site() + "/", 0) != 0) continue;  // another site
        target = target.substr(served.site().size());
      } else if (target[0] != '/') {
        target = folder.substr(served.site().size()) + target;
      }
      files.insert(target.substr(0, target.find('#')) + "  (named by the " + page.name + ")");
    }
    for (std::sregex_iterator it(page.body.begin(), page.body.end(), help_code), end; it != end; ++it) {
      codes.insert((*it)[1]);
    }
  }
  int checked = 0;
  for (const std::string& named : files) {
    std::string target = named.substr(0, named.find("  "));
    // The installation's files; the tracked site's pages (in the referrer lists) are
    // not the installation's. The graph applet is not part of it at all.
    if (target.rfind("/quillmoray/", 0) != 0 || target.find(".cgi") != std::string::npos) continue;
    EXPECT_EQ(served.get(target).status, 200) << named;
    ++checked;
  }
  EXPECT_GE(checked, 20);
  const std::string help = served.get("/quillmoray/help.html").body;
  EXPECT_GE(codes.size(), 19u);
  // The sections that the tracker's hit lines never fill (status codes, file types,
  // files, host names on a loopback address) and the configuration page.
  codes.insert({"CDS", "TPS", "FLS", "DMN", "HST", "CFG"});
  for (const std::string& code : codes) {
    EXPECT_NE(help.find("<a name=" + code + " id=" + code + ">"), std::string::npos) << code;
  }
}
