#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "core/traffic.h"

namespace {

// The one counter a classification reached, as text: "os 27", "msie 6", "other 1".
struct Reached {
  std::string os;
  std::string browser;
  std::string agent_after;
};

std::string single(const char* name, const int32_t* counters, int n, int offset, std::string* out) {
  for (int i = 0; i < n; ++i) {
    if (counters[i] == 0) continue;
    if (!out->empty() || counters[i] != 1) return "more than one count";
    *out = std::string(name) + " " + std::to_string(i + offset);
  }
  return "";
}

// Classifies the text as the parser does, count_os first, from an exactly sized copy
// so that any read past its end is caught.
Reached classify(const char* agent) {
  Traffic t;
  std::vector<char> copy(agent, agent + std::strlen(agent) + 1);
  t.count_os(copy.data());
  t.count_browser(copy.data());
  Reached r;
  std::string error = single("os", t.os, kOsCount, 0, &r.os);
  error += single("msie", t.msie, kVersionCount, 1, &r.browser);
  error += single("netscape", t.netscape, kVersionCount, 1, &r.browser);
  error += single("aol", t.aol, kVersionCount, 1, &r.browser);
  error += single("other", t.other_browsers, kOtherBrowserCount, 0, &r.browser);
  if (!error.empty()) r.browser = error;
  r.agent_after = copy.data();
  return r;
}

struct Sample {
  const char* agent;
  const char* os;
  const char* browser;
};

template <std::size_t N>
void expect_classified(const Sample (&samples)[N]) {
  for (const Sample& s : samples) {
    Reached r = classify(s.agent);
    EXPECT_EQ(r.os, s.os) << s.agent;
    EXPECT_EQ(r.browser, s.browser) << s.agent;
  }
}

TEST(UserAgent, SampleTable) {
  const Sample samples[] = {
      {"-", "os 0", "other 0"},
      {"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", "os 27", "msie 6"},
      {"Mozilla/4.0 (compatible; MSIE 5.5; Windows 98; Win 9x 4.90)", "os 4", "msie 5"},
      {"Mozilla/4.0 (compatible; MSIE 5.0; AOL 6.0; Windows 98)", "os 3", "aol 6"},
      {"Mozilla/4.76 [en] (X11; U; Linux 2.4.2 i686)", "os 17", "netscape 4"},
      {"Mozilla/5.0 (Windows; U; Windows NT 5.0; en-US; rv:1.0.1) Netscape/7.0", "os 7", "netscape 7"},
      {"Mozilla/4.0 (compatible; MSIE 5.0; Windows 2000) Opera 6.0 [en]", "os 7", "msie 5"},
      {"Opera/6.0 (Windows 2000; U) [en]", "os 7", "other 1"},
      {"Lynx/2.8.4rel.1 libwww-FM/2.14", "os 0", "other 2"},
      {"Mozilla/4.0 (compatible; MSIE 11.0; Windows 98)", "os 3", "other 0"},
      {"Mozilla", "os 0", "other 0"},
  };
  expect_classified(samples);
}

TEST(UserAgent, WindowsPatternsAreFoundPastAnEarlierWin) {
  const Sample samples[] = {
      {"Winamp/2.8 (X11; Windows NT 5.0)", "os 7", "other 0"},
      {"WinHttp (Mac; Windows)", "os 8", "other 0"},
      {"Winamp/2.8 (Linux)", "os 17", "other 0"},
      {"Mozilla/5.0 (Macintosh; Darwin)", "os 20", "netscape 5"},
      {"Windows CE", "os 5", "other 0"},
      {"Win", "os 0", "other 0"},
  };
  expect_classified(samples);
}

TEST(UserAgent, BrowserRulesInOrder) {
  const Sample samples[] = {
      {"WebTV/2.6 (compatible; MSIE 4.0)", "os 25", "other 7"},
      {"Mozilla/5.0 (Macintosh; U; PPC) Netscape6/6.2", "os 20", "netscape 6"},
      {"Mozilla/3.01 (Win95; I)", "os 2", "netscape 3"},
      {"Mozilla/10.0 (Windows)", "os 8", "netscape 10"},
      {"Mozilla/0.9 (Windows)", "os 8", "other 0"},
      {"Mozilla/4.0 (compatible; MSIE 10.0; Windows NT)", "os 6", "msie 10"},
      {"Mozilla/4.0 (compatible; MSIE -3.0; Windows NT)", "os 6", "other 0"},
      {"AOL 4.0; Windows 95", "os 2", "aol 4"},
      {"Java1.3.1", "os 0", "other 3"},
      {"OmniWeb/4.1", "os 0", "other 4"},
      {"Mozilla/3.0 (compatible; NetPositive/2.2; BeOS)", "os 24", "other 5"},
      {"Mozilla/4.0 (compatible; Konqueror/2.2; Linux)", "os 17", "other 6"},
      {"Wget/1.8", "os 0", "other 0"},
      {"", "os 0", "other 0"},
      {"-Mozilla/4.0 (Windows 98)", "os 0", "other 0"},
      {"mozilla/4.0 (windows 98)", "os 0", "other 0"},  // matching is case-sensitive
  };
  expect_classified(samples);
}

TEST(UserAgent, VersionNearTheEndNeverReadsPastTheText) {
  const Sample samples[] = {
      {"Mozilla/4.0 (compatible) MSIE", "os 0", "other 0"},
      {"Mozilla/4.0 (compatible) MSIE ", "os 0", "other 0"},
      {"Mozilla/4.0 (compatible) MSIE 7", "os 0", "msie 7"},
      {"Mozilla/4.0 (compatible) AOL", "os 0", "other 0"},
      {"Mozilla/4.0 (compatible) AOL ", "os 0", "other 0"},
      {"Mozilla/4.0 (compatible) AOL 9", "os 0", "aol 9"},
      {"Mozilla/", "os 0", "other 0"},
  };
  expect_classified(samples);
}

TEST(UserAgent, BrowserRuleCutsTheTextInPlace) {
  EXPECT_EQ(classify("Mozilla/4.76 [en] (X11; U; Linux 2.4.2 i686)").agent_after, "Mozilla");
  EXPECT_EQ(classify("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)").agent_after,
            "Mozilla/4.0 (compatible; MSIE 6");
  // Seen after the cut, the same text would have lost its operating system.
  Reached r = classify("Mozilla/4.76 [en] (X11; U; Linux 2.4.2 i686)");
  EXPECT_EQ(classify(r.agent_after.c_str()).os, "os 0");
}

TEST(UserAgent, EveryOperatingSystemPatternInTestOrder) {
  struct Pattern {
    const char* text;
    int index;
  };
  // Each alone gives its own system: no earlier pattern occurs inside a later one.
  const Pattern patterns[] = {
      {"Win 9x", 4},      {"Windows ME", 4},     {"Win+9x", 4},        {"Windows+ME", 4},
      {"Windows 98", 3},  {"Win98", 3},          {"Windows 4.", 3},    {"Windows+98", 3},
      {"Windows+4.", 3},  {"Windows 95", 2},     {"Win95", 2},         {"Windows+95", 2},
      {"Windows NT 5.1", 27}, {"Windows XP", 27}, {"Windows+NT+5.1", 27}, {"Windows+XP", 27},
      {"Windows NT 5.0", 7}, {"Windows 2000", 7}, {"Windows+NT+5.0", 7}, {"Windows+2000", 7},
      {"Windows NT", 6},  {"WinNT", 6},          {"Windows+NT", 6},    {"Win32", 6},
      {"Windows-NT", 6},  {"Windows 3.", 1},     {"Win16", 1},         {"Windows+3.", 1},
      {"Win 3.", 1},      {"Win3.", 1},          {"Win+3.", 1},        {"Windows CE", 5},
      {"Windows+CE", 5},  {"Windows", 8},        {"BSD/OS", 9},        {"FreeBSD", 10},
      {"freebsd", 10},    {"NetBSD", 11},        {"OpenBSD", 12},      {"alpha", 13},
      {"HP-UX", 14},      {"AIX", 15},           {"IRIX", 16},         {"Linux", 17},
      {"linux", 17},      {"SunOS", 18},         {"X11", 19},          {"Unix", 19},
      {"UNIX", 19},       {"Mac", 20},           {"AmigaOS", 21},      {"RISC OS", 22},
      {"RISC+OS", 22},    {"OS/2", 23},          {"BeOS", 24},         {"WebTV", 25},
      {"Dreamcast", 26},
  };
  ASSERT_EQ(sizeof(patterns) / sizeof(patterns[0]), 57u);
  for (const Pattern& p : patterns) {
    Traffic t;
    std::string agent = std::string("Agent (") + p.text + ")";
    t.count_os(agent.c_str());
    EXPECT_EQ(t.os[p.index], 1) << p.text;
    EXPECT_EQ(std::accumulate(t.os, t.os + kOsCount, 0), 1) << p.text;
  }
  // Earlier patterns win over later ones anywhere in the text.
  const Pattern orders[] = {
      {"Linux; X11", 17}, {"X11; Linux", 17}, {"Windows CE; Windows 95", 2},
      {"Win32; Windows NT 5.1", 27}, {"Mac; alpha", 13}, {"WinNT Win 9x", 4},
  };
  for (const Pattern& p : orders) {
    Traffic t;
    t.count_os(p.text);
    EXPECT_EQ(t.os[p.index], 1) << p.text;
  }
}

TEST(UserAgent, CountsAccumulate) {
  Traffic t;
  for (int i = 0; i < 3; ++i) {
    char agent[] = "Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)";
    t.count_os(agent);
    t.count_browser(agent);
  }
  EXPECT_EQ(t.os[3], 3);
  EXPECT_EQ(t.msie[4], 3);
}

}  // namespace
