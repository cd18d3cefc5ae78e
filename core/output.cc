#include "core/output.h"

#include <cstdarg>

namespace {
FILE* current_stream = nullptr;
}

FILE* page_stream() { return current_stream ? current_stream : stdout; }

void set_page_stream(FILE* stream) { current_stream = stream; }

void page_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(page_stream(), format, args);
  va_end(args);
}

void page_puts(const char* text) { std::fputs(text, page_stream()); }
