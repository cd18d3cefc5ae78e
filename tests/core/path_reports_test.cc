#include "core/path_reports.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
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

class PathReportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    select_program_build(ProgramBuild::report);
    saved_increment_ = config.depth_increment;
    saved_entry_ = config.report_on[RPT_ENP];
    saved_exit_ = config.report_on[RPT_EXP];
    config.depth_increment = 2;
    config.report_on[RPT_ENP] = 1;
    config.report_on[RPT_EXP] = 1;
    paths_.root.init_root();
    paths_.depth.init();
  }
  void TearDown() override {
    fail_allocations_after(-1);
    config.depth_increment = saved_increment_;
    config.report_on[RPT_ENP] = saved_entry_;
    config.report_on[RPT_EXP] = saved_exit_;
    select_program_build(ProgramBuild::parser);
  }

  // One day file's pages and paths, as the loader hands them over: the PagesSection
  // body (page paths, in the file's own numbering) and the lines after "PTH".
  int day(const std::vector<std::string>& page_names, const std::string& path_lines) {
    std::string text;
    for (const std::string& name : page_names) text += "0 1 " + name + "\n";
    text += "\n" + path_lines;
    FILE* file = file_with(text);
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

  // Every endpoint as "page>page>...=count", in list order.
  static std::vector<std::string> listed(const NodeList& list, const Pgs& pages) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < list.count; ++i) {
      std::string way;
      for_each_on_path(list.nodes[i], [&](const PathNode* step) {
        way += (way.empty() ? "" : ">") + std::string(pages.views.keys.strings[step->page]);
      });
      out.push_back(way + "=" + std::to_string(list.counts.data[i]));
    }
    return out;
  }
  std::vector<std::string> map_of(const iiArr& map) const {
    std::vector<std::string> out;
    for (int32_t i = 0; i < map.keys.count; ++i) {
      out.push_back(std::string(pages_.views.keys.strings[map.keys.data[i]]) + "=" +
                    std::to_string(map.values.data[i]));
    }
    return out;
  }
  // The whole tree, pre-order, with each node's visitors value.
  std::string tree() {
    std::string out;
    NodeStack stack;
    stack.push(paths_.root.first_child, 0);
    while (!stack.empty()) {
      NodeStack::Entry entry = stack.top();
      stack.pop();
      if (!entry.node) continue;
      out += std::string(static_cast<std::size_t>(entry.level), ' ') + pages_.views.keys.strings[entry.node->page] +
             "=" + std::to_string(entry.node->visitors) + "\n";
      stack.push(entry.node->next_sibling, entry.level);
      stack.push(entry.node->first_child, entry.level + 1);
    }
    return out;
  }

  static std::string header(const char* key_label, const char* value_label) {
    PageCapture page;
    html.list_header(key_label, value_label);
    return page.text();
  }
  static std::string close() {
    PageCapture page;
    html.list_close();
    html.line_break();
    return page.text();
  }
  static std::string row(int position, const std::string& label, const std::string& count, const std::string& share) {
    return "<tr class=dat align=right><td>" + std::to_string(position) + "</td><td align=left>" + label + "</td><td>" +
           count + "</td><td>" + share + "</td></tr>\n";
  }
  static std::string path_row(int position, const std::string& path, const std::string& count,
                              const std::string& share) {
    return "<tr class=dat align=right><td align=center>" + std::to_string(position) + "</td><td align=left>" + path +
           "</td><td>" + count + "</td><td>" + share + "</td></tr>\n";
  }

  std::string entry_pages(int total, int limit) {
    PageCapture page;
    print_entry_pages(paths_, "Entry Pages", "Page:", total, "Views", limit, pages_);
    return page.text();
  }
  std::string exit_pages(int total, int limit) {
    PageCapture page;
    print_exit_pages(paths_, "Exit Pages", "Page:", total, "Views", limit, pages_);
    return page.text();
  }
  std::string single_views(int total, int limit) {
    PageCapture page;
    print_single_view_pages(paths_, "Single View Pages", "Page:", total, "Visitors", limit, pages_);
    return page.text();
  }
  std::string visitor_paths(int total, int limit) {
    PageCapture page;
    print_visitor_paths(paths_, "Visitor's Paths", "Path:", total, "Visitors", limit, pages_);
    return page.text();
  }
  std::string visit_depth(int total, int limit) {
    PageCapture page;
    print_visit_depth(paths_, "Visit Depth", "Level:", total, "Visitors", limit);
    return page.text();
  }

  PageSettings settings_{"/q/", ""};
  Paths paths_;
  Pgs pages_;
  int saved_increment_ = 0;
  uint8_t saved_entry_ = 0;
  uint8_t saved_exit_ = 0;
};

TEST_F(PathReportsTest, SamePathOfTwoDaysEndsOnOneNode) {
  // The second file numbers its pages the other way round.
  ASSERT_EQ(day({"/a", "/b"}, "3 0 1\n\n"), 0);
  ASSERT_EQ(day({"/b", "/a"}, "2 1 0\n\n"), 0);
  collect();
  EXPECT_EQ(listed(paths_.endpoints, pages_), (std::vector<std::string>{"/a>/b=5"}));
  EXPECT_EQ(visitor_paths(10, 10), title_bar("Visitor's Paths", "PTH") + header("Path:", "Visitors") +
                                       path_row(1, "/a" + kArrow + "/b", "5", "50.0") + close());
}

TEST_F(PathReportsTest, EntryExitAndSingleViewSections) {
  ASSERT_EQ(day({"/A", "/B", "/C", "/D"}, "5 0 1\n2 0 2\n1 3\n\n"), 0);
  collect();
  EXPECT_EQ(map_of(paths_.page_stats.entry_pages), (std::vector<std::string>{"/A=7", "/D=1"}));
  EXPECT_EQ(map_of(paths_.page_stats.exit_pages), (std::vector<std::string>{"/B=5", "/C=2", "/D=1"}));
  EXPECT_EQ(listed(paths_.single_view_pages, pages_), (std::vector<std::string>{"/D=1"}));

  EXPECT_EQ(entry_pages(8, 10), title_bar("Entry Pages", "EEP") + header("Page:", "Views") +
                                    row(1, "/A", "7", "87.5") + kSpacer + row(2, "/D", "1", "12.5") + close());
  EXPECT_EQ(exit_pages(8, 2), title_bar("Exit Pages (top 2 of 3)", "EEP") + header("Page:", "Views") +
                                  row(1, "/B", "5", "62.5") + kSpacer + row(2, "/C", "2", "25.0") + close());
  EXPECT_EQ(single_views(8, 10), title_bar("Single View Pages", "SVP") + header("Page:", "Visitors") +
                                     path_row(1, "/D", "1", "12.5") + close());
  // A total of 0 shows shares of 0.0.
  EXPECT_NE(visitor_paths(0, 10).find(path_row(1, "/A" + kArrow + "/B", "5", "0.0")), std::string::npos);
}

TEST_F(PathReportsTest, SwitchedOffMapsStayEmpty) {
  config.report_on[RPT_ENP] = 0;
  ASSERT_EQ(day({"/A", "/B"}, "5 0 1\n\n"), 0);
  collect();
  EXPECT_EQ(paths_.page_stats.entry_pages.keys.count, 0);
  EXPECT_EQ(map_of(paths_.page_stats.exit_pages), (std::vector<std::string>{"/B=5"}));
  EXPECT_EQ(entry_pages(5, 10), "");
}

TEST_F(PathReportsTest, RangeWithoutPathsPrintsNoSection) {
  ASSERT_EQ(day({"/A"}, "\n1 0\n"), 0);  // the empty line ends the section before its only line
  collect();
  EXPECT_EQ(entry_pages(5, 10) + exit_pages(5, 10) + single_views(5, 10) + visitor_paths(5, 10) + visit_depth(5, 10),
            "");
}

TEST_F(PathReportsTest, VisitDepthBucketsAndTheRestRow) {
  // Bucket size 2: paths of 1 page (1), 2 pages (5) and 3 pages (2).
  ASSERT_EQ(day({"/A", "/B", "/C"}, "1 0\n5 0 1\n2 0 1 2\n\n"), 0);
  collect();
  ASSERT_EQ(paths_.depth.counts.count, 2);
  EXPECT_EQ(paths_.depth.counts.data[0], 6);
  EXPECT_EQ(paths_.depth.counts.data[1], 2);
  EXPECT_EQ(visit_depth(10, 10), title_bar("Visit Depth", "DEP") + header("Level:", "Visitors") +
                                     row(1, "1 - 2 pages", "6", "60.0") + kSpacer +
                                     row(2, "3 + pages", "4", "40.0") + close());
}

TEST_F(PathReportsTest, VisitDepthOfBucketSizeOneAndARowLimit) {
  config.depth_increment = 1;
  paths_.depth.init();
  ASSERT_EQ(day({"/A", "/B", "/C"}, "4 0\n3 0 1\n2 0 1 2\n\n"), 0);
  collect();
  EXPECT_EQ(visit_depth(12, 10), title_bar("Visit Depth", "DEP") + header("Level:", "Visitors") +
                                     row(1, "1 page", "4", "33.3") + kSpacer + row(2, "2 pages", "3", "25.0") +
                                     kSpacer + row(3, "3 + pages", "5", "41.7") + close());
  EXPECT_EQ(visit_depth(12, 1), title_bar("Visit Depth (top 1 of 3)", "DEP") + header("Level:", "Visitors") +
                                    row(1, "1 + pages", "12", "100.0") + close());
}

TEST_F(PathReportsTest, HugeBucketSizeLabelsDoNotOverflow) {
  config.depth_increment = INT_MAX;
  paths_.depth.init();
  for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(paths_.depth.counts.insert_at(0, i), 0);
  EXPECT_NE(visit_depth(1, 10).find(row(2, "2147483648 - 4294967294 pages", "0", "0.0") + kSpacer +
                                    row(3, "4294967295 + pages", "1", "100.0")),
            std::string::npos);
}

TEST_F(PathReportsTest, EntryRowsStopAtTheFirstZeroValue) {
  ASSERT_EQ(day({"/A", "/B", "/C"}, "\n"), 0);
  ASSERT_EQ(paths_.page_stats.entry_pages.add(0, 4), 0);
  ASSERT_EQ(paths_.page_stats.entry_pages.add(1, 0), 0);
  ASSERT_EQ(paths_.page_stats.entry_pages.add(2, 0), 0);
  EXPECT_EQ(entry_pages(4, 10), title_bar("Entry Pages", "EEP") + header("Page:", "Views") +
                                    row(1, "/A", "4", "100.0") + close());
}

TEST_F(PathReportsTest, TiesKeepTheWalkOrder) {
  // Newest child first in the list, and the walk takes a node after its later
  // siblings: the walk order is /A>/B, /A, /C.
  ASSERT_EQ(day({"/A", "/B", "/C"}, "2 0\n2 0 1\n2 2\n\n"), 0);
  collect();
  EXPECT_EQ(listed(paths_.endpoints, pages_), (std::vector<std::string>{"/A>/B=2", "/A=2", "/C=2"}));
  EXPECT_EQ(visitor_paths(6, 10), title_bar("Visitor's Paths", "PTH") + header("Path:", "Visitors") +
                                      path_row(1, "/A" + kArrow + "/B", "2", "33.3") + kSpacer +
                                      path_row(2, "/A", "2", "33.3") + kSpacer + path_row(3, "/C", "2", "33.3") +
                                      close());
  // Single views in the root's child order: newest first.
  EXPECT_EQ(listed(paths_.single_view_pages, pages_), (std::vector<std::string>{"/C=2", "/A=2"}));
}

TEST_F(PathReportsTest, NodePathWithAndWithoutTheLastSeparator) {
  ASSERT_EQ(day({"/A", "/B", "/C"}, "1 0 1 2\n\n"), 0);
  PathNode* last = paths_.root.first_child->first_child->first_child;
  auto printed = [&](PathNode* node, bool after) {
    PageCapture page;
    print_node_path(node, pages_, "|", after);
    return page.text();
  };
  EXPECT_EQ(printed(last, false), "/A|/B|/C");
  EXPECT_EQ(printed(last, true), "/A|/B|/C|");
  EXPECT_EQ(printed(&paths_.root, true), "");
  EXPECT_EQ(last->parent->parent->parent, &paths_.root);  // the links are back in place
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
  // A page number the file's table does not hold drops its line, nodes and all; a
  // line without pages counts nowhere; doubled blanks and CR LF ends are read as
  // the writer meant them.
  ASSERT_EQ(day({"/A", "/B"}, "4 0 7\n9 -1\n6\n7 \n2 0  1 \r\n1 1\r\n\n"), 0);
  EXPECT_EQ(tree(), "/B=1\n/A=0\n /B=2\n");
  collect();
  EXPECT_EQ(paths_.root.visitors, 0);
  EXPECT_EQ(listed(paths_.endpoints, pages_), (std::vector<std::string>{"/A>/B=2", "/B=1"}));
}

TEST_F(PathReportsTest, CountSumsStopAtTheIntRange) {
  ASSERT_EQ(day({"/A"}, "2147483647 0\n\n"), 0);
  ASSERT_EQ(day({"/A"}, "2147483647 0\n\n"), 0);
  collect();
  EXPECT_EQ(paths_.root.first_child->visitors, INT_MAX);
  EXPECT_EQ(paths_.depth.counts.data[0], INT_MAX);
}

TEST_F(PathReportsTest, OutOfMemoryLeavesTheTreeAsItWas) {
  ASSERT_EQ(day({"/A", "/B", "/C"}, "1 0\n\n"), 0);
  const std::string before = tree();
  for (int allowed = 0; allowed < 2; ++allowed) {  // the line needs two new nodes
    FILE* file = file_with("5 0 1 2\n\n");
    intArr line_map;
    for (int32_t i = 0; i < 3; ++i) line_map.insert_at(i, i);
    fail_allocations_after(allowed);
    EXPECT_EQ(paths_.read_paths(file, line_map), ERR_MEM);
    fail_allocations_after(-1);
    std::fclose(file);
    EXPECT_EQ(tree(), before);
  }
}

TEST_F(PathReportsTest, OutOfMemoryWhileCollectingLeavesEmptyLists) {
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
  fail_allocations_after(-1);
  EXPECT_EQ(paths_.depth.counts.count, 0);

  // A printer without memory for its ranking writes the out-of-memory box.
  PageCapture box;
  html.out_of_memory();
  fail_allocations_after(0);
  std::string text = visitor_paths(8, 10);
  fail_allocations_after(-1);
  EXPECT_EQ(text, title_bar("Visitor's Paths", "PTH") + box.text());
}

TEST_F(PathReportsTest, VeryDeepPathIsReadCountedPrintedAndFreedWithoutRecursion) {
  run_on_small_stack([this] {
    // One day path of 200,000 page views over 1,000 pages: a line far longer than
    // the line buffer, read as one record.
    const int depth = 200000;
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) names.push_back("/p" + std::to_string(i));
    std::string line = "3";
    for (int i = 0; i < depth; ++i) line += " " + std::to_string(i % 1000);
    ASSERT_EQ(day(names, line + "\n1 5\n\n"), 0);
    ASSERT_EQ(day(names, line + "\n\n"), 0);
    collect();
    EXPECT_EQ(listed(paths_.single_view_pages, pages_), (std::vector<std::string>{"/p5=1"}));
    ASSERT_EQ(paths_.endpoints.count, 2);
    EXPECT_EQ(paths_.endpoints.counts.data[0], 6);
    EXPECT_EQ(map_of(paths_.page_stats.entry_pages), (std::vector<std::string>{"/p0=6", "/p5=1"}));
    EXPECT_EQ(map_of(paths_.page_stats.exit_pages), (std::vector<std::string>{"/p5=1", "/p999=6"}));
    ASSERT_EQ(paths_.depth.counts.count, depth / 2);
    EXPECT_EQ(paths_.depth.counts.data[0], 1);
    EXPECT_EQ(paths_.depth.counts.data[depth / 2 - 1], 6);

    std::string text = visitor_paths(7, 1);
    std::string expected_start = title_bar("Visitor's Paths (top 1 of 2)", "PTH") + header("Path:", "Visitors") +
                                 "<tr class=dat align=right><td align=center>1</td><td align=left>/p0" + kArrow +
                                 "/p1" + kArrow;
    std::string expected_end = kArrow + "/p999</td><td>6</td><td>85.7</td></tr>\n" + close();
    EXPECT_EQ(text.compare(0, expected_start.size(), expected_start), 0);
    ASSERT_GT(text.size(), expected_end.size());
    EXPECT_EQ(text.substr(text.size() - expected_end.size()), expected_end);
    std::size_t arrows = 0;
    for (std::size_t at = text.find(kArrow); at != std::string::npos; at = text.find(kArrow, at + 1)) ++arrows;
    EXPECT_EQ(arrows, static_cast<std::size_t>(depth - 1));
    paths_.clear();
    EXPECT_EQ(paths_.root.first_child, nullptr);
  });
}

}  // namespace
