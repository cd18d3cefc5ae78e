// The configuration page and the handler of its posted form.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "core/ad_campaigns.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/program.h"
#include "support/capture.h"
#include "support/work_dir.h"

namespace {

std::string url_encode(const std::string& text) {
  std::string out;
  char hex[4];
  for (unsigned char c : text) {
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    out += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return out;
}

std::string unescape_attribute(std::string text) {
  const std::pair<const char*, const char*> kRefs[] = {
      {"&quot;", "\""}, {"&#39;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
  for (const auto& ref : kRefs) {
    for (std::size_t at = 0; (at = text.find(ref.first, at)) != std::string::npos; ++at) {
      text.replace(at, std::strlen(ref.first), ref.second);
    }
  }
  return text;
}

// What a browser posts for the page as written: every text input with its value,
// every checked radio input, and the three password fields as given.
std::string post_body_of(const std::string& page, const std::string& passwords) {
  std::string body = passwords;
  static const std::regex kInput("<input class=clr type=text name=(\\S+) .*?value=(?:\"([^\"]*)\"|(\\S*))"
                                 "|<input type=radio name=(\\S+) value=(\\d) checked>");
  for (std::sregex_iterator it(page.begin(), page.end(), kInput), end; it != end; ++it) {
    const std::smatch& m = *it;
    std::string name = m[1].matched ? m[1].str() : m[4].str();
    std::string value = m[1].matched ? unescape_attribute(m[2].str() + m[3].str()) : m[5].str();
    body += "&" + url_encode(name) + "=" + url_encode(value);
  }
  return body;
}

std::vector<std::string> campaign(const Config& record, int i) {
  std::vector<std::string> out;
  const strArr& list = *record.campaigns->campaigns[i];
  for (int j = 0; j < list.count; ++j) out.emplace_back(list.strings[j]);
  return out;
}

class ConfigPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_globals(1);
    select_program_build(ProgramBuild::parser);
    for (const char* name : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_TYPE", "CONTENT_LENGTH"}) unsetenv(name);
    record.campaigns = new AdCampaigns();
    dir.write("formats.cfg", "");
  }
  void TearDown() override {
    fail_allocations_after(-1);
    select_program_build(ProgramBuild::parser);
    if (body_) std::fclose(body_);
    setup_globals(1);
  }

  // Posts the url-encoded body to the handler.
  int post(const std::string& body) {
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
    setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
    if (body_) std::fclose(body_);
    body_ = std::tmpfile();
    std::fwrite(body.data(), 1, body.size(), body_);
    std::rewind(body_);
    return record.apply_form(body_);
  }

  void add_campaign(const char* name, std::initializer_list<const char*> patterns) {
    ASSERT_EQ(record.campaigns->add(name), 0);
    for (const char* p : patterns) ASSERT_EQ(record.campaigns->add_pattern(p), 0);
  }

  std::string page() {
    PageCapture capture;
    html.config_form(record);
    return capture.text();
  }

  WorkDir dir;
  Config record;
  FILE* body_ = nullptr;
};

std::string frame_open() {
  PageCapture capture;
  html.section_title("Quillmoray Configuration", "CFG");
  html.section_open();
  return capture.text();
}

std::string frame_close() {
  PageCapture capture;
  html.section_close();
  html.line_break();
  return capture.text();
}

// One row of the reports or charts table; a negative limit gives the charts' empty cell.
std::string switch_row(const char* label, const char* key, bool on, int limit) {
  char third[128] = "&nbsp;";
  if (limit >= 0) {
    std::snprintf(third, sizeof third, "<input class=clr type=text name=%s_N value=%i size=3 maxlength=4>", key,
                  limit);
  }
  char row[512];
  std::snprintf(row, sizeof row,
                "<tr align=center><td align=left>%s</td><td><input type=radio name=%s value=1%s></td>"
                "<td><input type=radio name=%s value=0%s></td><td align=right>%s</td></tr>\n",
                label, key, on ? " checked" : "", key, on ? "" : " checked", third);
  return row;
}

TEST_F(ConfigPageTest, PageIsWrittenByteForByte) {
  std::strcpy(record.own_domain, "example.org");
  std::strcpy(record.static_dir, "/q/");
  std::strcpy(record.ignored_address, "10.0.0.1");
  record.session_timeout = 3659;  // whole minutes: 60
  record.depth_increment = 3;
  record.row_highlighting = 0;
  record.report_on[RPT_OPS] = 0;
  record.row_limits[RPT_OPS] = 25;
  record.chart_on[CHT_HRS] = 0;
  add_campaign("spring", {"a.com", "b.net"});

  const std::string table = "<table border=0 cellspacing=2 cellpadding=0 bgcolor=#dfd8df width=300>\n";
  std::string expected = frame_open() +
      "<tr><td>\n<br>\n<center>\n"
      "<form action=config.cgi method=post name=form>\n" + table +
      "<tr><td width=100%>Web domain name:</td><td><input class=clr type=text name=DMN size=25 maxlength=64 "
      "value=\"example.org\"></td></tr>\n"
      "<tr><td width=100%>Quillmoray directory:</td><td><input class=clr type=text name=DIR size=25 "
      "maxlength=64 value=\"/q/\"></td></tr>\n"
      "<tr><td width=100%>IP address to ignore:</td><td><input class=clr type=text name=IIP size=25 "
      "maxlength=64 value=\"10.0.0.1\"></td></tr>\n"
      "<tr><td width=100%>Session timeout:</td><td><input class=clr type=text name=TMT size=3 maxlength=3 "
      "value=\"60\"> minutes</td></tr>\n"
      "<tr><td width=100%>Visit depth increment:</td><td><input class=clr type=text name=STP size=3 "
      "maxlength=3 value=\"3\"> page(s)</td></tr>\n"
      "<tr><td width=100%>Dynamic pages params:</td><td><input type=radio name=PRM value=1 checked>on "
      "<input type=radio name=PRM value=0>off</td></tr>\n"
      "<tr><td width=100%>JS row highlighting:</td><td><input type=radio name=BGC value=1>on "
      "<input type=radio name=BGC value=0 checked>off</td></tr>\n"
      "</table>\n<br>\n" + table +
      "<tr><td width=100%><b>Ad Campaign:</td><td><b>Domain Name(s):</td></tr>\n"
      "<tr><td><input class=clr type=text name=ACP_N0 value=\"spring\" size=20 maxlength=32></td>"
      "<td><input class=clr type=text name=ACP_V0 value=\"a.com b.net\" size=25 maxlength=64></td></tr>\n"
      "<tr><td><input class=clr type=text name=ACP_N1 value=\"\" size=20 maxlength=32></td>"
      "<td><input class=clr type=text name=ACP_V1 value=\"\" size=25 maxlength=64></td></tr>\n"
      "<tr><td><input class=clr type=text name=ACP_N2 value=\"\" size=20 maxlength=32></td>"
      "<td><input class=clr type=text name=ACP_V2 value=\"\" size=25 maxlength=64></td></tr>\n"
      "</table>\n<br>\n" + table +
      "<tr align=center><td align=left><b>Reports:</td><td><b>on</td><td><b>off</td>"
      "<td align=right><b>max.</td></tr>\n";
  for (int i = 0; i < REPORT_KEY_COUNT; ++i) {
    if (i >= RPT_DEP && i <= RPT_MRF) continue;
    expected += switch_row(kReportLabels[i], kReportKeys[i], i != RPT_OPS, i == RPT_OPS ? 25 : 10);
  }
  expected +=
      "<tr align=center><td colspan=4 align=left>&nbsp;</td></tr>\n"
      "<tr align=center><td align=left><b>Interactive graphs & pie charts:</td><td><b>on</td><td><b>off</td>"
      "<td>&nbsp;</td></tr>\n";
  for (int i = 0; i < CHART_KEY_COUNT; ++i) {
    if (i == CHT_CDS || i == CHT_TPS) continue;
    expected += switch_row(kChartLabels[i], kChartKeys[i], i != CHT_HRS, -1);
  }
  expected += "</table>\n<br>\n" + table +
      "<tr><td width=35%>New password:</td><td><input class=clr type=password name=PSW2 size=12 maxlength=12> "
      "(12 chars max)</td></tr>\n"
      "<tr><td>Confirm password:</td><td><input class=clr type=password name=PSW3 size=12 maxlength=12>"
      "</td></tr>\n"
      "<tr><td colspan=2>&nbsp;</td></tr>\n"
      "<tr><td>Current password:</td><td><input class=clr type=password name=PSW1 size=12 maxlength=12>"
      "</td></tr>\n"
      "</table>\n<br>\n"
      "<a href=\"javascript:document.form.submit()\"><img src=/q/imgs/save.gif width=97 height=20 border=0>"
      "</a>\n"
      "<a href=\"javascript:document.form.reset()\"><img src=/q/imgs/reset.gif width=67 height=20 border=0>"
      "</a>\n"
      "</form>\n</center>\n</td></tr>\n" + frame_close();
  EXPECT_EQ(page(), expected);
}

TEST_F(ConfigPageTest, ReportBuildLeavesOutItsOwnFourRows) {
  select_program_build(ProgramBuild::report);
  std::string text = page();
  EXPECT_NE(text.find(switch_row("Visit Depth", "DEP", true, 10)), std::string::npos);
  EXPECT_NE(text.find(switch_row("Ad Campaigns", "ACP", true, 10)), std::string::npos);
  for (const char* key : {"CDS", "TPS", "MRF", "LRF", "CDS_A", "TPS_A"}) {
    EXPECT_EQ(text.find(std::string("name=") + key + " "), std::string::npos) << key;
  }
  // No campaign table: only the two empty rows.
  delete record.campaigns;
  record.campaigns = nullptr;
  text = page();
  EXPECT_NE(text.find("name=ACP_N1 value=\"\""), std::string::npos);
  EXPECT_EQ(text.find("name=ACP_N2 "), std::string::npos);
}

TEST_F(ConfigPageTest, LogSettingsBox) {
  ASSERT_EQ(record.formats.add("Common"), 0);
  ASSERT_EQ(record.formats.add("Combined <x>"), 0);
  record.selected_format = 2;
  std::strcpy(record.log_location, "/var/log/\"a\" & b");
  {
    PageCapture capture;
    html.log_settings(record);
    EXPECT_EQ(capture.text(),
              "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=285>\n"
              "<tr><td width=100%><b>Log file format:</b></td><td><select class=clr name=FRM>\n"
              "<option value=0>Unspecified<option value=1>Common<option value=2 selected>Combined &lt;x&gt;"
              "</select></td></tr>\n"
              "<tr><td width=100%><b>Log file location:</b></td><td><input class=clr type=text name=LOG size=32 "
              "maxlength=64 value=\"/var/log/&quot;a&quot; &amp; b\"></td></tr>\n"
              "</table>\n<br>\n");
  }
  record.selected_format = 0;
  select_program_build(ProgramBuild::report);
  PageCapture capture;
  html.log_settings(record);
  EXPECT_EQ(capture.text().find("selected"), std::string::npos);
  EXPECT_NE(capture.text().find("size=32 maxlength=128 value="), std::string::npos);
}

TEST_F(ConfigPageTest, RequestAndPasswordChecks) {
  setenv("REQUEST_METHOD", "GET", 1);
  setenv("QUERY_STRING", "PSW1=&DMN=x", 1);
  EXPECT_EQ(record.apply_form(), ERR_INP);
  EXPECT_STREQ(record.own_domain, "");

  // No password configured: an empty current password is accepted.
  EXPECT_EQ(post("PSW1=&DMN=x.org"), 0);
  EXPECT_STREQ(record.own_domain, "x.org");

  std::strcpy(record.password, "secret");
  record.report_on[RPT_OPS] = 1;
  EXPECT_EQ(post("PSW1=wrong&DMN=y.org"), ERR_PSW);
  EXPECT_EQ(post("DMN=y.org"), ERR_PSW);
  // Differing new passwords change nothing, not even the other settings.
  EXPECT_EQ(post("PSW1=secret&PSW2=abc&PSW3=abd&DMN=y.org&TMT=1&ACP_N0=n&ACP_V0=p"), ERR_PMM);
  EXPECT_STREQ(record.own_domain, "x.org");
  EXPECT_EQ(record.session_timeout, 3600);
  EXPECT_EQ(record.report_on[RPT_OPS], 1);
  EXPECT_STREQ(record.password, "secret");

  // Longer posted passwords are cut to 13 characters.
  EXPECT_EQ(post("PSW1=secret&PSW2=abcdefghijklmnop&PSW3=abcdefghijklmXYZ"), 0);
  EXPECT_STREQ(record.password, "abcdefghijklm");
  // An empty new password leaves the password as it is.
  EXPECT_EQ(post("PSW1=abcdefghijklm&PSW2=&PSW3=zzz"), 0);
  EXPECT_STREQ(record.password, "abcdefghijklm");
}

TEST_F(ConfigPageTest, PasswordThatWouldNotSurviveTheFileIsRefused) {
  std::strcpy(record.password, "old");
  // Bytes that scramble to LF, CR, a blank, DEL, or that are control bytes themselves.
  for (const char* bad : {"a%AD", "%AAb", "x%87", "%D8", "a%09b"}) {
    std::string body = std::string("PSW1=old&DMN=z.org&PSW2=") + bad + "&PSW3=" + bad;
    EXPECT_EQ(post(body), ERR_INP) << bad;
    EXPECT_STREQ(record.password, "old");
    EXPECT_STREQ(record.own_domain, "");
  }
}

TEST_F(ConfigPageTest, SettingsAreCutCleanedAndSwitchedOff) {
  std::string long_text(80, 'd');
  std::strcpy(record.page_extensions, "htm");
  record.row_limits[RPT_URL] = 33;
  EXPECT_EQ(post("PSW1=&DIR=" + long_text + "&DMN=a%0Ab.org&IIP=192.168.100.200.1&TMT=45&STP=4"
                 "&PRM=1&BGC=2&OPS=1&OPS_N=7&URL=0&DAY_A=1"),
            0);
  EXPECT_EQ(std::string(record.static_dir), long_text.substr(0, 64));
  EXPECT_EQ(html.prefix, record.static_dir);
  EXPECT_STREQ(record.own_domain, "ab.org");
  EXPECT_EQ(record.domain_length, 6);
  EXPECT_STREQ(record.ignored_address, "192.168.100.200");
  EXPECT_EQ(record.ignored_address_length, 15);
  EXPECT_STREQ(record.page_extensions, "htm");  // absent: unchanged
  EXPECT_EQ(record.session_timeout, 2700);
  EXPECT_EQ(record.depth_increment, 4);
  EXPECT_EQ(record.row_highlighting, 0);
  EXPECT_EQ(record.report_on[RPT_URL], 0);
  EXPECT_EQ(record.row_limits[RPT_URL], 33);
  EXPECT_EQ(record.report_on[RPT_BRW], 0);  // absent is off
  EXPECT_EQ(record.chart_on[CHT_DAY], 1);
  EXPECT_EQ(record.chart_on[CHT_ACP], 0);

  // Absent numbers stay; a huge timeout saturates instead of overflowing.
  EXPECT_EQ(post("PSW1=&TMT=99999999999"), 0);
  EXPECT_EQ(record.session_timeout, (2147483647 / 60) * 60);
  EXPECT_EQ(record.depth_increment, 4);
  EXPECT_EQ(post("PSW1=&TMT=-99999999999"), 0);
  EXPECT_EQ(record.session_timeout, -(2147483647 / 60) * 60);
}

TEST_F(ConfigPageTest, CampaignsAreRebuiltFromTheRows) {
  add_campaign("old", {"o.com"});
  EXPECT_EQ(post("PSW1=&ACP_N0=spring&ACP_V0=a.com+b.net+a.com&ACP_N1=all&ACP_V1=x++y"
                 "&ACP_N2=&ACP_V2=gone.com&ACP_N3=bare&ACP_V3=&ACP_N4=late&ACP_V4=l.com&ACP_N5=lost"),
            0);
  ASSERT_EQ(record.campaigns->count, 4);
  EXPECT_EQ(campaign(record, 0), (std::vector<std::string>{"spring", "a.com", "b.net"}));
  EXPECT_EQ(campaign(record, 1), (std::vector<std::string>{"all", "x", "", "y"}));
  // A row whose name was cleared is dropped alone; a campaign without patterns stays.
  EXPECT_EQ(campaign(record, 2), (std::vector<std::string>{"bare"}));
  EXPECT_EQ(campaign(record, 3), (std::vector<std::string>{"late", "l.com"}));

  // A name holding "|" could not be read back from the file: refused, nothing changed.
  EXPECT_EQ(post("PSW1=&DMN=q.org&ACP_N0=a%7Cb&ACP_V0=p.com"), ERR_INP);
  EXPECT_EQ(record.campaigns->count, 4);
  EXPECT_STREQ(record.own_domain, "");

  // Without a loaded table the stored campaigns are not replaced.
  delete record.campaigns;
  record.campaigns = nullptr;
  EXPECT_EQ(post("PSW1=&ACP_N0=n&ACP_V0=p"), 0);
  EXPECT_EQ(record.campaigns, nullptr);
}

TEST_F(ConfigPageTest, OutOfMemoryKeepsTheOldCampaigns) {
  add_campaign("old", {"o.com", "p.com"});
  const std::string body = "PSW1=&DMN=m.org&ACP_N0=new&ACP_V0=a.com+b.com&ACP_N1=two&ACP_V1=c.com";
  int status = ERR_MEM;
  for (int successes = 0; status == ERR_MEM && successes < 200; ++successes) {
    record.own_domain[0] = '\0';
    fail_allocations_after(successes);
    status = post(body);
    fail_allocations_after(-1);
    if (status == ERR_MEM) {
      ASSERT_EQ(record.campaigns->count, 1);
      EXPECT_EQ(campaign(record, 0), (std::vector<std::string>{"old", "o.com", "p.com"}));
    }
  }
  ASSERT_EQ(status, 0);
  EXPECT_STREQ(record.own_domain, "m.org");
  ASSERT_EQ(record.campaigns->count, 2);
  EXPECT_EQ(campaign(record, 0), (std::vector<std::string>{"new", "a.com", "b.com"}));
}

TEST_F(ConfigPageTest, PagePostedUnchangedGivesTheSameRecord) {
  std::strcpy(record.own_domain, "ex\"><script>.org");
  std::strcpy(record.static_dir, "/q&a/");
  std::strcpy(record.ignored_address, "10.1.2.3");
  record.session_timeout = 3600;
  record.row_limits[RPT_DEP] = 12;
  record.row_limits[RPT_OPS] = 5;
  record.report_on[RPT_HST] = 0;
  add_campaign("it's \"big\" & <bold>", {"a.com", "q=1&r=2"});
  add_campaign("quiet", {});
  add_campaign("last", {"l.org"});
  std::strcpy(record.password, "pw");

  std::string text = page();
  EXPECT_NE(text.find("value=\"ex&quot;&gt;&lt;script&gt;.org\""), std::string::npos);
  // A new password with bytes that survive the scrambled file.
  EXPECT_EQ(post(post_body_of(text, "PSW1=pw&PSW2=p%E9%22w&PSW3=p%E9%22w")), 0);

  EXPECT_STREQ(record.own_domain, "ex\"><script>.org");
  EXPECT_STREQ(record.static_dir, "/q&a/");
  EXPECT_STREQ(record.ignored_address, "10.1.2.3");
  EXPECT_EQ(record.session_timeout, 3600);
  EXPECT_EQ(record.row_limits[RPT_OPS], 5);
  EXPECT_EQ(record.report_on[RPT_HST], 0);
  // The rows the page leaves out are switched off; their limits stay.
  EXPECT_EQ(record.report_on[RPT_DEP], 0);
  EXPECT_EQ(record.row_limits[RPT_DEP], 12);
  EXPECT_EQ(record.chart_on[CHT_CDS], 0);
  EXPECT_EQ(record.chart_on[CHT_DAY], 1);
  ASSERT_EQ(record.campaigns->count, 3);
  EXPECT_EQ(campaign(record, 0), (std::vector<std::string>{"it's \"big\" & <bold>", "a.com", "q=1&r=2"}));
  EXPECT_EQ(campaign(record, 1), (std::vector<std::string>{"quiet"}));
  EXPECT_EQ(campaign(record, 2), (std::vector<std::string>{"last", "l.org"}));

  // And through the files.
  ASSERT_EQ(record.save(), 0);
  Config loaded;
  ASSERT_EQ(loaded.load(), 0);
  EXPECT_STREQ(loaded.own_domain, record.own_domain);
  EXPECT_STREQ(loaded.password, "p\xE9\"w");
  EXPECT_EQ(loaded.session_timeout, 3600);
  EXPECT_EQ(loaded.report_on[RPT_DEP], 0);
  EXPECT_EQ(loaded.row_limits[RPT_DEP], 12);
  ASSERT_EQ(loaded.campaigns->count, 3);
  // The file holds the patterns last to first.
  EXPECT_EQ(campaign(loaded, 0), (std::vector<std::string>{"it's \"big\" & <bold>", "q=1&r=2", "a.com"}));
  EXPECT_EQ(campaign(loaded, 1), (std::vector<std::string>{"quiet"}));
  html.prefix = "";
}

}  // namespace
