// The whole parser on a generated hit log: lines per second and peak memory of one
// parser.cgi run in a fresh working directory.
//
//   qm_parser_bench [--build DIR] [--days N] [--visitors N] [--pages N] [--seed N]
//
// The log comes from qm_hitlog_gen with the same options (defaults: 10 days of
// 17500 visitors, about a million lines). --build times the parser of another
// build folder (an older version, say) on the same log.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_run.h"

int main(int argc, char** argv) {
  char pattern[] = "/tmp/qm-parser-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  std::string dir = pattern;
  mkdir((dir + "/data").c_str(), 0755);
  for (const char* name : {"config.cfg", "formats.cfg", "dat_acp.cfg"}) {
    FILE* f = std::fopen((dir + "/" + name).c_str(), "w");
    if (f && std::strcmp(name, "config.cfg") == 0) std::fputs("PSW \n", f);  // no password
    if (f) std::fclose(f);
  }
  std::string parser = QM_PARSER;
  std::vector<std::string> generate = {QM_HITLOG_GEN, "--out", dir + "/data/qmy.log"};
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--build" && i + 1 < argc) {
      parser = std::string(argv[++i]) + "/parser/parser.cgi";
    } else {
      generate.push_back(argv[i]);
    }
  }
  struct rusage usage;
  if (run_program(generate, dir, {}, &usage) != 0) {
    std::fprintf(stderr, "the log generator failed\n");
    return 1;
  }
  long long lines = count_lines(dir + "/data/qmy.log");

  auto start = std::chrono::steady_clock::now();
  int status = run_program({parser}, dir, {"REQUEST_METHOD=POST"}, &usage);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  struct stat log_status;
  bool parsed = status == 0 && stat((dir + "/data/qmy.log").c_str(), &log_status) != 0;
  std::printf("%s: %lld lines in %.2f s: %.0f lines/s, peak memory %.1f MB\n", parsed ? "parsed" : "FAILED", lines,
              seconds, lines / seconds, usage.ru_maxrss / 1024.0);
  std::string cleanup = "rm -rf '" + dir + "'";
  if (std::system(cleanup.c_str()) != 0) return 1;
  return parsed ? 0 : 1;
}
