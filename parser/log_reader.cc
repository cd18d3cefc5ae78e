#include "parser/log_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <algorithm>
#include <new>

#include "core/errors.h"
#include "core/text.h"
#include "core/visitors.h"
#include "parser/day_close.h"
#include "parser/line_accounting.h"
#include "parser/log_parser.h"
#include "parser/status_page.h"

namespace {

constexpr int64_t kProgressEvery = 20000;

// One read, repeated when a signal interrupts it; -1 on failure.
ssize_t read_some(int fd, char* into, size_t bytes) {
  ssize_t n;
  do {
    n = read(fd, into, bytes);
  } while (n < 0 && errno == EINTR);
  return n;
}

int64_t size_of(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0) return 0;
  return static_cast<int64_t>(status.st_size);
}

// Cuts the line end: the "\n" is already cut, a "\r" right before it goes too.
void cut_carriage_return(char* line, char* end) {
  if (end > line && end[-1] == '\r') end[-1] = '\0';
}

// One line of the log: skipped, or split, checked and counted.
int take_line(LogParser& parser, char* line, LineCounter count_line) {
  if (line[0] == '\0' || line[0] == '#') return 0;
  if (split_line(parser, line) != 0) return 0;
  LineTime time;
  if (read_line_time(parser, &time) != 0) return 0;
  parser.lines_counted += 1;
  if (static_cast<int64_t>(parser.lines_counted) % kProgressEvery == 0) write_progress_page(parser, true);
  return count_line(parser);
}

}  // namespace

int read_hit_log(LogParser& parser, int64_t offset, LineCounter count_line) {
  LogPosition& position = parser.position;
  if (position.file.open() != 0) return ERR_LOG;
  const int fd = position.file.fd();
  int64_t size = size_of(fd);
  if (offset < 0) offset = 0;
  if (offset > size) offset = size;
  parser.bytes_to_read = static_cast<double>(size - offset);
  if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return ERR_LOG;

  char* buffer = line_buffer;
  const int capacity = line_buffer_size();
  int carry = 0;          // unfinished line at the start of the buffer
  bool skipping = false;  // inside a line too long for the buffer, dropped up to its end
  int64_t read_to = offset;  // the log's offset of the end of the bytes in the buffer
  for (;;) {
    ssize_t n = read_some(fd, buffer + carry, static_cast<size_t>(capacity - carry));
    if (n < 0) return ERR_LOG;
    if (n == 0) {
      position.read_end = read_to;
      if (!parser.tracker_lock.held()) {
        // The end for now. Hold the tracker off and read what it appended meanwhile:
        // after this read nothing can be added until the log is removed.
        if (parser.tracker_lock.acquire(kTrackerLockPath) != 0) return ERR_FIL;
        continue;
      }
      // The end of the log: a last line without a line end is taken as it is.
      if (carry > 0 && !skipping) {
        buffer[carry] = '\0';
        position.line_start = read_to - carry;
        cut_carriage_return(buffer, buffer + carry);
        int result = take_line(parser, buffer, count_line);
        if (result != 0) return result;
      }
      return 0;
    }
    parser.bytes_read += static_cast<double>(n);
    read_to += n;
    char* p = buffer;
    char* stop = buffer + carry + n;
    if (skipping) {
      char* end = static_cast<char*>(std::memchr(p, '\n', static_cast<size_t>(stop - p)));
      if (!end) {
        carry = 0;
        continue;
      }
      p = end + 1;
      skipping = false;
    }
    for (;;) {
      char* end = static_cast<char*>(std::memchr(p, '\n', static_cast<size_t>(stop - p)));
      if (!end) break;
      *end = '\0';
      position.line_start = read_to - (stop - p);
      cut_carriage_return(p, end);
      int result = take_line(parser, p, count_line);
      if (result != 0) return result;
      p = end + 1;
    }
    carry = static_cast<int>(stop - p);
    if (carry == capacity) {
      // A line that fills the whole buffer cannot be taken: drop it and go on after it.
      carry = 0;
      skipping = true;
    } else if (carry > 0 && p != buffer) {
      std::memmove(buffer, p, static_cast<size_t>(carry));
    }
  }
}

namespace {

// The lines that end before the offset of the log.
int64_t lines_before(int fd, int64_t offset) {
  int64_t lines = 0;
  for (int64_t at = 0; at < offset;) {
    const int64_t want = offset - at < line_buffer_size() ? offset - at : line_buffer_size();
    ssize_t n = read_some_at(fd, line_buffer, static_cast<size_t>(want), at);
    if (n <= 0) break;
    lines += std::count(line_buffer, line_buffer + n, '\n');
    at += n;
  }
  return lines;
}

// Where this run's first line is: the state file's position when it applies, else
// the first line not older than the saved time, which passes over the lines before
// as counted: that is reported. 0 or the search's -6.
int find_first_line(LogParser& parser, int64_t* offset) {
  *offset = 0;
  LogPosition& position = parser.position;
  if (!position.state_on_disk) return 0;
  if (find_position(position, offset) == ResumeBy::time) {
    int result = find_resume_offset(parser, position.state.head, offset);
    if (result != 0) return result;
    position.place_lost = true;
    position.lines_passed_over = lines_before(position.file.fd(), *offset);
    append_error_log(ERR_POS, "PRSR");
  }
  // From here on the state's entry stands for this log.
  position.state.offset = *offset;
  return 0;
}

// Saves that the state's lines end at the start of whatever log comes next. 0 or -4.
int save_start(LogPosition& position) {
  if (!position.state_on_disk) return 0;
  PositionEntry state = position.state;
  state.offset = 0;
  int result = save_positions(position, state);
  if (result == 0) position.state = state;
  return result;
}

// A run stopped after renaming its counted log aside leaves the removal to the next:
// the position goes to the start first (when it still names that log), then the
// file. 0, or -4 when the position cannot be saved: then nothing is read.
int finish_removal(LogPosition& position) {
  if (access(kParsedLogPath, F_OK) != 0) return 0;
  if (position.state_on_disk && position_names(position.state, kParsedLogPath) && save_start(position) != 0) {
    return ERR_FIL;
  }
  std::remove(kParsedLogPath);  // should it stay, the position no longer names it
  return 0;
}

}  // namespace

int parse_log(LogParser& parser) {
  int result = check_data_folder();
  if (result != 0) return result;
  delete parser.visitors;
  if (parser.letter_used[LETTER_ADDRESS]) {
    parser.visitors = new (std::nothrow) ips();
  } else {
    parser.visitors = new (std::nothrow) hosts();
  }
  if (!parser.visitors) return ERR_MEM;
  result = load_state(parser);
  if (result != 0) return result == ERR_TMP ? ERR_TMP : ERR_FIL;
  result = finish_removal(parser.position);
  if (result != 0) return result;
  // The time of the state's last counted line: its saved time less the second the
  // close added (a short state's time is its first line's own, or a second later).
  if (parser.position.state_on_disk && parser.line_time.second > 0) parser.line_time.second -= 1;
  int64_t offset = 0;
  result = find_first_line(parser, &offset);
  if (result == 0) result = read_hit_log(parser, offset, count_line);
  // A run that counts no line changes no statistics file.
  if (result == 0 && parser.lines_counted > 0) result = close_day(parser);
  if (result != 0) return result;
  write_progress_page(parser, false);
  return 0;
}

int remove_hit_log(LogParser& parser, int* cause) {
  LogPosition& position = parser.position;
  int result = 0;
  if (!position.file.still_named()) {
    // Renamed away while it was read (a rotation): every line of it is counted, and
    // the log under its name now is another, read from its start.
    save_start(position);
  } else if (std::rename(kHitLogPath, kParsedLogPath) == 0) {
    // Should the start not be saved, the next run does it before it reads.
    if (save_start(position) == 0) std::remove(kParsedLogPath);
  } else if (errno == ENOENT) {
    save_start(position);  // gone meanwhile
  } else {
    if (cause) *cause = errno;
    // A log that cannot be renamed (another user's, in a folder that keeps files to
    // their owner) is emptied instead, which the tracker, held off until now, appends
    // to again. Should the start not be saved, the log's print tells the new lines
    // from those counted.
    if (truncate(kHitLogPath, 0) == 0) {
      save_start(position);
    } else {
      result = ERR_RMV;
    }
  }
  position.file.close();
  // The position saved with the state covers every line read: lines the tracker
  // appends from now on are read by the next run, wherever they are stamped.
  parser.tracker_lock.release();
  return result;
}

namespace {

// The line's time, when it splits and its date and time are in range.
bool line_time_of(LogParser& parser, char* line, LineTime* time) {
  return split_line(parser, line) == 0 && read_line_time(parser, time) == 0;
}

}  // namespace

int compare_line_time(LogParser& parser, char* line, const LineTime& saved) {
  LineTime time;
  if (!line_time_of(parser, line, &time)) return -1;
  return compare_times(time, saved);
}

namespace {

constexpr int kNoneComparable = 2;

// Probes of the resume search over the hit log's bytes, through the line buffer.
class LogProbe {
 public:
  LogProbe(int fd, int64_t size) : fd_(fd), size_(size) {}
  bool failed() const { return failed_; }

  // The first line start at or after `from`, or `limit` when none lies before it.
  int64_t line_start_from(int64_t from, int64_t limit) {
    if (from <= 0) return 0;
    int64_t newline = find_newline(from - 1, limit);
    return newline < 0 ? limit : newline + 1;
  }

  // Compares the first line that can be compared (one that fits the buffer, splits and
  // has a sound date and time) among the lines starting in [start, limit) with the
  // saved time: -1 older, 0 the same second, 1 newer. `at` is that line's start and
  // `next` the start of the line after it. Lines that cannot be compared are never
  // counted by the reader, so they take the side of the next line that can.
  // kNoneComparable when no line of [start, limit) can be compared.
  int compare_from(LogParser& parser, int64_t start, int64_t limit, const LineTime& saved, int64_t* at,
                   int64_t* next) {
    const int capacity = line_buffer_size();
    while (start < limit) {
      ssize_t n = read_some_at(fd_, line_buffer, static_cast<size_t>(capacity), start);
      if (n <= 0) {
        if (n < 0) failed_ = true;
        break;  // nothing readable from here on
      }
      int64_t after;
      char* end = static_cast<char*>(std::memchr(line_buffer, '\n', static_cast<size_t>(n)));
      if (end) {
        *end = '\0';
        after = start + (end - line_buffer) + 1;
      } else if (n < capacity) {
        end = line_buffer + n;  // the last line, without a line end
        *end = '\0';
        after = start + n;
      } else {
        // Too long for the buffer: the reader drops it, the search looks past it.
        int64_t newline = find_newline(start + capacity, size_);
        start = newline < 0 ? size_ : newline + 1;
        continue;
      }
      cut_carriage_return(line_buffer, end);
      LineTime time;
      if (line_time_of(parser, line_buffer, &time)) {
        *at = start;
        *next = after;
        return compare_times(time, saved);
      }
      start = after;
    }
    return kNoneComparable;
  }

 private:
  // Offset of the first "\n" in [from, limit), or -1.
  int64_t find_newline(int64_t from, int64_t limit) {
    const int capacity = line_buffer_size();
    while (from < limit) {
      int64_t want = limit - from < capacity ? limit - from : capacity;
      ssize_t n = read_some_at(fd_, line_buffer, static_cast<size_t>(want), from);
      if (n < 0) failed_ = true;
      if (n <= 0) return -1;
      char* hit = static_cast<char*>(std::memchr(line_buffer, '\n', static_cast<size_t>(n)));
      if (hit) return from + (hit - line_buffer);
      from += n;
    }
    return -1;
  }

  int fd_;
  int64_t size_;
  bool failed_ = false;
};

}  // namespace

int find_resume_offset(LogParser& parser, const LineTime& saved, int64_t* offset) {
  *offset = 0;
  if (parser.position.file.open() != 0) return ERR_LOG;
  const int fd = parser.position.file.fd();
  int64_t size = size_of(fd);
  LogProbe probe(fd, size);
  // Every line before lo is older than the saved time or cannot be compared; every
  // line from hi up to `found` cannot be compared, and the line at `found` (or the end
  // of the log) is not older. Each probe narrows [lo, hi], so the search ends.
  int64_t lo = 0;
  int64_t hi = size;
  int64_t found = size;
  while (lo < hi && !probe.failed()) {
    int64_t mid = lo + (hi - lo) / 2;
    int64_t start = probe.line_start_from(mid, hi);
    if (start >= hi) start = lo;  // no line starts in the upper half: look at lo itself
    int64_t at = 0;
    int64_t next = 0;
    int c = probe.compare_from(parser, start, hi, saved, &at, &next);
    if (c == kNoneComparable) {
      hi = start;  // nothing in [start, hi) is counted: `found` stays the answer from there
    } else if (c < 0) {
      lo = next;
    } else {
      hi = at;
      found = at;
    }
  }
  if (probe.failed()) return ERR_LOG;
  *offset = found;
  return 0;
}

ssize_t read_some_at(int fd, char* into, size_t bytes, int64_t offset) {
  ssize_t n;
  do {
    n = pread(fd, into, bytes, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t read_full_at(int fd, char* into, size_t bytes, int64_t offset) {
  size_t filled = 0;
  while (filled < bytes) {
    ssize_t n = read_some_at(fd, into + filled, bytes - filled, offset + static_cast<int64_t>(filled));
    if (n < 0) return -1;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(filled);
}
