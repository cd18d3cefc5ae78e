#ifndef QM_TESTS_SUPPORT_CONFIG_FILE_H
#define QM_TESTS_SUPPORT_CONFIG_FILE_H

#include <string>

// A "config.cfg" that loads: the password line, empty for an installation without a
// password (a file without one is refused as damaged), then the lines given.
inline std::string config_file(const std::string& other_lines = "") { return "PSW \n" + other_lines; }

#endif
