#include "core/atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "core/errors.h"
#include "support/file_text.h"
#include "support/folder_listing.h"
#include "support/unprivileged.h"

namespace {

// A scratch folder that the unprivileged user may enter.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/qm-atomic-XXXXXX";
    dir_ = mkdtemp(pattern) ? pattern : "";
    chmod(dir_.c_str(), 0755);
  }
  ~Scratch() {
    std::string command = "chmod -R u+w '" + dir_ + "' && rm -rf '" + dir_ + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

void write(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path, std::ios::binary) << text;
  chmod(path.c_str(), mode);
}

// 0, 1 when the file cannot be opened, 2 when the commit fails, 3 when abandoned.
int replace(const std::string& path, const std::string& text, InPlace in_place = InPlace::rewrite,
            bool abandon = false) {
  AtomicFile out;
  if (out.open(path.c_str(), in_place) != 0) return 1;
  std::fputs(text.c_str(), out.file());
  if (abandon) return 3;
  return out.commit() == 0 ? 0 : 2;
}

TEST(AtomicFile, NewFilesTakeTheUmaskAndReplacementsKeepTheirMode) {
  Scratch scratch;
  const struct {
    mode_t umask;
    mode_t old_mode;  // 0: no old file
    mode_t expected;
  } cases[] = {{022, 0, 0644}, {077, 0, 0600}, {002, 0, 0664}, {022, 0640, 0640}, {077, 0666, 0666}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = scratch.path("file" + std::to_string(n++));
    if (c.old_mode) write(path, "old", c.old_mode);
    mode_t saved = umask(c.umask);
    EXPECT_EQ(replace(path, "new\n"), 0);
    umask(saved);
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.expected) << std::oct << c.umask << " " << c.old_mode;
    EXPECT_EQ(file_text(path), "new\n");
  }
  EXPECT_EQ(names_in(scratch.dir()).size(), 5u);  // no temporary file stays
}

TEST(AtomicFile, FolderThatTakesNoNewFileRewritesTheFileInPlace) {
  Scratch scratch;
  if (!read_only_folders_bite(scratch.dir())) GTEST_SKIP() << "folders that are not writable do not bite here";
  const std::string folder = scratch.path("locked");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  write(folder + "/page.html", std::string(5000, 'o'), 0666);
  ASSERT_EQ(symlink("/dev/full", (folder + "/full.html").c_str()), 0);
  chmod(folder.c_str(), 0555);  // for the unprivileged user when root owns it
  struct stat before;
  ASSERT_EQ(stat((folder + "/page.html").c_str(), &before), 0);

  EXPECT_EQ(run_unprivileged([&] { return replace(folder + "/page.html", "short\n"); }), 0);
  EXPECT_EQ(file_text(folder + "/page.html"), "short\n");
  struct stat after;
  ASSERT_EQ(stat((folder + "/page.html").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0666u);
  // Under the lock the new content is written only at the commit: one abandoned
  // leaves the file whole. Statistics files are never rewritten in place.
  const std::string page = folder + "/page.html";
  EXPECT_EQ(run_unprivileged([&] { return replace(page, "dropped\n", InPlace::locked, true); }), 3);
  EXPECT_EQ(file_text(page), "short\n");
  EXPECT_EQ(run_unprivileged([&] { return replace(page, "locked\n", InPlace::locked); }), 0);
  EXPECT_EQ(run_unprivileged([&] { return replace(page, "refused\n", InPlace::refuse); }), 1);
  EXPECT_EQ(file_text(page), "locked\n");
  // A missing file cannot be made; a write that fails is reported at the commit.
  EXPECT_EQ(run_unprivileged([&] { return replace(folder + "/missing.html", "x"); }), 1);
  EXPECT_EQ(run_unprivileged([&] { return replace(folder + "/full.html", "x"); }), 2);
  EXPECT_EQ(names_in(folder), (std::set<std::string>{"full.html", "page.html"}));
}

TEST(AtomicFile, TemporaryNames) {
  const struct {
    const char* name;
    const char* base;
    bool expected;
  } cases[] = {
      {"tmp.log.Ab3xZ9", "tmp.log", true},   {"tmp.log.Ab3xZ", "tmp.log", false},
      {"tmp.log.Ab3xZ9q", "tmp.log", false}, {"tmp.log.Ab-xZ9", "tmp.log", false},
      {"tmp.logXAb3xZ9", "tmp.log", false},  {"tmp.log", "tmp.log", false},
      {"status.html.XD6VW5", "status.html", true}, {"sts.log.XD6VW5", "tmp.log", false},
  };
  for (const auto& c : cases) EXPECT_EQ(AtomicFile::is_temporary_of(c.name, c.base), c.expected) << c.name;
}

}  // namespace
