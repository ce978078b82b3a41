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
    const CSimIssue& x = a.Issues()[i];
    const CSimIssue& y = b.Issues()[i];
    EXPECT_EQ(x.record, y.record);
    EXPECT_EQ(x.listed, y.listed);
    EXPECT_EQ(x.delisted, y.delisted);
    EXPECT_EQ(x.retiredMarket, y.retiredMarket);
  }
  // With a cache of one series, the first issue is made twice here.
  const std::string first = a.Issues()[20].record.code;
  const std::string second = a.Issues()[30].record.code;
  const CSimSeries once = *a.Series(first);
  a.Series(second);
  const auto again = a.Series(first);
  for (const auto& series : {*again, *b.Series(first)}) {
    EXPECT_EQ(series.raw, once.raw);
    EXPECT_EQ(series.adjusted, once.adjusted);
    EXPECT_EQ(series.margin, once.margin);
    EXPECT_EQ(series.adjustedMargin, once.adjustedMargin);
    EXPECT_EQ(series.splits, once.splits);
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
  size_t etfs = 0, reits = 0, retired = 0, delisted = 0, late = 0, letters = 0,
         noMargin = 0, split = 0, builtInCount = 0;
  const std::set<std::string> markets = {"東証プライム", "東証スタンダード", "東証グロース",
                                         "名証メイン", "札証", "福証", "東証"};
  std::string previous;
  for (const CSimIssue& issue : market.Issues()) {
    const CBrandRecord& r = issue.record;
    EXPECT_TRUE(previous.empty() ||
                std::lexicographical_compare(
                    previous.begin(), previous.end(), r.code.begin(), r.code.end(),
                    [](char x, char y) { return static_cast<unsigned char>(x) <
                                                static_cast<unsigned char>(y); }))
        << previous << " before " << r.code;
    previous = r.code;
    EXPECT_EQ(market.Find(r.code), &issue);
    if (issue.builtIn) {
      ++builtInCount;
      const auto entry = builtIns.find(std::stoi(r.code));
      ASSERT_NE(entry, builtIns.end()) << r.code;
      EXPECT_EQ(r.kind, entry->second.kind);
      EXPECT_EQ(r.name, entry->second.name);
      EXPECT_TRUE(r.market.empty());
      continue;
    }
    EXPECT_TRUE(CPrivateBrand::IsStockCode(r.code)) << r.code;
    EXPECT_LE(r.name.size(), 64u);
    EXPECT_LE(r.market.size(), 20u);
    EXPECT_LE(r.industry.size(), 20u);
    EXPECT_FALSE(r.name.empty());
    EXPECT_EQ(markets.count(r.market) == 0, issue.retiredMarket) << r.market;
    etfs += r.kind == kKindEtf;
    reits += r.kind == kKindReit;
    retired += issue.retiredMarket;
    delisted += issue.IsDelisted();
    late += market.FirstDate() < issue.listed;
    letters += r.code.back() >= 'A';
    noMargin += r.lendable == 0;
    split += !market.Series(r.code)->splits.empty();
  }
  EXPECT_EQ(builtInCount, builtIns.size());
  for (size_t count : {etfs, reits, retired, delisted, late, letters, noMargin, split}) {
    EXPECT_GE(count, 1u);
  }
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
    if (issue.IsDelisted()) {
      EXPECT_FALSE(issue.delisted < raw.back().Date());
    }
    for (size_t i = 0; i < raw.size(); ++i) {
      const CDayRecord& bar = raw[i];
      const CDate date = bar.Date();
      if (i > 0) {
        ASSERT_LT(raw[i - 1].DateNumber(), bar.DateNumber());
      }
      if (TradesOnWeekdays(issue)) {
        ASSERT_FALSE(date.IsWeekend());
      } else {
        ASSERT_TRUE(date.IsBusinessDay()) << bar.DateNumber();
        if (i > 0) {
          CDate expected = raw[i - 1].Date();
          expected.NextBusinessDay();
          missingDays += expected.ToNumber() != bar.DateNumber();
        }
      }
      ASSERT_GE(bar.high, std::max(bar.open, bar.close));
      ASSERT_LE(bar.low, std::min(bar.open, bar.close));
      ASSERT_GT(bar.low, 0);
      ASSERT_EQ(bar.rawClose, bar.close);
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
      const CDayRecord& a = series->adjusted[i];
      ASSERT_EQ(a.DateNumber(), expected[i].DateNumber());
      ASSERT_EQ(a.open, static_cast<float>(expected[i].open));
      ASSERT_EQ(a.high, static_cast<float>(expected[i].high));
      ASSERT_EQ(a.low, static_cast<float>(expected[i].low));
      ASSERT_EQ(a.close, static_cast<float>(expected[i].close));
      ASSERT_EQ(a.volume, static_cast<float>(expected[i].volume));
    }

    // Margin balances: weekly, on the last trading day of the week, for
    // the issues with margin trading only.
    const bool hasMargin = !issue.builtIn && issue.record.lendable != 0;
    EXPECT_EQ(series->margin.empty(), !hasMargin);
    CMargin expectedMargin = series->margin;
    series->splits.AdjustMargin(expectedMargin, false, market.Today());
    EXPECT_EQ(series->adjustedMargin, expectedMargin);
    for (const CMarginRecord& entry : series->margin) {
      ASSERT_TRUE(entry.date.IsBusinessDay());
      CDate next = entry.date;
      next.NextBusinessDay();
      ASSERT_TRUE(next.Weekday() <= entry.date.Weekday() || next.DaysBetween(entry.date) >= 7)
          << entry.date.ToNumber();
      ASSERT_GT(entry.buy, 0);
    }
  }
  EXPECT_GT(missingDays, 0u) << "some issue should have a day without trades";
}

TEST(SimMarketTest, WholeMarketViewsAgreeWithTheSeries) {
  const CSimMarket& market = SmallMarket();
  const CDate day(2023, 8, 9);
  CChartTable year, latest;
  CMarginTable margins;
  CBrandMap brands;
  CDivideMap splits;
  market.AdjustedBars(20230101, 20231231, year);
  market.AdjustedMargins(20230101, 20230809, margins);
  market.LatestBars(day, latest);
  market.BrandsOn(day, brands);
  market.SplitsUpTo(day, splits);
  for (const CSimIssue& issue : market.Issues()) {
    SCOPED_TRACE(issue.record.code);
    const std::string& code = issue.record.code;
    const auto series = market.Series(code);
    CChart inYear;
    CDayRecord last;
    for (const CDayRecord& bar : series->adjusted) {
      if (bar.DateNumber() / 10000 == 2023) inYear.push_back(bar);
      if (bar.DateNumber() <= day.ToNumber()) last = bar;
    }
    EXPECT_EQ(year.count(code) ? year.at(code) : CChart(), inYear);
    CMargin marginPart;
    for (const CMarginRecord& entry : series->adjustedMargin) {
      const uint32_t d = entry.date.ToNumber();
      if (d >= 20230101 && d <= 20230809) marginPart.push_back(entry);
    }
    EXPECT_EQ(margins.count(code) ? margins.at(code) : CMargin(), marginPart);
    if (issue.IsListedOn(day)) {
      ASSERT_EQ(latest.count(code), 1u);
      EXPECT_EQ(latest.at(code), CChart({last}));
    } else {
      EXPECT_EQ(latest.count(code), 0u);
    }
    EXPECT_EQ(brands.Find(code) != nullptr, !issue.builtIn && issue.IsListedOn(day));
    CDivide before;
    for (const CDivideRecord& split : series->splits) {
      if (!(day < split.date)) before.push_back(split);
    }
    EXPECT_EQ(splits.Find(code) ? *splits.Find(code) : CDivide(), before);
  }
}

}  // namespace
