#ifndef QM_PARSER_LOG_POSITION_H
#define QM_PARSER_LOG_POSITION_H

#include <cstdint>

#include "parser/log_format.h"

// Where the counted lines of the hit log end. The parser keeps it in a file of its
// own beside the state file, written before each state file, so that a run resumes
// at the first line it has not counted, whatever the lines' times say.
constexpr const char* kPositionFilePath = "data/pos.log";

// The hit log a position is in: its device and inode, and a hash of its first line
// (with its line end, at most 20480 bytes), which a log that was removed or emptied
// and written anew does not share. `length` 0 stands for any log (a position at its
// start), -1 for none (the log was gone).
struct LogPrint {
  uint64_t device = 0;
  uint64_t inode = 0;
  int32_t length = 0;
  uint64_t hash = 0;
};

// One state file (by its inode and its "DAT" head) and the offset in the hit log
// where the lines it holds end.
struct PositionEntry {
  uint64_t state_inode = 0;
  LineTime head;
  int64_t offset = 0;
  LogPrint log;
};

// The parser's place in the hit log during a run.
struct LogPosition {
  int64_t line_start = 0;      // where the line in hand starts
  int64_t read_end = 0;        // where the lines read so far end
  bool state_on_disk = false;  // a state file was loaded or has been written
  PositionEntry state;         // that state file, and where its lines end in the log being read
  LogPrint log;                // the log being read, once known
  bool log_known = false;
};

// Makes and removes a temporary file in data/, before anything is changed: 0;
// -11 when the folder refuses new files; -4 when it fails otherwise.
int check_data_folder();

// How the run is to find its first line: at the state's saved offset (the same log,
// at least that long), from the start (another log, or none), or by the lines'
// times (no position applies: no entry for the state, a damaged position file, or a
// log with the same first line that is another file).
enum class ResumeBy { offset, start, time };

// Looks the state file up in the position file and the hit log up against the
// entry; sets `offset` for ResumeBy::offset.
ResumeBy find_position(const PositionEntry& state, int64_t* offset);

// Writes the position file with the state file on disk (when there is one) and the
// one about to replace it, so that a run stopped between the two writes still finds
// the entry of the state it loads; only `next` when it is the entry of the state on
// disk. 0 or -4.
int save_positions(LogPosition& position, const PositionEntry& next);

#endif
