#include "core/file_lock.h"

#include <sys/file.h>

#include <cerrno>

// An flock rather than a record lock: a record lock is dropped when the process
// closes any descriptor of the file.
int lock_whole_file(int fd, int operation) {
  int result;
  do {
    result = flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : -1;
}
