#ifndef QM_TESTS_SUPPORT_UNPRIVILEGED_H
#define QM_TESTS_SUPPORT_UNPRIVILEGED_H

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

// Permission bits do not bite on root (the CI runs the tests as root): tests of
// folders and files that are not writable run their programs as "nobody" then.
struct TestUser {
  uid_t uid;
  gid_t gid;
  bool switch_to;  // the tests run as root: switch to this user before running
};

inline TestUser unprivileged_user() {
  if (geteuid() != 0) return {geteuid(), getegid(), false};
  const passwd* nobody = getpwnam("nobody");
  if (nobody) return {nobody->pw_uid, nobody->pw_gid, true};
  return {65534, 65534, true};
}

// In a child process: becomes the user (when it is to be switched to); false on failure.
inline bool become(const TestUser& user) {
  if (!user.switch_to) return true;
  return setgroups(0, nullptr) == 0 && setgid(user.gid) == 0 && setuid(user.uid) == 0;
}

// Runs the job in a child process as the unprivileged user; its result (0-125) is
// the child's exit status, -1 when the child did not end normally, 126 when the
// user could not be taken on.
inline int run_unprivileged(const std::function<int()>& job) {
  pid_t pid = fork();
  if (pid == 0) {
    if (!become(unprivileged_user())) _exit(126);
    _exit(job());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// True when a folder with mode 0555 really keeps the unprivileged user from making
// files in it (not so, for instance, for a user with every capability). `scratch`
// is a folder the user may enter.
inline bool read_only_folders_bite(const std::string& scratch) {
  const std::string folder = scratch + "/bite-check";
  mkdir(folder.c_str(), 0555);
  chmod(folder.c_str(), 0555);
  const std::string probe = folder + "/probe";
  int made = run_unprivileged([&probe] {
    FILE* file = std::fopen(probe.c_str(), "w");
    if (file) std::fclose(file);
    return file ? 1 : 0;
  });
  unlink(probe.c_str());
  rmdir(folder.c_str());
  return made == 0;
}

#endif
