// Price and margin series: lookup, stepping, gaps, strategies and the week
// and month folds.
#include <gtest/gtest.h>

#include <climits>

#include "series/chart.h"
#include "series/margin.h"
#include "series/month_chart.h"
#include "series/week_chart.h"
#include "tests/series/series_test_util.h"

// January 2024: trading on 4 (Thu), 5 (Fri) and from 9 (Tue) on; 1-3 are
// closed, 8 is a holiday, and Sundays fall on 7, 14 and 21.

namespace {

// An index of -7 means not found, the index left alone.
struct FindCase { uint32_t date; int32_t mode, index; };
template <typename Series>
void ExpectFinds(const Series& series, std::initializer_list<FindCase> cases) {
  for (const FindCase& c : cases) {
    int32_t index = -7;
    EXPECT_EQ(c.index != -7, series.Find(c.date, index, c.mode)) << c.date << "/" << c.mode;
    EXPECT_EQ(c.index, index) << c.date << "/" << c.mode;
  }
}

DateList Numbers(std::initializer_list<CDate> dates) {
  DateList out;
  for (const CDate& date : dates) out.push_back(date.ToNumber());
  return out;
}

CDayRecord Folded(uint32_t date, double open, double high, double low, double close, double volume) {
  CDayRecord bar = Bar(date, open, high, low, close, volume);
  bar.rawClose = close;
  return bar;
}

}  // namespace

TEST(SeriesFindTest, ThreeModesAndThePeriodKeys) {
  const std::initializer_list<FindCase> daily = {
      {20240105, 0, 1},  {20240108, 0, -7}, {20240108, 1, 2}, {20240108, 2, 1},
      {20240101, 1, 0},  {20240101, 2, -7}, {20240110, 1, -7}, {20240110, 2, 2},
      {20240105, 1, 1},  {20240108, 9, -7}, {20240109, 9, 2},  // other modes act as exact
  };
  ExpectFinds(ChartOn({20240104, 20240105, 20240109}), daily);
  ExpectFinds(CMargin{Entry(20240104), Entry(20240105), Entry(20240109)}, daily);
  ExpectFinds(CChart(), {{20240104, 1, -7}});
  ExpectFinds(CMargin(), {{20240104, 1, -7}});
  // Found through the base, as callers hold them. Week keys: Sunday 31
  // Dec -> 4 Jan, 7 Jan -> 9 Jan, 14 Jan -> 15 Jan; month keys: January ->
  // 4 Jan, February -> 1 Feb.
  ExpectFinds<CChart>(ChartOn<CWeekChart>({20240104, 20240109, 20240115}),
                      {{20240111, 0, 1}, {20231231, 0, 0}, {20240114, 0, 2}, {20231230, 0, -7}});
  ExpectFinds<CChart>(ChartOn<CMonthChart>({20240104, 20240201}),
                      {{20240229, 0, 1}, {20240101, 0, 0}, {20231215, 0, -7}});
}

TEST(SeriesStepTest, DatesPastTheEndStepByTradingDaysWeeksAndMonths) {
  const CChart daily = ChartOn({20240104, 20240105});
  const CWeekChart weekly = ChartOn<CWeekChart>({20240104});
  const CMonthChart monthly = ChartOn<CMonthChart>({20240104});
  const CChart &week = weekly, &month = monthly;
  EXPECT_EQ((DateList{20240105, 20240109, 20240110, 20240105, 0, 0, 0}),
            Numbers({daily.DateAt(1), daily.DateAt(2), daily.DateAt(3), daily.PrevDate(20240109),
                     daily.NextDate(20241340), daily.DateAt(-1), CChart().DateAt(0)}));
  EXPECT_EQ((DateList{20240109, 20240115, 20240104, 20240301, 20240104}),
            Numbers({week.DateAt(1), week.DateAt(2), week.PrevDate(20240111), month.DateAt(2),
                     month.PrevDate(20240215)}));
  // A margin series does not look ahead.
  const CMargin margin{Entry(20240105), Entry(20240112), Entry(20240119)};
  EXPECT_EQ((DateList{20240105, 20240119, 20240112, 0, 0, 0, 0, 0}),
            Numbers({margin.FirstDate(), margin.LastDate(), margin.DateAt(1), margin.DateAt(-1),
                     margin.DateAt(3), margin.DateAt(INT32_MAX), CMargin().FirstDate(),
                     CMargin().LastDate()}));
  EXPECT_EQ("日週月", CChart().UnitName() + week.UnitName() + month.UnitName());
}

TEST(ChartTest, AppendCopyAndTrim) {
  CQuoteItems items{{"7203", Bar(20240104, 1, 4, 0.5, 3, 1000)}, {"9999", Flat(20240105, 5)}};
  items[0].record.rawClose = 3;
  CChart chart = ChartOn({20231229});
  CChart::AppendRecords(items, chart, true);  // raw close dropped, codes ignored
  ASSERT_EQ((DateList{20231229, 20240104, 20240105}), Dates(chart));
  EXPECT_EQ(Bar(20240104, 1, 4, 0.5, 3, 1000), chart[1]);
  CChart::AppendRecords(items, chart, false);
  EXPECT_EQ((DateList{20240104, 20240105}), Dates(chart));

  CChart source;
  for (uint32_t i = 0; i < 500; ++i) source.push_back(Flat(20000000 + i, i));
  chart.CopyLast(source, 320);
  EXPECT_EQ(CChart(source.end() - 320, source.end()), chart);
  const CChart small(source.begin(), source.begin() + 100);
  chart.CopyLast(small, 320);
  EXPECT_EQ(small, chart);
  chart.CopyLast(chart, 2);
  EXPECT_EQ(CChart(small.end() - 2, small.end()), chart);
  chart.CopyLast(source, 0);
  EXPECT_TRUE(chart.empty());

}

TEST(SeriesDumpTest, PrintsOneLineARecordInTheTerminalCharset) {
  EXPECT_EQ(
      "[日付:20240104][始値:1.50][高値:2.25][安値:1.00][終値:2.00][出来高:12346]\n"
      "[日付:20240105][始値:3.00][高値:3.00][安値:3.00][終値:3.00][出来高:0]\n",
      Printed(CChart{Bar(20240104, 1.5, 2.25, 1.004, 2, 12345.6), Flat(20240105, 3)}));
  EXPECT_EQ("[日付:20240105][買残:1234567][売残:90]\n[日付:20240112][買残:0][売残:2]\n",
            Printed(CMargin{Entry(20240105, 1234567.4, 89.75), Entry(20240112, 0, 2)}));
}

TEST(ChartGapsTest, FillGapsTakesTheCloseBeforeEachGapAndFindGapTheFirstMissingDay) {
  CChart chart{Bar(20240104, 1, 1, 1, 1, 50), Flat(20240109, 2), Flat(20240112, 3), Flat(20240116, 4)};
  EXPECT_EQ(4, chart.FillGaps());
  EXPECT_EQ((DateList{20240104, 20240105, 20240109, 20240110, 20240111, 20240112, 20240115, 20240116}),
            Dates(chart));
  EXPECT_EQ(Flat(20240105, 1), chart[1]);  // volume 0, raw close 0
  EXPECT_EQ(2.0, chart[4].close);  // the close of the bar before this gap
  EXPECT_EQ(0, chart.FillGaps());

  CDate missing(1999, 9, 9);
  EXPECT_FALSE(ChartOn({20240104, 20240105, 20240109}).FindGap(&missing));
  EXPECT_FALSE(ChartOn({20240104}).FindGap(&missing));
  EXPECT_EQ(CDate(1999, 9, 9), missing);
  EXPECT_TRUE(ChartOn({20240104, 20240105, 20240110, 20240112}).FindGap(&missing));
  EXPECT_EQ(CDate(2024, 1, 9), missing);
  EXPECT_TRUE(ChartOn({20240105, 20240108}).FindGap());  // a holiday bar
}

// Before 15:00 on a trading day, today is not complete yet; an end after
// today means today, one before it is taken as given.
TEST(ChartGapsTest, ExtendStopsAtTheLastCompleteTradingDay) {
  const CDate tuesday(2024, 1, 16), saturday(2024, 1, 13);
  struct Case { CDate end; CChart::LocalTime now; int32_t added; uint32_t last; };
  const Case cases[] = {
      {tuesday, {tuesday, 14}, 2, 20240115},           {tuesday, {tuesday, 15}, 3, 20240116},
      {CDate(2030, 1, 1), {tuesday, 20}, 3, 20240116}, {saturday, {saturday, 9}, 1, 20240112},
      {CDate(2024, 1, 14), {CDate(2024, 2, 1), 10}, 1, 20240112},
      {CDate(2024, 1, 5), {tuesday, 10}, 0, 20240111},
  };
  for (const Case& c : cases) {
    CChart chart = ChartOn({20240110, 20240111});  // last close 2
    EXPECT_EQ(c.added, chart.ExtendTo(c.end, c.now)) << c.end.ToNumber() << "/" << c.now.hour;
    EXPECT_EQ(2u + c.added, chart.size());
    EXPECT_EQ(Flat(c.last, 2), chart.back());
  }
  EXPECT_EQ(0, CChart().ExtendTo(tuesday, {tuesday, 16}));
}

// Weeks and months fold their days; an open-zero bar starts nothing, a
// Sunday at either end of a week counts, and a year apart is another month.
TEST(PeriodChartTest, WeeksAndMonthsFoldTheirDays) {
  const CChart daily{Bar(20240104, 0, 9, 9, 9, 50),  // replaced by the next
                     Bar(20240105, 11, 15, 10, 14, 200), Bar(20240109, 14, 14, 6, 7, 300),
                     Bar(20240112, 7, 8, 7, 8, 400),
                     Bar(20240115, 0, 9, 8, 9, 500)};  // open 0 at the end
  EXPECT_EQ((CChart{Folded(20240105, 11, 15, 10, 14, 200), Folded(20240109, 14, 14, 6, 8, 700)}),
            daily.ToWeekChart());
  const std::pair<DateList, size_t> weeks[] = {
      {{20240113, 20240115}, 2}, {{20240115, 20240120}, 1}, {{20240111, 20240118}, 2},
      {{20240113, 20240114, 20240115}, 3}};
  for (const auto& [dates, count] : weeks) EXPECT_EQ(count, DayBars(dates).ToWeekChart().size());
  const CChart days{Bar(20240130, 10, 12, 9, 11, 1), Bar(20240131, 11, 13, 8, 12, 2),
                    Bar(20240201, 12, 20, 12, 19, 3), Bar(20240229, 19, 19, 15, 16, 4),
                    Bar(20250205, 30, 30, 30, 30, 5)};
  EXPECT_EQ((CChart{Folded(20240130, 10, 13, 8, 12, 3), Folded(20240201, 12, 20, 12, 16, 7),
                    Folded(20250205, 30, 30, 30, 30, 5)}),
            days.ToMonthChart());
}
