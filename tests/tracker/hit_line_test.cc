#include "tracker/hit_line.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

HitLine sample_hit() {
  HitLine hit;
  hit.time.year = 2024;
  hit.time.month = 3;
  hit.time.day = 7;
  hit.time.hour = 9;
  hit.time.minute = 5;
  hit.time.second = 2;
  hit.address = "192.0.2.1";
  hit.host = "client.example.net";
  hit.page = "/docs/a.html?x=1#top";
  hit.referrer = "http://search.example/?q=a+b";
  hit.user_agent = "Mozilla/5.0 (X11; Linux x86_64)";
  return hit;
}

}  // namespace

TEST(HitLine, ByteForByte) {
  EXPECT_EQ(format_hit_line(sample_hit()),
            "03/07/2024 09:05:02 192.0.2.1 client.example.net \"/docs/a.html?x=1#top\" "
            "\"http://search.example/?q=a+b\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n");
  HitLine plain;
  plain.time.year = 812;
  plain.time.month = 12;
  plain.time.day = 31;
  plain.time.hour = 23;
  plain.time.minute = 59;
  plain.time.second = 59;
  EXPECT_EQ(format_hit_line(plain), "12/31/812 23:59:59 -  \"-\" \"-\" \"-\"\n");
}

TEST(HitLine, ControlBytesAndQuotesAreEncoded) {
  HitLine hit = sample_hit();
  hit.referrer = "x\"\n03/07/2024 09:05:02 1.1.1.1 h \"/p\" \"r\" \"u";
  hit.page = "/a\"b\rc";
  hit.user_agent = "Agent \"quoted\"\t\x7f";
  hit.host = "h\no st";
  hit.address = "1.2.3.4 x";
  std::string line = format_hit_line(hit);
  EXPECT_EQ(line,
            "03/07/2024 09:05:02 1.2.3.4%20x h%0Ao st \"/a%22b%0Dc\" "
            "\"x%22%0A03/07/2024 09:05:02 1.1.1.1 h %22/p%22 %22r%22 %22u\" "
            "\"Agent %22quoted%22%09%7F\"\n");
  EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(HitLine, FieldsAreCut) {
  EXPECT_EQ(log_field("abcdef", 4), "abcd");
  EXPECT_EQ(log_field("ab\ncd", 4), "ab");  // an escape is never split
  EXPECT_EQ(log_field("ab\ncd", 5), "ab%0A");
  EXPECT_EQ(log_field("a b", 10), "a b");
  EXPECT_EQ(log_field("a b", 10, true), "a%20b");
  EXPECT_EQ(log_field("\xc3\xa9t\xc3\xa9 %", 20), "\xc3\xa9t\xc3\xa9 %");  // others unchanged

  std::string huge(100000, '"');
  HitLine hit = sample_hit();
  hit.address = huge.c_str();
  hit.host = huge.c_str();
  hit.page = huge.c_str();
  hit.referrer = huge.c_str();
  hit.user_agent = huge.c_str();
  std::string line = format_hit_line(hit);
  EXPECT_LE(line.size(), 20u + 255 + 255 + 2048 + 1024 + 1024 + 10);
  EXPECT_LT(line.size(), 20480u / 2);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(HitLine, PageFromReferer) {
  EXPECT_STREQ(page_from_referer("http://www.example.com/a/b.html"), "/a/b.html");
  EXPECT_STREQ(page_from_referer("https://example.com/s?q=1&r=2#f"), "/s?q=1&r=2#f");
  EXPECT_STREQ(page_from_referer("http://www.example.com"), "-");  // home page without "/"
  EXPECT_STREQ(page_from_referer("http://www.example.com/"), "/");
  EXPECT_STREQ(page_from_referer("www.example.com/a"), "-");  // no "://"
  EXPECT_STREQ(page_from_referer("-"), "-");
  EXPECT_STREQ(page_from_referer(""), "-");
}

TEST(HitLine, AppendsAndCutsBackAFailedWrite) {
  char pattern[] = "/tmp/qm-hitline-XXXXXX";
  int fd = mkstemp(pattern);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string path = pattern;
  {
    FILE* log = std::fopen(path.c_str(), "a");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(append_log_line(log, "first line\n"), 0);
    EXPECT_EQ(std::fclose(log), 0);
  }
  // A child limited to 20 bytes of file size cannot write the second line whole.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {20, 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    FILE* log = std::fopen(path.c_str(), "a");
    if (!log) _exit(2);
    int status = append_log_line(log, "a second line that does not fit\n");
    std::fclose(log);
    _exit(status == -1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "first line\n");
  std::remove(path.c_str());
}
