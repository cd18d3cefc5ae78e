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
#include "core/memory.h"
#include "support/work_dir.h"

namespace {

std::string read_file(const char* name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

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
}

TEST_F(AdCampaignsTest, EmptyPatternMatchesEveryReferrer) {
  dir.write("dat_acp.cfg", "All | a  b\n");
  AdCampaigns table;
  ASSERT_EQ(table.load(), 0);
  int total = 0;
  ASSERT_EQ(table.match("unrelated.test", 5, total), 0);
  ASSERT_EQ(table.match("", 1, total), 0);
  EXPECT_EQ(total, 6);
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

}  // namespace
