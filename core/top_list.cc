#include "core/top_list.h"

#include "core/bounded_format.h"

int32_t list_title(const char* title, int32_t entries, int limit) {
  std::size_t size = static_cast<std::size_t>(line_buffer_size());
  copy_bounded(line_buffer, size, title);
  if (entries > limit) {
    append_format(line_buffer, size, " (top %i of %i)", limit, entries);
    return limit;
  }
  return entries;
}
