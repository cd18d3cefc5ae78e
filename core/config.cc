#include "core/config.h"

#include <cstring>
#include <new>

#include "core/ad_campaigns.h"
#include "core/atomic_file.h"
#include "core/bounded_format.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/text.h"

const char* const kReportKeys[REPORT_KEY_COUNT] = {"OPS", "BRW", "DOM", "HST", "MRP", "LRP", "ENP",
                                                   "EXP", "SVP", "PTH", "DEP", "CDS", "TPS", "MRF",
                                                   "LRF", "ACP", "ENG", "SQR", "SEQ", "REF", "URL"};

const char* const kReportLabels[REPORT_KEY_COUNT] = {
    "Operating Systems", "Browser Types",   "Visiting Countries",    "Visiting Hosts",
    "Most Requested Pages", "Least Requested Pages", "Entry Pages",  "Exit Pages",
    "Single View Pages", "Visitor's Paths", "Visit Depth",           "Status Codes",
    "File Types",        "Most Requested Files", "Least Requested Files", "Ad Campaigns",
    "Search Engines",    "Search Queries",  "Search Engine Queries", "Referring Domains",
    "Referring URLs"};

const char* const kChartKeys[CHART_KEY_COUNT] = {"DAY_A", "HRS_A", "OPS_A", "BRW_A",
                                                 "CDS_A", "TPS_A", "ACP_A", "ENG_A"};

const char* const kChartLabels[CHART_KEY_COUNT] = {
    "Daily, Weekly, Monthly graph", "Hourly graph",       "Operating Systems chart",
    "Browser Types chart",          "Status Codes chart", "File Types chart",
    "Ad Campaigns chart",           "Search Engines chart"};

Config config;

Config::Config() {
  for (int i = 0; i < REPORT_KEY_COUNT; ++i) {
    row_limits[i] = 10;
    report_on[i] = 1;
  }
  for (int i = 0; i < CHART_KEY_COUNT; ++i) chart_on[i] = 1;
}

Config::~Config() {
  delete campaigns;
  campaigns = nullptr;
  formats.clear_strings();
  // The writer must not keep pointing into a record that is gone.
  if (html.prefix == static_dir) html.prefix = "";
}

namespace {

const unsigned char kPasswordKey = 0xA7;

void scramble_text(char* text) {
  std::size_t n = std::strlen(text);
  for (std::size_t i = n; i-- > 0;) text[i] = static_cast<char>(text[i] ^ kPasswordKey);
}

}  // namespace

void apply_setting(Config& record, const char* key, const char* value) {
  if (std::strcmp(key, "FRM") == 0) {
    record.selected_format = text_to_int(value);
  } else if (std::strcmp(key, "LOG") == 0) {
    copy_setting(record.log_location, static_cast<std::size_t>(log_location_width()) + 1, value);
  } else if (std::strcmp(key, "DIR") == 0) {
    copy_setting(record.static_dir, sizeof record.static_dir, value);
    html.prefix = record.static_dir;
  } else if (std::strcmp(key, "DMN") == 0) {
    copy_setting(record.own_domain, sizeof record.own_domain, value);
    record.domain_length = static_cast<int>(std::strlen(record.own_domain));
  } else if (std::strcmp(key, "HTM") == 0) {
    copy_setting(record.page_extensions, sizeof record.page_extensions, value);
  } else if (std::strcmp(key, "IDX") == 0) {
    copy_setting(record.index_file, sizeof record.index_file, value);
  } else if (std::strcmp(key, "IIP") == 0) {
    copy_setting(record.ignored_address, sizeof record.ignored_address, value);
    record.ignored_address_length = static_cast<int>(std::strlen(record.ignored_address));
  } else if (std::strcmp(key, "TMT") == 0) {
    record.session_timeout = text_to_int(value);
  } else if (std::strcmp(key, "STP") == 0) {
    record.depth_increment = text_to_int(value);
  } else if (std::strcmp(key, "PRM") == 0) {
    record.keep_parameters = std::strcmp(value, "0") != 0;
  } else if (std::strcmp(key, "BGC") == 0) {
    record.row_highlighting = std::strcmp(value, "0") != 0;
    if (!record.row_highlighting) html.row_attribute = "";
  } else if (std::strcmp(key, "PSW") == 0) {
    copy_setting(record.password, sizeof record.password, value);
    scramble_password(record);
  }
}

namespace {

void apply_switches(Config& record, const char* key, char* value) {
  for (int i = 0; i < REPORT_KEY_COUNT; ++i) {
    if (std::strcmp(key, kReportKeys[i]) == 0) {
      char* rest = value;
      record.report_on[i] = next_int_token(' ', &rest) == 1;
      record.row_limits[i] = text_to_int(rest);
    }
  }
  for (int i = 0; i < CHART_KEY_COUNT; ++i) {
    if (std::strcmp(key, kChartKeys[i]) == 0) record.chart_on[i] = text_to_int(value) == 1;
  }
}

}  // namespace

bool is_control_byte(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

void copy_setting(char* field, std::size_t size, const char* value) {
  if (size == 0) return;
  // Nothing of an earlier value may stay behind the new one: the password is
  // compared over its whole field.
  std::memset(field, 0, size);
  std::size_t n = 0;
  for (const char* p = value ? value : ""; *p && n + 1 < size; ++p) {
    if (!is_control_byte(static_cast<unsigned char>(*p))) field[n++] = *p;
  }
  field[n] = '\0';
}

void put_setting_text(FILE* file, const char* text) {
  for (const char* p = text; *p; ++p) {
    if (!is_control_byte(static_cast<unsigned char>(*p))) std::fputc(*p, file);
  }
}

void scramble_password(Config& record) { scramble_text(record.password); }

int Config::load() {
  delete campaigns;
  campaigns = nullptr;
  bool has_password = false;
  int status = read_settings_file("config.cfg", ' ', [this, &has_password](char* key, char* value) {
    apply_setting(*this, key, value);
    apply_switches(*this, key, value);
    if (std::strcmp(key, "PSW") == 0) has_password = true;
    return 0;
  });
  if (status != 0) return status;
  // Every saved file has the line ("PSW " alone for no password): a file without it
  // is damaged or empty, and must never read as an installation without a password.
  if (!has_password) return ERR_FIL;

  // A format's display name is the text before the first "%" of its line.
  status = read_settings_file("formats.cfg", '%', [this](char* name, char*) {
    return formats.add(name) != 0 ? ERR_MEM : 0;
  });
  if (status != 0) return status;

  campaigns = new (std::nothrow) AdCampaigns();
  if (!campaigns) return ERR_MEM;
  status = campaigns->load();
  if (status != 0) {
    delete campaigns;
    campaigns = nullptr;
  }
  return status;
}

int Config::save() {
  // Only a record that loaded whole holds a campaign table: the settings of a failed
  // load (defaults, or part of a damaged file) must never replace the owner's.
  if (!campaigns) return ERR_FIL;
  AtomicFile out;
  if (out.open("config.cfg", InPlace::locked) != 0) return ERR_FIL;
  FILE* f = out.file();
  const struct {
    const char* key;
    const char* text;
  } texts[] = {{"LOG", log_location}, {"DIR", static_dir}, {"DMN", own_domain},
               {"HTM", page_extensions}, {"IDX", index_file}, {"IIP", ignored_address}};

  std::fprintf(f, "%s %i\n", "FRM", selected_format);
  for (const auto& t : texts) {
    std::fprintf(f, "%s ", t.key);
    put_setting_text(f, t.text);
    std::fputc('\n', f);
  }
  std::fprintf(f, "%s %i\n", "TMT", session_timeout);
  std::fprintf(f, "%s %i\n", "STP", depth_increment);
  std::fprintf(f, "%s %i\n", "PRM", keep_parameters ? 1 : 0);
  std::fprintf(f, "%s %i\n", "BGC", row_highlighting ? 1 : 0);
  // The password is scrambled in a copy: the record keeps it plain whatever happens.
  char scrambled[sizeof password];
  copy_bounded(scrambled, sizeof scrambled, password);
  scramble_text(scrambled);
  std::fprintf(f, "%s ", "PSW");
  put_setting_text(f, scrambled);
  std::fputc('\n', f);
  for (int i = 0; i < REPORT_KEY_COUNT; ++i) {
    std::fprintf(f, "%s %i %i\n", kReportKeys[i], report_on[i] ? 1 : 0, row_limits[i]);
  }
  for (int i = 0; i < CHART_KEY_COUNT; ++i) std::fprintf(f, "%s %i\n", kChartKeys[i], chart_on[i] ? 1 : 0);
  if (out.commit() != 0) return ERR_FIL;
  return campaigns->save() != 0 ? ERR_FIL : 0;
}

void Config::set_log(int format, const char* location) {
  selected_format = format;
  copy_setting(log_location, static_cast<std::size_t>(log_location_width()) + 1, location);
}

void setup_globals(int flag) {
  // The record is rebuilt in place so that pointers to its fields (the writer's
  // prefix) stay valid; after a tear-down it is an empty record again, which the
  // exit-time destructor releases once more without harm.
  if (flag) {
    html.prefix = "";
    html.row_attribute = kRowHighlightAttribute;
  }
  config.~Config();
  new (&config) Config();
}

namespace {
// The static set-up before the program's entry, and the tear-down at exit.
struct GlobalsGuard {
  GlobalsGuard() { setup_globals(1); }
  ~GlobalsGuard() { setup_globals(0); }
} globals_guard;
}  // namespace
