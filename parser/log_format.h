#ifndef QM_PARSER_LOG_FORMAT_H
#define QM_PARSER_LOG_FORMAT_H

#include <cstdint>

// The hit-log line format language. A format is a sequence of fields, "%" and one
// letter of `format_letters`, each ended by the separator text that follows it; a
// line is split by finding the separators in order and cutting them in place.

// Field letters; a letter's index is its position in this text.
extern const char format_letters[];  // "?hidmMyHnsfcbrua"

enum FormatLetter {
  LETTER_ANY = 0,      // ? any text, ignored
  LETTER_HOST,         // h client host name
  LETTER_ADDRESS,      // i client IPv4 address
  LETTER_DAY,          // d day of the month
  LETTER_MONTH_NAME,   // m "Jan" to "Dec"
  LETTER_MONTH,        // M month number
  LETTER_YEAR,         // y year
  LETTER_HOUR,         // H hour
  LETTER_MINUTE,       // n minute
  LETTER_SECOND,       // s second
  LETTER_PAGE,         // f requested page path
  LETTER_STATUS,       // c status code
  LETTER_BYTES,        // b bytes transferred, or "-"
  LETTER_REFERRER,     // r referrer
  LETTER_AGENT,        // u user agent
  LETTER_AM_PM,        // a am/pm marker
  FORMAT_LETTER_COUNT
};

// At most this many fields and separators in a format.
constexpr int kMaxFormatParts = 25;

// The one format the parser reads: the tracker's hit line.
extern const char kBuiltInFormat[];  // "%M/%d/%y %H:%n:%s %i %h \"%f\" \"%r\" \"%u\""

// The date and time of a hit line (second may be 60 in a saved time).
struct LineTime {
  int32_t year = 0;
  int32_t month = 0;  // 1-12
  int32_t day = 0;    // 1-31
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
};

// -1, 0 or 1 as the first time is earlier than, the same second as or later than the
// second, component by component (so a second of 60 lies before the next minute).
inline int compare_times(const LineTime& a, const LineTime& b) {
  if (a.year != b.year) return a.year < b.year ? -1 : 1;
  if (a.month != b.month) return a.month < b.month ? -1 : 1;
  if (a.day != b.day) return a.day < b.day ? -1 : 1;
  if (a.hour != b.hour) return a.hour < b.hour ? -1 : 1;
  if (a.minute != b.minute) return a.minute < b.minute ? -1 : 1;
  if (a.second != b.second) return a.second < b.second ? -1 : 1;
  return 0;
}

struct LogParser;

// Compiles the built-in format into the parser, then loads the page-extension list;
// 0, or -8 when memory runs out.
int compile_format(LogParser& parser);
// Compiles a format text (copied, so the text is not changed); 0, -8 when memory runs
// out, -5 when it has more fields or separators than the parser holds.
int compile_log_format(LogParser& parser, const char* format);

// Cuts the line into its fields in place; `values` of the format's letters then point
// into it. 0, or -5 when a separator is missing.
int split_line(LogParser& parser, char* line);
// Month (1-12 from a month name) and hour of the line last split.
int line_month(const LogParser& parser);
int line_hour(const LogParser& parser);
// The date and time of the line last split; -5 when any of them is out of range (a
// damaged line), which the reader treats like a line that does not split.
int read_line_time(const LogParser& parser, LineTime* time);

#endif
