#ifndef QM_PARSER_LOG_PARSER_H
#define QM_PARSER_LOG_PARSER_H

#include <cstdint>

#include "core/file_types.h"
#include "core/pages.h"
#include "core/paths.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/traffic.h"
#include "core/visitors.h"
#include "parser/file_lock.h"
#include "parser/log_format.h"
#include "parser/log_position.h"

// The parser's one working object for a run: the compiled line format, the fields of
// the line in hand, the day being counted, the progress counters and the day's tables.
struct LogParser {
  DayDate current_day;  // the day whose hits are being counted; zeros until known
  // Time of the last counted line; at the start, that of the state file's last line
  // (its saved time less a second). A line stamped earlier is counted at this time:
  // the parser's clock never goes back.
  LineTime line_time;
  double lines_counted = 0;  // lines of this run that split into fields
  double bytes_read = 0;     // bytes of the hit log read in this run
  double bytes_to_read = 0;  // the log's size minus the offset where reading starts

  int32_t separator_count = 0;
  int32_t separator_lengths[kMaxFormatParts] = {};
  char* separators[kMaxFormatParts] = {};  // owned copies, in format order
  int32_t field_count = 0;
  int32_t field_letters[kMaxFormatParts] = {};  // letter index of each field
  bool letter_used[FORMAT_LETTER_COUNT] = {};
  char* values[FORMAT_LETTER_COUNT] = {};  // into the line last split; null for letters not used

  IPs* visitors = nullptr;  // the day's visitors (owned); made by parse_log
  Traffic traffic;          // the day's totals; its first date is the day being counted
  Hst hst;                  // visiting host domains
  Pgs pgs;                  // page views
  Paths paths;              // visitor path tree and sessions
  Cds cds;                  // status codes
  Tps tps;                  // file types
  Fls fls;                  // requested files
  Url url;                  // referring URLs

  LogPosition position;  // where the lines read and saved end in the hit log

  // Held from the final read of the hit log until the log is removed, so that no hit
  // the tracker appends in between is lost.
  FileLock tracker_lock;

  LogParser();
  ~LogParser();
  LogParser(const LogParser&) = delete;
  LogParser& operator=(const LogParser&) = delete;

  // Forgets the compiled format and frees the separator copies.
  void clear_format();
};

#endif
