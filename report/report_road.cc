#include "report/report_road.h"

#include <cstring>

#include "core/ad_campaigns.h"
#include "core/domains.h"
#include "core/file_types.h"
#include "core/pages.h"
#include "core/paths.h"
#include "core/report_loader.h"
#include "core/report_page.h"
#include "core/search_engines.h"
#include "core/tables.h"
#include "core/traffic.h"
#include "report/report_error.h"

namespace {

// The tables of one report, constructed empty in this order and freed in the
// reverse one.
struct ReportTables {
  Traffic traffic;
  Dom countries;
  Hst host_domains;
  Pgs pages;
  Paths paths;
  Cds status_codes;
  Tps file_types;
  Fls files;
  AdCampaigns campaigns;  // the report's own, read from "dat_acp.cfg"
  Eng engines;
  ReferringDomains referring_domains;
  Url referring_urls;

  ReportTables() {
    paths.root.init_root();
    paths.depth.init();
    std::memcpy(countries.tag, "DMN", 4);
    host_domains.set_name("HST");
    std::memcpy(pages.tag, "PGS", 4);
    status_codes.set_name("CDS");
    std::memcpy(file_types.tag, "TPS", 4);
    files.set_name("FLS");
    std::memcpy(campaigns.tag, "ACP", 4);
    std::memcpy(referring_domains.tag, "REF", 4);
    referring_urls.set_name("URL");
  }

  // The definition files, in this order; the first failure ends the loading.
  int load_definitions() {
    int status = countries.load_country_names();
    if (status == 0) status = status_codes.load();
    if (status == 0) status = file_types.load();
    if (status == 0) status = campaigns.load();
    if (status == 0) status = engines.load();
    return status;
  }

  // The statistics of the range; the short summary reads the traffic totals only.
  int load(const DayDate& from, const DayDate& to, bool totals_only) {
    if (totals_only) {
      return load_range(traffic, from, to, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr);
    }
    return load_range(traffic, from, to, &countries, &host_domains, &pages, &paths, &status_codes, &file_types,
                      &files, &campaigns, &engines, &referring_domains, &referring_urls);
  }

  // Without the referrers (the short summary) the summary has no referrer sources to show.
  void print(bool totals_only) {
    print_reports(traffic, countries, host_domains, pages, paths, status_codes, file_types, files, campaigns,
                  engines, referring_domains, referring_urls, !totals_only);
  }
};

}  // namespace

int run_report(const char* type, DayDate from, DayDate to) {
  ReportTables tables;
  const bool totals_only = std::strcmp(type, "ssumm") == 0;
  int status = tables.load_definitions();
  if (status == 0) {
    report_time_frame(from, to, type);
    status = tables.load(from, to, totals_only);
  }
  // Every table of the page is given, for the short summary too (empty then).
  if (status == 0) tables.print(totals_only);
  show_report_error(status);
  return 0;
}
