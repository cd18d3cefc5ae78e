// An installation that makes only its files writable for the web server's user, not
// the folders they are in: every program still writes what it has to.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/cgi_harness.h"
#include "support/file_text.h"
#include "support/folder_listing.h"
#include "support/step_hooks.h"
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
const std::string kPassword = std::string(1, 'p' ^ 0xA7) + std::string(1, 'w' ^ 0xA7);  // "pw" as stored

// The root layout: the programs in the working folder, as an installation has them;
// the files writable for everyone, the folders not, and the programs run as the
// unprivileged user. False where folders that are not writable do not bite.
bool lay_out(CgiSandbox& box, const std::string& config, const std::string& campaigns,
             const std::vector<std::string>& more_programs = {}) {
  const std::string root = box.dir().substr(0, box.dir().rfind('/'));
  chmod(root.c_str(), 0711);  // the unprivileged user reaches the programs
  if (!read_only_folders_bite(root)) return false;
  std::vector<std::string> programs = {program_path("parser/parser.cgi"), program_path("report/report.cgi")};
  programs.insert(programs.end(), more_programs.begin(), more_programs.end());
  for (const std::string& program : programs) {
    std::filesystem::path from = program;
    std::filesystem::copy_file(from, box.path(from.filename().string()));
  }
  box.write_file("config.cfg", config);
  box.write_file("formats.cfg", "");
  box.write_file("dat_acp.cfg", campaigns);
  box.write_file("status.html", "old page\n");
  for (const char* file : {"config.cfg", "formats.cfg", "dat_acp.cfg", "status.html"}) {
    chmod(box.path(file).c_str(), 0666);
  }
  chmod(box.path("data").c_str(), 0777);
  chmod(box.dir().c_str(), 0555);
  const TestUser user = unprivileged_user();
  if (user.switch_to) box.run_as(user.uid, user.gid);
  return true;
}

CgiEnv posted(const std::string& body) {
  return {{"REQUEST_METHOD", "POST"},
          {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
          {"CONTENT_LENGTH", std::to_string(body.size())}};
}

TEST(Permissions, FolderThatIsNotWritableWithWritableFiles) {
  CgiSandbox box;
  if (!lay_out(box, "PSW " + kPassword + "\nFRM 2\n", "Spring | a.example b.example\n")) {
    GTEST_SKIP() << "folders that are not writable do not bite here";
  }
  box.write_file("data/qmy.log",
                 "05/17/2003 10:00:00 192.0.2.1 a.example.net \"/\" \"-\" \"Mozilla/5.0\"\n"
                 "05/17/2003 10:00:07 192.0.2.2 b.example.net \"/x.html\" \"-\" \"Mozilla/5.0\"\n");
  ASSERT_EQ(chmod(box.path("data/qmy.log").c_str(), 0666), 0);
  const ino_t config_inode = inode_of(box.path("config.cfg"));
  const std::set<std::string> installed = names_in(box.dir());

  // A parse request saves both configuration files and starts the parser, whose
  // pages reach the status page.
  const std::string body = "pass=pw&type=parse";
  CgiResult r = box.run(box.path("report.cgi"), posted(body), body);
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

// The owner starts parses, each of which rewrites both settings files in place (every
// write of them made 50 ms slow), while anonymous logins and parses with an empty
// password keep coming: none gets in, and the owner's settings stay.
TEST(Permissions, EmptyPasswordNeverGetsInWhileTheOwnerSaves) {
  CgiSandbox box;
  if (!lay_out(box, "PSW " + kPassword + "\nDMN site.example\nHTM htm html\nOPS 0 4\n", "Spring | a.example\n",
               {QM_STEP_HOOKS})) {
    GTEST_SKIP() << "folders that are not writable do not bite here";
  }
  auto answer_has = [&](const std::string& body, const char* text, bool owner = false) {
    CgiEnv env = posted(body);
    if (owner) {
      preload_step_hooks(env);
      env["LD_PRELOAD"] = box.path(std::filesystem::path(QM_STEP_HOOKS).filename().string());
      env["QM_SLOW_SAVES"] = "50000";
    }
    return box.run(box.path("report.cgi"), env, body).out.find(text) != std::string::npos;
  };
  const char kStarted[] = "<h1>This page will refresh automatically in 3 seconds.</h1>";
  ASSERT_TRUE(answer_has("pass=pw&type=parse", kStarted, true));
  const std::string config = box.read_file("config.cfg"), campaigns = box.read_file("dat_acp.cfg");

  const int kOwnerParses = 2 * 8;
  std::atomic<int> owner_refused{0}, anonymous{0}, accepted{0};
  std::atomic<bool> owner_done{false};
  std::vector<std::thread> owners, strangers;
  for (int i = 0; i < 2; ++i) {
    owners.emplace_back([&] {
      for (int k = 0; k < kOwnerParses / 2; ++k) owner_refused += !answer_has("pass=pw&type=parse", kStarted, true);
    });
  }
  for (int i = 0; i < 6; ++i) {
    strangers.emplace_back([&, i] {
      // Anything but the wrong-password page (a start page, or an error page) counts.
      for (; !owner_done; ++anonymous) {
        accepted += !answer_has(i % 2 ? "pass=&type=parse" : "pass=&type=login", "Invalid program password.");
      }
    });
  }
  for (std::thread& t : owners) t.join();
  owner_done = true;
  for (std::thread& t : strangers) t.join();
  std::cout << "root layout: " << anonymous << " anonymous requests during " << kOwnerParses << " owner parses, "
            << accepted << " not refused\n";
  EXPECT_EQ(accepted, 0);
  EXPECT_EQ(owner_refused, 0);
  EXPECT_EQ(box.read_file("config.cfg"), config);
  EXPECT_EQ(box.read_file("dat_acp.cfg"), campaigns);
  // Every parser found the settings whole (and no hit log); they end before the folder goes.
  auto parsers = [&] { return count_of(box.read_file("data/err.log"), "ERR_LOG PRSR"); };
  for (int tries = 0; tries < 1000 && parsers() < kOwnerParses + 1; ++tries) usleep(10 * 1000);
  EXPECT_EQ(parsers(), kOwnerParses + 1);
  EXPECT_EQ(count_of(box.read_file("data/err.log"), "ERR_FIL"), 0);
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
