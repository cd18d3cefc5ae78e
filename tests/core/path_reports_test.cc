#include "core/path_reports.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/pages.h"
#include "core/program.h"
#include "support/capture.h"
#include "support/page_settings.h"
#include "support/small_stack.h"
#include "support/temp_files.h"

namespace {

const std::string kSpacer = "<tr><td colspan=4 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n";
const std::string kArrow = " <img src=/q/imgs/a.gif align=absbottom> ";

template <typename Print>
std::string printed(Print print) {
  PageCapture page;
  print();
  return page.text();
}

std::string header(const char *key_label, const char *value_label) {
  return printed([&] { html.list_header(key_label, value_label); });
}

std::string close() {
  return printed([] {
    html.list_close();
    html.line_break();
  });
}

std::string row(int position, const std::string &label, const std::string &count, const std::string &share) {
  return "<tr class=dat align=right><td>" + std::to_string(position) + "</td><td align=left>" + label + "</td><td>" +
         count + "</td><td>" + share + "</td></tr>\n";
}

std::string path_row(int position, const std::string &path, const std::string &count, const std::string &share) {
  return "<tr class=dat align=right><td align=center>" + std::to_string(position) + "</td><td align=left>" + path +
         "</td><td>" + count + "</td><td>" + share + "</td></tr>\n";
}

class PathReportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    select_program_build(ProgramBuild::report);
    saved_increment_ = config.depth_increment;
    config.depth_increment = 2;
    saved_on_[0] = config.report_on[RPT_ENP];
    saved_on_[1] = config.report_on[RPT_EXP];
    config.report_on[RPT_ENP] = 1;
    config.report_on[RPT_EXP] = 1;
    paths_.root.init_root();
    paths_.depth.init();
  }
  void TearDown() override {
    fail_allocations_after(-1);
    config.depth_increment = saved_increment_;
    config.report_on[RPT_ENP] = saved_on_[0];
    config.report_on[RPT_EXP] = saved_on_[1];
    select_program_build(ProgramBuild::parser);
  }

  // One day file as the loader hands it over: its pages (in the file's own
  // numbering) through Pgs::read, then the lines after "PTH".
  int day(const std::vector<std::string> &page_names, const std::string &path_lines) {
    std::string text;
    for (const std::string &name : page_names) text += "0 1 " + name + "\n";
    FILE *file = file_with(text + "\n" + path_lines);
    intArr line_map;
    EXPECT_EQ(pages_.read(file, line_map), 0);
    int status = paths_.read_paths(file, line_map);
    std::fclose(file);
    return status;
  }

  void collect() {
    ASSERT_EQ(depth_count(paths_.depth, &paths_.root, -1), 0);
    ASSERT_EQ(collect_paths(paths_), 0);
  }

  std::string entry_pages(int total, int limit) {
    return printed([&] { print_entry_pages(paths_, "Entry Pages", "Page:", total, "Views", limit, pages_); });
  }
  std::string exit_pages(int total, int limit) {
    return printed([&] { print_exit_pages(paths_, "Exit Pages", "Page:", total, "Views", limit, pages_); });
  }
  std::string single_views(int total, int limit) {
    return printed(
        [&] { print_single_view_pages(paths_, "Single View Pages", "Page:", total, "Visitors", limit, pages_); });
  }
  std::string visitor_paths(int total, int limit) {
    return printed([&] { print_visitor_paths(paths_, "Visitor's Paths", "Path:", total, "Visitors", limit, pages_); });
  }
  std::string visit_depth(int total, int limit) {
    return printed([&] { print_visit_depth(paths_, "Visit Depth", "Level:", total, "Visitors", limit); });
  }

  PageSettings settings_{"/q/", ""};
  Paths paths_;
  Pgs pages_;
  int saved_increment_ = 0;
  uint8_t saved_on_[2] = {0, 0};
};

TEST_F(PathReportsTest, SamePathOfTwoDaysEndsOnOneNode) {
  // The second file numbers its pages the other way round.
  ASSERT_EQ(day({"/a", "/b"}, "3 0 1\n\n"), 0);
  ASSERT_EQ(day({"/b", "/a"}, "2 1 0\n\n"), 0);
  collect();
  EXPECT_EQ(visitor_paths(10, 10), title_bar("Visitor's Paths", "PTH") + header("Path:", "Visitors") +
                                       path_row(1, "/a" + kArrow + "/b", "5", "50.0") + close());
}

TEST_F(PathReportsTest, EntryExitAndSingleViewSections) {
  ASSERT_EQ(day({"/A", "/B", "/C", "/D"}, "5 0 1\n2 0 2\n1 3\n\n"), 0);
  collect();
  EXPECT_EQ(entry_pages(8, 10), title_bar("Entry Pages", "EEP") + header("Page:", "Views") + row(1, "/A", "7", "87.5") +
                                    kSpacer + row(2, "/D", "1", "12.5") + close());
  EXPECT_EQ(exit_pages(8, 10), title_bar("Exit Pages", "EEP") + header("Page:", "Views") + row(1, "/B", "5", "62.5") +
                                   kSpacer + row(2, "/C", "2", "25.0") + kSpacer + row(3, "/D", "1", "12.5") + close());
  EXPECT_EQ(single_views(8, 10), title_bar("Single View Pages", "SVP") + header("Page:", "Visitors") +
                                     path_row(1, "/D", "1", "12.5") + close());
  // A row limit, and a total of 0 showing shares of 0.0.
  EXPECT_EQ(visitor_paths(0, 1), title_bar("Visitor's Paths (top 1 of 3)", "PTH") + header("Path:", "Visitors") +
                                     path_row(1, "/A" + kArrow + "/B", "5", "0.0") + close());
}

TEST_F(PathReportsTest, RangeWithoutPathsPrintsNoSection) {
  ASSERT_EQ(day({"/A"}, "\n1 0\n"),
            0);  // the empty line ends the section before its only line
  collect();
  EXPECT_EQ(entry_pages(5, 10) + exit_pages(5, 10) + single_views(5, 10) + visitor_paths(5, 10) + visit_depth(5, 10),
            "");
}

TEST_F(PathReportsTest, VisitDepthRowsEndWithTheRestOfTheTotal) {
  // Bucket size 2: paths of 1 page (1), 2 pages (5) and 3 pages (2).
  ASSERT_EQ(day({"/A", "/B", "/C"}, "1 0\n5 0 1\n2 0 1 2\n\n"), 0);
  collect();
  EXPECT_EQ(visit_depth(10, 10), title_bar("Visit Depth", "DEP") + header("Level:", "Visitors") +
                                     row(1, "1 - 2 pages", "6", "60.0") + kSpacer + row(2, "3 + pages", "4", "40.0") +
                                     close());

  config.depth_increment = 1;
  paths_.depth.init();
  ASSERT_EQ(depth_count(paths_.depth, &paths_.root, -1), 0);
  EXPECT_EQ(visit_depth(12, 10), title_bar("Visit Depth", "DEP") + header("Level:", "Visitors") +
                                     row(1, "1 page", "1", "8.3") + kSpacer + row(2, "2 pages", "5", "41.7") + kSpacer +
                                     row(3, "3 + pages", "6", "50.0") + close());
  EXPECT_EQ(visit_depth(12, 1), title_bar("Visit Depth (top 1 of 3)", "DEP") + header("Level:", "Visitors") +
                                    row(1, "1 + pages", "12", "100.0") + close());

  // The labels of a huge configured increment are not cut by overflow.
  config.depth_increment = INT_MAX;
  paths_.depth.init();
  for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(paths_.depth.counts.insert_at(0, i), 0);
  EXPECT_NE(visit_depth(1, 10).find(row(2, "2147483648 - 4294967294 pages", "0", "0.0") + kSpacer +
                                    row(3, "4294967295 + pages", "1", "100.0")),
            std::string::npos);
}

TEST_F(PathReportsTest, EntryRowsStopAtTheFirstZeroValue) {
  ASSERT_EQ(day({"/A", "/B", "/C"}, "\n"), 0);
  for (int32_t page = 0; page < 3; ++page) ASSERT_EQ(paths_.page_stats.entry_pages.add(page, page == 0 ? 4 : 0), 0);
  EXPECT_EQ(entry_pages(4, 10),
            title_bar("Entry Pages", "EEP") + header("Page:", "Views") + row(1, "/A", "4", "100.0") + close());
}

TEST_F(PathReportsTest, TiesKeepTheWalkOrder) {
  // Children are listed newest first and the walk takes a node after its later
  // siblings: the walk order is /A>/B, /A, /C; single views follow the child
  // list.
  ASSERT_EQ(day({"/A", "/B", "/C"}, "2 0\n2 0 1\n2 2\n\n"), 0);
  collect();
  EXPECT_EQ(visitor_paths(6, 10), title_bar("Visitor's Paths", "PTH") + header("Path:", "Visitors") +
                                      path_row(1, "/A" + kArrow + "/B", "2", "33.3") + kSpacer +
                                      path_row(2, "/A", "2", "33.3") + kSpacer + path_row(3, "/C", "2", "33.3") +
                                      close());
  EXPECT_EQ(single_views(6, 10), title_bar("Single View Pages", "SVP") + header("Page:", "Visitors") +
                                     path_row(1, "/C", "2", "33.3") + kSpacer + path_row(2, "/A", "2", "33.3") +
                                     close());
}

TEST_F(PathReportsTest, HostilePagePathsAreEscaped) {
  ASSERT_EQ(day({"/<script>x</script>", "/b?<img src=y onerror=z>"}, "3 0 1\n1 1\n\n"), 0);
  collect();
  const std::string first = "/&lt;script&gt;x&lt;/script&gt;";
  const std::string second = "/b?&lt;img src=y onerror=z&gt;";
  EXPECT_EQ(visitor_paths(4, 10), title_bar("Visitor's Paths", "PTH") + header("Path:", "Visitors") +
                                      path_row(1, first + kArrow + second, "3", "75.0") + kSpacer +
                                      path_row(2, second, "1", "25.0") + close());
  EXPECT_EQ(entry_pages(4, 10), title_bar("Entry Pages", "EEP") + header("Page:", "Views") +
                                    row(1, first, "3", "75.0") + kSpacer + row(2, second, "1", "25.0") + close());
}

TEST_F(PathReportsTest, DamagedLinesNeverReachOutsideTheMapOrEndOnTheRoot) {
  // A page number the file's table does not hold drops its line, nodes and all
  // (or the depth would get a third bucket); a line without pages counts
  // nowhere; doubled blanks and CR LF ends are read as the writer meant them;
  // sums saturate.
  config.depth_increment = 1;
  paths_.depth.init();
  ASSERT_EQ(day({"/A", "/B"}, "4 0 1 1 7\n9 -1\n6\n7 \n2 0  1 \r\n2147483647 1\r\n1 1\n\n"), 0);
  collect();
  EXPECT_EQ(paths_.root.visitors, 0);
  EXPECT_EQ(visitor_paths(INT_MAX, 10), title_bar("Visitor's Paths", "PTH") + header("Path:", "Visitors") +
                                            path_row(1, "/B", "2,147,483,647", "100.0") + kSpacer +
                                            path_row(2, "/A" + kArrow + "/B", "2", "0.0") + close());
  EXPECT_EQ(paths_.depth.counts.count, 2);
}

TEST_F(PathReportsTest, DroppedLineLeavesNoStaleChildLookup) {
  // Enough first pages for the root's children to be looked up through an index;
  // the dropped line's node must be gone from it too.
  std::vector<std::string> names;
  std::string lines;
  for (int i = 0; i < 10; ++i) names.push_back("/p" + std::to_string(i)), lines += "1 " + std::to_string(i % 9) + "\n";
  ASSERT_EQ(day(names, lines + "4 9 99\n2 9\n\n"), 0);
  collect();
  EXPECT_EQ(entry_pages(10, 1), title_bar("Entry Pages (top 1 of 10)", "EEP") + header("Page:", "Views") +
                                    row(1, "/p0", "2", "20.0") + close());
  EXPECT_EQ(paths_.root.first_child->page, 9);
  EXPECT_EQ(paths_.root.first_child->visitors, 2);
}

TEST_F(PathReportsTest, OutOfMemoryChangesNothingHalfway) {
  ASSERT_EQ(day({"/A", "/B", "/C"}, "1 0\n\n"), 0);
  intArr line_map;
  for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(line_map.insert_at(i, i), 0);
  for (int allowed = 0; allowed < 2; ++allowed) {  // the line needs two new nodes
    FILE *file = file_with("5 0 1 2\n\n");
    fail_allocations_after(allowed);
    EXPECT_EQ(paths_.read_paths(file, line_map), ERR_MEM);
    fail_allocations_after(-1);
    std::fclose(file);
    EXPECT_EQ(paths_.root.first_child->first_child, nullptr);
  }
  ASSERT_EQ(day({"/A", "/B", "/C"}, "5 0 1\n2 0 2\n1 2\n\n"), 0);
  for (int allowed = 0;; ++allowed) {
    fail_allocations_after(allowed);
    int status = collect_paths(paths_);
    fail_allocations_after(-1);
    if (status == 0) break;
    EXPECT_EQ(status, ERR_MEM);
    EXPECT_EQ(paths_.endpoints.count + paths_.single_view_pages.count + paths_.page_stats.entry_pages.keys.count +
                  paths_.page_stats.exit_pages.keys.count,
              0);
  }
  fail_allocations_after(0);
  EXPECT_EQ(depth_count(paths_.depth, &paths_.root, -1), ERR_MEM);
  EXPECT_EQ(paths_.depth.counts.count, 0);
  // A printer without memory for its ranking writes the out-of-memory box.
  std::string text = visitor_paths(8, 10);
  fail_allocations_after(-1);
  EXPECT_EQ(text, title_bar("Visitor's Paths", "PTH") + printed([] { html.out_of_memory(); }));
}

TEST_F(PathReportsTest, VeryDeepPathIsReadCountedPrintedAndFreedWithoutRecursion) {
  run_on_small_stack([this] {
    // One day path of 200,000 page views over 1,000 pages: a line far longer
    // than the line buffer, read as one record, on two days.
    const int depth = 200000;
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) names.push_back("/p" + std::to_string(i));
    std::string line = "3";
    for (int i = 0; i < depth; ++i) line += " " + std::to_string(i % 1000);
    ASSERT_EQ(day(names, line + "\n1 5\n\n"), 0);
    ASSERT_EQ(day(names, line + "\n\n"), 0);
    collect();
    EXPECT_EQ(entry_pages(7, 10), title_bar("Entry Pages", "EEP") + header("Page:", "Views") +
                                      row(1, "/p0", "6", "85.7") + kSpacer + row(2, "/p5", "1", "14.3") + close());
    EXPECT_EQ(exit_pages(7, 1), title_bar("Exit Pages (top 1 of 2)", "EEP") + header("Page:", "Views") +
                                    row(1, "/p999", "6", "85.7") + close());
    EXPECT_EQ(single_views(7, 10), title_bar("Single View Pages", "SVP") + header("Page:", "Visitors") +
                                       path_row(1, "/p5", "1", "14.3") + close());
    ASSERT_EQ(paths_.depth.counts.count, depth / 2);
    EXPECT_EQ(paths_.depth.counts.data[depth / 2 - 1], 6);

    std::string text = visitor_paths(7, 1);
    std::string start = title_bar("Visitor's Paths (top 1 of 2)", "PTH") + header("Path:", "Visitors") +
                        "<tr class=dat align=right><td align=center>1</td><td align=left>/p0" + kArrow + "/p1" + kArrow;
    std::string end = kArrow + "/p999</td><td>6</td><td>85.7</td></tr>\n" + close();
    ASSERT_GT(text.size(), start.size() + end.size());
    EXPECT_EQ(text.substr(0, start.size()), start);
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
    std::size_t arrows = 0;
    for (std::size_t at = text.find(kArrow); at != std::string::npos; at = text.find(kArrow, at + 1)) ++arrows;
    EXPECT_EQ(arrows, static_cast<std::size_t>(depth - 1));
    paths_.clear();
    EXPECT_EQ(paths_.root.first_child, nullptr);
  });
}

}  // namespace
