// The page writer's rows: header rows, data rows with counts and shares, spacer
// rows, and the graph applet with its parameter lists.
#include <cmath>
#include <string_view>

#include "core/containers.h"
#include "core/escape.h"
#include "core/html_writer.h"
#include "core/output.h"
#include "core/text.h"

namespace {

// A pie shows at most this many slices; the rest are dropped.
constexpr int kMaxPieSlices = 20;

// Share × 100 as the share cell shows it; a share that is not a finite number (a
// total of 0) shows as 0.0 rather than "nan" or "inf".
double percent_of_share(float share) {
  double percent = static_cast<double>(share) * 100.0;
  return std::isfinite(percent) ? percent : 0.0;
}

void count_cell(int count) {
  page_puts("<td>");
  print_number(count);
  page_puts("</td>");
}

void share_cell(float share) { page_printf("<td>%.1f</td>", percent_of_share(share)); }

void header_begin() { page_puts("<tr bgcolor=#a7a7a7 align=right>"); }

void header_end() {
  page_puts("<td class=lbl nowrap>% of all</td>");
  page_puts("</tr>\n");
}

}  // namespace

void HtmlWriter::summary_header(const char* label) {
  header_begin();
  page_printf("<td class=lbl align=left width=100%%>%s</td>", label_escape(label).c_str());
  page_puts("<td class=lbl>Visitors</td>");
  header_end();
}

void HtmlWriter::list_header(const char* key_label, const char* value_label) {
  section_open();
  header_begin();
  page_puts("<td class=lbl align=center>#</td>");
  page_printf("<td class=lbl align=left width=100%%>%s</td>", label_escape(key_label).c_str());
  page_printf("<td class=lbl>%s</td>", label_escape(value_label).c_str());
  header_end();
}

void HtmlWriter::list_header2(const char* key_label, const char* second_label,
                              const char* third_label) {
  section_open();
  header_begin();
  page_puts("<td class=lbl align=center>#</td>");
  page_printf("<td class=lbl align=left width=100%%>%s</td>", label_escape(key_label).c_str());
  page_printf("<td class=lbl>%s</td>", label_escape(second_label).c_str());
  page_printf("<td class=lbl>%s</td>", label_escape(third_label).c_str());
  header_end();
}

void HtmlWriter::list_close() { section_close(); }

void HtmlWriter::summary_row(const char* label, int total, int days) {
  page_printf("<tr class=dat align=right%s>", row_attribute);
  page_printf("<td align=left width=100%%>%s ", label_escape(label).c_str());
  if (days > 1) page_puts("(average / total)");
  page_puts("</td>");
  page_puts("<td>");
  if (days > 1) print_number(total / days);
  page_puts("</td>");
  count_cell(total);
  page_puts("</tr>\n");
}

void HtmlWriter::percent_row(const char* label, int count, int total) {
  page_printf("<tr class=dat align=right%s>", row_attribute);
  page_printf("<td align=left>%s</td>", label_escape(label).c_str());
  count_cell(count);
  // A total of 0 shows 0.0, not "nan" or "inf".
  double percent = 0.0;
  if (total != 0) percent = static_cast<double>(count) / static_cast<double>(total) * 100.0;
  page_printf("<td>%.1f</td>", percent);
  page_puts("</tr>\n");
}

void HtmlWriter::indent_row(const char* label, int count, float share) {
  page_printf("<tr class=dat align=right%s>", row_attribute);
  page_puts("<td>&nbsp;</td>");
  page_printf("<td align=left>%s</td>", html_escape(label).c_str());
  count_cell(count);
  share_cell(share);
  page_puts("</tr>\n");
}

void HtmlWriter::ranked_row(int position, const char* label_html, int count, float share) {
  page_printf("<tr class=dat align=right%s>", row_attribute);
  page_printf("<td>%i</td>", position);
  page_printf("<td align=left>%s</td>", label_html ? label_html : "");
  count_cell(count);
  share_cell(share);
  page_puts("</tr>\n");
}

void HtmlWriter::ranked_row_highlight(int position, const char* label, int count, float share) {
  page_puts("<tr class=dat align=right bgcolor=#d1cbd1>");
  page_printf("<td>%i</td>", position);
  page_printf("<td align=left><span class=ttl>%s</span></td>", html_escape(label).c_str());
  count_cell(count);
  share_cell(share);
  page_puts("</tr>\n");
}

void HtmlWriter::ranked_row2(int position, const char* label, const char* text, int count,
                             float share) {
  page_printf("<tr class=dat align=right%s>", row_attribute);
  page_printf("<td>%i</td>", position);
  page_printf("<td align=left>%s</td>", html_escape(label).c_str());
  page_printf("<td>%s</td>", html_escape(text).c_str());
  count_cell(count);
  share_cell(share);
  page_puts("</tr>\n");
}

void HtmlWriter::ranked_row_values2(int position, const char* label, int first, int second,
                                    float share) {
  page_printf("<tr class=dat align=right%s>", row_attribute);
  page_printf("<td>%i</td>", position);
  page_printf("<td align=left>%s</td>", html_escape(label).c_str());
  count_cell(first);
  count_cell(second);
  share_cell(share);
  page_puts("</tr>\n");
}

void HtmlWriter::spacer_row(int columns) {
  page_printf("<tr><td colspan=%i bgcolor=#efefef><img src=%simgs/i.gif></td></tr>\n", columns,
              prefix);
}

void HtmlWriter::graph_applet(const char* type, int count, const int32_t* values,
                              const int32_t* order, const int32_t* second,
                              const char* const* labels, const DailySeries* series) {
  if (count < 0) count = 0;
  page_printf("<applet codebase=%sappl code=Corvilande.class width=604 height=150>\n", prefix);
  param("type", type);
  param("background", "223,216,223");
  param("labelcolor", "0,0,0");
  if (type && std::string_view(type) == "bar") {
    param("fbcolor", "250,205,0");
    param("fhcolor", "240,0,0");
    param("bbcolor", "0,100,205");
    param("bhcolor", "200,0,0");
    param_ints("visitors", count, values);
    param_ints("hits", count, second);
    if (series) {
      // Never read past the series, whatever count the caller passes.
      auto within = [count](int32_t available) { return available < count ? available : count; };
      param_bytes("days", within(series->days.count), series->days.data);
      param_bytes("months", within(series->months.count), series->months.data);
      param_ints("years", within(series->years.count), series->years.data);
    } else {
      param("autolabel", "hours");
    }
  } else {
    int slices = count < kMaxPieSlices ? count : kMaxPieSlices;
    if (!values) slices = 0;
    page_puts("<param name=visitors value=\"");
    for (int i = 0; i < slices; ++i) page_printf("%i,", values[order ? order[i] : i]);
    page_puts("\">\n");
    page_puts("<param name=labels value=\"");
    for (int i = 0; i < slices; ++i) {
      const char* label = labels ? labels[order ? order[i] : i] : "";
      page_printf("%s,", list_item_escape(label).c_str());
    }
    page_puts("\">\n");
  }
  page_puts("</applet>");
}

void HtmlWriter::param(const char* name, const char* value) {
  page_printf("<param name=%s value=\"%s\">\n", name, attr_escape(value).c_str());
}

void HtmlWriter::param_ints(const char* name, int count, const int32_t* values) {
  page_printf("<param name=%s value=\"", name);
  if (values) {
    for (int i = 0; i < count; ++i) page_printf("%i,", static_cast<int>(values[i]));
  }
  page_puts("\">\n");
}

void HtmlWriter::param_bytes(const char* name, int count, const int8_t* values) {
  page_printf("<param name=%s value=\"", name);
  if (values) {
    for (int i = 0; i < count; ++i) page_printf("%i,", static_cast<int>(values[i]));
  }
  page_puts("\">\n");
}
