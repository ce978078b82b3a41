#include "web/price_dates.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// 2024: 8 March a Friday, 11 March a Monday, 12 February a substitute
// holiday (Monday), 20 March the equinox holiday (Wednesday).
CLocalTime At(uint32_t n, int hour, int minute) {
  return {CDate(n / 10000, n / 100 % 100, n % 100), hour, minute};
}

struct Case { const char* rule; std::function<CDate(const CLocalTime&)> date; uint32_t day; int hour, minute;
              uint32_t expected; };

TEST(PriceDatesTest, EachRuleAroundItsHour) {
  auto index = [](const CLocalTime& t) { return PortalQuoteDate(t, false); };
  auto currency = [](const CLocalTime& t) { return PortalQuoteDate(t, true); };
  const Case cases[] = {
      {"history", HistoryLastDay, 20240308, 14, 59, 20240307},
      {"history", HistoryLastDay, 20240308, 15, 0, 20240308},
      {"history", HistoryLastDay, 20240309, 23, 0, 20240309},  // no trading-day rule
      {"stock", StockQuoteDate, 20240311, 8, 30, 20240308},
      {"stock", StockQuoteDate, 20240213, 8, 30, 20240209},  // Monday was a holiday
      {"stock", StockQuoteDate, 20240311, 9, 0, 20240311},
      {"stock", StockQuoteDate, 20240309, 12, 0, 20240308},
      {"index", index, 20240320, 10, 0, 20240319},
      {"currency", currency, 20240320, 10, 0, 20240320},  // holidays trade
      {"currency", currency, 20240311, 8, 0, 20240308},
      {"currency", currency, 20240213, 8, 0, 20240212},
      {"futures", FuturesQuoteDate, 20240308, 8, 44, 20240307},
      {"futures", FuturesQuoteDate, 20240308, 8, 45, 20240308},
      {"futures", FuturesQuoteDate, 20240309, 10, 0, 20240308},
      {"futures", FuturesQuoteDate, 20240320, 10, 0, 20240319},
      {"dow", DowQuoteDate, 20240312, 21, 59, 20240311},
      {"dow", DowQuoteDate, 20240312, 22, 0, 20240312},
      {"dow", DowQuoteDate, 20240311, 21, 59, 20240308},
      {"dow", DowQuoteDate, 20240310, 23, 0, 20240308},
      // The empty date ends the walks.
      {"stock", StockQuoteDate, 0, 0, 0, 0}, {"currency", currency, 0, 0, 0, 0}, {"dow", DowQuoteDate, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.date(At(c.day, c.hour, c.minute)).ToNumber(), c.expected)
        << c.rule << " " << c.day << " " << c.hour << ":" << c.minute;
  }
}

}  // namespace
