#include <gtest/gtest.h>

#include "series/chart.h"
#include "tests/series/chart_test_util.h"

// January 2024: trading on 4, 5 and from 9 on; 6-7, 13-14 are weekends
// and 8 is a holiday.

TEST(ChartFillGapsTest, EachGapTakesTheCloseOfTheBarBeforeIt) {
  CChart chart{Bar(20240104, 1, 1, 1, 1, 50), Flat(20240109, 2),
               Flat(20240112, 3), Flat(20240116, 4)};
  EXPECT_EQ(4, chart.FillGaps());
  EXPECT_EQ((DateList{20240104, 20240105, 20240109, 20240110, 20240111,
                      20240112, 20240115, 20240116}),
            Dates(chart));
  EXPECT_EQ(Flat(20240105, 1), chart[1]);  // volume 0, raw close 0
  EXPECT_EQ(2.0, chart[4].close);
  EXPECT_EQ(3.0, chart[6].close);
  EXPECT_EQ(0, chart.FillGaps());
  EXPECT_EQ(0, ChartOn({20240104}).FillGaps());
}

TEST(ChartExtendTest, StopsAtTheLastCompleteTradingDay) {
  const CChart base = ChartOn({20240110, 20240111});  // last close 2
  const CDate tuesday(2024, 1, 16), saturday(2024, 1, 13);
  CChart chart = base;
  // Before 15:00 on a trading day, today is not complete yet.
  EXPECT_EQ(2, chart.ExtendTo(tuesday, {tuesday, 14}));
  EXPECT_EQ((DateList{20240110, 20240111, 20240112, 20240115}), Dates(chart));
  EXPECT_EQ(Flat(20240115, 2), chart.back());
  chart = base;
  EXPECT_EQ(3, chart.ExtendTo(tuesday, {tuesday, 15}));
  chart = base;
  EXPECT_EQ(3, chart.ExtendTo(CDate(2030, 1, 1), {tuesday, 20}));  // means today
  EXPECT_EQ(20240116u, chart.back().DateNumber());
  chart = base;
  EXPECT_EQ(1, chart.ExtendTo(saturday, {saturday, 9}));
  // An end before today is taken as given.
  chart = base;
  EXPECT_EQ(1, chart.ExtendTo(CDate(2024, 1, 14), {CDate(2024, 2, 1), 10}));
  EXPECT_EQ(0, chart.ExtendTo(CDate(2024, 1, 5), {tuesday, 10}));
  EXPECT_EQ(0, CChart().ExtendTo(tuesday, {tuesday, 16}));
}

TEST(ChartFindGapTest, ReportsTheFirstMissingTradingDay) {
  CDate missing(1999, 9, 9);
  EXPECT_FALSE(ChartOn({20240104, 20240105, 20240109}).FindGap(&missing));
  EXPECT_FALSE(ChartOn({20240104}).FindGap(&missing));
  EXPECT_EQ(CDate(1999, 9, 9), missing);
  EXPECT_TRUE(ChartOn({20240104, 20240105, 20240110, 20240112}).FindGap(&missing));
  EXPECT_EQ(CDate(2024, 1, 9), missing);
  EXPECT_TRUE(ChartOn({20240105, 20240108}).FindGap());  // a holiday bar
}
