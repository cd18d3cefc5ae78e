#include "core/tables.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/block_lines.h"
#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/escape.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/text.h"
#include "core/top_list.h"

void Data::set_name(const char* text) { copy_bounded(tag, sizeof tag, text); }

int Data::read(FILE* file) {
  return read_block_lines(file, [this](int count, const char* key) { return add(key, count); });
}

void Data::write(FILE* file) const {
  if (keys.count == 0) return;
  std::fprintf(file, "%s\n", tag);
  for (int32_t i = 0; i < keys.count; ++i) std::fprintf(file, "%i %s\n", data[i], keys.strings[i]);
  std::fputs("\n", file);
}

int Cds::load(const char* path) {
  return read_definition_lines(path, [this](const char* code, const char* description) {
    int32_t number;
    if (add_numbered(descriptions, description, &number) != 0) return ERR_MEM;
    // A code listed again takes its last description.
    int32_t known;
    if (codes.keys.find(code, &known)) {
      codes.data[known] = number;
      return 0;
    }
    return codes.add(code, number);
  });
}

// ---- report lists ----

namespace {

constexpr const char kGreen[] = "style=color:rgb(0,160,0) ";
constexpr const char kMagenta[] = "style=color:rgb(255,0,255) ";
constexpr const char kRed[] = "style=color:rgb(255,0,0) ";

bool starts_with(const char* text, const char* start) { return std::strncmp(text, start, std::strlen(start)) == 0; }

// The visible part of a link text: at most 80 characters, then "...".
std::string cut_text(const char* text, std::size_t length) {
  if (length > 80) return html_escape(std::string(text, 80).c_str()) + "...";
  return html_escape(std::string(text, length).c_str());
}

// Whether a link with this target and visible text fits the line buffer; room for
// the template's own text is included. A label that does not fit (a huge escaped
// target) is written as its visible text alone.
bool link_fits(const std::string& target, const std::string& text) {
  return target.size() + text.size() + 128 < static_cast<std::size_t>(line_buffer_size());
}

// Style of a referrer link by its kind; null for a key that is not linked.
const char* referrer_style(const char* key) {
  const char* style;
  if (starts_with(key, "news://")) {
    style = kGreen;
  } else if (const char* mail = std::strstr(key, "mail")) {
    // E-mail when "mail" stands in the host part: before the first "/" after "//".
    const char* slashes = std::strstr(key, "//");
    const char* path = slashes ? std::strchr(slashes + 2, '/') : nullptr;
    style = (!path || mail < path) ? kMagenta : "";
  } else if (std::strchr(key, '?')) {
    style = kRed;
  } else if (starts_with(key, "http")) {
    style = "";
  } else {
    return nullptr;
  }
  // Only web and news addresses become links: anything else (a script address, say)
  // is shown as plain text.
  if (!starts_with(key, "http://") && !starts_with(key, "https://") && !starts_with(key, "news://")) return nullptr;
  return style;
}

}  // namespace

void Data::print_top(const char* title, const char* key_label, int total, const char* value_label, int limit) {
  print_ranked(*this, tag, title, key_label, value_label, limit, false,
               [this, total](int32_t i, int32_t position) { print_row(i, position, total); });
}

void Data::print_bottom(const char* title, const char* key_label, int total, const char* value_label, int limit) {
  print_ranked(*this, tag, title, key_label, value_label, limit, true,
               [this, total](int32_t i, int32_t position) { print_row(i, position, total); });
}

void Data::print_row(int i, int32_t position, int total) { print_key_row(*this, i, position, total); }

void Url::print_row(int i, int32_t position, int total) {
  const char* key = keys.strings[position];
  const char* visible = starts_with(key, "http://") ? key + 7 : key;
  const char* query = std::strchr(visible, '?');
  std::string text = cut_text(visible, query ? static_cast<std::size_t>(query - visible) : std::strlen(visible));
  const char* style = referrer_style(key);
  std::string target = attr_escape(key);
  std::size_t size = static_cast<std::size_t>(line_buffer_size());
  // Links to addresses from the hit log open with no hold on the report's window
  // (window.opener) and send it no referrer.
  if (style && link_fits(target, text)) {
    format_into(line_buffer, size, "<a %starget=u%i rel=\"noopener noreferrer\" href=\"%s\">%s</a>", style, i,
                target.c_str(), text.c_str());
  } else {
    copy_bounded(line_buffer, size, text.c_str());
  }
  if (i != 0) html.spacer_row(4);
  html.ranked_row(i + 1, line_buffer, data[position], share_of(data[position], total));
}

void Url::print_list(const char* title, const char* key_label, int total, const char* value_label, int limit) {
  if (keys.count == 0) return;
  print_top(title, key_label, total, value_label, limit);
  html.link_legend();
}

void domain_print_list(ReferringDomains& table, const char* title, const char* key_label, int total,
                       const char* value_label, int limit) {
  print_ranked(table, table.tag, title, key_label, value_label, limit, false,
               [&table, total](int32_t i, int32_t position) { domain_print_row(table, i, position, total); });
}

void domain_print_row(ReferringDomains& table, int i, int32_t position, int total) {
  const char* key = table.keys.strings[position];
  const char* dot = std::strchr(key, '.');
  const char* prefix = (dot && !std::strchr(dot + 1, '.')) ? "www." : "";
  std::string target = attr_escape(key);
  std::string text = cut_text(key, std::strlen(key));
  std::size_t size = static_cast<std::size_t>(line_buffer_size());
  if (link_fits(target, text)) {
    format_into(line_buffer, size, "<a target=r%i rel=\"noopener noreferrer\" href=\"http://%s%s\">%s%s</a>", i, prefix,
                target.c_str(), prefix, text.c_str());
  } else {
    format_into(line_buffer, size, "%s%s", prefix, text.c_str());
  }
  if (i != 0) html.spacer_row(4);
  html.ranked_row(i + 1, line_buffer, table.data[position], share_of(table.data[position], total));
}

void print_status_codes(Cds& table, const char* title, const char* key_label, int total, const char* value_label,
                        int limit) {
  int32_t count = table.keys.count;
  if (count == 0) return;
  int32_t rows = list_title(title, count, limit);
  html.section_title(line_buffer, table.tag);
  int32_t* ranking = sort_index_by_value(table.data, count, 0);
  if (!ranking) {
    html.out_of_memory();
    return;
  }
  const char** labels = nullptr;
  if (config.chart_on[CHT_CDS]) {
    // Without room for the labels the section is printed without its chart.
    labels = static_cast<const char**>(new_block(sizeof(const char*) * static_cast<std::size_t>(count)));
    if (labels) {
      for (int32_t p = 0; p < count; ++p) labels[p] = "";
    }
  }
  html.list_header(key_label, value_label);
  // The chart labels are kept one after another in the line buffer; the title is done.
  std::size_t size = static_cast<std::size_t>(line_buffer_size());
  std::size_t used = 0;
  for (int32_t r = 0; r < rows; ++r) {
    int32_t position = ranking[r];
    const char* code = table.keys.strings[position];
    char text[140];
    int32_t number;
    if (table.codes.keys.find(code, &number) && table.codes.data[number] >= 0 &&
        table.codes.data[number] < table.descriptions.count) {
      format_into(text, sizeof text, "%s %s", code, table.descriptions.strings[table.codes.data[number]]);
    } else {
      format_into(text, sizeof text, "%s Undefined", code);
    }
    if (labels) {
      std::size_t length = std::strlen(text) + 1;
      if (used + length <= size) {
        std::memcpy(line_buffer + used, text, length);
        labels[position] = line_buffer + used;
        used += length;
      }
    }
    if (r != 0) html.spacer_row(4);
    html.ranked_row(r + 1, html_escape(text).c_str(), table.data[position], share_of(table.data[position], total));
  }
  if (labels) html.spacer_row(4);
  html.table_close();
  if (labels) html.graph_applet("pie", rows, table.data, ranking, nullptr, labels, nullptr);
  page_puts("</td></tr>\n");
  html.table_close();
  html.line_break();
  std::free(ranking);
  std::free(labels);
}
