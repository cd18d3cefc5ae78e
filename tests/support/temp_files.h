#ifndef QM_TESTS_TEMP_FILES_H
#define QM_TESTS_TEMP_FILES_H

#include <cstdio>
#include <string>

// An anonymous temporary file holding the text, positioned at its start. The caller
// closes it.
inline FILE* file_with(const std::string& text) {
  FILE* file = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), file);
  std::rewind(file);
  return file;
}

// What a table's write operation puts into a file, byte for byte.
template <typename Table>
std::string written(const Table& table) {
  FILE* file = std::tmpfile();
  table.write(file);
  std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  text.resize(std::fread(&text[0], 1, text.size(), file));
  std::fclose(file);
  return text;
}

#endif
