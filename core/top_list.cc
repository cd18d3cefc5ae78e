#include "core/top_list.h"

#include "core/bounded_format.h"
#include "core/escape.h"
#include "core/output.h"

int32_t list_title(const char* title, int32_t entries, int limit) {
  std::size_t size = static_cast<std::size_t>(line_buffer_size());
  copy_bounded(line_buffer, size, title);
  if (entries > limit) {
    append_format(line_buffer, size, " (top %i of %i)", limit, entries);
    return limit;
  }
  return entries;
}

void print_key_row(const siArr& table, int32_t i, int32_t position, int total) {
  if (i != 0) html.spacer_row(4);
  int32_t count = table.data[position];
  html.ranked_row(i + 1, html_escape(table.keys.strings[position]).c_str(), count, share_of(count, total));
}

void print_rows_with_pie(const siArr& table, const int32_t* ranking, int32_t rows, int total, bool chart) {
  for (int32_t r = 0; r < rows; ++r) print_key_row(table, r, ranking[r], total);
  if (chart) html.spacer_row(4);
  html.table_close();
  if (chart) html.graph_applet("pie", rows, table.data, ranking, nullptr, table.keys.strings, nullptr);
  page_puts("</td></tr>\n");
  html.table_close();
  html.line_break();
}
