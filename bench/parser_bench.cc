// The whole parser on a generated hit log: lines per second and peak memory of one
// parser.cgi run in a fresh working directory.
//
//   qm_parser_bench [--days N] [--visitors N] [--seed N]
//
// The log comes from qm_hitlog_gen with the same options (defaults: 10 days of
// 17500 visitors, about a million lines).
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int run(const std::vector<std::string>& args, const std::string& dir, struct rusage* usage) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    char* envp[] = {const_cast<char*>("REQUEST_METHOD=POST"), nullptr};
    execve(argv[0], argv.data(), envp);
    _exit(127);
  }
  int status = 0;
  if (wait4(pid, &status, 0, usage) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long long count_lines(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  long long lines = 0;
  char block[1 << 16];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
    for (size_t i = 0; i < n; ++i) lines += block[i] == '\n';
  }
  std::fclose(f);
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/qm-parser-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  std::string dir = pattern;
  mkdir((dir + "/data").c_str(), 0755);
  for (const char* name : {"config.cfg", "formats.cfg", "dat_acp.cfg"}) {
    FILE* f = std::fopen((dir + "/" + name).c_str(), "w");
    if (f) std::fclose(f);
  }
  std::vector<std::string> generate = {QM_HITLOG_GEN, "--out", dir + "/data/qmy.log"};
  for (int i = 1; i < argc; ++i) generate.push_back(argv[i]);
  struct rusage usage;
  if (run(generate, dir, &usage) != 0) {
    std::fprintf(stderr, "the log generator failed\n");
    return 1;
  }
  long long lines = count_lines(dir + "/data/qmy.log");

  auto start = std::chrono::steady_clock::now();
  int status = run({QM_PARSER}, dir, &usage);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  struct stat log_status;
  bool parsed = status == 0 && stat((dir + "/data/qmy.log").c_str(), &log_status) != 0;
  std::printf("%s: %lld lines in %.2f s: %.0f lines/s, peak memory %.1f MB\n", parsed ? "parsed" : "FAILED", lines,
              seconds, lines / seconds, usage.ru_maxrss / 1024.0);
  std::string cleanup = "rm -rf '" + dir + "'";
  if (std::system(cleanup.c_str()) != 0) return 1;
  return parsed ? 0 : 1;
}
