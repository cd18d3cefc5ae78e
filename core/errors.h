#ifndef QM_CORE_ERRORS_H
#define QM_CORE_ERRORS_H

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

#endif
