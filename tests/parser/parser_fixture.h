#ifndef QM_TESTS_PARSER_PARSER_FIXTURE_H
#define QM_TESTS_PARSER_PARSER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/visitors.h"
#include "parser/line_accounting.h"
#include "parser/log_parser.h"
#include "scratch_dir.h"

// A hit line as the tracker writes it (without its line end).
inline std::string hit_line(int month, int day, int hour, int minute, int second, const std::string& address,
                            const std::string& page, const std::string& referrer = "-",
                            const std::string& agent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)",
                            const std::string& host = "") {
  char head[64];
  std::snprintf(head, sizeof head, "%2.2i/%2.2i/2003 %2.2i:%2.2i:%2.2i ", month, day, hour, minute, second);
  std::string name = host.empty() ? "host-" + address + ".example.net" : host;
  return std::string(head) + address + " " + name + " \"" + page + "\" \"" + referrer + "\" \"" + agent + "\"";
}

// A parser with the built-in format and an address-keyed visitor table, in a scratch
// working directory, with the configuration at its defaults.
class ParserFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_globals(1);
    ASSERT_EQ(compile_format(parser), 0);
    parser.visitors = new ips();
  }
  void TearDown() override { setup_globals(1); }

  // Splits and counts one line; the line's text lives as long as the fixture.
  int count(const std::string& line) {
    texts.push_back(std::make_unique<std::vector<char>>(line.begin(), line.end()));
    texts.back()->push_back('\0');
    if (split_line(parser, texts.back()->data()) != 0) return -100;
    return count_line(parser);
  }

  ScratchDir scratch;
  LogParser parser;
  std::vector<std::unique_ptr<std::vector<char>>> texts;
};

#endif
