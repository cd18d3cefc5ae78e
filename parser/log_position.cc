#include "parser/log_position.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/atomic_file.h"
#include "core/errors.h"
#include "parser/log_reader.h"

namespace {

constexpr int32_t kMaxPrint = 20480;  // the most of the log a print covers
constexpr int kMaxEntries = 2;

// FNV-1a, 64 bits.
uint64_t hash_bytes(uint64_t hash, const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    hash ^= static_cast<unsigned char>(data[i]);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}
constexpr uint64_t kHashStart = 0xcbf29ce484222325ULL;

// Hashes the log's first `length` bytes. False when the log holds fewer or a read
// fails.
bool hash_prefix(int fd, int32_t length, uint64_t* hash) {
  char block[4096];
  int32_t done = 0;
  uint64_t h = kHashStart;
  while (done < length) {
    size_t want = static_cast<size_t>(length - done) < sizeof block ? static_cast<size_t>(length - done) : sizeof block;
    ssize_t n = read_some_at(fd, block, want, done);
    if (n <= 0) return false;
    h = hash_bytes(h, block, static_cast<size_t>(n));
    done += static_cast<int32_t>(n);
  }
  *hash = h;
  return true;
}

bool same_time(const LineTime& a, const LineTime& b) { return compare_times(a, b) == 0; }

// The entries of the position file; -1 when it is missing or damaged.
int read_positions(PositionEntry* entries) {
  FILE* file = std::fopen(kPositionFilePath, "r");
  if (!file) return -1;
  char line[256];
  int count = -1;
  bool ended = false;
  if (std::fgets(line, sizeof line, file) && std::strcmp(line, "POS 1\n") == 0) {
    count = 0;
    while (std::fgets(line, sizeof line, file)) {
      if (ended) {
        count = -1;  // nothing may follow the end
        break;
      }
      if (std::strcmp(line, "END\n") == 0) {
        ended = true;
        continue;
      }
      PositionEntry e;
      unsigned long long state_inode = 0, device = 0, inode = 0, hash = 0;
      long long offset = 0;
      int length = 0;
      int used = 0;
      LineTime& t = e.head;
      if (count == kMaxEntries ||
          std::sscanf(line, "%llu %d %d %d %d %d %d %lld %llu %llu %d %llx\n%n", &state_inode, &t.year, &t.month,
                      &t.day, &t.hour, &t.minute, &t.second, &offset, &device, &inode, &length, &hash, &used) != 12 ||
          line[used] != '\0' || offset < 0 || length < -1 || length > kMaxPrint) {
        count = -1;
        break;
      }
      e.state_inode = state_inode;
      e.offset = offset;
      e.log = LogPrint{device, inode, length, hash};
      entries[count++] = e;
    }
  }
  std::fclose(file);
  return ended ? count : -1;
}

// The print of the log being read: what it holds, up to kMaxPrint bytes. The log
// is only appended to, so an earlier, shorter print stays true of it.
int print_log(LogPosition& position) {
  if (position.log_known) return 0;
  position.log = LogPrint{0, 0, -1, 0};
  const int fd = position.file.fd();
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) return 0;  // none: no log will match
  const int32_t length = status.st_size < kMaxPrint ? static_cast<int32_t>(status.st_size) : kMaxPrint;
  uint64_t hash = 0;
  if (length > 0 && hash_prefix(fd, length, &hash)) {
    position.log = LogPrint{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino), length, hash};
    position.log_known = length == kMaxPrint;  // a shorter print is taken again later
  }
  return 0;
}

// The same place: the same offset in the same log.
bool same_place(const PositionEntry& a, const PositionEntry& b) {
  return a.offset == b.offset && a.log.length == b.log.length && a.log.hash == b.log.hash;
}

// The state's entry: the one with its inode and head; after a copy of data/, where
// no inode is kept, the one with its head, when the entries with it agree (`exact`
// tells which).
const PositionEntry* entry_of(const PositionEntry& state, const PositionEntry* entries, int count, bool* exact) {
  *exact = true;
  for (int i = 0; i < count; ++i) {
    if (entries[i].state_inode == state.state_inode && same_time(entries[i].head, state.head)) return &entries[i];
  }
  *exact = false;
  const PositionEntry* by_head = nullptr;
  for (int i = 0; i < count; ++i) {
    if (!same_time(entries[i].head, state.head)) continue;
    if (by_head && !same_place(*by_head, entries[i])) return nullptr;
    by_head = &entries[i];
  }
  return by_head;
}

void write_entry(FILE* file, const PositionEntry& e) {
  const LineTime& t = e.head;
  std::fprintf(file, "%" PRIu64 " %i %i %i %i %i %i %" PRId64 " %" PRIu64 " %" PRIu64 " %i %" PRIx64 "\n",
               e.state_inode, t.year, t.month, t.day, t.hour, t.minute, t.second, e.offset, e.log.device,
               e.log.inode, e.log.length, e.log.hash);
}

}  // namespace

int check_data_folder() {
  std::string name = std::string(kPositionFilePath) + ".XXXXXX";
  int fd = mkstemp(&name[0]);
  if (fd < 0) return errno == EACCES || errno == EPERM || errno == EROFS ? ERR_DIR : ERR_FIL;
  close(fd);
  return unlink(name.c_str()) == 0 ? 0 : ERR_DIR;
}

int OpenLog::open() {
  if (fd_ < 0) fd_ = ::open(kHitLogPath, O_RDONLY | O_CLOEXEC);
  return fd_ < 0 ? ERR_LOG : 0;
}

void OpenLog::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool OpenLog::still_named() const {
  struct stat opened, named;
  return fd_ >= 0 && fstat(fd_, &opened) == 0 && stat(kHitLogPath, &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

namespace {

// True when the log at `fd` holds what the entry recorded of its log (it is that log
// or a copy of it) and reaches the entry's offset.
bool holds_entry_log(const PositionEntry& entry, int fd) {
  struct stat status;
  uint64_t hash = 0;
  return entry.offset > 0 && entry.log.length > 0 && fstat(fd, &status) == 0 && status.st_size >= entry.offset &&
         hash_prefix(fd, entry.log.length, &hash) && hash == entry.log.hash;
}

}  // namespace

ResumeBy find_position(LogPosition& position, int64_t* offset) {
  PositionEntry entries[kMaxEntries];
  bool exact = true;
  const PositionEntry* entry = entry_of(position.state, entries, read_positions(entries), &exact);
  if (!entry) return ResumeBy::time;
  if (entry->offset == 0 || entry->log.length == 0) return ResumeBy::start;
  if (position.file.open() == 0 && holds_entry_log(*entry, position.file.fd())) {
    *offset = entry->offset;
    return ResumeBy::offset;
  }
  // Another log: the one the state's entry names was renamed away, or this state only
  // shares its head with the entry of another (written by hand, say).
  return exact ? ResumeBy::start : ResumeBy::time;
}

bool position_names(const PositionEntry& state, const char* path) {
  PositionEntry entries[kMaxEntries];
  bool exact = true;
  const PositionEntry* entry = entry_of(state, entries, read_positions(entries), &exact);
  if (!entry) return false;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool names = holds_entry_log(*entry, fd);
  ::close(fd);
  return names;
}

int save_positions(LogPosition& position, const PositionEntry& next) {
  PositionEntry entries[kMaxEntries];
  int count = 0;
  if (position.state_on_disk && position.state.state_inode != next.state_inode) entries[count++] = position.state;
  entries[count++] = next;
  AtomicFile out;
  if (out.open(kPositionFilePath, InPlace::refuse) != 0) return ERR_FIL;
  std::fprintf(out.file(), "POS 1\n");
  for (int i = 0; i < count; ++i) {
    PositionEntry& e = entries[i];
    if (e.offset > 0) {
      print_log(position);
      e.log = position.log;
    } else {
      e.log = LogPrint{};  // the start of any log
    }
    write_entry(out.file(), e);
  }
  std::fprintf(out.file(), "END\n");
  return out.commit();
}
