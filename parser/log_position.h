#ifndef QM_PARSER_LOG_POSITION_H
#define QM_PARSER_LOG_POSITION_H

#include <cstdint>

#include "parser/log_format.h"

// Where the counted lines of the hit log end. The parser keeps it in a file of its
// own beside the state file, written before each state file, so that a run resumes
// at the first line it has not counted, whatever the lines' times say.
constexpr const char* kPositionFilePath = "data/pos.log";

// The hit log a position is in: its device and inode, and a hash of its first
// `length` bytes (its first line in older position files; now all it held, up to
// 20480 bytes), which another log does not share, while a copy of it (a restored
// or moved data/) does. `length` 0 stands for any log (a position at its start), -1
// for none (the log was gone).
struct LogPrint {
  uint64_t device = 0;
  uint64_t inode = 0;
  int32_t length = 0;
  uint64_t hash = 0;
};

// What a state file holds: its length and a hash of its bytes. A state file is known
// by it wherever it lies, so that a copy, a restore or a file given a freed inode is
// still told from the others.
struct StatePrint {
  int64_t length = -1;  // -1: none taken
  uint64_t hash = 0;
};

// The print of the file open at `fd`, read from its start to its end: 0, or -4 when
// it cannot be read.
int print_state(int fd, StatePrint* print);

// One state file and the offset in the hit log where the lines it holds end. The
// state is known by its print; in position files of the earlier form, which have
// none, by its inode and its "DAT" head.
struct PositionEntry {
  StatePrint print;
  uint64_t state_inode = 0;
  LineTime head;
  int64_t offset = 0;
  LogPrint log;
};

// The hit log a run reads, held open from its first use to the end of the run, so
// that every place recorded, and the removal, belong to the file read, whatever its
// name leads to meanwhile (a log renamed away by a rotation).
class OpenLog {
 public:
  OpenLog() = default;
  ~OpenLog() { close(); }
  OpenLog(const OpenLog&) = delete;
  OpenLog& operator=(const OpenLog&) = delete;

  // Opens the hit log unless it is open already: 0, or -6 when it cannot be opened.
  int open();
  void close();
  int fd() const { return fd_; }
  // True when the hit log's name still leads to the file open.
  bool still_named() const;

 private:
  int fd_ = -1;
};

// The parser's place in the hit log during a run.
struct LogPosition {
  int64_t line_start = 0;      // where the line in hand starts
  int64_t read_end = 0;        // where the lines read so far end
  bool state_on_disk = false;  // a state file was loaded or has been written
  PositionEntry state;         // that state file, and where its lines end in the log being read
  LogPrint log;                // the log being read, once known
  bool log_known = false;
  OpenLog file;                // the log being read
  // The state's place was not found (its entry in the position file was lost), so
  // the lines before the first one not older than the saved time were passed over.
  bool place_lost = false;
  int64_t lines_passed_over = 0;
};

// Makes and removes a temporary file in data/, before anything is changed: 0;
// -11 when the folder refuses new files; -4 when it fails otherwise.
int check_data_folder();

// How the run is to find its first line: at the state's saved offset (the same log
// or a copy of it, at least that long), from the start (another log, or none), or
// by the lines' times (no entry for the state: the position file is missing, damaged
// or written for other states).
enum class ResumeBy { offset, start, time };

// Looks the state file up in the position file (by its print) and the run's hit log
// up against the entry; sets `offset` for ResumeBy::offset. A log the entry names is
// never gone (it is renamed aside before the entry changes to its start, and removed
// only after), so a log that holds what the entry recorded of it is that log.
ResumeBy find_position(LogPosition& position, int64_t* offset);

// True when the state's entry in the position file names the log at `path` (a log
// renamed aside on its way out).
bool position_names(const PositionEntry& state, const char* path);

// Writes the position file with the state file on disk (when there is one) and the
// one about to replace it, so that a run stopped between the two writes still finds
// the entry of the state it loads; only `next` when it is the entry of the state on
// disk. 0 or -4.
int save_positions(LogPosition& position, const PositionEntry& next);

#endif
