#include "parser/status_page.h"

#include <cstdlib>

#include "core/atomic_file.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/escape.h"
#include "core/text.h"
#include "parser/log_parser.h"

namespace {

// A figure cut toward zero for printing, kept inside the int range.
int whole(double value) {
  if (!(value > -2147483648.0)) return value < 0 ? -2147483647 - 1 : 0;  // also NaN
  if (value >= 2147483647.0) return 2147483647;
  return static_cast<int>(value);
}

void number_cell(FILE* page, double value, const char* unit) {
  std::fputs("<td align=right>", page);
  fprint_number(page, whole(value));
  std::fprintf(page, "</td><td>%s</td>\n", unit);
}

// The head of every status page, up to the body.
void write_page_head(FILE* page, bool refresh, const char* title) {
  std::fprintf(page, "<html>\n");
  std::fprintf(page, "<head>\n");
  if (refresh) std::fprintf(page, "<meta http-equiv=refresh content=\"3; url=%s\">\n", "status.html");
  std::fprintf(page, "<meta http-equiv=pragma content=no-cache>\n");
  std::fprintf(page, "<link rel=stylesheet type=text/css href=styles.css>\n");
  std::fprintf(page, "<title>%s</title>\n", title);
  std::fprintf(page, "</head>\n");
}

// The end of the outer table and of the page.
void write_page_tail(FILE* page) {
  std::fprintf(page, "</td></tr>\n");
  std::fprintf(page, "</table>\n");
  std::fprintf(page, "</body>\n");
  std::fprintf(page, "</html>\n");
}

}  // namespace

std::string status_page_path() {
  if (config.static_dir[0] == '\0') return "status.html";
  const char* root = std::getenv("DOCUMENT_ROOT");
  std::string path = root ? root : "";
  path += config.static_dir;
  path += "status.html";
  return path;
}

int show_parser_error(int code, const char* reason) {
  if (code == 0) return 0;
  AtomicFile out;
  if (out.open(status_page_path().c_str()) == 0) {
    FILE* page = out.file();
    write_page_head(page, false, "Error");
    std::fprintf(page, "<body bgcolor=#efefef text=#000000 link=#0000ff vlink=#0000ff>\n");
    std::fprintf(page, "<table width=100%% height=100%%>\n");
    std::fprintf(page, "<tr valign=center><td>\n");
    const std::string because = reason ? " Reason: " + html_escape(reason) + "." : "";
    std::fprintf(page, "<p class=err><font color=#ff0000><b>ERROR:</b></font> %s%s</p>\n", error_message(code),
                 because.c_str());
    std::fprintf(page, "<center><a href=# onClick=\"window.close()\"><b>close window</b></a></center>\n");
    write_page_tail(page);
    out.commit();  // a page that cannot be written is skipped; the log line still goes out
  }
  append_error_log(code, "PRSR");
  return 0;
}

int write_progress_page(LogParser& parser, bool running) { return write_progress_page(parser, running, time(nullptr)); }

int write_progress_page(LogParser& parser, bool running, time_t now) {
  double elapsed = static_cast<double>(now - today.now);
  if (elapsed < 1) elapsed = 1;  // also a clock set back during the run
  double read = parser.bytes_read;
  double total = parser.bytes_to_read;
  // The tracker may append while the parse runs: never more than 100%, and nothing
  // to read counts as all read.
  double share = 1;
  if (running && total > 0 && read < total) share = read > 0 ? read / total : 0;
  int percent = whole(share * 100);
  int bar = whole(share * 350);
  const char* title = running ? "Parsing log file..." : "Finished parsing log file";

  AtomicFile out;
  if (out.open(status_page_path().c_str()) != 0) return ERR_FIL;
  FILE* page = out.file();
  write_page_head(page, running, title);
  std::fprintf(page, "<body bgcolor=#efefef text=#000000 link=#0000ff vlink=#0000b4>\n");
  std::fprintf(page, "<table width=100%% height=100%%>\n");
  std::fprintf(page, "<tr align=center valign=center><td>\n");
  std::fprintf(page, "<h1>%s</h1>\n", title);
  std::fprintf(page, "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#efefef width=355>\n");
  std::fprintf(page, "<tr class=dat>\n");
  std::fprintf(page, "<td nowrap><b>Data processed:</b></td>\n");
  number_cell(page, parser.lines_counted, "Hits");
  number_cell(page, read / 1024, "Kb");
  std::fprintf(page, "</tr>\n");
  std::fprintf(page, "<tr class=dat>\n");
  std::fprintf(page, "<td nowrap><b>Processing speed:</b></td>\n");
  number_cell(page, parser.lines_counted / elapsed, "Hits/sec");
  number_cell(page, read / 1024 / elapsed, "Kb/sec");
  std::fprintf(page, "</tr>\n");
  std::fprintf(page, "</table>\n");
  std::fprintf(page, "<br>\n");
  std::fprintf(page, "<table border=0 cellspacing=1 cellpadding=1 bgcolor=#000000 width=350>\n");
  std::fprintf(page, "<tr bgcolor=#ffd400><td>\n");
  std::fprintf(page, "<table border=0 cellspacing=0 cellpadding=1 bgcolor=#c09700 width=346>\n");
  std::fprintf(page, "<tr><td>\n");
  std::fprintf(page, "<table border=0 cellspacing=0 cellpadding=1 bgcolor=#ffd400 width=344>\n");
  std::fprintf(page, "<tr>\n<td width=%i bgcolor=#ffd400 align=right>&nbsp;</td>\n", bar);
  if (running) std::fprintf(page, "<td width=%i bgcolor=#a7a7a7>&nbsp;</td>\n", 350 - bar);
  std::fprintf(page, "</tr>\n</table>\n");
  std::fprintf(page, "</td></tr>\n</table>\n");
  std::fprintf(page, "</td></tr>\n</table>\n");
  std::fprintf(page, "<h2>%i%% completed</h2>\n", percent);
  if (!running && parser.position.place_lost) {
    std::fprintf(page, "<u>Note</u>: %s ", error_message(ERR_POS));
    fprint_number(page, whole(static_cast<double>(parser.position.lines_passed_over)));
    std::fprintf(page, " lines were passed over as already counted.<br>\n");
  }
  if (running) {
    std::fprintf(page, "<u>Note</u>: This page will refresh automatically every 3 seconds.\n");
  } else {
    std::fprintf(page, "<a href=# onClick=\"window.close()\"><b>close window</b></a>\n");
  }
  write_page_tail(page);
  return out.commit();
}
