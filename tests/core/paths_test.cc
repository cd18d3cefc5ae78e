#include "core/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "core/config.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/pages.h"
#include "core/program.h"
#include "support/small_stack.h"
#include "support/temp_files.h"

namespace {

std::string written_by(const std::function<void(FILE*)>& writer) {
  FILE* file = std::tmpfile();
  writer(file);
  std::string text;
  std::rewind(file);
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  std::fclose(file);
  return text;
}

std::string paths_section(Paths& paths, bool state_file) {
  return written_by([&](FILE* f) { paths.write(f, state_file); });
}

// Page numbers from the first level down to the node.
std::vector<int> pages_to(PathNode* node) {
  std::vector<int> pages;
  for_each_on_path(node, [&](const PathNode* step) { pages.push_back(step->page); });
  return pages;
}

// Every node below the root as (pages on its way, timed views, seconds, visitors),
// sorted, so trees with child lists in another order compare equal.
using NodeFacts = std::tuple<std::vector<int>, int, int, int>;
std::vector<NodeFacts> facts_of(Paths& paths) {
  std::vector<NodeFacts> facts;
  NodeStack stack;
  for (PathNode* child = paths.root.first_child; child; child = child->next_sibling) stack.push(child);
  while (!stack.empty()) {
    PathNode* node = stack.top().node;
    stack.pop();
    facts.emplace_back(pages_to(node), node->timed_views, node->seconds, node->visitors);
    for (PathNode* child = node->first_child; child; child = child->next_sibling) stack.push(child);
  }
  std::sort(facts.begin(), facts.end());
  return facts;
}

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    select_program_build(ProgramBuild::parser);
    saved_timeout_ = config.session_timeout;
    saved_increment_ = config.depth_increment;
    config.session_timeout = 3600;
    paths_.root.init_root();
    paths_.depth.init();
  }
  void TearDown() override {
    fail_allocations_after(-1);
    config.session_timeout = saved_timeout_;
    config.depth_increment = saved_increment_;
  }

  // One pages table with `n` pages /p0, /p1, ... so that close_day has page numbers.
  void add_pages(int n) {
    for (int i = 0; i < n; ++i) {
      int32_t page;
      bool is_page;
      ASSERT_EQ(pages_.add_view(("/p" + std::to_string(i)).c_str(), &page, &is_page), 0);
    }
  }

  int close() {
    int average = -1;
    EXPECT_EQ(paths_.close_day(&average, pages_), 0);
    return average;
  }

  void very_long_day();
  void wide_tree();

  Paths paths_;
  Pgs pages_;
  int saved_timeout_ = 0;
  int saved_increment_ = 0;
};

TEST_F(PathsTest, OneViewMakesAnUntimedFirstLevelEndpoint) {
  add_pages(4);
  ASSERT_EQ(paths_.record_page_view(0, 3, 10, 0, 0), 0);
  PathNode* node = paths_.root.first_child;
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->page, 3);
  EXPECT_EQ(node->visitors, 1);
  EXPECT_EQ(node->timed_views, 0);
  EXPECT_EQ(node->seconds, 0);
  EXPECT_EQ(node->parent, &paths_.root);
  EXPECT_EQ(paths_.sessions[0]->seconds, 0);
  EXPECT_EQ(close(), 0);  // a session of 0 seconds counts in neither sum
  EXPECT_EQ(paths_section(paths_, false), "PTH\n1 3\n\n");
}

TEST_F(PathsTest, PauseBelowTheTimeoutIsTimedOnTheFirstNode) {
  add_pages(3);
  ASSERT_EQ(paths_.record_page_view(0, 1, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(0, 2, 10, 0, 30), 0);
  PathNode* first = paths_.root.first_child;
  EXPECT_EQ(first->timed_views, 1);
  EXPECT_EQ(first->seconds, 30);
  EXPECT_EQ(first->visitors, 0);
  EXPECT_EQ(first->first_child->page, 2);
  EXPECT_EQ(first->first_child->visitors, 1);
  const Session* session = paths_.sessions[0];
  EXPECT_EQ(session->seconds, 30);
  EXPECT_EQ(session->visits, 1);
  EXPECT_EQ(close(), 30);
  EXPECT_EQ(pages_.seconds.data[1], 30);
  EXPECT_EQ(pages_.seconds.data[2], 0);
  EXPECT_EQ(paths_section(paths_, false), "PTH\n1 1 2\n\n");
}

TEST_F(PathsTest, PauseOfTheTimeoutStartsAVisitButNotANewPath) {
  ASSERT_EQ(paths_.record_page_view(0, 1, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(0, 2, 11, 0, 0), 0);
  const Session* session = paths_.sessions[0];
  EXPECT_EQ(session->visits, 2);
  EXPECT_EQ(session->seconds, 0);
  PathNode* first = paths_.root.first_child;
  EXPECT_EQ(first->timed_views, 0);
  EXPECT_EQ(first->seconds, 0);
  ASSERT_NE(first->first_child, nullptr);
  EXPECT_EQ(first->first_child->page, 2);
  EXPECT_EQ(paths_.root.first_child->next_sibling, nullptr);
}

TEST_F(PathsTest, ZeroAndNegativePausesAreNotTimed) {
  ASSERT_EQ(paths_.record_page_view(0, 1, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(0, 2, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(0, 3, 9, 59, 50), 0);  // a hit older than the last one
  PathNode* first = paths_.root.first_child;
  EXPECT_EQ(first->timed_views, 0);
  EXPECT_EQ(first->first_child->timed_views, 0);
  EXPECT_EQ(paths_.sessions[0]->seconds, -10);
  EXPECT_EQ(paths_.sessions[0]->visits, 1);
}

TEST_F(PathsTest, SamePageTwiceGoesOneLevelDown) {
  ASSERT_EQ(paths_.record_page_view(0, 5, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(0, 5, 10, 0, 10), 0);
  PathNode* first = paths_.root.first_child;
  ASSERT_NE(first->first_child, nullptr);
  EXPECT_EQ(first->first_child->page, 5);
  EXPECT_EQ(paths_.sessions[0]->current, first->first_child);
}

TEST_F(PathsTest, SharedNodesCountTheSessionsStandingOnThem) {
  ASSERT_EQ(paths_.record_page_view(0, 1, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(1, 1, 10, 0, 5), 0);
  ASSERT_EQ(paths_.record_page_view(2, 2, 10, 0, 5), 0);
  PathNode* one = paths_.root.find_child(1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->visitors, 2);
  EXPECT_EQ(paths_.root.first_child->page, 2);  // the newest child heads the list
  EXPECT_EQ(paths_.root.visitors, -3);
  EXPECT_EQ(entry_page_of(one), 1);
  ASSERT_EQ(paths_.record_page_view(0, 4, 10, 1, 0), 0);
  EXPECT_EQ(entry_page_of(paths_.sessions[0]->current), 1);
}

TEST_F(PathsTest, VisitorsZeroAndFiveGiveSixSlots) {
  add_pages(3);
  ASSERT_EQ(paths_.record_page_view(0, 2, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(5, 1, 10, 0, 5), 0);
  EXPECT_EQ(paths_.session_count, 6);
  for (int slot = 1; slot <= 4; ++slot) EXPECT_EQ(paths_.sessions[slot], nullptr);
  close();
  EXPECT_EQ(paths_section(paths_, true),
            "PTH\n1 2\n1 1\n\n"
            "VIS\n0 1 0 10 0 0 2.0.0\n1\n2\n3\n4\n5 1 0 10 0 5 1.0.0\n\n");
}

TEST_F(PathsTest, SessionLineCarriesTheSharedNodeTimes) {
  add_pages(8);
  ASSERT_EQ(paths_.record_page_view(4, 3, 14, 4, 37), 0);
  ASSERT_EQ(paths_.record_page_view(4, 7, 14, 5, 12), 0);
  close();
  EXPECT_EQ(paths_section(paths_, true),
            "PTH\n1 3 7\n\nVIS\n0\n1\n2\n3\n4 1 35 14 5 12 3.1.35 7.0.0\n\n");
}

TEST_F(PathsTest, AverageCountsOnlySessionsWithSeconds) {
  // 60 seconds in one visit.
  ASSERT_EQ(paths_.record_page_view(0, 1, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(0, 2, 10, 1, 0), 0);
  // 120 seconds in two visits.
  ASSERT_EQ(paths_.record_page_view(1, 1, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(1, 2, 10, 1, 0), 0);
  ASSERT_EQ(paths_.record_page_view(1, 3, 12, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(1, 4, 12, 1, 0), 0);
  // 0 seconds in one visit.
  ASSERT_EQ(paths_.record_page_view(2, 1, 10, 0, 0), 0);
  EXPECT_EQ(paths_.sessions[1]->visits, 2);
  EXPECT_EQ(paths_.sessions[1]->seconds, 120);
  EXPECT_EQ(close(), 60);
}

TEST_F(PathsTest, DayWithoutPageViewsWritesNothing) {
  EXPECT_EQ(close(), 0);
  EXPECT_EQ(paths_section(paths_, true), "");
  EXPECT_EQ(paths_section(paths_, false), "");
}

TEST_F(PathsTest, PageTimesSumEveryNodeOfAPage) {
  add_pages(3);
  // Page 1 timed on two different nodes: first level (20 s) and below page 2 (40 s).
  ASSERT_EQ(paths_.record_page_view(0, 1, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(0, 0, 10, 0, 20), 0);
  ASSERT_EQ(paths_.record_page_view(1, 2, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(1, 1, 10, 0, 10), 0);
  ASSERT_EQ(paths_.record_page_view(1, 0, 10, 0, 50), 0);
  close();
  const PageStats& stats = paths_.page_stats;
  ASSERT_EQ(stats.time_keys.count, 3);
  EXPECT_EQ(stats.time_keys.data[0], 0);
  EXPECT_EQ(stats.time_keys.data[1], 1);
  EXPECT_EQ(stats.time_keys.data[2], 2);
  EXPECT_EQ(stats.time_seconds.data[1], 60);
  EXPECT_EQ(stats.timed_views.data[1], 2);
  EXPECT_EQ(pages_.seconds.data[0], 0);
  EXPECT_EQ(pages_.seconds.data[1], 30);
  EXPECT_EQ(pages_.seconds.data[2], 10);
}

// The walk order written out as its recursive definition, for small trees.
void reference_walk(PathNode* node, std::vector<PathNode*>& order) {
  if (!node) return;
  reference_walk(node->first_child, order);
  reference_walk(node->next_sibling, order);
  order.push_back(node);
}

TEST_F(PathsTest, WalkTakesEachNodeAfterItsSubtreeAndLaterSiblings) {
  // A bushy tree: 40 visitors, each walking a few pages drawn from a small set.
  unsigned seed = 7;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int visitor = 0; visitor < 40; ++visitor) {
    int views = 1 + static_cast<int>(next(5));
    for (int i = 0; i < views; ++i) {
      ASSERT_EQ(paths_.record_page_view(visitor, static_cast<int32_t>(next(4)), 10, i, 0), 0);
    }
  }
  std::vector<PathNode*> order;
  reference_walk(&paths_.root, order);
  std::vector<PathNode*> expected;
  for (PathNode* node : order) {
    if (node->visitors > 0) expected.push_back(node);
  }
  ASSERT_EQ(walk_paths(paths_, &paths_.root), 0);
  ASSERT_EQ(paths_.endpoints.count, static_cast<int32_t>(expected.size()));
  for (int32_t i = 0; i < paths_.endpoints.count; ++i) {
    EXPECT_EQ(paths_.endpoints.nodes[i], expected[i]) << i;
    EXPECT_EQ(paths_.endpoints.counts.data[i], expected[i]->visitors);
  }
  EXPECT_EQ(order.back(), &paths_.root);
}

TEST_F(PathsTest, RootNeverBecomesAnEndpoint) {
  paths_.root.visitors = 3;
  ASSERT_NE(paths_.root.add_child(1, 0, 0), nullptr);
  paths_.root.first_child->visitors = 2;
  ASSERT_EQ(walk_paths(paths_, &paths_.root), 0);
  ASSERT_EQ(paths_.endpoints.count, 1);
  EXPECT_EQ(paths_.endpoints.nodes[0]->page, 1);
}

TEST_F(PathsTest, StateSectionsReadBackIntoTheSameTree) {
  add_pages(6);
  unsigned seed = 11;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int i = 0; i < 300; ++i) {
    int visitor = static_cast<int>(next(25));
    int second = static_cast<int>(next(3600 * 2));
    ASSERT_EQ(paths_.record_page_view(visitor, static_cast<int32_t>(next(6)), 8 + second / 3600, second / 60 % 60,
                                      second % 60),
              0);
  }
  close();
  std::string text = paths_section(paths_, true);
  FILE* file = file_with(text.substr(text.find("VIS\n") + 4) + "HST\n");
  Paths loaded;
  loaded.root.init_root();
  ASSERT_EQ(loaded.read_visits(file, 6), 0);
  char rest[8] = "";
  EXPECT_NE(std::fgets(rest, sizeof rest, file), nullptr);
  EXPECT_STREQ(rest, "HST\n");  // the reader stops right after the empty line
  std::fclose(file);

  EXPECT_EQ(facts_of(loaded), facts_of(paths_));
  ASSERT_EQ(loaded.session_count, paths_.session_count);
  for (int32_t slot = 0; slot < paths_.session_count; ++slot) {
    const Session* a = paths_.sessions[slot];
    const Session* b = loaded.sessions[slot];
    ASSERT_EQ(a == nullptr, b == nullptr) << slot;
    if (!a) continue;
    EXPECT_EQ(a->visits, b->visits);
    EXPECT_EQ(a->seconds, b->seconds);
    EXPECT_EQ(a->hour, b->hour);
    EXPECT_EQ(a->minute, b->minute);
    EXPECT_EQ(a->second, b->second);
    EXPECT_EQ(pages_to(a->current), pages_to(b->current));
  }
  // The loaded day goes on like the original.
  ASSERT_EQ(loaded.record_page_view(3, 5, 23, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(3, 5, 23, 0, 0), 0);
  EXPECT_EQ(facts_of(loaded), facts_of(paths_));
}

TEST_F(PathsTest, SessionWithoutTriplesStaysOnTheRoot) {
  FILE* file = file_with("0 2 40 9 30 0\n1\n\n");
  ASSERT_EQ(paths_.read_visits(file, 0), 0);
  std::fclose(file);
  ASSERT_EQ(paths_.session_count, 2);
  ASSERT_NE(paths_.sessions[0], nullptr);
  EXPECT_EQ(paths_.sessions[0]->current, &paths_.root);
  EXPECT_EQ(paths_.sessions[0]->visits, 2);
  EXPECT_EQ(paths_.sessions[0]->seconds, 40);
  EXPECT_EQ(paths_.sessions[1], nullptr);
  ASSERT_EQ(paths_.record_page_view(0, 4, 9, 30, 20), 0);  // pause 20 from 9:30:00
  EXPECT_EQ(paths_.sessions[0]->seconds, 60);
}

// A VIS line for one session whose path is the given triples.
std::string session_line(const std::vector<std::tuple<int, int, int>>& triples, int pad_first = 0) {
  std::string line = "0 1 0 10 0 0";
  bool first = true;
  for (const auto& [page, timed, seconds] : triples) {
    line += " ";
    if (first) line += std::string(static_cast<std::size_t>(pad_first), '0');
    first = false;
    line += std::to_string(page) + "." + std::to_string(timed) + "." + std::to_string(seconds);
  }
  return line;
}

TEST_F(PathsTest, OverlongVisitLineIsReadWhole) {
  std::vector<std::tuple<int, int, int>> triples;
  for (int i = 0; i < 2500; ++i) triples.emplace_back(1000 + i, i % 4, i * 13);
  std::vector<int> expected_pages;
  for (const auto& t : triples) expected_pages.push_back(std::get<0>(t));
  // Shift where the buffer cuts the line across every byte of a triple.
  for (int pad = 0; pad < 16; ++pad) {
    std::string line = session_line(triples, pad);
    ASSERT_GT(line.size(), 20479u);
    FILE* file = file_with(line + "\n1\n\n");
    Paths loaded;
    loaded.root.init_root();
    ASSERT_EQ(loaded.read_visits(file, 3500), 0);
    std::fclose(file);
    ASSERT_EQ(loaded.session_count, 2) << pad;
    ASSERT_NE(loaded.sessions[0], nullptr);
    EXPECT_EQ(pages_to(loaded.sessions[0]->current), expected_pages) << pad;
    int i = 0;
    for_each_on_path(loaded.sessions[0]->current, [&](const PathNode* node) {
      EXPECT_EQ(node->timed_views, i % 4);
      EXPECT_EQ(node->seconds, i * 13);
      ++i;
    });
  }
}

TEST_F(PathsTest, LineFeedArrivingAloneEndsTheLineNotTheSection) {
  std::vector<std::tuple<int, int, int>> triples;
  for (int i = 0; i < 2100; ++i) triples.emplace_back(i, 0, 0);
  std::string line = session_line(triples);
  ASSERT_LT(line.size(), 20479u);
  // Pad the last triple's seconds with leading zeros until the line fills the buffer.
  line.insert(line.rfind('.') + 1, std::string(20479 - line.size(), '0'));
  ASSERT_EQ(line.size(), 20479u);
  FILE* file = file_with(line + "\n1 1 0 10 0 0 7.0.0\n\n");
  ASSERT_EQ(paths_.read_visits(file, 2100), 0);
  std::fclose(file);
  ASSERT_EQ(paths_.session_count, 2);
  EXPECT_EQ(pages_to(paths_.sessions[0]->current).size(), 2100u);
  EXPECT_EQ(pages_to(paths_.sessions[1]->current), std::vector<int>{7});
}

TEST_F(PathsTest, DamagedVisitLinesStayInsideTheSessionArrayAndThePages) {
  // Seven pages: a line naming another page is left out whole (the slot stays
  // empty), and the steps it took before are undone.
  std::string text = "99999999 1 0 10 0 0 1.0.0\n-3 1 0 10 0 0 2.0.0\nabc\n0 1 0 10 0 0 " +
                     std::string(30000, '1') + " 4.0.0\n7 1 0 10 0 0  5.0.0  6.0.0 \n" +
                     "0 1 0 10 0 0 1.0.0 3.0.0 268435456.0.0\n0 1 0 10 0 0 -1.0.0\n0 1 0 10 0 0 1.1.1";
  FILE* file = file_with(text);
  ASSERT_EQ(paths_.read_visits(file, 7), 0);
  std::fclose(file);
  ASSERT_EQ(paths_.session_count, 8);
  EXPECT_EQ(pages_to(paths_.sessions[0]->current), std::vector<int>{1});
  EXPECT_EQ(pages_to(paths_.sessions[1]->current), std::vector<int>{2});
  EXPECT_EQ(paths_.sessions[2], nullptr);
  EXPECT_EQ(paths_.sessions[3], nullptr);
  EXPECT_EQ(pages_to(paths_.sessions[4]->current), (std::vector<int>{5, 6}));
  EXPECT_EQ(paths_.sessions[5], nullptr);
  EXPECT_EQ(paths_.sessions[6], nullptr);
  EXPECT_EQ(paths_.sessions[7]->current, paths_.sessions[0]->current);  // last line without a line feed
  const std::vector<NodeFacts> tree = {{{1}, 0, 0, 2}, {{2}, 0, 0, 1}, {{5}, 0, 0, 0}, {{5, 6}, 0, 0, 1}};
  EXPECT_EQ(facts_of(paths_), tree);
}

TEST_F(PathsTest, NegativeVisitorNumberIsRefused) {
  EXPECT_EQ(paths_.record_page_view(-1, 1, 10, 0, 0), ERR_INP);
  EXPECT_EQ(paths_.session_count, 0);
}

TEST_F(PathsTest, VeryLongDayIsWalkedWrittenReadAndFreedWithoutRecursion) {
  run_on_small_stack([this] { very_long_day(); });
}

void PathsTest::very_long_day() {
  const int steps = 200000;
  add_pages(1000);
  for (int i = 0; i < steps; ++i) {
    int second = static_cast<int>(static_cast<int64_t>(i) * 86399 / steps);
    ASSERT_EQ(paths_.record_page_view(0, i % 1000, second / 3600, second / 60 % 60, second % 60), 0);
  }
  EXPECT_EQ(close(), static_cast<int>(static_cast<int64_t>(steps - 1) * 86399 / steps));  // first view at 0:00:00
  ASSERT_EQ(paths_.endpoints.count, 1);
  std::string text = paths_section(paths_, true);
  std::size_t vis = text.find("VIS\n");
  ASSERT_NE(vis, std::string::npos);
  std::string pth_line = text.substr(4, text.find('\n', 4) - 4);
  EXPECT_EQ(pth_line.substr(0, 12), "1 0 1 2 3 4 ");
  EXPECT_EQ(pth_line.substr(pth_line.size() - 8), " 998 999");

  FILE* file = file_with(text.substr(vis + 4));
  Paths loaded;
  loaded.root.init_root();
  ASSERT_EQ(loaded.read_visits(file, 1000), 0);
  std::fclose(file);
  ASSERT_EQ(loaded.session_count, 1);
  std::vector<int> path = pages_to(loaded.sessions[0]->current);
  ASSERT_EQ(path.size(), static_cast<std::size_t>(steps));
  EXPECT_EQ(path.back(), (steps - 1) % 1000);
  int average = 0;
  Pgs loaded_pages;
  ASSERT_EQ(loaded.close_day(&average, loaded_pages), 0);
  EXPECT_EQ(paths_section(loaded, true), text);
  loaded.clear();
  EXPECT_EQ(loaded.root.first_child, nullptr);
  paths_.clear();
}

TEST_F(PathsTest, WideTreeIsWalkedAndFreedWithoutRecursion) {
  run_on_small_stack([this] { wide_tree(); });
}

void PathsTest::wide_tree() {
  // 200,000 first pages in one sibling list; every 10,000th ends a path.
  const int width = 200000;
  for (int i = 0; i < width; ++i) {
    PathNode* node = paths_.root.add_child(i, 1, i % 50);
    ASSERT_NE(node, nullptr);
    node->visitors = i % 10000 == 0 ? 1 : 0;
    node->page = i % 7;
  }
  ASSERT_EQ(walk_paths(paths_, &paths_.root), 0);
  ASSERT_EQ(paths_.endpoints.count, width / 10000);
  // The oldest child, at the end of the list, comes first.
  EXPECT_EQ(paths_.endpoints.nodes[0]->next_sibling, nullptr);
  for (int32_t i = 1; i < paths_.endpoints.count; ++i) {
    int hops = 0;
    for (PathNode* n = paths_.endpoints.nodes[i]; n != paths_.endpoints.nodes[i - 1]; n = n->next_sibling) ++hops;
    EXPECT_EQ(hops, 10000);
  }
  ASSERT_EQ(paths_.page_stats.time_keys.count, 7);
  EXPECT_EQ(paths_.page_stats.timed_views.data[0], (width + 6) / 7);
  paths_.root.free_subtree();
  EXPECT_EQ(paths_.root.first_child, nullptr);
  EXPECT_EQ(paths_.root.page, -1);
}

TEST_F(PathsTest, FreeSubtreeResetsTheNodeToTheRootState) {
  ASSERT_EQ(paths_.record_page_view(0, 1, 10, 0, 0), 0);
  ASSERT_EQ(paths_.record_page_view(0, 2, 10, 0, 5), 0);
  ASSERT_EQ(paths_.record_page_view(1, 3, 10, 0, 0), 0);
  paths_.root.free_subtree();
  EXPECT_EQ(paths_.root.first_child, nullptr);
  EXPECT_EQ(paths_.root.visitors, 0);
  EXPECT_EQ(paths_.root.page, -1);
  paths_.root.init_root();
  // Sessions still point into the freed tree; clear drops them too.
  for (int32_t i = 0; i < paths_.session_count; ++i) paths_.sessions[i]->current = &paths_.root;
  paths_.clear();
}

TEST_F(PathsTest, ClearEmptiesEverythingButTheBucketSize) {
  config.depth_increment = 5;
  paths_.depth.init();
  add_pages(3);
  ASSERT_EQ(paths_.record_page_view(2, 1, 10, 0, 0), 0);
  ASSERT_EQ(paths_.depth.counts.insert_at(4, 0), 0);
  ASSERT_EQ(paths_.page_stats.add_entry(1, 1), 0);
  close();
  ASSERT_EQ(paths_.single_view_pages.push(paths_.root.first_child), 0);
  paths_.clear();
  EXPECT_EQ(paths_.session_count, 0);
  EXPECT_EQ(paths_.sessions, nullptr);
  EXPECT_EQ(paths_.root.first_child, nullptr);
  EXPECT_EQ(paths_.endpoints.count, 0);
  EXPECT_EQ(paths_.single_view_pages.count, 0);
  EXPECT_EQ(paths_.page_stats.time_keys.count, 0);
  EXPECT_EQ(paths_.page_stats.entry_pages.keys.count, 0);
  EXPECT_EQ(paths_.depth.counts.count, 0);
  EXPECT_EQ(paths_.depth.bucket_size, 5);
  EXPECT_EQ(paths_section(paths_, true), "");
  ASSERT_EQ(paths_.record_page_view(0, 2, 11, 0, 0), 0);
  close();
  EXPECT_EQ(paths_section(paths_, false), "PTH\n1 2\n\n");
}

TEST_F(PathsTest, DepthBucketSizeComesFromTheIncrement) {
  config.depth_increment = 3;
  paths_.depth.init();
  EXPECT_EQ(paths_.depth.bucket_size, 3);
  config.depth_increment = 0;
  paths_.depth.init();
  EXPECT_EQ(paths_.depth.bucket_size, 2);
  config.depth_increment = -4;
  paths_.depth.init();
  EXPECT_EQ(paths_.depth.bucket_size, 2);
}

TEST_F(PathsTest, EntryAndExitMapsSumByPage) {
  PageStats stats;
  ASSERT_EQ(stats.add_entry(5, 3), 0);
  ASSERT_EQ(stats.add_entry(2, 1), 0);
  ASSERT_EQ(stats.add_entry(5, 2), 0);
  ASSERT_EQ(stats.entry_pages.keys.count, 2);
  EXPECT_EQ(stats.entry_pages.keys.data[0], 2);
  EXPECT_EQ(stats.entry_pages.values.data[0], 1);
  EXPECT_EQ(stats.entry_pages.keys.data[1], 5);
  EXPECT_EQ(stats.entry_pages.values.data[1], 5);
  ASSERT_EQ(stats.add_exit(7, 4), 0);
  EXPECT_EQ(stats.exit_pages.values.data[0], 4);
  PathNode root;
  root.init_root();
  EXPECT_EQ(stats.add(&root), 0);  // the root stands for no page
  EXPECT_EQ(stats.time_keys.count, 0);
}

TEST_F(PathsTest, OutOfMemoryChangesNothing) {
  paths_.node_pool.block_nodes = 1;  // every node needs memory of its own
  ASSERT_EQ(paths_.record_page_view(0, 1, 10, 0, 0), 0);
  fail_allocations_after(0);
  EXPECT_EQ(paths_.record_page_view(0, 2, 10, 0, 30), ERR_MEM);
  EXPECT_EQ(paths_.record_page_view(1, 2, 10, 0, 30), ERR_MEM);
  fail_allocations_after(-1);
  const Session* session = paths_.sessions[0];
  EXPECT_EQ(session->current->page, 1);
  EXPECT_EQ(session->current->visitors, 1);
  EXPECT_EQ(session->current->timed_views, 0);
  EXPECT_EQ(session->seconds, 0);
  EXPECT_EQ(session->second, 0);
  EXPECT_EQ(paths_.session_count, 1);

  fail_allocations_after(0);
  int average;
  EXPECT_EQ(paths_.close_day(&average, pages_), ERR_MEM);
  fail_allocations_after(-1);

  FILE* file = file_with("0 1 0 10 0 0 1.0.0\n\n");
  Paths loaded;
  loaded.root.init_root();
  fail_allocations_after(1);
  EXPECT_EQ(loaded.read_visits(file, 2), ERR_MEM);
  fail_allocations_after(-1);
  std::fclose(file);
}

TEST_F(PathsTest, PooledNodesRunOutOnlyAtABlockEndAndGoBackAtClear) {
  // Visitor 0 walks one page deeper per view; each view needs a new node.
  int32_t views = 0;
  for (; views < 3000; ++views) ASSERT_EQ(paths_.record_page_view(0, views % 7, 10, 0, 0), 0);
  int32_t depth = 0;
  for (const PathNode* node = paths_.sessions[0]->current; node->parent; node = node->parent) {
    EXPECT_TRUE(node->pooled);
    ++depth;
  }
  EXPECT_EQ(depth, 3000);
  // Without memory the next block cannot come, sooner or later: nothing changes then.
  const PathNode* before = paths_.sessions[0]->current;
  int32_t added = 0;
  for (;; ++added) {
    fail_allocations_after(0);
    int status = paths_.record_page_view(0, 1, 10, 0, 1);
    fail_allocations_after(-1);
    if (status != 0) break;
    before = paths_.sessions[0]->current;
    ASSERT_LT(added, paths_.node_pool.block_nodes);
  }
  EXPECT_EQ(paths_.sessions[0]->current, before);
  EXPECT_EQ(before->first_child, nullptr);
  EXPECT_EQ(before->visitors, 1);
  // Heap nodes and pooled nodes in one tree are all freed (the sanitizer build
  // sees a leak or a bad free).
  ASSERT_NE(paths_.root.add_child(99, 0, 0), nullptr);
  EXPECT_FALSE(paths_.root.first_child->pooled);
  paths_.clear();
  EXPECT_EQ(paths_.node_pool.blocks, nullptr);
  EXPECT_EQ(paths_.root.first_child, nullptr);
  EXPECT_EQ(paths_.record_page_view(0, 1, 10, 0, 0), 0);
}

TEST_F(PathsTest, LongChildListsAreFoundThroughTheirIndexInListOrder) {
  // 300 first pages, each viewed by two visitors: the second finds the first's node.
  for (int32_t page = 0; page < 300; ++page) {
    ASSERT_EQ(paths_.record_page_view(2 * page, page, 10, 0, 0), 0);
    ASSERT_EQ(paths_.record_page_view(2 * page + 1, page, 10, 0, 1), 0);
  }
  ASSERT_NE(paths_.root.child_index, nullptr);
  int32_t expected_page = 299;  // newest first, never reordered
  for (PathNode* child = paths_.root.first_child; child; child = child->next_sibling, --expected_page) {
    EXPECT_EQ(child->page, expected_page);
    EXPECT_EQ(child->visitors, 2);
    EXPECT_EQ(paths_.root.find_child(expected_page), child);
  }
  EXPECT_EQ(expected_page, -1);
  EXPECT_EQ(paths_.root.find_child(300), nullptr);
  // A page given twice behind the index's back: the newest answers, as in the list.
  PathNode* older = paths_.root.find_child(7);
  PathNode* newer = paths_.root.add_child(7, 0, 0);
  ASSERT_NE(newer, nullptr);
  EXPECT_EQ(paths_.root.find_child(7), newer);
  EXPECT_NE(older, newer);
  paths_.root.free_subtree();
  EXPECT_EQ(paths_.root.child_index, nullptr);
  for (int32_t i = 0; i < paths_.session_count; ++i) paths_.sessions[i]->current = &paths_.root;
}

TEST_F(PathsTest, WithoutMemoryForAnIndexTheListStillAnswers) {
  for (int32_t page = 0; page < 40; ++page) ASSERT_NE(paths_.root.add_child(page, 0, 0), nullptr);
  fail_allocations_after(2);  // the session slot and the session, no index
  EXPECT_EQ(paths_.record_page_view(0, 3, 10, 0, 0), 0);
  EXPECT_EQ(paths_.root.child_index, nullptr);
  EXPECT_EQ(paths_.sessions[0]->current->page, 3);
  EXPECT_EQ(paths_.root.find_child(77), nullptr);
  EXPECT_EQ(paths_.root.find_child(0)->page, 0);
  EXPECT_EQ(paths_.record_page_view(0, 77, 10, 0, 5), ERR_MEM);
  fail_allocations_after(-1);
  EXPECT_EQ(paths_.root.child_index, nullptr);
  EXPECT_EQ(paths_.sessions[0]->current->page, 3);
  EXPECT_EQ(paths_.sessions[0]->current->first_child, nullptr);
  ASSERT_EQ(paths_.record_page_view(1, 5, 10, 0, 5), 0);  // the index comes once memory is back
  EXPECT_NE(paths_.root.child_index, nullptr);
  EXPECT_EQ(paths_.sessions[1]->current, paths_.root.find_child(5));
  // An index that cannot grow is dropped, and the list answers alone again.
  PathNode* parent = &paths_.root;
  for (int32_t page = 40; parent->child_index; ++page) {
    fail_allocations_after(1);  // the node, not a larger index
    ASSERT_NE(parent->add_child(page, 0, 0), nullptr);
    fail_allocations_after(-1);
  }
  int32_t children = 0;
  for (PathNode* child = parent->first_child; child; child = child->next_sibling) {
    EXPECT_EQ(parent->find_child(child->page), child);
    ++children;
  }
  EXPECT_GT(children, 40);
}

TEST_F(PathsTest, SecondSumsStopAtTheIntRange) {
  config.session_timeout = 2000000000;
  PathNode node;
  node.init(1, nullptr);
  node.leave(2000000000 - 1);
  node.leave(2000000000 - 1);
  EXPECT_EQ(node.seconds, INT32_MAX);
  EXPECT_EQ(node.timed_views, 2);
}

}  // namespace
