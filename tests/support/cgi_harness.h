#ifndef QM_TESTS_CGI_HARNESS_H
#define QM_TESTS_CGI_HARNESS_H

#include <sys/types.h>

#include <map>
#include <string>

// Runs a built CGI program the way a web server would: in a fresh temporary
// working directory (with its data/ folder), with exactly the environment given
// (nothing inherited), a given standard input, and its standard output captured
// byte for byte.

using CgiEnv = std::map<std::string, std::string>;

struct CgiResult {
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error
  int exit_status = -1;  // -1 when the program did not exit normally
  long peak_kb = 0;      // the most memory it held at once (its peak resident set), in KiB
};

// Path of a built program, e.g. program_path("tracker/tracker.cgi").
std::string program_path(const std::string& relative);

class CgiSandbox {
 public:
  CgiSandbox();
  ~CgiSandbox();
  CgiSandbox(const CgiSandbox&) = delete;
  CgiSandbox& operator=(const CgiSandbox&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& relative) const { return dir_ + "/" + relative; }

  void write_file(const std::string& relative, const std::string& content) const;
  std::string read_file(const std::string& relative) const;
  bool exists(const std::string& relative) const;

  // Runs the program to its end.
  CgiResult run(const std::string& program, const CgiEnv& env, const std::string& input = "") const;

  // Runs the programs of later calls as this user (the tests that need the permission
  // bits to bite, when they run as root).
  void run_as(uid_t uid, gid_t gid) {
    switch_user_ = true;
    uid_ = uid;
    gid_ = gid;
  }

  // Starts the program without waiting (output discarded); finish() waits for it
  // and gives its exit status, and its peak memory through `peak_kb`.
  pid_t start(const std::string& program, const CgiEnv& env) const;
  static int finish(pid_t pid, long* peak_kb = nullptr);

 private:
  pid_t spawn(const std::string& program, const CgiEnv& env, const std::string& in_path,
              const std::string& out_path, const std::string& err_path) const;
  std::string dir_;
  std::string scratch_;
  bool switch_user_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

#endif
