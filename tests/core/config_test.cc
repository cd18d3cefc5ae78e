#include "core/config.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "core/ad_campaigns.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/program.h"
#include "support/config_file.h"
#include "support/file_text.h"
#include "support/work_dir.h"

namespace {

const char kBgc[] = " onMouseOver=\"bgc(this,0)\" onmouseout=\"bgc(this,1)\"";

std::string read_file(const char* name) { return file_text(name); }

std::string scrambled(const std::string& plain) {
  std::string out = plain;
  for (char& c : out) c = static_cast<char>(c ^ 0xA7);
  return out;
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_globals(1);
    select_program_build(ProgramBuild::parser);
    dir.write("formats.cfg", "");
    dir.write("dat_acp.cfg", "");
  }
  void TearDown() override {
    fail_allocations_after(-1);
    select_program_build(ProgramBuild::parser);
    setup_globals(1);
  }
  WorkDir dir;
};

TEST_F(ConfigTest, DefaultsAndKeyTables) {
  Config record;
  EXPECT_EQ(record.selected_format, 0);
  EXPECT_EQ(record.session_timeout, 3600);
  EXPECT_EQ(record.depth_increment, 2);
  EXPECT_EQ(record.keep_parameters, 1);
  EXPECT_EQ(record.row_highlighting, 1);
  for (int i = 0; i < REPORT_KEY_COUNT; ++i) {
    EXPECT_EQ(record.row_limits[i], 10);
    EXPECT_EQ(record.report_on[i], 1);
  }
  for (int i = 0; i < CHART_KEY_COUNT; ++i) EXPECT_EQ(record.chart_on[i], 1);
  EXPECT_STREQ(record.log_location, "");
  EXPECT_STREQ(record.password, "");
  EXPECT_EQ(record.campaigns, nullptr);
  EXPECT_EQ(record.formats.count, 0);
  EXPECT_STREQ(kReportKeys[RPT_ACP], "ACP");
  EXPECT_STREQ(kReportKeys[RPT_URL], "URL");
  EXPECT_STREQ(kReportLabels[RPT_PTH], "Visitor's Paths");
  EXPECT_STREQ(kChartKeys[CHT_ACP], "ACP_A");
  EXPECT_STREQ(kChartLabels[CHT_DAY], "Daily, Weekly, Monthly graph");
}

TEST_F(ConfigTest, GlobalsSetUpAndTearDown) {
  EXPECT_STREQ(html.prefix, "");
  EXPECT_STREQ(html.row_attribute, kBgc);
  dir.write("config.cfg", config_file("DIR /qm/\nTMT 5\nBGC 0\n"));
  ASSERT_EQ(config.load(), 0);
  EXPECT_EQ(html.prefix, config.static_dir);
  EXPECT_STREQ(html.row_attribute, "");
  ASSERT_NE(config.campaigns, nullptr);
  setup_globals(0);
  EXPECT_EQ(config.campaigns, nullptr);
  EXPECT_EQ(config.session_timeout, 3600);
  setup_globals(1);
  EXPECT_STREQ(html.prefix, "");
  EXPECT_STREQ(html.row_attribute, kBgc);
  EXPECT_EQ(config.session_timeout, 3600);
}

TEST_F(ConfigTest, OneLineLeavesEveryOtherDefault) {
  dir.write("config.cfg", config_file("TMT 1800\n"));
  Config record;
  ASSERT_EQ(record.load(), 0);
  EXPECT_EQ(record.session_timeout, 1800);
  EXPECT_EQ(record.depth_increment, 2);
  EXPECT_EQ(record.keep_parameters, 1);
  EXPECT_EQ(record.row_limits[RPT_OPS], 10);
  EXPECT_STREQ(record.static_dir, "");
  EXPECT_STREQ(html.prefix, "");
  EXPECT_STREQ(html.row_attribute, kBgc);
  ASSERT_NE(record.campaigns, nullptr);
  EXPECT_EQ(record.campaigns->count, 0);
}

TEST_F(ConfigTest, OnOffValues) {
  struct Case {
    const char* line;
    int on;
  } cases[] = {{"PRM 0\n", 0}, {"PRM 00\n", 1}, {"PRM 1\n", 1}, {"PRM \n", 1}, {"PRM\n", 1}, {"PRM 0 \n", 1}};
  for (const Case& c : cases) {
    dir.write("config.cfg", config_file(c.line));
    Config record;
    ASSERT_EQ(record.load(), 0);
    EXPECT_EQ(record.keep_parameters, c.on) << c.line;
  }
}

TEST_F(ConfigTest, RowHighlightingOffEmptiesTheAttributeForGood) {
  dir.write("config.cfg", config_file("BGC 0\nBGC 1\n"));
  Config record;
  ASSERT_EQ(record.load(), 0);
  EXPECT_EQ(record.row_highlighting, 1);
  EXPECT_STREQ(html.row_attribute, "");
}

TEST_F(ConfigTest, ReportAndChartLines) {
  dir.write("config.cfg", config_file("OPS 2 15\nBRW 1\nDOM 1 7 9\nDAY_A yes\nHRS_A 0\nOPS_A 1\nENG_A 01\n"));
  Config record;
  ASSERT_EQ(record.load(), 0);
  EXPECT_EQ(record.report_on[RPT_OPS], 0);
  EXPECT_EQ(record.row_limits[RPT_OPS], 15);
  EXPECT_EQ(record.report_on[RPT_BRW], 1);
  EXPECT_EQ(record.row_limits[RPT_BRW], 0);
  EXPECT_EQ(record.report_on[RPT_DOM], 1);
  EXPECT_EQ(record.row_limits[RPT_DOM], 7);
  EXPECT_EQ(record.chart_on[CHT_DAY], 0);
  EXPECT_EQ(record.chart_on[CHT_HRS], 0);
  EXPECT_EQ(record.chart_on[CHT_OPS], 1);
  EXPECT_EQ(record.chart_on[CHT_ENG], 1);
}

TEST_F(ConfigTest, KeysAreCaseSensitiveAndUnknownKeysIgnored) {
  dir.write("config.cfg", config_file("tmt 5\nTMTX 6\nops 0 3\nXYZ 1\n\nTMT\n"));
  Config record;
  ASSERT_EQ(record.load(), 0);
  EXPECT_EQ(record.session_timeout, 0);  // the last TMT line has no digits
  EXPECT_EQ(record.report_on[RPT_OPS], 1);
  EXPECT_EQ(record.row_limits[RPT_OPS], 10);
}

TEST_F(ConfigTest, TextValuesKeepBlanksAndAreCutToTheirFields) {
  std::string long_text(100, 'd');
  dir.write("config.cfg", config_file("DIR  /qm/\r\nDMN " + long_text + "\nIIP 192.168.100.200.1\nHTM htm html\n"
                                      "IDX index.html\nFRM 3\nSTP 4\nTMT 60\nDMN site.example\n"));
  Config record;
  ASSERT_EQ(record.load(), 0);
  EXPECT_STREQ(record.static_dir, " /qm/");
  EXPECT_EQ(html.prefix, record.static_dir);
  EXPECT_STREQ(record.own_domain, "site.example");
  EXPECT_EQ(record.domain_length, 12);
  EXPECT_STREQ(record.ignored_address, "192.168.100.200");
  EXPECT_EQ(record.ignored_address_length, 15);
  EXPECT_STREQ(record.page_extensions, "htm html");
  EXPECT_STREQ(record.index_file, "index.html");
  EXPECT_EQ(record.selected_format, 3);
  EXPECT_EQ(record.depth_increment, 4);
  EXPECT_EQ(record.session_timeout, 60);

  dir.write("config.cfg", config_file("DMN " + long_text + "\n"));
  Config cut;
  ASSERT_EQ(cut.load(), 0);
  EXPECT_EQ(std::string(cut.own_domain), std::string(64, 'd'));
  EXPECT_EQ(cut.domain_length, 64);
}

TEST_F(ConfigTest, DestroyedRecordReleasesTheWriterPrefix) {
  {
    dir.write("config.cfg", config_file("DIR /qm/\n"));
    Config record;
    ASSERT_EQ(record.load(), 0);
    EXPECT_STREQ(html.prefix, "/qm/");
  }
  EXPECT_STREQ(html.prefix, "");
}

TEST_F(ConfigTest, FormatNamesAreKeptOnce) {
  dir.write("config.cfg", config_file("FRM 2\n"));
  dir.write("formats.cfg", "Common%h %l\nCombined%h\nCommon%other\n\nNo percent\n");
  Config record;
  ASSERT_EQ(record.load(), 0);
  ASSERT_EQ(record.formats.count, 4);
  EXPECT_STREQ(record.formats.strings[0], "Common");
  EXPECT_STREQ(record.formats.strings[1], "Combined");
  EXPECT_STREQ(record.formats.strings[2], "");
  EXPECT_STREQ(record.formats.strings[3], "No percent");
}

TEST_F(ConfigTest, MissingFiles) {
  Config no_config;
  EXPECT_EQ(no_config.load(), ERR_FIL);
  EXPECT_EQ(no_config.campaigns, nullptr);

  dir.write("config.cfg", config_file("TMT 99\n"));
  std::remove("formats.cfg");
  Config no_formats;
  EXPECT_EQ(no_formats.load(), ERR_FIL);
  EXPECT_EQ(no_formats.session_timeout, 99);
  EXPECT_EQ(no_formats.campaigns, nullptr);

  dir.write("formats.cfg", "A%\n");
  std::remove("dat_acp.cfg");
  Config no_campaigns;
  EXPECT_EQ(no_campaigns.load(), ERR_FIL);
  EXPECT_EQ(no_campaigns.formats.count, 1);
  EXPECT_EQ(no_campaigns.campaigns, nullptr);
}

TEST_F(ConfigTest, FileWithoutItsPasswordLineDoesNotLoadNorGetSaved) {
  // Empty, cut short or damaged: never an installation without a password.
  const struct {
    const char* text;
    int status;
  } cases[] = {{"", ERR_FIL}, {"FRM 0\nLOG \nDIR /qm/\n", ERR_FIL}, {"psw \nPSWX\n", ERR_FIL},
               {"PSW \n", 0},    {"PSW\n", 0},                    {"TMT 5\nPSW", 0}};
  for (const auto& c : cases) {
    dir.write("config.cfg", c.text);
    Config record;
    EXPECT_EQ(record.load(), c.status) << c.text;
    EXPECT_STREQ(record.password, "") << c.text;
    if (c.status != 0) {
      EXPECT_EQ(record.save(), ERR_FIL) << c.text;
    }
    EXPECT_EQ(read_file("config.cfg"), c.text);
  }
}

TEST_F(ConfigTest, FormatOutOfMemory) {
  dir.write("config.cfg", config_file("TMT 99\n"));
  dir.write("formats.cfg", "A%\nB%\n");
  Config record;
  fail_allocations_after(0);
  EXPECT_EQ(record.load(), ERR_MEM);
  fail_allocations_after(-1);
  EXPECT_EQ(record.session_timeout, 99);
  EXPECT_EQ(record.formats.count, 0);
  EXPECT_EQ(record.campaigns, nullptr);
}

TEST_F(ConfigTest, SavedFileByteForByte) {
  Config record;
  record.selected_format = 2;
  copy_setting(record.log_location, sizeof record.log_location, "/var/log/access_log");
  copy_setting(record.static_dir, sizeof record.static_dir, "/qm/");
  copy_setting(record.own_domain, sizeof record.own_domain, "site.example");
  copy_setting(record.page_extensions, sizeof record.page_extensions, "htm html");
  copy_setting(record.ignored_address, sizeof record.ignored_address, "10.0.");
  record.session_timeout = 1800;
  record.keep_parameters = 0;
  copy_setting(record.password, sizeof record.password, "ab");
  record.report_on[RPT_BRW] = 0;
  record.row_limits[RPT_URL] = 25;
  record.chart_on[CHT_ENG] = 0;
  record.campaigns = new AdCampaigns();
  ASSERT_EQ(record.save(), 0);

  std::string expected =
      "FRM 2\nLOG /var/log/access_log\nDIR /qm/\nDMN site.example\nHTM htm html\nIDX \nIIP 10.0.\n"
      "TMT 1800\nSTP 2\nPRM 0\nBGC 1\nPSW " + scrambled("ab") + "\n";
  for (int i = 0; i < REPORT_KEY_COUNT; ++i) {
    expected += std::string(kReportKeys[i]) + (i == RPT_BRW ? " 0 " : " 1 ") + (i == RPT_URL ? "25" : "10") + "\n";
  }
  for (int i = 0; i < CHART_KEY_COUNT; ++i) expected += std::string(kChartKeys[i]) + (i == CHT_ENG ? " 0\n" : " 1\n");
  EXPECT_EQ(read_file("config.cfg"), expected);
  EXPECT_EQ(read_file("dat_acp.cfg"), "");
  // The record keeps its password plain after the save.
  EXPECT_STREQ(record.password, "ab");
}

TEST_F(ConfigTest, SaveThenLoadGivesTheSameSettings) {
  dir.write("config.cfg", "TMT 700\nBOGUS line\nPSW " + scrambled("Se7en-Letters") + "\nDIR /x/\nOPS 0 4\nCDS_A 0\n");
  dir.write("dat_acp.cfg", "Spring | a.example b.example\n");
  Config first;
  ASSERT_EQ(first.load(), 0);
  EXPECT_STREQ(first.password, "Se7en-Letters");
  ASSERT_EQ(first.save(), 0);
  EXPECT_EQ(read_file("config.cfg").find("BOGUS"), std::string::npos);
  EXPECT_EQ(read_file("dat_acp.cfg"), "Spring | b.example a.example\n");

  Config second;
  ASSERT_EQ(second.load(), 0);
  EXPECT_STREQ(second.password, "Se7en-Letters");
  EXPECT_EQ(second.session_timeout, 700);
  EXPECT_STREQ(second.static_dir, "/x/");
  EXPECT_EQ(second.report_on[RPT_OPS], 0);
  EXPECT_EQ(second.row_limits[RPT_OPS], 4);
  EXPECT_EQ(second.chart_on[CHT_CDS], 0);
  EXPECT_EQ(second.chart_on[CHT_TPS], 1);
  ASSERT_EQ(second.campaigns->count, 1);
  EXPECT_STREQ(second.campaigns->campaigns[0]->strings[1], "b.example");

  // A second save from the same record still writes the password scrambled once.
  ASSERT_EQ(second.save(), 0);
  Config third;
  ASSERT_EQ(third.load(), 0);
  EXPECT_STREQ(third.password, "Se7en-Letters");
}

TEST_F(ConfigTest, PasswordIsCutToThirteenCharacters) {
  dir.write("config.cfg", "PSW " + scrambled("0123456789abcdefghij") + "\n");
  Config record;
  ASSERT_EQ(record.load(), 0);
  EXPECT_STREQ(record.password, "0123456789abc");
  scramble_password(record);
  EXPECT_EQ(std::string(record.password), scrambled("0123456789abc"));
  scramble_password(record);
  EXPECT_STREQ(record.password, "0123456789abc");
}

TEST_F(ConfigTest, EveryPrintablePasswordSurvivesTheFile) {
  for (int c = 0x20; c < 0x7F; ++c) {
    std::string password(13, static_cast<char>(c));
    Config record;
    copy_setting(record.password, sizeof record.password, password.c_str());
    record.campaigns = new AdCampaigns();
    ASSERT_EQ(record.save(), 0);
    Config loaded;
    ASSERT_EQ(loaded.load(), 0);
    EXPECT_EQ(std::string(loaded.password), password) << c;
  }
}

TEST_F(ConfigTest, LogLocationWidthFollowsTheBuild) {
  std::string location(200, 'l');
  dir.write("config.cfg", config_file("LOG " + location + "\n"));
  Config parser_build;
  ASSERT_EQ(parser_build.load(), 0);
  EXPECT_EQ(std::string(parser_build.log_location), std::string(64, 'l'));
  parser_build.set_log(4, location.c_str());
  EXPECT_EQ(parser_build.selected_format, 4);
  EXPECT_EQ(std::string(parser_build.log_location), std::string(64, 'l'));

  select_program_build(ProgramBuild::report);
  Config report_build;
  ASSERT_EQ(report_build.load(), 0);
  EXPECT_EQ(std::string(report_build.log_location), std::string(128, 'l'));
  report_build.set_log(0, "short");
  EXPECT_STREQ(report_build.log_location, "short");
  report_build.set_log(1, location.c_str());
  EXPECT_EQ(std::string(report_build.log_location), std::string(128, 'l'));
  report_build.set_log(0, nullptr);
  EXPECT_STREQ(report_build.log_location, "");
}

TEST_F(ConfigTest, ControlBytesNeverReachTheFile) {
  select_program_build(ProgramBuild::report);
  Config record;
  record.campaigns = new AdCampaigns();
  record.set_log(1, "/logs/a\nPSW \nBGC 0\r\x01");
  EXPECT_STREQ(record.log_location, "/logs/aPSW BGC 0");
  // A field filled directly is still written on one line.
  std::strcpy(record.static_dir, "/qm/\nTMT 1");
  // A password byte that scrambles to a line feed is left out of the line.
  std::strcpy(record.password, "a\xAD" "b");
  ASSERT_EQ(record.save(), 0);
  std::string text = read_file("config.cfg");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12 + REPORT_KEY_COUNT + CHART_KEY_COUNT);
  EXPECT_NE(text.find("\nLOG /logs/aPSW BGC 0\n"), std::string::npos);
  EXPECT_NE(text.find("\nDIR /qm/TMT 1\n"), std::string::npos);
  EXPECT_NE(text.find("\nPSW " + scrambled("ab") + "\n"), std::string::npos);

  dir.write("config.cfg", config_file("IIP 10.\x01" "0.\t\n"));
  Config loaded;
  ASSERT_EQ(loaded.load(), 0);
  EXPECT_STREQ(loaded.ignored_address, "10.0.");
  EXPECT_EQ(loaded.ignored_address_length, 5);
}

TEST_F(ConfigTest, FailedSaveKeepsTheOldFileAndThePlainPassword) {
  const std::string old_file = "TMT 5\nPSW " + scrambled("old") + "\n";
  dir.write("config.cfg", old_file);
  Config record;
  ASSERT_EQ(record.load(), 0);
  copy_setting(record.password, sizeof record.password, "secret");
  copy_setting(record.log_location, sizeof record.log_location, std::string(60, 'x').c_str());

  // The disk fills up in the middle of the file.
  struct rlimit old_limit;
  getrlimit(RLIMIT_FSIZE, &old_limit);
  struct rlimit small = old_limit;
  small.rlim_cur = 64;
  void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  int status = record.save();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);

  EXPECT_EQ(status, ERR_FIL);
  EXPECT_EQ(read_file("config.cfg"), old_file);
  EXPECT_STREQ(record.password, "secret");
  EXPECT_EQ(read_file("dat_acp.cfg"), "");
}

TEST_F(ConfigTest, SaveFailures) {
  dir.write("dat_acp.cfg", "Keep | me\n");
  Config record;
  dir.write("config.cfg", config_file("TMT 5\n"));
  ASSERT_EQ(record.load(), 0);
  ASSERT_EQ(record.campaigns->add("New"), 0);

  // "config.cfg" cannot be replaced: nothing is written, not even the campaigns.
  std::remove("config.cfg");
  mkdir("config.cfg", 0755);
  EXPECT_EQ(record.save(), ERR_FIL);
  EXPECT_EQ(read_file("dat_acp.cfg"), "Keep | me\n");
  rmdir("config.cfg");

  // "dat_acp.cfg" cannot be replaced: the configuration is written, -4 all the same.
  std::remove("dat_acp.cfg");
  mkdir("dat_acp.cfg", 0755);
  EXPECT_EQ(record.save(), ERR_FIL);
  EXPECT_EQ(read_file("config.cfg").substr(0, 6), "FRM 0\n");
  rmdir("dat_acp.cfg");

  // A record that was not loaded writes nothing.
  dir.write("dat_acp.cfg", "Keep | me\n");
  dir.write("config.cfg", config_file());
  Config unloaded;
  EXPECT_EQ(unloaded.save(), ERR_FIL);
  EXPECT_EQ(read_file("dat_acp.cfg"), "Keep | me\n");
  EXPECT_EQ(read_file("config.cfg"), config_file());
}

}  // namespace
