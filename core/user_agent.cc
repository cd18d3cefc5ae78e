// Sorting a visitor's user-agent text into one operating-system counter and one
// browser counter of the day's traffic record. Plain case-sensitive substring tests.

#include <cstring>

#include "core/traffic.h"

namespace {

struct OsPattern {
  const char* text;
  int index;
};

// Tested in this order; the first that occurs anywhere in the text decides.
constexpr OsPattern kOsPatterns[] = {
    {"Win 9x", 4},         {"Windows ME", 4},     {"Win+9x", 4},        {"Windows+ME", 4},
    {"Windows 98", 3},     {"Win98", 3},          {"Windows 4.", 3},    {"Windows+98", 3},
    {"Windows+4.", 3},     {"Windows 95", 2},     {"Win95", 2},         {"Windows+95", 2},
    {"Windows NT 5.1", 27}, {"Windows XP", 27},   {"Windows+NT+5.1", 27}, {"Windows+XP", 27},
    {"Windows NT 5.0", 7}, {"Windows 2000", 7},   {"Windows+NT+5.0", 7}, {"Windows+2000", 7},
    {"Windows NT", 6},     {"WinNT", 6},          {"Windows+NT", 6},    {"Win32", 6},
    {"Windows-NT", 6},     {"Windows 3.", 1},     {"Win16", 1},         {"Windows+3.", 1},
    {"Win 3.", 1},         {"Win3.", 1},          {"Win+3.", 1},        {"Windows CE", 5},
    {"Windows+CE", 5},     {"Windows", 8},        {"BSD/OS", 9},        {"FreeBSD", 10},
    {"freebsd", 10},       {"NetBSD", 11},        {"OpenBSD", 12},      {"alpha", 13},
    {"HP-UX", 14},         {"AIX", 15},           {"IRIX", 16},         {"Linux", 17},
    {"linux", 17},         {"SunOS", 18},         {"X11", 19},          {"Unix", 19},
    {"UNIX", 19},          {"Mac", 20},           {"AmigaOS", 21},      {"RISC OS", 22},
    {"RISC+OS", 22},       {"OS/2", 23},          {"BeOS", 24},         {"WebTV", 25},
    {"Dreamcast", 26},
};
static_assert(sizeof(kOsPatterns) / sizeof(kOsPatterns[0]) == 57, "57 operating-system patterns");

// The patterns before this one all begin with "Win": a text without "Win" can skip
// them, and a text with it needs them searched only from its first "Win" on.
constexpr int kFirstNonWindows = 34;

constexpr bool begins_with_win(const char* text) { return text[0] == 'W' && text[1] == 'i' && text[2] == 'n'; }

constexpr bool windows_patterns_lead() {
  for (int i = 0; i < kFirstNonWindows; ++i) {
    if (!begins_with_win(kOsPatterns[i].text)) return false;
  }
  return !begins_with_win(kOsPatterns[kFirstNonWindows].text);
}
static_assert(windows_patterns_lead(), "the Windows patterns come first");

bool contains(const char* text, const char* part) { return std::strstr(text, part) != nullptr; }

// Where the version of a browser name found at `name` begins: after the name and the
// one character behind it, but never beyond the end of the text.
char* version_start(char* name, std::size_t name_length) {
  char* p = name + name_length;
  return *p ? p + 1 : p;
}

}  // namespace

void Traffic::count_os(const char* agent) {
  int index = OS_UNKNOWN;
  if (agent && agent[0] != '-') {
    const char* win = std::strstr(agent, "Win");
    for (const OsPattern& pattern : kOsPatterns) {
      const bool windows = &pattern < kOsPatterns + kFirstNonWindows;
      if (windows && !win) continue;
      if (contains(windows ? win : agent, pattern.text)) {
        index = pattern.index;
        break;
      }
    }
  }
  os[index] = add_count(os[index], 1);
}

void Traffic::count_browser(char* agent) {
  int32_t* versions = nullptr;  // the counters of a browser counted by major version
  char* version = nullptr;      // where its version text begins
  int version_number = 0;
  int other = BRW_UNKNOWN;
  if (!agent || agent[0] == '-') {
    other = BRW_UNKNOWN;
  } else if (contains(agent, "WebTV")) {
    other = BRW_WEBTV;
  } else if (char* name = std::strstr(agent, "MSIE"); name && !contains(agent, "AOL")) {
    versions = msie;
    version = version_start(name, 4);
  } else if (contains(agent, "Opera")) {
    other = BRW_OPERA;
  } else if (contains(agent, "Mozilla") && !contains(agent, "compatible")) {
    versions = netscape;
    if (contains(agent, "Netscape6")) {
      version_number = 6;
    } else if (contains(agent, "Netscape/7")) {
      version_number = 7;
    } else if (char* slash = std::strchr(agent, '/')) {
      *slash = '\0';
      version = slash + 1;
    } else {
      version = agent + std::strlen(agent);
    }
  } else if (char* aol_name = std::strstr(agent, "AOL")) {
    versions = aol;
    version = version_start(aol_name, 3);
  } else if (contains(agent, "Lynx")) {
    other = BRW_LYNX;
  } else if (contains(agent, "Java")) {
    other = BRW_JAVA;
  } else if (contains(agent, "OmniWeb")) {
    other = BRW_OMNIWEB;
  } else if (contains(agent, "NetPositive")) {
    other = BRW_NETPOSITIVE;
  } else if (contains(agent, "Mozilla") && contains(agent, "compatible")) {
    other = BRW_COMPATIBLE;
  }

  if (versions) {
    if (version) version_number = next_int_token('.', &version);
    if (version_number >= 1 && version_number <= kVersionCount) {
      versions[version_number - 1] = add_count(versions[version_number - 1], 1);
      return;
    }
    other = BRW_UNKNOWN;
  }
  other_browsers[other] = add_count(other_browsers[other], 1);
}
