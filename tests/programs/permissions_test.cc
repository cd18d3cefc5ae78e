// An installation that makes only its files writable for the web server's user, not
// the folders they are in: every program still writes what it has to.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>


#include <filesystem>
#include <set>
#include <string>

#include "support/cgi_harness.h"
#include "support/folder_listing.h"
#include "support/unprivileged.h"

namespace {

ino_t inode_of(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// Waits until the file holds the text; false after about 30 seconds.
bool wait_for(const CgiSandbox& box, const std::string& file, const std::string& text) {
  for (int tries = 0; tries < 3000; ++tries) {
    if (box.read_file(file).find(text) != std::string::npos) return true;
    usleep(10 * 1000);
  }
  return false;
}

const char kFinished[] = "<title>Finished parsing log file</title>";

TEST(Permissions, FolderThatIsNotWritableWithWritableFiles) {
  CgiSandbox box;
  const std::string root = box.dir().substr(0, box.dir().rfind('/'));
  chmod(root.c_str(), 0711);  // the unprivileged user reaches the programs
  if (!read_only_folders_bite(root)) GTEST_SKIP() << "folders that are not writable do not bite here";
  const TestUser user = unprivileged_user();

  // The programs in the working folder, as an installation has them; the files
  // writable for everyone, the folders not.
  for (const char* program : {"parser/parser.cgi", "report/report.cgi"}) {
    std::filesystem::path from = program_path(program);
    std::filesystem::copy_file(from, box.path(from.filename().string()));
  }
  const std::string password = std::string(1, 'p' ^ 0xA7) + std::string(1, 'w' ^ 0xA7);
  box.write_file("config.cfg", "PSW " + password + "\nFRM 2\n");
  box.write_file("formats.cfg", "");
  box.write_file("dat_acp.cfg", "Spring | a.example b.example\n");
  box.write_file("status.html", "old page\n");
  box.write_file("data/qmy.log",
                 "05/17/2003 10:00:00 192.0.2.1 a.example.net \"/\" \"-\" \"Mozilla/5.0\"\n"
                 "05/17/2003 10:00:07 192.0.2.2 b.example.net \"/x.html\" \"-\" \"Mozilla/5.0\"\n");
  for (const char* file : {"config.cfg", "formats.cfg", "dat_acp.cfg", "status.html", "data/qmy.log"}) {
    ASSERT_EQ(chmod(box.path(file).c_str(), 0666), 0);
  }
  ASSERT_EQ(chmod(box.path("data").c_str(), 0777), 0);
  ASSERT_EQ(chmod(box.dir().c_str(), 0555), 0);
  if (user.switch_to) box.run_as(user.uid, user.gid);
  const ino_t config_inode = inode_of(box.path("config.cfg"));
  const std::set<std::string> installed = names_in(box.dir());

  // A parse request saves both configuration files and starts the parser, whose
  // pages reach the status page.
  const std::string body = "pass=pw&type=parse";
  CgiResult r = box.run(box.path("report.cgi"),
                        {{"REQUEST_METHOD", "POST"},
                         {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                         {"CONTENT_LENGTH", std::to_string(body.size())}},
                        body);
  EXPECT_NE(r.out.find("<h1>This page will refresh automatically in 3 seconds.</h1>"), std::string::npos) << r.out;
  EXPECT_EQ(box.read_file("config.cfg").substr(0, 12), "FRM 0\nLOG \nD");
  EXPECT_EQ(inode_of(box.path("config.cfg")), config_inode);
  EXPECT_EQ(box.read_file("dat_acp.cfg"), "Spring | b.example a.example\n");
  ASSERT_TRUE(wait_for(box, "status.html", kFinished)) << box.read_file("status.html");
  EXPECT_NE(box.read_file("data/tmp.log").find("\nTRF 2 "), std::string::npos);
  EXPECT_FALSE(box.exists("data/err.log"));

  // The parser's error page.
  box.run(box.path("parser.cgi"), {{"REQUEST_METHOD", "GET"}});
  EXPECT_NE(box.read_file("status.html").find("Invalid program input."), std::string::npos);

  // A data folder that takes no new files: the parse stops before it changes
  // anything, and says why. A state file cut short (by a rewrite in place that was
  // killed) is never taken as valid either.
  const std::string state = box.read_file("data/tmp.log");
  const std::string torn = state.substr(0, state.size() - 3);
  box.write_file("data/tmp.log", torn);
  box.write_file("data/qmy.log", "05/17/2003 11:00:00 192.0.2.3 c.example.net \"/y.html\" \"-\" \"Mozilla/5.0\"\n");
  ASSERT_EQ(chmod(box.path("data/qmy.log").c_str(), 0666), 0);
  ASSERT_EQ(chmod(box.path("data").c_str(), 0555), 0);
  const std::set<std::string> data_files = names_in(box.path("data"));
  const std::pair<const char*, const char*> failures[] = {
      {"The data folder must be writable by the web server's user", "ERR_DIR PRSR na na\n"},
      {"Damaged Quillmoray state file", "ERR_TMP PRSR na na\n"}};  // once data/ is writable again
  for (const auto& [shown, logged] : failures) {
    box.run(box.path("parser.cgi"), {{"REQUEST_METHOD", "POST"}});
    EXPECT_NE(box.read_file("status.html").find(shown), std::string::npos) << box.read_file("status.html");
    const std::string errors = box.read_file("data/err.log");
    EXPECT_EQ(errors.substr(errors.size() - 19), logged);
    EXPECT_EQ(box.read_file("data/tmp.log"), torn);
    EXPECT_NE(box.read_file("data/qmy.log"), "");
    EXPECT_EQ(names_in(box.path("data")), data_files);
    ASSERT_EQ(chmod(box.path("data").c_str(), 0777), 0);
  }
  EXPECT_EQ(names_in(box.dir()), installed);

  chmod(box.path("data").c_str(), 0755);
  chmod(box.dir().c_str(), 0755);
}

}  // namespace

// A hit log the parser's user can neither remove nor empty (the owner's, in a data
// folder that keeps each user's files to their owner): its lines are counted once,
// the hits after them still count, and every run says that the log stays.
TEST(Permissions, HitLogThatCanBeNeitherRemovedNorEmptied) {
  const TestUser user = unprivileged_user();
  if (!user.switch_to) GTEST_SKIP() << "only root can give the log to another user";
  CgiSandbox box;
  const std::string root = box.dir().substr(0, box.dir().rfind('/'));
  chmod(root.c_str(), 0711);
  box.write_file("config.cfg", "PSW \n");
  box.write_file("formats.cfg", "");
  box.write_file("dat_acp.cfg", "");
  box.write_file("status.html", "");
  ASSERT_EQ(chmod(box.path("status.html").c_str(), 0666), 0);
  ASSERT_EQ(chmod(box.path("data").c_str(), 01777), 0);
  const std::string hit = "05/17/2003 10:00:00 192.0.2.1 a.example.net \"/\" \"-\" \"Mozilla/5.0\"\n";
  box.write_file("data/qmy.log", hit);
  box.run_as(user.uid, user.gid);
  for (const char* hits : {"\nTRF 1 ", "\nTRF 2 "}) {
    box.run(program_path("parser/parser.cgi"), {});
    EXPECT_NE(box.read_file("status.html").find("The hit log cannot be removed. "), std::string::npos);
    EXPECT_NE(box.read_file("status.html").find("Reason: Operation not permitted."), std::string::npos);
    EXPECT_NE(box.read_file("data/tmp.log").find(hits), std::string::npos) << box.read_file("data/tmp.log");
    const std::string errors = box.read_file("data/err.log");
    EXPECT_EQ(errors.substr(errors.size() - 19), "ERR_RMV PRSR na na\n");
    box.write_file("data/qmy.log", hit + hit);  // the same second again: a new hit
  }
}
