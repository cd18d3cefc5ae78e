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

// How often the text holds `what`.
inline int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

#endif
