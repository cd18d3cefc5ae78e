// The report page of one time frame, and the sections printed from the traffic
// record alone: summary, daily and hourly graphs, operating systems, browsers.
#include "core/report_page.h"

#include <cstdint>
#include <cstdlib>

#include "core/ad_campaigns.h"
#include "core/bounded_format.h"
#include "core/config.h"
#include "core/domains.h"
#include "core/file_types.h"
#include "core/html_writer.h"
#include "core/output.h"
#include "core/pages.h"
#include "core/path_reports.h"
#include "core/search_engines.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/top_list.h"

const char* const kOsNames[kOsCount] = {
    "Unknown OS",   "Windows 3.x",  "Windows 95",  "Windows 98",      "Windows ME",   "Windows CE",
    "Windows NT",   "Windows 2K",   "Unknown Windows", "BSD/OS",      "FreeBSD",      "NetBSD",
    "OpenBSD",      "Tru64 Unix",   "HP-UX",       "IBM AIX",         "IRIX",         "Linux",
    "Solaris",      "Unknown Unix", "Macintosh",   "Amiga OS",        "RISC OS",      "IBM OS/2",
    "BeOS",         "WebTV",        "Sega Dreamcast", "Windows XP",
};

const int kOsGroups[kOsCount] = {
    9,                    // unknown
    0, 0, 0, 0, 0, 0, 0, 0,  // Windows 3.x to unknown Windows
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // BSD/OS to unknown Unix
    2, 3, 4, 5, 6, 7, 8,  // Macintosh to Sega Dreamcast
    0,                    // Windows XP
};

const char* const kOsGroupNames[kOsGroupCount] = {
    "Windows Based", "Unix Based", "Macintosh", "Amiga OS", "RISC OS",
    "IBM OS/2",      "BeOS",       "WebTV",     "Sega Dreamcast", "Unknown OS",
};

const char* const kBrowserNames[kBrowserNameCount] = {
    "Internet Explorer",   "Netscape Navigator", "America Online",     "Unknown Browser",
    "Opera Browser",       "Lynx Browser",       "Java Based Browser", "OmniWeb Browser",
    "NetPositive Browser", "Netscape Compatible", "WebTV Browser",
};

namespace {

const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

// The browser list: each family's versions 1 to 10, then the other kinds.
constexpr int kBrowserPositions = kBrowserFamilyCount * kVersionCount + kOtherBrowserCount;

std::size_t buffer_size() { return static_cast<std::size_t>(line_buffer_size()); }

// A damaged statistics file can hold any month number.
const char* month_name(int month) { return month >= 1 && month <= 12 ? kMonthNames[month - 1] : "Unknown"; }

// The days read: entries of the daily series that hold both values.
int32_t days_of(const Traffic& traffic) {
  const DailySeries& daily = traffic.daily;
  return daily.visitors.count < daily.page_views.count ? daily.visitors.count : daily.page_views.count;
}

int32_t positive_count(const int32_t* values, int n) {
  int32_t positive = 0;
  for (int i = 0; i < n; ++i) {
    if (values[i] > 0) ++positive;
  }
  return positive;
}

// One ranked list of traffic counters with its optional pie.
struct CounterList {
  const char* title;
  const char* help_code;
  const char* key_label;
  ReportKey key;
  ChartKey chart;
  const int32_t* counts;
  int count;
  const int32_t* pie_values;  // the slices' values, pie_slots of them
  int pie_slots;
  const char* const* pie_labels;
};

// Title bar, header and rows of the counters above 0, largest first (ties in
// index order), shares of the visitors; the pie follows when the chart is on.
// `label(k)` gives the row label of counter k as HTML.
template <typename Label>
void print_counter_list(const Traffic& traffic, const CounterList& list, Label label) {
  int32_t seen = positive_count(list.counts, list.count);
  if (seen == 0) return;
  int32_t rows = list_title(list.title, seen, config.row_limits[list.key]);
  html.section_title(line_buffer, list.help_code);
  int32_t* order = sort_index_by_value(list.counts, list.count, 0);
  if (!order) {
    html.out_of_memory();
    return;
  }
  html.list_header(list.key_label, "Visitors");
  // Only counters above 0 are shown; they lead the order.
  for (int32_t r = 0; r < rows && r < seen; ++r) {
    int32_t k = order[r];
    if (r != 0) html.spacer_row(4);
    html.ranked_row(r + 1, label(k), list.counts[k], share_of(list.counts[k], traffic.visitors));
  }
  bool chart = config.chart_on[list.chart] != 0;
  if (chart) html.spacer_row(4);
  html.table_close();
  std::free(order);
  if (chart) {
    // Without room for the slice order the pie is left out.
    if (int32_t* slices = sort_index_by_value(list.pie_values, list.pie_slots, 0)) {
      html.graph_applet("pie", positive_count(list.pie_values, list.pie_slots), list.pie_values, slices, nullptr,
                        list.pie_labels, nullptr);
      std::free(slices);
    }
  }
  page_puts("</td></tr>\n");
  html.table_close();
  html.line_break();
}

// The row frame of a summary line whose value spans both number columns.
void summary_value_row(const char* label) {
  page_printf("<tr class=dat align=right%s>", html.row_attribute);
  page_printf("<td align=left>%s</td>", label);
}

int32_t clamp_to_count(int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// The graph frame of the daily and hourly sections around one bar graph.
template <typename Graph>
void print_graph_section(const char* title, const char* help_code, Graph graph) {
  html.section_title(title, help_code);
  html.section_open();
  page_puts("<tr><td>\n");
  graph();
  page_puts("</td></tr>\n");
  html.section_close();
  html.line_break();
}

// The "Visitors From:" box: the visitors by referrer source.
void print_referrer_sources(const Traffic& traffic) {
  const int32_t* sources = traffic.referrer_sources;
  int64_t direct = traffic.visitors;
  for (int s = 0; s < kReferrerSourceCount; ++s) direct -= sources[s];
  html.table_open(0, 0, "dfd8df", 604);
  html.summary_header("Visitors From:");
  html.percent_row("Ad Campaigns and Partners", sources[SRC_AD_CAMPAIGNS], traffic.visitors);
  html.spacer_row(3);
  html.percent_row("Direct Hits & Bookmarks", clamp_to_count(direct), traffic.visitors);
  html.spacer_row(3);
  html.percent_row("Top 50 Search Engines", sources[SRC_SEARCH_ENGINES], traffic.visitors);
  html.spacer_row(3);
  html.percent_row("Other Web Sites", sources[SRC_WEB_SITES], traffic.visitors);
  html.spacer_row(3);
  html.percent_row("Newsgroups", sources[SRC_NEWSGROUPS], traffic.visitors);
  html.spacer_row(3);
  html.percent_row("E-Mails", sources[SRC_EMAIL], traffic.visitors);
  html.table_close();
}

}  // namespace

void print_summary(const Traffic& traffic, bool with_sources) {
  if (traffic.visitors == 0) return;
  const int32_t days = days_of(traffic);
  const DayDate& first = traffic.first_date;
  const DayDate& last = traffic.last_date;
  format_into(line_buffer, buffer_size(), "Stats for %s %i, %i", month_name(first.month), first.day, first.year);
  if (days >= 2) {
    append_format(line_buffer, buffer_size(), " - %s %i, %i (%i days)", month_name(last.month), last.day,
                  last.year, days);
  }
  html.section_title(line_buffer, "HDR");
  html.section_open();
  page_puts("<tr><td>\n");
  html.table_open(0, 0, "dfd8df", 604);
  html.summary_row("Unique Visitors", traffic.visitors, days);
  html.spacer_row(3);
  html.summary_row("Page Views", traffic.page_views, days);
  html.spacer_row(3);

  // A record with visitors but no complete day block has no days to divide by.
  summary_value_row("Avg. Visit Time per Visitor");
  page_printf("<td colspan=2>%s</td></tr>\n", format_duration(traffic.average_visit_seconds / (days > 0 ? days : 1)));
  html.spacer_row(3);
  summary_value_row("Avg. Page Views per Visitor");
  page_printf("<td colspan=2>%.2f</td></tr>\n",
              static_cast<double>(traffic.page_views) / static_cast<double>(traffic.visitors));
  html.table_close();
  if (with_sources) print_referrer_sources(traffic);
  page_puts("</td></tr>\n");
  html.section_close();
  html.line_break();
}

void print_daily(const Traffic& traffic) {
  const int32_t days = days_of(traffic);
  if (days < 2 || !config.chart_on[CHT_DAY]) return;
  const DailySeries& daily = traffic.daily;
  print_graph_section("Daily Statistics", "DAY", [&] {
    html.graph_applet("bar", days, daily.visitors.data, nullptr, daily.page_views.data, nullptr, &daily);
  });
}

void print_hourly(const Traffic& traffic) {
  if (!config.chart_on[CHT_HRS]) return;
  print_graph_section("Hourly Statistics", "HRS", [&] {
    html.graph_applet("bar", kHours, traffic.hourly_visitors, nullptr, traffic.hourly_page_views, nullptr, nullptr);
  });
}

void print_operating_systems(const Traffic& traffic) {
  int32_t groups[kOsGroupCount] = {};
  for (int k = 0; k < kOsCount; ++k) groups[kOsGroups[k]] = add_count(groups[kOsGroups[k]], traffic.os[k]);
  CounterList list = {"Operating Systems", "OPS", "Operating System:", RPT_OPS, CHT_OPS, traffic.os, kOsCount,
                      groups, kOsGroupCount, kOsGroupNames};
  print_counter_list(traffic, list, [](int32_t k) { return kOsNames[k]; });
}

void print_browsers(const Traffic& traffic) {
  const int32_t* families[kBrowserFamilyCount] = {traffic.msie, traffic.netscape, traffic.aol};
  int32_t counts[kBrowserPositions];
  int32_t sums[kBrowserNameCount] = {};
  for (int f = 0; f < kBrowserFamilyCount; ++f) {
    for (int v = 0; v < kVersionCount; ++v) {
      counts[f * kVersionCount + v] = families[f][v];
      sums[f] = add_count(sums[f], families[f][v]);
    }
  }
  for (int o = 0; o < kOtherBrowserCount; ++o) {
    counts[kBrowserFamilyCount * kVersionCount + o] = traffic.other_browsers[o];
    sums[kBrowserFamilyCount + o] = traffic.other_browsers[o];
  }
  CounterList list = {"Browser Types", "BRW", "Browser Type:", RPT_BRW, CHT_BRW, counts, kBrowserPositions,
                      sums, kBrowserNameCount, kBrowserNames};
  print_counter_list(traffic, list, [](int32_t p) -> const char* {
    if (p < kBrowserFamilyCount * kVersionCount) {
      format_into(line_buffer, buffer_size(), "%s %i.x", kBrowserNames[p / kVersionCount], p % kVersionCount + 1);
    } else {
      int other = p - kBrowserFamilyCount * kVersionCount;
      copy_bounded(line_buffer, buffer_size(), kBrowserNames[kBrowserFamilyCount + other]);
    }
    return line_buffer;
  });
}

int print_reports(const Traffic& traffic, Dom& countries, Hst& hosts, Pgs& pages, Paths& paths, Cds& codes,
                  Tps& types, Fls& files, AdCampaigns& campaigns, Eng& engines, ReferringDomains& domains,
                  Url& referrers, bool with_sources) {
  html.page_head();
  html.report_selector("efefef", 610);
  if (traffic.visitors == 0) {
    html.section_open();
    page_puts("<tr><td>\n<center><br>No Visitors.<br><br></center>\n</td></tr>\n");
    html.section_close();
    html.line_break();
    html.page_footer();
    return 0;
  }

  auto on = [](ReportKey key) { return config.report_on[key] != 0; };
  auto limit = [](ReportKey key) { return config.row_limits[key]; };
  const int visitors = traffic.visitors;
  const int hits = traffic.hits;

  print_summary(traffic, with_sources);
  print_daily(traffic);
  print_hourly(traffic);
  if (on(RPT_OPS)) print_operating_systems(traffic);
  if (on(RPT_BRW)) print_browsers(traffic);
  if (on(RPT_DOM)) print_countries(countries, "Visiting Countries", "Country:", visitors, "Visitors", limit(RPT_DOM));
  if (on(RPT_HST) && hosts.keys.count != 0) {
    hosts.print_top("Visiting Hosts", "Host:", visitors, "Visitors", limit(RPT_HST));
    html.line_break();
  }
  if (on(RPT_MRP) && pages.views.keys.count != 0) {
    print_most_requested_pages(pages, "Most Requested Pages", "Page:", traffic.page_views, "Views", limit(RPT_MRP));
    html.line_break();
  }
  if (on(RPT_LRP) && pages.views.keys.count != 0) {
    print_least_requested_pages(pages, "Least Requested Pages", "Page:", traffic.page_views, "Views",
                                limit(RPT_LRP));
    html.line_break();
  }
  if (on(RPT_ENP)) print_entry_pages(paths, "Entry Pages", "Page:", visitors, "Views", limit(RPT_ENP), pages);
  if (on(RPT_EXP)) print_exit_pages(paths, "Exit Pages", "Page:", visitors, "Views", limit(RPT_EXP), pages);
  if (on(RPT_SVP)) {
    print_single_view_pages(paths, "Single View Pages", "Page:", visitors, "Visitors", limit(RPT_SVP), pages);
  }
  if (on(RPT_PTH)) print_visitor_paths(paths, "Visitor's Paths", "Path:", visitors, "Visitors", limit(RPT_PTH), pages);
  if (on(RPT_DEP)) print_visit_depth(paths, "Visit Depth", "Level:", visitors, "Visitors", limit(RPT_DEP));
  if (on(RPT_CDS)) print_status_codes(codes, "Status Codes", "Code:", hits, "Requests", limit(RPT_CDS));
  if (on(RPT_TPS)) {
    print_file_types(types, "File Types", "Type:", whole_number(traffic.bytes), "Kbytes", limit(RPT_TPS));
  }
  if (on(RPT_MRF) && files.keys.count != 0) {
    files.print_top("Most Requested Files", "File:", hits, "Requests", limit(RPT_MRF));
    html.line_break();
  }
  if (on(RPT_LRF) && files.keys.count != 0) {
    files.print_bottom("Least Requested Files", "File:", hits, "Requests", limit(RPT_LRF));
    html.line_break();
  }
  if (on(RPT_ACP)) campaigns.print("Ad Campaigns", "Name:", visitors, "Visitors", limit(RPT_ACP));
  if (on(RPT_ENG)) {
    print_search_engines(engines, "Search Engines", "Search Engine", visitors, "Visitors", limit(RPT_ENG));
  }
  if (on(RPT_SQR)) print_search_queries(engines, "Search Queries", "Key Phrase:", visitors, "Visitors", limit(RPT_SQR));
  if (on(RPT_SEQ)) {
    print_engine_queries(engines, "Search Engine Queries", "Key Phrase", visitors, "Visitors", limit(RPT_SEQ));
  }
  if (on(RPT_REF) && domains.keys.count != 0) {
    domain_print_list(domains, "Referring Domains", "Domain:", visitors, "Visitors", limit(RPT_REF));
    html.line_break();
  }
  if (on(RPT_URL) && referrers.keys.count != 0) {
    referrers.print_list("Referring URLs", "Url:", visitors, "Visitors", limit(RPT_URL));
    html.line_break();
  }
  html.page_footer();
  return 0;
}
