#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/domains.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/tables.h"
#include "support/capture.h"
#include "support/page_settings.h"
#include "support/work_dir.h"

namespace {

std::string domain_of(const char* host) {
  const char* domain = registered_domain(host);
  return domain ? domain : "(skipped)";
}

int count_of(const Dom& countries, const char* code) {
  int32_t number;
  return countries.counts.keys.find(code, &number) ? countries.counts.data[number] : -1;
}

}  // namespace

TEST(RegisteredDomain, LastTwoLabelsOrThreeUnderARegistry) {
  EXPECT_EQ(domain_of("h.d.com"), "d.com");
  EXPECT_EQ(domain_of("h.e.d.co.uk"), "d.co.uk");
  EXPECT_EQ(domain_of("h.d.de"), "d.de");
  EXPECT_EQ(domain_of("h.d.com.au"), "d.com.au");
  EXPECT_EQ(domain_of("h.d.info"), "d.info");
  EXPECT_EQ(domain_of("dialup-7.d.net"), "d.net");
  EXPECT_EQ(domain_of("a.b.net.br"), "b.net.br");
  EXPECT_EQ(domain_of("a.b.org.pl"), "b.org.pl");
  EXPECT_EQ(domain_of("a.b.edu.au"), "b.edu.au");
  EXPECT_EQ(domain_of("a.b.gov.uk"), "b.gov.uk");
  EXPECT_EQ(domain_of("x.h.col.uk"), "h.col.uk");     // col begins with co
  EXPECT_EQ(domain_of("h.d.com.uk"), "d.com.uk");     // com.uk is 6 characters
  EXPECT_EQ(domain_of("h.d.travel.uk"), "travel.uk"); // travel.uk is 9
  EXPECT_EQ(domain_of("h.d.co.ukk"), "co.ukk");       // the country code has 2 characters
  EXPECT_EQ(domain_of("h.D.CO.UK"), "CO.UK");         // compared as written, no case change
  EXPECT_EQ(domain_of("Host.Example.COM"), "Example.COM");
}

TEST(RegisteredDomain, ShortNamesAreKeptWhole) {
  EXPECT_EQ(domain_of("co.uk"), "co.uk");
  EXPECT_EQ(domain_of("h.col.uk"), "h.col.uk");
  EXPECT_EQ(domain_of("d.com"), "d.com");
  EXPECT_EQ(domain_of("localhost"), "localhost");
  EXPECT_EQ(domain_of("x"), "x");
}

TEST(RegisteredDomain, NamesNotEndingInALetterAreSkipped) {
  EXPECT_EQ(domain_of(""), "(skipped)");
  EXPECT_EQ(domain_of("192.168.1.20"), "(skipped)");
  EXPECT_EQ(domain_of("10.0.0.1"), "(skipped)");
  EXPECT_EQ(domain_of("h.d.com."), "(skipped)");
  EXPECT_EQ(domain_of("h.d-"), "(skipped)");
  EXPECT_EQ(domain_of("h.d@"), "(skipped)");
  EXPECT_EQ(domain_of("h.d.\xc3\xa9"), "(skipped)");  // last byte 0x80 or above
  EXPECT_EQ(domain_of("h.d.A"), "d.A");
  EXPECT_EQ(domain_of("h.d._"), "d._");
}

TEST(HostDomains, EachVisitorCountsUnderItsRegisteredDomain) {
  Hst hosts;
  for (const char* host : {"192.168.1.20", "dialup-7.d.net", "h.col.uk", "h.d.com.uk", "h.d.travel.uk",
                           "localhost", "other.d.net", "h.d.com.", ""}) {
    ASSERT_EQ(hosts.add_host_domain(host), 0);
  }
  ASSERT_EQ(hosts.keys.count, 5);
  const char* expected[] = {"d.net", "h.col.uk", "d.com.uk", "travel.uk", "localhost"};
  for (int i = 0; i < 5; ++i) EXPECT_STREQ(hosts.keys.strings[i], expected[i]);
  EXPECT_EQ(hosts.data[0], 2);

  fail_allocations_after(0);
  EXPECT_EQ(hosts.add_host_domain("h.new.org"), ERR_MEM);
  EXPECT_EQ(hosts.add_host_domain("h.d.net"), 0);  // a known domain needs no memory
  fail_allocations_after(-1);
  EXPECT_EQ(hosts.data[0], 3);
}

TEST(CountryNames, EachCodeIsPairedWithTheNameOnItsLine) {
  WorkDir dir;
  dir.write("dat_dom.cfg",
            "de Germany\r\n"
            "gb United Kingdom\n"
            "uk United Kingdom\n"  // a second code of the same country
            "fr France\n"
            "de Deutschland\n"     // a repeated code keeps its first name
            "it Italy and  more\n"
            "xx\n");
  Dom countries;
  ASSERT_EQ(countries.load_country_names(), 0);
  EXPECT_STREQ(countries.country_name("de"), "Germany");
  EXPECT_STREQ(countries.country_name("gb"), "United Kingdom");
  EXPECT_STREQ(countries.country_name("uk"), "United Kingdom");
  EXPECT_STREQ(countries.country_name("fr"), "France");
  EXPECT_STREQ(countries.country_name("it"), "Italy and  more");
  EXPECT_STREQ(countries.country_name("xx"), "");
  EXPECT_EQ(countries.country_name("us"), nullptr);
  EXPECT_EQ(countries.codes.count, 6);
  EXPECT_EQ(countries.names.count, 5);  // each name stored once; a skipped line adds none
}

TEST(CountryNames, MissingFileAndMemoryFailures) {
  WorkDir dir;
  Dom missing;
  EXPECT_EQ(missing.load_country_names(), ERR_FIL);
  EXPECT_EQ(missing.codes.count, 0);

  dir.write("dat_dom.cfg", "de Germany\nat Austria\nch Switzerland\nli Liechtenstein\n");
  for (int successes = 0; successes < 16; ++successes) {
    Dom countries;
    fail_allocations_after(successes);
    int status = countries.load_country_names();
    fail_allocations_after(-1);
    EXPECT_TRUE(status == 0 || status == ERR_MEM);
    ASSERT_EQ(countries.code_names.count, countries.codes.count);
    for (int32_t i = 0; i < countries.codes.count; ++i) {
      ASSERT_LT(countries.code_names.data[i], countries.names.count);
    }
    if (countries.codes.count > 0) {
      EXPECT_STREQ(countries.country_name("de"), "Germany");
    }
  }
}

TEST(TopLevelDomains, CountedFromTheLastDomainFirst) {
  Hst hosts;
  hosts.add("d.co.uk", 3);
  hosts.add("x.com", 4);
  hosts.add("e.uk", 2);
  hosts.add("localhost", 1);
  Dom countries;
  ASSERT_EQ(count_top_level_domains(countries, hosts), 0);
  ASSERT_EQ(countries.counts.keys.count, 3);
  EXPECT_STREQ(countries.counts.keys.strings[0], "localhost");
  EXPECT_STREQ(countries.counts.keys.strings[1], "uk");
  EXPECT_STREQ(countries.counts.keys.strings[2], "com");
  EXPECT_EQ(count_of(countries, "uk"), 5);
  EXPECT_EQ(count_of(countries, "com"), 4);
  EXPECT_EQ(count_of(countries, "localhost"), 1);
}

TEST(TopLevelDomains, OutOfMemoryIsReported) {
  Hst hosts;
  hosts.add("a.de", 1);
  hosts.add("b.fr", 1);
  Dom countries;
  fail_allocations_after(0);
  int status = count_top_level_domains(countries, hosts);
  fail_allocations_after(-1);
  EXPECT_EQ(status, ERR_MEM);
  EXPECT_EQ(countries.counts.count, countries.counts.keys.count);
}

TEST(CountryNames, InstalledFileNamesCountryCodes) {
  WorkDir dir;
  dir.copy_in("install/dat_dom.cfg");
  Dom countries;
  ASSERT_EQ(countries.load_country_names(), 0);
  EXPECT_STREQ(countries.country_name("uk"), "United Kingdom");
  EXPECT_STREQ(countries.country_name("gb"), "United Kingdom");
  EXPECT_STREQ(countries.country_name("de"), "Germany");
  EXPECT_STREQ(countries.country_name("zw"), "Zimbabwe");
  EXPECT_STREQ(countries.country_name("com"), "Commercial");
  for (int32_t i = 0; i < countries.codes.count; ++i) {
    EXPECT_STRNE(countries.names.strings[countries.code_names.data[i]], "") << countries.codes.strings[i];
  }
}

// ---- The "Visiting Countries" section -------------------------------------------

namespace {

const std::string kRow = "<tr class=dat align=right RA>";
const std::string kSpacer4 = "<tr><td colspan=4 bgcolor=#efefef><img src=P/imgs/i.gif></td></tr>\n";
const std::string kListHead =
    "<table border=0 cellspacing=1 cellpadding=2 bgcolor=#a7a7a7 width=610>\n"
    "<tr bgcolor=#dfd8df><td>\n"
    "<table border=0 cellspacing=0 cellpadding=0 bgcolor=#dfd8df width=604>\n"
    "<tr bgcolor=#a7a7a7 align=right><td class=lbl align=center>#</td>"
    "<td class=lbl align=left width=100%>Country:</td><td class=lbl>Visitors</td>"
    "<td class=lbl nowrap>% of all</td></tr>\n";
const std::string kListEnd = "</table>\n</td></tr>\n</table>\n<br>\n";

class CountriesSection : public ::testing::Test {
 protected:
  void SetUp() override {
    std::strcpy(countries_.tag, "DMN");
    dir_.write("dat_dom.cfg", "uk United Kingdom\nci Cote d'Ivoire\ncom Commercial\n");
    EXPECT_EQ(countries_.load_country_names(), 0);
  }
  std::string title_bar(const char* title) { return ::title_bar(title, "DMN"); }
  std::string section(int total, int limit) {
    PageCapture page;
    print_countries(countries_, "Visiting Countries", "Country:", total, "Visitors", limit);
    return page.text();
  }

  PageSettings settings_{"P/", " RA"};
  WorkDir dir_;
  Dom countries_;
  Hst hosts_;
};

}  // namespace

TEST_F(CountriesSection, DomainsOfOneCountryMakeOneRow) {
  hosts_.add("d.co.uk", 3);
  hosts_.add("x.info", 1);
  hosts_.add("e.uk", 2);
  hosts_.add("localhost", 1);
  hosts_.add("a.com", 1);
  ASSERT_EQ(count_top_level_domains(countries_, hosts_), 0);
  // Ties keep the country table's first-seen order: com, localhost, info.
  EXPECT_EQ(section(10, 10),
            title_bar("Visiting Countries") + kListHead +
                kRow + "<td>1</td><td align=left>.uk&nbsp; United Kingdom</td><td>5</td><td>50.0</td></tr>\n" +
                kSpacer4 +
                kRow + "<td>2</td><td align=left>.com Commercial</td><td>1</td><td>10.0</td></tr>\n" +
                kSpacer4 +
                kRow + "<td>3</td><td align=left>.localhost</td><td>1</td><td>10.0</td></tr>\n" +
                kSpacer4 +
                kRow + "<td>4</td><td align=left>.info</td><td>1</td><td>10.0</td></tr>\n" +
                kListEnd);
}

TEST_F(CountriesSection, LimitBelowTheCountryCount) {
  hosts_.add("a.de", 5);
  hosts_.add("b.fr", 4);
  hosts_.add("c.it", 3);
  ASSERT_EQ(count_top_level_domains(countries_, hosts_), 0);
  std::string text = section(12, 2);
  EXPECT_EQ(text.rfind(title_bar("Visiting Countries (top 2 of 3)"), 0), 0u);
  EXPECT_NE(text.find(".fr&nbsp;</td>"), std::string::npos);
  EXPECT_EQ(text.find(".it"), std::string::npos);
  EXPECT_EQ(section(12, 3).rfind(title_bar("Visiting Countries") + kListHead, 0), 0u);
}

TEST_F(CountriesSection, CodesAndNamesAreEscaped) {
  hosts_.add("x.<b>", 2);   // a hostile key of a day file
  hosts_.add("y.ci", 1);
  ASSERT_EQ(count_top_level_domains(countries_, hosts_), 0);
  std::string text = section(0, 10);  // a total of 0 shows shares of 0.0
  EXPECT_EQ(text.find("<b>"), std::string::npos);
  EXPECT_NE(text.find("<td align=left>.ci&nbsp; Cote d'Ivoire</td><td>1</td><td>0.0</td>"),
            std::string::npos);
  EXPECT_NE(text.find("<td align=left>.&lt;b&gt;</td><td>2</td><td>0.0</td>"), std::string::npos);
}

TEST_F(CountriesSection, NothingForAnEmptyTableAndTheBoxWithoutMemory) {
  EXPECT_EQ(section(10, 10), "");
  hosts_.add("a.de", 5);
  ASSERT_EQ(count_top_level_domains(countries_, hosts_), 0);
  fail_allocations_after(0);
  std::string text = section(10, 10);
  fail_allocations_after(-1);
  PageCapture box;
  html.out_of_memory();
  EXPECT_EQ(text, title_bar("Visiting Countries") + box.text());  // the box's own line break only
}
