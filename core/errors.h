#ifndef QM_CORE_ERRORS_H
#define QM_CORE_ERRORS_H

#include "core/error_log.h"

// Status results shared by the parser and the report program: 0 or one of these.
constexpr int ERR_OK = 0;
constexpr int ERR_EDB = -3;  // the statistics database cannot be opened
constexpr int ERR_FIL = -4;  // a file cannot be opened (or written)
constexpr int ERR_FRM = -5;  // invalid log format
constexpr int ERR_LOG = -6;  // the hit log cannot be opened or read
constexpr int ERR_INP = -7;  // invalid program input
constexpr int ERR_MEM = -8;  // out of memory
constexpr int ERR_PSW = -9;  // wrong program password
constexpr int ERR_PMM = -10; // new and confirmed passwords differ
constexpr int ERR_DIR = -11; // the data folder takes no new files
constexpr int ERR_RMV = -12; // the hit log can be neither removed nor emptied
constexpr int ERR_TMP = -13; // the state file is damaged
constexpr int ERR_POS = -14; // the parser's place in the hit log was lost: found by the lines' times

// The code's name ("ERR_FIL"); an empty text for 0 and for codes outside the table.
const char* error_name(int code);
// The code's message, an HTML fragment written into pages as it is; empty as above.
const char* error_message(int code);

// Appends one line for the code to the error log: the start date and time of the
// program (`today`), the code's name, the program's four-letter tag, the client's
// address and user agent ("na" where unset). The log is only ever appended to
// (created when missing) and moved aside when it has grown past its limit; a line
// that cannot be written is dropped. Nothing for 0.
void append_error_log(int code, const char* tag);

#endif
