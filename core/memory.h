#ifndef QM_CORE_MEMORY_H
#define QM_CORE_MEMORY_H

#include <cstddef>

// Every growing container allocates through these, so that tests can make an
// allocation fail on purpose and check that nothing is left half-changed.

// realloc; null when memory runs out (the old block then stays valid).
void* grow_block(void* block, std::size_t bytes);
// malloc through the same failure hook.
void* new_block(std::size_t bytes);
// A private copy of a text, or null when memory runs out.
char* copy_text(const char* text);

// Test hook: the next `successes` allocations succeed, every later one fails.
// A negative value turns failures off again.
void fail_allocations_after(int successes);

#endif
