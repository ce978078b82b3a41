#include "db/divide.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "db/db_stock3.h"
#include "db/divide_loader_db2.h"
#include "series/chart.h"
#include "series/margin.h"
#include "tests/common/temp_dir.h"

namespace {

using F = std::vector<double>;
using Dates = std::vector<std::uint32_t>;
const CDate kToday(2024, 6, 14);
const Dates kBars = {20240603, 20240604, 20240605, 20240607};

CDivideRecord Split(std::uint32_t d, double ratio) {
  return {CDate(d / 10000, d / 100 % 100, d % 100), ratio};
}

// Adjusts, both ways, bars whose prices and volume are 100 and margin
// entries of 100 bought and 100 sold on the same dates. Answers the factor
// each bar's prices were multiplied by when unadjusting, after checking that
// every other number moved by that same factor.
F Factors(const CDivide& splits, const Dates& dates, const CDate& today) {
  CChart up;
  CMargin marginUp;
  for (std::uint32_t date : dates) {
    CDayRecord bar;
    bar.SetDateNumber(date);
    bar.open = bar.high = bar.low = bar.close = bar.rawClose = bar.volume = 100;
    up.push_back(bar);
    marginUp.push_back({bar.Date(), 100, 100});
  }
  CChart down = up;
  CMargin marginDown = marginUp;
  splits.AdjustChart(up, true, today);
  splits.AdjustChart(down, false, today);
  splits.AdjustMargin(marginUp, true, today);
  splits.AdjustMargin(marginDown, false, today);
  auto flat = [](const CDayRecord& b) {
    return b.open == b.close && b.high == b.close && b.low == b.close && b.rawClose == 100;
  };
  F factors;
  for (std::size_t i = 0; i < up.size(); ++i) {
    const double times = up[i].close, divided = down[i].close;
    EXPECT_TRUE(flat(up[i]) && flat(down[i])) << dates[i];
    EXPECT_DOUBLE_EQ(10000, times * divided) << dates[i];
    EXPECT_EQ((F{times, times, times, divided, divided, divided}),
              (F{down[i].volume, marginDown[i].buy, marginDown[i].sell, up[i].volume,
                 marginUp[i].buy, marginUp[i].sell}));
    factors.push_back(times / 100);
  }
  return factors;
}

}  // namespace

TEST(DivideAdjustTest, FactorsOfChartsAndMargins) {
  const CDivide five = {Split(20240101, 10), Split(20240604, 1.5), Split(20240606, 2),
                        Split(20240610, 4), Split(20240701, 8)};
  struct Case { CDivide splits; Dates dates; F factors; CDate today = kToday; };
  const Case cases[] = {
      {{Split(20240605, 2)}, kBars, {2, 2, 1, 1}},  // on a bar: it and later stay
      {{Split(20240606, 2)}, kBars, {2, 2, 2, 1}},  // between bars
      {{Split(20240101, 2)}, kBars, {1, 1, 1, 1}},  // before the first
      {{Split(20240607, 2)}, kBars, {2, 2, 2, 1}},  // on the last
      {{Split(20240608, 2)}, kBars, {2, 2, 2, 2}},  // after the last
      {{Split(20240614, 2)}, kBars, {2, 2, 2, 2}},  // after the last, on today
      {{Split(20240615, 2)}, kBars, {1, 1, 1, 1}},  // after today
      {{Split(20240610, 1.5), Split(20240615, 2), Split(20240620, 4)}, kBars, {1.5, 1.5, 1.5, 1.5}},
      {{Split(20240606, 2)}, {}, {}},  // empty series
      {five, kBars, {12, 8, 8, 4}},
      {five, kBars, {96, 64, 64, 32}, CDate(2024, 7, 1)},
      // Two splits between the same adjacent bars: one is taken up a bar.
      {{Split(20240605, 3), Split(20240606, 2)}, {20240603, 20240604, 20240607}, {6, 2, 1}},
      // Ratios that no split can have count as 1.
      {{Split(20240604, 0), Split(20240605, 2), Split(20240606, -2), Split(20240608, std::nan(""))},
       kBars, {2, 2, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    EXPECT_EQ(c.factors, Factors(c.splits, c.dates, c.today));
  }
}

TEST(DivideLoaderDB2Test, PrivateAndProcessWideDatabase) {
  TempDir dir;
  const std::string path = dir.Sub("stock.mdb");
  {
    CDBStock3 db;
    ASSERT_TRUE(db.CreateDatabase(path) && db.Open(path) && db.CreateTables());
    ASSERT_TRUE(db.WriteDivide("7203", Split(20240606, 2)) &&
                db.WriteDivide("7203", Split(19990104, 1.5)) &&
                db.WriteDivide("6758", Split(20000101, 5)));
  }
  const CDivide expected = {Split(19990104, 1.5), Split(20240606, 2)};
  CDivide splits;
  EXPECT_TRUE(splits.Load(std::make_unique<CDivideLoaderDB2>("7203", path)));
  EXPECT_EQ(expected, splits);
  EXPECT_EQ(0, CDivideLoaderDB2("9999", "Database={" + path + "};").Load(splits));
  EXPECT_TRUE(splits.empty());

  // A file that cannot be opened, and one without the split table.
  splits = expected;
  EXPECT_EQ(-1, CDivideLoaderDB2("7203", dir.Sub("absent.mdb")).Load(splits));
  EXPECT_EQ(expected, splits);
  ASSERT_TRUE(CDBStock3().CreateDatabase(dir.Sub("bare.mdb")));
  EXPECT_EQ(-2, CDivideLoaderDB2("7203", dir.Sub("bare.mdb")).Load(splits));

  // An empty path asks the process-wide database, closed or open.
  CDBStock3& shared = CDBStock3::Instance();
  shared.Close();
  EXPECT_EQ(-2, CDivideLoaderDB2("7203", "").Load(splits));
  ASSERT_TRUE(shared.Open(path));
  EXPECT_TRUE(splits.Load(std::make_unique<CDivideLoaderDB2>("7203", "")));
  shared.Close();
  EXPECT_EQ(expected, splits);
}
