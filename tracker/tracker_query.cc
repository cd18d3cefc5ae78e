#include "tracker/tracker_query.h"

#include <cstdlib>
#include <cstring>

void read_tracker_query(TrackerQuery& query, const char* query_string) {
  std::memset(query.copy, 0, sizeof query.copy);
  if (query_string) {
    size_t length = strnlen(query_string, TrackerQuery::kCopySize - 1);
    std::memcpy(query.copy, query_string, length);
  }
  // Both keys are searched before the cut, so a key counts wherever its four
  // characters first stand.
  char* dir = std::strstr(query.copy, "dir=");
  char* ref = std::strstr(query.copy, "ref=");
  query.dir = dir ? dir + 4 : nullptr;
  query.ref = ref ? ref + 4 : nullptr;
  char* cut = std::strchr(query.copy, '&');
  if (cut) *cut = '\0';
}

void url_decode(char* text) {
  constexpr size_t kLimit = 511;
  size_t n = std::strlen(text);
  if (n > kLimit) n = kLimit;
  char out[kLimit + 1];
  size_t written = 0;
  for (size_t at = 0; at < n;) {
    if (text[at] != '%') {
      out[written++] = text[at++];
      continue;
    }
    char digits[3] = {0, 0, 0};
    for (size_t k = 0; k < 2 && at + 1 + k < n; ++k) digits[k] = text[at + 1 + k];
    out[written++] = static_cast<char>(std::strtoul(digits, nullptr, 16) & 0xFFu);
    at += 3;
  }
  out[written] = '\0';
  std::memcpy(text, out, written + 1);
}
