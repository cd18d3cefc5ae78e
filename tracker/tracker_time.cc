#include "tracker/tracker_time.h"

TrackerTime tracker_time_at(time_t now) {
  TrackerTime result;
  struct tm local {};
  if (!localtime_r(&now, &local)) return result;
  result.year = local.tm_year + 1900;
  result.month = local.tm_mon + 1;
  result.day = local.tm_mday;
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  result.second = local.tm_sec;
  return result;
}

TrackerTime tracker_time_now() { return tracker_time_at(time(nullptr)); }
