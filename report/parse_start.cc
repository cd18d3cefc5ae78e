#include "report/parse_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/errors.h"
#include "core/form_input.h"
#include "core/output.h"

namespace {

// The longest log location a request may post: what the parser's build keeps.
constexpr int kPostedLogWidth = kParserLogWidth;

void parse_start_page() {
  page_puts("<html>\n<head>\n");
  page_printf("<meta http-equiv=refresh content=\"3; url=%s%s\">\n", config.static_dir, "status.html");
  page_printf("<link rel=stylesheet type=text/css href=%sstyles.css>\n", config.static_dir);
  page_puts("</head>\n<body bgcolor=#efefef text=#000000>\n");
  page_puts("<table width=100% height=100%>\n");
  page_puts("<tr align=center valign=center><td>\n");
  page_puts("<h1>This page will refresh automatically in 3 seconds.</h1>\n");
  page_puts("<h1>Do not close or reload this page.</h1>\n");
  page_puts("</td></tr>\n</table>\n");
  page_puts("</body>\n</html>\n");
}

// Starts the parser as a process of its own. The parser gets this process's
// environment (so it sees the POST request method) and no standard streams of the
// response: the web server ends the response when this process exits.
void launch_parser() {
  // The child must not inherit unwritten page output.
  std::fflush(page_stream());
  std::fflush(stdout);
  std::fflush(stderr);
  if (fork() != 0) return;  // the parent, or no child at all: nothing to report either way

  // Descriptors 0-2 are pointed at /dev/null rather than left closed, so that no
  // file the parser opens can take a standard stream's number.
  int null_device = open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd) {
    if (fd == null_device) continue;
    if (null_device >= 0) {
      dup2(null_device, fd);
    } else {
      close(fd);
    }
  }
  if (null_device > 2) close(null_device);
  execl("parser.cgi", "parser.cgi", static_cast<char*>(nullptr));
  // No parser: end the child here, without running this program's exit code twice.
  _exit(0);
}

}  // namespace

int start_parse(const FormInput& form) {
  int format = 0;
  char location[kPostedLogWidth + 2] = "";  // one byte more than kept, to see an over-long value
  form.get_int("FRM", format);
  form.get_into("LOG", location, sizeof location);
  // A location that does not fit would be saved cut, pointing somewhere else.
  if (std::strlen(location) > static_cast<std::size_t>(kPostedLogWidth)) return ERR_INP;

  config.set_log(format, location);
  int status = config.save();
  if (status != 0) return status;

  parse_start_page();
  launch_parser();
  return 0;
}
