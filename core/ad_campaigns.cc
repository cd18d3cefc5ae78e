#include "core/ad_campaigns.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "core/atomic_file.h"
#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/text.h"
#include "core/top_list.h"

namespace {

const char kCampaignFile[] = "dat_acp.cfg";

// Adds the text to the list without its control bytes, so that a name or a
// pattern can never break the one-campaign-per-line file.
int add_clean(strArr& list, const char* text) {
  const char* p = text;
  while (*p && !is_control_byte(static_cast<unsigned char>(*p))) ++p;
  if (!*p) return list.add(text);
  std::size_t size = std::strlen(text) + 1;
  char* clean = static_cast<char*>(new_block(size));
  if (!clean) return ERR_MEM;
  copy_setting(clean, size, text);
  int status = list.add(clean);
  std::free(clean);
  return status;
}

}  // namespace

AdCampaigns::~AdCampaigns() { clear(); }

void AdCampaigns::clear() {
  for (int i = 0; i < count; ++i) delete campaigns[i];
  std::free(campaigns);
  campaigns = nullptr;
  count = 0;
}

void AdCampaigns::drop_last() {
  // The array keeps its spare slot; it is released by clear.
  delete campaigns[count - 1];
  campaigns[--count] = nullptr;
}

int AdCampaigns::add(const char* name) {
  std::unique_ptr<strArr> list(new (std::nothrow) strArr());
  if (!list || add_clean(*list, name) != 0) return ERR_MEM;
  strArr** grown =
      static_cast<strArr**>(grow_block(campaigns, sizeof(strArr*) * (static_cast<std::size_t>(count) + 1)));
  if (!grown) return ERR_MEM;
  campaigns = grown;
  campaigns[count++] = list.release();
  return 0;
}

int AdCampaigns::add_pattern(const char* pattern) {
  if (count == 0) return 0;
  return add_clean(*campaigns[count - 1], pattern);
}

int AdCampaigns::load() {
  return read_settings_file(kCampaignFile, '|', [this](char* name, char* cursor) {
    std::size_t name_length = std::strlen(name);
    bool had_bar = cursor != name + name_length;
    // The character before "|" is the blank the writer puts there; an empty
    // line has none to drop.
    if (name_length > 0) name[name_length - 1] = '\0';
    if (add(name) != 0) return ERR_MEM;
    if (!had_bar || !*cursor) return 0;
    ++cursor;  // the blank after "|"
    while (*cursor) {
      char* piece = cursor;
      next_int_token(' ', &cursor);
      if (add_pattern(piece) != 0) {
        drop_last();  // no half-read campaign stays
        return ERR_MEM;
      }
    }
    return 0;
  });
}

int AdCampaigns::save() {
  AtomicFile out;
  if (out.open(kCampaignFile, InPlace::locked) != 0) return ERR_FIL;
  FILE* f = out.file();
  for (int i = 0; i < count; ++i) {
    const strArr& list = *campaigns[i];
    put_setting_text(f, list.strings[0]);
    std::fputs(" |", f);
    for (int j = list.count - 1; j >= 1; --j) {
      std::fputc(' ', f);
      put_setting_text(f, list.strings[j]);
    }
    std::fputc('\n', f);
  }
  return out.commit() == 0 ? 0 : ERR_FIL;
}

int AdCampaigns::match(const char* text, int amount, int& total) {
  if (!text) return 0;
  for (int i = 0; i < count; ++i) {
    const strArr& list = *campaigns[i];
    for (int j = list.count - 1; j >= 1; --j) {
      if (std::strstr(text, list.strings[j])) {
        if (counters.add(list.strings[0], amount) != 0) return ERR_MEM;
        total = add_count(total, amount);
        return 0;
      }
    }
  }
  return 0;
}

void AdCampaigns::print(const char* title, const char* key_header, int total, const char* value_header,
                        int row_limit) {
  int counted = counters.count;
  if (counted == 0) return;
  std::size_t size = static_cast<std::size_t>(line_buffer_size());
  copy_bounded(line_buffer, size, title);
  int shown = counted;
  if (counted > row_limit) {
    append_format(line_buffer, size, " (top %i of %i)", row_limit, counted);
    shown = row_limit < 0 ? 0 : row_limit;
  }
  html.section_title(line_buffer, tag);

  int32_t* order = sort_index_by_value(counters.data, counted, 0);
  if (!order) {
    html.out_of_memory();
    return;
  }
  html.list_header(key_header, value_header);
  print_rows_with_pie(counters, order, shown, total, config.chart_on[CHT_ACP] != 0);
  std::free(order);
}
