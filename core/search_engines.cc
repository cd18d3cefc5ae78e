#include "core/search_engines.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "core/block_lines.h"
#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/top_list.h"

namespace {

// The most characters of a phrase that are read and kept.
constexpr std::size_t kPhraseLength = 255;

// A container made through the allocation hook, so that a failure shows as -8.
template <typename T>
T* make_part() {
  void* block = new_block(sizeof(T));
  return block ? new (block) T() : nullptr;
}

template <typename T>
void drop_part(T* part) {
  if (!part) return;
  part->~T();
  std::free(part);
}

// Grows an array of pointers by one element; false when memory runs out (the
// array is then as it was).
template <typename T>
bool grow_by_one(T**& array, int count) {
  void* block = grow_block(array, sizeof(T*) * (static_cast<std::size_t>(count) + 1));
  if (!block) return false;
  array = static_cast<T**>(block);
  return true;
}

// Adds the blank-separated words of the text to the set, in order. Consecutive
// blanks give an empty word; an empty text gives none. 0, or -8.
int add_words(strArr& set, char* text) {
  if (*text == '\0') return 0;
  for (char* word = text;;) {
    char* blank = std::strchr(word, ' ');
    if (blank) *blank = '\0';
    if (set.add(word) != 0) return ERR_MEM;
    if (!blank) return 0;
    word = blank + 1;
  }
}

}  // namespace

int Eng::load() {
  return read_definition_file("dat_eng.cfg", [this](char* line) {
    char* separator = std::strstr(line, " | ");
    if (!separator) return 0;
    *separator = '\0';
    const char* name = line;
    int32_t found;
    // A repeated name would leave this and every later engine without its counter.
    if (engines.keys.find(name, &found)) return 0;

    // The line's parts are made first and joined only when all of them are there.
    strArr* words = make_part<strArr>();
    icArr* map = make_part<icArr>();
    bool made = words && map && add_words(*words, separator + 3) == 0 &&
                grow_by_one(patterns, count) && grow_by_one(phrase_maps, count) &&
                engines.add(name, 0) == 0;
    if (!made) {
      drop_part(words);
      drop_part(map);
      return ERR_MEM;
    }
    patterns[count] = words;
    phrase_maps[count] = map;
    ++count;
    return 0;
  });
}

void Eng::clear() {
  for (int k = 0; k < count; ++k) {
    drop_part(patterns[k]);
    drop_part(phrase_maps[k]);
  }
  std::free(patterns);
  std::free(phrase_maps);
  patterns = nullptr;
  phrase_maps = nullptr;
  count = 0;
  engines.clear();
  phrases.clear();
}

void decode_query_value(Eng& /*table*/, char* text) {
  std::size_t length = strnlen(text, kPhraseLength);
  std::size_t out = 0;  // never ahead of the reading position
  for (std::size_t in = 0; in < length;) {
    char ch = text[in++];
    if (ch == '+') {
      text[out++] = ' ';
    } else if (ch == '%') {
      // The pair's leading hexadecimal digits; both characters are consumed, but
      // only those the text has.
      std::size_t pair_end = in + 2 < length ? in + 2 : length;
      int value = 0;
      for (std::size_t i = in; i < pair_end; ++i) {
        char c = text[i];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) break;
        value = value * 16 + digit;
      }
      in = pair_end;
      if (value == 0) break;  // a 0 byte ends the phrase
      text[out++] = static_cast<char>(value);
    } else {
      text[out++] = ch;
    }
  }
  text[out] = '\0';
}

namespace {

// The host of a referrer: after the first "//" up to the next '/', or the whole
// address when it has no "//".
std::string_view host_of(std::string_view address) {
  std::size_t slashes = address.find("//");
  if (slashes == std::string_view::npos) return address;
  std::string_view host = address.substr(slashes + 2);
  return host.substr(0, host.find('/'));
}

// The engine whose host pattern the host contains first, or -1.
int matching_engine(const Eng& table, std::string_view host) {
  for (int k = 0; k < table.count; ++k) {
    const strArr& words = *table.patterns[k];
    if (words.count == 0 || words.strings[0][0] == '\0') continue;
    if (host.find(words.strings[0]) != std::string_view::npos) return k;
  }
  return -1;
}

// Where the prefix occurs at the start of a query parameter (after '?' or '&'; a
// prefix that begins with one of them carries its own start), or npos.
std::size_t parameter_start(std::string_view query, std::string_view prefix) {
  bool anchored = prefix[0] == '?' || prefix[0] == '&';
  for (std::size_t at = query.find(prefix); at != std::string_view::npos; at = query.find(prefix, at + 1)) {
    if (anchored || (at > 0 && (query[at - 1] == '?' || query[at - 1] == '&'))) return at;
  }
  return std::string_view::npos;
}

// Copies the phrase that the engine's first found prefix gives into `phrase`
// (kPhraseLength + 1 bytes); false when none of its prefixes is in the query.
bool find_phrase(const strArr& words, std::string_view query, char* phrase) {
  for (int32_t j = 1; j < words.count; ++j) {
    std::string_view prefix = words.strings[j];
    if (prefix.empty()) continue;
    std::size_t at = parameter_start(query, prefix);
    if (at == std::string_view::npos) continue;
    std::string_view value = query.substr(at + prefix.size());
    value = value.substr(0, value.find('&'));
    std::size_t length = value.size() < kPhraseLength ? value.size() : kPhraseLength;
    std::memcpy(phrase, value.data(), length);
    phrase[length] = '\0';
    return true;
  }
  return false;
}

// Adds c under the phrase and under it in the engine's map, both or neither. 0, or -8.
int count_phrase(Eng& table, int engine, const char* phrase, int32_t c) {
  icArr& map = *table.phrase_maps[engine];
  siArr& phrases = table.phrases;
  int32_t number;
  if (phrases.keys.find(phrase, &number)) {
    if (map.add(number, c) != 0) return ERR_MEM;
    phrases.data[number] = add_count(phrases.data[number], c);
    return 0;
  }
  int32_t position = number;  // where the new phrase goes in the sorted order
  if (phrases.add_index(phrase, c, &number) != 0) return ERR_MEM;
  if (map.add(number, c) != 0) {
    phrases.keys.remove_last(position);
    phrases.intArr::remove_at(phrases.count - 1);
    return ERR_MEM;
  }
  return 0;
}

int classify_referrer(Eng& table, const char* key, int32_t c, int32_t& search_total) {
  std::string_view address = key;
  std::string_view query;
  std::size_t question = address.find('?');
  if (question != std::string_view::npos) {
    query = address.substr(question);
    address = address.substr(0, question);
  }
  int engine = matching_engine(table, host_of(address));
  if (engine < 0) return 0;

  char phrase[kPhraseLength + 1];
  if (!query.empty() && find_phrase(*table.patterns[engine], query, phrase)) {
    decode_query_value(table, phrase);
    if (phrase[0] != '\0' && count_phrase(table, engine, lower_case(phrase), c) != 0) return ERR_MEM;
  }
  table.engines.data[engine] = add_count(table.engines.data[engine], c);
  search_total = add_count(search_total, c);
  return 0;
}

}  // namespace

int classify_search_referrers(Eng& table, const Url& referrers, int32_t& search_total) {
  for (int32_t i = referrers.keys.count - 1; i >= 0; --i) {
    if (classify_referrer(table, referrers.keys.strings[i], referrers.data[i], search_total) != 0) {
      return ERR_MEM;
    }
  }
  return 0;
}

namespace {

// Engines with visitors.
int32_t engines_with_visitors(const Eng& table) {
  int32_t n = 0;
  for (int32_t k = 0; k < table.engines.count; ++k) {
    if (table.engines.data[k] != 0) ++n;
  }
  return n;
}

// The head of an engine list: title bar (the title with " (top n of m)" when the
// engines with visitors are more than the limit), ranking and header row. Gives the
// ranking and the number of rows; null when nothing is to be written or, after the
// out-of-memory box, without a ranking.
int32_t* open_engine_list(const Eng& table, const char* title, const char* tag, const char* key_label, int limit,
                          int32_t* rows) {
  int32_t n = engines_with_visitors(table);
  if (n == 0) return nullptr;
  *rows = list_title(title, n, limit);
  html.section_title(line_buffer, tag);
  int32_t* ranking = sort_index_by_value(table.engines.data, table.engines.count, 0);
  if (!ranking) {
    html.out_of_memory();
    return nullptr;
  }
  html.list_header(key_label, "Visitors");
  return ranking;
}

}  // namespace

void print_search_engines(const Eng& table, const char* title, const char* key_label, int total,
                          const char* /*value_label*/, int limit) {
  int32_t rows = 0;
  int32_t* ranking = open_engine_list(table, title, "ENG", key_label, limit, &rows);
  if (!ranking) return;
  print_rows_with_pie(table.engines, ranking, rows, total, config.chart_on[CHT_ENG] != 0);
  std::free(ranking);
}

void print_search_queries(const Eng& table, const char* title, const char* key_label, int total,
                          const char* value_label, int limit) {
  const siArr& phrases = table.phrases;
  bool written = print_ranked(phrases, "SQR", title, key_label, value_label, limit, false,
                              [&phrases, total](int32_t i, int32_t position) {
                                print_key_row(phrases, i, position, total);
                              });
  if (written) html.line_break();
}

void print_engine_queries(const Eng& table, const char* title, const char* key_label, int total,
                          const char* /*value_label*/, int limit) {
  // As many engines as the "Search Engines" list shows.
  int32_t rows = 0;
  int32_t* ranking = open_engine_list(table, title, "SEQ", key_label, config.row_limits[RPT_ENG], &rows);
  if (!ranking) return;
  const siArr& engines = table.engines;
  std::size_t size = static_cast<std::size_t>(line_buffer_size());
  for (int32_t r = 0; r < rows; ++r) {
    int32_t k = ranking[r];
    const icArr& map = *table.phrase_maps[k];
    int32_t listed = map.keys.count;
    copy_bounded(line_buffer, size, engines.keys.strings[k]);
    if (limit < listed) {
      append_format(line_buffer, size, " (top %i of %i)", limit, listed);
      listed = limit;
    }
    if (r != 0) html.spacer_row(4);
    html.ranked_row_highlight(r + 1, line_buffer, engines.data[k], share_of(engines.data[k], total));
    if (map.keys.count == 0) continue;
    int32_t* order = sort_index_by_value(map.values.data, map.values.count, 0);
    if (!order) {
      // The list is closed first so that the box stands on its own.
      html.list_close();
      html.out_of_memory();
      std::free(ranking);
      return;
    }
    for (int32_t j = 0; j < listed; ++j) {
      int32_t entry = order[j];
      int32_t number = map.keys.data[entry];
      const char* phrase = number >= 0 && number < table.phrases.keys.count ? table.phrases.keys.strings[number] : "";
      html.spacer_row(4);
      html.indent_row(phrase, map.values.data[entry], share_of(map.values.data[entry], total));
    }
    std::free(order);
  }
  html.list_close();
  html.line_break();
  std::free(ranking);
}
