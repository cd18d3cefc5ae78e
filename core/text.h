#ifndef QM_CORE_TEXT_H
#define QM_CORE_TEXT_H

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "core/program.h"

// A calendar day; all zeros stands for no date.
struct DayDate {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
};

// The program's start time in local time, read once at start. Time frames, date
// pickers, page footers and log lines use it, not the clock.
struct StartTime {
  time_t now = 0;
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};
extern StartTime today;

// Fills `today` from a clock reading in the local time zone.
void set_today(time_t now);

// The one process-wide line buffer; line_buffer_size() of it is used in this build.
extern char line_buffer[kParserLineBuffer];

// Reads one line of a text file into the line buffer. A line longer than the buffer
// is cut: its excess is read and dropped (`cut` tells), so it never turns into more
// than one line. A line whose text fits but whose line end does not arrives whole,
// without its line end. False at the end of the file.
bool read_line(FILE* file, bool* cut = nullptr);

// Cuts a trailing line feed, and independently a carriage return before the last byte.
void strip_line_end(char* text);
// Cuts the next token at the delimiter and returns it read as atoi reads it.
int next_int_token(char delimiter, char** cursor);
// Reads a decimal number as atoi does, clamped to the int range (no undefined overflow).
int text_to_int(const char* text);
// An amount truncated toward zero and held within the int range; not-a-number gives 0.
int whole_number(double amount);
// Lower-cases A-Z in place; returns the text.
char* lower_case(char* text);
// The file's size in bytes, 0 when its status cannot be read.
int64_t file_size(const char* path);
// Writes the value with "," thousands groups to the page (-1,234 for negatives).
void print_number(int value);
// The same into a file.
void fprint_number(FILE* file, int value);
// The duration as [h:]mm:ss in the line buffer (-[h:]mm:ss for negatives).
char* format_duration(int seconds);
// Sets a report's first and last day from a time-frame word and `today`.
void report_time_frame(DayDate& from, DayDate& to, const char* word);

// Calendar helpers on dates (never on seconds, so daylight saving cannot shift a day).
int64_t days_from_date(const DayDate& date);
DayDate date_from_days(int64_t days);
// 0 Sunday to 6 Saturday.
int weekday_of(const DayDate& date);
int days_in_month(int year, int month);

#endif
