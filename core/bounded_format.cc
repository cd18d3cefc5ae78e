#include "core/bounded_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
int vformat_at(char* area, std::size_t size, std::size_t start, const char* format, va_list args) {
  if (size == 0) return 0;
  if (start >= size) start = size - 1;
  int n = std::vsnprintf(area + start, size - start, format, args);
  if (n < 0) {
    area[start] = '\0';
    return static_cast<int>(start);
  }
  std::size_t end = start + static_cast<std::size_t>(n);
  if (end > size - 1) end = size - 1;
  return static_cast<int>(end);
}
}  // namespace

int format_into(char* area, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vformat_at(area, size, 0, format, args);
  va_end(args);
  return n;
}

int append_format(char* area, std::size_t size, const char* format, ...) {
  if (size == 0) return 0;
  std::size_t start = strnlen(area, size - 1);
  va_list args;
  va_start(args, format);
  int n = vformat_at(area, size, start, format, args);
  va_end(args);
  return n;
}

int copy_bounded(char* area, std::size_t size, const char* text) {
  if (size == 0) return 0;
  std::size_t n = strnlen(text, size - 1);
  std::memmove(area, text, n);
  area[n] = '\0';
  return static_cast<int>(n);
}
