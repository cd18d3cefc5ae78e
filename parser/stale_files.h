#ifndef QM_PARSER_STALE_FILES_H
#define QM_PARSER_STALE_FILES_H

#include <string>

// Removes the temporary files that replacements left when a run was killed midway:
// those of the state file and the day files in "data/" and of the status page (at the
// given path) in its folder, and, in the working folder, those of the configuration
// files that the report program replaces before it starts a parse, once they are a
// minute old (the report program does not take the parser's lock). Called under the
// parser's lock.
void remove_stale_files(const std::string& status_page);

#endif
