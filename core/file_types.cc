#include "core/file_types.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/block_lines.h"
#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/output.h"
#include "core/text.h"
#include "core/top_list.h"

namespace {

// Room for a row label: ".ext description", at most 135 characters.
constexpr std::size_t kLabelSize = 136;

// Adds `count` requests and `amount` to an extension; a new one starts with them.
// The amounts and the requests stay parallel even when memory runs out.
int add_to_extension(Tps& table, const char* extension, double amount, int count) {
  int32_t number;
  if (table.amounts.keys.find(extension, &number)) {
    table.amounts.values.data[number] += amount;
    table.requests.data[number] = add_count(table.requests.data[number], count);
    return 0;
  }
  int32_t slot = table.requests.count;
  if (table.requests.insert_at(count, slot) != 0) return ERR_MEM;
  if (table.amounts.add_index(extension, amount, &number) != 0) {
    table.requests.remove_at(slot);
    return ERR_MEM;
  }
  return 0;
}

}  // namespace

int Tps::load() {
  return read_definition_lines("dat_tps.cfg", [this](const char* extension, const char* description) {
    int32_t found;
    if (extension_names.keys.find(extension, &found)) return 0;  // its first line holds
    int32_t number;
    if (add_numbered(descriptions, description, &number) != 0) return ERR_MEM;
    return extension_names.add(extension, number);
  });
}

int Tps::read(FILE* file, bool in_state_file) {
  return read_block_lines(file, [this, in_state_file](int count, char* text) {
    char* extension = split_at_space(text);
    int kilobytes = text_to_int(text);
    // The state file keeps whole kilobytes; the parser counts bytes. The product
    // is taken in floating point so that large amounts cannot overflow.
    double amount = in_state_file ? static_cast<double>(kilobytes) * 1024.0 : kilobytes;
    return add_to_extension(*this, extension, amount, count);
  });
}

void Tps::write(FILE* file) const {
  if (amounts.keys.count == 0) return;
  std::fprintf(file, "%s\n", tag);
  for (int32_t i = 0; i < amounts.keys.count; ++i) {
    std::fprintf(file, "%i %i %s\n", requests.data[i], whole_number(amounts.values.data[i] / 1024.0),
                 amounts.keys.strings[i]);
  }
  std::fputs("\n", file);
}

void Tps::clear() {
  amounts.clear();
  requests.clear();
}

int add_file_type(Tps& table, char* path, double bytes) {
  char* dot = std::strrchr(path, '.');
  if (!dot || dot[1] == '\0') return 0;
  char* extension = lower_case(dot + 1);
  return add_to_extension(table, extension, bytes, 1);
}

namespace {

// ".ext description", or ".ext Undefined file type" for an extension without a
// definition line; cut to the label's room.
void file_type_label(const Tps& table, const char* extension, char* label) {
  format_into(label, kLabelSize, ".%s", extension);
  int32_t found;
  if (table.extension_names.keys.find(extension, &found)) {
    int32_t number = table.extension_names.data[found];
    if (number >= 0 && number < table.descriptions.count) {
      append_format(label, kLabelSize, " %s", table.descriptions.strings[number]);
      return;
    }
  }
  append_format(label, kLabelSize, " Undefined file type");
}

}  // namespace

void print_file_types(const Tps& table, const char* title, const char* key_label, int total,
                      const char* value_label, int limit) {
  int32_t count = table.amounts.keys.count;
  if (count == 0 || total == 0) return;
  const double* amounts = table.amounts.values.data;
  int shown = 0;  // extensions with a kilobyte or more
  for (int32_t i = 0; i < count; ++i) {
    if (whole_number(amounts[i]) >= 1) ++shown;
  }
  if (shown == 0) return;

  // Every extension with a kilobyte ranks before those without one.
  int32_t taken = list_title(title, shown, limit);
  html.section_title(line_buffer, table.tag);

  int32_t* index = sort_index_by_value(amounts, count, 1);
  if (!index) {
    html.out_of_memory();
    return;
  }
  html.list_header2(key_label, "Requests", value_label);

  // The pie's slices by row label; without memory for them the pie is left out.
  bool chart = config.chart_on[CHT_TPS] != 0;
  siArr slices;
  int rows = 0;
  for (int32_t j = 0; j < taken; ++j) {
    int32_t e = index[j];
    int kilobytes = whole_number(amounts[e]);
    if (kilobytes < 1) continue;
    char label[kLabelSize];
    file_type_label(table, table.amounts.keys.strings[e], label);
    if (chart && slices.add(label, kilobytes) != 0) {
      chart = false;
      slices.clear();
    }
    if (rows > 0) html.spacer_row(5);
    html.ranked_row_values2(rows + 1, label, table.requests.data[e], kilobytes,
                            share_of(kilobytes, total));
    ++rows;
  }
  if (chart) html.spacer_row(5);
  html.table_close();
  std::free(index);

  if (chart) {
    int32_t* order = sort_index_by_value(slices.data, slices.count, 0);
    if (order) {
      html.graph_applet("pie", slices.count, slices.data, order, nullptr, slices.keys.strings,
                        nullptr);
      std::free(order);
    }
  }
  page_puts("</td></tr>\n");
  html.table_close();
  html.line_break();
}
