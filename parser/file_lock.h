#ifndef QM_PARSER_FILE_LOCK_H
#define QM_PARSER_FILE_LOCK_H

// An advisory lock on bytes 0 to 3 of a lock file, the way the parser and the
// tracker keep out a second process of their own kind. The lock file is created
// write-only for the owner when missing. Closing the file releases the lock.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits until no other process holds the lock, then takes it; 0, or -4 when the
  // file cannot be opened or the lock call fails.
  int acquire(const char* path);
  void release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

#endif
