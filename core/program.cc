#include "core/program.h"

namespace {
ProgramBuild current_build = ProgramBuild::parser;
}

void select_program_build(ProgramBuild build) { current_build = build; }

ProgramBuild program_build() { return current_build; }

int line_buffer_size() {
  return current_build == ProgramBuild::parser ? kParserLineBuffer : kReportLineBuffer;
}

int log_location_width() {
  return current_build == ProgramBuild::parser ? kParserLogWidth : kReportLogWidth;
}
