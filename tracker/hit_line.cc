#include "tracker/hit_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

std::string log_field(const char* value, size_t max_bytes, bool blank_ends_field) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string field;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(value); *at; ++at) {
    const unsigned char byte = *at;
    const bool escape = byte < 0x20 || byte == 0x7F || byte == '"' || (blank_ends_field && byte == ' ');
    const size_t width = escape ? 3 : 1;
    if (field.size() + width > max_bytes) break;
    if (escape) {
      field += '%';
      field += kHex[byte >> 4];
      field += kHex[byte & 0x0F];
    } else {
      field += static_cast<char>(byte);
    }
  }
  return field;
}

std::string format_hit_line(const HitLine& hit) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%2.2i/%2.2i/%i %2.2i:%2.2i:%2.2i ", hit.time.month, hit.time.day,
                hit.time.year, hit.time.hour, hit.time.minute, hit.time.second);
  std::string line = stamp;
  line += log_field(hit.address, kMaxAddressField, true);
  line += ' ';
  line += log_field(hit.host, kMaxHostField);
  line += " \"";
  line += log_field(hit.page, kMaxPageField);
  line += "\" \"";
  line += log_field(hit.referrer, kMaxReferrerField);
  line += "\" \"";
  line += log_field(hit.user_agent, kMaxUserAgentField);
  line += "\"\n";
  return line;
}

const char* page_from_referer(const char* referer) {
  const char* scheme_end = std::strstr(referer, "://");
  if (!scheme_end) return "-";
  const char* slash = std::strchr(scheme_end + 3, '/');
  return slash ? slash : "-";
}

int append_log_line(FILE* log, const std::string& line) {
  const int fd = fileno(log);
  struct stat status {};
  const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  const off_t before = regular ? status.st_size : 0;
  // Unbuffered, so nothing of a failed write is left for fclose to retry.
  setvbuf(log, nullptr, _IONBF, 0);
  if (std::fwrite(line.data(), 1, line.size(), log) == line.size()) return 0;
  if (regular && ftruncate(fd, before) != 0) {
    // Nothing more can be done; the failure is reported all the same.
  }
  return -1;
}
