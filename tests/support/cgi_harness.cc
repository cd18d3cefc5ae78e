#include "support/cgi_harness.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "support/file_text.h"

namespace {

void remove_tree(const std::string& path) {
  std::string command = "rm -rf '" + path + "'";
  if (std::system(command.c_str()) != 0) std::perror("rm");
}

}  // namespace

std::string program_path(const std::string& relative) { return std::string(QM_BIN_DIR) + "/" + relative; }

CgiSandbox::CgiSandbox() {
  char pattern[] = "/tmp/qm-cgi-XXXXXX";
  char* made = mkdtemp(pattern);
  if (!made) throw std::runtime_error("mkdtemp failed");
  std::string root = made;
  dir_ = root + "/work";
  scratch_ = root + "/io";
  mkdir(dir_.c_str(), 0755);
  mkdir(scratch_.c_str(), 0755);
  mkdir((dir_ + "/data").c_str(), 0755);
}

CgiSandbox::~CgiSandbox() { remove_tree(dir_.substr(0, dir_.size() - 5)); }

void CgiSandbox::write_file(const std::string& relative, const std::string& content) const {
  std::ofstream out(path(relative), std::ios::binary | std::ios::trunc);
  out << content;
}

std::string CgiSandbox::read_file(const std::string& relative) const { return file_text(path(relative)); }

bool CgiSandbox::exists(const std::string& relative) const {
  struct stat status;
  return stat(path(relative).c_str(), &status) == 0;
}

pid_t CgiSandbox::spawn(const std::string& program, const CgiEnv& env, const std::string& in_path,
                        const std::string& out_path, const std::string& err_path) const {
  std::vector<std::string> entries;
  for (const auto& [key, value] : env) entries.push_back(key + "=" + value);
  pid_t pid = fork();
  if (pid != 0) return pid;
  // Child: exact environment, working directory, redirected streams.
  std::vector<char*> envp;
  for (auto& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  if (chdir(dir_.c_str()) != 0) _exit(126);
  int in = open(in_path.c_str(), O_RDONLY);
  int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0) _exit(126);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  close(in);
  close(out);
  close(err);
  if (switch_user_ && (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0)) _exit(126);
  std::string name = program.substr(program.rfind('/') + 1);
  execle(program.c_str(), name.c_str(), static_cast<char*>(nullptr), envp.data());
  _exit(127);
}

CgiResult CgiSandbox::run(const std::string& program, const CgiEnv& env, const std::string& input) const {
  static std::atomic<int> serial{0};  // tests may run programs from several threads
  std::string base = scratch_ + "/run" + std::to_string(serial++);
  {
    std::ofstream in(base + ".in", std::ios::binary);
    in << input;
  }
  pid_t pid = spawn(program, env, base + ".in", base + ".out", base + ".err");
  CgiResult result;
  result.exit_status = finish(pid, &result.peak_kb);
  result.out = file_text(base + ".out");
  result.err = file_text(base + ".err");
  return result;
}

pid_t CgiSandbox::start(const std::string& program, const CgiEnv& env) const {
  return spawn(program, env, "/dev/null", "/dev/null", "/dev/null");
}

int CgiSandbox::finish(pid_t pid, long* peak_kb) {
  int status = 0;
  struct rusage usage = {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
  if (peak_kb) *peak_kb = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
