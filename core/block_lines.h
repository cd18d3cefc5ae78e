#ifndef QM_CORE_BLOCK_LINES_H
#define QM_CORE_BLOCK_LINES_H

#include <cstdio>
#include <cstring>

#include "core/errors.h"
#include "core/text.h"

// Splits a block line at its first space: the line keeps the text before it and the
// result is the text after it (empty when the line has no space).
inline char* split_at_space(char* line) {
  char* space = std::strchr(line, ' ');
  if (!space) return line + std::strlen(line);
  *space = '\0';
  return space + 1;
}

// Reads the "number text" lines of a statistics block up to its empty line or the
// file's end, through the shared line buffer. Each line goes to take(number, text),
// the number read as atoi reads the text before the first space. 0, or -8 as soon as
// take gives non-zero (memory ran out); the lines before it stay taken.
template <typename Take>
int read_block_lines(FILE* file, Take take) {
  while (read_line(file)) {
    if (line_buffer[0] == '\n') break;
    strip_line_end(line_buffer);
    char* text = split_at_space(line_buffer);
    if (take(text_to_int(line_buffer), text) != 0) return ERR_MEM;
  }
  return 0;
}

#endif
