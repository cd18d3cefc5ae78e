#include "core/traffic.h"

#include <cstring>

#include "core/config.h"
#include "core/errors.h"

namespace {

template <int N>
void zero(int32_t (&counters)[N]) {
  std::memset(counters, 0, sizeof(counters));
}

// " <letter>.%i.%i" for each non-zero counter.
void write_entries(FILE* file, char letter, const int32_t* counters, int n) {
  for (int i = 0; i < n; ++i) {
    if (counters[i] != 0) std::fprintf(file, " %c.%i.%i", letter, i, counters[i]);
  }
}

void add_at(int32_t* counters, int n, int index, int32_t amount) {
  if (index < 0 || index >= n) return;  // only a damaged file holds such an index
  counters[index] = add_count(counters[index], amount);
}

// The byte total in kilobytes, truncated toward zero and kept in the int range.
int kilobytes(double bytes) { return whole_number(bytes * 0.0009765625); }

// Cuts the next token at the delimiter (as next_int_token does) and returns it as text.
char* next_token(char delimiter, char** cursor) {
  char* start = *cursor;
  char* p = std::strchr(start, delimiter);
  if (p) {
    *p = '\0';
    *cursor = p + 1;
  } else {
    *cursor = start + std::strlen(start);
  }
  return start;
}

// 24 numbers: number h is added to hour h, to the total and to the block's sum.
void read_hours(char** cursor, int32_t* hours, int32_t* total, int32_t* block_total) {
  for (int h = 0; h < kHours; ++h) {
    int value = next_int_token(' ', cursor);
    hours[h] = add_count(hours[h], value);
    *total = add_count(*total, value);
    *block_total = add_count(*block_total, value);
  }
}

}  // namespace

Traffic::Traffic() { reset(); }

void Traffic::reset() {
  daily.clear();
  bytes = 0;
  first_date = DayDate{};
  last_date = DayDate{};
  visitors = 0;
  page_views = 0;
  hits = 0;
  average_visit_seconds = 0;
  zero(referrer_sources);
  zero(hourly_visitors);
  zero(hourly_page_views);
  zero(os);
  zero(aol);
  zero(msie);
  zero(netscape);
  zero(other_browsers);
}

void write_pairs(FILE* file, const int32_t* counters, int n) {
  for (int i = 0; i < n; ++i) {
    if (counters[i] > 0) std::fprintf(file, " %i.%i", i, counters[i]);
  }
}

void read_pairs(char** cursor, int32_t* counters, int n) {
  while (**cursor) {
    int index = next_int_token('.', cursor);
    int count = next_int_token(' ', cursor);
    add_at(counters, n, index, count);
  }
}

void Traffic::write(FILE* file) const {
  if (hits == 0) return;
  std::fprintf(file, "DAT %i %i %i", first_date.year, first_date.month, first_date.day);
  std::fprintf(file, "\nTRF %i %i %i", hits, average_visit_seconds, kilobytes(bytes));
  std::fputs("\nHRV", file);
  for (int h = 0; h < kHours; ++h) std::fprintf(file, " %i", hourly_visitors[h]);
  std::fputs("\nHRP", file);
  for (int h = 0; h < kHours; ++h) std::fprintf(file, " %i", hourly_page_views[h]);
  std::fputs("\nOPS", file);
  write_pairs(file, os, kOsCount);
  std::fputs("\nBRW", file);
  write_entries(file, 'n', netscape, kVersionCount);
  write_entries(file, 'i', msie, kVersionCount);
  write_entries(file, 'a', aol, kVersionCount);
  write_entries(file, 'o', other_browsers, kOtherBrowserCount);
  std::fputs("\n\n", file);
}

int Traffic::read(FILE* file, bool state_file) {
  int32_t block_visitors = 0;
  int32_t block_page_views = 0;
  for (;;) {
    if (!read_line(file)) {
      at_end = true;
      break;
    }
    if (line_buffer[0] == '\n') break;
    strip_line_end(line_buffer);
    char* cursor = line_buffer;
    const char* tag = next_token(' ', &cursor);
    if (std::strcmp(tag, "DAT") == 0) {
      int* first[3] = {&first_date.year, &first_date.month, &first_date.day};
      int* last[3] = {&last_date.year, &last_date.month, &last_date.day};
      for (int i = 0; i < 3; ++i) {
        int value = next_int_token(' ', &cursor);
        if (*first[i] == 0) *first[i] = value;
        *last[i] = value;
      }
    } else if (std::strcmp(tag, "TRF") == 0) {
      hits = add_count(hits, next_int_token(' ', &cursor));
      average_visit_seconds = add_count(average_visit_seconds, next_int_token(' ', &cursor));
      bytes += text_to_int(cursor);
      if (state_file) bytes *= 1024;
    } else if (std::strcmp(tag, "HRV") == 0) {
      read_hours(&cursor, hourly_visitors, &visitors, &block_visitors);
    } else if (std::strcmp(tag, "HRP") == 0) {
      read_hours(&cursor, hourly_page_views, &page_views, &block_page_views);
    } else if (std::strcmp(tag, "OPS") == 0) {
      if (state_file || config.report_on[RPT_OPS]) read_pairs(&cursor, os, kOsCount);
    } else if (std::strcmp(tag, "BRW") == 0) {
      if (state_file || config.report_on[RPT_BRW]) {
        while (*cursor) {
          char letter = *next_token('.', &cursor);
          int index = next_int_token('.', &cursor);
          int count = next_int_token(' ', &cursor);
          switch (letter) {
            case 'n': add_at(netscape, kVersionCount, index, count); break;
            case 'i': add_at(msie, kVersionCount, index, count); break;
            case 'a': add_at(aol, kVersionCount, index, count); break;
            case 'o': add_at(other_browsers, kOtherBrowserCount, index, count); break;
            default: break;
          }
        }
      }
    }
  }
  if (last_date.year != 0 && !at_end) {
    if (daily.append(last_date, block_visitors, block_page_views) != 0) return ERR_MEM;
  }
  return 0;
}
