#include <gtest/gtest.h>

#include "core/containers.h"

TEST(ContainersSmoke, StringNumbersFollowInsertion) {
  strArr set;
  ASSERT_EQ(set.add("b"), 0);
  ASSERT_EQ(set.add("a"), 0);
  ASSERT_EQ(set.add("c"), 0);
  EXPECT_EQ(set.count, 3);
  EXPECT_EQ(set.data[0], 1);
  EXPECT_EQ(set.data[1], 0);
  EXPECT_EQ(set.data[2], 2);
}
