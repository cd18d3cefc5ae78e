#include "parser/line_accounting.h"

#include <gtest/gtest.h>

#include <string>

#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/memory.h"
#include "parser_fixture.h"

namespace {

using LineAccounting = ParserFixture;

int32_t count_of(const siArr& table, const std::string& key) {
  int32_t number = -1;
  if (!table.keys.find(key.c_str(), &number)) return 0;
  return table.data[number];
}

std::string key_of(const siArr& table, int32_t number) { return table.keys.strings[number]; }

TEST_F(LineAccounting, FirstLineStartsTheDayAndCountsEverything) {
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 5, "192.0.2.1", "/index.html", "http://www.Search.example/q?x=Y",
                           "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", "dsl-1.example-isp.de")),
            0);
  EXPECT_EQ(parser.current_day.year, 2003);
  EXPECT_EQ(parser.current_day.month, 5);
  EXPECT_EQ(parser.current_day.day, 17);
  EXPECT_EQ(parser.traffic.first_date.day, 17);
  EXPECT_EQ(parser.line_time.second, 5);
  EXPECT_EQ(parser.traffic.hits, 1);
  EXPECT_EQ(parser.traffic.bytes, 0);  // the built-in format has no byte field
  EXPECT_EQ(parser.traffic.hourly_page_views[10], 1);
  EXPECT_EQ(parser.traffic.hourly_visitors[10], 1);
  EXPECT_EQ(parser.traffic.os[OS_WINDOWS_XP], 1);
  EXPECT_EQ(parser.traffic.msie[5], 1);
  EXPECT_EQ(parser.cds.count, 0);
  EXPECT_EQ(count_of(parser.pgs.views, "/index.html"), 1);
  EXPECT_EQ(parser.visitors->count(), 1);
  EXPECT_EQ(count_of(parser.hst, "example-isp.de"), 1);
  EXPECT_EQ(count_of(parser.url, "http://www.search.example/q?x=Y"), 1);
  ASSERT_EQ(parser.paths.session_count, 1);
  EXPECT_EQ(parser.paths.sessions[0]->second, 5);
}

TEST_F(LineAccounting, SecondViewOfAVisitor) {
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 5, "192.0.2.1", "/a.html", "http://other.example/")), 0);
  ASSERT_EQ(count(hit_line(5, 17, 11, 0, 0, "192.0.2.1", "/b.html", "http://other.example/x")), 0);
  EXPECT_EQ(parser.traffic.hits, 2);
  EXPECT_EQ(parser.traffic.hourly_page_views[10], 1);
  EXPECT_EQ(parser.traffic.hourly_page_views[11], 1);
  EXPECT_EQ(parser.traffic.hourly_visitors[10], 1);
  EXPECT_EQ(parser.traffic.hourly_visitors[11], 0);
  EXPECT_EQ(parser.traffic.os[OS_WINDOWS_XP], 1);
  EXPECT_EQ(parser.visitors->count(), 1);
  EXPECT_EQ(parser.url.keys.count, 1);
  EXPECT_EQ(parser.hst.keys.count, 1);
  EXPECT_EQ(parser.paths.sessions[0]->hour, 11);
  // Another visitor is new.
  ASSERT_EQ(count(hit_line(5, 17, 11, 0, 1, "192.0.2.2", "/b.html")), 0);
  EXPECT_EQ(parser.visitors->count(), 2);
  EXPECT_EQ(parser.traffic.hourly_visitors[11], 1);
  EXPECT_EQ(count_of(parser.pgs.views, "/b.html"), 2);
}

TEST_F(LineAccounting, IgnoredAddressCountsOnlyTheHit) {
  copy_bounded(config.ignored_address, sizeof config.ignored_address, "10.0.");
  config.ignored_address_length = 5;
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 5, "10.0.3.4", "/index.html", "http://x.example/")), 0);
  EXPECT_EQ(parser.traffic.hits, 1);
  EXPECT_EQ(parser.pgs.views.count, 0);
  EXPECT_EQ(parser.visitors->count(), 0);
  EXPECT_EQ(parser.traffic.hourly_page_views[10], 0);
  EXPECT_EQ(parser.url.count, 0);
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 6, "10.1.3.4", "/index.html")), 0);
  EXPECT_EQ(parser.visitors->count(), 1);
}

TEST_F(LineAccounting, PageRules) {
  const std::string a = "192.0.2.1";
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 0, a, "/doc.html#part")), 0);
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 1, a, "/list.php?p=2#x")), 0);
  EXPECT_EQ(count_of(parser.pgs.views, "/doc.html"), 1);
  EXPECT_EQ(count_of(parser.pgs.views, "/list.php?p=2"), 1);  // PRM on: the query stays
  config.keep_parameters = 0;
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 2, a, "/list.php?p=3")), 0);
  EXPECT_EQ(count_of(parser.pgs.views, "/list.php"), 1);
  copy_bounded(config.index_file, sizeof config.index_file, "index.html");
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 3, a, "/dir/?sort=1")), 0);
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 4, a, "/")), 0);
  EXPECT_EQ(count_of(parser.pgs.views, "/dir/index.html"), 1);
  EXPECT_EQ(count_of(parser.pgs.views, "/index.html"), 1);
  // A page that does not begin with "/" is a hit, not a page view.
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 5, "192.0.2.9", "-")), 0);
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 6, "192.0.2.9", "page.html")), 0);
  EXPECT_EQ(parser.traffic.hits, 7);
  EXPECT_EQ(parser.traffic.hourly_page_views[10], 5);
  EXPECT_EQ(parser.visitors->count(), 1);
}

TEST_F(LineAccounting, LongDirectoryPathWithTheIndexFileIsCut) {
  copy_bounded(config.index_file, sizeof config.index_file, "index.html");
  std::string path = "/" + std::string(505, 'd') + "/";
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 0, "192.0.2.1", path)), 0);
  ASSERT_EQ(parser.pgs.views.keys.count, 1);
  std::string key = key_of(parser.pgs.views, 0);
  EXPECT_EQ(key.size(), 511u);
  EXPECT_EQ(key, (path + "index.html").substr(0, 511));
}

TEST_F(LineAccounting, StatusCodesAndBytesWithAFormatThatHasThem) {
  ASSERT_EQ(compile_log_format(parser, "%M/%d/%y %H:%n:%s %i \"%f\" %c %b"), 0);
  ASSERT_EQ(count("05/17/2003 10:00:00 192.0.2.1 \"/missing.html\" 404 512"), 0);
  EXPECT_EQ(parser.traffic.hits, 1);
  EXPECT_EQ(parser.traffic.bytes, 512);
  EXPECT_EQ(count_of(parser.cds, "404"), 1);
  EXPECT_EQ(parser.pgs.views.count, 0);
  EXPECT_EQ(parser.visitors->count(), 0);
  ASSERT_EQ(count("05/17/2003 10:00:01 192.0.2.1 \"/broken.cgi\" 500 -"), 0);
  ASSERT_EQ(count("05/17/2003 10:00:02 192.0.2.1 \"/ok.html\" 200 99999999999999"), 0);
  EXPECT_EQ(count_of(parser.cds, "500"), 1);
  EXPECT_EQ(count_of(parser.pgs.views, "/broken.cgi"), 1);
  EXPECT_EQ(parser.traffic.bytes, 512.0 + 2147483647.0);  // a huge number is read without overflow
  EXPECT_EQ(parser.visitors->count(), 1);
}

TEST_F(LineAccounting, ReferrersOfNewVisitors) {
  copy_bounded(config.own_domain, sizeof config.own_domain, "mysite.example");
  config.domain_length = 14;
  int n = 0;
  auto visit = [&](const std::string& referrer) {
    ++n;
    return count(hit_line(5, 17, 10, 0, 0, "192.0.2." + std::to_string(n), "/", referrer));
  };
  ASSERT_EQ(visit("HTTP://WWW.Other.EXAMPLE/Some/Path.HTML?Q=A"), 0);
  ASSERT_EQ(visit("http://www.mysite.example/page.html"), 0);
  ASSERT_EQ(visit("http://mysite.example/"), 0);
  ASSERT_EQ(visit("http://shop.mysite.example/"), 0);
  ASSERT_EQ(visit("-"), 0);
  ASSERT_EQ(visit(""), 0);
  ASSERT_EQ(visit("bookmarks"), 0);
  ASSERT_EQ(visit("[unknown origin]"), 0);
  ASSERT_EQ(visit("NoSlashes"), 0);
  ASSERT_EQ(visit("http://WWW.MYSITE.EXAMPLE/"), 0);  // lower-cased first, so it is the site's own
  EXPECT_EQ(parser.url.keys.count, 3);
  EXPECT_EQ(key_of(parser.url, 0), "Http://www.other.example/Some/Path.HTML?Q=A");
  EXPECT_EQ(key_of(parser.url, 1), "http://shop.mysite.example/");
  EXPECT_EQ(key_of(parser.url, 2), "Noslashes");

  // A domain written with capitals never matches.
  copy_bounded(config.own_domain, sizeof config.own_domain, "MySite.example");
  ASSERT_EQ(visit("http://www.mysite.example/"), 0);
  EXPECT_EQ(count_of(parser.url, "http://www.mysite.example/"), 1);
}

TEST_F(LineAccounting, VisitorsByHostNameWithoutAnAddressField) {
  ASSERT_EQ(compile_log_format(parser, "%M/%d/%y %H:%n:%s %h \"%f\""), 0);
  delete parser.visitors;
  parser.visitors = new hosts();
  ASSERT_EQ(count("05/17/2003 10:00:00 a.example.net \"/\""), 0);
  ASSERT_EQ(count("05/17/2003 10:00:01 a.example.net \"/x\""), 0);
  ASSERT_EQ(count("05/17/2003 10:00:02 b.example.net \"/\""), 0);
  EXPECT_EQ(parser.visitors->count(), 2);
  EXPECT_EQ(count_of(parser.hst, "example.net"), 2);
}

TEST_F(LineAccounting, DamagedLineIsNotCounted) {
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 0, "192.0.2.1", "/")), 0);
  ASSERT_EQ(count("05/17/2003 99:00:00 1.2.3.4 h \"/\" \"-\" \"x\""), 0);
  ASSERT_EQ(count("05/99/2003 10:00:00 1.2.3.4 h \"/\" \"-\" \"x\""), 0);
  EXPECT_EQ(parser.traffic.hits, 1);
  EXPECT_EQ(parser.current_day.day, 17);
}

TEST_F(LineAccounting, OutOfMemoryIsReported) {
  ASSERT_EQ(count(hit_line(5, 17, 10, 0, 0, "192.0.2.1", "/", "http://a.example/")), 0);
  for (int successes = 0; successes < 3; ++successes) {
    fail_allocations_after(successes);
    int result = count(hit_line(5, 17, 10, 0, 1, "192.0.2." + std::to_string(10 + successes), "/new-page.html",
                                "http://b.example/" + std::to_string(successes)));
    fail_allocations_after(-1);
    EXPECT_EQ(result, ERR_MEM) << successes;
  }
}

}  // namespace
