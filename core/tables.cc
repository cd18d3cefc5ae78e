#include "core/tables.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/bounded_format.h"
#include "core/errors.h"
#include "core/text.h"

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// Splits a block line at its first space: the line keeps the text before it and the
// result is the text after it (empty when the line has no space).
char* split_at_space(char* line) {
  char* space = std::strchr(line, ' ');
  if (!space) return line + std::strlen(line);
  *space = '\0';
  return space + 1;
}

}  // namespace

void Data::set_name(const char* text) { copy_bounded(tag, sizeof tag, text); }

int Data::read(FILE* file) {
  while (read_line(file)) {
    if (line_buffer[0] == '\n') break;
    strip_line_end(line_buffer);
    char* key = split_at_space(line_buffer);
    if (add(key, text_to_int(line_buffer)) != 0) return ERR_MEM;
  }
  return 0;
}

void Data::write(FILE* file) const {
  if (keys.count == 0) return;
  std::fprintf(file, "%s\n", tag);
  for (int32_t i = 0; i < keys.count; ++i) std::fprintf(file, "%i %s\n", data[i], keys.strings[i]);
  std::fputs("\n", file);
}

int Cds::load(const char* path) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "r"));
  if (!file) return ERR_FIL;
  while (read_line(file.get())) {
    strip_line_end(line_buffer);
    char* description = split_at_space(line_buffer);
    int32_t number;
    if (!descriptions.find(description, &number)) {
      if (descriptions.insert_at(description, number) != 0) return ERR_MEM;
      number = descriptions.count - 1;
    }
    // A code listed again takes its last description.
    int32_t code;
    if (codes.keys.find(line_buffer, &code)) {
      codes.data[code] = number;
    } else if (codes.add(line_buffer, number) != 0) {
      return ERR_MEM;
    }
  }
  return 0;
}

void Data::print_top(const char*, const char*, int, const char*, int) {}
void Data::print_bottom(const char*, const char*, int, const char*, int) {}
void Data::print_row(int, int32_t, int) {}
void Url::print_row(int, int32_t, int) {}
void Url::print_list(const char*, const char*, int, const char*, int) {}
void domain_print_list(ReferringDomains&, const char*, const char*, int, const char*, int) {}
void domain_print_row(ReferringDomains&, int, int32_t, int) {}
void print_status_codes(Cds&, const char*, const char*, int, const char*, int) {}
