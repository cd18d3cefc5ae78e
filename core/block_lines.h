#ifndef QM_CORE_BLOCK_LINES_H
#define QM_CORE_BLOCK_LINES_H

#include <cstdio>
#include <cstring>

#include "core/containers.h"
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

// Closes the file and gives back the code; the readers of definition files and day
// files end through it.
inline int close_return(FILE* file, int code) {
  std::fclose(file);
  return code;
}

// Adds the text to the set when it is absent and gives its string number: how the
// definition files number their descriptions and names. 0, or -8.
inline int add_numbered(strArr& set, const char* text, int32_t* number) {
  if (set.find(text, number)) return 0;
  if (set.insert_at(text, *number) != 0) return ERR_MEM;
  *number = set.count - 1;
  return 0;
}

// Reads a definition file line by line through the shared line buffer (line ends
// cut; an over-long line arrives once, cut to the buffer) and hands each line to
// take(line). 0 at the end of the file, -4 when it cannot be opened; a non-zero
// result of take ends the reading with that result. The file is closed in every case.
template <typename Take>
int read_definition_file(const char* path, Take take) {
  FILE* file = std::fopen(path, "r");
  if (!file) return ERR_FIL;
  while (read_line(file)) {
    strip_line_end(line_buffer);
    int status = take(static_cast<char*>(line_buffer));
    if (status != 0) return close_return(file, status);
  }
  return close_return(file, 0);
}

// The same for files of "key text" lines: the key runs to the first space, the text
// is the rest of the line (empty without a space); each line goes to take(key, text).
template <typename Take>
int read_definition_lines(const char* path, Take take) {
  return read_definition_file(path, [&take](char* line) {
    char* text = split_at_space(line);
    return take(static_cast<const char*>(line), text);
  });
}

#endif
