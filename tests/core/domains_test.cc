#include <gtest/gtest.h>

#include <string>

#include "core/domains.h"
#include "core/errors.h"
#include "core/memory.h"
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
  siArr hosts;
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
  siArr hosts;
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
