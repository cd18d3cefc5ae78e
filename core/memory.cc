#include "core/memory.h"

#include <cstdlib>
#include <cstring>

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

void fail_allocations_after(int successes) { allocations_left = successes; }
