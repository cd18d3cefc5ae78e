#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/errors.h"
#include "core/file_types.h"
#include "core/memory.h"
#include "support/work_dir.h"

namespace {

std::string written(const Tps& table) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  table.write(out);
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

// Reads a block body from text; gives the status and what is left unread.
int read_block(Tps& table, const std::string& text, bool in_state_file, std::string* rest = nullptr) {
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
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

  // A line that is empty once its carriage return is cut ends the block as well.
  Tps other;
  std::string rest;
  ASSERT_EQ(read_block(other, "1 1 gif\n\r\nCDS\n", false, &rest), 0);
  EXPECT_EQ(other.amounts.keys.count, 1);
  EXPECT_EQ(rest, "CDS\n");

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
