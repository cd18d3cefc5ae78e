#ifndef QM_REPORT_PARSE_START_H
#define QM_REPORT_PARSE_START_H

class FormInput;

// The "parse" request: takes the posted log format ("FRM") and log location
// ("LOG") into the configuration and saves it, answers with the page that loads
// the status page after 3 seconds, and starts "parser.cgi" from the working
// directory without waiting for it. 0; or the status of a refused request (-7,
// a log location too long to keep) or of a failed save (-4), when nothing has
// been written and no parser started.
int start_parse(const FormInput& form);

#endif
