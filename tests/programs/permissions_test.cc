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

  // A data folder that is not writable either: the state file is rewritten in place
  // and the hit log emptied rather than removed.
  ASSERT_EQ(unlink(box.path("data/err.log").c_str()), 0);
  box.write_file("data/qmy.log", "05/17/2003 11:00:00 192.0.2.3 c.example.net \"/y.html\" \"-\" \"Mozilla/5.0\"\n");
  ASSERT_EQ(chmod(box.path("data/qmy.log").c_str(), 0666), 0);
  ASSERT_EQ(chmod(box.path("data").c_str(), 0555), 0);
  const std::set<std::string> data_files = names_in(box.path("data"));
  r = box.run(box.path("parser.cgi"), {{"REQUEST_METHOD", "POST"}});
  EXPECT_NE(box.read_file("status.html").find(kFinished), std::string::npos) << box.read_file("status.html");
  EXPECT_NE(box.read_file("data/tmp.log").find("\nTRF 3 "), std::string::npos);
  EXPECT_EQ(box.read_file("data/qmy.log"), "");
  EXPECT_EQ(names_in(box.path("data")), data_files);
  EXPECT_EQ(names_in(box.dir()), installed);

  chmod(box.path("data").c_str(), 0755);
  chmod(box.dir().c_str(), 0755);
}

}  // namespace
