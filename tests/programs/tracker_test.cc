#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cctype>
#include <cstring>
#include <ctime>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/cgi_harness.h"
#include "support/step_hooks.h"

namespace {

const std::string& tracker() {
  static const std::string path = program_path("tracker/tracker.cgi");
  return path;
}

std::string answer(const std::string& location) {
  return "Content-type: image/gif\nCache-Control: no-cache\nPragma: no-cache\nExpires: 0\n"
         "Location: " + location + "\r\n\r\n";
}
std::string redirect(const std::string& dir) { return answer(dir + "/imgs/i.gif"); }

// A request as a tracked page makes it to the tracker at http://site.example/qm/,
// with a known host (no name lookup).
CgiEnv hit_env(const std::string& query = "dir=http://site.example/qm&ref=http%3A%2F%2Fsearch.example%2F%3Fq%3Da%2Bb") {
  return {{"QUERY_STRING", query},
          {"HTTP_HOST", "site.example"},
          {"SCRIPT_NAME", "/qm/tracker.cgi"},
          {"REMOTE_ADDR", "192.0.2.7"},
          {"REMOTE_HOST", "client.example.net"},
          {"HTTP_REFERER", "http://site.example/docs/page.html?x=1"},
          {"HTTP_USER_AGENT", "Mozilla/5.0 (X11; Linux x86_64)"},
          {"REQUEST_METHOD", "GET"},
          {"TZ", "UTC0"}};
}

// True when the text begins with a stamp "MM/DD/YYYY hh:mm:ss ".
bool has_stamp(const std::string& line) {
  const std::string mask = "99/99/9999 99:99:99 ";
  if (line.size() < mask.size()) return false;
  for (size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] == '9' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != mask[i]) return false;
  }
  return true;
}

// Seconds since the epoch of a line's leading stamp, read in a zone `offset` seconds east of UTC.
time_t stamp_time(const std::string& line, long offset = 0) {
  if (!has_stamp(line)) return -1;
  struct tm t {};
  t.tm_mon = std::stoi(line.substr(0, 2)) - 1;
  t.tm_mday = std::stoi(line.substr(3, 2));
  t.tm_year = std::stoi(line.substr(6, 4)) - 1900;
  t.tm_hour = std::stoi(line.substr(11, 2));
  t.tm_min = std::stoi(line.substr(14, 2));
  t.tm_sec = std::stoi(line.substr(17, 2));
  return timegm(&t) - offset;
}

// The fields of a hit line split as the log parser splits it (each separator
// ends the field before it), or nothing when the line is not one well-formed
// hit line: a stamp, eleven fields, no double quote inside a field, one line feed at the end.
std::vector<std::string> hit_fields(const std::string& line) {
  static const char* const kSeparators[] = {"/", "/", " ", ":", ":", " ", " ", " \"", "\" \"", "\" \"", "\"\n"};
  std::vector<std::string> fields;
  if (!has_stamp(line) || line.find('\n') != line.size() - 1) return {};
  size_t at = 0;
  for (const char* separator : kSeparators) {
    size_t end = line.find(separator, at);
    if (end == std::string::npos) return {};
    fields.push_back(line.substr(at, end - at));
    if (fields.back().find('"') != std::string::npos) return {};
    at = end + std::strlen(separator);
  }
  if (at != line.size()) return {};
  return fields;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(from, end - from));
    from = end;
  }
  return lines;
}

// Runs the tracker and returns its one hit line without the 20-byte stamp,
// after checking the stamp against the clock around the run.
std::string recorded_line(CgiSandbox& box, const CgiEnv& env, CgiResult* result = nullptr) {
  time_t before = time(nullptr);
  CgiResult r = box.run(tracker(), env);
  time_t after = time(nullptr);
  if (result) *result = r;
  EXPECT_EQ(r.exit_status, 0);
  std::vector<std::string> lines = lines_of(box.read_file("data/qmy.log"));
  EXPECT_EQ(lines.size(), 1u);
  if (lines.size() != 1) return "";
  time_t stamp = stamp_time(lines[0]);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(hit_fields(lines[0]).size(), 11u) << lines[0];
  return lines[0].substr(20);
}

// The error-log lines without their stamps, after checking each stamp's form.
std::vector<std::string> error_lines(const CgiSandbox& box) {
  std::vector<std::string> result;
  for (const std::string& line : lines_of(box.read_file("data/err.log"))) {
    EXPECT_TRUE(has_stamp(line)) << line;
    result.push_back(line.substr(20));
  }
  return result;
}

// Holds the tracker's lock from the test process.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path) : fd_(open(path.c_str(), O_WRONLY | O_CREAT, 0200)) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 4;
    locked_ = fd_ >= 0 && fcntl(fd_, F_SETLK, &lock) == 0;
  }
  ~HeldLock() { release(); }
  bool locked() const { return locked_; }
  void release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  bool locked_ = false;
};

}  // namespace

TEST(Tracker, VersionAnswerOnly) {
  CgiSandbox box;
  CgiResult r = box.run(tracker(), {{"QUERY_STRING", "VERSION"}, {"REMOTE_HOST", "h"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "Content-type: text/html\r\n\r\n<tt>Version: 3.3.000 IMG</tt>");
  EXPECT_FALSE(box.exists("data/qmy.log"));
  EXPECT_FALSE(box.exists("data/err.log"));
  EXPECT_FALSE(box.exists("data/stt.lck"));

  for (const char* query : {"version", "VERSION ", "VERSIONx"}) {
    CgiSandbox other;
    CgiResult o = other.run(tracker(), {{"QUERY_STRING", query}, {"TZ", "UTC0"}});
    EXPECT_EQ(o.exit_status, 0);
    EXPECT_EQ(o.out, redirect("")) << query;
    EXPECT_EQ(error_lines(other), std::vector<std::string>{"ERR_INP STTS na na\n"}) << query;
    EXPECT_FALSE(other.exists("data/qmy.log"));
  }
}

TEST(Tracker, RecordsOneHitLine) {
  CgiSandbox box;
  CgiResult r;
  std::string line = recorded_line(box, hit_env(), &r);
  EXPECT_EQ(r.out, redirect("http://site.example/qm"));
  EXPECT_EQ(line, "192.0.2.7 client.example.net \"/docs/page.html?x=1\" \"http://search.example/?q=a+b\" "
                  "\"Mozilla/5.0 (X11; Linux x86_64)\"\n");
  EXPECT_FALSE(box.exists("data/err.log"));
  struct stat status {};
  ASSERT_EQ(stat(box.path("data/stt.lck").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0200u);

  // A second hit is appended after the first.
  box.run(tracker(), hit_env("dir=d&ref=second"));
  std::vector<std::string> lines = lines_of(box.read_file("data/qmy.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(20), line);
  EXPECT_NE(lines[1].find("\"second\""), std::string::npos);
}

TEST(Tracker, RedirectsOnlyToItsOwnImage) {
  // The tracker of http://site.example/qm/; every request is recorded.
  const std::string own = "http://site.example/qm/imgs/i.gif";
  struct Case {
    std::string dir;
    CgiEnv place;  // replaces the request's variables; "-" unsets one
    std::string location;
  } cases[] = {
      {"http://site.example/qm", {}, own},
      {"HTTPS://Site.EXAMPLE./st", {}, "HTTPS://Site.EXAMPLE./st/imgs/i.gif"},  // neither gives a port
      {"http://site.example:80/qm", {}, "http://site.example:80/qm/imgs/i.gif"},
      {"http://site.example:8080/qm", {}, own},
      {"http://site.example:8080/qm", {{"HTTP_HOST", "Site.example:8080"}}, "http://site.example:8080/qm/imgs/i.gif"},
      {"https://evil.example/phish?", {}, own},
      {"//evil.example", {}, own},
      {"/qm/tracker.cgi?dir=/qm", {}, own},
      {"http://site.example@evil.example", {}, own},
      {"http://evil.example\\@site.example/", {}, own},
      {"http://site.example.evil.example/qm", {}, own},
      {"http://site.example/qm#x", {}, own},
      {"http://site.example/a\r\nSet-Cookie: a=1", {}, own},
      {"javascript:alert(1)", {}, own},
      {"http://[::1]:8080/qm", {{"HTTP_HOST", "[::1]:8080"}}, "http://[::1]:8080/qm/imgs/i.gif"},
      {"http://[::2]:8080/qm", {{"HTTP_HOST", "[::1]:8080"}}, "http://[::1]:8080/qm/imgs/i.gif"},
      // A host header that is not a host: the server's name and port.
      {"http://site.example:8080/qm",
       {{"HTTP_HOST", "evil.example\r\nX: y"}, {"SERVER_NAME", "site.example"}, {"SERVER_PORT", "8080"}},
       "http://site.example:8080/qm/imgs/i.gif"},
      {"d",
       {{"HTTP_HOST", "-"}, {"SERVER_NAME", "site.example"}, {"SERVER_PORT", "443"}, {"HTTPS", "on"}},
       "https://site.example/qm/imgs/i.gif"},
      {"d", {{"SCRIPT_NAME", "/a b\r\n/t.cgi"}}, "http://site.example/a%20b%0D%0A/imgs/i.gif"},
      // No host at all: the folder's path, never a protocol-relative address.
      {"http://site.example/qm", {{"HTTP_HOST", "-"}, {"SCRIPT_NAME", "//evil.example/t.cgi"}},
       "/evil.example/imgs/i.gif"},
  };
  for (const Case& c : cases) {
    CgiSandbox box;
    CgiEnv env = hit_env("dir=" + c.dir + "&ref=r");
    for (const auto& [name, value] : c.place) {
      if (value == "-") {
        env.erase(name);
      } else {
        env[name] = value;
      }
    }
    CgiResult r;
    EXPECT_NE(recorded_line(box, env, &r), "") << c.dir;
    EXPECT_EQ(r.out, answer(c.location)) << c.dir;
  }
}

TEST(Tracker, StampIsLocalTime) {
  CgiSandbox box;
  CgiEnv env = hit_env();
  env["TZ"] = "XST-5";  // five hours east of UTC
  time_t before = time(nullptr);
  box.run(tracker(), env);
  time_t after = time(nullptr);
  time_t stamp = stamp_time(box.read_file("data/qmy.log"), 5 * 3600);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
}

TEST(Tracker, RefusedRequestsGetTheRedirectAndAnInputError) {
  struct Case {
    const char* query;
    const char* dir;
  } cases[] = {{"ref=abc", "http://site.example/qm"},
               {"dir=&ref=abc", "http://site.example/qm"},
               {"dir=http://site.example/a", "http://site.example/a"},
               {"dir=http://site.example/a&x=1", "http://site.example/a"},
               {"", "http://site.example/qm"}};
  for (const Case& c : cases) {
    CgiSandbox box;
    CgiEnv env = hit_env(c.query);
    CgiResult r = box.run(tracker(), env);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, redirect(c.dir)) << c.query;
    EXPECT_EQ(error_lines(box),
              std::vector<std::string>{"ERR_INP STTS 192.0.2.7 Mozilla/5.0 (X11; Linux x86_64)\n"})
        << c.query;
    EXPECT_FALSE(box.exists("data/qmy.log"));
    EXPECT_FALSE(box.exists("data/stt.lck"));
  }
  // No query at all, no address and no agent: "na" in both places.
  CgiSandbox box;
  CgiResult r = box.run(tracker(), {{"TZ", "UTC0"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, redirect(""));
  EXPECT_EQ(error_lines(box), std::vector<std::string>{"ERR_INP STTS na na\n"});
}

TEST(Tracker, ErrorLineCarriesTheStartTime) {
  CgiSandbox box;
  time_t before = time(nullptr);
  box.run(tracker(), {{"QUERY_STRING", "x"}, {"TZ", "UTC0"}});
  time_t after = time(nullptr);
  time_t stamp = stamp_time(box.read_file("data/err.log"));
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
}

TEST(Tracker, KeyOrderAndCut) {
  {
    CgiSandbox box;
    // dir first: the referrer runs to the end of the query, third key included.
    std::string line = recorded_line(box, hit_env("dir=http://s/qm&ref=r%2F1&z=9"));
    EXPECT_NE(line.find(" \"r/1&z=9\" "), std::string::npos) << line;
  }
  {
    CgiSandbox box;
    // ref first: the referrer ends at the "&", the dir value runs to the end.
    CgiResult r;
    std::string line = recorded_line(box, hit_env("ref=r%2F1&dir=http://site.example/qm&z=9"), &r);
    EXPECT_EQ(r.out, redirect("http://site.example/qm&z=9"));
    EXPECT_NE(line.find(" \"r/1\" "), std::string::npos) << line;
  }
  {
    CgiSandbox box;
    // The dir value is never decoded.
    CgiResult r;
    recorded_line(box, hit_env("dir=http://site.example/%7Eme&ref=x"), &r);
    EXPECT_EQ(r.out, redirect("http://site.example/%7Eme"));
  }
  {
    CgiSandbox box;
    // Only the first 255 characters of the query count.
    std::string query = "dir=d&ref=" + std::string(245, 'r');
    std::string line = recorded_line(box, hit_env(query + "STUFF"));
    EXPECT_NE(line.find(" \"" + std::string(245, 'r') + "\" "), std::string::npos);
  }
  {
    CgiSandbox box;
    // A key beyond the 255th character counts as absent.
    CgiResult r = box.run(tracker(), hit_env("dir=d&x=" + std::string(250, 'x') + "&ref=late"));
    EXPECT_EQ(r.out, redirect("http://site.example/qm"));
    EXPECT_FALSE(box.exists("data/qmy.log"));
    EXPECT_EQ(error_lines(box).size(), 1u);
  }
}

TEST(Tracker, ReferrerValues) {
  struct Case {
    const char* query;
    const char* referrer;
  } cases[] = {
      {"dir=d&ref=", "-"},                // empty: "-"
      {"dir=d&ref=a+b%20c", "a+b c"},     // "+" stays
      {"dir=d&ref=ab%zzcd", "ab"},        // not hexadecimal: ends the value
      {"dir=d&ref=ab%4", "ab%04"},        // trailing "%4": byte 4, written encoded
      {"dir=d&ref=%E2%82%AC", "\xe2\x82\xac"},
  };
  for (const Case& c : cases) {
    CgiSandbox box;
    std::string line = recorded_line(box, hit_env(c.query));
    EXPECT_NE(line.find(std::string(" \"") + c.referrer + "\" \"Mozilla"), std::string::npos)
        << c.query << " -> " << line;
  }
}

TEST(Tracker, PageFromTheRefererHeader) {
  struct Case {
    const char* referer;  // null: unset
    const char* page;
  } cases[] = {{"http://site.example", "-"},
               {"http://site.example/", "/"},
               {"https://site.example/a/b.html?q=1#frag", "/a/b.html?q=1#frag"},
               {"site.example/a.html", "-"},
               {nullptr, "-"}};
  for (const Case& c : cases) {
    CgiSandbox box;
    CgiEnv env = hit_env("dir=d&ref=r");
    if (c.referer) {
      env["HTTP_REFERER"] = c.referer;
    } else {
      env.erase("HTTP_REFERER");
    }
    std::string line = recorded_line(box, env);
    EXPECT_NE(line.find(std::string("net \"") + c.page + "\" \"r\""), std::string::npos) << line;
  }
}

TEST(Tracker, AddressAndHost) {
  {
    CgiSandbox box;
    CgiEnv env = hit_env("dir=d&ref=r");
    env["REMOTE_HOST"] = "";  // set though empty: no lookup, two blanks
    env.erase("HTTP_USER_AGENT");
    EXPECT_EQ(recorded_line(box, env), "192.0.2.7  \"/docs/page.html?x=1\" \"r\" \"-\"\n");
  }
  {
    CgiSandbox box;
    CgiEnv env = hit_env("dir=d&ref=r");
    env.erase("REMOTE_ADDR");
    EXPECT_EQ(recorded_line(box, env),
              "- client.example.net \"/docs/page.html?x=1\" \"r\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n");
  }
  for (const char* address : {"::1", "2001:db8::5"}) {
    // Not an IPv4 address: no lookup, the host is the address text.
    CgiSandbox box;
    CgiEnv env = hit_env("dir=d&ref=r");
    env.erase("REMOTE_HOST");
    env["REMOTE_ADDR"] = address;
    std::string a = address;
    EXPECT_EQ(recorded_line(box, env),
              a + " " + a + " \"/docs/page.html?x=1\" \"r\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n");
  }
  {
    // Neither variable: the hit log is opened (and created) but nothing is written.
    CgiSandbox box;
    CgiEnv env = hit_env("dir=d&ref=r");
    env.erase("REMOTE_HOST");
    env.erase("REMOTE_ADDR");
    CgiResult r = box.run(tracker(), env);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, redirect("http://site.example/qm"));
    EXPECT_TRUE(box.exists("data/qmy.log"));
    EXPECT_EQ(box.read_file("data/qmy.log"), "");
    EXPECT_FALSE(box.exists("data/err.log"));
  }
}

TEST(Tracker, ReverseLookupRoad) {
  // Without REMOTE_HOST the IPv4 address is looked up: the host is a resolved
  // name or, when the lookup finds none, the address itself.
  CgiSandbox box;
  CgiEnv env = hit_env("dir=d&ref=r");
  env.erase("REMOTE_HOST");
  env["REMOTE_ADDR"] = "127.0.0.1";
  std::string line = recorded_line(box, env);
  std::vector<std::string> fields = hit_fields("01/01/2000 00:00:00 " + line);
  ASSERT_EQ(fields.size(), 11u) << line;
  EXPECT_EQ(fields[6], "127.0.0.1");
  EXPECT_FALSE(fields[7].empty());
  EXPECT_EQ(fields[7].find(' '), std::string::npos);
  EXPECT_EQ(fields[8], "/docs/page.html?x=1");
  EXPECT_EQ(fields[9], "r");
}

TEST(Tracker, ForgedValuesStayInTheirFields) {
  CgiSandbox box;
  CgiEnv env = hit_env(
      "dir=d&ref=x%22%0A01/01/2000%2000:00:00%201.1.1.1%20evil%20%22/p%22%20%22r%22%20%22u%0D%09%7F%22");
  env["HTTP_REFERER"] = "http://site.example/a\"b.html";
  env["HTTP_USER_AGENT"] = "Agent \"1\"\x01";
  env["REMOTE_HOST"] = "evil\"host\nx";
  env["REMOTE_ADDR"] = "10.0.0.1 forged";
  std::string line = recorded_line(box, env);
  EXPECT_EQ(line,
            "10.0.0.1%20forged evil%22host%0Ax \"/a%22b.html\" "
            "\"x%22%0A01/01/2000 00:00:00 1.1.1.1 evil %22/p%22 %22r%22 %22u%0D%09%7F%22\" "
            "\"Agent %221%22%01\"\n");
  // The error log's fields are made safe the same way.
  CgiSandbox refused;
  env["QUERY_STRING"] = "ref=r";
  refused.run(tracker(), env);
  EXPECT_EQ(error_lines(refused),
            std::vector<std::string>{"ERR_INP STTS 10.0.0.1%20forged Agent %221%22%01\n"});
}

TEST(Tracker, LongValuesAreCut) {
  CgiSandbox box;
  CgiEnv env = hit_env("dir=d&ref=" + std::string(245, '"'));
  env["HTTP_REFERER"] = "http://site.example/" + std::string(60000, 'p');
  env["HTTP_USER_AGENT"] = std::string(60000, 'u');
  env["REMOTE_HOST"] = std::string(60000, 'h');
  std::string line = recorded_line(box, env);
  EXPECT_EQ(line, "192.0.2.7 " + std::string(255, 'h') + " \"/" + std::string(2047, 'p') + "\" \"" +
                      [] {
                        std::string quotes;
                        for (int i = 0; i < 245; ++i) quotes += "%22";
                        return quotes;
                      }() +
                      "\" \"" + std::string(1024, 'u') + "\"\n");
}

TEST(Tracker, FileErrors) {
  // Each setup makes one file of the hit's road unusable; each gives an "ERR_FIL"
  // line and the usual answer.
  struct Case {
    const char* what;
    bool (*setup)(const CgiSandbox&);
  } cases[] = {
      {"lock file cannot be opened",
       [](const CgiSandbox& box) { return mkdir(box.path("data/stt.lck").c_str(), 0755) == 0; }},
      {"hit log cannot be opened",
       [](const CgiSandbox& box) { return mkdir(box.path("data/qmy.log").c_str(), 0755) == 0; }},
      {"hit line cannot be written",
       [](const CgiSandbox& box) { return symlink("/dev/full", box.path("data/qmy.log").c_str()) == 0; }},
  };
  for (const Case& c : cases) {
    CgiSandbox box;
    ASSERT_TRUE(c.setup(box)) << c.what;
    CgiResult r = box.run(tracker(), hit_env());
    EXPECT_EQ(r.exit_status, 0) << c.what;
    EXPECT_EQ(r.out, redirect("http://site.example/qm")) << c.what;
    EXPECT_EQ(error_lines(box),
              std::vector<std::string>{"ERR_FIL STTS 192.0.2.7 Mozilla/5.0 (X11; Linux x86_64)\n"})
        << c.what;
  }
  {
    // No data folder at all: the answer is the same, the error line is dropped.
    CgiSandbox box;
    rmdir(box.path("data").c_str());
    CgiResult r = box.run(tracker(), hit_env());
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, redirect("http://site.example/qm"));
    EXPECT_FALSE(box.exists("data"));
  }
}

TEST(Tracker, WaitsForTheLockAndStampsAfterIt) {
  CgiSandbox hits;
  CgiSandbox failing;
  mkdir(failing.path("data/qmy.log").c_str(), 0755);
  HeldLock hits_lock(hits.path("data/stt.lck"));
  HeldLock failing_lock(failing.path("data/stt.lck"));
  ASSERT_TRUE(hits_lock.locked());
  ASSERT_TRUE(failing_lock.locked());

  time_t started = time(nullptr);
  pid_t hit = hits.start(tracker(), hit_env());
  pid_t fail = failing.start(tracker(), hit_env());
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  // Still waiting: the hit log is opened only under the lock.
  EXPECT_FALSE(hits.exists("data/qmy.log"));
  EXPECT_FALSE(failing.exists("data/err.log"));
  time_t released = time(nullptr);
  hits_lock.release();
  failing_lock.release();
  EXPECT_EQ(CgiSandbox::finish(hit), 0);
  EXPECT_EQ(CgiSandbox::finish(fail), 0);

  // The hit line is stamped when it is written, the error line with the start time.
  EXPECT_GE(stamp_time(hits.read_file("data/qmy.log")), released);
  time_t error_stamp = stamp_time(failing.read_file("data/err.log"));
  EXPECT_GE(error_stamp, started);
  EXPECT_LT(error_stamp, released);
}

TEST(Tracker, LooksTheNameUpBeforeTakingTheLock) {
  // A slow lookup must not hold up every other hit of the site: while another
  // process holds the lock, the waiting tracker has already looked the name up.
  CgiSandbox box;
  HeldLock held(box.path("data/stt.lck"));
  ASSERT_TRUE(held.locked());
  CgiEnv env = hit_env("dir=d&ref=r");
  env.erase("REMOTE_HOST");
  env["REMOTE_ADDR"] = "192.0.2.50";
  env["QM_LOOKUP_MARK"] = box.path("looked-up");
  preload_step_hooks(env);
  pid_t pid = box.start(tracker(), env);
  for (int tries = 0; tries < 1000 && !box.exists("looked-up"); ++tries) usleep(10 * 1000);
  EXPECT_TRUE(box.exists("looked-up"));
  EXPECT_FALSE(box.exists("data/qmy.log"));
  time_t released = time(nullptr);
  held.release();
  EXPECT_EQ(CgiSandbox::finish(pid), 0);
  // Stamped and written under the lock, with the name found.
  std::string line = box.read_file("data/qmy.log");
  std::vector<std::string> fields = hit_fields(line);
  ASSERT_EQ(fields.size(), 11u) << line;
  EXPECT_EQ(fields[6], "192.0.2.50");
  EXPECT_EQ(fields[7], "looked-up.example");
  EXPECT_GE(stamp_time(line), released);
}

TEST(Tracker, HundredAtOnceLandAsIntactLines) {
  CgiSandbox box;
  const int kRuns = 100;
  std::vector<pid_t> pids;
  for (int i = 0; i < kRuns; ++i) {
    CgiEnv env = hit_env("dir=http://s/qm&ref=ref" + std::to_string(i));
    env["REMOTE_HOST"] = "host" + std::to_string(i);
    env["HTTP_USER_AGENT"] = "agent" + std::to_string(i) + " " + std::string(900, 'a' + i % 26);
    pids.push_back(box.start(tracker(), env));
  }
  for (pid_t pid : pids) EXPECT_EQ(CgiSandbox::finish(pid), 0);

  std::vector<std::string> lines = lines_of(box.read_file("data/qmy.log"));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kRuns));
  std::set<int> seen;
  time_t previous = 0;
  for (const std::string& line : lines) {
    std::vector<std::string> fields = hit_fields(line);
    ASSERT_EQ(fields.size(), 11u) << line.substr(0, 120);
    ASSERT_EQ(fields[7].compare(0, 4, "host"), 0) << fields[7];
    const int i = std::stoi(fields[7].substr(4));
    const std::string n = std::to_string(i);
    EXPECT_EQ(fields[6], "192.0.2.7");
    EXPECT_EQ(fields[8], "/docs/page.html?x=1");
    EXPECT_EQ(fields[9], "ref" + n);
    EXPECT_EQ(fields[10], "agent" + n + " " + std::string(900, 'a' + i % 26));
    seen.insert(i);
    time_t stamp = stamp_time(line);
    EXPECT_GE(stamp, previous);  // in time order
    previous = stamp;
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kRuns));
  EXPECT_FALSE(box.exists("data/err.log"));
}
