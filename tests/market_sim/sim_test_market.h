#ifndef TICKORA_TESTS_MARKET_SIM_SIM_TEST_MARKET_H_
#define TICKORA_TESTS_MARKET_SIM_SIM_TEST_MARKET_H_

#include <zlib.h>

#include <string>

#include "tools/market-sim/sim_market.h"

// The small market the tests share: 30 listed issues over two and a half
// years, today a Wednesday (2024-06-19).
inline CSimMarketOptions SmallMarketOptions() {
  CSimMarketOptions options;
  options.seed = 7;
  options.issueCount = 30;
  options.firstYear = 2022;
  options.today = CDate(2024, 6, 19);
  return options;
}

inline const CSimMarket& SmallMarket() {
  static const CSimMarket market(SmallMarketOptions());
  return market;
}

// Inflates one gzip member; false when the data is not a whole, valid one.
inline bool Gunzip(const std::string& gzip, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 16) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  z.avail_in = static_cast<uInt>(gzip.size());
  out.clear();
  int result = Z_OK;
  for (char chunk[65536]; result == Z_OK;) {
    z.next_out = reinterpret_cast<Bytef*>(chunk);
    z.avail_out = sizeof(chunk);
    result = inflate(&z, Z_NO_FLUSH);
    out.append(chunk, sizeof(chunk) - z.avail_out);
  }
  inflateEnd(&z);
  return result == Z_STREAM_END;
}

#endif  // TICKORA_TESTS_MARKET_SIM_SIM_TEST_MARKET_H_
