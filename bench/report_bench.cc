// The report program over a year of statistics: a generated year of hits ending
// today goes through parser.cgi once, then report.cgi answers "lsumm", "cyear" and
// "cmonth" three times each; the best time and the peak memory of each are printed.
//
//   qm_report_bench [--build DIR] [--keep] [--visitors N] [--pages N] [--seed N]
//
// Generator options pass through (defaults here: 365 days of 1000 visitors, about
// 2 million lines, the default site). --build times the programs of another build
// folder on the same statistics; --keep leaves the working directory in place.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bench_run.h"

namespace {

bool copy_file(const std::string& from, const std::string& to) {
  std::string command = "cp '" + from + "' '" + to + "'";
  return std::system(command.c_str()) == 0;
}

bool write_file(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  std::string build = QM_BUILD_DIR;
  bool keep = false;
  std::vector<std::string> options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--build" && i + 1 < argc) {
      build = argv[++i];
    } else if (arg == "--keep") {
      keep = true;
    } else {
      options.push_back(arg);
    }
  }
  const int days = 365;
  // The year ends today, so that the frames of today's date all hold statistics.
  time_t start = std::time(nullptr) - static_cast<time_t>(days - 1) * 86400;
  struct tm first;
  localtime_r(&start, &first);
  char start_text[48];
  std::snprintf(start_text, sizeof start_text, "%04d-%02d-%02d", first.tm_year + 1900, first.tm_mon + 1,
                first.tm_mday);

  char pattern[] = "/tmp/qm-report-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  std::string dir = pattern;
  mkdir((dir + "/data").c_str(), 0755);
  // The password "bench", as the configuration file keeps it.
  std::string password = "bench";
  std::string scrambled = password;
  for (char& c : scrambled) c = static_cast<char>(c ^ 0xA7);
  bool ready = write_file(dir + "/config.cfg", "PSW " + scrambled + "\n") && write_file(dir + "/formats.cfg", "") &&
               write_file(dir + "/dat_acp.cfg", "");
  for (const char* name : {"dat_cds.cfg", "dat_dom.cfg", "dat_eng.cfg", "dat_tps.cfg"}) {
    ready = ready && copy_file(std::string(QM_INSTALL_DIR) + "/" + name, dir + "/" + name);
  }
  std::vector<std::string> generate = {QM_HITLOG_GEN, "--out", dir + "/data/qmy.log", "--days",
                                       std::to_string(days), "--visitors", "1000", "--start", start_text};
  generate.insert(generate.end(), options.begin(), options.end());
  struct rusage usage;
  if (!ready || run_program(generate, dir, {}, &usage) != 0) {
    std::fprintf(stderr, "setting up the working directory failed\n");
    return 1;
  }
  long long lines = count_lines(dir + "/data/qmy.log");
  auto parse_start = std::chrono::steady_clock::now();
  int status = run_program({build + "/parser/parser.cgi"}, dir, {"REQUEST_METHOD=POST"}, &usage);
  double parse_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - parse_start).count();
  std::printf("parsed %lld lines in %.2f s (status %d)\n", lines, parse_seconds, status);
  bool failed = status != 0;

  for (const char* frame : {"lsumm", "cyear", "cmonth"}) {
    std::string body = "pass=" + password + "&type=" + frame;
    std::vector<std::string> environment = {"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded",
                                            "CONTENT_LENGTH=" + std::to_string(body.size())};
    double best = 0;
    long peak = 0;
    for (int round = 0; round < 3; ++round) {
      auto begin = std::chrono::steady_clock::now();
      int code = run_program({build + "/report/report.cgi"}, dir, environment, &usage, body,
                             dir + "/" + frame + ".html");
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
      if (code != 0) failed = true;
      if (round == 0 || seconds < best) best = seconds;
      if (usage.ru_maxrss > peak) peak = usage.ru_maxrss;
    }
    struct stat page;
    long long bytes = stat((dir + "/" + frame + ".html").c_str(), &page) == 0 ? page.st_size : 0;
    std::printf("%-6s best of 3: %.3f s, peak memory %.1f MB, page %lld bytes\n", frame, best, peak / 1024.0, bytes);
  }
  if (keep) {
    std::printf("kept %s\n", dir.c_str());
  } else {
    std::string cleanup = "rm -rf '" + dir + "'";
    if (std::system(cleanup.c_str()) != 0) return 1;
  }
  return failed ? 1 : 0;
}
