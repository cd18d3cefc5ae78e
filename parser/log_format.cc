#include "parser/log_format.h"

#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/memory.h"
#include "core/text.h"
#include "parser/log_parser.h"

const char format_letters[] = "?hidmMyHnsfcbrua";
const char kBuiltInFormat[] = "%M/%d/%y %H:%n:%s %i %h \"%f\" \"%r\" \"%u\"";

namespace {

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The number in a field as atoi reads it; 0 for a letter the format lacks.
int field_number(const LogParser& parser, int letter) {
  const char* value = parser.values[letter];
  return value ? text_to_int(value) : 0;
}

// The first place of the separator in the text (as strstr finds it), looked for
// by its first byte: the separators are a byte or two, and this runs for every
// field of every line.
char* find_separator(char* text, const char* separator, int32_t length) {
  for (char* p = text; (p = std::strchr(p, separator[0])) != nullptr; ++p) {
    if (std::strncmp(p + 1, separator + 1, static_cast<std::size_t>(length - 1)) == 0) return p;
  }
  return nullptr;
}

int letter_index(char letter) {
  if (letter == '\0') return -1;
  const char* found = std::strchr(format_letters, letter);
  return found ? static_cast<int>(found - format_letters) : -1;
}

int compile_parts(LogParser& parser, char* text) {
  char* cursor = text;
  for (;;) {
    char* percent = std::strchr(cursor, '%');
    if (percent) *percent = '\0';
    if (*cursor) {
      if (parser.separator_count == kMaxFormatParts) return ERR_FRM;
      char* copy = copy_text(cursor);
      if (!copy) return ERR_MEM;
      parser.separators[parser.separator_count] = copy;
      parser.separator_lengths[parser.separator_count] = static_cast<int32_t>(std::strlen(copy));
      ++parser.separator_count;
    }
    if (!percent) return 0;
    char letter = percent[1];
    int k = letter_index(letter);
    if (k >= 0) {
      if (parser.field_count == kMaxFormatParts) return ERR_FRM;
      parser.field_letters[parser.field_count++] = k;
      parser.letter_used[k] = true;
    }
    if (letter == '\0') return 0;
    cursor = percent + 2;
    if (*cursor == '\0') return 0;
  }
}

}  // namespace

void LogParser::clear_format() {
  for (int i = 0; i < separator_count; ++i) {
    std::free(separators[i]);
    separators[i] = nullptr;
    separator_lengths[i] = 0;
  }
  separator_count = 0;
  field_count = 0;
  for (int k = 0; k < FORMAT_LETTER_COUNT; ++k) {
    letter_used[k] = false;
    values[k] = nullptr;
  }
}

int compile_log_format(LogParser& parser, const char* format) {
  parser.clear_format();
  char* text = copy_text(format);
  if (!text) return ERR_MEM;
  int result = compile_parts(parser, text);
  std::free(text);
  if (result != 0) parser.clear_format();
  return result;
}

int compile_format(LogParser& parser) {
  int result = compile_log_format(parser, kBuiltInFormat);
  return result != 0 ? result : parser.pgs.load_extensions();
}

int split_line(LogParser& parser, char* line) {
  // Fields a failed split does not reach must not keep pointers into an older line.
  for (int i = 0; i < parser.field_count; ++i) parser.values[parser.field_letters[i]] = nullptr;
  char* p = line;
  for (int i = 0; i < parser.field_count; ++i) {
    parser.values[parser.field_letters[i]] = p;
    if (i < parser.separator_count) {
      char* found = find_separator(p, parser.separators[i], parser.separator_lengths[i]);
      if (!found) return ERR_FRM;
      *found = '\0';
      p = found + parser.separator_lengths[i];
    }
  }
  return 0;
}

int line_month(const LogParser& parser) {
  if (parser.letter_used[LETTER_MONTH_NAME]) {
    const char* name = parser.values[LETTER_MONTH_NAME];
    if (!name) return 1;
    for (int m = 0; m < 12; ++m) {
      if (std::strncmp(name, kMonthNames[m], 3) == 0) return m + 1;
    }
    return 1;
  }
  return field_number(parser, LETTER_MONTH);
}

int line_hour(const LogParser& parser) {
  int hour = field_number(parser, LETTER_HOUR);
  if (parser.letter_used[LETTER_AM_PM]) {
    // A 12-hour clock: PM adds 12 hours, but 12 AM is hour 0 and 12 PM hour 12. A
    // damaged hour stays out of range, so its line is skipped.
    const char* marker = parser.values[LETTER_AM_PM];
    bool pm = marker && (marker[0] == 'P' || marker[0] == 'p');
    if (hour == 12) {
      hour = pm ? 12 : 0;
    } else if (pm && hour < 24) {
      hour += 12;
    }
  }
  return hour;
}

int read_line_time(const LogParser& parser, LineTime* time) {
  time->year = field_number(parser, LETTER_YEAR);
  time->month = line_month(parser);
  time->day = field_number(parser, LETTER_DAY);
  time->hour = line_hour(parser);
  time->minute = field_number(parser, LETTER_MINUTE);
  time->second = field_number(parser, LETTER_SECOND);
  bool in_range = time->year >= 1000 && time->year <= 9999 && time->month >= 1 && time->month <= 12 &&
                  time->day >= 1 && time->day <= 31 && time->hour >= 0 && time->hour <= 23 &&
                  time->minute >= 0 && time->minute <= 59 && time->second >= 0 && time->second <= 59;
  return in_range ? 0 : ERR_FRM;
}
