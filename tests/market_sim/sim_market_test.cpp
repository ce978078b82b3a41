#include "tools/market-sim/sim_market.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "db/private_brand.h"
#include "tests/market_sim/sim_test_market.h"

namespace {

// The exchange's price steps, restated for the check.
double Tick(double price) {
  const double limits[] = {3000, 5000, 30000, 50000, 300000, 500000, 3000000, 5000000};
  const double ticks[] = {1, 5, 10, 50, 100, 500, 1000, 5000};
  for (size_t i = 0; i < std::size(limits); ++i) {
    if (price <= limits[i]) return ticks[i];
  }
  return 10000;
}

bool TradesOnWeekdays(const CSimIssue& issue) {
  return issue.record.kind == kKindCurrency || issue.record.code == "1004";
}

TEST(SimMarketTest, SameOptionsGiveTheSameMarketAnotherSeedAnother) {
  CSimMarketOptions options = SmallMarketOptions();
  options.cacheIssues = 1;
  const CSimMarket a(options);
  const CSimMarket& b = SmallMarket();
  ASSERT_EQ(a.Issues().size(), b.Issues().size());
  for (size_t i = 0; i < a.Issues().size(); ++i) {
    const CSimIssue &x = a.Issues()[i], &y = b.Issues()[i];
    EXPECT_TRUE(x.record == y.record && x.listed == y.listed && x.delisted == y.delisted &&
                x.retiredMarket == y.retiredMarket) << x.record.code;
  }
  // With a cache of one series, the first issue is made twice here.
  const std::string first = a.Issues()[20].record.code;
  const CSimSeries once = *a.Series(first);
  a.Series(a.Issues()[30].record.code);
  for (const CSimSeries& s : {*a.Series(first), *b.Series(first)}) {
    EXPECT_TRUE(s.raw == once.raw && s.adjusted == once.adjusted && s.margin == once.margin &&
                s.adjustedMargin == once.adjustedMargin && s.splits == once.splits);
  }
  EXPECT_EQ(a.Series("9999Z"), nullptr);

  options.seed = 8;
  const CSimMarket other(options);
  size_t differing = 0;
  for (size_t i = 0; i < other.Issues().size() && i < a.Issues().size(); ++i) {
    differing += other.Issues()[i].record == a.Issues()[i].record ? 0 : 1;
  }
  EXPECT_GT(differing, 20u);
  EXPECT_NE(other.Series("1001")->raw, a.Series("1001")->raw);
}

TEST(SimMarketTest, SmallMarketHoldsEveryKindOfIssue) {
  const CSimMarket& market = SmallMarket();
  EXPECT_EQ(market.FirstDate(), CDate(2022, 1, 4));
  EXPECT_EQ(market.LastDate(), CDate(2024, 6, 19));
  ASSERT_EQ(market.Issues().size(), 30u + 14u);

  CPrivateBrand::Map builtIns;
  CPrivateBrand::Instance().CopyTo(builtIns);
  // ETFs, REITs, the market shown as "自動", no industry, delisted, listed
  // late, codes with a letter, no margin trading, splits: each at least
  // once. Retired markets only on request (below).
  size_t kinds[9] = {}, builtInCount = 0;
  const std::set<std::string> markets = {"東証プライム", "東証スタンダード", "東証グロース",
                                         "名証メイン", "札証", "福証", "東証", "非上場"};
  std::string previous;  // codes ascend byte by byte
  for (const CSimIssue& issue : market.Issues()) {
    const CBrandRecord& r = issue.record;
    EXPECT_LT(previous, r.code);
    previous = r.code;
    EXPECT_EQ(market.Find(r.code), &issue);
    if (issue.builtIn) {
      ++builtInCount;
      const auto entry = builtIns.find(std::stoi(r.code));
      ASSERT_NE(entry, builtIns.end()) << r.code;
      EXPECT_TRUE(r.kind == entry->second.kind && r.name == entry->second.name && r.market.empty());
      continue;
    }
    EXPECT_TRUE(CPrivateBrand::IsStockCode(r.code)) << r.code;
    EXPECT_TRUE(!r.name.empty() && r.name.size() <= 64 && r.market.size() <= 20 &&
                r.industry.size() <= 20) << r.code;
    EXPECT_EQ(markets.count(r.market), 1u) << r.market;
    EXPECT_FALSE(issue.retiredMarket);
    EXPECT_EQ(issue.autoMarket, r.market == "非上場");
    EXPECT_EQ(issue.noIndustry, r.kind == kKindStock && r.industry == "業種なし");
    const bool is[] = {r.kind == kKindEtf, r.kind == kKindReit, issue.autoMarket, issue.noIndustry,
                       issue.IsDelisted(), market.FirstDate() < issue.listed, r.code.back() >= 'A',
                       r.lendable == 0, !market.Series(r.code)->splits.empty()};
    for (size_t k = 0; k < std::size(kinds); ++k) kinds[k] += is[k];
  }
  EXPECT_EQ(builtInCount, builtIns.size());
  for (size_t k = 0; k < std::size(kinds); ++k) EXPECT_GE(kinds[k], 1u) << k;

  // Asked for, retired market names replace the markets of a few stocks
  // and change nothing else.
  CSimMarketOptions options = SmallMarketOptions();
  options.retiredMarkets = true;
  const CSimMarket retired(options);
  ASSERT_EQ(retired.Issues().size(), market.Issues().size());
  size_t retiredCount = 0;
  for (size_t i = 0; i < market.Issues().size(); ++i) {
    const CSimIssue& a = market.Issues()[i];
    const CSimIssue& b = retired.Issues()[i];
    EXPECT_EQ(a.record.code, b.record.code);
    EXPECT_EQ(a.listed, b.listed);
    EXPECT_EQ(a.delisted, b.delisted);
    if (!b.retiredMarket) continue;
    ++retiredCount;
    EXPECT_EQ(markets.count(b.record.market), 0u) << b.record.market;
    EXPECT_EQ(b.record.kind, kKindStock);
  }
  EXPECT_GE(retiredCount, 1u);
}

TEST(SimMarketTest, SeriesKeepTheCalendarTheListingAndTheSplits) {
  const CSimMarket& market = SmallMarket();
  size_t missingDays = 0;
  for (const CSimIssue& issue : market.Issues()) {
    SCOPED_TRACE(issue.record.code);
    const auto series = market.Series(issue.record.code);
    const CChart& raw = series->raw;
    ASSERT_FALSE(raw.empty());
    ASSERT_EQ(raw.size(), series->adjusted.size());
    EXPECT_FALSE(raw.front().Date() < issue.listed);
    EXPECT_FALSE(market.LastDate() < raw.back().Date());
    EXPECT_FALSE(issue.IsDelisted() && issue.delisted < raw.back().Date());
    for (size_t i = 0; i < raw.size(); ++i) {
      const CDayRecord& bar = raw[i];
      const CDate date = bar.Date();
      ASSERT_TRUE(i == 0 || raw[i - 1].DateNumber() < bar.DateNumber());
      ASSERT_TRUE(TradesOnWeekdays(issue) ? !date.IsWeekend() : date.IsBusinessDay()) << bar.DateNumber();
      if (i > 0 && !TradesOnWeekdays(issue)) {
        CDate expected = raw[i - 1].Date();
        expected.NextBusinessDay();
        missingDays += expected.ToNumber() != bar.DateNumber();
      }
      ASSERT_TRUE(bar.high >= std::max(bar.open, bar.close) && bar.low > 0 &&
                  bar.low <= std::min(bar.open, bar.close) && bar.rawClose == bar.close);
      if (!issue.builtIn) {
        for (double price : {bar.open, bar.high, bar.low, bar.close}) {
          ASSERT_EQ(std::fmod(price, Tick(price)), 0.0) << price;
        }
        ASSERT_EQ(std::fmod(bar.volume, issue.record.unit), 0.0);
      }
    }

    // The adjusted series is what the system's own split adjustment makes
    // of the traded one, at float precision.
    CChart expected = raw;
    series->splits.AdjustChart(expected, false, market.Today());
    for (size_t i = 0; i < raw.size(); ++i) {
      const CDayRecord &a = series->adjusted[i], &e = expected[i];
      ASSERT_EQ((std::vector<double>{double(a.DateNumber()), a.open, a.high, a.low, a.close, a.volume}),
                (std::vector<double>{double(e.DateNumber()), float(e.open), float(e.high),
                                     float(e.low), float(e.close), float(e.volume)}));
    }

    // Margin balances: weekly, on the last trading day of the week, for
    // the issues with margin trading only.
    EXPECT_EQ(series->margin.empty(), issue.builtIn || issue.record.lendable == 0);
    CMargin expectedMargin = series->margin;
    series->splits.AdjustMargin(expectedMargin, false, market.Today());
    EXPECT_EQ(series->adjustedMargin, expectedMargin);
    for (const CMarginRecord& entry : series->margin) {
      CDate next = entry.date;
      next.NextBusinessDay();
      ASSERT_TRUE(entry.date.IsBusinessDay() && entry.buy > 0 &&
                  (next.Weekday() <= entry.date.Weekday() || next.DaysBetween(entry.date) >= 7))
          << entry.date.ToNumber();
    }
  }
  EXPECT_GT(missingDays, 0u) << "some issue should have a day without trades";
}

TEST(SimMarketTest, WholeMarketViewsAgreeWithTheSeries) {
  const CSimMarket& market = SmallMarket();
  const CDate day(2023, 8, 9);
  CChartTable traded, adjusted, latest;
  CMarginTable reported, adjustedMargins;
  CBrandMap brands;
  CDivideMap splits;
  market.TradedBars(20230101, 20231231, traded);
  market.AdjustedBars(20230101, 20231231, adjusted);
  market.ReportedMargins(20230101, 20230809, reported);
  market.AdjustedMargins(20230101, 20230809, adjustedMargins);
  market.LatestBars(day, latest);
  market.BrandsOn(day, brands);
  market.SplitsUpTo(day, splits);
  auto inYear = [](const CChart& series) {
    CChart part;
    for (const CDayRecord& bar : series) {
      if (bar.DateNumber() / 10000 == 2023) part.push_back(bar);
    }
    return part;
  };
  auto upTo = [&](const CMargin& series) {
    CMargin part;
    for (const CMarginRecord& entry : series) {
      const uint32_t d = entry.date.ToNumber();
      if (d >= 20230101 && d <= day.ToNumber()) part.push_back(entry);
    }
    return part;
  };
  for (const CSimIssue& issue : market.Issues()) {
    SCOPED_TRACE(issue.record.code);
    const std::string& code = issue.record.code;
    const auto series = market.Series(code);
    EXPECT_EQ(traded.count(code) ? traded.at(code) : CChart(), inYear(series->raw));
    EXPECT_EQ(adjusted.count(code) ? adjusted.at(code) : CChart(), inYear(series->adjusted));
    EXPECT_EQ(reported.count(code) ? reported.at(code) : CMargin(), upTo(series->margin));
    EXPECT_EQ(adjustedMargins.count(code) ? adjustedMargins.at(code) : CMargin(),
              upTo(series->adjustedMargin));
    CDayRecord last;
    for (const CDayRecord& bar : series->raw) {
      if (bar.DateNumber() <= day.ToNumber()) last = bar;
    }
    EXPECT_EQ(latest.count(code) ? latest.at(code) : CChart(),
              issue.IsListedOn(day) ? CChart{last} : CChart());
    EXPECT_EQ(brands.Find(code) != nullptr, !issue.builtIn && issue.IsListedOn(day));
    CDivide before;
    for (const CDivideRecord& split : series->splits) {
      if (!(day < split.date)) before.push_back(split);
    }
    EXPECT_EQ(splits.Find(code) ? *splits.Find(code) : CDivide(), before);
  }
}

}  // namespace
