#ifndef QM_CORE_AD_CAMPAIGNS_H
#define QM_CORE_AD_CAMPAIGNS_H

#include "core/containers.h"

// The site owner's ad campaigns ("dat_acp.cfg"): each has a name and domain
// patterns; referring hosts are counted under the first campaign that matches.
class AdCampaigns {
 public:
  siArr counters;              // visitors per campaign name (only campaigns that matched)
  int count = 0;               // number of campaigns
  char tag[4] = "";            // help code of the report section ("ACP" in the report program)
  strArr** campaigns = nullptr;  // count lists in file order: name, then patterns

  AdCampaigns() = default;
  ~AdCampaigns();
  AdCampaigns(const AdCampaigns&) = delete;
  AdCampaigns& operator=(const AdCampaigns&) = delete;

  int load();
  int save();
  int add(const char* name);
  int match(const char* text, int amount, int& total);
  void print(const char* title, const char* key_header, int total, const char* value_header, int row_limit);
  void clear();
};

#endif
