#include "core/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "core/errors.h"

AtomicFile::~AtomicFile() { abandon(); }

int AtomicFile::open(const char* path) {
  abandon();
  path_ = path;
  std::string pattern = path_ + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return ERR_FIL;
  // Keep the permissions of the file being replaced, or the usual ones for a new file.
  struct stat old_status;
  mode_t mode = 0644;
  if (stat(path, &old_status) == 0) mode = old_status.st_mode & 07777;
  fchmod(fd, mode);
  file_ = fdopen(fd, "w");
  if (!file_) {
    close(fd);
    unlink(name.data());
    return ERR_FIL;
  }
  temp_path_ = name.data();
  return 0;
}

int AtomicFile::commit() {
  if (!file_) return ERR_FIL;
  bool failed = std::fflush(file_) != 0 || std::ferror(file_) != 0;
  if (std::fclose(file_) != 0) failed = true;
  file_ = nullptr;
  if (!failed && std::rename(temp_path_.c_str(), path_.c_str()) != 0) failed = true;
  if (failed) {
    unlink(temp_path_.c_str());
    temp_path_.clear();
    return ERR_FIL;
  }
  temp_path_.clear();
  return 0;
}

void AtomicFile::abandon() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_path_.empty()) {
    unlink(temp_path_.c_str());
    temp_path_.clear();
  }
}
