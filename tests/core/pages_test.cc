#include "core/pages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/paths.h"
#include "core/program.h"
#include "support/capture.h"
#include "support/page_settings.h"
#include "support/temp_files.h"

namespace {

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memcpy(saved_extensions_, config.page_extensions, sizeof saved_extensions_);
    std::memcpy(pages_.tag, "PGS", 4);
  }
  void TearDown() override {
    fail_allocations_after(-1);
    std::memcpy(config.page_extensions, saved_extensions_, sizeof saved_extensions_);
    select_program_build(ProgramBuild::parser);
  }

  void view(const char* path, int times = 1) {
    for (int i = 0; i < times; ++i) {
      int32_t page;
      bool is_page = false;
      ASSERT_EQ(pages_.add_view(path, &page, &is_page), 0);
      EXPECT_TRUE(is_page);
    }
  }

  // Reads one PagesSection body into the table; gives the line map.
  std::vector<int32_t> read(const std::string& body) {
    FILE* file = file_with(body);
    intArr line_map;
    EXPECT_EQ(pages_.read(file, line_map), 0);
    std::fclose(file);
    return std::vector<int32_t>(line_map.data, line_map.data + line_map.count);
  }

  std::vector<std::string> extensions_of(const char* setting) {
    copy_setting(setting);
    Pgs table;
    EXPECT_EQ(table.load_extensions(), 0);
    std::vector<std::string> out;
    for (int32_t i = 0; i < table.extensions.count; ++i) out.emplace_back(table.extensions.strings[i]);
    return out;
  }

  void copy_setting(const char* setting) {
    std::snprintf(config.page_extensions, sizeof config.page_extensions, "%s", setting);
  }

  Pgs pages_;
  char saved_extensions_[sizeof config.page_extensions] = "";
};

using Strings = std::vector<std::string>;

TEST_F(PagesTest, ExtensionsSplitAtBlanks) {
  EXPECT_EQ(extensions_of("htm html"), (Strings{"htm", "html"}));
  EXPECT_EQ(extensions_of(" htm"), (Strings{"", "htm"}));
  EXPECT_EQ(extensions_of("htm  html"), (Strings{"htm", "", "html"}));
  EXPECT_EQ(extensions_of("htm "), (Strings{"htm"}));
  EXPECT_EQ(extensions_of("htm html htm"), (Strings{"htm", "html"}));
  EXPECT_EQ(extensions_of(""), Strings{});
  EXPECT_STREQ(config.page_extensions, "");  // the setting itself is left alone
}

TEST_F(PagesTest, ViewsNumberPagesInFirstSeenOrderWithTheirTimes) {
  view("/b.html", 2);
  view("/a.php");
  view("/b.html");
  ASSERT_EQ(pages_.views.count, 2);
  EXPECT_EQ(pages_.views.data[0], 3);
  EXPECT_EQ(pages_.views.data[1], 1);
  EXPECT_STREQ(pages_.views.keys.strings[1], "/a.php");
  EXPECT_EQ(pages_.seconds.count, 2);
  EXPECT_EQ(pages_.timed.count, 2);
  int32_t page;
  bool is_page = false;
  ASSERT_EQ(pages_.add_view("/readme", &page, &is_page), 0);  // any extension is a page
  EXPECT_EQ(page, 2);
  EXPECT_TRUE(is_page);
}

TEST_F(PagesTest, SectionIsWrittenInPageNumberOrder) {
  EXPECT_EQ(written(pages_), "");
  view("/z", 2);
  view("/a b");
  pages_.seconds.data[0] = 42;
  EXPECT_EQ(written(pages_), "PGS\n42 2 /z\n0 1 /a b\n\n");
}

TEST_F(PagesTest, ReadMapsLinesToPageNumbersAndStopsAtTheEmptyLine) {
  select_program_build(ProgramBuild::report);
  EXPECT_EQ(read("30 2 /a\n0 5 /b c\n\nHST\n"), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(read("7 1 /b c\n60 1 /a\n4 1 /new\n"), (std::vector<int32_t>{1, 0, 2}));
  ASSERT_EQ(pages_.views.count, 3);
  EXPECT_STREQ(pages_.views.keys.strings[1], "/b c");
  EXPECT_EQ(pages_.views.data[0], 3);
  EXPECT_EQ(pages_.views.data[1], 6);
  EXPECT_EQ(pages_.seconds.data[0], 90);
  EXPECT_EQ(pages_.timed.data[0], 2);
  EXPECT_EQ(pages_.seconds.data[1], 7);
  EXPECT_EQ(pages_.timed.data[1], 1);
}

TEST_F(PagesTest, DailyAveragesOfZeroAreLeftOutOfTheMean) {
  read("30 1 /a\n");
  read("0 1 /a\n");
  read("60 1 /a\n");
  read("0 1 /never\n");
  EXPECT_EQ(pages_.average_seconds(0), 45);
  EXPECT_EQ(pages_.average_seconds(1), 0);
  EXPECT_EQ(pages_.timed.data[1], 0);
}

TEST_F(PagesTest, WriteThenReadGivesTheSameTable) {
  view("/x", 3);
  view("/y");
  pages_.seconds.data[1] = 12;
  std::string text = written(pages_);
  Pgs copy;
  std::memcpy(copy.tag, "PGS", 4);
  FILE* file = file_with(text.substr(4));
  intArr line_map;
  ASSERT_EQ(copy.read(file, line_map), 0);
  std::fclose(file);
  EXPECT_EQ(written(copy), text);
}

TEST_F(PagesTest, OverlongLineIsOneRecord) {
  std::string path = "/" + std::string(30000, 'p');
  EXPECT_EQ(read("1 1 " + path + "\n2 1 /next\n\n"), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(pages_.views.count, 2);
  EXPECT_STREQ(pages_.views.keys.strings[1], "/next");
}

TEST_F(PagesTest, DayTimesComeFromThePathStatistics) {
  view("/a");
  view("/b");
  view("/c");
  PageStats stats;
  PathNode node;
  node.init_timed(0, nullptr, 2, 50);
  ASSERT_EQ(stats.add(&node), 0);
  node.init_timed(2, nullptr, 0, 0);
  ASSERT_EQ(stats.add(&node), 0);
  pages_.seconds.data[1] = 99;  // a page without page times gets 0
  ASSERT_EQ(compute_page_times(pages_, stats), 0);
  EXPECT_EQ(pages_.seconds.data[0], 25);
  EXPECT_EQ(pages_.seconds.data[1], 0);
  EXPECT_EQ(pages_.seconds.data[2], 0);
}

TEST_F(PagesTest, TimesStayParallelToPagesAddedBehindTheTableBack) {
  ASSERT_EQ(pages_.views.add("/direct", 1), 0);
  ASSERT_EQ(pages_.views.add("/other", 1), 0);
  PageStats stats;
  ASSERT_EQ(compute_page_times(pages_, stats), 0);
  EXPECT_EQ(pages_.seconds.count, 2);
  EXPECT_EQ(pages_.timed.count, 2);
  EXPECT_EQ(written(pages_), "PGS\n0 1 /direct\n0 1 /other\n\n");
}

TEST_F(PagesTest, OutOfMemoryLeavesTheTableAsItWas) {
  view("/a");
  for (int successes = 0; successes < 4; ++successes) {
    fail_allocations_after(successes);
    int32_t page;
    bool is_page;
    int status = pages_.add_view("/new", &page, &is_page);
    fail_allocations_after(-1);
    if (status == 0) break;
    EXPECT_EQ(status, ERR_MEM);
    EXPECT_EQ(pages_.views.count, 1);
    EXPECT_EQ(pages_.seconds.count, 1);
    EXPECT_EQ(pages_.timed.count, 1);
  }
  EXPECT_EQ(pages_.seconds.count, pages_.views.count);
}

TEST_F(PagesTest, RecentPagesAreFoundUnderTheirOwnNumbersAfterAnyChange) {
  view("/a", 3);
  view("/b");
  ASSERT_EQ(pages_.views.add("/c", 1), 0);  // behind the table's back
  int32_t page = -1;
  bool is_page;
  ASSERT_EQ(pages_.add_view("/c", &page, &is_page), 0);
  EXPECT_EQ(page, 2);
  pages_.clear();
  // The same paths in another order get new numbers: nothing from before the clear answers.
  view("/b");
  view("/c");
  ASSERT_EQ(pages_.add_view("/a", &page, &is_page), 0);
  EXPECT_EQ(page, 2);
  ASSERT_EQ(pages_.add_view("/b", &page, &is_page), 0);
  EXPECT_EQ(page, 0);
  ASSERT_EQ(pages_.add_view("/c", &page, &is_page), 0);
  EXPECT_EQ(page, 1);
  EXPECT_EQ(written(pages_), "PGS\n0 2 /b\n0 2 /c\n0 1 /a\n\n");
}

TEST_F(PagesTest, ClearKeepsTheExtensions) {
  copy_setting("htm");
  ASSERT_EQ(pages_.load_extensions(), 0);
  view("/a");
  pages_.clear();
  EXPECT_EQ(pages_.views.count, 0);
  EXPECT_EQ(pages_.seconds.count, 0);
  EXPECT_EQ(pages_.timed.count, 0);
  EXPECT_EQ(pages_.extensions.count, 1);
  view("/b");
  EXPECT_EQ(written(pages_), "PGS\n0 1 /b\n\n");
}

// ---- Report sections ----------------------------------------------------------

class PageListTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    select_program_build(ProgramBuild::report);
  }

  std::string most(int total, int limit) {
    PageCapture page;
    print_most_requested_pages(pages_, "Most Requested Pages", "Page:", total, "Views", limit);
    return page.text();
  }
  std::string least(int total, int limit) {
    PageCapture page;
    print_least_requested_pages(pages_, "Least Requested Pages", "Page:", total, "Views", limit);
    return page.text();
  }

  static std::string header() {
    PageCapture page;
    html.list_header2("Page:", "Time", "Views");
    return page.text();
  }
  static std::string close() {
    PageCapture page;
    html.list_close();
    return page.text();
  }
  static std::string row(int position, const std::string& path, const std::string& time, const std::string& views,
                         const std::string& share) {
    return "<tr class=dat align=right><td>" + std::to_string(position) + "</td><td align=left>" + path +
           "</td><td>" + time + "</td><td>" + views + "</td><td>" + share + "</td></tr>\n";
  }

  PageSettings settings_{"/q/", ""};
};

const std::string kSpacer5 = "<tr><td colspan=5 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n";

TEST_F(PageListTest, EmptyTablePrintsNothing) {
  EXPECT_EQ(most(10, 10), "");
  EXPECT_EQ(least(10, 10), "");
}

TEST_F(PageListTest, MostRequestedPagesFullSection) {
  read("30 3 /a\n3725 1 /b\n0 1200 /c\n");
  read("0 1 /a\n");
  read("60 0 /a\n");
  EXPECT_EQ(most(2400, 10), title_bar("Most Requested Pages", "PGS") + header() +
                                row(1, "/c", "00:00", "1,200", "50.0") + kSpacer5 +
                                row(2, "/a", "00:45", "4", "0.2") + kSpacer5 +
                                row(3, "/b", "1:02:05", "1", "0.0") + close());
}

TEST_F(PageListTest, LeastRequestedPagesStartFromTheFewestViews) {
  read("0 5 /five\n0 1 /one\n0 3 /three\n");
  EXPECT_EQ(least(9, 2), title_bar("Least Requested Pages (top 2 of 3)", "PGS") + header() +
                             row(1, "/one", "00:00", "1", "11.1") + kSpacer5 +
                             row(2, "/three", "00:00", "3", "33.3") + close());
}

TEST_F(PageListTest, TopTenOfTwentyFive) {
  for (int i = 0; i < 25; ++i) view(("/p" + std::to_string(i)).c_str(), 30 - i);
  std::string text = most(1000, 10);
  EXPECT_EQ(text.rfind(title_bar("Most Requested Pages (top 10 of 25)", "PGS"), 0), 0u);
  std::size_t rows = 0;
  for (std::size_t at = text.find("<tr class=dat"); at != std::string::npos; at = text.find("<tr class=dat", at + 1)) {
    ++rows;
  }
  EXPECT_EQ(rows, 10u);
  EXPECT_NE(text.find(row(10, "/p9", "00:00", "21", "2.1")), std::string::npos);

  pages_.clear();
  for (int i = 0; i < 10; ++i) view(("/p" + std::to_string(i)).c_str());
  EXPECT_EQ(most(10, 10).rfind(title_bar("Most Requested Pages", "PGS") + header(), 0), 0u);
}

TEST_F(PageListTest, TiesKeepFirstSeenOrderAndTheLeastListReversesThem) {
  view("/first", 2);
  view("/second", 2);
  EXPECT_EQ(most(4, 10), title_bar("Most Requested Pages", "PGS") + header() + row(1, "/first", "00:00", "2", "50.0") +
                             kSpacer5 + row(2, "/second", "00:00", "2", "50.0") + close());
  EXPECT_EQ(least(4, 10), title_bar("Least Requested Pages", "PGS") + header() +
                              row(1, "/second", "00:00", "2", "50.0") + kSpacer5 +
                              row(2, "/first", "00:00", "2", "50.0") + close());
}

TEST_F(PageListTest, HostilePagePathIsEscaped) {
  view("/<script>alert('x')</script>&\"");
  EXPECT_EQ(most(0, 10), title_bar("Most Requested Pages", "PGS") + header() +
                             row(1, "/&lt;script&gt;alert('x')&lt;/script&gt;&amp;\"", "00:00", "1", "0.0") +
                             close());
}

TEST_F(PageListTest, NoMemoryForTheRankingShowsTheBox) {
  view("/a");
  std::string box;
  {
    PageCapture page;
    html.out_of_memory();
    box = page.text();
  }
  fail_allocations_after(0);
  std::string text = most(1, 10);
  fail_allocations_after(-1);
  EXPECT_EQ(text, title_bar("Most Requested Pages", "PGS") + box);
}

}  // namespace
