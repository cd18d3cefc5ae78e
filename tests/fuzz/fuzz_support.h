#ifndef QM_TESTS_FUZZ_FUZZ_SUPPORT_H
#define QM_TESTS_FUZZ_FUZZ_SUPPORT_H

// What every fuzz harness shares: one scratch working directory per process, the
// input cut into the files it stands for, and the process-wide state put back to
// the same start before every input so that a finding replays alike.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/program.h"
#include "core/text.h"

namespace fuzz {

// The parts of an input are separated by this line; a hand-written seed stays readable.
constexpr char kSeparator[] = "\n~~~~\n";

// The input cut at every separator; the last part runs to the input's end.
inline std::vector<std::string> split_parts(const uint8_t* data, size_t size) {
  std::vector<std::string> parts;
  const char* text = reinterpret_cast<const char*>(data);
  const size_t separator = sizeof kSeparator - 1;
  size_t at = 0;
  for (;;) {
    const void* found = size - at >= separator ? memmem(text + at, size - at, kSeparator, separator) : nullptr;
    if (!found) break;
    size_t end = static_cast<size_t>(static_cast<const char*>(found) - text);
    parts.emplace_back(text + at, end - at);
    at = end + separator;
  }
  parts.emplace_back(text + at, size - at);
  return parts;
}

// Part `index`, or null when the input has fewer parts.
inline const std::string* part(const std::vector<std::string>& parts, size_t index) {
  return index < parts.size() ? &parts[index] : nullptr;
}

// The file holds exactly the text; without a text the file is removed.
inline void put_file(const char* path, const std::string* text) {
  if (!text) {
    unlink(path);
    return;
  }
  FILE* file = std::fopen(path, "wb");
  if (!file) std::abort();
  if (!text->empty() && std::fwrite(text->data(), 1, text->size(), file) != text->size()) std::abort();
  if (std::fclose(file) != 0) std::abort();
}

inline void put_file(const char* path, const char* text) {
  const std::string copy(text);
  put_file(path, &copy);
}

// A fresh scratch directory with its "data/" folder becomes the working directory
// on the first call, for the rest of the process; it is removed at exit.
inline void enter_scratch_dir() {
  static std::string dir;
  if (!dir.empty()) return;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qm-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) std::abort();
  dir = pattern;
  if (chdir(dir.c_str()) != 0 || mkdir("data", 0755) != 0) std::abort();
  std::atexit([] {
    if (chdir("/") != 0) return;
    std::string command = "rm -rf '" + dir + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
  });
}

// Removes every file an earlier input left in "data/".
inline void empty_data_dir() {
  DIR* folder = opendir("data");
  if (!folder) std::abort();
  std::vector<std::string> names;
  while (const dirent* entry = readdir(folder)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(std::string("data/") + entry->d_name);
    }
  }
  closedir(folder);
  for (const std::string& name : names) unlink(name.c_str());
}

// Pages go nowhere: the sanitizers watch how they are made.
inline FILE* null_page() {
  static FILE* sink = std::fopen("/dev/null", "w");
  if (!sink) std::abort();
  return sink;
}

// Sets an environment variable to a text that changes with every input (up to its
// first NUL byte). setenv keeps every value it was ever given, so a long run would
// grow by all of them; this keeps one text per variable.
inline void set_env(const char* name, const std::string& value) {
  static std::map<std::string, std::string> texts;
  std::string& text = texts[name];
  unsetenv(name);  // the environment lets go of the old text before it is replaced
  text = std::string(name) + "=" + value.c_str();
  putenv(&text[0]);
}

// Tuesday 7 January 2003, 12:00:00 in the time zone UTC.
constexpr time_t kToday = 1041940800;

// The process-wide state as a program finds it at its start: the build's constants,
// the default configuration and page writer, an empty line buffer, a fixed clock,
// the scratch directory with an empty "data/" folder, and no failing allocations.
inline void start_input(ProgramBuild build) {
  static bool zoned = false;
  if (!zoned) {
    setenv("TZ", "UTC", 1);
    tzset();
    zoned = true;
  }
  enter_scratch_dir();
  empty_data_dir();
  select_program_build(build);
  setup_globals(1);
  fail_allocations_after(-1);
  std::memset(line_buffer, 0, sizeof line_buffer);
  set_today(kToday);
  set_page_stream(null_page());
}

}  // namespace fuzz

#endif
