#ifndef QM_TESTS_SUPPORT_FOLDER_LISTING_H
#define QM_TESTS_SUPPORT_FOLDER_LISTING_H

#include <dirent.h>

#include <set>
#include <string>

// The names in a folder (without "." and ".."); empty when it cannot be read.
inline std::set<std::string> names_in(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

#endif
