#include "core/ad_campaigns.h"

AdCampaigns::~AdCampaigns() { clear(); }

void AdCampaigns::clear() {
  for (int i = 0; i < count; ++i) delete campaigns[i];
  delete[] campaigns;
  campaigns = nullptr;
  count = 0;
}
