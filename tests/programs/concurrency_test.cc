// Hundreds of hits tracked at once while parses keep being started: every hit is
// counted exactly once, and every hit line reaches the statistics intact.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/cgi_harness.h"
#include "support/config_file.h"
#include "support/folder_listing.h"

namespace {

const std::string kParser = program_path("parser/parser.cgi");
const std::string kTracker = program_path("tracker/tracker.cgi");

// The hit of visitor i: an address, a host, a page and a referrer of its own.
CgiEnv hit(int i) {
  const std::string n = std::to_string(i);
  return {{"QUERY_STRING", "dir=http://site.example/qm&ref=http%3A%2F%2Fr" + n + ".example%2F"},
          {"REMOTE_ADDR", "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1)},
          {"REMOTE_HOST", "h" + n + ".example.net"},
          {"HTTP_REFERER", "http://site.example/p" + n + ".html"},
          {"HTTP_USER_AGENT", "Mozilla/5.0 (X11; Linux x86_64) agent" + n + " " + std::string(600, 'a' + i % 26)},
          {"REQUEST_METHOD", "GET"}};
}

// The lines of the blocks with the tag in the text.
std::vector<std::string> block_lines(const std::string& text, const std::string& tag) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (inside && line.empty()) inside = false;
    if (inside) lines.push_back(line);
    if (line == tag) inside = true;
  }
  return lines;
}

// What the statistics hold: hits in the summary's records and the state file (a day
// may have ended meanwhile), pages and referrers in the day files and the state file.
struct Counted {
  int hits = 0;
  std::map<std::string, int> page_views;
  std::map<std::string, int> referrers;
};

Counted counted(const CgiSandbox& box) {
  Counted c;
  for (const std::string& name : names_in(box.path("data"))) {
    if (name == "qmy.log" || name == "prs.lck" || name == "stt.lck" || name == "pos.log") continue;
    const std::string text = box.read_file("data/" + name);
    if (name == "sts.log" || name == "tmp.log") {
      std::istringstream in(text);
      for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 4, "TRF ") == 0) c.hits += std::stoi(line.substr(4));
      }
    }
    if (name == "sts.log") continue;
    for (const std::string& line : block_lines(text, "PGS")) {
      std::istringstream fields(line);
      int seconds = 0, views = 0;
      std::string page;
      fields >> seconds >> views >> page;
      c.page_views[page] += views;
    }
    for (const std::string& line : block_lines(text, "URL")) c.referrers[line.substr(line.find(' ') + 1)] += std::stoi(line);
  }
  return c;
}

// Every hit 0 to hits - 1 counted exactly once.
void expect_each_once(const CgiSandbox& box, int hits) {
  Counted c = counted(box);
  EXPECT_EQ(c.hits, hits);
  EXPECT_EQ(c.page_views.size(), static_cast<size_t>(hits));
  EXPECT_EQ(c.referrers.size(), static_cast<size_t>(hits));
  for (int i = 0; i < hits; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(c.page_views["/p" + n + ".html"], 1) << n;
    EXPECT_EQ(c.referrers["http://r" + n + ".example/"], 1) << n;
  }
}

void install(const CgiSandbox& box) {
  box.write_file("config.cfg", config_file());
  box.write_file("formats.cfg", "");
  box.write_file("dat_acp.cfg", "");
}

TEST(Concurrency, TrackersAndParsesAtOnceCountEveryHitOnce) {
  CgiSandbox box;
  install(box);
  const int kWaves = 12;
  const int kPerWave = 40;
  const int kHits = kWaves * kPerWave;
  const auto began = std::chrono::steady_clock::now();
  std::vector<pid_t> trackers, parsers;
  for (int wave = 0; wave < kWaves; ++wave) {
    for (int k = 0; k < kPerWave; ++k) trackers.push_back(box.start(kTracker, hit(wave * kPerWave + k)));
    parsers.push_back(box.start(kParser, {{"REQUEST_METHOD", "POST"}}));
    usleep(100 * 1000);
  }
  for (pid_t pid : trackers) EXPECT_EQ(CgiSandbox::finish(pid), 0);
  for (pid_t pid : parsers) EXPECT_EQ(CgiSandbox::finish(pid), 0);
  ASSERT_EQ(box.run(kParser, {}).exit_status, 0);  // what the last parse left to read
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
  expect_each_once(box, kHits);
  // The only failures: parses that found no hit log (the one before had just taken it).
  int empty_logs = 0;
  std::istringstream errors(box.read_file("data/err.log"));
  for (std::string line; std::getline(errors, line); ++empty_logs) {
    EXPECT_EQ(line.substr(20), "ERR_LOG PRSR na na") << line;
  }
  std::cout << "concurrency: " << kHits << " tracker processes in " << kWaves << " waves, " << parsers.size() + 1
            << " parser runs (" << empty_logs << " found no hit log), " << counted(box).hits << " hits counted, in " << took.count() << " ms\n";
}

// Waves of trackers, each with a parse killed at a random moment; `moved`: data/
// copied after every wave (a restore, a new disk), and parses left more time to end.
void parses_killed_at_random(bool moved) {
  CgiSandbox box;
  install(box);
  const int kWaves = 15;
  const int kPerWave = 40;
  uint32_t seed = 2203;
  int killed = 0;
  for (int wave = 0; wave < kWaves; ++wave) {
    std::vector<pid_t> trackers;
    for (int k = 0; k < kPerWave; ++k) trackers.push_back(box.start(kTracker, hit(wave * kPerWave + k)));
    pid_t parser = box.start(kParser, {});
    seed = seed * 1103515245u + 12345u;
    usleep((seed >> 16) % (moved ? 400000 : 40000));
    kill(parser, SIGKILL);
    if (CgiSandbox::finish(parser) == -1) ++killed;
    for (pid_t pid : trackers) EXPECT_EQ(CgiSandbox::finish(pid), 0);
    if (moved) copy_in_place(box.path("data"));
  }
  for (int run = 0; run < 2; ++run) box.run(kParser, {});
  expect_each_once(box, kWaves * kPerWave);
  std::cout << "concurrency" << (moved ? " (data/ copied after every wave)" : "") << ": " << kWaves * kPerWave
            << " tracker processes, " << killed << " of " << kWaves << " parses killed, " << counted(box).hits
            << " hits counted\n";
}

TEST(Concurrency, TrackersWhileParsesAreKilledAtRandom) { parses_killed_at_random(false); }
TEST(Concurrency, TrackersWhileParsesAreKilledAtRandomAndDataCopied) { parses_killed_at_random(true); }

// The environment of a program whose clock (libfaketime's) reads the second given
// now, and goes on from there, in the time zone given.
CgiEnv clock_at(long second, const char* zone) {
  const long offset = second - static_cast<long>(time(nullptr));
  return {{"LD_PRELOAD", QM_FAKETIME_LIB}, {"ASAN_OPTIONS", "verify_asan_link_order=0"},
          {"FAKETIME", (offset < 0 ? "" : "+") + std::to_string(offset)}, {"TZ", zone}};
}

TEST(Concurrency, ClockOfAnotherZoneOrSetBack) {
  if (std::string(QM_FAKETIME_LIB).empty()) GTEST_SKIP() << "needs the Debian package faketime (libfaketime)";
  const long kMidnight = 1792886400;  // 2026-10-25 00:00 UTC: summer time ends in Berlin at 01:00 UTC
  const struct Case {
    const char* tracker_zone;
    const char* parser_zone;
    std::vector<std::vector<long>> hits_then_parse;  // seconds after kMidnight
  } cases[] = {
      // A parse run by a scheduler in another zone, hits within the same second.
      {"UTC", "Asia/Tokyo", {{7, 7}, {7, 7}}},
      // 02:10, 02:20 and 02:30 summer time, a parse; 02:05 and 02:20 winter time, a parse.
      {"Europe/Berlin", "Europe/Berlin", {{600, 1200, 1800}, {3900, 4800}}},
  };
  for (const Case& c : cases) {
    CgiSandbox box;
    install(box);
    int hits = 0;
    for (const std::vector<long>& seconds : c.hits_then_parse) {
      // At the start of a second of the real clock, so that its runs share it.
      timespec now;
      clock_gettime(CLOCK_REALTIME, &now);
      usleep(static_cast<useconds_t>((1000000000L - now.tv_nsec) / 1000 + 10000));
      for (long second : seconds) {
        CgiEnv env = hit(hits++);
        env.merge(clock_at(kMidnight + second, c.tracker_zone));
        ASSERT_EQ(box.run(kTracker, env).exit_status, 0);
      }
      ASSERT_EQ(box.run(kParser, clock_at(kMidnight + seconds.back(), c.parser_zone)).exit_status, 0);
      EXPECT_FALSE(box.exists("data/qmy.log"));
    }
    expect_each_once(box, hits);
  }
}

}  // namespace
