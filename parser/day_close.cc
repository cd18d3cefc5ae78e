#include "parser/day_close.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/atomic_file.h"
#include "core/bounded_format.h"
#include "core/errors.h"
#include "core/text.h"
#include "core/visitors.h"
#include "parser/log_parser.h"
#include "parser/log_reader.h"

namespace {

void write_time_head(FILE* file, const LineTime& t) {
  std::fprintf(file, "DAT %i %i %i %i %i %i\n\n", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// The day's tables, as the state file and the day file hold them; only the state
// file has the sessions.
void write_day_tables(LogParser& parser, FILE* f, bool state_file) {
  parser.hst.write(f);
  parser.pgs.write(f);
  parser.paths.write(f, state_file);
  parser.cds.write(f);
  parser.tps.write(f);
  parser.fls.write(f);
  parser.url.write(f);
}

// Puts the new state file in place of the old one, with the offset in the hit log
// where its lines end: that goes to the position file first, beside the entry of the
// state file it replaces, so either one on disk has its entry. A state file is known
// by what it holds, read back once it is all written.
int commit_state(LogParser& parser, AtomicFile& out, int64_t offset) {
  PositionEntry next;
  if (std::fflush(out.file()) != 0 || print_state(fileno(out.file()), &next.print) != 0) return ERR_FIL;
  next.offset = offset;
  if (save_positions(parser.position, next) != 0 || out.commit() != 0) return ERR_FIL;
  parser.position.state = next;
  parser.position.state_on_disk = true;
  return 0;
}

// The full state file: the day in hand with its visitors, totals, tables and sessions,
// which hold every line read.
int write_state_file(LogParser& parser) {
  AtomicFile out;
  if (out.open(kStateFilePath, InPlace::refuse) != 0) return ERR_FIL;
  FILE* f = out.file();
  write_time_head(f, parser.line_time);
  std::fprintf(f, "IPS\n");
  if (parser.visitors) parser.visitors->write(f);
  std::fprintf(f, "REC\n");
  parser.traffic.write(f);
  write_day_tables(parser, f, true);
  return commit_state(parser, out, parser.position.read_end);
}

// The finished day's tables, under its date.
int write_day_file(LogParser& parser) {
  const DayDate& date = parser.traffic.first_date;
  char name[64];
  day_file_name(name, sizeof name, date.year, date.month, date.day);
  AtomicFile out;
  if (out.open(name, InPlace::refuse) != 0) return ERR_FIL;
  write_day_tables(parser, out.file(), false);
  return out.commit();
}

// The finished day's traffic record as the summary file holds it.
std::string traffic_record(const Traffic& traffic) {
  std::string text;
  char* buffer = nullptr;
  size_t size = 0;
  FILE* memory = open_memstream(&buffer, &size);
  if (!memory) return text;
  traffic.write(memory);
  if (std::fclose(memory) == 0 && buffer) text.assign(buffer, size);
  std::free(buffer);
  return text;
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// What the end of the summary file holds of the record about to be appended: the
// whole record as its last one (a run that appended it was stopped before it could
// write the short state file, so the day is being closed once more), the first
// `*torn` bytes of it (an append cut off), or nothing of it.
enum class SummaryTail { none, whole, torn };

SummaryTail summary_tail(int fd, off_t size, const std::string& record, off_t* torn) {
  const off_t length = static_cast<off_t>(record.size());
  const off_t window = size < length + 1 ? size : length + 1;
  std::string tail(static_cast<size_t>(window), '\0');
  if (window == 0 || read_full_at(fd, &tail[0], tail.size(), size - window) != static_cast<ssize_t>(window)) {
    return SummaryTail::none;
  }
  if (window >= length && tail.compare(tail.size() - record.size(), record.size(), record) == 0 &&
      (window == length || tail[tail.size() - record.size() - 1] == '\n')) {
    return SummaryTail::whole;
  }
  // A cut-off record starts after the empty line that ends the record before it.
  size_t boundary = tail.rfind("\n\n");
  size_t from = boundary == std::string::npos ? (size == window ? 0 : tail.size()) : boundary + 2;
  size_t piece = tail.size() - from;
  if (piece > 0 && piece < record.size() && record.compare(0, piece, tail, from, piece) == 0) {
    *torn = static_cast<off_t>(piece);
    return SummaryTail::torn;
  }
  return SummaryTail::none;
}

// Appends the finished day's traffic record (none for a day without hits). The
// summary is only ever appended to, and never holds a day twice or half a record:
// a record that is already the last one (the close of the day is being repeated) is
// not appended again, a cut-off copy of it is replaced by the whole, and a record
// that cannot be written whole is taken back out. `size_before` is the file's size
// before the append (-1 when nothing was appended or it is unknown).
int append_summary(LogParser& parser, off_t* size_before) {
  *size_before = -1;
  if (parser.traffic.hits == 0) return 0;
  const std::string record = traffic_record(parser.traffic);
  if (record.empty()) return ERR_MEM;
  int fd = open(kSummaryFilePath, O_RDWR | O_APPEND | O_CREAT, 0666);
  if (fd < 0) fd = open(kSummaryFilePath, O_WRONLY | O_APPEND | O_CREAT, 0666);  // no tail to look at
  if (fd < 0) return ERR_FIL;
  struct stat before;
  if (fstat(fd, &before) != 0) {
    close(fd);
    return ERR_FIL;
  }
  off_t size = before.st_size;
  off_t torn = 0;
  switch (summary_tail(fd, size, record, &torn)) {
    case SummaryTail::whole:
      close(fd);
      return 0;
    case SummaryTail::torn:
      if (ftruncate(fd, size - torn) != 0) {
        close(fd);
        return ERR_FIL;
      }
      size -= torn;
      break;
    case SummaryTail::none:
      break;
  }
  bool failed = !write_all(fd, record);
  if (failed && ftruncate(fd, size) != 0) failed = true;
  if (close(fd) != 0) failed = true;
  if (!failed) *size_before = size;
  return failed ? ERR_FIL : 0;
}

// The short state file written at a change of day: the new day's first line's own
// time and its start, so that a run failing later resumes at that line, none of whose
// day is stored.
int write_short_state(LogParser& parser, const LineTime& first_line) {
  AtomicFile out;
  if (out.open(kStateFilePath, InPlace::refuse) != 0) return ERR_FIL;
  write_time_head(out.file(), first_line);
  return commit_state(parser, out, parser.position.line_start);
}

// A whole state file begins with its head and ends where its format ends: every
// section, the head's included, ends in an empty line, but for the "REC" line of a
// day without hits, which has no block and is then the last line. Anything else was
// cut short (or is no state file).
bool whole_state_file(int fd, off_t file_size) {
  static const char kNoHits[] = "\nREC\n";
  const off_t tail = sizeof kNoHits - 1;
  char start[4];
  char end[sizeof kNoHits] = {};
  if (file_size < 6 || read_full_at(fd, start, 4, 0) != 4 || std::memcmp(start, "DAT ", 4) != 0) return false;
  const off_t size = file_size < tail ? file_size : tail;
  if (read_full_at(fd, end, static_cast<size_t>(size), file_size - size) != size) return false;
  return std::memcmp(end + size - 2, "\n\n", 2) == 0 || (size == tail && std::memcmp(end, kNoHits, tail) == 0);
}

// A head that a line could have given (the seconds of a saved time go up to 60).
bool sound_head(const LineTime& t) {
  return t.year >= 1000 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 &&
         t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 60;
}

bool same_day(const LineTime& t, const DayDate& d) { return t.year == d.year && t.month == d.month && t.day == d.day; }

}  // namespace

int close_day(LogParser& parser) {
  const DayDate& date = parser.traffic.first_date;
  if (date.year == 0 || date.month == 0 || date.day == 0) return 0;
  int average = 0;
  if (parser.paths.close_day(&average, parser.pgs) != 0) return ERR_MEM;
  parser.traffic.average_visit_seconds = average;
  return save_day(parser);
}

int save_day(LogParser& parser) {
  const LineTime first_line = parser.line_time;
  parser.line_time.second += 1;  // 59 becomes 60: no carry into the minute
  int result;
  if (same_day(parser.line_time, parser.current_day)) {
    result = write_state_file(parser);
  } else {
    // The day file first: it is replaced whole, so writing it again after a failure
    // later on does no harm, while the summary record must be appended only once.
    result = write_day_file(parser);
    off_t summary_size = -1;
    if (result == 0) result = append_summary(parser, &summary_size);
    if (result == 0) {
      result = write_short_state(parser, first_line);
      // The old state stays, so the next run counts this day again: its record is
      // taken back out of the summary rather than appended a second time then.
      if (result != 0 && summary_size >= 0) truncate(kSummaryFilePath, summary_size);
    }
  }
  if (result != 0) return result;
  clear_day(parser);
  return 0;
}

int load_state(LogParser& parser) {
  FILE* f = std::fopen(kStateFilePath, "r");
  if (!f) {
    // Only a missing file is a fresh start: counting the log again over a state
    // that is there would store its days twice.
    struct stat status;
    return stat(kStateFilePath, &status) != 0 && errno == ENOENT ? 0 : ERR_FIL;
  }
  struct stat status;
  if (fstat(fileno(f), &status) != 0 || !S_ISREG(status.st_mode)) {
    std::fclose(f);
    return ERR_FIL;
  }
  if (!whole_state_file(fileno(f), status.st_size)) {
    std::fclose(f);
    return ERR_TMP;
  }
  // Printed from the file open, which a rename of another over its name leaves as it is.
  StatePrint print;
  if (print_state(fileno(f), &print) != 0) {
    std::fclose(f);
    return ERR_FIL;
  }
  int result = 0;
  while (result == 0 && read_line(f)) {
    char* line = line_buffer;
    strip_line_end(line);
    if (std::strncmp(line, "DAT", 3) == 0) {
      char* cursor = line[3] == ' ' ? line + 4 : line + 3;
      LineTime& t = parser.line_time;
      t.year = next_int_token(' ', &cursor);
      t.month = next_int_token(' ', &cursor);
      t.day = next_int_token(' ', &cursor);
      t.hour = next_int_token(' ', &cursor);
      t.minute = next_int_token(' ', &cursor);
      t.second = next_int_token(' ', &cursor);
      parser.current_day = DayDate{t.year, t.month, t.day};
      parser.traffic.first_date = parser.current_day;
    } else if (std::strcmp(line, "IPS") == 0) {
      if (parser.visitors) result = parser.visitors->read(f);
    } else if (std::strcmp(line, "REC") == 0) {
      result = parser.traffic.read(f, true);
    } else if (std::strcmp(line, "HST") == 0) {
      result = parser.hst.read(f);
    } else if (std::strcmp(line, "PGS") == 0) {
      intArr line_map;
      result = parser.pgs.read(f, line_map);
    } else if (std::strcmp(line, "VIS") == 0) {
      result = parser.paths.read_visits(f, parser.pgs.views.count);
    } else if (std::strcmp(line, "CDS") == 0) {
      result = parser.cds.read(f);
    } else if (std::strcmp(line, "TPS") == 0) {
      result = parser.tps.read(f, true);
    } else if (std::strcmp(line, "FLS") == 0) {
      result = parser.fls.read(f);
    } else if (std::strcmp(line, "URL") == 0) {
      result = parser.url.read(f);
    }
  }
  bool unreadable = std::ferror(f) != 0;
  std::fclose(f);
  if (result != 0) return ERR_MEM;
  if (unreadable) return ERR_FIL;
  if (!sound_head(parser.line_time)) return ERR_TMP;
  parser.position.state.print = print;
  parser.position.state.state_inode = static_cast<uint64_t>(status.st_ino);  // for the earlier position files
  parser.position.state.head = parser.line_time;
  parser.position.state.offset = 0;
  parser.position.state_on_disk = true;
  return 0;
}

void clear_day(LogParser& parser) {
  if (parser.visitors) parser.visitors->clear();
  parser.traffic.reset();
  parser.hst.clear();
  parser.pgs.clear();
  parser.paths.clear();
  parser.cds.siArr::clear();
  parser.tps.clear();
  parser.fls.clear();
  parser.url.clear();
}
