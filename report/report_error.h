#ifndef QM_REPORT_REPORT_ERROR_H
#define QM_REPORT_REPORT_ERROR_H

// The end of a request. 0 writes nothing; any other status writes the error page
// with the code's message into the response (whose header is already out) and
// appends an error-log line tagged "RPRT". Always 0.
int show_report_error(int code);

#endif
