#include "parser/stale_files.h"

#include <cstring>

#include "core/atomic_file.h"

namespace {

constexpr int kConfigurationAge = 60;  // seconds

// "tmp.log", "pos.log", or a day file: "%i%2.2i%2.2i.log".
bool database_file(const char* name) {
  if (std::strcmp(name, "tmp.log") == 0 || std::strcmp(name, "pos.log") == 0) return true;
  const char* p = name;
  while (*p >= '0' && *p <= '9') ++p;
  return p != name && std::strcmp(p, ".log") == 0;
}

bool status_page_file(const char* name) { return std::strcmp(name, "status.html") == 0; }

bool configuration_file(const char* name) {
  return std::strcmp(name, "config.cfg") == 0 || std::strcmp(name, "dat_acp.cfg") == 0;
}

}  // namespace

void remove_stale_files(const std::string& status_page) {
  AtomicFile::remove_temporaries("data", database_file, 0);
  AtomicFile::remove_temporaries(".", configuration_file, kConfigurationAge);
  std::string::size_type slash = status_page.rfind('/');
  std::string folder = slash == std::string::npos ? "." : status_page.substr(0, slash);
  if (folder.empty()) folder = "/";
  AtomicFile::remove_temporaries(folder, status_page_file, 0);
}
