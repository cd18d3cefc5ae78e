#include "core/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/errors.h"
#include "core/file_lock.h"

namespace {

constexpr char kTemporarySuffix[] = ".XXXXXX";
constexpr std::size_t kTemporaryLetters = sizeof kTemporarySuffix - 2;  // the X's

mode_t process_umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

bool temporary_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// Writes the whole text at the start of the file, then cuts the file to its length:
// a process killed in between leaves the new lines followed by a remnant of the old
// ones, which a reader takes line by line, never an empty or half-written file.
bool overwrite(int fd, const char* text, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, text + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

}  // namespace

AtomicFile::~AtomicFile() { abandon(); }

int AtomicFile::open(const char* path, InPlace in_place) {
  abandon();
  path_ = path;
  std::string pattern = path_ + kTemporarySuffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    // Only a folder that refuses new files: with the disk full, say, rewriting in
    // place would lose the old content too.
    if (errno != EACCES && errno != EPERM) return ERR_FIL;
    if (in_place == InPlace::refuse) return ERR_FIL;
    if (in_place == InPlace::locked) return open_locked(path);
    file_ = std::fopen(path, "w");
    if (!file_) return ERR_FIL;
    in_place_ = true;
    return 0;
  }
  // Keep the permissions of the file being replaced, or give a new file what a
  // plain open would under the process's umask.
  struct stat old_status;
  mode_t mode = 0666 & ~process_umask();
  if (stat(path, &old_status) == 0) mode = old_status.st_mode & 07777;
  fchmod(fd, mode);
  file_ = fdopen(fd, "w");
  if (!file_) {
    close(fd);
    unlink(name.data());
    return ERR_FIL;
  }
  in_place_ = false;
  temp_path_ = name.data();
  return 0;
}

// The file itself under an exclusive lock, which its readers share while they read;
// the new content is gathered in memory and written over the old at the commit.
int AtomicFile::open_locked(const char* path) {
  locked_fd_ = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (locked_fd_ < 0 || lock_whole_file(locked_fd_, LOCK_EX) != 0 ||
      !(file_ = open_memstream(&content_, &content_size_))) {
    abandon();
    return ERR_FIL;
  }
  in_place_ = true;
  return 0;
}

int AtomicFile::commit() {
  if (!file_) return ERR_FIL;
  bool failed = std::fflush(file_) != 0 || std::ferror(file_) != 0;
  if (std::fclose(file_) != 0) failed = true;
  file_ = nullptr;
  if (locked_fd_ >= 0) {
    if (!failed && !overwrite(locked_fd_, content_, content_size_)) failed = true;
    if (close(locked_fd_) != 0) failed = true;  // and the lock goes
    locked_fd_ = -1;
  }
  std::free(content_);
  content_ = nullptr;
  if (in_place_) {
    in_place_ = false;
    return failed ? ERR_FIL : 0;
  }
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
  if (locked_fd_ >= 0) {
    close(locked_fd_);  // the file itself is untouched
    locked_fd_ = -1;
  }
  std::free(content_);
  content_ = nullptr;
  in_place_ = false;
  if (!temp_path_.empty()) {
    unlink(temp_path_.c_str());
    temp_path_.clear();
  }
}

FILE* open_whole_for_reading(const char* path) {
  FILE* file = std::fopen(path, "re");
  if (file && lock_whole_file(fileno(file), LOCK_SH) != 0) {
    std::fclose(file);
    file = nullptr;
  }
  return file;
}

bool AtomicFile::is_temporary_of(const char* name, const char* base_name) {
  std::size_t base = std::strlen(base_name);
  if (std::strlen(name) != base + 1 + kTemporaryLetters) return false;
  if (std::strncmp(name, base_name, base) != 0 || name[base] != '.') return false;
  for (std::size_t i = base + 1; name[i]; ++i) {
    if (!temporary_letter(name[i])) return false;
  }
  return true;
}

void AtomicFile::remove_temporaries(const std::string& folder, bool (*whose)(const char* base_name), int min_age) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  const time_t now = time(nullptr);
  const std::size_t suffix = sizeof kTemporarySuffix - 1;
  while (const dirent* entry = readdir(dir)) {
    const std::size_t length = std::strlen(entry->d_name);
    if (length <= suffix) continue;
    const std::string base(entry->d_name, length - suffix);
    if (!is_temporary_of(entry->d_name, base.c_str()) || !whose(base.c_str())) continue;
    const std::string path = folder + "/" + entry->d_name;
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    // Perhaps still being written. No age is asked for under the caller's lock: a
    // file's time can be a moment ahead of time().
    if (min_age > 0 && now - status.st_mtime < min_age) continue;
    unlink(path.c_str());
  }
  closedir(dir);
}
