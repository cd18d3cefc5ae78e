#include "parser/line_accounting.h"

#include <cstring>

#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/text.h"
#include "core/visitors.h"
#include "parser/day_close.h"
#include "parser/log_parser.h"

namespace {

constexpr int kPageBuffer = 512;

bool used(const LogParser& parser, int letter) { return parser.letter_used[letter] && parser.values[letter]; }

// The referrer of a visitor new to the day, unless it is none or the site's own.
int count_referrer(LogParser& parser, char* referrer) {
  if (referrer[0] == '\0' || referrer[0] == '-' || std::strcmp(referrer, "bookmarks") == 0 ||
      std::strcmp(referrer, "[unknown origin]") == 0) {
    return 0;
  }
  // Scheme and host in lower case (not the very first character), up to the third "/".
  char* host = referrer;
  int slashes = 0;
  for (char* p = referrer; *p; ++p) {
    if (*p == '/') {
      ++slashes;
      if (slashes == 2) host = p + 1;
      if (slashes == 3) break;
    } else if (p != referrer && *p >= 'A' && *p <= 'Z') {
      *p = static_cast<char>(*p - 'A' + 'a');
    }
  }
  if (std::strncmp(host, "www.", 4) == 0) host += 4;
  if (config.domain_length > 0 && std::strncmp(host, config.own_domain, config.domain_length) == 0) return 0;
  return parser.url.add(referrer, 1);
}

}  // namespace

int count_line(LogParser& parser) {
  LineTime time;
  if (read_line_time(parser, &time) != 0) return 0;  // damaged lines are never counted
  // The parser's clock never goes back: a line stamped before the last counted one
  // (summer time ending, a clock set back, lines out of order across midnight) is
  // counted in the day in hand at the last one's time. So no day is closed twice and
  // no pause is negative.
  if (compare_times(time, parser.line_time) < 0) time = parser.line_time;
  parser.line_time = time;
  DayDate& day = parser.current_day;
  if (time.year != day.year || time.month != day.month || time.day != day.day) {
    int result = close_day(parser);
    if (result != 0) return result;
    day.year = time.year;
    day.month = time.month;
    day.day = time.day;
    parser.traffic.first_date = day;
    // The close advanced the saved time by a second; the new day's first line keeps
    // its own, as it has when a run resumes at it from the short state file.
    parser.line_time = time;
  }
  const int hour = time.hour;
  const int minute = time.minute;
  const int second = time.second;
  Traffic& traffic = parser.traffic;

  traffic.hits = add_count(traffic.hits, 1);
  if (used(parser, LETTER_BYTES) && parser.values[LETTER_BYTES][0] != '-') {
    traffic.bytes += text_to_int(parser.values[LETTER_BYTES]);
  }
  if (used(parser, LETTER_ADDRESS) && config.ignored_address_length > 0 &&
      std::strncmp(parser.values[LETTER_ADDRESS], config.ignored_address, config.ignored_address_length) == 0) {
    return 0;
  }
  bool error_status = false;
  if (used(parser, LETTER_STATUS)) {
    error_status = parser.values[LETTER_STATUS][0] == '4';
    if (parser.cds.add(parser.values[LETTER_STATUS], 1) != 0) return ERR_MEM;
  }
  if (error_status || !used(parser, LETTER_PAGE) || parser.values[LETTER_PAGE][0] != '/') return 0;

  char* path = parser.values[LETTER_PAGE];
  if (char* fragment = std::strchr(path, '#')) *fragment = '\0';
  if (!config.keep_parameters) {
    if (char* query = std::strchr(path, '?')) *query = '\0';
  }
  const char* page = path;
  char page_buffer[kPageBuffer];
  if (config.index_file[0] != '\0' && path[std::strlen(path) - 1] == '/') {
    format_into(page_buffer, sizeof page_buffer, "%s%s", path, config.index_file);  // cut, never overflowed
    page = page_buffer;
  }
  int32_t page_number = 0;
  bool is_page = false;
  if (parser.pgs.add_view(page, &page_number, &is_page) != 0) return ERR_MEM;

  const char* key = used(parser, LETTER_ADDRESS) ? parser.values[LETTER_ADDRESS]
                                                  : (used(parser, LETTER_HOST) ? parser.values[LETTER_HOST] : "");
  int32_t found_at = 0;
  bool found = parser.visitors->find(key, &found_at);
  int32_t visitor = found_at;
  if (!found) {
    if (parser.visitors->insert(key, found_at) != 0) return ERR_MEM;
    visitor = parser.visitors->count() - 1;
  }
  traffic.hourly_page_views[hour] = add_count(traffic.hourly_page_views[hour], 1);
  if (parser.paths.record_page_view(visitor, page_number, hour, minute, second) != 0) return ERR_MEM;
  if (found) return 0;

  traffic.hourly_visitors[hour] = add_count(traffic.hourly_visitors[hour], 1);
  if (used(parser, LETTER_AGENT)) {
    traffic.count_os(parser.values[LETTER_AGENT]);
    traffic.count_browser(parser.values[LETTER_AGENT]);
  }
  if (used(parser, LETTER_HOST) && parser.hst.add_host_domain(parser.values[LETTER_HOST]) != 0) return ERR_MEM;
  if (used(parser, LETTER_REFERRER)) return count_referrer(parser, parser.values[LETTER_REFERRER]);
  return 0;
}
