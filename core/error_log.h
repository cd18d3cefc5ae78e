#ifndef QM_CORE_ERROR_LOG_H
#define QM_CORE_ERROR_LOG_H

#include <string>

// The error log every program appends to, the tracker included, one line per reported
// failure. Once it has passed kErrorLogLimit bytes it is moved to kOldErrorLogPath,
// replacing the older log there.
constexpr const char* kErrorLogPath = "data/err.log";
constexpr const char* kOldErrorLogPath = "data/err.log.1";
constexpr long kErrorLogLimit = 1024L * 1024;

// Appends the line in one write under an exclusive lock on the log (created when
// missing, never truncated), and moves the log aside once it has passed its limit.
// A line that cannot be written is dropped.
void append_to_error_log(const std::string& line);

#endif
