#ifndef QM_CORE_TOP_LIST_H
#define QM_CORE_TOP_LIST_H

#include <cstdint>
#include <cstdlib>

#include "core/containers.h"
#include "core/html_writer.h"
#include "core/text.h"

// The frame every top list of the report pages shares.

// A row's share of the section's total.
inline float share_of(int32_t count, int total) {
  return static_cast<float>(count) / static_cast<float>(total);
}

// Copies the title into the line buffer, with " (top n of m)" when there are more
// entries than the limit; gives the number of rows to print.
int32_t list_title(const char* title, int32_t entries, int limit);

// The plain ranked row of a table's key: a spacer before every row but the first,
// then the position from 1, the key (escaped), its count and share.
void print_key_row(const siArr& table, int32_t i, int32_t position, int total);

// The first `rows` rows of a ranking as plain key rows, then the end of the list;
// with `chart`, a pie of the same rows in the same order between the rows' table
// and the section's. Ends with the line break.
void print_rows_with_pie(const siArr& table, const int32_t* ranking, int32_t rows, int total, bool chart);

// Title bar, ranking, header, rows, close, over `count` values. The row printer gets
// the row index and the value's position; `bottom` starts from the least values.
// With a `second_label` the header has two value columns (that label, then the
// value label). Nothing for no values; the out-of-memory box instead of the rows
// when there is no ranking. True when the list was written and closed.
template <typename Row>
bool print_ranked_values(const int32_t* values, int32_t count, const char* tag, const char* title,
                         const char* key_label, const char* value_label, int limit, bool bottom, Row row,
                         const char* second_label = nullptr) {
  if (count <= 0) return false;
  int32_t rows = list_title(title, count, limit);
  html.section_title(line_buffer, tag);
  int32_t* ranking = sort_index_by_value(values, count, 0);
  if (!ranking) {
    html.out_of_memory();
    return false;
  }
  if (second_label) {
    html.list_header2(key_label, second_label, value_label);
  } else {
    html.list_header(key_label, value_label);
  }
  for (int32_t i = 0; i < rows; ++i) row(i, ranking[bottom ? count - 1 - i : i]);
  html.list_close();
  std::free(ranking);
  return true;
}

// The same over a table: the row printer gets the key's string number.
template <typename Row>
bool print_ranked(const siArr& table, const char* tag, const char* title, const char* key_label,
                  const char* value_label, int limit, bool bottom, Row row, const char* second_label = nullptr) {
  return print_ranked_values(table.data, table.keys.count, tag, title, key_label, value_label, limit, bottom, row,
                             second_label);
}

#endif
