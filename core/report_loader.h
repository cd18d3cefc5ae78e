#ifndef QM_CORE_REPORT_LOADER_H
#define QM_CORE_REPORT_LOADER_H

#include "core/data_files.h"
#include "core/text.h"

struct Traffic;
struct Paths;
struct ReferringDomains;
class Dom;
class Hst;
class Pgs;
class Cds;
class Tps;
class Fls;
class Url;
class AdCampaigns;
class Eng;


// Fills the report's tables for the days from `from` to `to`, both included. A frame
// of today alone reads the state file, any other frame the summary file; each loaded
// record adds its day file (or the state file) to the tables of the enabled reports.
// Then come what the page needs beyond the stored tables: the referrer-source totals,
// the search engines, the countries, the visit depth and the path lists.
//
// The summary-only report passes no table at all (every pointer null): only the
// traffic records are read. 0; -3 when the summary (or state) file cannot be
// opened; -8 when memory runs out.
int load_range(Traffic& traffic, const DayDate& from, const DayDate& to, Dom* countries, Hst* hosts,
               Pgs* pages, Paths* paths, Cds* codes, Tps* types, Fls* files, AdCampaigns* campaigns,
               Eng* engines, ReferringDomains* referring_domains, Url* referrers);

// Reads the day file of `day` ("data/YYYYMMDD.log"), or with `today` the state file,
// into the tables of the enabled reports; a null table is never read into. 0, also
// when the file is missing (the day adds nothing); -8 when a reader runs out of memory.
int load_day_file(bool today, const DayDate& day, Hst* hosts, Pgs* pages, Paths* paths, Cds* codes,
                  Tps* types, Fls* files, Url* referrers);

#endif
