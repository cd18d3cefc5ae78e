#ifndef QM_TRACKER_TRACKER_ERROR_H
#define QM_TRACKER_TRACKER_ERROR_H

#include "tracker/tracker_time.h"

// The tracker's own two failures (numbered apart from the other programs' codes).
constexpr int kTrackerFileError = -1;   // "ERR_FIL": lock file or hit log unusable
constexpr int kTrackerInputError = -2;  // "ERR_INP": no "dir=" value or no "ref=" key

// Appends one line for the code to "data/err.log", stamped with the program's
// start time and tagged "STTS", with the client's address and user agent ("na"
// when unset). 1 for code 0 (nothing written), else 0; a line that cannot be
// written is dropped.
int log_tracker_error(int code, const TrackerTime& start);

#endif
