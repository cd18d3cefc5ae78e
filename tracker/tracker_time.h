#ifndef QM_TRACKER_TRACKER_TIME_H
#define QM_TRACKER_TRACKER_TIME_H

#include <ctime>

// A local date and time as the tracker writes it into its log lines.
struct TrackerTime {
  int year = 0;  // full year, e.g. 2024
  int month = 0;  // 1-12
  int day = 0;  // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The clock reading `now` in the local time zone.
TrackerTime tracker_time_at(time_t now);
// The clock now, in the local time zone.
TrackerTime tracker_time_now();

#endif
