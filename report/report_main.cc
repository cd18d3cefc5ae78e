// report.cgi: the owner's interface. Answers one posted request: the start page
// after a login, the start of a parse, or the report page of a time frame.
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/config.h"
#include "core/errors.h"
#include "core/form_input.h"
#include "core/html_writer.h"
#include "core/output.h"
#include "core/program.h"
#include "core/text.h"
#include "report/parse_start.h"
#include "report/report_error.h"
#include "report/report_road.h"

namespace {

// The program's forms post a few hundred bytes: a longer body is refused before it is
// read, so that no anonymous request costs more than this before the password check.
constexpr long kMaxBody = 16 * 1024;

// Longest password the configuration holds; a posted one is read one byte longer,
// so that a longer value can never match by being cut.
constexpr std::size_t kPasswordSpace = sizeof config.password + 1;

// The owner's request fields.
struct ReportRequest {
  char pass[kPasswordSpace] = {};
  char type[10] = {};  // "login", "parse" or a time-frame word; longer values match none
  DayDate from;
  DayDate to;

  void read(const FormInput& form) {
    form.get_into("pass", pass, sizeof pass);
    form.get_into("type", type, sizeof type);
    form.get_int("ys", from.year);
    form.get_int("ms", from.month);
    form.get_int("ds", from.day);
    form.get_int("ye", to.year);
    form.get_int("me", to.month);
    form.get_int("de", to.day);
  }
};

// Whole-string comparison of the posted password with the configured one that
// takes the same time wherever the two differ.
bool password_matches(const char* posted) {
  char expected[kPasswordSpace] = {};
  std::memcpy(expected, config.password, sizeof config.password);
  unsigned char difference = 0;
  for (std::size_t i = 0; i < kPasswordSpace; ++i) {
    difference |= static_cast<unsigned char>(expected[i] ^ posted[i]);
  }
  return difference == 0;
}

bool is_version_query() {
  const char* query = std::getenv("QUERY_STRING");
  return query && std::strcmp(query, "VERSION") == 0;
}

// The request after the header: every road ends in exactly one page body.
int answer() {
  int status = config.load();
  if (status != 0) return show_report_error(status);

  FormInput form;
  status = form.is_post ? form.parse(stdin, kMaxBody) : ERR_INP;
  if (status != 0) return show_report_error(status);

  ReportRequest request;
  request.read(form);
  if (!password_matches(request.pass)) return show_report_error(ERR_PSW);

  if (std::strcmp(request.type, "login") == 0) {
    html.start_page();
    return show_report_error(0);
  }
  if (std::strcmp(request.type, "parse") == 0) return show_report_error(start_parse(form));
  return run_report(request.type, request.from, request.to);
}

}  // namespace

int main() {
  select_program_build(ProgramBuild::report);
  if (is_version_query()) {
    page_puts("Content-type: text/html\r\n\r\n");
    page_printf("<tt>Version: %s", "3.3.001");
    page_puts(" IMG/SSI");
    page_puts("</tt>");
    return 0;
  }
  page_puts("Content-type: text/html\r\n\r\n");
  set_today(std::time(nullptr));
  answer();
  return 0;
}
