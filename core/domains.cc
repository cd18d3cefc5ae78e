#include "core/domains.h"

#include <cstring>

#include "core/block_lines.h"
#include "core/bounded_format.h"
#include "core/errors.h"
#include "core/escape.h"
#include "core/html_writer.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/top_list.h"

namespace {

bool begins_with(const char* text, const char* start) {
  return std::strncmp(text, start, std::strlen(start)) == 0;
}

// Second-level labels under which a short country code registers domains.
bool is_registry_label(const char* label) {
  return begins_with(label, "com") || begins_with(label, "net") || begins_with(label, "org") ||
         begins_with(label, "edu") || begins_with(label, "gov") || begins_with(label, "co");
}

}  // namespace

const char* registered_domain(const char* host) {
  std::size_t n = std::strlen(host);
  if (n == 0 || static_cast<signed char>(host[n - 1]) <= '@') return nullptr;
  // The last three dots, from the right.
  const char* dots[3] = {nullptr, nullptr, nullptr};
  int found = 0;
  for (std::size_t i = n; i > 0 && found < 3; --i) {
    if (host[i - 1] == '.') dots[found++] = host + i - 1;
  }
  if (found == 0) return host;
  const char* end = host + n;
  const char* second = found >= 2 ? dots[1] + 1 : host;
  bool three_labels = end - (dots[0] + 1) == 2 && end - second <= 6 && is_registry_label(second);
  if (three_labels) return found == 3 ? dots[2] + 1 : host;
  return found >= 2 ? dots[1] + 1 : host;
}

int Hst::add_host_domain(const char* host) {
  const char* domain = registered_domain(host);
  return domain ? add(domain, 1) : 0;
}

int Dom::load_country_names() {
  return read_definition_lines("dat_dom.cfg", [this](const char* code, const char* name) {
    int32_t position;
    if (codes.find(code, &position)) return 0;  // a repeated code keeps its first name
    int32_t name_number;
    if (add_numbered(names, name, &name_number) != 0) return ERR_MEM;
    if (codes.insert_at(code, position) != 0) return ERR_MEM;
    if (code_names.insert_at(name_number, code_names.count) != 0) {
      codes.remove_last(position);
      return ERR_MEM;
    }
    return 0;
  });
}

const char* Dom::country_name(const char* code) const {
  int32_t number;
  if (!codes.find(code, &number) || number >= code_names.count) return nullptr;
  return names.strings[code_names.data[number]];
}

int count_top_level_domains(Dom& countries, const Hst& hosts) {
  for (int32_t i = hosts.keys.count - 1; i >= 0; --i) {
    const char* domain = hosts.keys.strings[i];
    const char* dot = std::strrchr(domain, '.');
    if (countries.counts.add(dot ? dot + 1 : domain, hosts.data[i]) != 0) return ERR_MEM;
  }
  return 0;
}

void print_countries(const Dom& countries, const char* title, const char* key_label, int total,
                     const char* value_label, int limit) {
  std::size_t size = static_cast<std::size_t>(line_buffer_size());
  bool written = print_ranked(countries.counts, countries.tag, title, key_label, value_label, limit, false,
               [&countries, total, size](int32_t i, int32_t position) {
                 // ".uk&nbsp; United Kingdom": the blank keeps two-letter codes in line.
                 const char* code = countries.counts.keys.strings[position];
                 copy_bounded(line_buffer, size, ".");
                 append_html_escaped(line_buffer, size, code);
                 if (std::strlen(code) <= 2) append_format(line_buffer, size, "&nbsp;");
                 if (const char* name = countries.country_name(code)) {
                   append_format(line_buffer, size, " ");
                   append_html_escaped(line_buffer, size, name);
                 }
                 if (i > 0) html.spacer_row(4);
                 int visitors = countries.counts.data[position];
                 html.ranked_row(i + 1, line_buffer, visitors, share_of(visitors, total));
               });
  if (written) html.line_break();
}
