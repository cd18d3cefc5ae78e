#include <gtest/gtest.h>

#include "core/containers.h"

// Counts read from damaged or hostile files can be near the limit.
TEST(ContainerCounts, SumsSaturateInsteadOfOverflowing) {
  siArr table;
  ASSERT_EQ(table.add("x", 2147483000), 0);
  ASSERT_EQ(table.add("x", 2147483000), 0);
  EXPECT_EQ(table.data[0], 2147483647);
  icArr map;
  ASSERT_EQ(map.add(1, -2147483000), 0);
  ASSERT_EQ(map.add(1, -2147483000), 0);
  EXPECT_EQ(map.values.data[0], -2147483647 - 1);
}
