#ifndef QM_CORE_ATOMIC_FILE_H
#define QM_CORE_ATOMIC_FILE_H

#include <cstdio>
#include <string>

// What a replacement does in a folder that refuses new files.
enum class InPlace {
  rewrite,  // rewrite the file in place (the status page)
  locked,   // rewrite it in place under an exclusive lock that its readers share (the settings files)
  refuse,   // fail with -4: the statistics files must be replaced whole (data/ must be writable)
};

// Replaces a file as a whole: the new content goes to a temporary file in the same
// folder ("<name>.XXXXXX"), which is renamed over the old file only after every write
// and the close succeeded. A failed or abandoned replacement leaves the old file as it
// was. In a folder that takes no new file (an installation that makes only its files
// writable) the file is rewritten in place instead, as `InPlace` says; then a failure
// leaves it partly written, but it is still reported.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Opens the temporary file, or the file itself where the folder refuses one; 0, or
  // -4 when neither can be opened. A replacement keeps the old file's permissions; a
  // new file gets the usual ones under the process's umask. In the `locked` mode the
  // lock is held from here until commit or abandon, the content is written over the
  // old only at the commit, and an abandoned rewrite leaves the file as it was. In the `refuse` mode a folder that refuses new files gives
  // -4 and the file stays as it was.
  int open(const char* path, InPlace in_place = InPlace::rewrite);
  // The stream to write to (null when not open).
  FILE* file() const { return file_; }
  // Flushes, checks for write errors, closes and renames; 0 or -4. On -4 the
  // temporary file is removed and the old file stays.
  int commit();
  // Drops the new content (also done by the destructor when not committed).
  void abandon();

  // True when the name is one of the temporary files that a replacement of
  // `base_name` makes (both names without their folder).
  static bool is_temporary_of(const char* name, const char* base_name);

  // Removes the temporary files in the folder that replacements of the files it holds
  // left behind when their process was killed: those whose file `whose` names (it is
  // given the name without the temporary suffix) and that were last changed at least
  // `min_age` seconds ago.
  static void remove_temporaries(const std::string& folder, bool (*whose)(const char* base_name), int min_age);

 private:
  int open_locked(const char* path);

  FILE* file_ = nullptr;
  bool in_place_ = false;
  int locked_fd_ = -1;           // `locked`: the file itself, under the lock
  char* content_ = nullptr;      // `locked`: the new content, gathered in memory
  std::size_t content_size_ = 0;
  std::string path_;
  std::string temp_path_;
};

// Opens a file for reading under a shared lock that lasts until it is closed, so that
// a rewrite in place (`InPlace::locked`) is seen whole or not at all; a reader that
// opened the file just before a replacement renamed another over it reads the old
// one whole. Null when it cannot be opened or locked.
FILE* open_whole_for_reading(const char* path);

#endif
