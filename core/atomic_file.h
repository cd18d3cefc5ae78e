#ifndef QM_CORE_ATOMIC_FILE_H
#define QM_CORE_ATOMIC_FILE_H

#include <cstdio>
#include <string>

// Replaces a file as a whole: the new content goes to a temporary file in the same
// folder, which is renamed over the old file only after every write and the close
// succeeded. A failed or abandoned replacement leaves the old file as it was.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Opens the temporary file; 0, or -4 when it cannot be created.
  int open(const char* path);
  // The stream to write to (null when not open).
  FILE* file() const { return file_; }
  // Flushes, checks for write errors, closes and renames; 0 or -4. On -4 the
  // temporary file is removed and the old file stays.
  int commit();
  // Drops the new content (also done by the destructor when not committed).
  void abandon();

 private:
  FILE* file_ = nullptr;
  std::string path_;
  std::string temp_path_;
};

#endif
