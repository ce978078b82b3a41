#include "setup/run_options.h"

bool CRunChoices::IsMarketChecked(MarketItem item) const {
  switch (item) {
    case kEtf: return etf;
    case kReit: return reit;
    case kPrime: return prime;
    case kStandard: return standard;
    case kGrowth: return growth;
    case kOtherMarkets: return otherMarkets;
  }
  return false;
}
