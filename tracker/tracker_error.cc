#include "tracker/tracker_error.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/error_log.h"
#include "tracker/hit_line.h"

int log_tracker_error(int code, const TrackerTime& start) {
  if (code == 0) return 1;
  const char* name = code == kTrackerFileError ? "ERR_FIL" : "ERR_INP";
  const char* address = std::getenv("REMOTE_ADDR");
  const char* agent = std::getenv("HTTP_USER_AGENT");
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%2.2i/%2.2i/%4.4i %2.2i:%2.2i:%2.2i ", start.month, start.day, start.year,
                start.hour, start.minute, start.second);
  std::string line = stamp;
  line += name;
  line += " STTS ";
  line += address ? log_field(address, kMaxAddressField, true) : "na";
  line += ' ';
  line += agent ? log_field(agent, kMaxUserAgentField) : "na";
  line += '\n';
  append_to_error_log(line);
  return 0;
}
