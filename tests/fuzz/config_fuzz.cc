// The settings and definition files: the configuration, the format list and the
// ad campaigns loaded and shown on the configuration page, the other definition
// files loaded. A configuration saved once must read back to what it saved.
//
// Input parts: "config.cfg", "formats.cfg", "dat_acp.cfg", "dat_dom.cfg",
// "dat_cds.cfg", "dat_tps.cfg", "dat_eng.cfg"; a missing part is a missing file.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/ad_campaigns.h"
#include "core/config.h"
#include "core/domains.h"
#include "core/file_types.h"
#include "core/html_writer.h"
#include "core/search_engines.h"
#include "core/tables.h"
#include "fuzz_support.h"

namespace {

const char* const kFiles[] = {"config.cfg", "formats.cfg", "dat_acp.cfg", "dat_dom.cfg",
                              "dat_cds.cfg", "dat_tps.cfg", "dat_eng.cfg"};

std::string contents(const char* path) {
  std::string text;
  FILE* file = std::fopen(path, "rb");
  if (!file) std::abort();
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  std::fclose(file);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::start_input(ProgramBuild::report);
  const std::vector<std::string> parts = fuzz::split_parts(data, size);
  for (size_t i = 0; i < sizeof kFiles / sizeof kFiles[0]; ++i) fuzz::put_file(kFiles[i], fuzz::part(parts, i));

  {
    Dom countries;
    countries.load_country_names();
    Cds codes;
    codes.load();
    Tps types;
    types.load();
    Eng engines;
    engines.load();
  }
  if (config.load() != 0) return 0;
  html.config_form(config);
  html.log_settings(config);
  html.start_page();

  // Saved, then loaded and saved again three times: "config.cfg" reads back to what
  // was saved. A campaign's patterns are stored from the last read to the first, so
  // its file comes back after two trips; the first trip may still drop an empty
  // pattern stored last on its line, which the reader does not take.
  if (config.save() != 0) std::abort();
  const std::string saved = contents("config.cfg");
  std::string campaigns;
  for (int trip = 1; trip <= 3; ++trip) {
    setup_globals(1);
    if (config.load() != 0 || config.save() != 0) std::abort();
    if (contents("config.cfg") != saved) std::abort();
    if (trip == 1) campaigns = contents("dat_acp.cfg");
  }
  if (contents("dat_acp.cfg") != campaigns) std::abort();
  return 0;
}
