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

constexpr int32_t kMaxPrint = 20480;  // a hit line never comes near this
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

// Hashes the log's first `length` bytes, or up to and including its first line end
// (when `length` is -1). False when the log holds fewer bytes than asked for or a
// read fails.
bool hash_prefix(int fd, int32_t length, int32_t* hashed, uint64_t* hash) {
  const bool to_line_end = length < 0;
  const int32_t limit = to_line_end ? kMaxPrint : length;
  char block[4096];
  int32_t done = 0;
  uint64_t h = kHashStart;
  while (done < limit) {
    size_t want = static_cast<size_t>(limit - done) < sizeof block ? static_cast<size_t>(limit - done) : sizeof block;
    ssize_t n = read_some_at(fd, block, want, done);
    if (n < 0) return false;
    if (n == 0) {
      if (!to_line_end) return false;
      break;
    }
    size_t take = static_cast<size_t>(n);
    if (to_line_end) {
      if (const void* end = std::memchr(block, '\n', take)) {
        take = static_cast<size_t>(static_cast<const char*>(end) - block) + 1;
        h = hash_bytes(h, block, take);
        done += static_cast<int32_t>(take);
        break;
      }
    }
    h = hash_bytes(h, block, take);
    done += static_cast<int32_t>(take);
  }
  *hashed = done;
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

// The print of the log being read: its first line, or what it holds of it.
int print_log(LogPosition& position) {
  if (position.log_known) return 0;
  position.log = LogPrint{0, 0, -1, 0};
  int fd = open(kHitLogPath, O_RDONLY);
  if (fd < 0) return 0;  // gone: no log will match
  struct stat status;
  int32_t length = 0;
  uint64_t hash = 0;
  if (fstat(fd, &status) == 0 && hash_prefix(fd, -1, &length, &hash) && length > 0) {
    position.log = LogPrint{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino), length, hash};
    // Only a whole first line is kept: a run that found less reads it again.
    position.log_known = length == kMaxPrint || status.st_size > length;
  }
  close(fd);
  return 0;
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

ResumeBy find_position(const PositionEntry& state, int64_t* offset) {
  PositionEntry entries[kMaxEntries];
  const int count = read_positions(entries);
  const PositionEntry* entry = nullptr;
  for (int i = 0; i < count; ++i) {
    if (entries[i].state_inode == state.state_inode && same_time(entries[i].head, state.head)) entry = &entries[i];
  }
  if (!entry) return ResumeBy::time;
  if (entry->offset == 0 || entry->log.length == 0) return ResumeBy::start;
  int fd = open(kHitLogPath, O_RDONLY);
  if (fd < 0) return ResumeBy::start;
  struct stat status;
  int32_t length = 0;
  uint64_t hash = 0;
  ResumeBy by = ResumeBy::start;
  if (entry->log.length > 0 && fstat(fd, &status) == 0 && status.st_size >= entry->offset &&
      hash_prefix(fd, entry->log.length, &length, &hash) && hash == entry->log.hash) {
    // The same first line: the same log, unless it is another file (a log removed
    // and written anew, whose first line happens to be the same, or a copy).
    bool same_file = static_cast<uint64_t>(status.st_dev) == entry->log.device &&
                     static_cast<uint64_t>(status.st_ino) == entry->log.inode;
    by = same_file ? ResumeBy::offset : ResumeBy::time;
  }
  close(fd);
  if (by == ResumeBy::offset) *offset = entry->offset;
  return by;
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
