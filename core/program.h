#ifndef QM_CORE_PROGRAM_H
#define QM_CORE_PROGRAM_H

// The parser and the report program are built from one core library but differ in
// two constants: the size of the shared line buffer and the width of the log
// location. Each program selects its build at start; tests select either.

enum class ProgramBuild { parser, report };

constexpr int kParserLineBuffer = 20480;
constexpr int kReportLineBuffer = 10240;
constexpr int kParserLogWidth = 64;
constexpr int kReportLogWidth = 128;

void select_program_build(ProgramBuild build);
ProgramBuild program_build();

// Size of the shared line buffer in this build (20480 parser, 10240 report).
int line_buffer_size();
// Characters the log location LOG keeps in this build (64 parser, 128 report).
int log_location_width();

#endif
