#include "parser/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/errors.h"

int FileLock::acquire(const char* path) {
  release();
  int fd = open(path, O_WRONLY | O_CREAT, 0200);
  if (fd < 0) return ERR_FIL;
  struct flock lock = {};
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
    return ERR_FIL;
  }
  fd_ = fd;
  return 0;
}

void FileLock::release() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}
