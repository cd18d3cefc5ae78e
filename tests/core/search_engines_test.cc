#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>
#include <string>

#include "core/config.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/program.h"
#include "core/search_engines.h"
#include "core/tables.h"
#include "support/capture.h"
#include "support/page_settings.h"
#include "support/work_dir.h"

namespace {

std::string decoded(std::string text) {
  Eng table;
  decode_query_value(table, text.data());
  return text.c_str();
}

class EngineTest : public ::testing::Test {
 protected:
  void load(const std::string& lines) {
    dir_.write("dat_eng.cfg", lines);
    ASSERT_EQ(engines_.load(), 0);
  }
  int classify() { return classify_search_referrers(engines_, referrers_, total_); }
  // An engine's counter and phrases: "count:phrase=count;..." in phrase-number order.
  std::string counted(int engine) {
    std::string text = std::to_string(engines_.engines.data[engine]) + ":";
    const icArr& map = *engines_.phrase_maps[engine];
    for (int32_t i = 0; i < map.keys.count; ++i) {
      text += engines_.phrases.keys.strings[map.keys.data[i]] + ("=" + std::to_string(map.values.data[i]) + ";");
    }
    return text;
  }
  WorkDir dir_;
  Eng engines_;
  Url referrers_;
  int32_t total_ = 0;
};

}  // namespace

TEST_F(EngineTest, LoadKeepsOneWholeEnginePerNamedLine) {
  select_program_build(ProgramBuild::report);
  load("Engine A | enginea. q= query=\r\nno separator\nEngine  B | b.example  &p=\n"  // two blanks: an empty word
       "Engine A | other. x=\nBare | \nLong | long. q=" + std::string(12000, 'x') + " | Fake fake. q=\n");
  select_program_build(ProgramBuild::parser);
  ASSERT_EQ(engines_.count, 4);  // the repeated name and the over-long line's excess add none
  EXPECT_EQ(engines_.engines.keys.count, 4);
  EXPECT_STREQ(engines_.engines.keys.strings[1], "Engine  B");
  EXPECT_STREQ(engines_.patterns[0]->strings[2], "query=");
  EXPECT_STREQ(engines_.patterns[1]->strings[1], "");
  EXPECT_EQ(engines_.patterns[2]->count, 0);

  Eng missing;
  dir_.write("dat_eng.cfg", "A | a. q= p=\nB | b. q=\nC | c. k=\n");
  for (int successes = 0, loaded = 0; loaded < 3; ++successes) {
    Eng engines;
    fail_allocations_after(successes);
    int status = engines.load();
    fail_allocations_after(-1);
    loaded = engines.count;
    EXPECT_EQ(status, loaded == 3 ? 0 : ERR_MEM);
    ASSERT_EQ(engines.engines.count, engines.count);  // only whole engines
    for (int k = 0; k < engines.count; ++k) EXPECT_EQ(engines.patterns[k]->count, 3 - (k > 0));
  }
  std::remove("dat_eng.cfg");
  EXPECT_EQ(missing.load(), ERR_FIL);
}

TEST_F(EngineTest, PhrasesOfMatchedReferrers) {
  load("Engine A | enginea. q= query=\nF | f. &q=\nEmpty |  q=\nSearch | search.example.com q=\n");
  for (auto [key, count] : {std::pair{"http://search.enginea.com/search?hl=en&q=Blue+Widgets&x=1", 3},
                            {"http://enginea.net/?aq=f&q=%41%42", 2},   // not the q= inside aq=
                            {"http://f.com/s?q=first&q=second", 1},     // the prefix's own '&'
                            {"http://enginea.com/s?q=&x=1", 4},         // empty phrase: the engine only
                            {"http://enginea.com/s?q=%00a", 5},         // decodes to nothing
                            {"http://example.com/page?q=other", 7},     // no engine
                            {"http://search.example.com?q=x", INT_MAX}, // '?' right after the host
                            {"http://blog.net/search.example.com", 4},  // the pattern in the path only
                            {"search.example.com/s", 8}}) {             // no "//": the whole text
    referrers_.add(key, count);
  }
  ASSERT_EQ(classify(), 0);
  EXPECT_EQ(counted(0), "14:ab=2;blue widgets=3;");  // the last key is counted first
  EXPECT_EQ(counted(1), "1:second=1;");
  EXPECT_EQ(counted(2), "0:");  // an empty host pattern never matches
  EXPECT_EQ(counted(3), std::to_string(INT_MAX) + ":x=" + std::to_string(INT_MAX) + ";");
  EXPECT_EQ(total_, INT_MAX);
  EXPECT_STREQ(referrers_.keys.strings[1], "http://enginea.net/?aq=f&q=%41%42");  // left as it was
}

TEST_F(EngineTest, OutOfMemoryLeavesTheKeyUncounted) {
  referrers_.add("http://e.com/?q=new", 2);
  referrers_.add("http://f.com/?q=old", 3);
  referrers_.add("http://e.com/?q=OLD", 5);
  // Keys are counted last first, each one everywhere or nowhere.
  const std::string states[] = {"0:|0:|0", "5:old=5;|0:|5", "5:old=5;|3:old=3;|8", "7:old=5;new=2;|3:old=3;|10"};
  for (int successes = 0; successes < 12; ++successes) {
    engines_.clear();
    load("E | e. q=\nF | f. q=\n");
    total_ = 0;
    fail_allocations_after(successes);
    int status = classify();
    fail_allocations_after(-1);
    std::string state = counted(0) + "|" + counted(1) + "|" + std::to_string(total_);
    EXPECT_NE(std::find(std::begin(states), std::end(states), state), std::end(states)) << state;
    EXPECT_EQ(status == 0, state == states[3]);
    EXPECT_EQ(engines_.phrases.count, engines_.phrases.keys.count);
  }
}

TEST(QueryDecoding, PlusPercentAndLimits) {
  EXPECT_EQ(decoded("Blue+Widgets%2B%25caf%c3%A9"), "Blue Widgets+%caf\xc3\xa9");
  EXPECT_EQ(decoded("a%4zb"), "a\x04" "b");  // the pair's leading digits
  EXPECT_EQ(decoded("a%zzb"), "a");          // no digit: a 0 byte ends the phrase
  EXPECT_EQ(decoded(std::string(300, 'x')), std::string(255, 'x'));
  // Escapes cut short by the end of the text or by the 255-character limit.
  EXPECT_EQ(decoded("ab%4"), "ab\x04");
  EXPECT_EQ(decoded("ab%"), "ab");
  EXPECT_EQ(decoded(std::string(253, 'x') + "%41"), std::string(253, 'x') + "\x04");
  EXPECT_EQ(decoded(std::string(254, 'x') + "%41"), std::string(254, 'x'));
}

TEST_F(EngineTest, InstalledEnginesAreRecognised) {
  dir_.copy_in("install/dat_eng.cfg");
  ASSERT_EQ(engines_.load(), 0);
  referrers_.add("https://www.google.co.uk/search?hl=en&aq=f&q=Quillmoray+stats", 2);
  referrers_.add("https://www.bing.com/search?q=web%20statistics&form=QBLH", 1);
  referrers_.add("https://search.yahoo.com/search?p=traffic", 1);
  ASSERT_EQ(classify(), 0);
  EXPECT_EQ(counted(0), "2:quillmoray stats=2;");  // Google
  EXPECT_EQ(counted(1), "1:web statistics=1;");    // Bing
  EXPECT_EQ(counted(2), "1:traffic=1;");           // Yahoo!
}

// ---- The three sections ------------------------------------------------------------

namespace {

const std::string kSpacer = "<tr><td colspan=4 bgcolor=#efefef><img src=P/imgs/i.gif></td></tr>\n";
const std::string kListEnd = "</table>\n</td></tr>\n</table>\n<br>\n";

std::string header(const char* key_label) {
  PageCapture page;
  html.list_header(key_label, "Visitors");
  return page.text();
}
std::string cells(const std::string& label, const char* count, const char* share) {
  return label + "</td><td>" + count + "</td><td>" + share + "</td></tr>\n";
}
std::string row(int position, const std::string& label, const char* count, const char* share) {
  return "<tr class=dat align=right RA><td>" + std::to_string(position) + "</td><td align=left>" +
         cells(label, count, share);
}
std::string engine_row(int position, const std::string& label, const char* count, const char* share) {
  return "<tr class=dat align=right bgcolor=#d1cbd1><td>" + std::to_string(position) +
         "</td><td align=left><span class=ttl>" + cells(label + "</span>", count, share);
}
std::string phrase_row(const std::string& label, const char* count, const char* share) {
  return kSpacer + "<tr class=dat align=right RA><td>&nbsp;</td><td align=left>" + cells(label, count, share);
}

class SearchSections : public EngineTest {
 protected:
  void SetUp() override {
    config.chart_on[CHT_ENG] = 0;
    config.row_limits[RPT_ENG] = 10;
  }
  void TearDown() override { config.chart_on[CHT_ENG] = 0; }
  // Beta 9 (y 5, z 3, x 1), Alpha 2 (x 2), Gamma 2 without phrases, Delta none.
  void three_engines() {
    load("Alpha | alpha. q=\nBeta | beta. q=\nGamma | gamma. q=\nDelta | delta. q=\n");
    for (auto [key, count] : {std::pair{"http://alpha.com/?q=x", 2}, {"http://beta.com/?q=y", 5},
                              {"http://beta.com/?q=x", 1}, {"http://beta.com/?q=z", 3}, {"http://gamma.com/", 2}}) {
      referrers_.add(key, count);
    }
    ASSERT_EQ(classify(), 0);
  }
  // The three sections for a total of 20, each given the same limit.
  std::string sections(int limit) {
    PageCapture page;
    print_search_engines(engines_, "Search Engines", "Search Engine", 20, "Visitors", limit);
    print_search_queries(engines_, "Search Queries", "Key Phrase:", 20, "Visitors", limit);
    print_engine_queries(engines_, "Search Engine Queries", "Key Phrase", 20, "Visitors", limit);
    return page.text();
  }
  PageSettings settings_{"P/", " RA"};
};

}  // namespace

TEST_F(SearchSections, AllThreeInFull) {
  load("Alpha | alpha. q=\n");
  EXPECT_EQ(sections(10), "");
  engines_.clear();
  three_engines();
  // Ties keep engine and first-seen order; Delta has no visitors.
  EXPECT_EQ(sections(10),
            title_bar("Search Engines", "ENG") + header("Search Engine") + row(1, "Beta", "9", "45.0") + kSpacer +
                row(2, "Alpha", "2", "10.0") + kSpacer + row(3, "Gamma", "2", "10.0") + kListEnd +
                title_bar("Search Queries", "SQR") + header("Key Phrase:") + row(1, "y", "5", "25.0") + kSpacer +
                row(2, "z", "3", "15.0") + kSpacer + row(3, "x", "3", "15.0") + kListEnd +
                title_bar("Search Engine Queries", "SEQ") + header("Key Phrase") + engine_row(1, "Beta", "9", "45.0") +
                phrase_row("y", "5", "25.0") + phrase_row("z", "3", "15.0") + phrase_row("x", "1", "5.0") + kSpacer +
                engine_row(2, "Alpha", "2", "10.0") + phrase_row("x", "2", "10.0") + kSpacer +
                engine_row(3, "Gamma", "2", "10.0") + kListEnd);
}

TEST_F(SearchSections, LimitsAndThePie) {
  three_engines();
  config.chart_on[CHT_ENG] = 1;
  config.row_limits[RPT_ENG] = 1;  // engine queries: one engine, with two phrases
  EXPECT_EQ(sections(2),
            title_bar("Search Engines (top 2 of 3)", "ENG") + header("Search Engine") + row(1, "Beta", "9", "45.0") +
                kSpacer + row(2, "Alpha", "2", "10.0") + kSpacer + "</table>\n" +
                "<applet codebase=P/appl code=Corvilande.class width=604 height=150>\n"
                "<param name=type value=\"pie\">\n<param name=background value=\"223,216,223\">\n"
                "<param name=labelcolor value=\"0,0,0\">\n<param name=visitors value=\"9,2,\">\n"
                "<param name=labels value=\"Beta,Alpha,\">\n</applet></td></tr>\n</table>\n<br>\n" +
                title_bar("Search Queries (top 2 of 3)", "SQR") + header("Key Phrase:") + row(1, "y", "5", "25.0") +
                kSpacer + row(2, "z", "3", "15.0") + kListEnd + title_bar("Search Engine Queries (top 1 of 3)", "SEQ") +
                header("Key Phrase") + engine_row(1, "Beta (top 2 of 3)", "9", "45.0") + phrase_row("y", "5", "25.0") +
                phrase_row("z", "3", "15.0") + kListEnd);
}

TEST_F(SearchSections, HostileNamesAndPhrasesAreEscaped) {
  load("<i>Evil, Inc.</i> | evil. q=\n");
  referrers_.add("http://evil.com/?q=%3Cscript%3Ealert(1)%3C/script%3E", 2);
  referrers_.add("http://evil.com/?q=\"+onmouseover=x", 1);
  ASSERT_EQ(classify(), 0);
  config.chart_on[CHT_ENG] = 1;
  std::string page = sections(10);
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
  std::string none = sections(10);
  PageCapture nested;
  fail_allocations_after(1);  // the engines' ranking, not that of a phrase
  print_engine_queries(engines_, "Search Engine Queries", "Key Phrase", 20, "Visitors", 10);
  fail_allocations_after(-1);
  EXPECT_EQ(none, title_bar("Search Engines", "ENG") + box + title_bar("Search Queries", "SQR") + box +
                      title_bar("Search Engine Queries", "SEQ") + box);
  EXPECT_EQ(nested.text(), title_bar("Search Engine Queries", "SEQ") + header("Key Phrase") +
                               engine_row(1, "Beta", "9", "45.0") + "</table>\n</td></tr>\n</table>\n" + box);
}
