#include "report/report_error.h"

#include "core/errors.h"
#include "core/html_writer.h"
#include "core/output.h"

int show_report_error(int code) {
  if (code == 0) return 0;
  html.page_head();
  html.section_title("Error", "TRB");
  html.section_open();
  page_puts("<tr><td>\n");
  page_puts("<table border=0 cellspacing=0 cellpadding=10 width=100% height=120>\n");
  page_puts("<tr><td valign=center>\n");
  page_printf("<p class=err><font color=#ff0000><b>ERROR:</b></font> %s</p>\n", error_message(code));
  page_puts("</td></tr>\n");
  page_puts("</table>\n");
  page_puts("</td></tr>\n");
  html.section_close();
  html.line_break();
  html.page_footer();
  // The page goes out first; a log line that cannot be written is dropped.
  append_error_log(code, "RPRT");
  return 0;
}
