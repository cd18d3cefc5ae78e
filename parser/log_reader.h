#ifndef QM_PARSER_LOG_READER_H
#define QM_PARSER_LOG_READER_H

#include <sys/types.h>

#include <cstdint>

#include "parser/log_format.h"

struct LogParser;

// The hit log the tracker appends to, and the tracker's lock on it.
constexpr const char* kHitLogPath = "data/qmy.log";
constexpr const char* kTrackerLockPath = "data/stt.lck";
// Where a counted hit log is renamed on its way out, before it is removed.
constexpr const char* kParsedLogPath = "data/qmy.log.parsed";

// Accounts one hit line: called for every line that split into fields with a date and
// time in range, with the parser's `values` pointing into it. 0, or a negative code
// that ends the reading with that code.
using LineCounter = int (*)(LogParser& parser);

// The run's reading: checks that data/ takes new files, makes the visitor table (by
// address when the format has one, else by host name), restores the unfinished day,
// finishes the removal of a log that a stopped run left renamed aside, finds where
// the unread lines begin (by the saved position, else by the saved time, which is
// noted in the error log and on the completion page), counts every line from there,
// closes the day (not when no line was counted) and writes the completion page. 0;
// -11 when data/ takes no new files; -8 when the visitor table cannot be made; -13
// when the state file is damaged, -4 when it cannot be loaded or the position file
// not written; or the error of the search, the reading, the counting or the day
// close.
int parse_log(LogParser& parser);

// Reads the hit log from the byte offset to its end through the shared line buffer,
// hands every good line to the counter and writes the running progress page before
// every 20000th line. Empty lines, "#" lines, lines that do not split, lines with a
// damaged date or time and lines that do not fit the buffer are skipped. At the end of
// the log the tracker's lock is taken and what was appended meanwhile is read too; the
// lock stays held in the parser until `remove_hit_log` (or the parser's end). The
// parser's `position` holds where the line in hand starts and, at the end, where the
// lines read end.
// 0; -6 when the log cannot be opened or a read fails; -4 when the tracker's lock
// cannot be taken; or the counter's code.
int read_hit_log(LogParser& parser, int64_t offset, LineCounter count_line);

// Removes the hit log read after a successful run, then lets the tracker go on. The
// log is renamed aside, the position saved as the start of the next log, and only
// then is the file removed, so that the saved position never names a log that is
// gone (whose inode and first line a new log may get). A log whose name leads
// elsewhere by now (renamed away by a rotation) is not touched, nor the new one
// under its name. A log that cannot be renamed is emptied instead. 0, or -12 when
// the log can be neither renamed nor emptied (`cause`, when given, then holds the
// rename's errno): the saved position keeps its lines from being counted again.
int remove_hit_log(LogParser& parser, int* cause = nullptr);

// The offset of the first line of the hit log whose time is not older than the saved
// time (the end of the log when every line is older). Lines that cannot be compared
// (too long for the buffer, not splitting, a damaged date or time) are passed over,
// wherever they stand. 0, or -6 when the log cannot be opened or read. The offset is
// 0 on failure.
int find_resume_offset(LogParser& parser, const LineTime& saved, int64_t* offset);

// One read at an offset, repeated when a signal interrupts it; -1 on failure.
ssize_t read_some_at(int fd, char* into, size_t bytes, int64_t offset);

// Reads `bytes` at `offset`, fewer only at the end of the file; -1 when a read fails.
ssize_t read_full_at(int fd, char* into, size_t bytes, int64_t offset);

// Splits the line (in place) and compares its time with the saved time: -1 when older
// or when the line does not split or has a damaged date or time, 0 when the same
// second, 1 when newer.
int compare_line_time(LogParser& parser, char* line, const LineTime& saved);

#endif
