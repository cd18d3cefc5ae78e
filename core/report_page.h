#ifndef QM_CORE_REPORT_PAGE_H
#define QM_CORE_REPORT_PAGE_H

#include "core/traffic.h"

class AdCampaigns;
class Cds;
class Dom;
class Eng;
class Fls;
class Hst;
class Pgs;
class Tps;
class Url;
struct Paths;
struct ReferringDomains;

// Display names of the operating systems, by operating-system index, and the
// group each belongs to (the pie of the operating-system section shows groups).
constexpr int kOsGroupCount = 10;
extern const char* const kOsNames[kOsCount];
extern const int kOsGroups[kOsCount];
extern const char* const kOsGroupNames[kOsGroupCount];

// The browser names of the browser pie: the three families counted by version,
// then the other kinds in OtherBrowser order.
constexpr int kBrowserFamilyCount = 3;
constexpr int kBrowserNameCount = kBrowserFamilyCount + kOtherBrowserCount;
extern const char* const kBrowserNames[kBrowserNameCount];

// The whole report page of one time frame: head, report selector, every enabled
// section in its fixed order (or the "No Visitors." box), footer. The tables are
// the caller's, filled by the report loader. `with_sources` false: the frame's
// referrers were not read (the short summary), so the summary leaves out its
// "Visitors From:" box, which would show every visitor as a direct hit. Always 0.
int print_reports(const Traffic& traffic, Dom& countries, Hst& hosts, Pgs& pages, Paths& paths, Cds& codes,
                  Tps& types, Fls& files, AdCampaigns& campaigns, Eng& engines, ReferringDomains& domains,
                  Url& referrers, bool with_sources = true);

// The sections printed from the traffic record alone.
// Title with the frame's dates, visitor and page-view totals, averages and, with
// `with_sources`, the referrer sources; nothing without visitors.
void print_summary(const Traffic& traffic, bool with_sources = true);
// Bar graph of the days; only for two days or more with the chart switch DAY_A on.
void print_daily(const Traffic& traffic);
// Bar graph of the hours; only with the chart switch HRS_A on.
void print_hourly(const Traffic& traffic);
// Ranked operating systems, with a pie of their groups when OPS_A is on.
void print_operating_systems(const Traffic& traffic);
// Ranked browsers by family and version, with a pie when BRW_A is on.
void print_browsers(const Traffic& traffic);

#endif
