#include "core/error_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "core/file_lock.h"

// A writer that waited for the lock while another moved the log opens the new one:
// its line is not lost, and no log is moved twice.
void append_to_error_log(const std::string& line) {
  for (int attempt = 1;; ++attempt) {
    int fd = open(kErrorLogPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    const bool locked = lock_whole_file(fd, LOCK_EX) == 0;
    struct stat opened, named;
    const bool current = fstat(fd, &opened) == 0 && stat(kErrorLogPath, &named) == 0 &&
                         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
    if (locked && !current && attempt < 10) {
      close(fd);
      continue;
    }
    if (write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && locked && current &&
        fstat(fd, &opened) == 0 && opened.st_size > kErrorLogLimit) {
      std::rename(kErrorLogPath, kOldErrorLogPath);
    }
    close(fd);
    return;
  }
}
