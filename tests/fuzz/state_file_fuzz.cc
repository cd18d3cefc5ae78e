// A whole parse over a state file left by an earlier run: the unfinished day
// restored, the resume point searched in the hit log, the new lines counted and
// the day saved. The state file a successful parse writes must load again.
//
// Input parts: the state file "data/tmp.log", then the hit log "data/qmy.log"
// (without it the log is missing), then the position file "data/pos.log" (without it
// the position file is missing).

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/data_files.h"
#include "fuzz_support.h"
#include "parser/day_close.h"
#include "parser/log_format.h"
#include "parser/log_parser.h"
#include "parser/log_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::start_input(ProgramBuild::parser);
  const std::vector<std::string> parts = fuzz::split_parts(data, size);
  fuzz::put_file(kStateFilePath, &parts[0]);
  fuzz::put_file(kHitLogPath, fuzz::part(parts, 1));
  fuzz::put_file(kPositionFilePath, fuzz::part(parts, 2));

  bool parsed = false;
  {
    LogParser parser;
    if (compile_format(parser) != 0) std::abort();
    parsed = parse_log(parser) == 0;
    clear_day(parser);
  }
  if (parsed) {
    LogParser again;
    if (compile_format(again) != 0) std::abort();
    again.visitors = new ips();
    if (load_state(again) != 0) std::abort();
    clear_day(again);
  }
  return 0;
}
