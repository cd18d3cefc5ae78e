#ifndef QM_TRACKER_TRACKER_QUERY_H
#define QM_TRACKER_TRACKER_QUERY_H

#include <cstddef>

// The tracker's request: a copy of the first 255 characters of the query and
// its two keys "dir=" (the installation's URL, used as it is) and "ref=" (the
// page's referrer, %XX-encoded). Both values point into the copy.
struct TrackerQuery {
  static constexpr size_t kCopySize = 256;
  char copy[kCopySize] = {};
  const char* dir = nullptr;  // null when the query has no "dir="
  char* ref = nullptr;        // null when the query has no "ref="

  TrackerQuery() = default;
  TrackerQuery(const TrackerQuery&) = delete;
  TrackerQuery& operator=(const TrackerQuery&) = delete;
};

// Copies the query (null counts as empty) and finds the keys: the first
// occurrence of each key anywhere in the copy, then the first "&" of the copy
// ends whichever value it follows; the other value runs to the end of the copy.
void read_tracker_query(TrackerQuery& query, const char* query_string);

// Decodes the "%" escapes of the text in place. "+" stays "+"; "%" takes the
// (at most two) characters after it as a hexadecimal number read by strtoul and
// keeps its low byte, so "%zz" gives a NUL byte that ends the text there. Only
// what the first 511 characters decode to remains.
void url_decode(char* text);

#endif
