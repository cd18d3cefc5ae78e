#ifndef QM_BENCH_BENCH_RUN_H
#define QM_BENCH_BENCH_RUN_H

// What the benchmarks share: running a program in a working directory and counting
// a log's lines.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

// Runs args[0] with the arguments in `dir`, with only the given environment, the
// given text on standard input and standard output thrown away (stdout_path empty)
// or sent to a file. Gives the exit status (-1 when it did not exit) and the
// child's resource use.
inline int run_program(const std::vector<std::string>& args, const std::string& dir,
                       const std::vector<std::string>& environment, struct rusage* usage,
                       const std::string& input = "", const std::string& stdout_path = "") {
  std::fflush(stdout);  // nothing buffered may be written twice
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    dup2(pipe_ends[0], 0);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    FILE* out = std::freopen(stdout_path.empty() ? "/dev/null" : stdout_path.c_str(), "w", stdout);
    if (!out) _exit(126);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(pipe_ends[0]);
  if (!input.empty() && write(pipe_ends[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    std::perror("write");
  }
  close(pipe_ends[1]);
  int status = 0;
  if (wait4(pid, &status, 0, usage) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline long long count_lines(const std::string& path) {
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

#endif
