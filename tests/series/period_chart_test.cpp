#include <gtest/gtest.h>

#include "series/chart.h"
#include "series/month_chart.h"
#include "series/week_chart.h"
#include "tests/series/chart_test_util.h"

// January 2024: Sundays fall on 7, 14 and 21; 1-3 are closed and 8 is a
// holiday.

namespace {

CDayRecord Folded(uint32_t date, double open, double high, double low,
                  double close, double volume) {
  CDayRecord bar = Bar(date, open, high, low, close, volume);
  bar.rawClose = close;
  return bar;
}

}  // namespace

TEST(PeriodChartTest, WeeksFoldTheirDaysAndAnOpenZeroBarStartsNothing) {
  const CChart daily{Bar(20240104, 0, 9, 9, 9, 50),     // replaced by the next
                     Bar(20240105, 11, 15, 10, 14, 200),
                     Bar(20240109, 14, 14, 6, 7, 300),
                     Bar(20240112, 7, 8, 7, 8, 400),
                     Bar(20240115, 0, 9, 8, 9, 500)};   // open 0 at the end
  const CWeekChart weekly = daily.ToWeekChart();
  ASSERT_EQ(2u, weekly.size());
  EXPECT_EQ(Folded(20240105, 11, 15, 10, 14, 200), weekly[0]);
  EXPECT_EQ(Folded(20240109, 14, 14, 6, 8, 700), weekly[1]);
  EXPECT_EQ("週", weekly.UnitName());
}

TEST(PeriodChartTest, ANewWeekStartsWhenASundayLiesBetweenTwoBars) {
  // A Sunday at either end counts, so a bar on a Sunday stands alone.
  EXPECT_EQ(2u, ChartOn({20240113, 20240115}).ToWeekChart().size());
  EXPECT_EQ(1u, ChartOn({20240115, 20240120}).ToWeekChart().size());
  EXPECT_EQ(2u, ChartOn({20240111, 20240118}).ToWeekChart().size());
  EXPECT_EQ(3u, ChartOn({20240113, 20240114, 20240115}).ToWeekChart().size());
}

TEST(PeriodChartTest, MonthsFoldTheirDaysAndAYearApartIsAnotherMonth) {
  const CChart daily{Bar(20240130, 10, 12, 9, 11, 1), Bar(20240131, 11, 13, 8, 12, 2),
                     Bar(20240201, 12, 20, 12, 19, 3), Bar(20240229, 19, 19, 15, 16, 4),
                     Bar(20250205, 30, 30, 30, 30, 5)};
  const CMonthChart monthly = daily.ToMonthChart();
  ASSERT_EQ((DateList{20240130, 20240201, 20250205}), Dates(monthly));
  EXPECT_EQ(Folded(20240130, 10, 13, 8, 12, 3), monthly[0]);
  EXPECT_EQ(Folded(20240201, 12, 20, 12, 16, 7), monthly[1]);
  EXPECT_EQ("月", monthly.UnitName());
}

TEST(PeriodChartTest, FindMovesTheDateToTheKeyOfItsPeriod) {
  // Week keys: Sunday 31 Dec -> 4 Jan; 7 Jan -> 9 Jan; 14 Jan -> 15 Jan.
  const CWeekChart weekly = ChartOn<CWeekChart>({20240104, 20240109, 20240115});
  const CChart& week = weekly;  // found through the base, as callers hold it
  int32_t index = -1;
  EXPECT_TRUE(week.Find(20240111, index, CChart::kFindExact));
  EXPECT_EQ(1, index);
  EXPECT_TRUE(week.Find(20231231, index, CChart::kFindExact));
  EXPECT_EQ(0, index);
  EXPECT_TRUE(week.Find(20240114, index, CChart::kFindExact));
  EXPECT_EQ(2, index);
  EXPECT_FALSE(week.Find(20231230, index, CChart::kFindExact));

  // Month keys: January -> 4 Jan (1-3 closed), February -> 1 Feb.
  const CMonthChart monthly = ChartOn<CMonthChart>({20240104, 20240201});
  EXPECT_TRUE(monthly.Find(20240229, index, CChart::kFindExact));
  EXPECT_EQ(1, index);
  EXPECT_TRUE(monthly.Find(20240101, index, CChart::kFindExact));
  EXPECT_EQ(0, index);
  EXPECT_FALSE(monthly.Find(20231215, index, CChart::kFindExact));
}

TEST(PeriodChartTest, StepsByWeeksAndMonths) {
  const CWeekChart weekly = ChartOn<CWeekChart>({20240104});
  const CChart& week = weekly;
  EXPECT_EQ(CDate(2024, 1, 9), week.DateAt(1));
  EXPECT_EQ(CDate(2024, 1, 15), week.DateAt(2));
  EXPECT_EQ(CDate(2024, 1, 4), week.PrevDate(20240111));
  const CMonthChart monthly = ChartOn<CMonthChart>({20240104});
  const CChart& month = monthly;
  EXPECT_EQ(CDate(2024, 3, 1), month.DateAt(2));
  EXPECT_EQ(CDate(2024, 1, 4), month.PrevDate(20240215));
  EXPECT_EQ("日", CChart().UnitName());
}
