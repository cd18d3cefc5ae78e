#ifndef QM_CORE_MEMORY_H
#define QM_CORE_MEMORY_H

#include <cstddef>
#include <cstdint>

// Every growing container allocates through these, so that tests can make an
// allocation fail on purpose and check that nothing is left half-changed.

// realloc; null when memory runs out (the old block then stays valid).
void* grow_block(void* block, std::size_t bytes);
// malloc through the same failure hook.
void* new_block(std::size_t bytes);
// A private copy of a text, or null when memory runs out.
char* copy_text(const char* text);

// Makes room for at least `needed` elements in an array block that has room for
// `capacity`: the room grows by half of itself at least, so that appending one
// element at a time stays linear. 0, or -8 with block and capacity unchanged.
int grow_room(void** block, int32_t* capacity, int64_t needed, std::size_t element_size);

template <typename T>
int grow_room(T*& block, int32_t& capacity, int64_t needed) {
  void* memory = block;
  int status = grow_room(&memory, &capacity, needed, sizeof(T));
  block = static_cast<T*>(memory);
  return status;
}

// Test hook: the next `successes` allocations succeed, every later one fails.
// A negative value turns failures off again.
void fail_allocations_after(int successes);

#endif
