#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/memory.h"
#include "core/program.h"
#include "core/tables.h"
#include "core/text.h"
#include "support/temp_files.h"

namespace {

// Reads one block (after its tag line) from the text into the table.
int read_block(Data& table, const std::string& text) {
  FILE* file = file_with(text);
  int status = table.read(file);
  std::fclose(file);
  return status;
}

int32_t count_of(const Data& table, const char* key) {
  int32_t number;
  if (!table.keys.find(key, &number)) return -1;
  return table.data[number];
}

// Restores the parser build after a test that switches builds.
struct BuildGuard {
  ~BuildGuard() { select_program_build(ProgramBuild::parser); }
};

}  // namespace

TEST(DataTag, SetAndName) {
  Hst table;
  EXPECT_STREQ(table.name(), "");
  table.set_name("HST");
  EXPECT_STREQ(table.name(), "HST");
  table.set_name("TOOLONG");
  EXPECT_STREQ(table.name(), "TOO");
  ReferringDomains domains;
  EXPECT_STREQ(domains.tag, "REF");
}

TEST(DataSection, EmptyTableWritesNothing) {
  Url table;
  table.set_name("URL");
  EXPECT_EQ(written(table), "");
}

TEST(DataSection, WritesInFirstSeenOrderAndReadsBack) {
  Hst table;
  table.set_name("HST");
  ASSERT_EQ(table.add("b", 2), 0);
  ASSERT_EQ(table.add("a", 7), 0);
  ASSERT_EQ(table.add("with two spaces", -3), 0);
  ASSERT_EQ(table.add("", 1), 0);
  std::string text = written(table);
  EXPECT_EQ(text, "HST\n2 b\n7 a\n-3 with two spaces\n1 \n\n");

  Hst back;
  back.set_name("HST");
  ASSERT_EQ(read_block(back, text.substr(4)), 0);
  ASSERT_EQ(back.keys.count, 4);
  EXPECT_STREQ(back.keys.strings[0], "b");
  EXPECT_STREQ(back.keys.strings[1], "a");
  EXPECT_STREQ(back.keys.strings[2], "with two spaces");
  EXPECT_EQ(written(back), text);
}

TEST(DataSection, TwoBlocksAreSummedKeyByKey) {
  Fls table;
  FILE* file = file_with("3 /a\n1 /b\n\n2 /b\n5 /c\n\n");
  ASSERT_EQ(table.read(file), 0);
  ASSERT_EQ(table.read(file), 0);
  std::fclose(file);
  EXPECT_EQ(count_of(table, "/a"), 3);
  EXPECT_EQ(count_of(table, "/b"), 3);
  EXPECT_EQ(count_of(table, "/c"), 5);
  EXPECT_STREQ(table.keys.strings[2], "/c");
}

TEST(DataSection, LineFormsAtoiWouldAccept) {
  Cds table;
  ASSERT_EQ(read_block(table, "12abc key one\r\nnospace\n x\n+4 plus\n99999999999 big\n-2"), 0);
  EXPECT_EQ(count_of(table, "key one"), 12);
  EXPECT_EQ(count_of(table, "x"), 0);
  EXPECT_EQ(count_of(table, "plus"), 4);
  EXPECT_EQ(count_of(table, "big"), 2147483647);
  // Lines without a space are counts for the empty key: "nospace" gives 0, "-2" gives -2.
  EXPECT_EQ(count_of(table, ""), -2);
  EXPECT_EQ(count_of(table, "-2"), -1);
}

TEST(DataSection, OutOfMemoryKeepsWhatWasAdded) {
  Url table;
  fail_allocations_after(3);  // the first key: its copy, the string array, the order
  int status = read_block(table, "1 a\n2 b\n\n");
  fail_allocations_after(-1);
  EXPECT_EQ(status, -8);
  EXPECT_EQ(table.keys.count, 0);
  fail_allocations_after(4);
  status = read_block(table, "1 a\n2 b\n\n");
  fail_allocations_after(-1);
  EXPECT_EQ(status, -8);
  EXPECT_EQ(table.keys.count, 1);
  EXPECT_EQ(count_of(table, "a"), 1);
}

TEST(DataSection, OverLongLineIsOneRecord) {
  BuildGuard guard;
  // A key longer than the line buffer of either build.
  std::string key(15000, 'k');
  std::string block = "4 " + key + "\n1 next\n\n2 after\n\n";
  for (ProgramBuild build : {ProgramBuild::parser, ProgramBuild::report}) {
    select_program_build(build);
    Url table;
    FILE* file = file_with(block);
    ASSERT_EQ(table.read(file), 0);
    ASSERT_EQ(table.keys.count, 2);
    std::string first = table.keys.strings[0];
    if (build == ProgramBuild::parser) {
      EXPECT_EQ(first, key);
    } else {
      EXPECT_EQ(first, key.substr(0, static_cast<std::size_t>(kReportLineBuffer - 3)));
    }
    EXPECT_EQ(table.data[0], 4);
    EXPECT_EQ(count_of(table, "next"), 1);
    // The block ended where it should: the next block is still there.
    Url second;
    ASSERT_EQ(second.read(file), 0);
    EXPECT_EQ(count_of(second, "after"), 2);
    std::fclose(file);
  }
}

TEST(DataSection, LineFeedJustPastTheBufferDoesNotEndTheBlock) {
  BuildGuard guard;
  select_program_build(ProgramBuild::report);
  // The line without its line feed fills the buffer exactly.
  std::string line = "7 " + std::string(static_cast<std::size_t>(kReportLineBuffer - 3), 'u');
  Url table;
  ASSERT_EQ(read_block(table, line + "\n3 tail\n\n"), 0);
  EXPECT_EQ(table.keys.count, 2);
  EXPECT_EQ(count_of(table, "tail"), 3);
}

TEST(DataSection, NulByteInALongLineKeepsLineBoundaries) {
  std::string line = "1 a";
  line += '\0';
  line += std::string(static_cast<std::size_t>(kParserLineBuffer), 'z');
  Url table;
  ASSERT_EQ(read_block(table, line + "\n2 b\n\n9 c\n"), 0);
  EXPECT_EQ(table.keys.count, 2);
  EXPECT_EQ(count_of(table, "a"), 1);
  EXPECT_EQ(count_of(table, "b"), 2);
}

namespace {

// A definition file in a fresh temporary folder.
class CdsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qm_cds_XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    dir_ = pattern;
    path_ = dir_ + "/dat_cds.cfg";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }
  void write(const std::string& text) {
    FILE* file = std::fopen(path_.c_str(), "w");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  const char* description_of(const Cds& table, const char* code) {
    int32_t number;
    if (!table.codes.keys.find(code, &number)) return nullptr;
    int32_t d = table.codes.data[number];
    if (d < 0 || d >= table.descriptions.count) return "out of range";
    return table.descriptions.strings[d];
  }
  std::string dir_;
  std::string path_;
};

}  // namespace

TEST_F(CdsFile, LoadsCodesAndSharedDescriptions) {
  write("200 OK\r\n404 Not Found\n301 Moved Permanently\n302 Found\n999\n304 Not Modified");
  Cds table;
  ASSERT_EQ(table.load(path_.c_str()), 0);
  EXPECT_STREQ(description_of(table, "200"), "OK");
  EXPECT_STREQ(description_of(table, "404"), "Not Found");
  EXPECT_STREQ(description_of(table, "302"), "Found");
  EXPECT_STREQ(description_of(table, "999"), "");
  EXPECT_STREQ(description_of(table, "304"), "Not Modified");
  EXPECT_EQ(description_of(table, "500"), nullptr);
  EXPECT_EQ(table.descriptions.count, 6);
}

TEST_F(CdsFile, RepeatedCodeTakesItsLastDescription) {
  write("404 Not Found\n500 Server Error\n404 Gone Away\n404 Not Found\n200 OK\n200 OK\n");
  Cds table;
  ASSERT_EQ(table.load(path_.c_str()), 0);
  EXPECT_STREQ(description_of(table, "404"), "Not Found");
  EXPECT_STREQ(description_of(table, "500"), "Server Error");
  EXPECT_STREQ(description_of(table, "200"), "OK");
  write("404 Not Found\n404 Gone Away\n");
  Cds again;
  ASSERT_EQ(again.load(path_.c_str()), 0);
  EXPECT_STREQ(description_of(again, "404"), "Gone Away");
}

TEST_F(CdsFile, MissingFileAndOutOfMemory) {
  Cds table;
  EXPECT_EQ(table.load(path_.c_str()), -4);
  write("200 OK\n404 Not Found\n");
  fail_allocations_after(5);
  EXPECT_EQ(table.load(path_.c_str()), -8);
  fail_allocations_after(-1);
}
