#ifndef QM_CORE_SEARCH_ENGINES_H
#define QM_CORE_SEARCH_ENGINES_H

#include <cstddef>
#include <cstdint>

#include "core/containers.h"

class Url;

// The search engines of a report and the key phrases their visitors searched for,
// classified from the referring URLs with the engines of the definition file
// "dat_eng.cfg". One line per engine:
//
//   Display Name | host-pattern prefix prefix ...
//
// The display name runs to the first " | "; the host pattern is a text the
// referrer's host contains; each prefix is a text of the query that directly
// precedes the phrase ("q=", "&query="). Lines without " | " are ignored.
class Eng {
 public:
  int count = 0;                  // engines, numbered 0 to count - 1 in file order
  strArr** patterns = nullptr;    // by engine: string 0 the host pattern, 1 and up the prefixes
  icArr** phrase_maps = nullptr;  // by engine: phrase number -> visitors with that phrase
  siArr engines;                  // display name -> visitors; engine k is string number k
  siArr phrases;                  // key phrase (decoded, lower case) -> visitors of all engines

  Eng() = default;
  ~Eng() { clear(); }
  Eng(const Eng&) = delete;
  Eng& operator=(const Eng&) = delete;

  // Reads "dat_eng.cfg". A line whose display name repeats an earlier one is left
  // out (the first line holds), so every engine keeps a counter of its own. 0, -4
  // when the file cannot be opened, -8 when memory runs out (the engines of the
  // lines before stay, each complete).
  int load();
  // Releases the engines and the counts.
  void clear();
};

// Counts the referrers into engines and phrases, each key with its count, from the
// last key first. The first engine whose host pattern occurs in the referrer's host
// gets the count, which is also added to `search_total`; with a query, the first of
// its prefixes found at the start of a query parameter gives the phrase (up to the
// next '&'), decoded and lower-cased. An empty host pattern or prefix never
// matches. The referrers table is not changed. 0, or -8 when memory runs out (the
// key being counted then adds nothing).
int classify_search_referrers(Eng& table, const Url& referrers, int32_t& search_total);

// Decodes a phrase of a query in place: at most its first 255 characters are read,
// '+' becomes a blank and "%XX" the byte of its leading hexadecimal digits (a '%'
// followed by no digit, or a decoded 0 byte, ends the phrase). Never reads past
// the end of the text.
void decode_query_value(Eng& table, char* text);

// The "Search Engines" section: visitors by engine, largest first, with a pie chart
// when the chart switch ENG_A is on. Nothing when no engine has visitors.
void print_search_engines(const Eng& table, const char* title, const char* key_label, int total,
                          const char* value_label, int limit);
// The "Search Queries" section: visitors by key phrase over all engines.
void print_search_queries(const Eng& table, const char* title, const char* key_label, int total,
                          const char* value_label, int limit);
// The "Search Engine Queries" section: each engine (as many as the ENG row limit
// allows) with its own phrases under it, at most `limit` of them.
void print_engine_queries(const Eng& table, const char* title, const char* key_label, int total,
                          const char* value_label, int limit);

#endif
