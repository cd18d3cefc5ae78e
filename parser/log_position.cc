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
// The position file's first line: states known by their print; in the earlier form,
// by their inode and head.
constexpr char kFormLine[] = "POS 2\n";
constexpr char kEarlierFormLine[] = "POS 1\n";

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
    if (read_full_at(fd, block, want, done) != static_cast<ssize_t>(want)) return false;
    h = hash_bytes(h, block, want);
    done += static_cast<int32_t>(want);
  }
  *hash = h;
  return true;
}

// A hash of a whole file that keeps up with reading it from memory (a state file can
// hold many megabytes, and is printed at every run): four lanes over 8-byte words,
// read as little-endian so that a print means the same on every machine, then the
// bytes that fill no group of four words, then the length.
class WordHash {
 public:
  // Every call but the last must bring a multiple of kGroup bytes.
  static constexpr size_t kGroup = 32;
  void add(const unsigned char* data, size_t size) {
    size_t at = 0;
    for (; at + kGroup <= size; at += kGroup) {
      for (int k = 0; k < 4; ++k) lanes_[k] = round(lanes_[k], word(data + at + 8 * k));
    }
    for (; at < size; ++at) tail_ = (tail_ ^ data[at]) * kPrime1;
    length_ += size;
  }
  uint64_t result() const {
    uint64_t h = rotate(lanes_[0], 1) + rotate(lanes_[1], 7) + rotate(lanes_[2], 12) + rotate(lanes_[3], 18);
    h = round(h, tail_) ^ length_;
    h = (h ^ (h >> 33)) * kPrime2;
    h = (h ^ (h >> 29)) * kPrime1;
    return h ^ (h >> 32);
  }

 private:
  static constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
  static constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
  static uint64_t rotate(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }
  static uint64_t round(uint64_t lane, uint64_t w) { return rotate(lane + w * kPrime2, 31) * kPrime1; }
  static uint64_t word(const unsigned char* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap64(w);
#endif
    return w;
  }

  uint64_t lanes_[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
  uint64_t tail_ = 0;
  uint64_t length_ = 0;
};

bool same_time(const LineTime& a, const LineTime& b) { return compare_times(a, b) == 0; }

// The entries of the position file and its form (2, or 1 for the earlier one);
// -1 when it is missing or damaged.
int read_positions(PositionEntry* entries, int* form) {
  FILE* file = std::fopen(kPositionFilePath, "r");
  if (!file) return -1;
  char line[256];
  int count = -1;
  bool ended = false;
  *form = 0;
  if (std::fgets(line, sizeof line, file)) {
    if (std::strcmp(line, kFormLine) == 0) *form = 2;
    if (std::strcmp(line, kEarlierFormLine) == 0) *form = 1;
  }
  if (*form != 0) {
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
      unsigned long long state_inode = 0, state_hash = 0, device = 0, inode = 0, hash = 0;
      long long state_length = 0, offset = 0;
      int length = 0;
      int used = 0;
      LineTime& t = e.head;
      const bool read =
          count < kMaxEntries &&
          (*form == 2 ? std::sscanf(line, "%lld %llx %lld %llu %llu %d %llx\n%n", &state_length, &state_hash, &offset,
                                    &device, &inode, &length, &hash, &used) == 7
                      : std::sscanf(line, "%llu %d %d %d %d %d %d %lld %llu %llu %d %llx\n%n", &state_inode, &t.year,
                                    &t.month, &t.day, &t.hour, &t.minute, &t.second, &offset, &device, &inode,
                                    &length, &hash, &used) == 12);
      if (!read || line[used] != '\0' || state_length < 0 || offset < 0 || length < -1 ||
          length > kMaxPrint) {
        count = -1;
        break;
      }
      e.print = *form == 2 ? StatePrint{state_length, state_hash} : StatePrint{};
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

bool same_state(const StatePrint& a, const StatePrint& b) { return a.length == b.length && a.hash == b.hash; }

// The state's entry: the one with its print. In the earlier form, the one with its
// inode and head, or after a copy of data/, where no inode is kept, the one with its
// head, when the entries with it agree (`exact` tells which). Two entries that fit
// but name different places give none.
const PositionEntry* entry_of(const PositionEntry& state, const PositionEntry* entries, int count, int form,
                              bool* exact) {
  *exact = form == 2;
  if (form == 1) {
    for (int i = 0; i < count; ++i) {
      if (entries[i].state_inode == state.state_inode && same_time(entries[i].head, state.head)) {
        *exact = true;
        return &entries[i];
      }
    }
  }
  const PositionEntry* found = nullptr;
  for (int i = 0; i < count; ++i) {
    if (form == 2 ? !same_state(entries[i].print, state.print) : !same_time(entries[i].head, state.head)) continue;
    if (found && !same_place(*found, entries[i])) return nullptr;
    found = &entries[i];
  }
  return found;
}

// The state's entry in the position file, or null (see entry_of).
const PositionEntry* find_entry(const PositionEntry& state, PositionEntry* entries, bool* exact) {
  int form = 0;
  const int count = read_positions(entries, &form);
  return entry_of(state, entries, count, form, exact);
}

void write_entry(FILE* file, const PositionEntry& e) {
  std::fprintf(file, "%" PRId64 " %" PRIx64 " %" PRId64 " %" PRIu64 " %" PRIu64 " %i %" PRIx64 "\n", e.print.length,
               e.print.hash, e.offset, e.log.device, e.log.inode, e.log.length, e.log.hash);
}

}  // namespace

int print_state(int fd, StatePrint* print) {
  static char block[1 << 16];  // a multiple of the hash's group
  static_assert(sizeof block % WordHash::kGroup == 0, "whole groups but at the end");
  WordHash hash;
  for (int64_t at = 0;;) {
    // Whole blocks, so that only the last one holds a part of a group.
    const ssize_t n = read_full_at(fd, block, sizeof block, at);
    if (n < 0) return ERR_FIL;
    hash.add(reinterpret_cast<const unsigned char*>(block), static_cast<size_t>(n));
    at += n;
    if (n < static_cast<ssize_t>(sizeof block)) {
      *print = StatePrint{at, hash.result()};
      return 0;
    }
  }
}

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
  const PositionEntry* entry = find_entry(position.state, entries, &exact);
  if (!entry) return ResumeBy::time;
  if (entry->offset == 0 || entry->log.length == 0) return ResumeBy::start;
  if (position.file.open() == 0 && holds_entry_log(*entry, position.file.fd())) {
    *offset = entry->offset;
    return ResumeBy::offset;
  }
  // Another log: the one the state's entry names was renamed away, or (in the earlier
  // form) this state only shares its head with the entry of another.
  return exact ? ResumeBy::start : ResumeBy::time;
}

bool position_names(const PositionEntry& state, const char* path) {
  PositionEntry entries[kMaxEntries];
  bool exact = true;
  const PositionEntry* entry = find_entry(state, entries, &exact);
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
  if (position.state_on_disk && !same_state(position.state.print, next.print)) entries[count++] = position.state;
  entries[count++] = next;
  AtomicFile out;
  if (out.open(kPositionFilePath, InPlace::refuse) != 0) return ERR_FIL;
  std::fputs(kFormLine, out.file());
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
