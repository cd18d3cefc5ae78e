#ifndef QM_CORE_AD_CAMPAIGNS_H
#define QM_CORE_AD_CAMPAIGNS_H

#include "core/containers.h"

// The site owner's ad campaigns ("dat_acp.cfg"): each has a name and domain
// patterns; referring hosts are counted under the first campaign that matches.
//
// File form, one campaign per line: the name, " |", then " pattern" for each
// pattern from the last in memory to the first. A reader takes the text before
// the first "|" less its last character as the name, skips the one character
// after "|" and adds every blank-separated piece (also an empty one) as a pattern.
class AdCampaigns {
 public:
  siArr counters;              // visitors per campaign name (only campaigns that matched)
  int count = 0;               // number of campaigns
  char tag[4] = "";            // help code of the report section ("ACP" in the report program)
  strArr** campaigns = nullptr;  // count lists in file order: name (number 0), then patterns

  AdCampaigns() = default;
  ~AdCampaigns();
  AdCampaigns(const AdCampaigns&) = delete;
  AdCampaigns& operator=(const AdCampaigns&) = delete;

  // Reads "dat_acp.cfg" and adds its campaigns: 0, -4 (cannot be opened) or -8.
  int load();
  // Replaces "dat_acp.cfg" with every campaign: 0, or -4 with the old file kept.
  int save();
  // Appends a campaign with this name and no patterns: 0, or -8 with nothing added.
  int add(const char* name);
  // Adds a pattern to the newest campaign (kept once; the name is never a
  // pattern): 0, or -8 with the campaign unchanged.
  int add_pattern(const char* pattern);
  // Counts `amount` under the first campaign with a pattern found in the text, and
  // adds it to total: 0, or -8 with nothing counted.
  int match(const char* text, int amount, int& total);
  // The "Ad Campaigns" report section, campaigns by visitors.
  void print(const char* title, const char* key_header, int total, const char* value_header, int row_limit);
  // Releases every campaign; counters and tag stay.
  void clear();

 private:
  void drop_last();
};

#endif
