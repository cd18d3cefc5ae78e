#include "core/visitors.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/block_lines.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/text.h"

namespace {

// The order read from a file is used only when it lists every visitor number once in
// strictly ascending key order; anything else (a damaged or edited file) is rebuilt
// by sorting, so no entry can ever name a visitor that does not exist.
template <typename Less>
void check_order(int32_t* order, int32_t n, Less less) {
  bool valid = true;
  for (int32_t i = 0; i < n && valid; ++i) {
    if (order[i] < 0 || order[i] >= n) valid = false;
    else if (i > 0 && !less(order[i - 1], order[i])) valid = false;
  }
  if (valid) return;
  for (int32_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order, order + n, less);
}

}  // namespace

uint32_t address_of(const char* text) {
  uint32_t address = 0;
  const char* piece = text;
  for (int part = 0; part < 4; ++part) {
    uint32_t value = 0;
    if (piece) {
      value = static_cast<uint32_t>(text_to_int(piece));
      // The first three parts end at the next "."; the fourth is the rest of the text.
      const char* dot = part < 3 ? std::strchr(piece, '.') : nullptr;
      piece = dot ? dot + 1 : nullptr;
    }
    address = (address << 8) + value;
  }
  return address;
}

// ---- hosts ----

bool hosts::find(const char* key, int32_t* result) { return strArr::find(key, result); }

int hosts::insert(const char* key, int32_t position) {
  if (position < 0 || position > strArr::count) return ERR_INP;
  return strArr::insert_at(key, position);
}

void hosts::write(FILE* file) const {
  for (int32_t i = 0; i < strArr::count; ++i) std::fprintf(file, "%i %s\n", data[i], strings[i]);
  std::fputs("\n", file);
}

int hosts::read(FILE* file) {
  int status = read_block_lines(file, [this](int entry, const char* key) {
    if (strArr::insert_at(key, strArr::count) != 0) return ERR_MEM;
    data[strArr::count - 1] = entry;
    return 0;
  });
  check_order(data, strArr::count, [this](int32_t a, int32_t b) { return std::strcmp(strings[a], strings[b]) < 0; });
  return status;
}

void hosts::clear() { clear_strings(); }

// ---- ips ----

ips::~ips() { clear(); }

bool ips::find(const char* key, int32_t* result) {
  pending = address_of(key);
  if (!searched_) {
    // The address hash is one to one, so an equal hash is the address itself.
    int32_t visitor = index_.find(LookupIndex::hash(pending), [](int32_t) { return true; });
    *result = visitor >= 0 ? visitor : intArr::count;
    return visitor >= 0;
  }
  int32_t low = 0;
  int32_t high = intArr::count - 1;
  while (low <= high) {
    int32_t middle = low + (high - low) / 2;
    int32_t visitor = data[middle];
    uint32_t address = addresses[visitor];
    if (address < pending) {
      low = middle + 1;
    } else if (address > pending) {
      high = middle - 1;
    } else {
      *result = visitor;
      return true;
    }
  }
  *result = low;
  return false;
}

int ips::append(int32_t entry) {
  int32_t n = intArr::count;
  if (grow_room(addresses, address_capacity_, static_cast<int64_t>(n) + 1) != 0) return ERR_MEM;
  if (intArr::insert_at(entry, n) != 0) return ERR_MEM;  // the spare address room is never read
  addresses[n] = pending;
  return 0;
}

int ips::insert(const char*, int32_t position) {
  int32_t n = intArr::count;
  if (position < 0 || position > n) return ERR_INP;
  if (searched_) {
    if (append(n) != 0) return ERR_MEM;
    // Into its place in the sorted order.
    std::memmove(data + position + 1, data + position, sizeof(int32_t) * static_cast<std::size_t>(n - position));
    data[position] = n;
    return 0;
  }
  if (index_.reserve(static_cast<int64_t>(n) + 1) != 0) return ERR_MEM;
  if (append(n) != 0) return ERR_MEM;
  index_.put(LookupIndex::hash(pending), n);
  return 0;
}

void ips::write(FILE* file) const {
  const int32_t n = intArr::count;
  // The saved order is sorted by address. Without memory for a sorted copy the
  // order is written as it stands: reading it back sorts it again.
  int32_t* order =
      searched_ || n == 0 ? nullptr : static_cast<int32_t*>(std::malloc(sizeof(int32_t) * static_cast<std::size_t>(n)));
  const int32_t* written = data;
  if (order) {
    std::memcpy(order, data, sizeof(int32_t) * static_cast<std::size_t>(n));
    std::sort(order, order + n, [this](int32_t a, int32_t b) { return addresses[a] < addresses[b]; });
    written = order;
  }
  for (int32_t i = 0; i < n; ++i) std::fprintf(file, "%i %u\n", written[i], addresses[i]);
  std::fputs("\n", file);
  std::free(order);
}

int ips::read(FILE* file) {
  int status = read_block_lines(file, [this](int entry, const char* key) {
    pending = static_cast<uint32_t>(std::strtoul(key, nullptr, 10));
    return append(entry) != 0 ? ERR_MEM : 0;
  });
  const int32_t n = intArr::count;
  check_order(data, n, [this](int32_t a, int32_t b) { return addresses[a] < addresses[b]; });
  // The index is built once the whole section is in.
  searched_ = false;
  for (int32_t i = 1; i < n; ++i) {
    if (addresses[data[i - 1]] == addresses[data[i]]) searched_ = true;
  }
  index_.clear();
  if (!searched_ && index_.reserve(n) != 0) searched_ = true;
  if (!searched_) {
    for (int32_t v = 0; v < n; ++v) index_.put(LookupIndex::hash(addresses[v]), v);
  }
  return status;
}

void ips::clear() {
  searched_ = false;
  index_.clear();
  intArr::clear();
  std::free(addresses);
  addresses = nullptr;
  address_capacity_ = 0;
}
