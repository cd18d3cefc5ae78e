#ifndef QM_PARSER_LINE_ACCOUNTING_H
#define QM_PARSER_LINE_ACCOUNTING_H

struct LogParser;

// Counts the hit line last split into the day's statistics: a change of day first
// closes the finished day; then the hit, its bytes, the status code, the page view,
// the visitor with its path step and, for a visitor new to the day, the hourly new
// visitors, operating system and browser, host domain and referrer. Field texts are
// changed in place. 0, -8 when a table cannot grow, or the day close's error.
int count_line(LogParser& parser);

#endif
