#include "core/containers.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/errors.h"
#include "core/memory.h"

namespace {

template <typename T>
bool binary_find(const T* data, int32_t count, T value, int32_t* position) {
  int32_t low = 0;
  int32_t high = count - 1;
  while (low <= high) {
    int32_t middle = low + (high - low) / 2;
    if (data[middle] < value) {
      low = middle + 1;
    } else if (value < data[middle]) {
      high = middle - 1;
    } else {
      *position = middle;
      return true;
    }
  }
  *position = low;
  return false;
}

// Makes room for one more element and puts the value at the position.
template <typename T>
int insert_element(T*& data, int32_t& count, int32_t& capacity, T value, int32_t position) {
  if (grow_room(data, capacity, static_cast<int64_t>(count) + 1) != 0) return ERR_MEM;
  std::memmove(data + position + 1, data + position, sizeof(T) * static_cast<std::size_t>(count - position));
  data[position] = value;
  ++count;
  return 0;
}

template <typename T>
void release(T*& data, int32_t& count, int32_t& capacity) {
  std::free(data);
  data = nullptr;
  count = 0;
  capacity = 0;
}

// The room stays for the next insertion; the last element's removal releases it.
template <typename T>
void remove_element(T*& data, int32_t& count, int32_t& capacity, int32_t position) {
  std::memmove(data + position, data + position + 1, sizeof(T) * static_cast<std::size_t>(count - position - 1));
  if (--count == 0) release(data, count, capacity);
}

int compare_bytes(const char* a, const char* b) {
  return std::strcmp(a, b);  // strcmp compares as unsigned char
}

}  // namespace

// Counts from damaged or hostile files can be near the limit: a sum saturates
// instead of overflowing.
int32_t add_count(int32_t value, int32_t amount) {
  int64_t sum = static_cast<int64_t>(value) + amount;
  if (sum > INT32_MAX) return INT32_MAX;
  if (sum < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(sum);
}

bool intArr::find(int32_t value, int32_t* position) const { return binary_find(data, count, value, position); }
int intArr::insert_at(int32_t value, int32_t position) {
  return insert_element(data, count, capacity, value, position);
}
void intArr::clear() { release(data, count, capacity); }
void intArr::remove_at(int32_t position) { remove_element(data, count, capacity, position); }

bool dblArr::find(double value, int32_t* position) const { return binary_find(data, count, value, position); }
int dblArr::insert_at(double value, int32_t position) {
  return insert_element(data, count, capacity, value, position);
}
void dblArr::clear() { release(data, count, capacity); }

bool chrArr::find(int8_t value, int32_t* position) const { return binary_find(data, count, value, position); }
int chrArr::insert_at(int8_t value, int32_t position) {
  return insert_element(data, count, capacity, value, position);
}
void chrArr::clear() { release(data, count, capacity); }
void chrArr::remove_at(int32_t position) { remove_element(data, count, capacity, position); }

bool strArr::find(const char* key, int32_t* result) const {
  if (hashed_) {
    int32_t number = index_.find(LookupIndex::hash(key),
                                 [this, key](int32_t n) { return std::strcmp(strings[n], key) == 0; });
    *result = number >= 0 ? number : count;
    return number >= 0;
  }
  int32_t low = 0;
  int32_t high = count - 1;
  while (low <= high) {
    int32_t middle = low + (high - low) / 2;
    int c = compare_bytes(strings[data[middle]], key);
    if (c < 0) {
      low = middle + 1;
    } else if (c > 0) {
      high = middle - 1;
    } else {
      *result = data[middle];
      return true;
    }
  }
  *result = low;
  return false;
}

int strArr::insert_at(const char* key, int32_t position) {
  int32_t number = count;
  if (hashed_) {
    if (index_.reserve(static_cast<int64_t>(number) + 1) != 0) return ERR_MEM;
    position = number;  // the order of a hashed set is the order of insertion
  }
  if (grow_room(strings, strings_capacity, static_cast<int64_t>(number) + 1) != 0) return ERR_MEM;
  char* copy = copy_text(key);
  if (!copy) return ERR_MEM;
  if (intArr::insert_at(number, position) != 0) {
    std::free(copy);
    return ERR_MEM;
  }
  strings[number] = copy;
  if (hashed_) index_.put(LookupIndex::hash(copy), number);
  return 0;
}

int strArr::add(const char* key) {
  int32_t position;
  if (find(key, &position)) return 0;
  return insert_at(key, position);
}

void strArr::clear_strings() {
  for (int32_t i = 0; i < count; ++i) std::free(strings[i]);
  std::free(strings);
  strings = nullptr;
  strings_capacity = 0;
  index_.clear();
  intArr::clear();
}

void strArr::remove_last(int32_t position) {
  int32_t number = count - 1;
  if (hashed_) {
    index_.remove(LookupIndex::hash(strings[number]), number);
    position = number;
  }
  std::free(strings[number]);
  remove_at(position);
  if (count == 0) {
    std::free(strings);
    strings = nullptr;
    strings_capacity = 0;
  }
}

int siArr::add(const char* key, int32_t amount) {
  int32_t number;
  return add_index(key, amount, &number);
}

int siArr::add_index(const char* key, int32_t amount, int32_t* number) {
  int32_t position;
  if (keys.find(key, &position)) {
    data[position] = add_count(data[position], amount);
    *number = position;
    return 0;
  }
  int status = keys.insert_at(key, position);
  if (status != 0) return status;
  status = intArr::insert_at(amount, count);
  if (status != 0) {
    keys.remove_last(position);
    return status;
  }
  *number = count - 1;
  return 0;
}

void siArr::clear() {
  intArr::clear();
  keys.clear_strings();
}

int sdArr::add(const char* key, double amount) {
  int32_t number;
  return add_index(key, amount, &number);
}

int sdArr::add_index(const char* key, double amount, int32_t* number) {
  int32_t position;
  if (keys.find(key, &position)) {
    values.data[position] += amount;
    *number = position;
    return 0;
  }
  int status = keys.insert_at(key, position);
  if (status != 0) return status;
  status = values.insert_at(amount, values.count);
  if (status != 0) {
    keys.remove_last(position);
    return status;
  }
  *number = values.count - 1;
  return 0;
}

void sdArr::clear() {
  values.clear();
  keys.clear_strings();
}

int icArr::add(int32_t key, int32_t amount) {
  int32_t position;
  return add_index(key, amount, &position);
}

int icArr::add_index(int32_t key, int32_t amount, int32_t* position) {
  if (keys.find(key, position)) {
    values.data[*position] = add_count(values.data[*position], amount);
    return 0;
  }
  int status = keys.insert_at(key, *position);
  if (status != 0) return status;
  status = values.insert_at(amount, *position);
  if (status != 0) {
    keys.remove_at(*position);
    return status;
  }
  return 0;
}

void icArr::clear() {
  values.clear();
  keys.clear();
}

int DailySeries::append(const DayDate& date, int32_t day_visitors, int32_t day_page_views) {
  int32_t n = visitors.count;
  if (visitors.insert_at(day_visitors, n) != 0) return ERR_MEM;
  if (page_views.insert_at(day_page_views, n) != 0) {
    visitors.remove_at(n);
    return ERR_MEM;
  }
  if (years.insert_at(date.year, n) != 0) {
    visitors.remove_at(n);
    page_views.remove_at(n);
    return ERR_MEM;
  }
  if (months.insert_at(static_cast<int8_t>(date.month), n) != 0) {
    visitors.remove_at(n);
    page_views.remove_at(n);
    years.remove_at(n);
    return ERR_MEM;
  }
  if (days.insert_at(static_cast<int8_t>(date.day), n) != 0) {
    visitors.remove_at(n);
    page_views.remove_at(n);
    years.remove_at(n);
    months.remove_at(n);
    return ERR_MEM;
  }
  return 0;
}

void DailySeries::clear() {
  visitors.clear();
  page_views.clear();
  years.clear();
  months.clear();
  days.clear();
}

int32_t* sort_index_by_value(const void* values, int32_t n, int kind) {
  if (!values || n < 0) return nullptr;
  int32_t* order = static_cast<int32_t*>(new_block(sizeof(int32_t) * static_cast<std::size_t>(n)));
  if (!order) return nullptr;
  for (int32_t i = 0; i < n; ++i) order[i] = i;
  if (kind == 0) {
    const int32_t* v = static_cast<const int32_t*>(values);
    std::stable_sort(order, order + n, [v](int32_t a, int32_t b) { return v[a] > v[b]; });
  } else {
    // Values that do not compare (not-a-number) count as equal to everything; the
    // comparison must still be a strict weak order, so they rank as the smallest.
    const double* v = static_cast<const double*>(values);
    auto key = [v](int32_t i) { return v[i] != v[i] ? -std::numeric_limits<double>::infinity() : v[i]; };
    std::stable_sort(order, order + n, [&key](int32_t a, int32_t b) { return key(a) > key(b); });
  }
  return order;
}
