#include "core/text.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/bounded_format.h"
#include "core/output.h"

StartTime today;
char line_buffer[kParserLineBuffer];

void set_today(time_t now) {
  struct tm local;
  localtime_r(&now, &local);
  today.now = now;
  today.year = local.tm_year + 1900;
  today.month = local.tm_mon + 1;
  today.day = local.tm_mday;
  today.hour = local.tm_hour;
  today.minute = local.tm_min;
  today.second = local.tm_sec;
}

bool read_line(FILE* file, bool* cut) {
  if (cut) *cut = false;
  // Byte by byte rather than fgets: the line's end is known by count, so a NUL byte
  // inside a line cannot make the rest of that line look like a line of its own.
  int size = line_buffer_size();
  int n = 0;
  int c = 0;
  while (n < size - 1 && (c = getc_unlocked(file)) != EOF) {
    line_buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line_buffer[n] = '\0';
  if (n == 0) return false;
  if (line_buffer[n - 1] != '\n' && c != EOF) {
    // The buffer is full. When only the line end is left the line is whole; otherwise
    // the excess up to and including the line feed is dropped.
    c = getc_unlocked(file);
    if (c == '\n') {
      if (line_buffer[n - 1] == '\r') line_buffer[n - 1] = '\0';  // "\r\n" split by the buffer end
    } else if (c == '\r') {
      c = getc_unlocked(file);
      if (c != '\n' && c != EOF && cut) *cut = true;
    } else if (c != EOF && cut) {
      *cut = true;
    }
    while (c != EOF && c != '\n') c = getc_unlocked(file);
  }
  return true;
}

void strip_line_end(char* text) {
  std::size_t n = std::strlen(text);
  if (n >= 1 && text[n - 1] == '\n') text[n - 1] = '\0';
  if (n >= 2 && text[n - 2] == '\r') text[n - 2] = '\0';
}

int text_to_int(const char* text) {
  // As strtol reads it in the C locale (leading white space, a sign, the digits),
  // held at the int range; by hand, as it runs for every field of every log line.
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= INT64_C(1) << 32) value = value * 10 + (*p - '0');  // past the range it stays past it
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int whole_number(double amount) {
  if (amount != amount) return 0;
  if (amount >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (amount <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(amount);
}

int next_int_token(char delimiter, char** cursor) {
  char* start = *cursor;
  char* p = start;
  while (*p && *p != delimiter) ++p;
  if (*p) {
    *p = '\0';
    *cursor = p + 1;
  } else {
    *cursor = p;
  }
  return text_to_int(start);
}

char* lower_case(char* text) {
  for (char* p = text; *p; ++p) {
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
  }
  return text;
}

int64_t file_size(const char* path) {
  struct stat status;
  if (stat(path, &status) != 0) return 0;
  return static_cast<int64_t>(status.st_size);
}

namespace {
void fprint_magnitude(FILE* file, int64_t value) {
  int64_t q = value / 1000;
  int64_t r = value % 1000;
  if (q != 0) {
    fprint_magnitude(file, q);
    std::fprintf(file, ",%3.3i", static_cast<int>(r));
  } else {
    std::fprintf(file, "%i", static_cast<int>(r));
  }
}
}  // namespace

void fprint_number(FILE* file, int value) {
  int64_t v = value;
  if (v < 0) {
    std::fputs("-", file);
    v = -v;
  }
  fprint_magnitude(file, v);
}

void print_number(int value) { fprint_number(page_stream(), value); }

char* format_duration(int seconds) {
  char* out = line_buffer;
  std::size_t size = static_cast<std::size_t>(line_buffer_size());
  out[0] = '\0';
  int64_t s = seconds;
  if (s < 0) {
    append_format(out, size, "-");
    s = -s;
  }
  int64_t h = s / 3600;
  if (h > 0) append_format(out, size, "%lli:", static_cast<long long>(h));
  append_format(out, size, "%2.2i:", static_cast<int>(s / 60 - 60 * h));
  append_format(out, size, "%2.2i", static_cast<int>(s % 60));
  return out;
}

// Days since 1970-01-01 of a proleptic Gregorian date (valid for any year).
int64_t days_from_date(const DayDate& date) {
  int64_t y = date.year;
  int64_t m = date.month;
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DayDate date_from_days(int64_t days) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t doe = days - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  DayDate date;
  date.year = static_cast<int>(y + (m <= 2));
  date.month = static_cast<int>(m);
  date.day = static_cast<int>(d);
  return date;
}

int weekday_of(const DayDate& date) {
  int64_t w = (days_from_date(date) + 4) % 7;  // 1970-01-01 was a Thursday
  return static_cast<int>(w < 0 ? w + 7 : w);
}

int days_in_month(int year, int month) {
  static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return lengths[month - 1];
}

void report_time_frame(DayDate& from, DayDate& to, const char* word) {
  if (!word) return;
  DayDate t;
  t.year = today.year;
  t.month = today.month;
  t.day = today.day;
  int64_t td = days_from_date(t);
  if (std::strcmp(word, "custom") == 0) {
    if (from.year == 0 && from.month == 0 && from.day == 0) from = to;
  } else if (std::strcmp(word, "cday") == 0) {
    from = to = t;
  } else if (std::strcmp(word, "pday") == 0) {
    from = to = date_from_days(td - 1);
  } else if (std::strcmp(word, "cweek") == 0) {
    from = date_from_days(td - weekday_of(t));
    to = t;
  } else if (std::strcmp(word, "pweek") == 0) {
    DayDate p = date_from_days(td - 7);
    int64_t sunday = days_from_date(p) - weekday_of(p);
    from = date_from_days(sunday);
    to = date_from_days(sunday + 6);
  } else if (std::strcmp(word, "cmonth") == 0) {
    from = DayDate{t.year, t.month, 1};
    to = t;
  } else if (std::strcmp(word, "pmonth") == 0) {
    int y = t.month == 1 ? t.year - 1 : t.year;
    int m = t.month == 1 ? 12 : t.month - 1;
    from = DayDate{y, m, 1};
    to = DayDate{y, m, days_in_month(y, m)};
  } else if (std::strcmp(word, "cyear") == 0) {
    from = DayDate{t.year, 1, 1};
    to = DayDate{t.year, 12, 31};
  } else if (std::strcmp(word, "pyear") == 0) {
    from = DayDate{t.year - 1, 1, 1};
    to = DayDate{t.year - 1, 12, 31};
  } else if (std::strcmp(word, "ssumm") == 0 || std::strcmp(word, "lsumm") == 0) {
    from = DayDate{};
    to = t;
  }
}
