#include "db/divide.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "db/db_stock3.h"
#include "db/divide_loader_db2.h"
#include "series/chart.h"
#include "series/margin.h"
#include "support/cp932.h"
#include "tests/common/temp_dir.h"

// This file is compiled with CP932 literals.

namespace {

using F = std::vector<double>;
using Dates = std::vector<std::uint32_t>;
const CDate kToday(2024, 6, 14);
const Dates kBars = {20240603, 20240604, 20240605, 20240607};

CDivideRecord Split(std::uint32_t d, double ratio) {
  return {CDate(d / 10000, d / 100 % 100, d % 100), ratio};
}

// Adjusts bars of price 100 and volume 6000 and answers the factor each
// bar was multiplied by, after checking that the four prices and the
// volume agree with it and that the raw close stayed.
F Adjusted(const CDivide& splits, const Dates& dates, const CDate& today = kToday) {
  CChart chart;
  for (std::uint32_t date : dates) {
    CDayRecord bar;
    bar.SetDateNumber(date);
    bar.open = bar.high = bar.low = bar.close = bar.rawClose = 100;
    bar.volume = 6000;
    chart.push_back(bar);
  }
  splits.AdjustChart(chart, true, today);
  F factors;
  for (const CDayRecord& bar : chart) {
    const double f = bar.close / 100;
    EXPECT_TRUE(bar.open == bar.close && bar.high == bar.close && bar.low == bar.close);
    EXPECT_DOUBLE_EQ(6000 / f, bar.volume) << bar.DateNumber();
    EXPECT_EQ(100, bar.rawClose);
    factors.push_back(f);
  }
  return factors;
}

class FakeLoader : public CDivideLoader {
 public:
  explicit FakeLoader(int32_t status) : status_(status) {}
  int32_t Load(CDivide& divide) override {
    divide.push_back(Split(20240101, 2));
    return status_;
  }

 private:
  int32_t status_;
};

}  // namespace

TEST(DivideAdjustTest, SplitDateBoundaries) {
  // On a bar's own date the split leaves that bar and later ones alone.
  EXPECT_EQ((F{2, 2, 1, 1}), Adjusted({Split(20240605, 2)}, kBars));
  EXPECT_EQ((F{2, 2, 2, 1}), Adjusted({Split(20240606, 2)}, kBars));  // between bars
  EXPECT_EQ((F{1, 1, 1, 1}), Adjusted({Split(20240101, 2)}, kBars));  // before the first
  EXPECT_EQ((F{1, 1, 1, 1}), Adjusted({Split(20240603, 2)}, kBars));  // on the first
  EXPECT_EQ((F{2, 2, 2, 1}), Adjusted({Split(20240607, 2)}, kBars));  // on the last
  // After the last bar: counts up to today, and not beyond it.
  EXPECT_EQ((F{2, 2, 2, 2}), Adjusted({Split(20240608, 2)}, kBars));
  EXPECT_EQ((F{2, 2, 2, 2}), Adjusted({Split(20240614, 2)}, kBars));
  EXPECT_EQ((F{1, 1, 1, 1}), Adjusted({Split(20240615, 2)}, kBars));
  EXPECT_EQ((F{1.5, 1.5, 1.5, 1.5}),
            Adjusted({Split(20240610, 1.5), Split(20240615, 2), Split(20240620, 4)}, kBars));
  EXPECT_EQ((F{1}), Adjusted({Split(20240605, 2)}, {20240605}));
  EXPECT_EQ((F{3}), Adjusted({Split(20240606, 3)}, {20240605}));
  EXPECT_EQ((F{1, 1, 1, 1}), Adjusted({}, kBars));
}

TEST(DivideAdjustTest, SplitsCompound) {
  const CDivide splits = {Split(20240101, 10), Split(20240604, 1.5), Split(20240606, 2),
                          Split(20240610, 4), Split(20240701, 8)};
  EXPECT_EQ((F{12, 8, 8, 4}), Adjusted(splits, kBars));
  EXPECT_EQ((F{96, 64, 64, 32}), Adjusted(splits, kBars, CDate(2024, 7, 1)));
  // Two splits between the same adjacent bars: one split is taken up a bar,
  // so the bar just before them gets only the later one.
  EXPECT_EQ((F{6, 2, 1}), Adjusted({Split(20240605, 3), Split(20240606, 2)},
                                   {20240603, 20240604, 20240607}));
  // Three of them and two older bars: the oldest split is never reached.
  EXPECT_EQ((F{6, 2, 1}),
            Adjusted({Split(20240605, 5), Split(20240606, 3), Split(20240607, 2)},
                     {20240603, 20240604, 20240610}));
  // Ratios that no split can have count as 1 rather than wipe prices out.
  EXPECT_EQ((F{2, 2, 1, 1}),
            Adjusted({Split(20240604, 0), Split(20240605, 2), Split(20240606, -2),
                      Split(20240608, std::numeric_limits<double>::quiet_NaN())},
                     kBars));
}

TEST(DivideAdjustTest, AdjustingDividesPricesAndEmptySeriesStayEmpty) {
  const CDivide splits = {Split(20240604, 1.5), Split(20240606, 2)};
  CChart chart(kBars.size());
  for (std::size_t i = 0; i < kBars.size(); ++i) {
    chart[i].SetDateNumber(kBars[i]);
    chart[i].open = chart[i].high = chart[i].low = chart[i].close = chart[i].rawClose = 60;
    chart[i].volume = 600;
  }
  const CChart original = chart;
  splits.AdjustChart(chart, false, kToday);
  EXPECT_EQ(20, chart[0].close);
  EXPECT_EQ(1800, chart[0].volume);
  EXPECT_EQ(30, chart[2].high);
  EXPECT_EQ(1200, chart[2].volume);
  EXPECT_EQ(60, chart[0].rawClose);
  EXPECT_EQ(original[3], chart[3]);
  splits.AdjustChart(chart, true, kToday);
  EXPECT_EQ(original, chart);

  CChart empty;
  splits.AdjustChart(empty, true, kToday);
  EXPECT_TRUE(empty.empty());
}

TEST(DivideAdjustTest, MarginBalancesMoveLikeVolume) {
  auto adjust = [](const CDivide& splits, bool unadjust) {
    CMargin margin;
    for (std::uint32_t d : {20240524, 20240531, 20240607}) {
      margin.push_back({Split(d, 1).date, 1200, 600});
    }
    splits.AdjustMargin(margin, unadjust, kToday);
    F out;
    for (const CMarginRecord& m : margin) {
      EXPECT_EQ(m.buy, 2 * m.sell);
      out.push_back(m.buy);
    }
    return out;
  };
  EXPECT_EQ((F{300, 600, 1200}),
            adjust({Split(20240101, 9), Split(20240531, 2), Split(20240605, 2)}, true));
  EXPECT_EQ((F{4800, 2400, 1200}), adjust({Split(20240531, 2), Split(20240605, 2)}, false));
  const CDivide later = {Split(20240610, 1.5), Split(20240615, 2)};
  EXPECT_EQ((F{800, 800, 800}), adjust(later, true));
  EXPECT_EQ((F{1800, 1800, 1800}), adjust(later, false));
  EXPECT_EQ((F{1200, 1200, 1200}), adjust({}, true));
  CMargin empty;
  later.AdjustMargin(empty, true, kToday);
  EXPECT_TRUE(empty.empty());
}

TEST(DivideTest, SortLoadAndDump) {
  CDivide splits = {Split(20240606, 2), Split(20230101, 3), Split(20240606, 4),
                    Split(20231231, 5)};
  splits.Sort();  // equal dates keep their order
  EXPECT_EQ((CDivide{Split(20230101, 3), Split(20231231, 5), Split(20240606, 2),
                     Split(20240606, 4)}),
            splits);

  EXPECT_TRUE(splits.Load(std::make_unique<FakeLoader>(1)));
  EXPECT_EQ((CDivide{Split(20240101, 2)}), splits);
  // A failing loader leaves nothing behind, whatever it appended.
  EXPECT_FALSE(splits.Load(std::make_unique<FakeLoader>(-5)));
  EXPECT_TRUE(splits.empty());
  splits.push_back(Split(20240101, 2));
  EXPECT_FALSE(splits.Load(nullptr));
  EXPECT_TRUE(splits.empty());

  splits = {Split(20240606, 1.5), Split(20241001, 1.0 / 3)};
  std::FILE* out = std::tmpfile();
  splits.Dump(out);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(out);
  EXPECT_EQ("[日付:20240606][分割比:1.50]\n[日付:20241001][分割比:0.33]\n",
            Cp932FromUtf8(text));
}

TEST(DivideLoaderDB2Test, PrivateAndProcessWideDatabase) {
  TempDir dir;
  const std::string path = dir.Sub("stock.mdb");
  {
    CDBStock3 db;
    ASSERT_TRUE(db.CreateDatabase(path) && db.Open(path) && db.CreateTables());
    ASSERT_TRUE(db.WriteDivide("7203", Split(20240606, 2)));
    ASSERT_TRUE(db.WriteDivide("7203", Split(19990104, 1.5)));
    ASSERT_TRUE(db.WriteDivide("6758", Split(20000101, 5)));
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
  EXPECT_FALSE(splits.Load(std::make_unique<CDivideLoaderDB2>("7203", dir.Sub("absent.mdb"))));
  EXPECT_TRUE(splits.empty());
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
