// parser.cgi: turns the hit log into the statistics databases, under a lock of its own.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/config.h"
#include "core/errors.h"
#include "core/program.h"
#include "core/text.h"
#include "parser/day_close.h"
#include "parser/file_lock.h"
#include "parser/log_format.h"
#include "parser/log_parser.h"
#include "parser/log_reader.h"
#include "parser/stale_files.h"
#include "parser/status_page.h"

namespace {

constexpr const char* kParserLockPath = "data/prs.lck";

bool env_is(const char* name, const char* value) {
  const char* set = std::getenv(name);
  return set && std::strcmp(set, value) == 0;
}

}  // namespace

int main() {
  select_program_build(ProgramBuild::parser);
  if (env_is("QUERY_STRING", "VERSION")) {
    std::printf("Content-type: text/html\r\n\r\n");
    std::printf("<tt>Version: %s", "3.3.000");
    std::printf(" IMG/SSI");
    std::printf("</tt>");
    return 0;
  }
  set_today(std::time(nullptr));
  if (env_is("REQUEST_METHOD", "GET")) {
    std::printf("Content-type: text/html\r\n\r\n");
    std::printf("<html><body><tt>Invalid input.</tt></body></html>");
    std::fflush(stdout);
    show_parser_error(ERR_INP);
    return 0;
  }
  FileLock lock;
  if (lock.acquire(kParserLockPath) != 0) {
    show_parser_error(ERR_FIL);
    return 0;
  }
  // What killed runs left: the working folder's status page before the
  // configuration names the page's own folder.
  remove_stale_files(status_page_path());
  LogParser parser;
  int result = config.load();
  if (result == 0) {
    remove_stale_files(status_page_path());
    result = compile_format(parser);
  }
  if (result == 0) result = parse_log(parser);
  if (result == 0) {
    int cause = 0;
    if (remove_hit_log(parser, &cause) != 0) show_parser_error(ERR_RMV, std::strerror(cause));
    lock.release();
  } else {
    // The hit log stays for the next run; the lock goes with the process.
    show_parser_error(result);
  }
  clear_day(parser);
  return 0;
}
