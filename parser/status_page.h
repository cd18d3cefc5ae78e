#ifndef QM_PARSER_STATUS_PAGE_H
#define QM_PARSER_STATUS_PAGE_H

#include <ctime>
#include <string>

struct LogParser;

// The parser's status page "status.html": its progress, completion and error page,
// which the owner's browser reloads while a parse runs. Every write replaces the
// whole page at once, so a reload never shows half a page.

// Where the page goes: DOCUMENT_ROOT followed by the configured DIR and "status.html"
// when DIR is set, else "status.html" in the working directory.
std::string status_page_path();

// For a non-zero code: the error page with the code's message (and the reason, such
// as the system's word for a failure, when one is given), and an error-log line
// tagged "PRSR". Always 0.
int show_parser_error(int code, const char* reason = nullptr);

// The running page (reloads itself every 3 seconds) or the completion page, with the
// parser's progress figures; 0, or -4 when the page cannot be written.
int write_progress_page(LogParser& parser, bool running);
// The same with the clock reading given.
int write_progress_page(LogParser& parser, bool running, time_t now);

#endif
