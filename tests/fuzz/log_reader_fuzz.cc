// The hit log read from the start: lines split and counted into the day's tables,
// each change of day closing the finished day, and the last day saved at the end.
//
// Input parts: the hit log "data/qmy.log"; optionally "config.cfg" lines (IDX, IIP,
// DMN, PRM, HTM, TMT, STP change the counting); optionally a line format other than
// the tracker's, to reach the fields only other formats have.

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/visitors.h"
#include "fuzz_support.h"
#include "parser/day_close.h"
#include "parser/line_accounting.h"
#include "parser/log_format.h"
#include "parser/log_parser.h"
#include "parser/log_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::start_input(ProgramBuild::parser);
  const std::vector<std::string> parts = fuzz::split_parts(data, size);
  fuzz::put_file(kHitLogPath, &parts[0]);
  if (const std::string* settings = fuzz::part(parts, 1)) {
    fuzz::put_file("config.cfg", settings);
    read_settings_file("config.cfg", ' ', [](char* key, char* value) {
      apply_setting(config, key, value);
      return 0;
    });
  }

  LogParser parser;
  const std::string* format = fuzz::part(parts, 2);
  if ((format ? compile_log_format(parser, format->c_str()) : compile_format(parser)) != 0) return 0;
  if (parser.letter_used[LETTER_ADDRESS]) {
    parser.visitors = new ips();
  } else {
    parser.visitors = new hosts();
  }
  if (read_hit_log(parser, 0, count_line) == 0) close_day(parser);
  clear_day(parser);
  return 0;
}
