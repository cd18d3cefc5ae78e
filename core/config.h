#ifndef QM_CORE_CONFIG_H
#define QM_CORE_CONFIG_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/atomic_file.h"
#include "core/containers.h"
#include "core/errors.h"
#include "core/text.h"

class AdCampaigns;

// Report keys, in their fixed order: this order indexes the row limits and the
// report switches everywhere.
enum ReportKey {
  RPT_OPS, RPT_BRW, RPT_DOM, RPT_HST, RPT_MRP, RPT_LRP, RPT_ENP, RPT_EXP, RPT_SVP, RPT_PTH, RPT_DEP,
  RPT_CDS, RPT_TPS, RPT_MRF, RPT_LRF, RPT_ACP, RPT_ENG, RPT_SQR, RPT_SEQ, RPT_REF, RPT_URL,
  REPORT_KEY_COUNT
};

// Chart keys, in their fixed order.
enum ChartKey { CHT_DAY, CHT_HRS, CHT_OPS, CHT_BRW, CHT_CDS, CHT_TPS, CHT_ACP, CHT_ENG, CHART_KEY_COUNT };

extern const char* const kReportKeys[REPORT_KEY_COUNT];   // "OPS", "BRW", ...
extern const char* const kReportLabels[REPORT_KEY_COUNT]; // "Operating Systems", ...
extern const char* const kChartKeys[CHART_KEY_COUNT];     // "DAY_A", ...
extern const char* const kChartLabels[CHART_KEY_COUNT];

// The one configuration record of a process. Texts hold width - 1 characters.
struct Config {
  strArr formats;                      // display names from "formats.cfg"; number + 1 is the format number
  int selected_format = 0;             // FRM
  int session_timeout = 3600;          // TMT, seconds
  int depth_increment = 2;             // STP
  int row_limits[REPORT_KEY_COUNT];    // row limit of each report, 10 each
  int ignored_address_length = 0;      // length of IIP
  int domain_length = 0;               // length of DMN
  char log_location[kReportLogWidth + 1] = "";  // LOG; log_location_width() characters are kept
  char static_dir[65] = "";            // DIR
  char ignored_address[16] = "";       // IIP
  char own_domain[65] = "";            // DMN
  char page_extensions[65] = "";       // HTM
  char index_file[65] = "";            // IDX
  char password[14] = "";              // PSW, plain in memory after a load
  uint8_t keep_parameters = 1;         // PRM
  uint8_t row_highlighting = 1;        // BGC
  uint8_t report_on[REPORT_KEY_COUNT]; // report switches
  uint8_t chart_on[CHART_KEY_COUNT];   // chart switches
  AdCampaigns* campaigns = nullptr;    // owned; there only after a load that succeeded

  Config();
  ~Config();
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;

  // Reads "config.cfg", "formats.cfg" and "dat_acp.cfg": 0, -4 (a file cannot be
  // opened, or "config.cfg" has no PSW line) or -8.
  int load();
  // Writes "config.cfg" and "dat_acp.cfg", each replaced whole or, where the folder
  // takes no new file, rewritten under the lock its readers share: 0, or -4 (also,
  // with nothing written, for a record whose load failed).
  int save();
  void set_log(int format, const char* location);
  // Applies the posted configuration form (read from `input` for a POST) to the
  // record in memory; saving is the caller's step. 0; -7 not a POST or a value
  // that cannot be stored; -8 unreadable form or no memory; -9 wrong current
  // password; -10 new password and its confirmation differ. On -7, -9, -10 and a
  // form that cannot be read the record is unchanged.
  int apply_form(FILE* input = stdin);
};

// The global configuration record.
extern Config config;

// XORs each byte of the password with 0xA7 in place: the same call scrambles and
// unscrambles.
void scramble_password(Config& record);
// 1: static set-up (writer texts, configuration defaults); 0: tear-down.
void setup_globals(int flag);

// Reads a settings file line by line through the line buffer: each line, its line
// end cut, is cut at its first `delimiter`, and handle(line, rest) is called with
// the text before it and the cursor after it (on the end of the line when there is
// no delimiter). The file is read under the shared lock of a save that rewrites it in
// place, so it is never seen half-written. -4 when the file cannot be opened; reading
// stops at the first non-zero result of handle, which is returned; else 0.
template <typename Handler>
int read_settings_file(const char* path, char delimiter, Handler handle) {
  FILE* file = open_whole_for_reading(path);
  if (!file) return ERR_FIL;
  int status = 0;
  while (status == 0 && read_line(file)) {
    strip_line_end(line_buffer);
    char* rest = line_buffer;
    next_int_token(delimiter, &rest);
    status = handle(line_buffer, rest);
  }
  std::fclose(file);
  return status;
}

// Stores one text setting of "config.cfg" (LOG, DIR, DMN, HTM, IDX, IIP, PSW as
// stored, scrambled) or one number or switch (FRM, TMT, STP, PRM, BGC) in the
// record; other keys are ignored.
void apply_setting(Config& record, const char* key, const char* value);

// Control bytes (below a blank, and DEL) can never be part of a stored text: the
// settings files hold one value per line.
bool is_control_byte(unsigned char byte);
// Copies a text setting into its field of `size` bytes, cut to size - 1
// characters, leaving out control bytes. The rest of the field is cleared.
void copy_setting(char* field, std::size_t size, const char* value);
// Writes the text to the file leaving out control bytes.
void put_setting_text(FILE* file, const char* text);

#endif
