// A report request over stored statistics: the summary file, the day files and the
// state file read for a time frame, then the whole report page written. Today is
// Tuesday 7 January 2003; the definition files are the installation's own.
//
// Input parts: the request "TYPE YS MS DS YE ME DE" (a time-frame word and the
// custom range), "data/sts.log", "data/20030105.log", "data/20030106.log",
// "data/tmp.log", and optionally "config.cfg" (the report switches and limits; its
// PSW line is needed for it to load).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/data_files.h"
#include "fuzz_support.h"
#include "report/report_road.h"

#ifndef QM_SOURCE_DIR
#error "QM_SOURCE_DIR names the source tree"
#endif

namespace {

// The installation's definition files, copied into the working directory once.
void install_definitions() {
  static bool done = false;
  if (done) return;
  for (const char* name : {"dat_cds.cfg", "dat_dom.cfg", "dat_eng.cfg", "dat_tps.cfg"}) {
    std::string command = std::string("cp '") + QM_SOURCE_DIR + "/install/" + name + "' .";
    if (std::system(command.c_str()) != 0) std::abort();
  }
  fuzz::put_file("dat_acp.cfg", "Spring | spring.example sale.example\nAutumn | autumn.example\n");
  fuzz::put_file("formats.cfg", "Quillmoray%M/%d/%y %H:%n:%s %i %h \"%f\" \"%r\" \"%u\"\n");
  done = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::start_input(ProgramBuild::report);
  install_definitions();
  const std::vector<std::string> parts = fuzz::split_parts(data, size);
  fuzz::put_file(kSummaryFilePath, fuzz::part(parts, 1));
  fuzz::put_file("data/20030105.log", fuzz::part(parts, 2));
  fuzz::put_file("data/20030106.log", fuzz::part(parts, 3));
  fuzz::put_file(kStateFilePath, fuzz::part(parts, 4));
  static const std::string kDefaults = "PSW \n";
  const std::string* settings = fuzz::part(parts, 5);
  fuzz::put_file("config.cfg", settings ? settings : &kDefaults);
  if (config.load() != 0) return 0;

  char type[10] = {};
  DayDate from;
  DayDate to;
  std::sscanf(parts[0].c_str(), "%9s %d %d %d %d %d %d", type, &from.year, &from.month, &from.day, &to.year,
              &to.month, &to.day);
  run_report(type, from, to);
  return 0;
}
