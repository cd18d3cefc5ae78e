#ifndef QM_PARSER_DAY_CLOSE_H
#define QM_PARSER_DAY_CLOSE_H

struct LogParser;

#include "core/data_files.h"

// Ends the day in hand (nothing before the first day is known): completes its path
// statistics and saves it. 0, -8 when the paths cannot be completed, or save_day's -4.
int close_day(LogParser& parser);

// Adds one second to the last line's time, then writes the day: the full state file
// when that line belongs to the day in hand (the end of a run); otherwise the day is
// finished: its day file, its traffic record appended to the summary file (when it
// has hits) and the short state file for the new day. Empties the day's tables on
// success. Files are replaced whole or not at all: 0, or -4 when a file cannot be
// written, and then the tables are kept.
int save_day(LogParser& parser);

// Restores the unfinished day from the state file; no state file is a fresh start.
// 0; -13 when it is damaged (it does not begin with its head or end where its format
// ends, or its head holds no time); -4 when it exists but cannot be opened or read;
// -8 when a section cannot be loaded.
int load_state(LogParser& parser);

// Empties the day's tables; the day and the last line's time stay.
void clear_day(LogParser& parser);

#endif
