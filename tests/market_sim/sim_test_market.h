#ifndef TICKORA_TESTS_MARKET_SIM_SIM_TEST_MARKET_H_
#define TICKORA_TESTS_MARKET_SIM_SIM_TEST_MARKET_H_

#include <string>

#include "tools/market-sim/sim_market.h"

// The small market the tests share: 30 listed issues over two and a half
// years, today a Wednesday (2024-06-19).
inline CSimMarketOptions SmallMarketOptions() {
  return {.seed = 7, .issueCount = 30, .firstYear = 2022, .today = CDate(2024, 6, 19)};
}

inline const CSimMarket& SmallMarket() {
  static const CSimMarket market(SmallMarketOptions());
  return market;
}

#endif  // TICKORA_TESTS_MARKET_SIM_SIM_TEST_MARKET_H_
