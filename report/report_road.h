#ifndef QM_REPORT_REPORT_ROAD_H
#define QM_REPORT_REPORT_ROAD_H

#include "core/text.h"

// A report request: loads the definition files, works out the time frame of the
// "type" word (from and to stay as posted for an unknown word), reads the
// statistics of the range and writes the report page. "ssumm" reads the traffic
// totals only, and its summary shows no referrer sources. On a failure the error page is written instead (the tables are
// freed after it). Always 0.
int run_report(const char* type, DayDate from, DayDate to);

#endif
