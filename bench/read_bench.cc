// Reading speed of the hit-log reader alone: splits and checks every line of
// "data/qmy.log" under the given working directory and counts nothing, so the figure
// is the ceiling for the whole parser.
//
//   qm_read_bench DIR
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "core/program.h"
#include "parser/log_parser.h"
#include "parser/log_reader.h"

namespace {

long long agent_bytes = 0;

int touch_line(LogParser& parser) {
  // Look at a field so the split cannot be taken for dead work.
  agent_bytes += parser.values[LETTER_AGENT][0];
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || chdir(argv[1]) != 0) {
    std::fprintf(stderr, "usage: %s DIR (with DIR/data/qmy.log)\n", argv[0]);
    return 2;
  }
  select_program_build(ProgramBuild::parser);
  LogParser parser;
  if (compile_format(parser) != 0) return 1;
  auto start = std::chrono::steady_clock::now();
  int result = read_hit_log(parser, 0, touch_line);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  parser.tracker_lock.release();
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("result %d: %.0f lines, %.1f MB in %.3f s: %.0f lines/s, %.1f MB/s, peak memory %ld KB (%lld)\n",
              result, parser.lines_counted, parser.bytes_read / 1e6, seconds, parser.lines_counted / seconds,
              parser.bytes_read / 1e6 / seconds, usage.ru_maxrss, agent_bytes % 10);
  return result == 0 ? 0 : 1;
}
