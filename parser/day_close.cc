#include "parser/day_close.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/atomic_file.h"
#include "core/bounded_format.h"
#include "core/errors.h"
#include "core/text.h"
#include "core/visitors.h"
#include "parser/log_parser.h"

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

// The full state file: the day in hand with its visitors, totals, tables and sessions.
int write_state_file(LogParser& parser) {
  AtomicFile out;
  if (out.open(kStateFilePath) != 0) return ERR_FIL;
  FILE* f = out.file();
  write_time_head(f, parser.line_time);
  std::fprintf(f, "IPS\n");
  if (parser.visitors) parser.visitors->write(f);
  std::fprintf(f, "REC\n");
  parser.traffic.write(f);
  write_day_tables(parser, f, true);
  return out.commit();
}

// The finished day's tables, under its date.
int write_day_file(LogParser& parser) {
  const DayDate& date = parser.traffic.first_date;
  char name[64];
  day_file_name(name, sizeof name, date.year, date.month, date.day);
  AtomicFile out;
  if (out.open(name) != 0) return ERR_FIL;
  write_day_tables(parser, out.file(), false);
  return out.commit();
}

// Appends the finished day's traffic record (none for a day without hits). The
// summary is only ever appended to; a record that cannot be written whole is taken
// back out, so the file never holds half a record. `size_before` is the file's size
// before the append (-1 when nothing was appended or it is unknown).
int append_summary(LogParser& parser, off_t* size_before) {
  *size_before = -1;
  if (parser.traffic.hits == 0) return 0;
  FILE* f = std::fopen(kSummaryFilePath, "a");
  if (!f) return ERR_FIL;
  struct stat before;
  bool sized = fstat(fileno(f), &before) == 0;
  if (sized) *size_before = before.st_size;
  parser.traffic.write(f);
  bool failed = std::fflush(f) != 0 || std::ferror(f) != 0;
  if (failed && sized && ftruncate(fileno(f), before.st_size) != 0) failed = true;
  if (std::fclose(f) != 0) failed = true;
  return failed ? ERR_FIL : 0;
}

// The short state file written at a change of day: the new day's first line's own
// time, so that a run failing later resumes at that line, none of whose day is stored.
int write_short_state(const LineTime& first_line) {
  AtomicFile out;
  if (out.open(kStateFilePath) != 0) return ERR_FIL;
  write_time_head(out.file(), first_line);
  return out.commit();
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
      result = write_short_state(first_line);
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
      result = parser.paths.read_visits(f);
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
  return unreadable ? ERR_FIL : 0;
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
