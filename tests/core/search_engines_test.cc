#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "core/config.h"
#include "core/errors.h"
#include "core/html_writer.h"
#include "core/memory.h"
#include "core/program.h"
#include "core/search_engines.h"
#include "core/tables.h"
#include "support/capture.h"
#include "support/page_settings.h"
#include "support/work_dir.h"

namespace {

int count_of(const siArr& table, const char* key) {
  int32_t number;
  return table.keys.find(key, &number) ? table.data[number] : -1;
}

std::string decoded(const std::string& text) {
  Eng table;
  std::string area = text;
  decode_query_value(table, area.data());
  return area.c_str();
}

// Engines loaded from the given definition lines in a fresh working directory.
class EngineTest : public ::testing::Test {
 protected:
  void load(const std::string& lines) {
    dir_.write("dat_eng.cfg", lines);
    ASSERT_EQ(engines_.load(), 0);
  }
  int classify(std::initializer_list<std::pair<const char*, int>> keys) {
    for (const auto& [key, count] : keys) referrers_.add(key, count);
    return classify_search_referrers(engines_, referrers_, total_);
  }
  // The engine's phrases and counts as "phrase=count" in the map's key order.
  std::string phrases_of(int engine) {
    std::string text;
    const icArr& map = *engines_.phrase_maps[engine];
    for (int32_t i = 0; i < map.keys.count; ++i) {
      text += std::string(engines_.phrases.keys.strings[map.keys.data[i]]) + "=" +
              std::to_string(map.values.data[i]) + ";";
    }
    return text;
  }

  WorkDir dir_;
  Eng engines_;
  Url referrers_;
  int32_t total_ = 0;
};

}  // namespace

// ---- "dat_eng.cfg" ---------------------------------------------------------------

TEST_F(EngineTest, LoadReadsNamesHostPatternsAndPrefixes) {
  load("Engine A | enginea. q= query=\r\n"
       "no separator here\n"
       "Engine  B | b.example  &p= q=\n"  // blanks in the name; two blanks give an empty word
       "Engine A | other. x=\n"            // a repeated name: the first line holds
       "Bare | \n"
       "C|c.example q=\n");
  ASSERT_EQ(engines_.count, 3);
  ASSERT_EQ(engines_.engines.keys.count, 3);
  EXPECT_STREQ(engines_.engines.keys.strings[0], "Engine A");
  EXPECT_STREQ(engines_.engines.keys.strings[1], "Engine  B");
  EXPECT_STREQ(engines_.engines.keys.strings[2], "Bare");
  const strArr& a = *engines_.patterns[0];
  ASSERT_EQ(a.count, 3);
  EXPECT_STREQ(a.strings[0], "enginea.");
  EXPECT_STREQ(a.strings[1], "q=");
  EXPECT_STREQ(a.strings[2], "query=");
  const strArr& b = *engines_.patterns[1];
  ASSERT_EQ(b.count, 4);
  EXPECT_STREQ(b.strings[1], "");
  EXPECT_STREQ(b.strings[2], "&p=");
  EXPECT_EQ(engines_.patterns[2]->count, 0);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(engines_.phrase_maps[k]->keys.count, 0);
  EXPECT_EQ(engines_.engines.data[0], 0);
}

TEST_F(EngineTest, AnOverLongLineIsOneEngine) {
  select_program_build(ProgramBuild::report);
  std::string tail(20000, 'x');
  load("Long | long. q=" + tail + " | Fake fake. q=\nShort | short. q=\n");
  select_program_build(ProgramBuild::parser);
  ASSERT_EQ(engines_.count, 2);
  EXPECT_STREQ(engines_.engines.keys.strings[1], "Short");
}

TEST(EngineLoad, MissingFileAndMemoryFailures) {
  WorkDir dir;
  Eng missing;
  EXPECT_EQ(missing.load(), ERR_FIL);
  EXPECT_EQ(missing.count, 0);

  dir.write("dat_eng.cfg", "A | a. q= p=\nB | b. q=\nC | c. k=\n");
  int loaded = 0;
  for (int successes = 0; loaded < 3; ++successes) {
    ASSERT_LT(successes, 100);
    Eng engines;
    fail_allocations_after(successes);
    int status = engines.load();
    fail_allocations_after(-1);
    loaded = engines.count;
    EXPECT_EQ(status, loaded == 3 ? 0 : ERR_MEM);
    // Only whole engines: each has its counter, its words and its map.
    ASSERT_EQ(engines.engines.count, engines.count);
    ASSERT_EQ(engines.engines.keys.count, engines.count);
    for (int k = 0; k < engines.count; ++k) {
      EXPECT_GE(engines.patterns[k]->count, 2);
      EXPECT_NE(engines.phrase_maps[k], nullptr);
    }
  }
}

// ---- Classification ----------------------------------------------------------------

TEST_F(EngineTest, ThePhraseOfAMatchedReferrer) {
  load("Engine A | enginea. q= query=\nEngine B | engineb. query= q=\n");
  ASSERT_EQ(classify({{"http://search.enginea.com/search?hl=en&q=Blue+Widgets&x=1", 3},
                      {"http://engineb.net/find?query=%41%42&q=ignored", 2},
                      {"http://www.example.com/page?q=not+a+search", 7}}),
            0);
  EXPECT_EQ(engines_.engines.data[0], 3);
  EXPECT_EQ(engines_.engines.data[1], 2);
  EXPECT_EQ(total_, 5);
  // The last referrer is classified first, so its phrase has string number 0.
  EXPECT_STREQ(engines_.phrases.keys.strings[0], "ab");
  EXPECT_EQ(count_of(engines_.phrases, "blue widgets"), 3);
  EXPECT_EQ(phrases_of(0), "blue widgets=3;");
  EXPECT_EQ(phrases_of(1), "ab=2;");
  // The referrers table is left as it was.
  EXPECT_STREQ(referrers_.keys.strings[0], "http://search.enginea.com/search?hl=en&q=Blue+Widgets&x=1");
}

TEST_F(EngineTest, PrefixesMatchOnlyAtTheStartOfAParameter) {
  load("E | e. q= p=\nF | f. &q=\n");
  ASSERT_EQ(classify({{"http://e.com/?aq=f&q=cats", 1},     // not the q= inside aq=
                      {"http://e.com/?q=dogs&aq=x", 1},
                      {"http://e.com/s?xp=1&oq=2", 1},      // neither prefix starts a parameter
                      {"http://f.com/s?q=first&q=second", 1}}),  // the prefix's own '&'
            0);
  EXPECT_EQ(engines_.engines.data[0], 3);
  EXPECT_EQ(phrases_of(0), "dogs=1;cats=1;");  // the later key was counted first
  EXPECT_EQ(phrases_of(1), "second=1;");
  EXPECT_EQ(total_, 4);
}

TEST_F(EngineTest, ReferrersWithoutAPhraseCountForTheEngineOnly) {
  load("E | e. q=\n");
  ASSERT_EQ(classify({{"http://e.com/s?q=&x=1", 2},   // empty phrase
                      {"http://e.com/s?q=%00a", 1},   // decodes to nothing
                      {"http://e.com/s?x=1", 4},      // no prefix
                      {"http://www.e.com/", 8}}),     // no query
            0);
  EXPECT_EQ(engines_.engines.data[0], 15);
  EXPECT_EQ(engines_.phrases.keys.count, 0);
  EXPECT_EQ(total_, 15);
}

TEST_F(EngineTest, TheHostPatternIsMatchedAgainstTheWholeHostOnly) {
  load("Search | search.example.com q=\nEmpty |  q=\nPath | path. q=\n");
  ASSERT_EQ(classify({{"http://search.example.com?q=x", 1},         // '?' right after the host
                      {"http://blog.net/search.example.com.html", 4}, // the pattern in the path only
                      {"http://blog.net/path.html?q=y", 2},
                      {"search.example.com/s", 8}}),                  // no "//": the whole text
            0);
  EXPECT_EQ(engines_.engines.data[0], 9);
  EXPECT_EQ(engines_.engines.data[1], 0);  // an empty host pattern never matches
  EXPECT_EQ(engines_.engines.data[2], 0);
  EXPECT_EQ(phrases_of(0), "x=1;");
}

TEST_F(EngineTest, CountsSaturate) {
  load("E | e. q=\n");
  total_ = INT_MAX - 1;
  ASSERT_EQ(classify({{"http://e.com/?q=a", INT_MAX}, {"http://e.com/?q=A", 5}}), 0);
  EXPECT_EQ(total_, INT_MAX);
  EXPECT_EQ(engines_.engines.data[0], INT_MAX);
  EXPECT_EQ(count_of(engines_.phrases, "a"), INT_MAX);
  EXPECT_EQ(phrases_of(0), "a=" + std::to_string(INT_MAX) + ";");
}

TEST_F(EngineTest, OutOfMemoryLeavesTheKeyUncounted) {
  load("E | e. q=\nF | f. q=\n");
  referrers_.add("http://e.com/?q=new", 2);
  referrers_.add("http://f.com/?q=old", 3);
  referrers_.add("http://e.com/?q=old", 5);
  for (int successes = 0; successes < 12; ++successes) {
    Eng& table = engines_;
    table.phrases.clear();
    for (int k = 0; k < table.count; ++k) {
      table.phrase_maps[k]->clear();
      table.engines.data[k] = 0;
    }
    total_ = 0;
    fail_allocations_after(successes);
    int status = classify_search_referrers(table, referrers_, total_);
    fail_allocations_after(-1);
    EXPECT_TRUE(status == 0 || status == ERR_MEM);
    // Every counted key is counted everywhere: engines, total, phrases and maps agree.
    int64_t by_phrase = 0;
    for (int32_t i = 0; i < table.phrases.count; ++i) by_phrase += table.phrases.data[i];
    int64_t by_map = 0;
    for (int k = 0; k < table.count; ++k) {
      for (int32_t i = 0; i < table.phrase_maps[k]->values.count; ++i) by_map += table.phrase_maps[k]->values.data[i];
    }
    EXPECT_EQ(table.phrases.count, table.phrases.keys.count);
    EXPECT_EQ(by_phrase, by_map);
    EXPECT_EQ(by_phrase, total_);
    EXPECT_EQ(table.engines.data[0] + table.engines.data[1], total_);
    if (status == 0) {
      EXPECT_EQ(total_, 10);
    }
  }
}

TEST(QueryDecoding, PlusPercentAndLimits) {
  EXPECT_EQ(decoded("Blue+Widgets"), "Blue Widgets");
  EXPECT_EQ(decoded("%41%42"), "AB");
  EXPECT_EQ(decoded("caf%c3%A9"), "caf\xc3\xa9");
  EXPECT_EQ(decoded("a%4zb"), "a\x04" "b");  // the pair's leading digits
  EXPECT_EQ(decoded("a%zzb"), "a");          // no digit: a 0 byte ends the phrase
  EXPECT_EQ(decoded("a%00b"), "a");
  EXPECT_EQ(decoded("%2B%25+"), "+% ");
  EXPECT_EQ(decoded(std::string(300, 'x')), std::string(255, 'x'));
}

TEST(QueryDecoding, NeverReadsPastTheEnd) {
  // Escapes cut short by the end of the text or by the 255-character limit.
  EXPECT_EQ(decoded("ab%4"), "ab\x04");
  EXPECT_EQ(decoded("ab%"), "ab");
  EXPECT_EQ(decoded(std::string(253, 'x') + "%41"), std::string(253, 'x') + "\x04");
  EXPECT_EQ(decoded(std::string(254, 'x') + "%41"), std::string(254, 'x'));
  // In a buffer of exactly its own size (the sanitizer build checks the reads).
  Eng table;
  char text[4] = {'a', '%', '6', '\0'};
  decode_query_value(table, text);
  EXPECT_STREQ(text, "a\x06");
}

TEST(InstalledEngines, WellKnownEnginesAreRecognised) {
  WorkDir dir;
  dir.copy_in("install/dat_eng.cfg");
  Eng engines;
  ASSERT_EQ(engines.load(), 0);
  EXPECT_GE(engines.count, 10);
  Url referrers;
  referrers.add("https://www.google.co.uk/search?hl=en&aq=f&q=Quillmoray+stats", 2);
  referrers.add("https://www.bing.com/search?q=web%20statistics&form=QBLH", 1);
  referrers.add("https://search.yahoo.com/search?p=traffic", 1);
  int32_t total = 0;
  ASSERT_EQ(classify_search_referrers(engines, referrers, total), 0);
  EXPECT_EQ(total, 4);
  EXPECT_EQ(count_of(engines.engines, "Google"), 2);
  EXPECT_EQ(count_of(engines.engines, "Bing"), 1);
  EXPECT_EQ(count_of(engines.engines, "Yahoo!"), 1);
  EXPECT_EQ(count_of(engines.phrases, "quillmoray stats"), 2);
  EXPECT_EQ(count_of(engines.phrases, "web statistics"), 1);
  EXPECT_EQ(count_of(engines.phrases, "traffic"), 1);
}

// ---- The three sections ------------------------------------------------------------

namespace {

const std::string kSpacer4 = "<tr><td colspan=4 bgcolor=#efefef><img src=P/imgs/i.gif></td></tr>\n";
const std::string kListEnd = "</table>\n</td></tr>\n</table>\n<br>\n";

std::string header(const char* key_label) {
  PageCapture page;
  html.list_header(key_label, "Visitors");
  return page.text();
}

std::string row(int position, const std::string& label, const char* count, const char* share) {
  return "<tr class=dat align=right RA><td>" + std::to_string(position) + "</td><td align=left>" + label +
         "</td><td>" + count + "</td><td>" + share + "</td></tr>\n";
}

std::string engine_row(int position, const std::string& label, const char* count, const char* share) {
  return "<tr class=dat align=right bgcolor=#d1cbd1><td>" + std::to_string(position) +
         "</td><td align=left><span class=ttl>" + label + "</span></td><td>" + count + "</td><td>" + share +
         "</td></tr>\n";
}

std::string phrase_row(const std::string& label, const char* count, const char* share) {
  return kSpacer4 + "<tr class=dat align=right RA><td>&nbsp;</td><td align=left>" + label + "</td><td>" +
         count + "</td><td>" + share + "</td></tr>\n";
}

class SearchSections : public EngineTest {
 protected:
  void SetUp() override {
    saved_chart_ = config.chart_on[CHT_ENG];
    saved_limit_ = config.row_limits[RPT_ENG];
    config.chart_on[CHT_ENG] = 0;
    config.row_limits[RPT_ENG] = 10;
  }
  void TearDown() override {
    config.chart_on[CHT_ENG] = saved_chart_;
    config.row_limits[RPT_ENG] = saved_limit_;
    fail_allocations_after(-1);
  }
  // Three engines with visitors, one without; phrases under two of them.
  void three_engines() {
    load("Alpha | alpha. q=\nBeta | beta. q=\nGamma | gamma. q=\nDelta | delta. q=\n");
    ASSERT_EQ(classify({{"http://alpha.com/?q=x", 2},
                        {"http://beta.com/?q=y", 5},
                        {"http://beta.com/?q=x", 1},
                        {"http://beta.com/?q=z", 3},
                        {"http://gamma.com/", 2}}),
              0);
  }
  std::string engines_section(int limit) {
    PageCapture page;
    print_search_engines(engines_, "Search Engines", "Search Engine", 20, "Visitors", limit);
    return page.text();
  }
  std::string queries_section(int limit) {
    PageCapture page;
    print_search_queries(engines_, "Search Queries", "Key Phrase:", 20, "Visitors", limit);
    return page.text();
  }
  std::string engine_queries_section(int limit) {
    PageCapture page;
    print_engine_queries(engines_, "Search Engine Queries", "Key Phrase", 20, "Visitors", limit);
    return page.text();
  }

  PageSettings settings_{"P/", " RA"};
  uint8_t saved_chart_ = 0;
  int saved_limit_ = 0;
};

}  // namespace

TEST_F(SearchSections, NothingWithoutVisitors) {
  load("Alpha | alpha. q=\n");
  EXPECT_EQ(engines_section(10), "");
  EXPECT_EQ(queries_section(10), "");
  EXPECT_EQ(engine_queries_section(10), "");
}

TEST_F(SearchSections, SearchEngines) {
  three_engines();
  // Ties (Alpha, Gamma) keep engine order; Delta has no visitors.
  EXPECT_EQ(engines_section(10), title_bar("Search Engines", "ENG") + header("Search Engine") +
                                     row(1, "Beta", "9", "45.0") + kSpacer4 + row(2, "Alpha", "2", "10.0") +
                                     kSpacer4 + row(3, "Gamma", "2", "10.0") + kListEnd);
  config.chart_on[CHT_ENG] = 1;
  EXPECT_EQ(engines_section(2), title_bar("Search Engines (top 2 of 3)", "ENG") + header("Search Engine") +
                                    row(1, "Beta", "9", "45.0") + kSpacer4 + row(2, "Alpha", "2", "10.0") +
                                    kSpacer4 + "</table>\n" +
                                    "<applet codebase=P/appl code=Corvilande.class width=604 height=150>\n"
                                    "<param name=type value=\"pie\">\n"
                                    "<param name=background value=\"223,216,223\">\n"
                                    "<param name=labelcolor value=\"0,0,0\">\n"
                                    "<param name=visitors value=\"9,2,\">\n"
                                    "<param name=labels value=\"Beta,Alpha,\">\n"
                                    "</applet></td></tr>\n</table>\n<br>\n");
}

TEST_F(SearchSections, SearchQueries) {
  three_engines();
  EXPECT_EQ(queries_section(10), title_bar("Search Queries", "SQR") + header("Key Phrase:") +
                                     row(1, "y", "5", "25.0") + kSpacer4 + row(2, "z", "3", "15.0") + kSpacer4 +
                                     row(3, "x", "3", "15.0") + kListEnd);
  EXPECT_EQ(queries_section(1), title_bar("Search Queries (top 1 of 3)", "SQR") + header("Key Phrase:") +
                                    row(1, "y", "5", "25.0") + kListEnd);
}

TEST_F(SearchSections, SearchEngineQueries) {
  three_engines();
  EXPECT_EQ(engine_queries_section(10),
            title_bar("Search Engine Queries", "SEQ") + header("Key Phrase") +
                engine_row(1, "Beta", "9", "45.0") + phrase_row("y", "5", "25.0") + phrase_row("z", "3", "15.0") +
                phrase_row("x", "1", "5.0") + kSpacer4 + engine_row(2, "Alpha", "2", "10.0") +
                phrase_row("x", "2", "10.0") + kSpacer4 + engine_row(3, "Gamma", "2", "10.0") + kListEnd);
  // The engines follow the "ENG" limit, the phrases the section's own.
  config.row_limits[RPT_ENG] = 1;
  EXPECT_EQ(engine_queries_section(2), title_bar("Search Engine Queries (top 1 of 3)", "SEQ") +
                                           header("Key Phrase") + engine_row(1, "Beta (top 2 of 3)", "9", "45.0") +
                                           phrase_row("y", "5", "25.0") + phrase_row("z", "3", "15.0") + kListEnd);
}

TEST_F(SearchSections, EngineLimitFiveAndPhraseLimitThree) {
  std::string lines;
  for (char c = 'a'; c <= 'g'; ++c) lines += std::string("Engine ") + c + " | " + c + "-search. q=\n";
  load(lines);
  for (char c = 'a'; c <= 'g'; ++c) {
    for (int p = 0; p < 4; ++p) {
      referrers_.add(("http://" + std::string(1, c) + "-search.com/?q=p" + std::to_string(p)).c_str(), 1 + p);
    }
  }
  ASSERT_EQ(classify_search_referrers(engines_, referrers_, total_), 0);
  config.row_limits[RPT_ENG] = 5;
  std::string page = engine_queries_section(3);
  EXPECT_EQ(page.rfind(title_bar("Search Engine Queries (top 5 of 7)", "SEQ"), 0), 0u);
  std::size_t engines = 0;
  std::size_t phrases = 0;
  for (std::size_t at = page.find("<span class=ttl>Engine"); at != std::string::npos;
       at = page.find("<span class=ttl>Engine", at + 1)) {
    ++engines;
  }
  for (std::size_t at = page.find("<td>&nbsp;</td>"); at != std::string::npos; at = page.find("<td>&nbsp;</td>", at + 1)) {
    ++phrases;
  }
  EXPECT_EQ(engines, 5u);
  EXPECT_EQ(phrases, 15u);
  EXPECT_NE(page.find(engine_row(1, "Engine a (top 3 of 4)", "10", "50.0")), std::string::npos);
  EXPECT_EQ(page.find(">p0<"), std::string::npos);  // the least phrase of each engine is left out
}

TEST_F(SearchSections, HostilePhrasesAndNamesAreEscaped) {
  load("<i>Evil, Inc.</i> | evil. q=\n");
  ASSERT_EQ(classify({{"http://evil.com/?q=%3Cscript%3Ealert(1)%3C/script%3E", 2},
                      {"http://evil.com/?q=\"+onmouseover=x", 1}}),
            0);
  config.chart_on[CHT_ENG] = 1;
  std::string page = engines_section(10) + queries_section(10) + engine_queries_section(10);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<i>"), std::string::npos);
  EXPECT_NE(page.find(row(1, "&lt;i&gt;Evil, Inc.&lt;/i&gt;", "3", "15.0")), std::string::npos);
  EXPECT_NE(page.find(row(1, "&lt;script&gt;alert(1)&lt;/script&gt;", "2", "10.0")), std::string::npos);
  EXPECT_NE(page.find("<param name=labels value=\"&lt;i&gt;Evil; Inc.&lt;/i&gt;,\">"), std::string::npos);
  EXPECT_NE(page.find(phrase_row("\" onmouseover=x", "1", "5.0")), std::string::npos);
}

TEST_F(SearchSections, OutOfMemoryBox) {
  three_engines();
  PageCapture box_page;
  html.out_of_memory();
  std::string box = box_page.text();
  fail_allocations_after(0);
  std::string engines = engines_section(10);
  std::string queries = queries_section(10);
  std::string engine_queries = engine_queries_section(10);
  fail_allocations_after(1);  // the engines' ranking, not the first phrase ranking
  std::string nested = engine_queries_section(10);
  fail_allocations_after(-1);
  EXPECT_EQ(engines, title_bar("Search Engines", "ENG") + box);
  EXPECT_EQ(queries, title_bar("Search Queries", "SQR") + box);
  EXPECT_EQ(engine_queries, title_bar("Search Engine Queries", "SEQ") + box);
  EXPECT_EQ(nested, title_bar("Search Engine Queries", "SEQ") + header("Key Phrase") +
                        engine_row(1, "Beta", "9", "45.0") + "</table>\n</td></tr>\n</table>\n" + box);
}
