#ifndef QM_CORE_PAGES_H
#define QM_CORE_PAGES_H

#include <cstdint>
#include <cstdio>

#include "core/containers.h"

struct PageStats;

// The table of requested pages: views per page path and a time spent on each.
// A page's number is its key's string number (first-seen order). `seconds` and
// `timed` always hold one entry per page number.
//
// Parser: seconds[p] is the page's average seconds per timed view of the day.
// Report: seconds[p] sums the non-zero daily averages read, timed[p] counts them.
class Pgs {
 public:
  siArr views;
  char tag[4] = "";
  intArr seconds;
  intArr timed;
  strArr extensions;  // the configured page extensions; kept, not consulted

  Pgs() = default;
  ~Pgs() = default;
  Pgs(const Pgs&) = delete;
  Pgs& operator=(const Pgs&) = delete;

  // Splits the configured page extensions at blanks into the extension list. 0 or -8.
  int load_extensions();
  // One view of the page; gives its number and marks every path as a page. 0 or -8.
  int add_view(const char* path, int32_t* page, bool* is_page);
  // Reads the data lines of a PagesSection whose tag line was read, up to the empty
  // line or the end of the file. line_map[k] becomes the page number of data line k.
  // 0 or -8.
  int read(FILE* file, intArr& line_map);
  // The PagesSection; nothing when the table is empty.
  void write(FILE* file) const;
  // Empties the views and the times; the extension list stays.
  void clear();

  // The average seconds shown for a page in the report.
  int32_t average_seconds(int32_t page) const;

 private:
  // Adds to the page's views, giving its number; a new page gets seconds and timed
  // entries of 0 at its number. Nothing changes on -8.
  int add_page(const char* path, int32_t amount, int32_t* page, bool* is_new);
};

// Sets every page's average seconds of the day from the page times of the path
// statistics (finished first): seconds / timed views where the page was timed,
// else 0. 0 or -8.
int compute_page_times(Pgs& pages, PageStats& stats);

// The report sections "Most Requested Pages" and "Least Requested Pages": pages
// ranked by views (ties in first-seen order; the least list runs from the end, so
// among equal views the later page comes first) with their average time. Nothing
// for an empty table.
void print_most_requested_pages(const Pgs& pages, const char* title, const char* key_label, int total,
                                const char* value_label, int limit);
void print_least_requested_pages(const Pgs& pages, const char* title, const char* key_label, int total,
                                 const char* value_label, int limit);

#endif
