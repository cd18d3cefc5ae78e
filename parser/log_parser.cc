#include "parser/log_parser.h"

#include "core/bounded_format.h"

LogParser::LogParser() {
  hst.set_name("HST");
  copy_bounded(pgs.tag, sizeof pgs.tag, "PGS");
  cds.set_name("CDS");
  copy_bounded(tps.tag, sizeof tps.tag, "TPS");
  fls.set_name("FLS");
  url.set_name("URL");
  paths.root.init_root();
  paths.depth.init();
}

LogParser::~LogParser() {
  delete visitors;
  visitors = nullptr;
  clear_format();
}
