#include "core/memory.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"

namespace {
int allocations_left = -1;

bool allocation_allowed() {
  if (allocations_left < 0) return true;
  if (allocations_left == 0) return false;
  --allocations_left;
  return true;
}
}  // namespace

void* grow_block(void* block, std::size_t bytes) {
  if (!allocation_allowed()) return nullptr;
  return std::realloc(block, bytes == 0 ? 1 : bytes);
}

void* new_block(std::size_t bytes) {
  if (!allocation_allowed()) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

char* copy_text(const char* text) {
  std::size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(new_block(n));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

int grow_room(void** block, int32_t* capacity, int64_t needed, std::size_t element_size) {
  if (needed <= *capacity) return 0;
  if (needed > INT32_MAX) return ERR_MEM;
  int64_t room = *capacity + *capacity / 2;
  if (room < needed) room = needed;
  if (room > INT32_MAX) room = INT32_MAX;
  void* grown = grow_block(*block, element_size * static_cast<std::size_t>(room));
  if (!grown) return ERR_MEM;
  *block = grown;
  *capacity = static_cast<int32_t>(room);
  return 0;
}

void fail_allocations_after(int successes) { allocations_left = successes; }
