#ifndef QM_CORE_CONTAINERS_H
#define QM_CORE_CONTAINERS_H

#include <cstdint>

#include "core/errors.h"
#include "core/lookup_index.h"
#include "core/memory.h"
#include "core/text.h"

// The growable arrays every table is built from. Storage holds `count` elements
// and room for more (`capacity`), grown by half of itself when full, so that a
// table filled one element at a time stays linear; clear releases it. Growing
// operations return 0, or -8 when memory runs out, and then leave the container
// exactly as it was. Users read elements and counts directly.

struct intArr {
  int32_t* data = nullptr;
  int32_t count = 0;
  int32_t capacity = 0;  // elements the block has room for

  intArr() = default;
  ~intArr() { clear(); }
  intArr(const intArr&) = delete;
  intArr& operator=(const intArr&) = delete;

  // Binary search of a sorted array: true and the position of an equal element, or
  // false and the insertion position (the first greater element; count when none).
  bool find(int32_t value, int32_t* position) const;
  int insert_at(int32_t value, int32_t position);
  void clear();
  // Takes element `position` out again; used to undo a half-done insertion.
  void remove_at(int32_t position);
};

struct dblArr {
  int32_t count = 0;
  double* data = nullptr;
  int32_t capacity = 0;  // elements the block has room for

  dblArr() = default;
  ~dblArr() { clear(); }
  dblArr(const dblArr&) = delete;
  dblArr& operator=(const dblArr&) = delete;

  bool find(double value, int32_t* position) const;
  int insert_at(double value, int32_t position);
  void clear();
};

struct chrArr {
  int32_t count = 0;
  int8_t* data = nullptr;
  int32_t capacity = 0;  // elements the block has room for

  chrArr() = default;
  ~chrArr() { clear(); }
  chrArr(const chrArr&) = delete;
  chrArr& operator=(const chrArr&) = delete;

  bool find(int8_t value, int32_t* position) const;
  int insert_at(int8_t value, int32_t position);
  void clear();
  void remove_at(int32_t position);
};

// A set of owned strings with a sorted view. The base holds the order: string
// numbers arranged so that the strings they name ascend byte-wise (unsigned). A
// string's number is its order of first insertion since the last clear.
//
// A hashed set (the keys of the statistics tables, which can grow to millions)
// finds its keys through a lookup index instead and keeps no sorted view: its
// order lists the string numbers as they came, and an absent key's insertion
// position is simply the end.
struct strArr : intArr {
  enum Kind { kSorted, kHashed };

  char** strings = nullptr;
  int32_t strings_capacity = 0;

  strArr() = default;
  explicit strArr(Kind kind) : hashed_(kind == kHashed) {}
  ~strArr() { clear_strings(); }

  // True and the key's string number, or false and its insertion position in the order.
  bool find(const char* key, int32_t* result) const;
  // Copies the key as string number count and puts that number at `position` of the order.
  int insert_at(const char* key, int32_t position);
  // find, then insert_at when absent; a present key changes nothing.
  int add(const char* key);
  // Releases every string and the order: the set is as new.
  void clear_strings();
  // Undoes the last insert_at, which put its number at `position` of the order.
  void remove_last(int32_t position);

 private:
  bool hashed_ = false;
  LookupIndex index_;  // string numbers by key (hashed sets)
};

// String key to integer count: value i belongs to the key with string number i.
struct siArr : intArr {
  strArr keys{strArr::kHashed};

  int add(const char* key, int32_t amount);
  int add_index(const char* key, int32_t amount, int32_t* number);
  void clear();
};

// String key to double amount.
struct sdArr {
  dblArr values;
  strArr keys{strArr::kHashed};

  int add(const char* key, double amount);
  int add_index(const char* key, double amount, int32_t* number);
  void clear();
};

// Integer key to integer count: keys ascend, value i belongs to the key at position i.
struct icArr {
  intArr values;
  intArr keys;

  int add(int32_t key, int32_t amount);
  int add_index(int32_t key, int32_t amount, int32_t* position);
  void clear();
};

// One entry per day of a report range, in the order the days were appended.
struct DailySeries {
  intArr visitors;
  intArr page_views;
  intArr years;
  chrArr months;
  chrArr days;

  int append(const DayDate& date, int32_t day_visitors, int32_t day_page_views);
  void clear();
};

// Appends zeros to an intArr, dblArr or chrArr until it holds `n` entries: 0, or
// -8 with the array as it was.
template <typename Array>
int grow_with_zeros(Array& array, int32_t n) {
  if (array.count >= n) return 0;
  if (grow_room(array.data, array.capacity, n) != 0) return ERR_MEM;
  while (array.count < n) array.data[array.count++] = 0;
  return 0;
}

// value + amount, stopping at the ends of the 32-bit range instead of overflowing.
int32_t add_count(int32_t value, int32_t amount);

// A ranking of n values, largest first, ties in ascending position. `kind` is 0 for
// int32_t values and 1 for doubles. The caller releases the result with free();
// null when the values pointer is null or memory runs out.
int32_t* sort_index_by_value(const void* values, int32_t n, int kind);

#endif
