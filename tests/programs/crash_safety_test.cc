// A parse killed at any moment and run again ends with the statistics of a parse that
// was never interrupted, and leaves no temporary file behind.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/cgi_harness.h"
#include "support/config_file.h"
#include "support/folder_listing.h"
#include "support/step_hooks.h"

namespace {

const std::string kParser = program_path("parser/parser.cgi");

using Files = std::map<std::string, std::string>;  // relative path -> content

uint32_t next_random(uint32_t& seed) {
  seed = seed * 1103515245u + 12345u;
  return (seed >> 16) & 0x7fff;
}

// Hit lines of the days from..to of May 2003, in time order: visitors coming back
// along paths of a few pages, with referrers and agents.
std::string hit_log(int from_day, int to_day, int per_day, uint32_t seed, int first_hour, int last_hour) {
  static const char* const pages[] = {"/", "/a.html", "/b.html?x=1", "/c/", "/d.html", "/e.html#top"};
  static const char* const agents[] = {"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)",
                                       "Mozilla/5.0 (X11; Linux x86_64)", "Opera/9.80 (Macintosh)"};
  std::string log;
  for (int day = from_day; day <= to_day; ++day) {
    std::vector<int> seconds;
    for (int i = 0; i < per_day; ++i) {
      int span = (last_hour - first_hour + 1) * 3600;
      seconds.push_back(first_hour * 3600 + static_cast<int>((next_random(seed) * 32768u + next_random(seed)) % span));
    }
    std::sort(seconds.begin(), seconds.end());
    // The day's first visitor comes back at once: that pause is timed.
    seconds[0] = first_hour * 3600 + 5;
    seconds[1] = first_hour * 3600 + 35;
    for (size_t i = 0; i < seconds.size(); ++i) {
      const int s = seconds[i];
      int visitor = i < 2 ? 24 : static_cast<int>(next_random(seed) % 25);
      char line[512];
      std::snprintf(line, sizeof line, "05/%2.2i/2003 %2.2i:%2.2i:%2.2i 192.0.2.%i v%i.example.%s \"%s\" \"%s\" \"%s\"\n",
                    day, s / 3600, s / 60 % 60, s % 60, visitor, visitor, visitor % 2 ? "net" : "de",
                    pages[next_random(seed) % 6],
                    next_random(seed) % 3 ? "-" : "http://www.Search.example/?q=word",
                    agents[visitor % 3]);
      log += line;
    }
  }
  return log;
}

// `count` hits of the log's last visitor, one a second from `from` seconds after its
// last line (0: within the last counted second).
std::string later_hits(const std::string& log, int from, int count) {
  const std::string last = log.substr(log.rfind('\n', log.size() - 2) + 1);
  const int t = std::stoi(last.substr(11, 2)) * 3600 + std::stoi(last.substr(14, 2)) * 60 + std::stoi(last.substr(17, 2));
  std::string hits;
  for (int s = t + from; s < t + from + count; ++s) {
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%2.2i:%2.2i:%2.2i", s / 3600, s / 60 % 60, s % 60);
    hits += last.substr(0, 11) + stamp + last.substr(19);
  }
  return hits;
}

// `count` hits of as many visitors from the `from`th, all stamped in one second.
std::string one_second(int from, int count) {
  std::string hits;
  for (int i = from; i < from + count; ++i) {
    const std::string n = std::to_string(i);
    hits += "05/17/2003 10:00:00 192.0.2." + n + " v" + n + ".example.net \"/p" + n + "\" \"-\" \"-\"\n";
  }
  return hits;
}

// Writes the state file's bytes into the file at `other` (another name of a file that
// keeps its inode) and renames that over the state file: as a file system that gives
// the state file a reused inode would.
void give_state_inode_of(const CgiSandbox& box, const std::string& other) {
  const std::string state = box.read_file("data/tmp.log");
  std::ofstream(other, std::ios::binary | std::ios::trunc) << state;
  ASSERT_EQ(std::rename(other.c_str(), box.path("data/tmp.log").c_str()), 0);
}

// The position file as the parser wrote it when it printed only the log's first
// line: the box's state and log, with every line of `log` counted.
std::string first_line_positions(const CgiSandbox& box, const std::string& log) {
  struct stat state = {}, hit_log = {};
  stat(box.path("data/tmp.log").c_str(), &state);
  stat(box.path("data/qmy.log").c_str(), &hit_log);
  const std::string head = box.read_file("data/tmp.log"), first = log.substr(0, log.find('\n') + 1);
  unsigned long long hash = 0xcbf29ce484222325ULL;  // FNV-1a
  for (unsigned char c : first) hash = (hash ^ c) * 0x100000001b3ULL;
  char entry[256];
  std::snprintf(entry, sizeof entry, "POS 1\n%ju %s %zu %ju %ju %zu %llx\nEND\n", static_cast<uintmax_t>(state.st_ino),
                head.substr(4, head.find('\n') - 4).c_str(), log.size(), static_cast<uintmax_t>(hit_log.st_dev),
                static_cast<uintmax_t>(hit_log.st_ino), first.size(), hash);
  return entry;
}

void install(const CgiSandbox& box) {
  box.write_file("config.cfg", config_file());
  box.write_file("formats.cfg", "");
  box.write_file("dat_acp.cfg", "");
}

Files files_of(const CgiSandbox& box) {
  Files files;
  for (const std::string& name : names_in(box.dir())) {
    if (name != "data") files[name] = box.read_file(name);
  }
  for (const std::string& name : names_in(box.path("data"))) files["data/" + name] = box.read_file("data/" + name);
  return files;
}

void restore(const CgiSandbox& box, const Files& files) {
  for (const auto& [name, content] : files) box.write_file(name, content);
}

// The statistics databases: the summary, the state file and the day files.
Files statistics_of(const CgiSandbox& box) {
  Files stats;
  for (const std::string& name : names_in(box.path("data"))) {
    if (name == "qmy.log" || name == "err.log" || name == "prs.lck" || name == "stt.lck" || name == "pos.log") continue;
    stats[name] = box.read_file("data/" + name);
  }
  return stats;
}

// Names that are not the installation's nor the databases': temporary files, say.
std::vector<std::string> strays(const CgiSandbox& box) {
  static const std::set<std::string> top = {"config.cfg", "formats.cfg", "dat_acp.cfg", "status.html", "data"};
  static const std::set<std::string> data = {"qmy.log", "err.log", "prs.lck", "stt.lck", "sts.log", "tmp.log", "pos.log"};
  std::vector<std::string> found;
  for (const std::string& name : names_in(box.dir())) {
    if (!top.count(name)) found.push_back(name);
  }
  for (const std::string& name : names_in(box.path("data"))) {
    bool day_file = name.size() == 12 && name.compare(8, 4, ".log") == 0 &&
                    name.find_first_not_of("0123456789") == 8;
    if (!data.count(name) && !day_file) found.push_back("data/" + name);
  }
  return found;
}

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Equal statistics: the summary byte for byte, the same lines in every other file
// (a state file reloaded in full rebuilds its path tree in another child order).
void expect_same_statistics(const Files& expected, const Files& got, const std::string& trial) {
  std::set<std::string> expected_names, got_names;
  for (const auto& entry : expected) expected_names.insert(entry.first);
  for (const auto& entry : got) got_names.insert(entry.first);
  ASSERT_EQ(got_names, expected_names) << trial;
  for (const auto& [name, content] : expected) {
    if (name == "sts.log") {
      EXPECT_EQ(got.at(name), content) << trial;
    } else {
      EXPECT_EQ(sorted_lines(got.at(name)), sorted_lines(content)) << trial << ": " << name;
    }
  }
}

class CrashSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    // A first run leaves the second day in the state file; the log then holds the
    // rest of that day and three more.
    CgiSandbox box;
    install(box);
    // Busy mornings: most pauses are timed, also that of each day's first visitor.
    box.write_file("data/qmy.log", hit_log(16, 16, 150, 7, 8, 11) + hit_log(17, 17, 80, 8, 8, 9));
    ASSERT_EQ(box.run(kParser, {}).exit_status, 0);
    ASSERT_FALSE(box.exists("data/qmy.log"));
    box.write_file("data/qmy.log", hit_log(17, 17, 80, 9, 10, 12) + hit_log(18, 20, 150, 10, 8, 11));
    start = files_of(box);
    ASSERT_TRUE(start.count("data/tmp.log") && start.count("data/sts.log"));

    auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(box.run(kParser, {}).exit_status, 0);
    run_time = std::chrono::steady_clock::now() - began;
    expected = statistics_of(box);
    ASSERT_EQ(expected.size(), 6u);  // summary, state, four day files
    ASSERT_TRUE(strays(box).empty());
  }

  // The statistics of one uninterrupted run over the log, from the start's state.
  Files parsed_whole(const std::string& log) {
    CgiSandbox whole;
    restore(whole, start);
    whole.write_file("data/qmy.log", log);
    EXPECT_EQ(whole.run(kParser, {}).exit_status, 0);
    return statistics_of(whole);
  }

  // Runs the parser again to its end, then compares with the uninterrupted run.
  void rerun_and_compare(CgiSandbox& box, const std::string& trial) {
    EXPECT_EQ(box.run(kParser, {}).exit_status, 0) << trial;
    EXPECT_FALSE(box.exists("data/qmy.log")) << trial;
    expect_same_statistics(expected, statistics_of(box), trial);
    EXPECT_EQ(strays(box), std::vector<std::string>{}) << trial;
    EXPECT_EQ(box.read_file("data/err.log").find("ERR_POS"), std::string::npos) << trial;  // its place was known
  }

  // Kills a run from the start at each point before and after each of its write steps,
  // then reruns it: in place; in data/ copied (new inodes); with the state file given
  // the inode of the start's state, or of the half-made state that the kill left. The
  // start's state file keeps a second name, so that no copy is given its inode otherwise.
  void kill_at_every_write_step(size_t write_steps) {
    std::vector<std::string> steps;
    {
      CgiSandbox box;
      restore(box, start);
      CgiEnv env;
      preload_step_hooks(env);
      env["QM_STEPS_LOG"] = box.path("../steps");
      ASSERT_EQ(box.run(kParser, env).exit_status, 0);
      std::istringstream in(box.read_file("../steps"));
      for (std::string line; std::getline(in, line);) steps.push_back(line);
      expect_same_statistics(expected, statistics_of(box), "run with the hooks");
    }
    ASSERT_EQ(steps.size(), write_steps);
    static const char* const kThen[] = {"", ", copied", ", the state given the old state's inode",
                                        ", the state given the half-made new state's inode (when left)"};
    int left_temporaries = 0;
    const int points = 2 * static_cast<int>(steps.size());
    for (int kill = 1; kill <= 4 * points; ++kill) {
      const int point = (kill - 1) % points + 1, then = (kill - 1) / points;
      const std::string trial = "kill at point " + std::to_string(point) + " (" + (point % 2 ? "before " : "after ") +
                                steps[(point - 1) / 2] + ")" + kThen[then];
      CgiSandbox box;
      restore(box, start);
      ASSERT_EQ(link(box.path("data/tmp.log").c_str(), box.path("../old-state").c_str()), 0);
      CgiEnv env;
      preload_step_hooks(env);
      env["QM_KILL_AT"] = std::to_string(point);
      ASSERT_EQ(box.run(kParser, env).exit_status, -1) << trial;  // killed
      const std::vector<std::string> left = strays(box);
      if (!left.empty()) ++left_temporaries;
      auto half_made =
          std::find_if(left.begin(), left.end(), [](auto& name) { return name.rfind("data/tmp.log.", 0) == 0; });
      if (then == 1) copy_in_place(box.path("data"), box.path("../old-data"));
      if (then == 2) give_state_inode_of(box, box.path("../old-state"));
      if (then == 3 && half_made != left.end()) give_state_inode_of(box, box.path(*half_made));
      rerun_and_compare(box, trial);
    }
    std::cout << "crash safety: " << steps.size() << " write steps, " << 4 * points << " deterministic kills, "
              << left_temporaries << " left temporary files, "
              << (HasFailure() ? "some reruns differ" : "all reruns equal") << "\n";
  }

  Files start;
  Files expected;
  std::chrono::steady_clock::duration run_time{};
};

TEST_F(CrashSafety, KilledBeforeAndAfterEveryWriteStep) {
  // The check that data/ takes new files, three day closes (a day file, an append, a
  // position and a short state file each), the position and the full state file, the
  // completion page, the hit log renamed aside, the position after it and the removal.
  kill_at_every_write_step(19);
}

TEST_F(CrashSafety, KilledAtEveryWriteStepWithEveryHitInOneSecond) {
  // Both runs' hits in one second: the states before and after a run have the same head.
  CgiSandbox box;
  install(box);
  box.write_file("data/qmy.log", one_second(0, 30));
  ASSERT_EQ(box.run(kParser, {}).exit_status, 0);
  box.write_file("data/qmy.log", one_second(30, 40));
  start = files_of(box);
  expected = parsed_whole(one_second(30, 40));
  kill_at_every_write_step(7);
}

TEST_F(CrashSafety, KilledInARowBeforeTheLogIsRemoved) {
  // Each run is killed once its state is saved, before the log goes; the tracker goes
  // on appending hits within the last counted second and the seconds after it.
  const std::string log = start.at("data/qmy.log");
  CgiSandbox box;
  restore(box, start);
  CgiEnv kill_before_removal;
  preload_step_hooks(kill_before_removal);
  kill_before_removal["QM_KILL_BEFORE"] = "rename data/qmy.log ";
  for (int run = 0; run < 4; ++run) {
    ASSERT_EQ(box.run(kParser, kill_before_removal).exit_status, -1) << run;
    if (run < 3) box.write_file("data/qmy.log", box.read_file("data/qmy.log") + later_hits(log, run, 1));
  }
  expected = parsed_whole(log + later_hits(log, 0, 3));
  rerun_and_compare(box, "killed in a row");
}

// What an owner's machine does to the log and data/ around a run: a rotation while
// it runs, a copy of data/ (new inodes), a new log that begins like the old one, a
// position file deleted or of the earlier form. Every hit counts once, or the loss is
// reported.
TEST_F(CrashSafety, LogRotatedCopiedRenewedOrItsPlaceLost) {
  const std::string log = start.at("data/qmy.log");
  // Hits after the log's, two in its last counted second, and more than its length.
  const std::string more = later_hits(log, 1, static_cast<int>(log.size() / 50));
  const std::string added = later_hits(log, 0, 1) + later_hits(log, 0, 1) + more;
  const std::string renewed = log.substr(0, log.find('\n') + 1) + more;  // begins like the old log
  enum Then { rotated, copy, renew, lose_place, earlier_form };
  const std::string aside = "rename data/qmy.log ";
  const struct Row {
    CgiEnv hooks;
    Then then;
  } rows[] = {
      {{{"QM_ROTATE_BEFORE", "append"}}, rotated},
      {{{"QM_ROTATE_BEFORE", "append"}, {"QM_KILL_BEFORE", "status.html"}}, rotated},
      {{{"QM_KILL_BEFORE", aside}}, copy},      {{{"QM_KILL_AT", "34"}}, copy},  // after the log went aside
      {{{"QM_KILL_AT", "33"}}, renew},          {{{"QM_KILL_AT", "34"}}, renew},
      {{{"QM_KILL_AT", "36"}}, renew},          {{{"QM_KILL_BEFORE", aside}}, lose_place},
      {{{"QM_KILL_BEFORE", aside}}, earlier_form},
  };
  for (const Row& row : rows) {
    const std::string what = "row " + std::to_string(&row - rows);
    CgiSandbox box;
    restore(box, start);
    CgiEnv env = row.hooks;
    preload_step_hooks(env);
    env["QM_ROTATE_LOG"] = added;
    ASSERT_EQ(box.run(kParser, env).exit_status, env.count("QM_KILL_AT") || env.count("QM_KILL_BEFORE") ? -1 : 0);
    expected = parsed_whole(log + (row.then == renew ? renewed : added));
    if (row.then == rotated) {
      EXPECT_EQ(box.read_file("data/qmy.log"), added) << what;  // the new log is left alone
      std::remove(box.path("data/qmy.log.1").c_str());          // the owner's archive
    } else {
      box.write_file("data/qmy.log", row.then == renew ? renewed : box.read_file("data/qmy.log") + added);
    }
    if (row.then == earlier_form) box.write_file("data/pos.log", first_line_positions(box, log));
    if (row.then == copy || row.then == earlier_form) copy_in_place(box.path("data"));
    if (row.then != lose_place) {
      rerun_and_compare(box, what);
      continue;
    }
    std::remove(box.path("data/pos.log").c_str());
    EXPECT_EQ(box.run(kParser, {}).exit_status, 0);
    EXPECT_NE(box.read_file("data/err.log").find(" ERR_POS PRSR na na\n"), std::string::npos);
    const std::string passed = std::to_string(std::count(log.begin(), log.end(), '\n') + 2);
    EXPECT_NE(box.read_file("status.html").find(" " + passed + " lines were passed over as already counted."),
              std::string::npos);
  }
}

TEST_F(CrashSafety, KilledAtRandomMoments) {
  const int kTrials = 100;
  const auto window = std::chrono::duration_cast<std::chrono::microseconds>(run_time).count();
  uint32_t seed = 4242;
  int killed = 0, left_temporaries = 0, stored_some = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    CgiSandbox box;
    restore(box, start);
    const long delay = static_cast<long>((next_random(seed) * 32768u + next_random(seed)) % (window + 1));
    pid_t pid = box.start(kParser, {});
    usleep(static_cast<useconds_t>(delay));
    kill(pid, SIGKILL);
    if (CgiSandbox::finish(pid) == -1) {
      ++killed;
      if (!strays(box).empty()) ++left_temporaries;
      if (box.read_file("data/sts.log") != start.at("data/sts.log")) ++stored_some;
    }
    rerun_and_compare(box, "random kill after " + std::to_string(delay) + " us");
  }
  std::cout << "crash safety: " << kTrials << " random kills within " << window << " us, " << killed
            << " ended the run (" << stored_some << " of them after a day was stored, " << left_temporaries
            << " leaving temporary files), " << (HasFailure() ? "some reruns differ" : "all reruns equal") << "\n";
}

}  // namespace
