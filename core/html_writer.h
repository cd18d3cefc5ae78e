#ifndef QM_CORE_HTML_WRITER_H
#define QM_CORE_HTML_WRITER_H

#include <cstddef>
#include <cstdint>

struct Config;
struct DailySeries;

// The product's home page (no trailing slash): the footer links to it and other
// pages may link to pages under it.
extern const char kHomePageAddress[];

// The row attribute that turns row highlighting on: every data row calls the page
// script's bgc() on mouse-over (0) and mouse-out (1).
extern const char kRowHighlightAttribute[];

// The page writer: the one object through which report pages are written. Every
// operation writes to the page stream (core/output.h) with fixed templates.
//
// TEXT ARGUMENTS — who escapes:
//   * Labels of the program (escaped here with label_escape: "<" and ">" only, so
//     "Direct Hits & Bookmarks" stays as written): section titles, header labels
//     and the labels of summary_row, percent_row and config_report_row.
//   * Plain text (escaped here with html_escape: "&", "<" and ">"): every other
//     argument named `text` or ending in `label` / `labels`. Pass texts from the
//     hit log, visitors, definition files or the configuration exactly as they
//     are; do NOT escape them first. Attribute values (`value`, pie labels) are
//     attribute-escaped (& < > " ').
//   * HTML (written as it stands): only `ranked_row`'s `label_html`, because its
//     callers put links and "&nbsp;" in it. Build it with html_escape /
//     attr_escape for every part that does not come from this program's own
//     constants (host names, file names, page paths, referrers, campaign names,
//     top-level domains...).
//   * Constants of the program (written as they stand): help codes, colours,
//     parameter names, applet types, option values.
class HtmlWriter {
 public:
  const char* prefix = "";         // URL prefix of the static files (not owned)
  const char* row_attribute = "";  // attribute text inside every data row's <tr> (not owned)

  // ---- Page frame and forms ------------------------------------------------
  // Page head with its scripts (bgc only with row highlighting on) and the body's opening.
  void page_head();
  // Footer with the start time of the request, then the end of the page.
  void page_footer();
  // The whole page shown after a successful login.
  void start_page();
  // The report selection box: predefined time frames and a custom range. The
  // configured password goes into the hidden "pass" fields attribute-escaped.
  void report_selector(const char* colour, int width);
  // Month, day and year lists: 's' for the start date, any other character for the end date.
  void date_pickers(char which);
  // "<option value=N[ selected]>N"; options are never closed.
  void option_int(int value, bool selected);
  // "<option value=N[ selected]>text".
  void option_text(int value, const char* text, bool selected);
  // "<option value=code>text"; `code` is a program constant.
  void option_value(const char* code, const char* text);
  // The yellow title bar of a section.
  void section_title(const char* title, const char* help_code);
  // Section body: rows written between open and close go into a 604-wide table.
  void section_open();
  void section_close();
  void table_open(int cellspacing, int cellpadding, const char* colour, int width);
  void table_close();
  void line_break();
  // The box written in place of a section that ran out of working memory.
  void out_of_memory();
  // The colour legend under the referring-URL list.
  void link_legend();

  // ---- Header rows ---------------------------------------------------------
  // Summary header: label, "Visitors", "% of all". Writes no section opening.
  void summary_header(const char* label);
  // Opens a list section and writes its header: #, key, value, "% of all".
  void list_header(const char* key_label, const char* value_label);
  // The same with two value columns.
  void list_header2(const char* key_label, const char* second_label, const char* third_label);
  // Closes a list section (as section_close).
  void list_close();

  // ---- Data rows (each carries the row attribute unless stated) -------------
  // Summary row: label, the average per day (only when days > 1), the total.
  void summary_row(const char* label, int total, int days);
  // Label, count, and the count as a percentage of total (0.0 when total is 0).
  void percent_row(const char* label, int count, int total);
  // An indented row under a highlighted row. `share` is a fraction; a share that is
  // not a finite number (a total of 0) shows 0.0 in every row kind.
  void indent_row(const char* label, int count, float share);
  // The ordinary list row. The label is HTML, see above.
  void ranked_row(int position, const char* label_html, int count, float share);
  // A group heading row: fixed background, no row attribute.
  void ranked_row_highlight(int position, const char* label, int count, float share);
  // List row with an extra text column after the label.
  void ranked_row2(int position, const char* label, const char* text, int count, float share);
  // List row with two count columns.
  void ranked_row_values2(int position, const char* label, int first, int second, float share);
  // One-pixel spacer row spanning `columns` columns.
  void spacer_row(int columns);

  // ---- Graph applet --------------------------------------------------------
  // The applet element. For type "bar": `values` and `second` series of `count`
  // integers, and with `series` its day labels (else the bars are labelled by hour).
  // For any other type (a pie): at most 20 slices, values[order[i]] labelled
  // labels[order[i]] (plain texts; commas become ';' since they separate list
  // items). Missing arrays are treated as empty.
  void graph_applet(const char* type, int count, const int32_t* values, const int32_t* order,
                    const int32_t* second, const char* const* labels, const DailySeries* series);
  // "<param name=N value="V">"; the value is attribute-escaped.
  void param(const char* name, const char* value);
  // One parameter listing the integers, each followed by a comma.
  void param_ints(const char* name, int count, const int32_t* values);
  // One parameter listing the bytes as signed integers, each followed by a comma.
  void param_bytes(const char* name, int count, const int8_t* values);

  // ---- Configuration page --------------------------------------------------
  // The configuration section (title bar, form, section closing) for the page
  // served at "config.cgi". Configuration texts inside value="..." are
  // attribute-escaped, so the form posts them back unchanged.
  void config_form(const Config& record);
  // The log format list and log file location box of the parse request.
  void log_settings(const Config& record);
  // One row of the reports or charts table: the label (plain text), then three
  // cells of HTML.
  void config_report_row(const char* label, const char* on_html, const char* off_html,
                         const char* third_html);
  // Builds the two radio inputs (values 1 and 0) of a switch, each into its own
  // buffer of `size` bytes; the one matching `on` is checked.
  void radio_pair(char* on_buffer, char* off_buffer, std::size_t size, const char* name, bool on);
};

// Builds a text input into the buffer of `buffer_size` bytes. The value is written
// unquoted: pass only program-made tokens (numbers), never configuration texts.
void write_text_input(char* buffer, std::size_t buffer_size, const char* name, const char* value,
                      int size, int maxlength);

// The global page writer.
extern HtmlWriter html;

#endif
