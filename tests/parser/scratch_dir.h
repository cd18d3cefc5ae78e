#ifndef QM_TESTS_PARSER_SCRATCH_DIR_H
#define QM_TESTS_PARSER_SCRATCH_DIR_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "support/file_text.h"

// A fresh temporary working directory with its data/ folder for the life of the
// object; the parser's units use paths relative to the working directory.
class ScratchDir {
 public:
  ScratchDir() {
    char* old = getcwd(nullptr, 0);
    old_ = old ? old : ".";
    std::free(old);
    char pattern[] = "/tmp/qm-parser-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    mkdir((dir_ + "/data").c_str(), 0755);
    if (chdir(dir_.c_str()) != 0) throw std::runtime_error("chdir failed");
  }
  ~ScratchDir() {
    if (chdir(old_.c_str()) != 0) std::perror("chdir");
    std::string command = "rm -rf '" + dir_ + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& dir() const { return dir_; }

  static void write(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
  }
  static void append(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << content;
  }
  static std::string read(const std::string& path) { return file_text(path); }
  static bool exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
  }

 private:
  std::string old_;
  std::string dir_;
};

#endif
