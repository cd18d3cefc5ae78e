#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/errors.h"
#include "core/file_types.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "support/capture.h"
#include "support/page_settings.h"
#include "support/temp_files.h"
#include "support/work_dir.h"

namespace {

// Reads a block body from text; gives the status and what is left unread.
int read_block(Tps& table, const std::string& text, bool in_state_file, std::string* rest = nullptr) {
  FILE* in = file_with(text);
  int status = table.read(in, in_state_file);
  if (rest) {
    rest->clear();
    int c;
    while ((c = std::fgetc(in)) != EOF) rest->push_back(static_cast<char>(c));
  }
  std::fclose(in);
  return status;
}

int number_of(const Tps& table, const char* extension) {
  int32_t number;
  return table.amounts.keys.find(extension, &number) ? number : -1;
}

int count_path(Tps& table, const char* path, double bytes) {
  std::string copy = path;
  return add_file_type(table, copy.data(), bytes);
}

}  // namespace

TEST(FileTypes, ExtensionIsTheTextAfterTheLastDot) {
  Tps table;
  EXPECT_EQ(count_path(table, "/a.b/c", 10), 0);
  EXPECT_EQ(count_path(table, "/readme", 10), 0);
  EXPECT_EQ(count_path(table, "/file.", 10), 0);
  EXPECT_EQ(count_path(table, "/Index.HTML", 100), 0);
  EXPECT_EQ(count_path(table, "/x.html", 50), 0);
  ASSERT_EQ(table.amounts.keys.count, 2);
  ASSERT_EQ(table.requests.count, 2);
  EXPECT_STREQ(table.amounts.keys.strings[0], "b/c");
  EXPECT_STREQ(table.amounts.keys.strings[1], "html");
  EXPECT_EQ(table.requests.data[1], 2);
  EXPECT_DOUBLE_EQ(table.amounts.values.data[1], 150.0);

  char path[] = "/Pics/A.JPG";
  add_file_type(table, path, 1);
  EXPECT_STREQ(path, "/Pics/A.jpg");  // lower-cased in place, the extension only
}

TEST(FileTypes, WritesWholeKilobytesInFirstSeenOrder) {
  Tps table;
  std::strcpy(table.tag, "TPS");
  EXPECT_EQ(written(table), "");  // an empty table writes nothing

  count_path(table, "/b.png", 1023);
  count_path(table, "/a.gif", 2048 + 5);
  count_path(table, "/c.gif", 1024);
  EXPECT_EQ(written(table), "TPS\n1 0 png\n2 3 gif\n\n");
}

TEST(FileTypes, StateFileRoundTripTurnsKilobytesBackIntoBytes) {
  Tps parser;
  std::strcpy(parser.tag, "TPS");
  count_path(parser, "/a.png", 1023);  // less than a kilobyte: kept as 0
  count_path(parser, "/a.gif", 3 * 1024 + 500);
  std::string block = written(parser);

  Tps resumed;
  std::string rest;
  ASSERT_EQ(read_block(resumed, block.substr(4) + "HST\n", true, &rest), 0);
  EXPECT_EQ(rest, "HST\n");  // stops after the empty line
  ASSERT_EQ(resumed.amounts.keys.count, 2);
  EXPECT_DOUBLE_EQ(resumed.amounts.values.data[number_of(resumed, "png")], 0.0);
  EXPECT_DOUBLE_EQ(resumed.amounts.values.data[number_of(resumed, "gif")], 3072.0);
  EXPECT_EQ(resumed.requests.data[number_of(resumed, "gif")], 1);
}

TEST(FileTypes, LargeKilobyteAmountsDoNotOverflowWhenTurnedIntoBytes) {
  Tps table;
  ASSERT_EQ(read_block(table, "7 3000000 zip\n\n", true), 0);
  EXPECT_DOUBLE_EQ(table.amounts.values.data[0], 3000000.0 * 1024.0);
  std::strcpy(table.tag, "TPS");
  EXPECT_EQ(written(table), "TPS\n7 3000000 zip\n\n");
}

TEST(FileTypes, ReportReadsSumDaysKeyByKey) {
  Tps table;
  ASSERT_EQ(read_block(table, "2 10 gif\n1 4 jpg\n\n", false), 0);
  ASSERT_EQ(read_block(table, "3 5 jpg\n1 1 html\n\n", false), 0);
  ASSERT_EQ(table.amounts.keys.count, 3);
  int jpg = number_of(table, "jpg");
  EXPECT_EQ(table.requests.data[jpg], 4);
  EXPECT_DOUBLE_EQ(table.amounts.values.data[jpg], 9.0);
  EXPECT_DOUBLE_EQ(table.amounts.values.data[number_of(table, "gif")], 10.0);
}

TEST(FileTypes, ReadsOddLinesWithoutValidating) {
  Tps table;
  // Non-numeric fields read as 0; the extension runs to the end of the line and
  // may hold blanks; a block that ends with the file needs no empty line.
  ASSERT_EQ(read_block(table, "x y tar gz\r\n5\n-2 9 a", false), 0);
  ASSERT_EQ(table.amounts.keys.count, 3);
  EXPECT_STREQ(table.amounts.keys.strings[0], "tar gz");
  EXPECT_EQ(table.requests.data[0], 0);
  EXPECT_STREQ(table.amounts.keys.strings[1], "");
  EXPECT_EQ(table.requests.data[1], 5);
  EXPECT_EQ(table.requests.data[2], -2);

  // Request counts that would pass the int range are held at its end.
  Tps big;
  ASSERT_EQ(read_block(big, "2147483647 1 gif\n5 1 gif\n\n", false), 0);
  EXPECT_EQ(big.requests.data[0], 2147483647);
}

TEST(FileTypes, OutOfMemoryKeepsAmountsAndRequestsParallel) {
  for (int successes = 0; successes < 8; ++successes) {
    Tps table;
    ASSERT_EQ(read_block(table, "1 1 gif\n", false), 0);
    fail_allocations_after(successes);
    int status = read_block(table, "2 2 jpg\n3 3 png\n\n", false);
    fail_allocations_after(-1);
    EXPECT_TRUE(status == 0 || status == ERR_MEM);
    EXPECT_EQ(table.requests.count, table.amounts.keys.count);
    EXPECT_EQ(table.amounts.values.count, table.amounts.keys.count);
  }
}

TEST(FileTypes, ClearEmptiesCountsButKeepsDefinitions) {
  WorkDir dir;
  dir.write("dat_tps.cfg", "gif Images\n");
  Tps table;
  ASSERT_EQ(table.load(), 0);
  count_path(table, "/a.gif", 10);
  table.clear();
  EXPECT_EQ(table.amounts.keys.count, 0);
  EXPECT_EQ(table.requests.count, 0);
  EXPECT_EQ(table.extension_names.keys.count, 1);
  count_path(table, "/a.png", 10);
  EXPECT_EQ(number_of(table, "png"), 0);
}

TEST(FileTypesDefinitions, ExtensionsShareDescriptions) {
  WorkDir dir;
  dir.write("dat_tps.cfg", "jpg Images\r\ngif Images\nhtml HTML  pages \nbin\n");
  Tps table;
  ASSERT_EQ(table.load(), 0);
  ASSERT_EQ(table.descriptions.count, 3);
  EXPECT_STREQ(table.descriptions.strings[0], "Images");
  EXPECT_STREQ(table.descriptions.strings[1], "HTML  pages ");
  EXPECT_STREQ(table.descriptions.strings[2], "");  // a line without a blank
  int32_t jpg, gif, bin;
  ASSERT_TRUE(table.extension_names.keys.find("jpg", &jpg));
  ASSERT_TRUE(table.extension_names.keys.find("gif", &gif));
  ASSERT_TRUE(table.extension_names.keys.find("bin", &bin));
  EXPECT_EQ(table.extension_names.data[jpg], 0);
  EXPECT_EQ(table.extension_names.data[gif], 0);
  EXPECT_EQ(table.extension_names.data[bin], 2);
}

TEST(FileTypesDefinitions, RepeatedExtensionKeepsItsFirstDescription) {
  WorkDir dir;
  dir.write("dat_tps.cfg", "a First\nb Second\nc Third\nc Fourth\nc First\n");
  Tps table;
  ASSERT_EQ(table.load(), 0);
  int32_t c;
  ASSERT_TRUE(table.extension_names.keys.find("c", &c));
  EXPECT_EQ(table.extension_names.data[c], 2);
  for (int32_t i = 0; i < table.extension_names.count; ++i) {
    EXPECT_GE(table.extension_names.data[i], 0);
    EXPECT_LT(table.extension_names.data[i], table.descriptions.count);
  }
}

TEST(FileTypesDefinitions, MissingFileAndMemoryFailures) {
  WorkDir dir;
  Tps missing;
  EXPECT_EQ(missing.load(), ERR_FIL);

  dir.write("dat_tps.cfg", "jpg Images\ngif Images\nzip Archives\n");
  for (int successes = 0; successes < 12; ++successes) {
    Tps table;
    fail_allocations_after(successes);
    int status = table.load();
    fail_allocations_after(-1);
    EXPECT_TRUE(status == 0 || status == ERR_MEM);
    for (int32_t i = 0; i < table.extension_names.count; ++i) {
      EXPECT_LT(table.extension_names.data[i], table.descriptions.count);
    }
  }
}

TEST(FileTypesDefinitions, InstalledFileNamesCommonTypes) {
  WorkDir dir;
  dir.copy_in("install/dat_tps.cfg");
  Tps table;
  ASSERT_EQ(table.load(), 0);
  int32_t jpg, gif, jpeg;
  ASSERT_TRUE(table.extension_names.keys.find("jpg", &jpg));
  ASSERT_TRUE(table.extension_names.keys.find("gif", &gif));
  ASSERT_TRUE(table.extension_names.keys.find("jpeg", &jpeg));
  EXPECT_EQ(table.extension_names.data[jpg], table.extension_names.data[jpeg]);
  EXPECT_STREQ(table.descriptions.strings[table.extension_names.data[gif]], "GIF images");
  for (int32_t i = 0; i < table.extension_names.keys.count; ++i) {
    EXPECT_STRNE(table.descriptions.strings[table.extension_names.data[i]], "");
  }
}

// ---- The "File Types" section ------------------------------------------------

namespace {

const std::string kRow = "<tr class=dat align=right RA>";
const std::string kSpacer5 = "<tr><td colspan=5 bgcolor=#efefef><img src=P/imgs/i.gif></td></tr>\n";
const std::string kListHead =
    "<table border=0 cellspacing=1 cellpadding=2 bgcolor=#a7a7a7 width=610>\n"
    "<tr bgcolor=#dfd8df><td>\n"
    "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=604>\n"
    "<tr bgcolor=#a7a7a7 align=right><td class=lbl align=center>#</td>"
    "<td class=lbl align=left width=100%>Type:</td><td class=lbl>Requests</td>"
    "<td class=lbl>Kbytes</td><td class=lbl nowrap>% of all</td></tr>\n";
const std::string kPieHead =
    "<applet codebase=P/appl code=Corvilande.class width=604 height=150>\n"
    "<param name=type value=\"pie\">\n"
    "<param name=background value=\"223,216,223\">\n"
    "<param name=labelcolor value=\"0,0,0\">\n";
const std::string kSectionEnd = "</td></tr>\n</table>\n<br>\n";

class FileTypesSection : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_chart_ = config.chart_on[CHT_TPS];
    config.chart_on[CHT_TPS] = 1;
    std::strcpy(table_.tag, "TPS");
    dir_.write("dat_tps.cfg", "jpg Images\ngif Images\nhtml Pages\n");
    EXPECT_EQ(table_.load(), 0);
  }
  void TearDown() override {
    config.chart_on[CHT_TPS] = saved_chart_;
  }

  std::string title_bar(const char* title) { return ::title_bar(title, "TPS"); }
  std::string section(int total, int limit) {
    PageCapture page;
    print_file_types(table_, "File Types", "Type:", total, "Kbytes", limit);
    return page.text();
  }

  PageSettings settings_{"P/", " RA"};
  WorkDir dir_;
  Tps table_;

 private:
  uint8_t saved_chart_ = 1;
};

}  // namespace

TEST_F(FileTypesSection, RowsAndPieLeaveOutExtensionsUnderAKilobyte) {
  ASSERT_EQ(read_block(table_, "3 0 png\n2 10 gif\n1 4 jpg\n\n", false), 0);
  EXPECT_EQ(section(20, 10),
            title_bar("File Types") + kListHead +
                kRow + "<td>1</td><td align=left>.gif Images</td><td>2</td><td>10</td><td>50.0</td></tr>\n" +
                kSpacer5 +
                kRow + "<td>2</td><td align=left>.jpg Images</td><td>1</td><td>4</td><td>20.0</td></tr>\n" +
                kSpacer5 + "</table>\n" + kPieHead +
                "<param name=visitors value=\"10,4,\">\n"
                "<param name=labels value=\".gif Images,.jpg Images,\">\n"
                "</applet>" + kSectionEnd);
}

TEST_F(FileTypesSection, WithoutTheChartNoPieAndNoClosingSpacer) {
  config.chart_on[CHT_TPS] = 0;
  ASSERT_EQ(read_block(table_, "1 1536 html\n4 2 exe\n\n", false), 0);
  EXPECT_EQ(section(3000, 10),
            title_bar("File Types") + kListHead +
                kRow + "<td>1</td><td align=left>.html Pages</td><td>1</td><td>1,536</td><td>51.2</td></tr>\n" +
                kSpacer5 +
                kRow + "<td>2</td><td align=left>.exe Undefined file type</td><td>4</td><td>2</td><td>0.1</td></tr>\n" +
                "</table>\n" + kSectionEnd);
}

TEST_F(FileTypesSection, LimitCountsOnlyExtensionsWithAKilobyte) {
  ASSERT_EQ(read_block(table_, "1 0 png\n1 3 gif\n1 7 jpg\n\n", false), 0);
  std::string text = section(10, 1);
  EXPECT_EQ(text.rfind(title_bar("File Types (top 1 of 2)"), 0), 0u);
  EXPECT_NE(text.find(".jpg Images"), std::string::npos);
  EXPECT_EQ(text.find(".gif Images"), std::string::npos);
  EXPECT_NE(text.find("<param name=visitors value=\"7,\">"), std::string::npos);
  // With room for every extension there is no suffix.
  EXPECT_EQ(section(10, 2).rfind(title_bar("File Types"), 0), 0u);
  // A limit of 0 keeps the frame and an empty pie out.
  std::string none = section(10, 0);
  EXPECT_EQ(none.find("<tr class=dat"), std::string::npos);
  EXPECT_EQ(none.find("<applet"), std::string::npos);
}

TEST_F(FileTypesSection, NothingForAnEmptyTableATotalOf0OrOnlySmallAmounts) {
  EXPECT_EQ(section(10, 10), "");
  ASSERT_EQ(read_block(table_, "1 0 gif\n\n", false), 0);
  EXPECT_EQ(section(10, 10), "");
  ASSERT_EQ(read_block(table_, "1 5 jpg\n\n", false), 0);
  EXPECT_EQ(section(0, 10), "");
  EXPECT_NE(section(5, 10), "");
}

TEST_F(FileTypesSection, ExtensionsAreEscapedAndLabelsBounded) {
  std::string hostile = "1 2 <script>x,y\n";
  std::string long_extension = "1 1 " + std::string(200, 'e') + "\n";
  ASSERT_EQ(read_block(table_, hostile + long_extension + "\n", false), 0);
  std::string text = section(10, 10);
  EXPECT_EQ(text.find("<script>"), std::string::npos);
  EXPECT_NE(text.find("<td align=left>.&lt;script&gt;x,y Undefined file type</td>"), std::string::npos);
  EXPECT_NE(text.find(".&lt;script&gt;x;y Undefined file type,"), std::string::npos);  // pie label
  // The long label is cut to 135 characters: the dot and 134 letters.
  EXPECT_NE(text.find("<td align=left>." + std::string(134, 'e') + "</td>"), std::string::npos);
}

TEST_F(FileTypesSection, OutOfMemory) {
  ASSERT_EQ(read_block(table_, "2 10 gif\n1 4 jpg\n\n", false), 0);
  fail_allocations_after(0);  // no ranking
  std::string text = section(20, 10);
  fail_allocations_after(-1);
  EXPECT_EQ(text.rfind(title_bar("File Types"), 0), 0u);
  EXPECT_NE(text.find("Not enough memory to generate this report"), std::string::npos);
  EXPECT_EQ(text.find("<tr class=dat"), std::string::npos);

  fail_allocations_after(1);  // a ranking, but no room for the pie's slices
  text = section(20, 10);
  fail_allocations_after(-1);
  EXPECT_NE(text.find(".jpg Images"), std::string::npos);
  EXPECT_EQ(text.find("<applet"), std::string::npos);
  EXPECT_NE(text.find("<td>20.0</td></tr>\n</table>\n</td></tr>\n</table>\n<br>\n"), std::string::npos);
}
