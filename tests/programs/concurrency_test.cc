// Hundreds of hits tracked at once while parses keep being started: every hit is
// counted exactly once, and every hit line reaches the statistics intact.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
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

TEST(Concurrency, TrackersAndParsesAtOnceCountEveryHitOnce) {
  CgiSandbox box;
  box.write_file("config.cfg", config_file());
  box.write_file("formats.cfg", "");
  box.write_file("dat_acp.cfg", "");
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

  // Hits in the summary's records and the state file (a day may have ended meanwhile),
  // pages in the day files and the state file.
  int hits = 0;
  std::map<std::string, int> page_views;
  std::map<std::string, int> referrers;
  for (const std::string& name : names_in(box.path("data"))) {
    if (name == "qmy.log" || name == "prs.lck" || name == "stt.lck") continue;
    const std::string text = box.read_file("data/" + name);
    if (name == "sts.log" || name == "tmp.log") {
      std::istringstream in(text);
      for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 4, "TRF ") == 0) hits += std::stoi(line.substr(4));
      }
    }
    if (name == "sts.log") continue;
    for (const std::string& line : block_lines(text, "PGS")) {
      std::istringstream fields(line);
      int seconds = 0, views = 0;
      std::string page;
      fields >> seconds >> views >> page;
      page_views[page] += views;
    }
    for (const std::string& line : block_lines(text, "URL")) referrers[line.substr(line.find(' ') + 1)] += std::stoi(line);
  }
  EXPECT_EQ(hits, kHits);
  EXPECT_EQ(page_views.size(), static_cast<size_t>(kHits));
  EXPECT_EQ(referrers.size(), static_cast<size_t>(kHits));
  for (int i = 0; i < kHits; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(page_views["/p" + n + ".html"], 1) << n;
    EXPECT_EQ(referrers["http://r" + n + ".example/"], 1) << n;
  }
  // The only failures: parses that found no hit log (the one before had just taken it).
  int empty_logs = 0;
  std::istringstream errors(box.read_file("data/err.log"));
  for (std::string line; std::getline(errors, line); ++empty_logs) {
    EXPECT_EQ(line.substr(20), "ERR_LOG PRSR na na") << line;
  }
  std::cout << "concurrency: " << kHits << " tracker processes in " << kWaves << " waves, " << parsers.size() + 1
            << " parser runs (" << empty_logs << " found no hit log), " << hits << " hits counted, in " << took.count() << " ms\n";
}

}  // namespace
