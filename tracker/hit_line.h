#ifndef QM_TRACKER_HIT_LINE_H
#define QM_TRACKER_HIT_LINE_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "tracker/tracker_time.h"

// Longest text written for each field of a log line. With them a hit line stays
// far below the 20480 bytes the log parser reads as one line.
constexpr size_t kMaxAddressField = 255;
constexpr size_t kMaxHostField = 255;
constexpr size_t kMaxPageField = 2048;
constexpr size_t kMaxReferrerField = 1024;
constexpr size_t kMaxUserAgentField = 1024;

// One page view in the hit log "data/qmy.log":
//   MM/DD/YYYY hh:mm:ss address host "page" "referrer" "user agent"\n
struct HitLine {
  TrackerTime time;
  const char* address = "-";
  const char* host = "";
  const char* page = "-";
  const char* referrer = "-";
  const char* user_agent = "-";
};

// A value made safe for one field of a log line and cut to `max_bytes`: control
// bytes (below 0x20 and 0x7F) and the double quote become %XX (a line feed
// becomes "%0A"), and so does a blank when `blank_ends_field`. An escape is
// never split by the cut. Other values come out exactly as they went in.
std::string log_field(const char* value, size_t max_bytes, bool blank_ends_field = false);

// The complete hit line, line feed included.
std::string format_hit_line(const HitLine& hit);

// The page of the request's referrer header: from the first "/" after "://" to
// the end (path, query and fragment as sent); "-" when there is none.
const char* page_from_referer(const char* referer);

// Appends the line with one unbuffered write. 0, or -1 when it cannot be written
// whole; then the file is cut back to its earlier size, so a half line never
// joins the next one. The caller holds the hit log's lock.
int append_log_line(FILE* log, const std::string& line);

#endif
