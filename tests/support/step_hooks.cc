// A library the fault tests preload into the programs (LD_PRELOAD). It adds nothing
// to the programs themselves; through environment variables it
// - numbers the write steps that make a run's results last: every rename, every
//   removal and every write to a file opened for appending; QM_STEPS_LOG names a file
//   that gets one line per step;
// - kills the process (SIGKILL) at point QM_KILL_AT: point 2k-1 is just before step
//   k, point 2k just after it; or just before the first step whose line (as
//   QM_STEPS_LOG has it) holds the text QM_KILL_BEFORE;
// - rotates the hit log just before the first step whose line holds the text
//   QM_ROTATE_BEFORE: renames data/qmy.log to data/qmy.log.1 and begins a new
//   data/qmy.log holding QM_ROTATE_LOG, as a rotation and the trackers after it would;
// - answers every reverse name lookup with the name "looked-up.example", after
//   creating the file QM_LOOKUP_MARK (which shows when the lookup was made);
// - makes every other write to a settings file (a name ending in ".cfg") wait
//   QM_SLOW_SAVES microseconds first, so that a save takes that long.
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

long step_count = 0;

template <typename Function>
Function next_definition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

long kill_point() {
  static long point = [] {
    const char* value = std::getenv("QM_KILL_AT");
    return value ? std::atol(value) : 0;
  }();
  return point;
}

// Writes with the system call itself, so that the log is no step of its own.
void log_step(const char* what, const char* a, const char* b) {
  const char* path = std::getenv("QM_STEPS_LOG");
  if (!path) return;
  char line[1024];
  int n = std::snprintf(line, sizeof line, "%ld %s %s %s\n", step_count, what, a, b ? b : "");
  if (n < 0) return;
  if (n >= static_cast<int>(sizeof line)) n = sizeof line - 1;
  int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_APPEND | O_CREAT, 0644));
  if (fd < 0) return;
  syscall(SYS_write, fd, line, static_cast<size_t>(n));
  syscall(SYS_close, fd);
}

void at_point(long point) {
  if (point == kill_point()) {
    int saved = errno;
    kill(getpid(), SIGKILL);
    errno = saved;
  }
}

void rotate_log() {
  static bool rotated = false;
  if (rotated) return;
  rotated = true;
  syscall(SYS_renameat, AT_FDCWD, "data/qmy.log", AT_FDCWD, "data/qmy.log.1");
  const char* content = std::getenv("QM_ROTATE_LOG");
  int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, "data/qmy.log", O_WRONLY | O_CREAT | O_EXCL, 0644));
  if (fd < 0) return;
  if (content) syscall(SYS_write, fd, content, std::strlen(content));
  syscall(SYS_close, fd);
}

void before_step(const char* what, const char* a, const char* b) {
  const char* kill_text = std::getenv("QM_KILL_BEFORE");
  const char* rotate_text = std::getenv("QM_ROTATE_BEFORE");
  if (!kill_text && !rotate_text) return;
  char line[1024];
  std::snprintf(line, sizeof line, "%s %s %s", what, a, b ? b : "");
  if (rotate_text && std::strstr(line, rotate_text)) rotate_log();
  if (kill_text && std::strstr(line, kill_text)) kill(getpid(), SIGKILL);
}

// Around one step: the point before it, the step, the point after it.
template <typename Step>
auto step(const char* what, const char* a, const char* b, Step run) {
  ++step_count;
  log_step(what, a, b);
  before_step(what, a, b);
  at_point(2 * step_count - 1);
  auto result = run();
  int saved = errno;
  at_point(2 * step_count);
  errno = saved;
  return result;
}

}  // namespace

extern "C" {

int rename(const char* from, const char* to) {
  static auto real = next_definition<int (*)(const char*, const char*)>("rename");
  return step("rename", from, to, [&] { return real(from, to); });
}

int unlink(const char* path) {
  static auto real = next_definition<int (*)(const char*)>("unlink");
  return step("unlink", path, nullptr, [&] { return real(path); });
}

int remove(const char* path) {
  static auto real = next_definition<int (*)(const char*)>("remove");
  return step("remove", path, nullptr, [&] { return real(path); });
}

namespace {

// The file behind a descriptor ("" when unknown).
std::string target_of(int fd) {
  char target[512] = "";
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target - 1);
  return std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
}

const char* slow_saves() {
  static const char* microseconds = std::getenv("QM_SLOW_SAVES");
  return microseconds;
}

void slow_if_settings(const std::string& target) {
  if (slow_saves() && target.size() > 4 && target.compare(target.size() - 4, 4, ".cfg") == 0) {
    usleep(static_cast<useconds_t>(std::atol(slow_saves())));
  }
}

}  // namespace

ssize_t write(int fd, const void* data, size_t size) {
  static auto real = next_definition<ssize_t (*)(int, const void*, size_t)>("write");
  int flags = fcntl(fd, F_GETFL);
  const bool append = flags >= 0 && (flags & O_APPEND);
  if (!append && !slow_saves()) return real(fd, data, size);
  const std::string target = target_of(fd);
  if (!append) {
    slow_if_settings(target);
    return real(fd, data, size);
  }
  return step("append", target.c_str(), nullptr, [&] { return real(fd, data, size); });
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static auto real = next_definition<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  if (slow_saves()) slow_if_settings(target_of(fd));
  return real(fd, data, size, offset);
}

struct hostent* gethostbyaddr(const void*, socklen_t, int) {
  if (const char* mark = std::getenv("QM_LOOKUP_MARK")) {
    int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, mark, O_WRONLY | O_CREAT, 0644));
    if (fd >= 0) syscall(SYS_close, fd);
  }
  static char name[] = "looked-up.example";
  static char* no_names[] = {nullptr};
  static struct hostent entry;
  entry.h_name = name;
  entry.h_aliases = no_names;
  entry.h_addrtype = AF_INET;
  entry.h_length = 4;
  entry.h_addr_list = no_names;
  return &entry;
}

}  // extern "C"
