// The settings and definition files: the configuration, the format list and the
// ad campaigns loaded and shown on the configuration page, the other definition
// files loaded. A configuration saved once must read back to what it saved.
//
// Input parts: "config.cfg", "formats.cfg", "dat_acp.cfg", "dat_dom.cfg",
// "dat_cds.cfg", "dat_tps.cfg", "dat_eng.cfg"; a missing part is a missing file.

#include <algorithm>
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

// The campaigns of a "dat_acp.cfg" text, each line as its name and its patterns in
// sorted order. The file stores the patterns from the last read to the first, and a
// stored empty pattern that ends its line does not read back: both are left aside.
std::string campaign_lines(const std::string& file) {
  std::string lines;
  size_t start = 0;
  while (start < file.size()) {
    size_t end = file.find('\n', start);
    if (end == std::string::npos) end = file.size();
    const std::string line = file.substr(start, end - start);
    start = end + 1;
    const size_t bar = line.find('|');
    std::vector<std::string> patterns;
    for (size_t at = bar == std::string::npos ? line.size() : bar + 1; at < line.size();) {
      size_t blank = line.find(' ', at);
      if (blank == std::string::npos) blank = line.size();
      if (blank > at) patterns.push_back(line.substr(at, blank - at));
      at = blank + 1;
    }
    std::sort(patterns.begin(), patterns.end());
    lines += line.substr(0, bar);
    for (const std::string& pattern : patterns) lines += "\t" + pattern;
    lines += '\n';
  }
  return lines;
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

  // Saved, then loaded and saved again twice: "config.cfg" reads back to what was
  // saved, and so does every campaign with its non-empty patterns.
  if (config.save() != 0) std::abort();
  const std::string saved = contents("config.cfg");
  const std::string campaigns = campaign_lines(contents("dat_acp.cfg"));
  for (int trip = 1; trip <= 2; ++trip) {
    setup_globals(1);
    if (config.load() != 0 || config.save() != 0) std::abort();
    if (contents("config.cfg") != saved || campaign_lines(contents("dat_acp.cfg")) != campaigns) std::abort();
  }
  return 0;
}
