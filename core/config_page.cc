// The configuration page: its writer (the settings form and the log settings
// box) and the handler of the posted form.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "core/ad_campaigns.h"
#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/escape.h"
#include "core/form_input.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/program.h"

namespace {

const char kBoxColour[] = "dfd8df";
const std::size_t kCellSize = 128;  // one radio input or row-limit input

void open_settings_table(HtmlWriter& writer) { writer.table_open(2, 0, kBoxColour, 300); }

void close_table(HtmlWriter& writer) {
  writer.table_close();
  writer.line_break();
}

// The page leaves out four report rows; which four depends on the build.
bool report_row_shown(int key) {
  int first = program_build() == ProgramBuild::parser ? RPT_DEP : RPT_CDS;
  return key < first || key > first + 3;
}

bool chart_row_shown(int key) { return key != CHT_CDS && key != CHT_TPS; }

void text_setting_row(const char* label, const char* key, const char* value) {
  page_printf("<tr><td width=100%%>%s:</td>", label);
  page_printf("<td><input class=clr type=text name=%s size=25 maxlength=64 value=\"%s\"></td></tr>\n", key,
              attr_escape(value).c_str());
}

void number_setting_row(const char* label, const char* key, int value, const char* unit) {
  page_printf("<tr><td width=100%%>%s:</td>", label);
  page_printf("<td><input class=clr type=text name=%s size=3 maxlength=3 value=\"%i\">", key, value);
  page_printf(" %s</td></tr>\n", unit);
}

void switch_setting_row(HtmlWriter& writer, const char* label, const char* key, bool on) {
  char on_cell[kCellSize];
  char off_cell[kCellSize];
  writer.radio_pair(on_cell, off_cell, kCellSize, key, on);
  page_printf("<tr><td width=100%%>%s:</td>", label);
  page_printf("<td>%son %soff</td></tr>\n", on_cell, off_cell);
}

void campaign_row(int number, const char* name, const strArr* patterns) {
  page_printf("<tr><td><input class=clr type=text name=ACP_N%i value=\"%s\" size=20 maxlength=32></td>", number,
              attr_escape(name).c_str());
  page_printf("<td><input class=clr type=text name=ACP_V%i value=\"", number);
  if (patterns) {
    for (int j = 1; j < patterns->count; ++j) {
      if (j > 1) page_puts(" ");
      print_attr(patterns->strings[j]);
    }
  }
  page_puts("\" size=25 maxlength=64></td></tr>\n");
}

void switch_table_row(HtmlWriter& writer, const char* label, const char* key, bool on, const char* third) {
  char on_cell[kCellSize];
  char off_cell[kCellSize];
  writer.radio_pair(on_cell, off_cell, kCellSize, key, on);
  writer.config_report_row(label, on_cell, off_cell, third);
}

}  // namespace

void write_text_input(char* buffer, std::size_t buffer_size, const char* name, const char* value, int size,
                      int maxlength) {
  format_into(buffer, buffer_size, "<input class=clr type=text name=%s value=%s size=%i maxlength=%i>", name,
              value, size, maxlength);
}

void HtmlWriter::radio_pair(char* on_buffer, char* off_buffer, std::size_t size, const char* name, bool on) {
  format_into(on_buffer, size, "<input type=radio name=%s value=1", name);
  format_into(off_buffer, size, "<input type=radio name=%s value=0", name);
  append_format(on_buffer, size, "%s", on ? " checked>" : ">");
  append_format(off_buffer, size, "%s", on ? ">" : " checked>");
}

void HtmlWriter::config_report_row(const char* label, const char* on_html, const char* off_html,
                                   const char* third_html) {
  page_puts("<tr align=center>");
  page_printf("<td align=left>%s</td>", label_escape(label).c_str());
  page_printf("<td>%s</td><td>%s</td><td align=right>%s</td></tr>\n", on_html, off_html, third_html);
}

void HtmlWriter::config_form(const Config& record) {
  section_title("Quillmoray Configuration", "CFG");
  section_open();
  page_puts("<tr><td>\n<br>\n<center>\n");
  page_puts("<form action=config.cgi method=post name=form>\n");

  open_settings_table(*this);
  text_setting_row("Web domain name", "DMN", record.own_domain);
  text_setting_row("Quillmoray directory", "DIR", record.static_dir);
  text_setting_row("IP address to ignore", "IIP", record.ignored_address);
  number_setting_row("Session timeout", "TMT", record.session_timeout / 60, "minutes");
  number_setting_row("Visit depth increment", "STP", record.depth_increment, "page(s)");
  switch_setting_row(*this, "Dynamic pages params", "PRM", record.keep_parameters != 0);
  switch_setting_row(*this, "JS row highlighting", "BGC", record.row_highlighting != 0);
  close_table(*this);

  open_settings_table(*this);
  page_puts("<tr><td width=100%><b>Ad Campaign:</td>");
  page_puts("<td><b>Domain Name(s):</td></tr>\n");
  int count = record.campaigns ? record.campaigns->count : 0;
  for (int i = 0; i < count; ++i) {
    const strArr* list = record.campaigns->campaigns[i];
    campaign_row(i, list->strings[0], list);
  }
  campaign_row(count, "", nullptr);
  campaign_row(count + 1, "", nullptr);
  close_table(*this);

  open_settings_table(*this);
  page_puts("<tr align=center><td align=left><b>Reports:</td>");
  page_puts("<td><b>on</td>");
  page_puts("<td><b>off</td>");
  page_puts("<td align=right><b>max.</td></tr>\n");
  for (int i = 0; i < REPORT_KEY_COUNT; ++i) {
    if (!report_row_shown(i)) continue;
    char name[16];
    char limit[16];
    char input[kCellSize];
    format_into(name, sizeof name, "%s_N", kReportKeys[i]);
    format_into(limit, sizeof limit, "%i", record.row_limits[i]);
    write_text_input(input, sizeof input, name, limit, 3, 4);
    switch_table_row(*this, kReportLabels[i], kReportKeys[i], record.report_on[i] != 0, input);
  }
  page_puts("<tr align=center><td colspan=4 align=left>&nbsp;</td></tr>\n");
  page_puts("<tr align=center><td align=left><b>Interactive graphs & pie charts:</td>");
  page_puts("<td><b>on</td>");
  page_puts("<td><b>off</td>");
  page_puts("<td>&nbsp;</td></tr>\n");
  for (int i = 0; i < CHART_KEY_COUNT; ++i) {
    if (chart_row_shown(i)) switch_table_row(*this, kChartLabels[i], kChartKeys[i], record.chart_on[i] != 0, "&nbsp;");
  }
  close_table(*this);

  open_settings_table(*this);
  page_puts("<tr><td width=35%>New password:</td>");
  page_puts("<td><input class=clr type=password name=PSW2 size=12 maxlength=12> (12 chars max)</td></tr>\n");
  page_puts("<tr><td>Confirm password:</td>");
  page_puts("<td><input class=clr type=password name=PSW3 size=12 maxlength=12></td></tr>\n");
  page_puts("<tr><td colspan=2>&nbsp;</td></tr>\n");
  page_puts("<tr><td>Current password:</td>");
  page_puts("<td><input class=clr type=password name=PSW1 size=12 maxlength=12></td></tr>\n");
  close_table(*this);

  page_printf(
      "<a href=\"javascript:document.form.submit()\"><img src=%simgs/save.gif width=97 height=20 "
      "border=0></a>\n",
      record.static_dir);
  page_printf(
      "<a href=\"javascript:document.form.reset()\"><img src=%simgs/reset.gif width=67 height=20 "
      "border=0></a>\n",
      record.static_dir);
  page_puts("</form>\n</center>\n</td></tr>\n");
  section_close();
  line_break();
}

void HtmlWriter::log_settings(const Config& record) {
  table_open(0, 0, kBoxColour, 285);
  page_printf("<tr><td width=100%%><b>%s:</b></td><td>", "Log file format");
  page_printf("<select class=clr name=%s>\n", "FRM");
  page_puts("<option value=0>Unspecified");
  for (int i = 0; i < record.formats.count; ++i) {
    option_text(i + 1, record.formats.strings[i], i + 1 == record.selected_format);
  }
  page_puts("</select>");
  page_puts("</td></tr>\n");
  page_printf("<tr><td width=100%%><b>%s:</b></td>", "Log file location");
  page_printf("<td><input class=clr type=text name=%s size=32 maxlength=%i value=\"%s\"></td></tr>\n", "LOG",
              log_location_width(), attr_escape(record.log_location).c_str());
  table_close();
  line_break();
}

namespace {

const std::size_t kPasswordSize = sizeof(Config::password);  // 13 characters
const int kMaxMinutes = INT_MAX / 60;

// A password byte that would be dropped when stored, or that scrambles to a byte
// the settings file cannot hold in its line, would lock the owner out.
bool password_storable(const char* password) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(password); *p; ++p) {
    unsigned char scrambled = static_cast<unsigned char>(*p ^ 0xA7);
    if (is_control_byte(*p) || is_control_byte(scrambled) || scrambled == ' ') return false;
  }
  return true;
}

// The campaign rows "ACP_N<i>" / "ACP_V<i>" of the form, in order, up to the first
// row the form does not carry.
struct CampaignRow {
  const char* name;
  const char* patterns;
};

bool campaign_row_at(const FormInput& form, int number, CampaignRow& row) {
  char name_field[24];
  char patterns_field[24];
  format_into(name_field, sizeof name_field, "ACP_N%i", number);
  format_into(patterns_field, sizeof patterns_field, "ACP_V%i", number);
  int name_at = form.index_of(name_field);
  int patterns_at = form.index_of(patterns_field);
  if (name_at < 0 || patterns_at < 0) return false;
  row.name = form.values[name_at];
  row.patterns = form.values[patterns_at];
  return true;
}

// A name is stored in front of the "|" that ends it in "dat_acp.cfg"; one holding a
// "|" itself would not read back.
bool campaign_names_storable(const FormInput& form) {
  CampaignRow row;
  for (int i = 0; campaign_row_at(form, i, row); ++i) {
    if (std::strchr(row.name, '|')) return false;
  }
  return true;
}

// A name of control bytes only would be stored empty.
bool has_text(const char* name) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    if (!is_control_byte(*p)) return true;
  }
  return false;
}

// Adds every blank-separated piece of the text (an empty one too) as a pattern.
int add_patterns(AdCampaigns& table, const char* text) {
  std::unique_ptr<char, decltype(&std::free)> copy(copy_text(text), &std::free);
  if (!copy) return ERR_MEM;
  char* cursor = copy.get();
  if (!*cursor) return 0;
  for (;;) {
    char* piece = cursor;
    char* blank = std::strchr(cursor, ' ');
    if (blank) *blank = '\0';
    if (table.add_pattern(piece) != 0) return ERR_MEM;
    if (!blank) return 0;
    cursor = blank + 1;
  }
}

// Rebuilds the campaigns from the form into a new table. A row with an empty name
// is left out; a named row without patterns stays a campaign without patterns,
// so a page posted unchanged gives back the same table.
int read_campaigns(const FormInput& form, AdCampaigns& table) {
  CampaignRow row;
  for (int i = 0; campaign_row_at(form, i, row); ++i) {
    if (!has_text(row.name)) continue;
    if (table.add(row.name) != 0) return ERR_MEM;
    if (add_patterns(table, row.patterns) != 0) return ERR_MEM;
  }
  return 0;
}

void apply_switch(const FormInput& form, const char* key, uint8_t& field) {
  bool on = false;
  form.get_flag(key, on);
  field = on ? 1 : 0;
}

}  // namespace

int Config::apply_form(FILE* input) {
  FormInput form;
  if (!form.is_post) return ERR_INP;
  if (form.parse(input) != 0) return ERR_MEM;

  char current[kPasswordSize] = "";
  char fresh[kPasswordSize] = "";
  char confirmed[kPasswordSize] = "";
  form.get_into("PSW1", current, sizeof current);
  form.get_into("PSW2", fresh, sizeof fresh);
  form.get_into("PSW3", confirmed, sizeof confirmed);
  if (std::strcmp(password, current) != 0) return ERR_PSW;
  if (fresh[0] && std::strcmp(fresh, confirmed) != 0) return ERR_PMM;
  // Refused before anything changes.
  if (fresh[0] && !password_storable(fresh)) return ERR_INP;
  if (!campaign_names_storable(form)) return ERR_INP;

  if (fresh[0]) copy_setting(password, sizeof password, fresh);
  for (const char* key : {"DIR", "DMN", "HTM", "IDX", "IIP"}) {
    int at = form.index_of(key);
    if (at >= 0) apply_setting(*this, key, form.values[at]);
  }
  int minutes = 0;
  if (form.index_of("TMT") >= 0) {
    form.get_int("TMT", minutes);
    // Saturated: the timeout in seconds must still fit its field.
    if (minutes > kMaxMinutes) minutes = kMaxMinutes;
    if (minutes < -kMaxMinutes) minutes = -kMaxMinutes;
    session_timeout = minutes * 60;
  }
  form.get_int("STP", depth_increment);
  apply_switch(form, "PRM", keep_parameters);
  apply_switch(form, "BGC", row_highlighting);
  for (int i = 0; i < REPORT_KEY_COUNT; ++i) {
    apply_switch(form, kReportKeys[i], report_on[i]);
    char name[16];
    format_into(name, sizeof name, "%s_N", kReportKeys[i]);
    form.get_int(name, row_limits[i]);
  }
  for (int i = 0; i < CHART_KEY_COUNT; ++i) apply_switch(form, kChartKeys[i], chart_on[i]);

  // Without a loaded table the page showed none of the stored campaigns: they
  // are left as they are rather than replaced.
  if (!campaigns) return 0;
  AdCampaigns rebuilt;
  if (read_campaigns(form, rebuilt) != 0) return ERR_MEM;
  // The new lists go into the record's table (its counters and tag stay); on a
  // failure above the old campaigns are kept.
  campaigns->clear();
  campaigns->campaigns = rebuilt.campaigns;
  campaigns->count = rebuilt.count;
  rebuilt.campaigns = nullptr;
  rebuilt.count = 0;
  return 0;
}
