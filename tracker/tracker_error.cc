#include "tracker/tracker_error.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tracker/hit_line.h"

namespace {

// The error log, shared with the other programs, and the rule they keep: past 1 MiB
// the log is moved to "data/err.log.1", replacing the older log there.
const char kErrorLog[] = "data/err.log";
const char kOldErrorLog[] = "data/err.log.1";
constexpr off_t kErrorLogLimit = 1024 * 1024;

bool locked_exclusively(int fd) {
  int result;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Appends the line in one write under the lock the other programs take on the log,
// and moves the log aside once it has passed its limit. A writer that waited while
// another moved the log opens the new one: no line is lost, no log moved twice.
void append_line(const std::string& line) {
  for (int attempt = 1;; ++attempt) {
    // "a" creates a missing log and never truncates one.
    int fd = open(kErrorLog, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    const bool locked = locked_exclusively(fd);
    struct stat opened, named;
    const bool current = fstat(fd, &opened) == 0 && stat(kErrorLog, &named) == 0 &&
                         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
    if (locked && !current && attempt < 10) {
      close(fd);
      continue;
    }
    if (write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && locked && current &&
        fstat(fd, &opened) == 0 && opened.st_size > kErrorLogLimit) {
      std::rename(kErrorLog, kOldErrorLog);
    }
    close(fd);
    return;
  }
}

}  // namespace

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
  append_line(line);
  return 0;
}
