#ifndef QM_CORE_DATA_FILES_H
#define QM_CORE_DATA_FILES_H

#include <cstddef>

// The statistics databases in "data/": the parser writes them, the report program
// reads them.
constexpr const char* kStateFilePath = "data/tmp.log";    // the unfinished day
constexpr const char* kSummaryFilePath = "data/sts.log";  // one traffic record per finished day

// Each finished day's tables: "data/%i%2.2i%2.2i.log" (year, month, day), cut to the
// area's size.
void day_file_name(char* area, std::size_t size, int year, int month, int day);

#endif
