#ifndef QM_TESTS_SUPPORT_FOLDER_LISTING_H
#define QM_TESTS_SUPPORT_FOLDER_LISTING_H

#include <dirent.h>

#include <cstdlib>
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

// Replaces every file of the folder by a copy of itself, as `cp -a` to another disk and
// back, or a restore, would: the same names and contents, new inodes. The old folder
// is removed, so that the copy may be given inodes it freed, or moved to `held`, so
// that none is reused.
inline void copy_in_place(const std::string& folder, const std::string& held = "") {
  const std::string old = held.empty() ? "rm -rf '" + folder + "'" : "mv '" + folder + "' '" + held + "'";
  const std::string command =
      "cp -a '" + folder + "' '" + folder + ".copy' && " + old + " && mv '" + folder + ".copy' '" + folder + "'";
  if (std::system(command.c_str()) != 0) std::abort();
}

#endif
