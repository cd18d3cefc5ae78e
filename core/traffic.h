#ifndef QM_CORE_TRAFFIC_H
#define QM_CORE_TRAFFIC_H

#include <cstdint>
#include <cstdio>

#include "core/containers.h"
#include "core/text.h"

// Sizes of the counter arrays. The operating-system indices and browser kinds are
// stored in the statistics files, so their numbering never changes.
constexpr int kHours = 24;
constexpr int kOsCount = 28;           // operating-system index 0 (unknown) to 27
constexpr int kVersionCount = 10;      // major version v at index v - 1
constexpr int kOtherBrowserCount = 8;  // OtherBrowser
constexpr int kReferrerSourceCount = 5;

enum OsIndex { OS_UNKNOWN = 0, OS_WINDOWS_XP = 27 };

enum OtherBrowser {
  BRW_UNKNOWN,
  BRW_OPERA,
  BRW_LYNX,
  BRW_JAVA,
  BRW_OMNIWEB,
  BRW_NETPOSITIVE,
  BRW_COMPATIBLE,  // Netscape compatible
  BRW_WEBTV,
};

enum ReferrerSource { SRC_WEB_SITES, SRC_SEARCH_ENGINES, SRC_NEWSGROUPS, SRC_EMAIL, SRC_AD_CAMPAIGNS };

// The totals of one day (parser) or of a range of days (report program). Its file
// form is a block of tagged number lines ("DAT", "TRF", "HRV", "HRP", "OPS", "BRW")
// ended by an empty line.
struct Traffic {
  bool at_end = false;      // the file ended inside a block; kept by reset
  DailySeries daily;        // one entry per block read to its end
  double bytes;             // parser: bytes of the day; report: kilobytes read
  DayDate first_date;       // parser: the day being counted; after reading: the first block's date
  DayDate last_date;        // after reading: the last block's date
  int32_t visitors;         // sum of the "HRV" values read; never written
  int32_t page_views;       // sum of the "HRP" values read; never written
  int32_t hits;
  int32_t average_visit_seconds;  // after reading several blocks: the sum of their averages
  int32_t referrer_sources[kReferrerSourceCount];  // ReferrerSource; never written
  int32_t hourly_visitors[kHours];                 // new visitors by hour of their first hit
  int32_t hourly_page_views[kHours];
  int32_t os[kOsCount];
  int32_t aol[kVersionCount];
  int32_t msie[kVersionCount];
  int32_t netscape[kVersionCount];
  int32_t other_browsers[kOtherBrowserCount];

  Traffic();
  Traffic(const Traffic&) = delete;
  Traffic& operator=(const Traffic&) = delete;

  // Empties the daily series and zeroes every total and counter; at_end stays.
  void reset();
  // One block; nothing at all when hits is 0. Kilobytes are the bytes / 1024, truncated.
  void write(FILE* file) const;
  // Reads one block body from the file's position and adds it in; 0, or -8 when the
  // daily series cannot grow. `state_file` is set for the parser's own state: the
  // kilobytes turn back into bytes and the "OPS" and "BRW" lines are always read (the
  // report switches only decide what the report program reads).
  int read(FILE* file, bool state_file);

  // One count for the visitor's operating system; the text is not changed.
  void count_os(const char* agent);
  // One count for the visitor's browser; the text may be cut in place, so count_os
  // must see it first.
  void count_browser(char* agent);
};

// " %i.%i" (index, value) for each of the n counters above 0.
void write_pairs(FILE* file, const int32_t* counters, int n);
// Adds "index.count" pairs separated by blanks into counters; a pair whose index is
// outside 0..n-1 is skipped.
void read_pairs(char** cursor, int32_t* counters, int n);

#endif
