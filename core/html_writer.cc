// The page frame and the forms of the page writer: head, footer, section frame,
// tables, the report selector with its date pickers, and the start page.
#include "core/html_writer.h"

#include "core/config.h"
#include "core/escape.h"
#include "core/output.h"
#include "core/text.h"

const char kHomePageAddress[] = "http://www.quillmoray.example";
const char kRowHighlightAttribute[] = " onMouseOver=\"bgc(this,0)\" onmouseout=\"bgc(this,1)\"";

HtmlWriter html;

namespace {

// The first year the date pickers offer; they run to this year (at least to 2010).
constexpr int kFirstPickerYear = 2000;
constexpr int kLastPickerYearAtLeast = 2010;

const char* const kMonthAbbreviations[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct TimeFrame {
  const char* code;
  const char* label;
};

const TimeFrame kTimeFrames[] = {
    {"cday", "Current Day"},     {"pday", "Previous Day"},    {"cweek", "Current Week"},
    {"pweek", "Previous Week"},  {"cmonth", "Current Month"}, {"pmonth", "Previous Month"},
    {"cyear", "Current Year"},   {"pyear", "Previous Year"},  {"ssumm", "Short Summary"},
    {"lsumm", "Long Summary"}};

// The hidden password field of every form that posts to the report program. The
// password must post back unchanged, so it is attribute-escaped.
void hidden_password() {
  page_printf("<input type=hidden name=pass value=\"%s\">\n", attr_escape(config.password).c_str());
}

}  // namespace

void HtmlWriter::page_head() {
  page_puts("<html>\n");
  page_puts("<head>\n");
  page_puts("<script language=javascript>\n");
  page_puts("//<!--\n");
  if (config.row_highlighting) {
    page_puts("function bgc(el, idx)\n");
    page_puts("{ bg = ['#d1cbd1', '#dfd8df']; el.bgColor = bg[idx]; }\n");
  }
  page_puts("function help(arg)\n");
  page_printf(
      "{ window.open('%shelp.html#' + arg, 'help', "
      "'width=600,height=450,resizable=0,status=1,scrollbars=1'); }\n",
      prefix);
  page_puts("function progress()\n");
  page_puts(
      "{ window.open('', 'progress', 'width=400,height=200,resizable=0,status=0,scrollbars=0'); "
      "}\n");
  page_puts("//-->\n");
  page_puts("</script>\n");
  page_printf("<link rel=stylesheet type=text/css href=%sstyles.css>\n", prefix);
  page_puts(
      "<title>Quillmoray v3.3 - Fast and comprehensive analysis of your web site "
      "traffic.</title>\n");
  page_puts("</head>\n");
  page_puts("<body bgcolor=#efefef text=#000000 link=#0000ff vlink=#0000b4>\n");
  page_puts("<a name=top></a>\n");
  page_puts("<center>\n");
}

void HtmlWriter::page_footer() {
  table_open(0, 0, "efefef", 610);
  page_printf("<tr><td class=ftr width=100%%>Generated on %2.2i/%2.2i/%i @ %i:%2.2i by ",
              today.month, today.day, today.year, today.hour, today.minute);
  page_printf("<a href=%s>Quillmoray v3.3</a><br>\n", kHomePageAddress);
  page_puts("</td>\n");
  page_printf(
      "<td width=88><a href=%s><img src=%simgs/31x88.gif alt=\"Quillmoray - web statistics\" "
      "border=0 height=31 width=88></a></td></tr>\n",
      kHomePageAddress, prefix);
  table_close();
  line_break();
  page_puts("</center>\n");
  page_puts("</body>\n");
  page_puts("</html>\n");
}

void HtmlWriter::start_page() {
  page_head();
  section_title("Generating HTML Reports", "GNR");
  section_open();
  page_puts("<tr>\n");
  page_puts("<td>\n");
  page_puts(
      "<p class=menu>There are two ways to generate reports with Quillmoray. First, you can "
      "select a predefined\n");
  page_puts(
      "report from the drop down menu located below on the left side. Second, you can specify "
      "a custom\n");
  page_puts(
      "time frame using drop down menus located below on the right side. To get a report for "
      "one\n");
  page_puts(
      "particular day, just enter it as an ending date and leave starting date as is "
      "(M/D/Y).</p>\n");
  page_puts(
      "<p class=menu><u>Note</u>: Before generating HTML reports you will need to instruct "
      "Quillmoray to parse\n");
  page_puts("your server log file.</p>\n");
  page_puts("<center>\n");
  report_selector("dfd8df", 594);
  page_puts("</center>\n");
  page_puts("</td>\n");
  page_puts("</tr>\n");
  section_close();
  line_break();

  section_title("Parsing Server Log File", "PRS");
  section_open();
  page_puts("<tr>\n");
  page_puts("<td>\n");
  page_puts(
      "<p class=menu>To parse a server log file just press the button below. After the parsing "
      "is finished you may generate various HTML\n");
  page_puts("reports. For info on automating log file parsing \n");
  page_puts(
      "<a href=\"javascript:help('PRS')\" onMouseOver=\"window.status='Help';return true\" "
      "onMouseOut=\"window.status='';return true\"><b>click here</b></a>.</p>\n");
  page_puts(
      "<p class=menu><u>Note</u>: Before parsing the log file you will need to <a "
      "href=config.cgi target=config>\n");
  page_puts("<b>configure Quillmoray</b></a> and set your preferences.</p>\n");
  page_puts(
      "<center><form action=report.cgi method=post target=progress "
      "onSubmit=\"progress()\">\n");
  hidden_password();
  page_puts("<input type=hidden name=type value=\"parse\">\n");
  page_printf("<input type=image src=%simgs/parse.gif width=97 height=20 border=0>\n", prefix);
  page_puts("</form></center>\n");
  page_puts("</td>\n");
  page_puts("</tr>\n");
  section_close();
  line_break();
  page_footer();
}

void HtmlWriter::report_selector(const char* colour, int width) {
  table_open(0, 1, colour, width);
  page_puts("<tr valign=top>\n<td>");

  page_puts("<form action=report.cgi method=post>\n");
  hidden_password();
  page_puts("<select class=clr name=type>\n");
  for (const TimeFrame& frame : kTimeFrames) option_value(frame.code, frame.label);
  page_printf(
      "</select> <input type=image src=%simgs/go.gif width=32 height=20 border=0 "
      "align=absbottom></form><p></p></td>\n",
      prefix);

  page_puts("<td align=right><form action=report.cgi method=post>\n");
  hidden_password();
  page_puts("<input type=hidden name=type value=custom>\n");
  date_pickers('s');
  date_pickers('e');
  page_printf(
      " <input type=image src=%simgs/go.gif width=32 height=20 border=0 "
      "align=absbottom></form></td>\n</tr>\n",
      prefix);
  table_close();
}

void HtmlWriter::date_pickers(char which) {
  const bool start = which == 's';
  // The years run to the current one, so that this year can be picked (and is
  // preselected in the end date).
  const int last_year = today.year > kLastPickerYearAtLeast ? today.year : kLastPickerYearAtLeast;

  if (start) {
    page_printf("<select class=clr name=m%c><option value=0 selected>M", which);
  } else {
    page_printf("<select class=clr name=m%c>", which);
  }
  for (int month = 1; month <= 12; ++month) {
    option_text(month, kMonthAbbreviations[month - 1], !start && month == today.month);
  }
  page_puts("\n</select>");

  if (start) {
    page_printf("<select class=clr name=d%c><option value=0 selected>D", which);
  } else {
    page_printf("<select class=clr name=d%c>", which);
  }
  for (int day = 1; day <= 31; ++day) option_int(day, false);
  page_puts("\n</select>");

  if (start) {
    page_printf("<select class=clr name=y%c><option value=0 selected>Y", which);
  } else {
    page_printf("<select class=clr name=y%c>", which);
  }
  for (int year = kFirstPickerYear; year <= last_year; ++year) {
    option_int(year, !start && year == today.year);
  }
  page_puts("\n</select>");

  if (start) page_puts(" <tt>-</tt> ");
}

void HtmlWriter::option_int(int value, bool selected) {
  page_printf("<option value=%i%s>%i", value, selected ? " selected" : "", value);
}

void HtmlWriter::option_text(int value, const char* text, bool selected) {
  page_printf("<option value=%i%s>%s", value, selected ? " selected" : "",
              html_escape(text).c_str());
}

void HtmlWriter::option_value(const char* code, const char* text) {
  page_printf("<option value=%s>%s", code, html_escape(text).c_str());
}

void HtmlWriter::section_title(const char* title, const char* help_code) {
  table_open(0, 0, "efefef", 610);
  page_printf("<tr><td colspan=5><img src=%simgs/t_t.gif width=610 height=4></td></tr>\n", prefix);
  page_puts("<tr bgcolor=#ffd400 valign=center>\n");
  page_printf("<td width=1 bgcolor=#c09700><img src=%simgs/i.gif width=1 height=17></td>\n", prefix);
  page_printf("<td width=38><img src=%simgs/i.gif width=38 height=17></td>\n", prefix);
  page_printf("<td width=532 align=center class=ttl>%s</td>\n", label_escape(title).c_str());
  page_printf(
      "<td width=38><a href=\"javascript:help('%s')\" onMouseOver=\"window.status='Help';return "
      "true\" onMouseOut=\"window.status='';return true\"><img src=%simgs/i_h.gif alt=help "
      "width=19 height=17 border=0></a>",
      help_code, prefix);
  page_printf(
      "<a href=#top onMouseOver=\"window.status='Top';return true\" "
      "onMouseOut=\"window.status='';return true\"><img src=%simgs/i_t.gif alt=top width=19 "
      "height=17 border=0></a></td>\n",
      prefix);
  page_printf(
      "<td width=1 bgcolor=#c09700><img src=%simgs/i.gif width=1 height=17></td>\n</tr>\n",
      prefix);
  page_printf("<tr><td colspan=5><img src=%simgs/t_b.gif width=610 height=4></td></tr>\n", prefix);
  table_close();
}

void HtmlWriter::section_open() {
  table_open(1, 2, "a7a7a7", 610);
  page_puts("<tr bgcolor=#dfd8df><td>\n");
  table_open(0, 0, "dfd8df", 604);
}

void HtmlWriter::section_close() {
  table_close();
  page_puts("</td></tr>\n");
  table_close();
}

void HtmlWriter::table_open(int cellspacing, int cellpadding, const char* colour, int width) {
  page_printf("<table border=0 cellspacing=%i cellpadding=%i bgcolor=#%s width=%i>\n", cellspacing,
              cellpadding, colour, width);
}

void HtmlWriter::table_close() { page_puts("</table>\n"); }

void HtmlWriter::line_break() { page_puts("<br>\n"); }

void HtmlWriter::out_of_memory() {
  section_open();
  page_puts("<tr><td>\n<center><br>Not enough memory to generate this report - ");
  page_puts("try again or contact administrator.<br><br></center>\n</td></tr>\n");
  section_close();
  line_break();
}

void HtmlWriter::link_legend() {
  table_open(0, 5, "efefef", 610);
  page_puts("<tr align=center><td>\n");
  page_printf(
      "<img src=%simgs/c_r.gif width=8 height=8 border=1 align=absmiddle> cgi generated&nbsp;\n",
      prefix);
  page_printf(
      "<img src=%simgs/c_p.gif width=8 height=8 border=1 align=absmiddle> e-mail "
      "messages&nbsp;\n",
      prefix);
  page_printf(
      "<img src=%simgs/c_g.gif width=8 height=8 border=1 align=absmiddle> newsgroups&nbsp;\n",
      prefix);
  page_printf("<img src=%simgs/c_b.gif width=8 height=8 border=1 align=absmiddle> regular links\n",
              prefix);
  page_puts("</td></tr>\n");
  table_close();
}
