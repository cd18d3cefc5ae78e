#include "core/pages.h"

#include <cstring>

#include "core/block_lines.h"
#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/paths.h"
#include "core/text.h"
#include "core/top_list.h"

namespace {

void shrink_to(intArr& array, int32_t n) {
  while (array.count > n) array.remove_at(array.count - 1);
}

}  // namespace

int Pgs::add_page(const char* path, int32_t amount, int32_t* page, bool* is_new) {
  // A known page's string number is its page number.
  int32_t position;
  *is_new = !views.keys.find(path, &position);
  if (!*is_new) {
    views.data[position] = add_count(views.data[position], amount);
    *page = position;
    return 0;
  }
  int32_t seconds_before = seconds.count;
  int32_t timed_before = timed.count;
  // The new page's number will be the current page count.
  if (grow_with_zeros(seconds, views.count + 1) != 0) return ERR_MEM;
  if (grow_with_zeros(timed, views.count + 1) != 0) {
    shrink_to(seconds, seconds_before);
    return ERR_MEM;
  }
  if (views.add_index(path, amount, page) != 0) {
    shrink_to(seconds, seconds_before);
    shrink_to(timed, timed_before);
    return ERR_MEM;
  }
  seconds.data[*page] = 0;
  timed.data[*page] = 0;
  return 0;
}

int Pgs::load_extensions() {
  char text[sizeof(config.page_extensions)];
  copy_bounded(text, sizeof text, config.page_extensions);
  if (!text[0]) return 0;
  char* piece = text;
  for (char* blank; (blank = std::strchr(piece, ' ')) != nullptr; piece = blank + 1) {
    *blank = '\0';
    if (extensions.add(piece) != 0) return ERR_MEM;
  }
  if (*piece && extensions.add(piece) != 0) return ERR_MEM;
  return 0;
}

int Pgs::add_view(const char* path, int32_t* page, bool* is_page) {
  bool is_new;
  int status = add_page(path, 1, page, &is_new);
  if (status != 0) return status;
  *is_page = true;
  return 0;
}

int Pgs::read(FILE* file, intArr& line_map) {
  return read_block_lines(file, [this, &line_map](int32_t average, char* rest) {
    char* path = split_at_space(rest);
    int32_t page;
    bool is_new;
    if (add_page(path, text_to_int(rest), &page, &is_new) != 0) return ERR_MEM;
    if (line_map.insert_at(page, line_map.count) != 0) return ERR_MEM;
    if (is_new) {
      seconds.data[page] = average;
      timed.data[page] = average != 0 ? 1 : 0;
    } else if (average != 0) {
      seconds.data[page] = add_count(seconds.data[page], average);
      timed.data[page] = add_count(timed.data[page], 1);
    }
    return 0;
  });
}

void Pgs::write(FILE* file) const {
  if (views.count == 0) return;
  std::fprintf(file, "%s\n", tag);
  for (int32_t page = 0; page < views.count; ++page) {
    std::fprintf(file, "%i %i %s\n", page < seconds.count ? seconds.data[page] : 0, views.data[page],
                 views.keys.strings[page]);
  }
  std::fputs("\n", file);
}

void Pgs::clear() {
  views.clear();
  seconds.clear();
  timed.clear();
}

int32_t Pgs::average_seconds(int32_t page) const {
  if (page < 0 || page >= seconds.count || page >= timed.count || timed.data[page] <= 0) return 0;
  return seconds.data[page] / timed.data[page];
}

int compute_page_times(Pgs& pages, PageStats& stats) {
  if (stats.finish_times() != 0) return ERR_MEM;
  int32_t n = pages.views.count;
  int32_t seconds_before = pages.seconds.count;
  if (grow_with_zeros(pages.seconds, n) != 0) return ERR_MEM;
  if (grow_with_zeros(pages.timed, n) != 0) {
    shrink_to(pages.seconds, seconds_before);
    return ERR_MEM;
  }
  for (int32_t page = 0; page < n; ++page) {
    int32_t position;
    int32_t average = 0;
    if (stats.time_keys.find(page, &position) && stats.timed_views.data[position] >= 1) {
      average = stats.time_seconds.data[position] / stats.timed_views.data[position];
    }
    pages.seconds.data[page] = average;
  }
  return 0;
}

namespace {

void print_pages(const Pgs& pages, const char* title, const char* key_label, int total, const char* value_label,
                 int limit, bool least) {
  print_ranked(
      pages.views, pages.tag, title, key_label, value_label, limit, least,
      [&pages, total](int32_t i, int32_t page) {
        if (i != 0) html.spacer_row(5);
        int32_t views = pages.views.data[page];
        html.ranked_row2(i + 1, pages.views.keys.strings[page], format_duration(pages.average_seconds(page)), views,
                         share_of(views, total));
      },
      "Time");
}

}  // namespace

void print_most_requested_pages(const Pgs& pages, const char* title, const char* key_label, int total,
                                const char* value_label, int limit) {
  print_pages(pages, title, key_label, total, value_label, limit, false);
}

void print_least_requested_pages(const Pgs& pages, const char* title, const char* key_label, int total,
                                 const char* value_label, int limit) {
  print_pages(pages, title, key_label, total, value_label, limit, true);
}
