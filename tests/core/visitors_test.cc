#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/memory.h"
#include "core/visitors.h"
#include "support/temp_files.h"

namespace {

// find, then insert when absent; the visitor number.
int32_t visit(IPs& table, const char* key) {
  int32_t result;
  if (table.find(key, &result)) return result;
  EXPECT_EQ(table.insert(key, result), 0);
  return table.count() - 1;
}

}  // namespace

TEST(AddressOf, DottedQuadsAndOddTexts) {
  EXPECT_EQ(address_of("10.0.0.1"), 167772161u);
  EXPECT_EQ(address_of("1.2.3.256"), 16909312u);
  EXPECT_EQ(address_of("1.2.4.0"), 16909312u);
  EXPECT_EQ(address_of("255.255.255.255"), 4294967295u);
  // Parts above 255 carry and wrap in 32 bits without overflow.
  EXPECT_EQ(address_of("256.0.0.0"), 0u);
  EXPECT_EQ(address_of("999999.999999.999999.999999"),
            (999999u << 24) + (999999u << 16) + (999999u << 8) + 999999u);
  // Missing and non-numeric parts count as 0.
  EXPECT_EQ(address_of("5"), 5u << 24);
  EXPECT_EQ(address_of("x.y"), 0u);
  EXPECT_EQ(address_of(""), 0u);
  EXPECT_EQ(address_of("1.2.3.4.5"), address_of("1.2.3.4"));
}

TEST(Ips, FindDoesNotChangeTheKey) {
  ips table;
  char key[] = "10.1.2.3";
  int32_t result;
  EXPECT_FALSE(table.find(key, &result));
  EXPECT_STREQ(key, "10.1.2.3");
}

TEST(Ips, EmptyTableFindAndFirstInsert) {
  ips table;
  int32_t result = -1;
  EXPECT_FALSE(table.find("192.168.0.1", &result));
  EXPECT_EQ(result, 0);
  ASSERT_EQ(table.insert("ignored", result), 0);
  EXPECT_EQ(table.count(), 1);
  EXPECT_TRUE(table.find("192.168.0.1", &result));
  EXPECT_EQ(result, 0);
}

TEST(Ips, CarriedPartsAreOneVisitorAndOrderIsUnsigned) {
  ips table;
  EXPECT_EQ(visit(table, "1.2.3.256"), 0);
  EXPECT_EQ(visit(table, "1.2.4.0"), 0);
  EXPECT_EQ(visit(table, "128.0.0.1"), 1);
  EXPECT_EQ(visit(table, "127.255.255.255"), 2);
  EXPECT_EQ(visit(table, "not an address"), 3);
  EXPECT_EQ(visit(table, "garbage"), 3);
  ASSERT_EQ(table.count(), 4);
  // The written order ascends by unsigned address: 0.0.0.0, 1.2.4.0,
  // 127.255.255.255, 128.0.0.1.
  EXPECT_EQ(written(table), "3 16909312\n0 2147483649\n2 2147483647\n1 0\n\n");
}

TEST(Ips, WriteAndReadBackRebuildsTheTable) {
  ips table;
  EXPECT_EQ(visit(table, "10.0.0.2"), 0);
  EXPECT_EQ(visit(table, "10.0.0.1"), 1);
  std::string text = written(table);
  EXPECT_EQ(text, "1 167772162\n0 167772161\n\n");

  FILE* file = file_with(text + "REC\n");
  ips back;
  ASSERT_EQ(back.read(file), 0);
  // The reader stops at the empty line.
  char rest[8] = "";
  ASSERT_TRUE(std::fgets(rest, sizeof rest, file));
  EXPECT_STREQ(rest, "REC\n");
  std::fclose(file);
  ASSERT_EQ(back.count(), 2);
  EXPECT_EQ(back.data[0], 1);
  EXPECT_EQ(back.data[1], 0);
  int32_t result;
  EXPECT_TRUE(back.find("10.0.0.2", &result));
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(back.find("10.0.0.1", &result));
  EXPECT_EQ(result, 1);
  EXPECT_FALSE(back.find("10.0.0.3", &result));
  EXPECT_EQ(result, 2);
  EXPECT_EQ(written(back), text);
}

TEST(Ips, EmptyTableWritesOnlyTheEmptyLine) {
  ips table;
  EXPECT_EQ(written(table), "\n");
  FILE* file = file_with("\n");
  ips back;
  EXPECT_EQ(back.read(file), 0);
  EXPECT_EQ(back.count(), 0);
  std::fclose(file);
}

TEST(Ips, SectionEndingAtFileEndAndCarriageReturns) {
  FILE* file = file_with("1 167772162\r\n0 167772161");
  ips table;
  ASSERT_EQ(table.read(file), 0);
  std::fclose(file);
  ASSERT_EQ(table.count(), 2);
  EXPECT_EQ(table.addresses[0], 167772162u);
  EXPECT_EQ(table.addresses[1], 167772161u);
  EXPECT_EQ(table.data[0], 1);
}

TEST(Ips, DamagedOrderIsRebuiltBySorting) {
  // Out of range, repeated and unsorted entries must never be used as visitor numbers.
  const char* damaged[] = {"7 30\n-1 10\n0 20\n\n", "0 30\n0 10\n0 20\n\n", "0 30\n1 10\n2 20\n\n"};
  for (const char* text : damaged) {
    FILE* file = file_with(text);
    ips table;
    ASSERT_EQ(table.read(file), 0);
    std::fclose(file);
    ASSERT_EQ(table.count(), 3);
    EXPECT_EQ(table.data[0], 1) << text;
    EXPECT_EQ(table.data[1], 2) << text;
    EXPECT_EQ(table.data[2], 0) << text;
    int32_t result;
    EXPECT_TRUE(table.find("0.0.0.20", &result));
    EXPECT_EQ(result, 2);
  }
}

TEST(Ips, RepeatedLookupsAndRenumberingAfterAClear) {
  ips table;
  const char* order[] = {"10.0.0.3", "10.0.0.1", "10.0.0.2"};
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3; ++i) {
      const char* key = order[round == 0 ? i : 2 - i];
      int32_t at;
      ASSERT_FALSE(table.find(key, &at));
      ASSERT_EQ(table.insert(key, at), 0);
    }
    for (int i = 0; i < 3; ++i) {
      for (int again = 0; again < 2; ++again) {
        int32_t visitor = -1;
        ASSERT_TRUE(table.find(order[round == 0 ? i : 2 - i], &visitor));
        EXPECT_EQ(visitor, i);
      }
    }
    table.clear();
  }
}

TEST(Ips, RepeatedAddressInAFileIsFoundAsTheSearchFindsIt) {
  FILE* file = file_with("0 20\n1 10\n2 20\n3 30\n\n");
  ips table;
  ASSERT_EQ(table.read(file), 0);
  std::fclose(file);
  int32_t first = -1;
  ASSERT_TRUE(table.find("0.0.0.20", &first));
  for (int i = 0; i < 3; ++i) {
    int32_t again = -1;
    ASSERT_TRUE(table.find("0.0.0.20", &again));
    EXPECT_EQ(again, first);
  }
}

TEST(Ips, ClearRestartsNumbersAndKeepsPending) {
  ips table;
  visit(table, "1.1.1.1");
  visit(table, "2.2.2.2");
  int32_t result;
  table.find("3.3.3.3", &result);
  table.clear();
  EXPECT_EQ(table.count(), 0);
  EXPECT_EQ(table.addresses, nullptr);
  EXPECT_EQ(table.pending, address_of("3.3.3.3"));
  EXPECT_EQ(visit(table, "2.2.2.2"), 0);
}

TEST(Ips, FailedInsertLeavesTableUnchanged) {
  ips table;
  visit(table, "1.1.1.1");
  int32_t result;
  ASSERT_FALSE(table.find("0.0.0.1", &result));
  for (int successes = 0; successes < 2; ++successes) {
    fail_allocations_after(successes);
    EXPECT_EQ(table.insert(nullptr, result), -8);
    fail_allocations_after(-1);
    EXPECT_EQ(table.count(), 1);
    EXPECT_EQ(table.data[0], 0);
  }
  EXPECT_EQ(table.insert(nullptr, 5), -7);  // a position outside the order
  EXPECT_EQ(table.insert(nullptr, result), 0);
  EXPECT_EQ(written(table), "1 16843009\n0 1\n\n");
}

TEST(Ips, ReadOutOfMemoryKeepsEarlierLines) {
  FILE* file = file_with("1 20\n0 10\n\n");
  ips table;
  fail_allocations_after(2);  // the first line's two growths
  EXPECT_EQ(table.read(file), -8);
  fail_allocations_after(-1);
  std::fclose(file);
  ASSERT_EQ(table.count(), 1);
  EXPECT_EQ(table.data[0], 0);  // the lone entry is valid again
}

TEST(Hosts, CaseSensitiveByteOrder) {
  hosts table;
  EXPECT_EQ(visit(table, "b.example"), 0);
  EXPECT_EQ(visit(table, "A.example"), 1);
  EXPECT_EQ(visit(table, "a.example"), 2);
  EXPECT_EQ(visit(table, "b.example"), 0);
  ASSERT_EQ(table.count(), 3);
  EXPECT_EQ(written(table), "1 b.example\n2 A.example\n0 a.example\n\n");
}

TEST(Hosts, WriteAndReadBack) {
  hosts table;
  visit(table, "zeta.net");
  visit(table, "host with space");
  visit(table, "");
  std::string text = written(table);
  FILE* file = file_with(text);
  hosts back;
  ASSERT_EQ(back.read(file), 0);
  std::fclose(file);
  ASSERT_EQ(back.count(), 3);
  EXPECT_STREQ(back.strings[1], "host with space");
  EXPECT_EQ(written(back), text);
  int32_t result;
  EXPECT_TRUE(back.find("host with space", &result));
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(back.find("", &result));
  EXPECT_EQ(result, 2);
}

TEST(Hosts, DamagedOrderIsRebuilt) {
  FILE* file = file_with("5 b\n5 a\n");
  hosts table;
  ASSERT_EQ(table.read(file), 0);
  std::fclose(file);
  EXPECT_EQ(table.data[0], 1);
  EXPECT_EQ(table.data[1], 0);
}

TEST(Hosts, ClearAndEmptyTable) {
  hosts table;
  EXPECT_EQ(written(table), "\n");
  visit(table, "x");
  visit(table, "y");
  table.clear();
  EXPECT_EQ(table.count(), 0);
  EXPECT_EQ(visit(table, "y"), 0);
}

TEST(Hosts, UsedThroughTheInterface) {
  IPs* table = new hosts;
  EXPECT_EQ(visit(*table, "h"), 0);
  delete table;
  table = new ips;
  EXPECT_EQ(visit(*table, "1.2.3.4"), 0);
  delete table;
}
