#ifndef QM_TESTS_WORK_DIR_H
#define QM_TESTS_WORK_DIR_H

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

// A fresh temporary working directory for the life of the object: code that
// opens its files by plain names ("dat_tps.cfg", "data/...") finds them here.
class WorkDir {
 public:
  WorkDir() {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-work-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
    std::filesystem::current_path(path_);
  }
  ~WorkDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

#ifdef QM_SOURCE_DIR
  // Copies a file of the source tree (such as "install/dat_dom.cfg") in under its own name.
  void copy_in(const std::string& source_relative) const {
    std::filesystem::path source = std::filesystem::path(QM_SOURCE_DIR) / source_relative;
    std::filesystem::copy_file(source, path_ / source.filename(),
                               std::filesystem::copy_options::overwrite_existing);
  }
#endif

  void write(const std::string& name, const std::string& content) const {
    std::ofstream out(path_ / name, std::ios::binary);
    out << content;
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

#endif
