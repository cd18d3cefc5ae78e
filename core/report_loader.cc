#include "core/report_loader.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "core/ad_campaigns.h"
#include "core/block_lines.h"
#include "core/bounded_format.h"
#include "core/config.h"
#include "core/domains.h"
#include "core/errors.h"
#include "core/file_types.h"
#include "core/pages.h"
#include "core/path_reports.h"
#include "core/paths.h"
#include "core/search_engines.h"
#include "core/tables.h"
#include "core/traffic.h"

namespace {

bool any_on(std::initializer_list<ReportKey> keys) {
  for (ReportKey key : keys) {
    if (config.report_on[key]) return true;
  }
  return false;
}

// Year, then month, then day.
int compare_days(const DayDate& a, const DayDate& b) {
  if (a.year != b.year) return a.year < b.year ? -1 : 1;
  if (a.month != b.month) return a.month < b.month ? -1 : 1;
  if (a.day != b.day) return a.day < b.day ? -1 : 1;
  return 0;
}

// Skips the lines after a section's head up to and including its empty line.
void skip_section(FILE* file) {
  while (read_line(file)) {
    if (line_buffer[0] == '\n') return;
  }
}

// Reads lines up to the next section head: an empty line between sections is no
// head and is passed over by itself, so a stray one cannot swallow the next
// section. The head is left in the line buffer with its line end cut.
bool read_section_head(FILE* file) {
  while (read_line(file)) {
    if (line_buffer[0] == '\n') continue;
    strip_line_end(line_buffer);
    return true;
  }
  return false;
}

// A head line whose first blank-separated word is exactly "DAT" gives its date.
bool record_date(char* line, DayDate* date) {
  char* cursor = split_at_space(line);
  if (std::strcmp(line, "DAT") != 0) return false;
  date->year = next_int_token(' ', &cursor);
  date->month = next_int_token(' ', &cursor);
  date->day = next_int_token(' ', &cursor);
  return true;
}

// Reads up to the next record's "DAT" line and gives its date; other sections (a
// damaged record without its date line) are skipped whole. False at the end.
bool next_record(FILE* file, DayDate* date) {
  while (read_section_head(file)) {
    if (record_date(line_buffer, date)) return true;
    skip_section(file);
  }
  return false;
}

// Reads the state file up to its "REC" line, skipping the sections before it.
bool find_state_record(FILE* file) {
  while (read_section_head(file)) {
    if (std::strcmp(line_buffer, "REC") == 0) return true;
    skip_section(file);
  }
  return false;
}

// value - amount, held at the ends of the 32-bit range.
int32_t subtract_count(int32_t value, int32_t amount) {
  int64_t result = static_cast<int64_t>(value) - amount;
  if (result > INT32_MAX) return INT32_MAX;
  if (result < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(result);
}

// The host of a referrer key in the line buffer: the text after the second '/' from
// the key's second character on, up to the next '/'; the key from its start when it
// has no second '/'. A leading "www." is left out.
const char* referrer_host(const char* key) {
  const char* start = key;
  const char* slash = key[0] ? std::strchr(key + 1, '/') : nullptr;
  if (slash) slash = std::strchr(slash + 1, '/');
  if (slash) start = slash + 1;
  copy_bounded(line_buffer, static_cast<std::size_t>(line_buffer_size()), start);
  if (char* end = std::strchr(line_buffer, '/')) *end = '\0';
  return std::strncmp(line_buffer, "www.", 4) == 0 ? line_buffer + 4 : line_buffer;
}

// The referrer-source totals of the traffic record from the referrers table, and
// the ad campaigns and referring domains of the web referrers. 0 or -8.
int count_referrer_sources(Traffic& traffic, Url& referrers, AdCampaigns* campaigns,
                           ReferringDomains* referring_domains) {
  int32_t* sources = traffic.referrer_sources;
  bool match_campaigns = campaigns && config.report_on[RPT_ACP];
  bool count_domains = referring_domains && config.report_on[RPT_REF];
  for (int32_t i = referrers.keys.count - 1; i >= 0; --i) {
    const char* key = referrers.keys.strings[i];
    int32_t count = referrers.data[i];
    sources[SRC_WEB_SITES] = add_count(sources[SRC_WEB_SITES], count);
    if (std::strncmp(key, "http", 4) != 0) {
      if (std::strncmp(key, "news://", 7) == 0) {
        sources[SRC_NEWSGROUPS] = add_count(sources[SRC_NEWSGROUPS], count);
      } else if (std::strncmp(key, "wtv-mail:/", 10) == 0) {
        sources[SRC_EMAIL] = add_count(sources[SRC_EMAIL], count);
      }
      continue;
    }
    const char* host = referrer_host(key);
    if (match_campaigns && campaigns->match(host, count, sources[SRC_AD_CAMPAIGNS]) != 0) return ERR_MEM;
    if (count_domains && referring_domains->add(host, count) != 0) return ERR_MEM;
    if (std::strstr(host, "mail")) sources[SRC_EMAIL] = add_count(sources[SRC_EMAIL], count);
  }
  return 0;
}

// Each source counts by its own rule, so the web-site total is what the others leave.
void finish_referrer_sources(Traffic& traffic) {
  int32_t* sources = traffic.referrer_sources;
  for (int source : {SRC_NEWSGROUPS, SRC_SEARCH_ENGINES, SRC_EMAIL, SRC_AD_CAMPAIGNS}) {
    sources[SRC_WEB_SITES] = subtract_count(sources[SRC_WEB_SITES], sources[source]);
  }
}

// Reads the traffic records of the frame into `traffic` and, when `load_tables` is
// set, each loaded day's tables. The file is positioned at the first record's rest
// (summary: after its "DAT" line; state file: after "REC"). 0 or an error.
template <typename LoadDay>
int load_records(FILE* file, Traffic& traffic, bool today_only, const DayDate& from, const DayDate& to,
                 LoadDay load_day) {
  for (;;) {
    if (traffic.read(file, false) != 0) return ERR_MEM;
    if (traffic.at_end) return 0;
    DayDate day = traffic.last_date;
    int status = load_day(day);
    if (status != 0) return status;
    if (today_only || compare_days(day, to) >= 0) return 0;
    // The next record of the frame; one dated after the end is left unread. Records
    // out of order before the start are passed over, so only days of the frame load.
    DayDate next;
    for (;;) {
      if (!next_record(file, &next)) return 0;
      if (compare_days(next, to) > 0) return 0;
      if (compare_days(next, from) >= 0) break;
      skip_section(file);
    }
    traffic.last_date = next;
  }
}

}  // namespace

int load_day_file(bool today, const DayDate& day, Hst* hosts, Pgs* pages, Paths* paths, Cds* codes,
                  Tps* types, Fls* files, Url* referrers) {
  char name[64];
  if (today) {
    copy_bounded(name, sizeof name, kStateFilePath);
  } else {
    day_file_name(name, sizeof name, day.year, day.month, day.day);
  }
  FILE* file = std::fopen(name, "r");
  if (!file) return 0;
  intArr line_map;  // page number of each line of the file's pages section
  while (read_section_head(file)) {
    const char* head = line_buffer;
    int status = 0;
    if (hosts && std::strcmp(head, "HST") == 0 && any_on({RPT_HST, RPT_DOM})) {
      status = hosts->read(file);
    } else if (pages && std::strcmp(head, "PGS") == 0 &&
               any_on({RPT_MRP, RPT_LRP, RPT_ENP, RPT_EXP, RPT_SVP, RPT_PTH, RPT_DEP})) {
      status = pages->read(file, line_map);
    } else if (paths && std::strcmp(head, "PTH") == 0 && any_on({RPT_PTH, RPT_ENP, RPT_EXP, RPT_SVP, RPT_DEP})) {
      status = paths->read_paths(file, line_map);
    } else if (codes && std::strcmp(head, "CDS") == 0 && any_on({RPT_CDS})) {
      status = codes->read(file);
    } else if (types && std::strcmp(head, "TPS") == 0 && any_on({RPT_TPS})) {
      status = types->read(file, false);
    } else if (files && std::strcmp(head, "FLS") == 0 && any_on({RPT_MRF, RPT_LRF})) {
      status = files->read(file);
    } else if (referrers && std::strcmp(head, "URL") == 0 &&
               any_on({RPT_URL, RPT_REF, RPT_SQR, RPT_ACP, RPT_ENG, RPT_SEQ})) {
      status = referrers->read(file);
    } else {
      skip_section(file);
    }
    if (status != 0) return close_return(file, ERR_MEM);
  }
  return close_return(file, 0);
}

int load_range(Traffic& traffic, const DayDate& from, const DayDate& to, Dom* countries, Hst* hosts,
               Pgs* pages, Paths* paths, Cds* codes, Tps* types, Fls* files, AdCampaigns* campaigns,
               Eng* engines, ReferringDomains* referring_domains, Url* referrers) {
  bool tables = countries || hosts || pages || paths || codes || types || files || campaigns || engines ||
                referring_domains || referrers;
  bool today_only = compare_days(from, to) == 0 && from.year == today.year && from.month == today.month &&
                    from.day == today.day;
  FILE* file = std::fopen(today_only ? kStateFilePath : kSummaryFilePath, "r");
  if (!file) return ERR_EDB;

  bool found;
  if (today_only) {
    found = find_state_record(file);
  } else {
    // The first record dated on or after the start; every date read is kept.
    DayDate date;
    while ((found = next_record(file, &date))) {
      traffic.first_date = date;
      traffic.last_date = date;
      if (compare_days(date, from) >= 0) break;
      skip_section(file);
    }
    if (found && compare_days(date, to) > 0) found = false;
  }
  if (found) {
    int status = load_records(file, traffic, today_only, from, to, [&](const DayDate& day) {
      if (!tables) return 0;
      return load_day_file(today_only, day, hosts, pages, paths, codes, types, files, referrers);
    });
    if (status != 0) return close_return(file, status);
  }
  std::fclose(file);
  if (!tables) return 0;

  if (referrers) {
    if (count_referrer_sources(traffic, *referrers, campaigns, referring_domains) != 0) return ERR_MEM;
    if (engines && any_on({RPT_SQR, RPT_ENG, RPT_SEQ}) &&
        classify_search_referrers(*engines, *referrers, traffic.referrer_sources[SRC_SEARCH_ENGINES]) != 0) {
      return ERR_MEM;
    }
    if (!config.report_on[RPT_URL]) referrers->clear();
  }
  finish_referrer_sources(traffic);

  if (countries && hosts && config.report_on[RPT_DOM]) {
    if (count_top_level_domains(*countries, *hosts) != 0) return ERR_MEM;
    if (!config.report_on[RPT_HST]) hosts->clear();
  }
  if (paths && config.report_on[RPT_DEP] && depth_count(paths->depth, &paths->root, -1) != 0) return ERR_MEM;
  if (paths && any_on({RPT_PTH, RPT_ENP, RPT_EXP, RPT_SVP}) && collect_paths(*paths) != 0) return ERR_MEM;
  return 0;
}
