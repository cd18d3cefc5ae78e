#ifndef QM_TESTS_SUPPORT_FILE_TEXT_H
#define QM_TESTS_SUPPORT_FILE_TEXT_H

#include <fstream>
#include <sstream>
#include <string>

// The whole content of a file, byte for byte; empty when it cannot be read.
inline std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

#endif
