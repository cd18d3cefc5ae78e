#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/containers.h"
#include "core/errors.h"
#include "core/memory.h"

namespace {

std::vector<int32_t> elements(const intArr& a) { return std::vector<int32_t>(a.data, a.data + a.count); }

// Keys in the order of the sorted view.
std::vector<std::string> sorted_keys(const strArr& s) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < s.count; ++i) out.push_back(s.strings[s.data[i]]);
  return out;
}

// Keys by string number.
std::vector<std::string> keys_by_number(const strArr& s) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < s.count; ++i) out.push_back(s.strings[i]);
  return out;
}

// Every test that injects allocation failures turns them off again.
class Containers : public ::testing::Test {
 protected:
  void TearDown() override { fail_allocations_after(-1); }
};

TEST_F(Containers, IntegerSearchGivesFoundPositionOrInsertionPosition) {
  intArr a;
  int32_t position = -1;
  EXPECT_FALSE(a.find(42, &position));
  EXPECT_EQ(position, 0);
  ASSERT_EQ(a.insert_at(5, 0), 0);
  EXPECT_EQ(a.count, 1);

  for (int32_t v : {-3, 9, 1}) {
    a.find(v, &position);
    ASSERT_EQ(a.insert_at(v, position), 0);
  }
  EXPECT_EQ(elements(a), (std::vector<int32_t>{-3, 1, 5, 9}));
  EXPECT_TRUE(a.find(5, &position));
  EXPECT_EQ(position, 2);
  EXPECT_FALSE(a.find(-10, &position));
  EXPECT_EQ(position, 0);
  EXPECT_FALSE(a.find(2, &position));
  EXPECT_EQ(position, 2);
  EXPECT_FALSE(a.find(100, &position));
  EXPECT_EQ(position, 4);

  a.clear();
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.count, 0);
}

TEST_F(Containers, ByteAndDoubleSearchCompareSignedAndByValue) {
  chrArr c;
  int32_t position;
  for (int8_t v : {int8_t{1}, int8_t{-1}, int8_t{127}, int8_t{-128}}) {
    c.find(v, &position);
    ASSERT_EQ(c.insert_at(v, position), 0);
  }
  ASSERT_EQ(c.count, 4);
  EXPECT_EQ(c.data[0], -128);
  EXPECT_EQ(c.data[1], -1);
  EXPECT_EQ(c.data[2], 1);
  EXPECT_EQ(c.data[3], 127);

  dblArr d;
  for (double v : {2.5, -0.5, 10.0}) {
    d.find(v, &position);
    ASSERT_EQ(d.insert_at(v, position), 0);
  }
  EXPECT_TRUE(d.find(2.5, &position));
  EXPECT_EQ(position, 1);
  EXPECT_FALSE(d.find(2.4, &position));
  EXPECT_EQ(position, 1);
  d.clear();
  EXPECT_EQ(d.data, nullptr);
  EXPECT_EQ(d.count, 0);
}

TEST_F(Containers, StringNumbersFollowFirstInsertionAndOrderIsSorted) {
  strArr s;
  ASSERT_EQ(s.add("b"), 0);
  ASSERT_EQ(s.add("a"), 0);
  ASSERT_EQ(s.add("c"), 0);
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(keys_by_number(s), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(elements(s), (std::vector<int32_t>{1, 0, 2}));

  int32_t result = -1;
  EXPECT_TRUE(s.find("a", &result));
  EXPECT_EQ(result, 1);
  EXPECT_FALSE(s.find("bb", &result));
  EXPECT_EQ(result, 2);
  EXPECT_FALSE(s.find("0", &result));
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(s.find("d", &result));
  EXPECT_EQ(result, 3);

  // A present text changes nothing.
  EXPECT_EQ(s.add("a"), 0);
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(elements(s), (std::vector<int32_t>{1, 0, 2}));
}

TEST_F(Containers, StringsCompareByteWiseUnsigned) {
  strArr s;
  for (const char* key : {"a", "A", "\x80", "~", "ab", "", "\xff", "Z"}) ASSERT_EQ(s.add(key), 0);
  EXPECT_EQ(sorted_keys(s), (std::vector<std::string>{"", "A", "Z", "a", "ab", "~", "\x80", "\xff"}));
  int32_t number;
  EXPECT_TRUE(s.find("A", &number));
  EXPECT_EQ(number, 1);
  EXPECT_TRUE(s.find("\x80", &number));
  EXPECT_EQ(number, 2);
}

TEST_F(Containers, InsertAtStoresAPrivateCopyAndDoesNotSearch) {
  strArr s;
  char key[] = "host";
  ASSERT_EQ(s.insert_at(key, 0), 0);
  key[0] = 'X';
  EXPECT_STREQ(s.strings[0], "host");
  // Appending at count, as the visitor table's reader does.
  ASSERT_EQ(s.insert_at("alpha", s.count), 0);
  EXPECT_EQ(elements(s), (std::vector<int32_t>{0, 1}));
}

TEST_F(Containers, ClearStringsReleasesEverythingAndNumbersStartAgain) {
  strArr s;
  for (const char* key : {"m", "n", "o"}) ASSERT_EQ(s.add(key), 0);
  s.clear_strings();
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.strings, nullptr);
  EXPECT_EQ(s.data, nullptr);  // the order is released too
  ASSERT_EQ(s.add("z"), 0);
  ASSERT_EQ(s.add("y"), 0);
  EXPECT_EQ(keys_by_number(s), (std::vector<std::string>{"z", "y"}));
  EXPECT_EQ(elements(s), (std::vector<int32_t>{1, 0}));
}

TEST_F(Containers, StringCountsAccumulateInFirstSeenOrder) {
  siArr t;
  int32_t number = -1;
  ASSERT_EQ(t.add("x", 3), 0);
  ASSERT_EQ(t.add_index("a", 1, &number), 0);
  EXPECT_EQ(number, 1);
  ASSERT_EQ(t.add_index("x", 2, &number), 0);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(keys_by_number(t.keys), (std::vector<std::string>{"x", "a"}));
  EXPECT_EQ(elements(t), (std::vector<int32_t>{5, 1}));

  t.clear();
  EXPECT_EQ(t.count, 0);
  EXPECT_EQ(t.keys.count, 0);
  ASSERT_EQ(t.add_index("q", 7, &number), 0);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(elements(t), (std::vector<int32_t>{7}));
}

TEST_F(Containers, CountsStopAtTheEndsOfTheirRange) {
  siArr t;
  ASSERT_EQ(t.add("x", INT32_MAX - 1), 0);
  ASSERT_EQ(t.add("x", 5), 0);
  EXPECT_EQ(t.data[0], INT32_MAX);
  ASSERT_EQ(t.add("y", INT32_MIN), 0);
  ASSERT_EQ(t.add("y", -1), 0);
  EXPECT_EQ(t.data[1], INT32_MIN);

  icArr m;
  ASSERT_EQ(m.add(1, INT32_MAX), 0);
  ASSERT_EQ(m.add(1, 1), 0);
  EXPECT_EQ(m.values.data[0], INT32_MAX);
  ASSERT_EQ(m.add(2, -2147483000), 0);
  ASSERT_EQ(m.add(2, -2147483000), 0);
  EXPECT_EQ(m.values.data[1], INT32_MIN);
}

TEST_F(Containers, DoubleAmountsAccumulate) {
  sdArr t;
  int32_t number = -1;
  ASSERT_EQ(t.add("gif", 1.5), 0);
  ASSERT_EQ(t.add_index("css", 0.25, &number), 0);
  EXPECT_EQ(number, 1);
  ASSERT_EQ(t.add_index("gif", 2.0, &number), 0);
  EXPECT_EQ(number, 0);
  ASSERT_EQ(t.values.count, 2);
  EXPECT_DOUBLE_EQ(t.values.data[0], 3.5);
  EXPECT_DOUBLE_EQ(t.values.data[1], 0.25);
  t.clear();
  EXPECT_EQ(t.values.count, 0);
  EXPECT_EQ(t.keys.count, 0);
}

TEST_F(Containers, IntegerCountsKeepValuesBesideSortedKeys) {
  icArr m;
  int32_t position = -1;
  ASSERT_EQ(m.add(5, 3), 0);
  ASSERT_EQ(m.add_index(2, 1, &position), 0);
  EXPECT_EQ(position, 0);
  ASSERT_EQ(m.add_index(5, 2, &position), 0);
  EXPECT_EQ(position, 1);
  EXPECT_EQ(elements(m.keys), (std::vector<int32_t>{2, 5}));
  EXPECT_EQ(elements(m.values), (std::vector<int32_t>{1, 5}));
  m.clear();
  EXPECT_EQ(m.keys.count, 0);
  EXPECT_EQ(m.values.count, 0);
}

TEST_F(Containers, DailySeriesAppendsAtTheEnd) {
  DailySeries series;
  ASSERT_EQ(series.append(DayDate{2003, 12, 30}, 10, 20), 0);
  ASSERT_EQ(series.append(DayDate{2003, 12, 31}, 11, 22), 0);
  int32_t last = series.years.count - 1;
  EXPECT_EQ(last, 1);
  EXPECT_EQ(series.years.data[last], 2003);
  EXPECT_EQ(series.months.data[last], 12);
  EXPECT_EQ(series.days.data[last], 31);
  EXPECT_EQ(series.visitors.data[last], 11);
  EXPECT_EQ(series.page_views.data[last], 22);
  for (int32_t n : {series.visitors.count, series.page_views.count, series.months.count, series.days.count})
    EXPECT_EQ(n, 2);
  series.clear();
  EXPECT_EQ(series.visitors.count + series.page_views.count + series.years.count + series.months.count +
                series.days.count,
            0);
}

TEST_F(Containers, RankingIsStableWithTiesInAscendingPosition) {
  const int32_t ints[] = {3, 7, 3, 9};
  int32_t* order = sort_index_by_value(ints, 4, 0);
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(std::vector<int32_t>(order, order + 4), (std::vector<int32_t>{3, 1, 0, 2}));
  std::free(order);

  const double doubles[] = {0.5, 2.0, 0.5, 2.0, -1.0};
  order = sort_index_by_value(doubles, 5, 1);
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(std::vector<int32_t>(order, order + 5), (std::vector<int32_t>{1, 3, 0, 2, 4}));
  std::free(order);

  // Not-a-number does not break the ordering of the other values.
  const double odd[] = {1.0, NAN, 3.0, 2.0};
  order = sort_index_by_value(odd, 4, 1);
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(std::vector<int32_t>(order, order + 3), (std::vector<int32_t>{2, 3, 0}));
  std::free(order);

  EXPECT_EQ(sort_index_by_value(nullptr, 0, 0), nullptr);
  fail_allocations_after(0);
  EXPECT_EQ(sort_index_by_value(ints, 4, 0), nullptr);
}

// Runs `grow` with 0, 1, 2, ... allocations allowed until it succeeds; after every
// failure the container must read exactly as before the call.
template <typename Snapshot, typename Grow>
void expect_failures_leave_unchanged(Snapshot snapshot, Grow grow) {
  auto before = snapshot();
  int failures = 0;
  for (int allowed = 0; allowed < 20; ++allowed) {
    fail_allocations_after(allowed);
    int status = grow();
    fail_allocations_after(-1);
    if (status == 0) {
      EXPECT_GT(failures, 0) << "the operation never allocated";
      return;
    }
    ++failures;
    EXPECT_EQ(status, ERR_MEM);
    EXPECT_EQ(snapshot(), before) << "after a failure with " << allowed << " allocations allowed";
  }
  ADD_FAILURE() << "the operation never succeeded";
}

TEST_F(Containers, FailedGrowthLeavesEveryContainerAsItWas) {
  intArr a;
  ASSERT_EQ(a.insert_at(1, 0), 0);
  expect_failures_leave_unchanged([&] { return elements(a); }, [&] { return a.insert_at(0, 0); });
  EXPECT_EQ(elements(a), (std::vector<int32_t>{0, 1}));

  strArr s;
  ASSERT_EQ(s.add("m"), 0);
  ASSERT_EQ(s.add("c"), 0);
  auto set_view = [&] { return std::make_pair(keys_by_number(s), elements(s)); };
  expect_failures_leave_unchanged(set_view, [&] { return s.add("f"); });
  EXPECT_EQ(sorted_keys(s), (std::vector<std::string>{"c", "f", "m"}));

  siArr t;
  ASSERT_EQ(t.add("x", 4), 0);
  auto table_view = [&] { return std::make_tuple(keys_by_number(t.keys), elements(t.keys), elements(t)); };
  expect_failures_leave_unchanged(table_view, [&] { return t.add("a", 2); });
  EXPECT_EQ(elements(t), (std::vector<int32_t>{4, 2}));
  // A present key needs no memory.
  fail_allocations_after(0);
  EXPECT_EQ(t.add("a", 1), 0);
  fail_allocations_after(-1);
  EXPECT_EQ(elements(t), (std::vector<int32_t>{4, 3}));

  sdArr d;
  ASSERT_EQ(d.add("x", 1.0), 0);
  auto amounts_view = [&] {
    return std::make_tuple(keys_by_number(d.keys), elements(d.keys),
                           std::vector<double>(d.values.data, d.values.data + d.values.count));
  };
  expect_failures_leave_unchanged(amounts_view, [&] { return d.add("a", 2.0); });
  EXPECT_EQ(d.values.count, 2);

  icArr m;
  ASSERT_EQ(m.add(5, 1), 0);
  auto map_view = [&] { return std::make_pair(elements(m.keys), elements(m.values)); };
  expect_failures_leave_unchanged(map_view, [&] { return m.add(2, 9); });
  EXPECT_EQ(elements(m.keys), (std::vector<int32_t>{2, 5}));
  EXPECT_EQ(elements(m.values), (std::vector<int32_t>{9, 1}));

  DailySeries series;
  ASSERT_EQ(series.append(DayDate{2004, 2, 28}, 1, 2), 0);
  auto series_view = [&] {
    return std::make_tuple(elements(series.visitors), elements(series.page_views), elements(series.years),
                           std::vector<int8_t>(series.months.data, series.months.data + series.months.count),
                           std::vector<int8_t>(series.days.data, series.days.data + series.days.count));
  };
  expect_failures_leave_unchanged(series_view, [&] { return series.append(DayDate{2004, 2, 29}, 3, 4); });
  EXPECT_EQ(series.days.count, 2);
}

TEST_F(Containers, HashedKeysAreFoundAmongManyAndInsertionsUndoneFromTheEnd) {
  siArr t;
  const int n = 20000;
  auto key = [n](int i) { return "/item.php?id=" + std::to_string(i * 7919 % n); };
  for (int i = 0; i < n; ++i) ASSERT_EQ(t.add(key(i).c_str(), i), 0);
  // The last thousand taken back out, newest first, as failed insertions do.
  for (int i = n - 1; i >= n - 1000; --i) {
    t.keys.remove_last(i);
    t.intArr::remove_at(t.count - 1);
  }
  int32_t number = -1;
  for (int i = 0; i < n; ++i) {
    bool kept = i < n - 1000;
    ASSERT_EQ(t.keys.find(key(i).c_str(), &number), kept) << i;
    if (kept) {
      EXPECT_EQ(number, i);
    }
  }
  EXPECT_FALSE(t.keys.find("/item.php?id=", &number));
  EXPECT_EQ(number, t.keys.count);  // an absent key goes at the end
  // The ninth key makes the index grow: a failure there changes nothing either.
  siArr small;
  for (int i = 0; i < 8; ++i) ASSERT_EQ(small.add(key(i).c_str(), 1), 0);
  auto view = [&] { return std::make_pair(keys_by_number(small.keys), elements(small)); };
  expect_failures_leave_unchanged(view, [&] { return small.add("/ninth", 2); });
  ASSERT_TRUE(small.keys.find("/ninth", &number));
  EXPECT_EQ(number, 8);
}

TEST_F(Containers, TableStaysUsableAfterAFailedInsertion) {
  siArr t;
  ASSERT_EQ(t.add("b", 1), 0);
  // Key stored, value refused: the key must be taken back out again.
  fail_allocations_after(3);
  EXPECT_EQ(t.add("a", 1), ERR_MEM);
  fail_allocations_after(-1);
  EXPECT_EQ(t.count, 1);
  EXPECT_EQ(t.keys.count, 1);
  int32_t number;
  EXPECT_FALSE(t.keys.find("a", &number));
  ASSERT_EQ(t.add("a", 6), 0);
  ASSERT_EQ(t.add("c", 7), 0);
  EXPECT_EQ(keys_by_number(t.keys), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(elements(t), (std::vector<int32_t>{1, 6, 7}));
}

}  // namespace
