#include "series/chart.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/cp932.h"
#include "tests/series/chart_test_util.h"

// January 2024: trading on 4 (Thu), 5 (Fri) and from 9 (Tue) on; 1-3 are
// closed and 8 is a holiday.

TEST(ChartFindTest, ThreeModesAroundTheBars) {
  const CChart chart = ChartOn({20240104, 20240105, 20240109});
  int32_t index = -7;
  EXPECT_FALSE(chart.Find(20240108, index, CChart::kFindExact));
  EXPECT_FALSE(chart.Find(20240110, index, CChart::kFindExactOrLater));
  EXPECT_FALSE(chart.Find(20240101, index, CChart::kFindExactOrEarlier));
  EXPECT_FALSE(CChart().Find(20240104, index, CChart::kFindExactOrLater));
  EXPECT_EQ(-7, index);  // untouched by every false answer
  EXPECT_TRUE(chart.Find(20240108, index, CChart::kFindExactOrLater));
  EXPECT_EQ(2, index);
  EXPECT_TRUE(chart.Find(20240108, index, CChart::kFindExactOrEarlier));
  EXPECT_EQ(1, index);
  EXPECT_TRUE(chart.Find(20240110, index, CChart::kFindExactOrEarlier));
  EXPECT_EQ(2, index);
  EXPECT_TRUE(chart.Find(20240101, index, CChart::kFindExactOrLater));
  EXPECT_EQ(0, index);
  EXPECT_TRUE(chart.Find(20240105, index, CChart::kFindExactOrLater));
  EXPECT_EQ(1, index);
}

TEST(ChartStepTest, DatesPastTheEndStepByTradingDays) {
  const CChart chart = ChartOn({20240104, 20240105});
  EXPECT_EQ(CDate(2024, 1, 5), chart.DateAt(1));
  EXPECT_EQ(CDate(2024, 1, 9), chart.DateAt(2));
  EXPECT_EQ(CDate(2024, 1, 10), chart.DateAt(3));
  EXPECT_EQ(CDate(2024, 1, 5), chart.PrevDate(20240109));
  EXPECT_EQ(CDate(), chart.NextDate(20241340));
  EXPECT_EQ(CDate(), chart.DateAt(-1));
  EXPECT_EQ(CDate(), CChart().DateAt(0));
}

namespace {

// Records how it was called and that it was destroyed.
class FakeStore : public CChartLoader, public CChartSaver {
 public:
  FakeStore(int32_t status, bool* destroyed) : status_(status), destroyed_(destroyed) {}
  ~FakeStore() override { *destroyed_ = true; }
  int32_t Load(CChart& chart) override {
    EXPECT_TRUE(chart.empty());
    chart.push_back(Flat(20240104, 10.0));
    return status_;
  }
  int32_t Save(CChart& chart) override {
    chart.TrimLeading();
    return status_;
  }

 private:
  int32_t status_;
  bool* destroyed_;
};

}  // namespace

TEST(ChartLoadSaveTest, CallsTheStrategyOnceAndReducesItsStatus) {
  CChart chart = ChartOn({20230104, 20230105});
  for (int32_t status : {0, -1}) {
    bool loaded = false, saved = false;
    EXPECT_EQ(status >= 0, chart.Load(std::make_unique<FakeStore>(status, &loaded)));
    EXPECT_EQ(DateList{20240104}, Dates(chart));  // kept even on failure
    chart.insert(chart.begin(), Bar(20240101, 1, 1, 0, 1));
    EXPECT_EQ(status >= 0, chart.Save(std::make_unique<FakeStore>(status, &saved)));
    EXPECT_EQ(DateList{20240104}, Dates(chart));  // the saver changed it
    EXPECT_TRUE(loaded && saved);
  }
  EXPECT_FALSE(chart.Save(nullptr));
  EXPECT_FALSE(chart.Load(nullptr));
  EXPECT_TRUE(chart.empty());
}

TEST(ChartAppendTest, AppendRecordsDropsRawCloseAndIgnoresCodes) {
  CQuoteItems items{{"7203", Bar(20240104, 1, 4, 0.5, 3, 1000)},
                    {"9999", Flat(20240105, 5)}};
  items[0].record.rawClose = 3;
  CChart chart = ChartOn({20231229});
  CChart::AppendRecords(items, chart, true);
  ASSERT_EQ((DateList{20231229, 20240104, 20240105}), Dates(chart));
  EXPECT_EQ(Bar(20240104, 1, 4, 0.5, 3, 1000), chart[1]);
  CChart::AppendRecords(items, chart, false);
  EXPECT_EQ((DateList{20240104, 20240105}), Dates(chart));
}

TEST(ChartAppendTest, CopyLastTakesTheTail) {
  CChart source;
  for (uint32_t i = 0; i < 500; ++i) source.push_back(Flat(20000000 + i, i));
  CChart chart = ChartOn({20240104});
  chart.CopyLast(source, 320);
  ASSERT_EQ(320u, chart.size());
  EXPECT_EQ(180.0, chart.front().close);
  EXPECT_EQ(499.0, chart.back().close);
  const CChart small(source.begin(), source.begin() + 100);
  chart.CopyLast(small, 320);
  EXPECT_EQ(Dates(small), Dates(chart));
  chart.CopyLast(chart, 2);
  EXPECT_EQ((DateList{20000098, 20000099}), Dates(chart));
  chart.CopyLast(source, 0);
  EXPECT_TRUE(chart.empty());
}

TEST(ChartTrimTest, RemovesLeadingBarsWithAZeroPrice) {
  CChart chart{Bar(20240104, 5, 5, 0, 5), Bar(20240105, 0, 5, 5, 5),
               Bar(20240109, 5, 5, 5, 5, 0), Bar(20240110, 5, 0, 5, 5)};
  chart.TrimLeading();
  EXPECT_EQ((DateList{20240109, 20240110}), Dates(chart));
  CChart zeros{Bar(20240104, 1, 1, 1, 0), Bar(20240105, 1, 0, 1, 1)};
  zeros.TrimLeading();
  EXPECT_TRUE(zeros.empty());
}

TEST(ChartDumpTest, PrintsOneLineABarInTheTerminalCharset) {
  const CChart chart{Bar(20240104, 1.5, 2.25, 1.004, 2, 12345.6), Flat(20240105, 3)};
  std::FILE* out = std::tmpfile();
  ASSERT_NE(nullptr, out);
  chart.Dump(out);
  std::rewind(out);
  std::string printed(512, '\0');
  printed.resize(std::fread(printed.data(), 1, printed.size(), out));
  std::fclose(out);
  // The C locale of the test prints UTF-8.
  EXPECT_EQ(
      "[日付:20240104][始値:1.50][高値:2.25][安値:1.00][終値:2.00][出来高:12346]\n"
      "[日付:20240105][始値:3.00][高値:3.00][安値:3.00][終値:3.00][出来高:0]\n",
      Cp932FromUtf8(printed));
}
