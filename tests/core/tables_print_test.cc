// Report lists of the statistics tables, compared byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "core/config.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/program.h"
#include "core/tables.h"
#include "support/capture.h"

namespace {

class TableListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_prefix_ = html.prefix;
    saved_attribute_ = html.row_attribute;
    saved_chart_ = config.chart_on[CHT_CDS];
    html.prefix = "/q/";
    html.row_attribute = "";
    config.chart_on[CHT_CDS] = 0;
    select_program_build(ProgramBuild::report);
  }
  void TearDown() override {
    html.prefix = saved_prefix_;
    html.row_attribute = saved_attribute_;
    config.chart_on[CHT_CDS] = saved_chart_;
    select_program_build(ProgramBuild::parser);
    fail_allocations_after(-1);
  }

 private:
  const char* saved_prefix_ = nullptr;
  const char* saved_attribute_ = nullptr;
  uint8_t saved_chart_ = 0;
};

template <typename F>
std::string captured(F write) {
  PageCapture page;
  write();
  return page.text();
}

std::string title_bar(const char* title, const char* code) {
  return captured([&] { html.section_title(title, code); });
}

std::string header(const char* key, const char* value) {
  return captured([&] { html.list_header(key, value); });
}

std::string list_close() {
  return captured([] { html.list_close(); });
}

const std::string kSpacer = "<tr><td colspan=4 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n";

std::string row(int position, const std::string& label, const std::string& count, const std::string& share) {
  return "<tr class=dat align=right><td>" + std::to_string(position) + "</td><td align=left>" + label +
         "</td><td>" + count + "</td><td>" + share + "</td></tr>\n";
}

// Rows of a list: a spacer before every row but the first.
std::string rows(std::initializer_list<std::string> each) {
  std::string out;
  bool first = true;
  for (const std::string& r : each) {
    if (!first) out += kSpacer;
    out += r;
    first = false;
  }
  return out;
}

}  // namespace

TEST_F(TableListTest, HostListFullPage) {
  Hst table;
  table.set_name("HST");
  table.add("b.com", 1);
  table.add("a.com", 3);
  table.add("c.com", 3);
  std::string page = captured([&] { table.print_top("Visiting Hosts", "Host:", 7, "Visitors", 10); });
  const std::string expected =
      "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#efefef width=610>\n"
      "<tr><td colspan=5><img src=/q/imgs/t_t.gif width=610 height=4></td></tr>\n"
      "<tr bgcolor=#ffd400 valign=center>\n"
      "<td width=1 bgcolor=#c09700><img src=/q/imgs/i.gif width=1 height=17></td>\n"
      "<td width=38><img src=/q/imgs/i.gif width=38 height=17></td>\n"
      "<td width=532 align=center class=ttl>Visiting Hosts</td>\n"
      "<td width=38><a href=\"javascript:help('HST')\" onMouseOver=\"window.status='Help';return true\" "
      "onMouseOut=\"window.status='';return true\"><img src=/q/imgs/i_h.gif alt=help width=19 height=17 "
      "border=0></a>"
      "<a href=#top onMouseOver=\"window.status='Top';return true\" onMouseOut=\"window.status='';return "
      "true\"><img src=/q/imgs/i_t.gif alt=top width=19 height=17 border=0></a></td>\n"
      "<td width=1 bgcolor=#c09700><img src=/q/imgs/i.gif width=1 height=17></td>\n</tr>\n"
      "<tr><td colspan=5><img src=/q/imgs/t_b.gif width=610 height=4></td></tr>\n"
      "</table>\n"
      "<table border=0 cellspacing=1 cellpadding=2 bgcolor=#a7a7a7 width=610>\n"
      "<tr bgcolor=#dfd8df><td>\n"
      "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=604>\n"
      "<tr bgcolor=#a7a7a7 align=right><td class=lbl align=center>#</td>"
      "<td class=lbl align=left width=100%>Host:</td><td class=lbl>Visitors</td>"
      "<td class=lbl nowrap>% of all</td></tr>\n"
      "<tr class=dat align=right><td>1</td><td align=left>a.com</td><td>3</td><td>42.9</td></tr>\n"
      "<tr><td colspan=4 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n"
      "<tr class=dat align=right><td>2</td><td align=left>c.com</td><td>3</td><td>42.9</td></tr>\n"
      "<tr><td colspan=4 bgcolor=#efefef><img src=/q/imgs/i.gif></td></tr>\n"
      "<tr class=dat align=right><td>3</td><td align=left>b.com</td><td>1</td><td>14.3</td></tr>\n"
      "</table>\n</td></tr>\n</table>\n";
  EXPECT_EQ(page, expected);
}

TEST_F(TableListTest, RowLimitAddsTopSuffix) {
  Fls table;
  table.set_name("FLS");
  for (int k = 0; k < 12; ++k) table.add(("/f" + std::to_string(k)).c_str(), 100 - k);
  std::string page = captured([&] { table.print_top("Most Requested Files", "File:", 1000, "Requests", 10); });
  EXPECT_EQ(page.rfind(title_bar("Most Requested Files (top 10 of 12)", "FLS"), 0), 0u);
  EXPECT_NE(page.find(row(10, "/f9", "91", "9.1")), std::string::npos);
  EXPECT_EQ(page.find("/f10"), std::string::npos);

  Fls ten;
  ten.set_name("FLS");
  for (int k = 0; k < 10; ++k) ten.add(("/g" + std::to_string(k)).c_str(), 1);
  page = captured([&] { ten.print_top("Most Requested Files", "File:", 10, "Requests", 10); });
  EXPECT_EQ(page.rfind(title_bar("Most Requested Files", "FLS"), 0), 0u);
  EXPECT_NE(page.find(row(10, "/g9", "1", "10.0")), std::string::npos);
}

TEST_F(TableListTest, BottomListStartsFromLeastCounts) {
  Fls table;
  table.set_name("FLS");
  table.add("/five", 5);
  table.add("/one", 1);
  table.add("/also-one", 1);
  std::string page = captured([&] { table.print_bottom("Least Requested Files", "File:", 0, "Requests", 10); });
  EXPECT_EQ(page, title_bar("Least Requested Files", "FLS") + header("File:", "Requests") +
                      rows({row(1, "/also-one", "1", "0.0"), row(2, "/one", "1", "0.0"), row(3, "/five", "5", "0.0")}) +
                      list_close());
  page = captured([&] { table.print_bottom("Least Requested Files", "File:", 7, "Requests", 2); });
  EXPECT_EQ(page, title_bar("Least Requested Files (top 2 of 3)", "FLS") + header("File:", "Requests") +
                      rows({row(1, "/also-one", "1", "14.3"), row(2, "/one", "1", "14.3")}) + list_close());
}

TEST_F(TableListTest, EmptyTablesPrintNothing) {
  Hst hosts;
  Url urls;
  ReferringDomains domains;
  Cds codes;
  config.chart_on[CHT_CDS] = 1;
  std::string page = captured([&] {
    hosts.print_top("Visiting Hosts", "Host:", 1, "Visitors", 10);
    hosts.print_bottom("Visiting Hosts", "Host:", 1, "Visitors", 10);
    urls.print_list("Referring URLs", "Url:", 1, "Visitors", 10);
    domain_print_list(domains, "Referring Domains", "Domain:", 1, "Visitors", 10);
    print_status_codes(codes, "Status Codes", "Code:", 1, "Requests", 10);
  });
  EXPECT_EQ(page, "");
}

TEST_F(TableListTest, OutOfMemoryBoxInsteadOfTheList) {
  Hst table;
  table.set_name("HST");
  table.add("<a.com>", 1);
  std::string box = captured([] { html.out_of_memory(); });
  fail_allocations_after(0);
  std::string page = captured([&] { table.print_top("Visiting Hosts", "Host:", 1, "Visitors", 10); });
  fail_allocations_after(-1);
  EXPECT_EQ(page, title_bar("Visiting Hosts", "HST") + box);

  Cds codes;
  codes.set_name("CDS");
  codes.add("200", 1);
  fail_allocations_after(0);
  page = captured([&] { print_status_codes(codes, "Status Codes", "Code:", 1, "Requests", 10); });
  fail_allocations_after(-1);
  EXPECT_EQ(page, title_bar("Status Codes", "CDS") + box);
}

TEST_F(TableListTest, HostKeysAreEscaped) {
  Hst table;
  table.set_name("HST");
  table.add("<script>x.com", 1);
  std::string page = captured([&] { table.print_top("Visiting Hosts", "Host:", 1, "Visitors", 10); });
  EXPECT_NE(page.find(row(1, "&lt;script&gt;x.com", "1", "100.0")), std::string::npos);
  EXPECT_EQ(page.find("<script>"), std::string::npos);
}

TEST_F(TableListTest, ReferrerColoursAndVisibleText) {
  Url table;
  table.set_name("URL");
  std::string long_path(100, 'p');
  table.add("http://www.x.com/search?q=a", 90);
  table.add("news://news.x.org/comp.lang", 80);
  table.add("http://mail.x.com/inbox", 70);
  table.add("http://www.x.com/mail/box", 60);
  table.add("http://www.x.com/page", 50);
  table.add("ftp://files.x.com/", 40);
  table.add("https://secure.x.com/a", 30);
  table.add(("http://" + long_path + "?q").c_str(), 20);
  table.add("mailto:someone", 10);
  std::string page = captured([&] { table.print_list("Referring URLs", "Url:", 1000, "Visitors", 20); });
  std::string legend = captured([] { html.link_legend(); });
  std::string expected =
      title_bar("Referring URLs", "URL") + header("Url:", "Visitors") +
      rows({
          row(1,
              "<a style=color:rgb(255,0,0) target=u0 rel=\"noopener noreferrer\" "
              "href=\"http://www.x.com/search?q=a\">www.x.com/search</a>",
              "90", "9.0"),
          row(2,
              "<a style=color:rgb(0,160,0) target=u1 rel=\"noopener noreferrer\" href=\"news://news.x.org/comp.lang\">"
              "news://news.x.org/comp.lang</a>",
              "80", "8.0"),
          row(3,
              "<a style=color:rgb(255,0,255) target=u2 rel=\"noopener noreferrer\" "
              "href=\"http://mail.x.com/inbox\">mail.x.com/inbox</a>",
              "70", "7.0"),
          row(4, "<a target=u3 rel=\"noopener noreferrer\" href=\"http://www.x.com/mail/box\">www.x.com/mail/box</a>",
              "60", "6.0"),
          row(5, "<a target=u4 rel=\"noopener noreferrer\" href=\"http://www.x.com/page\">www.x.com/page</a>", "50",
              "5.0"),
          row(6, "ftp://files.x.com/", "40", "4.0"),
          row(7, "<a target=u6 rel=\"noopener noreferrer\" href=\"https://secure.x.com/a\">https://secure.x.com/a</a>",
              "30", "3.0"),
          row(8,
              "<a style=color:rgb(255,0,0) target=u7 rel=\"noopener noreferrer\" href=\"http://" + long_path + "?q\">" +
                  long_path.substr(0, 80) + "...</a>",
              "20", "2.0"),
          // An e-mail address is not a web or news address: shown, not linked.
          row(9, "mailto:someone", "10", "1.0"),
      }) +
      list_close() + legend;
  EXPECT_EQ(page, expected);
}

TEST_F(TableListTest, HostileReferrersAreHarmless) {
  Url table;
  table.set_name("URL");
  table.add("http://x/?<script>", 5);
  table.add("javascript:alert(1)//?", 4);
  table.add("http://x/\" onmouseover=\"alert(1)", 3);
  table.add("<img src=x onerror=alert(1)>", 2);
  table.add(("http://" + std::string(100, '<')).c_str(), 1);
  std::string page = captured([&] { table.print_list("Referring URLs", "Url:", 15, "Visitors", 10); });
  EXPECT_NE(
      page.find(row(
          1,
          "<a style=color:rgb(255,0,0) target=u0 rel=\"noopener noreferrer\" href=\"http://x/?&lt;script&gt;\">x/</a>",
          "5", "33.3")),
      std::string::npos);
  EXPECT_NE(page.find(row(2, "javascript:alert(1)//", "4", "26.7")), std::string::npos);
  EXPECT_NE(
      page.find(row(3,
                    "<a target=u2 rel=\"noopener noreferrer\" href=\"http://x/&quot; onmouseover=&quot;alert(1)\">"
                    "x/\" onmouseover=\"alert(1)</a>",
                    "3", "20.0")),
      std::string::npos);
  EXPECT_NE(page.find(row(4, "&lt;img src=x onerror=alert(1)&gt;", "2", "13.3")), std::string::npos);
  std::string cut;
  for (int k = 0; k < 80; ++k) cut += "&lt;";
  EXPECT_NE(page.find(">" + cut + "...</a>"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("href=\"javascript:alert"), std::string::npos);
  EXPECT_EQ(page.find("<img src=x"), std::string::npos);
}

TEST_F(TableListTest, HugeReferrerFitsTheLineBuffer) {
  // Escaping could make the link target several times longer than the line buffer.
  Url table;
  table.set_name("URL");
  std::string key = "http://x/" + std::string(9000, '&');
  table.add(key.c_str(), 1);
  std::string page = captured([&] { table.print_list("Referring URLs", "Url:", 1, "Visitors", 10); });
  std::string cut = "x/";
  for (int k = 0; k < 78; ++k) cut += "&amp;";
  EXPECT_NE(page.find(row(1, cut + "...", "1", "100.0")), std::string::npos);

  ReferringDomains domains;
  domains.add((std::string(9000, '&') + ".com").c_str(), 1);
  page = captured([&] { domain_print_list(domains, "Referring Domains", "Domain:", 1, "Visitors", 10); });
  cut = "www.";
  for (int k = 0; k < 80; ++k) cut += "&amp;";
  EXPECT_NE(page.find(row(1, cut + "...", "1", "100.0")), std::string::npos);
}

TEST_F(TableListTest, ReferringDomains) {
  ReferringDomains table;
  std::string long_domain = std::string(90, 'd') + ".com";
  table.add("example.com", 9);
  table.add("a.b.com", 8);
  table.add("localhost", 7);
  table.add(long_domain.c_str(), 6);
  table.add("x.com\"><script>", 5);
  std::string page = captured([&] { domain_print_list(table, "Referring Domains", "Domain:", 100, "Visitors", 10); });
  std::string expected =
      title_bar("Referring Domains", "REF") + header("Domain:", "Visitors") +
      rows({
          row(1, "<a target=r0 rel=\"noopener noreferrer\" href=\"http://www.example.com\">www.example.com</a>", "9",
              "9.0"),
          row(2, "<a target=r1 rel=\"noopener noreferrer\" href=\"http://a.b.com\">a.b.com</a>", "8", "8.0"),
          row(3, "<a target=r2 rel=\"noopener noreferrer\" href=\"http://localhost\">localhost</a>", "7", "7.0"),
          row(4,
              "<a target=r3 rel=\"noopener noreferrer\" href=\"http://www." + long_domain + "\">www." +
                  long_domain.substr(0, 80) + "...</a>",
              "6", "6.0"),
          row(5,
              "<a target=r4 rel=\"noopener noreferrer\" "
              "href=\"http://www.x.com&quot;&gt;&lt;script&gt;\">www.x.com\"&gt;&lt;script&gt;</a>",
              "5", "5.0"),
      }) +
      list_close();
  EXPECT_EQ(page, expected);
}

namespace {

// A status-code table as the report program has it after loading "dat_cds.cfg".
void define(Cds& table, const char* code, const char* description) {
  int32_t number;
  if (!table.descriptions.find(description, &number)) {
    table.descriptions.insert_at(description, number);
    number = table.descriptions.count - 1;
  }
  table.codes.add(code, number);
}

// 200 (5 requests), 404 (2) and the undefined 999 (1).
void three_codes(Cds& table) {
  table.set_name("CDS");
  define(table, "200", "OK");
  define(table, "404", "Not Found");
  table.add("404", 2);
  table.add("200", 5);
  table.add("999", 1);
}

}  // namespace

TEST_F(TableListTest, StatusCodesWithoutChart) {
  Cds table;
  three_codes(table);
  std::string page = captured([&] { print_status_codes(table, "Status Codes", "Code:", 8, "Requests", 10); });
  std::string expected = title_bar("Status Codes", "CDS") + header("Code:", "Requests") +
                         rows({row(1, "200 OK", "5", "62.5"), row(2, "404 Not Found", "2", "25.0"),
                               row(3, "999 Undefined", "1", "12.5")}) +
                         "</table>\n</td></tr>\n</table>\n<br>\n";
  EXPECT_EQ(page, expected);
}

TEST_F(TableListTest, StatusCodesWithPie) {
  config.chart_on[CHT_CDS] = 1;
  Cds table;
  three_codes(table);
  std::string page = captured([&] { print_status_codes(table, "Status Codes", "Code:", 8, "Requests", 2); });
  std::string expected =
      title_bar("Status Codes (top 2 of 3)", "CDS") + header("Code:", "Requests") +
      rows({row(1, "200 OK", "5", "62.5"), row(2, "404 Not Found", "2", "25.0")}) + kSpacer + "</table>\n" +
      "<applet codebase=/q/appl code=Corvilande.class width=604 height=150>\n"
      "<param name=type value=\"pie\">\n"
      "<param name=background value=\"223,216,223\">\n"
      "<param name=labelcolor value=\"0,0,0\">\n"
      "<param name=visitors value=\"5,2,\">\n"
      "<param name=labels value=\"200 OK,404 Not Found,\">\n"
      "</applet></td></tr>\n</table>\n<br>\n";
  EXPECT_EQ(page, expected);
}

TEST_F(TableListTest, StatusCodePieLeftOutWithoutLabelMemory) {
  config.chart_on[CHT_CDS] = 1;
  Cds table;
  table.set_name("CDS");
  table.add("200", 5);
  fail_allocations_after(1);  // the ranking only
  std::string page = captured([&] { print_status_codes(table, "Status Codes", "Code:", 5, "Requests", 10); });
  fail_allocations_after(-1);
  EXPECT_EQ(page, title_bar("Status Codes", "CDS") + header("Code:", "Requests") +
                      row(1, "200 Undefined", "5", "100.0") + "</table>\n</td></tr>\n</table>\n<br>\n");
}

TEST_F(TableListTest, StatusCodeRowTextIsBoundedAndEscaped) {
  config.chart_on[CHT_CDS] = 1;
  Cds table;
  table.set_name("CDS");
  std::string description(300, 'D');
  define(table, "500", description.c_str());
  table.add("500", 2);
  table.add("<b>", 1);
  std::string page = captured([&] { print_status_codes(table, "Status Codes", "Code:", 3, "Requests", 10); });
  std::string text = "500 " + description.substr(0, 135);
  EXPECT_NE(page.find(row(1, text, "2", "66.7")), std::string::npos);
  EXPECT_NE(page.find(row(2, "&lt;b&gt; Undefined", "1", "33.3")), std::string::npos);
  EXPECT_NE(page.find("<param name=labels value=\"" + text + ",&lt;b&gt; Undefined,\">"), std::string::npos);
}

TEST_F(TableListTest, ManyLongStatusCodeLabels) {
  config.chart_on[CHT_CDS] = 1;
  Cds table;
  table.set_name("CDS");
  std::string description(200, 'x');
  define(table, "0", description.c_str());
  // Each label takes 140 bytes of the 10240-byte buffer: 73 fit, the rest get empty labels.
  for (int k = 0; k < 80; ++k) {
    std::string code = std::to_string(1000 + k);
    define(table, code.c_str(), description.c_str());
    table.add(code.c_str(), 100 - k);
  }
  std::string page = captured([&] { print_status_codes(table, "Status Codes", "Code:", 10000, "Requests", 80); });
  EXPECT_NE(page.find(row(80, "1079 " + description.substr(0, 134), "21", "0.2")), std::string::npos);
  std::size_t start = page.find("<param name=labels value=\"");
  ASSERT_NE(start, std::string::npos);
  std::string labels = page.substr(start);
  // 20 slices at most, all of which fit.
  EXPECT_NE(labels.find("1019 xxx"), std::string::npos);
  EXPECT_EQ(labels.find("1020 xxx"), std::string::npos);
}
