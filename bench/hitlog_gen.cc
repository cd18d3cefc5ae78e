// Writes a realistic hit log in the tracker's exact line format, the same for the
// same arguments: many days, thousands of visitors a day with several page views
// each, referrers from search engines (with their queries), other sites and the
// site's own pages, and a mix of real browsers and robots.
//
//   qm_hitlog_gen [--days N] [--visitors N] [--pages N] [--seed N] [--start YYYY-MM-DD] [--out FILE]
//
// --visitors is the number of visitors per day. --pages N draws every page view
// from N addresses of one script with a query parameter (a site whose addresses
// carry their parameters), instead of the default site of a few thousand pages.
// Without --out the log goes to standard output. A summary goes to standard error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // 0 to n - 1.
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(static_cast<int>(N))];
  }

 private:
  uint64_t state_;
};

struct Weighted {
  int weight;
  const char* text;
};

template <size_t N>
const char* pick_weighted(Random& random, const Weighted (&items)[N]) {
  int total = 0;
  for (const Weighted& item : items) total += item.weight;
  int r = random.below(total);
  for (const Weighted& item : items) {
    if (r < item.weight) return item.text;
    r -= item.weight;
  }
  return items[0].text;
}

const Weighted kAgents[] = {
    {14, "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36"},
    {6, "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:121.0) Gecko/20100101 Firefox/121.0"},
    {5, "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36 Edg/120.0.2210.91"},
    {5, "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.2 Safari/605.1.15"},
    {3, "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36"},
    {2, "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36"},
    {2, "Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0"},
    {10, "Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.2 Mobile/15E148 Safari/604.1"},
    {9, "Mozilla/5.0 (Linux; Android 14; SM-S918B) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.6099.144 Mobile Safari/537.36"},
    {2, "Mozilla/5.0 (iPad; CPU OS 17_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.2 Mobile/15E148 Safari/604.1"},
    {3, "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)"},
    {2, "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.0; SLCC1; .NET CLR 2.0.50727)"},
    {2, "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0)"},
    {2, "Mozilla/5.0 (Windows NT 6.1; WOW64; Trident/7.0; rv:11.0) like Gecko"},
    {1, "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.1.20) Gecko/20081217 Firefox/2.0.0.20"},
    {1, "Opera/9.80 (Windows NT 6.1; U; en) Presto/2.10.289 Version/12.02"},
    {1, "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36 OPR/106.0.0.0"},
    {1, "Mozilla/5.0 (Macintosh; U; PPC Mac OS X; en) AppleWebKit/125.2 (KHTML, like Gecko) Safari/125.8"},
    {2, "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)"},
    {1, "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)"},
    {1, "Mozilla/5.0 (compatible; Yahoo! Slurp; http://help.yahoo.com/help/us/ysearch/slurp)"},
    {1, "Lynx/2.8.9rel.1 libwww-FM/2.14 SSL-MM/1.4.1 OpenSSL/1.1.1"},
};

// Search engines: the address before the query words, and what follows them.
struct Engine {
  int weight;
  const char* before;
  const char* after;
};

const Engine kEngines[] = {
    {40, "http://www.google.com/search?hl=en&q=", "&btnG=Google+Search"},
    {8, "http://www.google.de/search?hl=de&q=", ""},
    {6, "http://www.google.co.uk/search?q=", "&meta="},
    {4, "http://www.google.fr/search?q=", "&ie=UTF-8&oe=UTF-8"},
    {9, "http://search.yahoo.com/search?p=", "&fr=yfp-t-501"},
    {8, "http://www.bing.com/search?q=", "&form=QBLH"},
    {3, "http://search.msn.com/results.aspx?q=", "&FORM=QBHP"},
    {2, "http://www.ask.com/web?q=", "&qsrc=0&o=0"},
    {2, "http://www.altavista.com/web/results?itag=ody&q=", "&kgs=1&kls=0"},
    {2, "http://search.aol.com/aol/search?query=", "&invocationType=topsearchbox"},
    {4, "https://duckduckgo.com/?q=", "&t=h_"},
    {2, "http://www.baidu.com/s?wd=", ""},
};

const char* const kQueryWords[] = {"blue", "widgets", "cheap", "garden", "tools", "review", "best", "price",
                                   "buy", "online", "how", "to", "repair", "steel", "hinge", "manual",
                                   "download", "free", "shipping", "store", "wooden", "chair", "lamp",
                                   "outdoor", "kitchen", "sale", "2003", "coupon", "catalog", "quillmoray"};

const char* const kOtherSites[] = {
    "http://www.dmoz.org/Shopping/Home_and_Garden/",
    "http://forums.gardenweb.example/forums/load/tools/msg0512345.html",
    "http://www.example-blog.net/2003/05/my-favourite-tools/",
    "http://news.example.org/story.php?id=88213",
    "http://www.facebook.com/",
    "https://t.co/AbCdEf123",
    "http://mail.yahoo.com/dc/launch?.rand=1234",
    "http://webmail.example-isp.com/read.php?msg=42",
    "http://WWW.PARTNER-SHOP.EXAMPLE/Links/Index.html",
    "http://www.reddit.com/r/woodworking/comments/abc123/",
    "http://del.icio.us/popular/tools",
    "http://www.stumbleupon.com/refer.php?url=x",
};

// The tracked site.
const char kSite[] = "http://www.example.com";

const char* const kSections[] = {"/products/", "/blog/", "/support/", "/about/", "/news/"};

const char* const kIspDomains[] = {"comcast.net",  "verizon.net", "t-dialin.net", "wanadoo.fr", "btcentralplus.com",
                                   "rr.com",       "shawcable.net", "bigpond.net.au", "ocn.ne.jp", "virtua.com.br",
                                   "chello.nl",    "tiscali.it",  "telefonica.es", "tpnet.pl",  "comhem.se",
                                   "rima-tde.net", "sympatico.ca", "corbina.ru",  "kabelbw.de", "aol.com"};

struct Visitor {
  uint32_t address;
  std::string host;
  const char* agent;
};

struct Hit {
  int second_of_day;
  std::string text;  // the line after the date and time
};

std::string address_text(uint32_t a) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255);
  return text;
}

Visitor make_visitor(Random& random) {
  Visitor v;
  // Public-looking addresses, away from 0, 10, 127 and the multicast range.
  v.address = static_cast<uint32_t>((11 + random.below(200)) << 24 | random.below(1 << 24));
  std::string dotted = address_text(v.address);
  if (random.chance(72)) {
    std::string dashed = dotted;
    std::replace(dashed.begin(), dashed.end(), '.', '-');
    static const char* const kPrefixes[] = {"dsl-", "cable-", "host-", "pool-", "adsl-", "ip-", ""};
    v.host = std::string(random.pick(kPrefixes)) + dashed + "." + random.pick(kIspDomains);
  } else {
    v.host = dotted;  // the reverse lookup found nothing
  }
  v.agent = pick_weighted(random, kAgents);
  return v;
}

std::string make_page(Random& random, int pages) {
  int r = random.below(100);
  char page[160];
  if (pages > 0) {
    if (r == 99) return "-";
    std::snprintf(page, sizeof page, "/item.php?id=%d", random.below(pages));
    return page;
  }
  if (r < 14) return "/";
  if (r < 20) return "/index.html";
  if (r < 45) {
    std::snprintf(page, sizeof page, "/products/item-%d.html", random.below(400));
  } else if (r < 55) {
    std::snprintf(page, sizeof page, "/products/list.php?cat=%d&page=%d", random.below(30), 1 + random.below(5));
  } else if (r < 70) {
    std::snprintf(page, sizeof page, "/blog/2003/%2.2d/post-%d.html", 1 + random.below(12), random.below(200));
  } else if (r < 75) {
    std::snprintf(page, sizeof page, "/support/faq.html#q%d", 1 + random.below(40));
  } else if (r < 85) {
    return random.pick(kSections);
  } else if (r < 90) {
    std::snprintf(page, sizeof page, "/search.php?q=%s+%s", random.pick(kQueryWords), random.pick(kQueryWords));
  } else if (r < 99) {
    static const char* const kOthers[] = {"/contact.html", "/about/team.html", "/news/archive.html",
                                          "/downloads/manual.pdf", "/cart.php?step=1"};
    return random.pick(kOthers);
  } else {
    return "-";  // no referrer header reached the tracker
  }
  return page;
}

std::string search_referrer(Random& random) {
  int total = 0;
  for (const Engine& e : kEngines) total += e.weight;
  int r = random.below(total);
  const Engine* engine = &kEngines[0];
  for (const Engine& e : kEngines) {
    if (r < e.weight) {
      engine = &e;
      break;
    }
    r -= e.weight;
  }
  std::string query;
  int words = 1 + random.below(4);
  for (int i = 0; i < words; ++i) {
    if (i) query += "+";
    query += random.pick(kQueryWords);
  }
  return std::string(engine->before) + query + engine->after;
}

std::string entry_referrer(Random& random) {
  int r = random.below(100);
  if (r < 33) return "-";
  if (r < 70) return search_referrer(random);
  if (r < 93) return random.pick(kOtherSites);
  if (r < 96) return "bookmarks";
  std::string own = kSite;
  if (random.chance(50)) own = "http://example.com";  // the site without "www."
  return own + "/";
}

// Visits crowd the evening hours and thin out at night.
int visit_start(Random& random) {
  static const int kHourWeights[24] = {3, 2, 1, 1, 1, 2, 3, 5, 7, 8, 9, 9, 10, 10, 9, 9, 9, 10, 11, 12, 12, 10, 7, 5};
  int total = 0;
  for (int w : kHourWeights) total += w;
  int r = random.below(total);
  int hour = 0;
  while (r >= kHourWeights[hour]) r -= kHourWeights[hour++];
  return hour * 3600 + random.below(3600);
}

struct Options {
  int days = 10;
  int visitors = 17500;
  int pages = 0;  // 0: the default site
  uint64_t seed = 1;
  int year = 2003;
  int month = 5;
  int day = 1;
  const char* out = nullptr;
};

bool parse_options(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (arg == "--days") {
      options->days = std::atoi(value);
    } else if (arg == "--visitors") {
      options->visitors = std::atoi(value);
    } else if (arg == "--pages") {
      options->pages = std::atoi(value);
    } else if (arg == "--seed") {
      options->seed = std::strtoull(value, nullptr, 10);
    } else if (arg == "--start") {
      if (std::sscanf(value, "%d-%d-%d", &options->year, &options->month, &options->day) != 3) return false;
    } else if (arg == "--out") {
      options->out = value;
    } else {
      return false;
    }
  }
  return options->days > 0 && options->visitors > 0 && options->pages >= 0 && options->month >= 1 &&
         options->month <= 12 && options->day >= 1 && options->day <= 31;
}

int days_in_month(int year, int month) {
  static const int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return kLengths[month - 1];
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: %s [--days N] [--visitors N] [--pages N] [--seed N] [--start YYYY-MM-DD] [--out FILE]\n", argv[0]);
    return 2;
  }
  FILE* out = options.out ? std::fopen(options.out, "w") : stdout;
  if (!out) {
    std::perror(options.out);
    return 1;
  }
  static char buffer[1 << 20];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);

  Random random(options.seed);
  // Regular visitors come back on other days with the same address and browser.
  std::vector<Visitor> regulars;
  for (int i = 0; i < options.visitors / 5 + 1; ++i) regulars.push_back(make_visitor(random));

  int year = options.year, month = options.month, day = options.day;
  long long lines = 0;
  long long bytes = 0;
  std::vector<Hit> hits;
  std::unordered_set<std::string> distinct_pages;
  for (int d = 0; d < options.days; ++d) {
    hits.clear();
    for (int v = 0; v < options.visitors; ++v) {
      Visitor visitor = random.chance(20) ? regulars[random.below(static_cast<int>(regulars.size()))]
                                          : make_visitor(random);
      int visits = random.chance(12) ? 2 : 1;
      for (int k = 0; k < visits; ++k) {
        int at = visit_start(random);
        // Several page views: mostly 2 to 8, a few long browsing sessions.
        int views = 1 + random.below(4) + random.below(5) + (random.chance(5) ? random.below(25) : 0);
        std::string referrer = entry_referrer(random);
        std::string address = address_text(visitor.address);
        for (int p = 0; p < views && at < 86400; ++p) {
          std::string page = make_page(random, options.pages);
          if (page != "-") distinct_pages.insert(page);
          Hit hit;
          hit.second_of_day = at;
          hit.text = address + " " + visitor.host + " \"" + page + "\" \"" + referrer + "\" \"" + visitor.agent + "\"\n";
          hits.push_back(std::move(hit));
          if (page != "-") referrer = kSite + page;
          at += 3 + random.below(random.chance(80) ? 90 : 900);
        }
      }
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Hit& a, const Hit& b) { return a.second_of_day < b.second_of_day; });
    for (const Hit& hit : hits) {
      int s = hit.second_of_day;
      int written = std::fprintf(out, "%2.2i/%2.2i/%i %2.2i:%2.2i:%2.2i %s", month, day, year, s / 3600,
                                 s / 60 % 60, s % 60, hit.text.c_str());
      if (written > 0) bytes += written;
      ++lines;
    }
    if (++day > days_in_month(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
  if (std::fflush(out) != 0 || (options.out && std::fclose(out) != 0)) {
    std::perror("write");
    return 1;
  }
  std::fprintf(stderr, "%lld lines, %lld bytes, %d days, %zu distinct pages\n", lines, bytes, options.days,
               distinct_pages.size());
  return 0;
}
