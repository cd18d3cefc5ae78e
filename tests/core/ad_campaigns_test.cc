#include "core/ad_campaigns.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/output.h"
#include "support/capture.h"
#include "support/file_text.h"
#include "support/work_dir.h"

namespace {

std::string read_file(const char* name) { return file_text(name); }

// The name and patterns of campaign i, in memory order.
std::vector<std::string> campaign(const AdCampaigns& table, int i) {
  std::vector<std::string> list;
  const strArr& c = *table.campaigns[i];
  for (int j = 0; j < c.count; ++j) list.push_back(c.strings[j]);
  return list;
}

using List = std::vector<std::string>;

class AdCampaignsTest : public ::testing::Test {
 protected:
  void TearDown() override { fail_allocations_after(-1); }
  WorkDir dir;
};

TEST_F(AdCampaignsTest, LoadKeepsFileOrderAndSaveReversesIt) {
  dir.write("dat_acp.cfg", "Spring sale | a.example b.example\nWinter |\nBare\n");
  AdCampaigns table;
  ASSERT_EQ(table.load(), 0);
  ASSERT_EQ(table.count, 3);
  EXPECT_EQ(campaign(table, 0), (List{"Spring sale", "a.example", "b.example"}));
  EXPECT_EQ(campaign(table, 1), (List{"Winter"}));
  EXPECT_EQ(campaign(table, 2), (List{"Bar"}));
  ASSERT_EQ(table.save(), 0);
  EXPECT_EQ(read_file("dat_acp.cfg"), "Spring sale | b.example a.example\nWinter |\nBar |\n");

  // Every load and save turns the patterns round once more.
  AdCampaigns again;
  ASSERT_EQ(again.load(), 0);
  ASSERT_EQ(again.save(), 0);
  EXPECT_EQ(read_file("dat_acp.cfg"), "Spring sale | a.example b.example\nWinter |\nBar |\n");
}

TEST_F(AdCampaignsTest, ReaderQuirks) {
  dir.write("dat_acp.cfg",
            "Name| x.example y.example\n"  // loses the name's last character
            "Tight |z.example w\n"         // loses the first pattern's first character
            "Gap | a  b\n"                 // two blanks: an empty pattern
            "Twice | a a Twice b\r\n"      // repeats and the name are kept once
            "\n"                           // an empty line: empty name, no patterns
            "Only |x\n"                    // the one character after "|" is skipped
            "End | a \n");                 // a trailing blank adds nothing
  AdCampaigns table;
  ASSERT_EQ(table.load(), 0);
  ASSERT_EQ(table.count, 7);
  EXPECT_EQ(campaign(table, 0), (List{"Nam", "x.example", "y.example"}));
  EXPECT_EQ(campaign(table, 1), (List{"Tight", ".example", "w"}));
  EXPECT_EQ(campaign(table, 2), (List{"Gap", "a", "", "b"}));
  EXPECT_EQ(campaign(table, 3), (List{"Twice", "a", "b"}));
  EXPECT_EQ(campaign(table, 4), (List{""}));
  EXPECT_EQ(campaign(table, 5), (List{"Only"}));
  EXPECT_EQ(campaign(table, 6), (List{"End", "a"}));
}

TEST_F(AdCampaignsTest, MissingFile) {
  AdCampaigns table;
  EXPECT_EQ(table.load(), ERR_FIL);
  EXPECT_EQ(table.count, 0);
}

TEST_F(AdCampaignsTest, FirstMatchingCampaignCounts) {
  dir.write("dat_acp.cfg", "First | ads.example\nSecond | example\nNever\n");
  AdCampaigns table;
  ASSERT_EQ(table.load(), 0);
  int total = 0;
  ASSERT_EQ(table.match("www.ads.example", 3, total), 0);
  ASSERT_EQ(table.match("other.example", 2, total), 0);
  ASSERT_EQ(table.match("ads.example.org", 1, total), 0);
  ASSERT_EQ(table.match("nothing.test", 9, total), 0);
  ASSERT_EQ(table.match("Neve", 9, total), 0);  // the name is not a pattern
  ASSERT_EQ(table.match("ADS.EXAMPLE", 9, total), 0);  // case matters
  EXPECT_EQ(total, 6);
  ASSERT_EQ(table.counters.count, 2);
  EXPECT_STREQ(table.counters.keys.strings[0], "First");
  EXPECT_EQ(table.counters.data[0], 4);
  EXPECT_STREQ(table.counters.keys.strings[1], "Second");
  EXPECT_EQ(table.counters.data[1], 2);

  // An empty pattern matches every referrer.
  ASSERT_EQ(table.add("All"), 0);
  ASSERT_EQ(table.add_pattern(""), 0);
  ASSERT_EQ(table.match("unrelated.test", 5, total), 0);
  ASSERT_EQ(table.match("", 1, total), 0);
  EXPECT_EQ(total, 12);
  EXPECT_EQ(table.counters.data[2], 6);
}

TEST_F(AdCampaignsTest, MatchedSumsSaturateOnHugeCounts) {
  AdCampaigns table;
  ASSERT_EQ(table.add("A"), 0);
  ASSERT_EQ(table.add_pattern("a"), 0);
  int total = 0;
  ASSERT_EQ(table.match("a", INT32_MAX, total), 0);
  ASSERT_EQ(table.match("a", INT32_MAX, total), 0);
  EXPECT_EQ(total, INT32_MAX);
  EXPECT_EQ(table.counters.data[0], INT32_MAX);
}

TEST_F(AdCampaignsTest, ClearKeepsCountersAndTag) {
  AdCampaigns table;
  std::strcpy(table.tag, "ACP");
  ASSERT_EQ(table.add("A"), 0);
  ASSERT_EQ(table.add_pattern("a.example"), 0);
  int total = 0;
  ASSERT_EQ(table.match("a.example", 1, total), 0);
  table.clear();
  EXPECT_EQ(table.count, 0);
  EXPECT_EQ(table.campaigns, nullptr);
  EXPECT_EQ(table.counters.count, 1);
  EXPECT_STREQ(table.tag, "ACP");
  ASSERT_EQ(table.add("B"), 0);
  EXPECT_EQ(table.count, 1);
}

TEST_F(AdCampaignsTest, FailedAddLeavesNothingBehind) {
  AdCampaigns table;
  ASSERT_EQ(table.add("Kept"), 0);
  for (int allowed = 0; allowed < 3; ++allowed) {
    fail_allocations_after(allowed);
    int status = table.add("Lost");
    fail_allocations_after(-1);
    if (status == 0) break;
    EXPECT_EQ(status, ERR_MEM);
    EXPECT_EQ(table.count, 1);
  }
  fail_allocations_after(0);
  EXPECT_EQ(table.add_pattern("p"), ERR_MEM);
  fail_allocations_after(-1);
  EXPECT_EQ(campaign(table, 0), (List{"Kept"}));
}

TEST_F(AdCampaignsTest, LoadOutOfMemoryKeepsWholeCampaignsOnly) {
  dir.write("dat_acp.cfg", "One | a b\nTwo | c d e\n");
  bool finished = false;
  for (int allowed = 0; !finished; ++allowed) {
    AdCampaigns table;
    fail_allocations_after(allowed);
    int status = table.load();
    fail_allocations_after(-1);
    if (status == 0) {
      finished = true;
      EXPECT_EQ(table.count, 2);
      continue;
    }
    EXPECT_EQ(status, ERR_MEM);
    for (int i = 0; i < table.count; ++i) EXPECT_EQ(table.campaigns[i]->count, i == 0 ? 3 : 4) << allowed;
  }
}

TEST_F(AdCampaignsTest, MatchOutOfMemoryCountsNothing) {
  AdCampaigns table;
  ASSERT_EQ(table.add("A"), 0);
  ASSERT_EQ(table.add_pattern("a"), 0);
  int total = 7;
  fail_allocations_after(0);
  EXPECT_EQ(table.match("a", 1, total), ERR_MEM);
  fail_allocations_after(-1);
  EXPECT_EQ(total, 7);
  EXPECT_EQ(table.counters.count, 0);
}

TEST_F(AdCampaignsTest, ControlBytesAreDroppedWhenStored) {
  AdCampaigns table;
  ASSERT_EQ(table.add("Bad\nname\r"), 0);
  ASSERT_EQ(table.add_pattern("x.example\nEvil | y"), 0);
  ASSERT_EQ(table.add_pattern("plain"), 0);
  EXPECT_EQ(campaign(table, 0), (List{"Badname", "x.exampleEvil | y", "plain"}));
  ASSERT_EQ(table.save(), 0);
  EXPECT_EQ(read_file("dat_acp.cfg"), "Badname | plain x.exampleEvil | y\n");
}

TEST_F(AdCampaignsTest, FailedSaveKeepsTheOldFile) {
  AdCampaigns table;
  ASSERT_EQ(table.add("A"), 0);
  mkdir("dat_acp.cfg", 0755);
  EXPECT_EQ(table.save(), ERR_FIL);
  struct stat status;
  ASSERT_EQ(stat("dat_acp.cfg", &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
}

// Counts each campaign once with the given amount, in this order.
void count_campaigns(AdCampaigns& table, const std::vector<std::pair<std::string, int>>& counts) {
  int total = 0;
  for (const auto& c : counts) {
    ASSERT_EQ(table.add(c.first.c_str()), 0);
    ASSERT_EQ(table.add_pattern(("." + c.first + ".example").c_str()), 0);
    ASSERT_EQ(table.match(("www." + c.first + ".example").c_str(), c.second, total), 0);
  }
}

std::string print_section(AdCampaigns& table, int total, int row_limit) {
  PageCapture page;
  table.print("Ad Campaigns", "Name:", total, "Visitors", row_limit);
  return page.text();
}

int occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class AdCampaignsPrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_globals(1);
    std::strcpy(table.tag, "ACP");
  }
  void TearDown() override {
    fail_allocations_after(-1);
    setup_globals(1);
  }
  AdCampaigns table;
};

TEST_F(AdCampaignsPrintTest, NothingWithoutCountedCampaigns) {
  ASSERT_EQ(table.add("Idle"), 0);
  EXPECT_EQ(print_section(table, 100, 10), "");
}

TEST_F(AdCampaignsPrintTest, SectionInItsOrder) {
  count_campaigns(table, {{"B&B", 3}, {"Alpha", 5}, {"Tie", 3}});
  std::string expected;
  {
    PageCapture page;
    html.section_title("Ad Campaigns", "ACP");
    html.list_header("Name:", "Visitors");
    html.ranked_row(1, "Alpha", 5, 0.5f);
    html.spacer_row(4);
    html.ranked_row(2, "B&amp;B", 3, 0.3f);
    html.spacer_row(4);
    html.ranked_row(3, "Tie", 3, 0.3f);
    html.spacer_row(4);
    html.table_close();
    const int32_t values[] = {5, 3, 3};
    const char* const labels[] = {"Alpha", "B&B", "Tie"};
    html.graph_applet("pie", 3, values, nullptr, nullptr, labels, nullptr);
    page_puts("</td></tr>\n");
    html.table_close();
    html.line_break();
    expected = page.text();
  }
  EXPECT_EQ(print_section(table, 10, 10), expected);
}

TEST_F(AdCampaignsPrintTest, TopRowsOfALongerList) {
  std::vector<std::pair<std::string, int>> counts;
  for (int i = 1; i <= 12; ++i) counts.push_back({"c" + std::to_string(i), i});
  count_campaigns(table, counts);
  std::string text = print_section(table, 78, 10);
  EXPECT_NE(text.find(">Ad Campaigns (top 10 of 12)</td>"), std::string::npos);
  EXPECT_EQ(occurrences(text, "<tr class=dat align=right"), 10);
  EXPECT_NE(text.find("<td align=left>c12</td>"), std::string::npos);
  EXPECT_NE(text.find("<td align=left>c3</td>"), std::string::npos);
  EXPECT_EQ(text.find("<td align=left>c2</td>"), std::string::npos);
  EXPECT_NE(text.find("<param name=visitors value=\"12,11,10,9,8,7,6,5,4,3,\">"), std::string::npos);
  EXPECT_NE(text.find("<param name=labels value=\"c12,c11,c10,c9,c8,c7,c6,c5,c4,c3,\">"), std::string::npos);

  std::string all = print_section(table, 78, 12);
  EXPECT_NE(all.find(">Ad Campaigns</td>"), std::string::npos);
  EXPECT_EQ(occurrences(all, "<tr class=dat align=right"), 12);
}

TEST_F(AdCampaignsPrintTest, ChartSwitchOff) {
  config.chart_on[CHT_ACP] = 0;
  count_campaigns(table, {{"One", 1}, {"Two", 2}});
  std::string text = print_section(table, 3, 10);
  EXPECT_EQ(text.find("<applet"), std::string::npos);
  EXPECT_EQ(occurrences(text, "colspan=4 bgcolor=#efefef"), 1);
  EXPECT_NE(text.find("</table>\n</td></tr>\n</table>\n<br>\n"), std::string::npos);
}

TEST_F(AdCampaignsPrintTest, OutOfMemoryBoxInsteadOfTheList) {
  count_campaigns(table, {{"One", 1}});
  std::string expected;
  {
    PageCapture page;
    html.section_title("Ad Campaigns", "ACP");
    html.out_of_memory();
    expected = page.text();
  }
  fail_allocations_after(0);
  EXPECT_EQ(print_section(table, 1, 10), expected);
}

}  // namespace
