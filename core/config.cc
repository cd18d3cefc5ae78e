#include "core/config.h"

#include "core/ad_campaigns.h"

const char* const kReportKeys[REPORT_KEY_COUNT] = {"OPS", "BRW", "DOM", "HST", "MRP", "LRP", "ENP",
                                                   "EXP", "SVP", "PTH", "DEP", "CDS", "TPS", "MRF",
                                                   "LRF", "ACP", "ENG", "SQR", "SEQ", "REF", "URL"};

const char* const kReportLabels[REPORT_KEY_COUNT] = {
    "Operating Systems", "Browser Types",   "Visiting Countries",    "Visiting Hosts",
    "Most Requested Pages", "Least Requested Pages", "Entry Pages",  "Exit Pages",
    "Single View Pages", "Visitor's Paths", "Visit Depth",           "Status Codes",
    "File Types",        "Most Requested Files", "Least Requested Files", "Ad Campaigns",
    "Search Engines",    "Search Queries",  "Search Engine Queries", "Referring Domains",
    "Referring URLs"};

const char* const kChartKeys[CHART_KEY_COUNT] = {"DAY_A", "HRS_A", "OPS_A", "BRW_A",
                                                 "CDS_A", "TPS_A", "ACP_A", "ENG_A"};

const char* const kChartLabels[CHART_KEY_COUNT] = {
    "Daily, Weekly, Monthly graph", "Hourly graph",       "Operating Systems chart",
    "Browser Types chart",          "Status Codes chart", "File Types chart",
    "Ad Campaigns chart",           "Search Engines chart"};

Config config;

Config::Config() {
  for (int i = 0; i < REPORT_KEY_COUNT; ++i) {
    row_limits[i] = 10;
    report_on[i] = 1;
  }
  for (int i = 0; i < CHART_KEY_COUNT; ++i) chart_on[i] = 1;
}

Config::~Config() {
  delete campaigns;
  campaigns = nullptr;
  formats.clear_strings();
}
