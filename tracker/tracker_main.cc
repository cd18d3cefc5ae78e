// tracker.cgi: records one page view per request in the hit log "data/qmy.log"
// and answers the browser with a redirect to the installation's image.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tracker/hit_line.h"
#include "tracker/tracker_error.h"
#include "tracker/tracker_query.h"
#include "tracker/tracker_redirect.h"
#include "tracker/tracker_time.h"

namespace {

const char kVersion[] = "3.3.000";

// Waits for the tracker's write lock on bytes 0-3 of "data/stt.lck" (created
// write-only for the owner). The descriptor holds the lock until it is closed
// or the process ends; -1 when the file cannot be opened or locked.
int take_tracker_lock() {
  int fd = open("data/stt.lck", O_WRONLY | O_CREAT, 0200);
  if (fd < 0) return -1;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 4;
  lock.l_pid = getpid();
  int result;
  do {
    result = fcntl(fd, F_SETLKW, &lock);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The client's host: REMOTE_HOST whenever it is set (even empty), else the
// reverse lookup of an IPv4 REMOTE_ADDR, else the address text itself. False
// when neither variable is set.
bool client_host(std::string& host) {
  if (const char* remote_host = std::getenv("REMOTE_HOST")) {
    host = remote_host;
    return true;
  }
  const char* address = std::getenv("REMOTE_ADDR");
  if (!address) return false;
  host = address;
  // Only an IPv4 address text is looked up; anything else (IPv6, say) stays as it is.
  in_addr_t binary = inet_addr(address);
  if (binary == INADDR_NONE) return true;
  if (const hostent* entry = gethostbyaddr(&binary, 4, AF_INET)) {
    if (entry->h_name) host = entry->h_name;
  }
  return true;
}

void answer_version() {
  std::printf("Content-type: text/html\r\n\r\n");
  std::printf("<tt>Version: %s", kVersion);
  std::printf(" IMG");
  std::printf("</tt>");
}

void answer_redirect(const std::string& location) {
  std::printf("Content-type: image/gif\n");
  std::printf("Cache-Control: no-cache\n");
  std::printf("Pragma: no-cache\n");
  std::printf("Expires: 0\n");
  std::printf("Location: %s\r\n\r\n", location.c_str());
  // The browser need not wait for the lock and the lookup.
  std::fflush(stdout);
}

// Appends the hit of the client's host (none: has_host false) to the hit log; the
// caller holds the lock. 0 or kTrackerFileError.
int record_hit(TrackerQuery& query, const std::string& host, bool has_host) {
  HitLine hit;
  const char* address = std::getenv("REMOTE_ADDR");
  hit.address = address ? address : "-";
  hit.host = host.c_str();
  const char* referer = std::getenv("HTTP_REFERER");
  hit.page = page_from_referer(referer ? referer : "-");
  if (*query.ref) {
    url_decode(query.ref);
    hit.referrer = query.ref;
  }
  const char* agent = std::getenv("HTTP_USER_AGENT");
  hit.user_agent = agent ? agent : "-";

  // "a" creates a missing log and never truncates one.
  FILE* log = std::fopen("data/qmy.log", "a");
  if (!log) return kTrackerFileError;
  int status = 0;
  if (has_host) {
    // Stamped under the lock, so the log's lines stay in time order.
    hit.time = tracker_time_now();
    status = append_log_line(log, format_hit_line(hit));
  }
  if (std::fclose(log) != 0) status = kTrackerFileError;
  return status == 0 ? 0 : kTrackerFileError;
}

}  // namespace

int main() {
  const char* query_string = std::getenv("QUERY_STRING");
  if (query_string && std::strcmp(query_string, "VERSION") == 0) {
    answer_version();
    return 0;
  }
  const TrackerTime start = tracker_time_now();
  static TrackerQuery query;
  read_tracker_query(query, query_string);
  answer_redirect(image_location(query.dir, request_place_from_environment()));

  if (!query.dir || !*query.dir || !query.ref) {
    log_tracker_error(kTrackerInputError, start);
    return 0;
  }
  // The name lookup can take seconds: it is made before the lock, which every other
  // hit of the site waits for.
  std::string host;
  const bool has_host = client_host(host);
  const int lock = take_tracker_lock();
  if (lock < 0) {
    log_tracker_error(kTrackerFileError, start);
    return 0;
  }
  const int status = record_hit(query, host, has_host);
  if (status != 0) log_tracker_error(status, start);
  close(lock);
  return 0;
}
