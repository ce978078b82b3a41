#include "series/margin.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "support/cp932.h"

namespace {

CMarginRecord Entry(uint32_t date, double buy = 0, double sell = 0) {
  return {CDate(date / 10000, date / 100 % 100, date % 100), buy, sell};
}

}  // namespace

TEST(MarginTest, FindAndDates) {
  const CMargin margin{Entry(20240105), Entry(20240112), Entry(20240119)};
  struct Case { uint32_t date; int32_t mode; bool found; int32_t index; };
  const Case cases[] = {
      {20240112, 0, true, 1},   {20240110, 0, false, -7}, {20240110, 1, true, 1},
      {20240110, 2, true, 0},   {20240101, 1, true, 0},   {20240101, 2, false, -7},
      {20240120, 1, false, -7}, {20240120, 2, true, 2},   {20240110, 9, false, -7},
  };
  for (const Case& c : cases) {
    int32_t index = -7;
    EXPECT_EQ(c.found, margin.Find(c.date, index, c.mode)) << c.date << "/" << c.mode;
    EXPECT_EQ(c.index, index) << c.date << "/" << c.mode;
  }
  int32_t index = -7;
  EXPECT_FALSE(CMargin().Find(20240105, index, CMargin::kFindExactOrLater));
  EXPECT_EQ(CDate(2024, 1, 5), margin.FirstDate());
  EXPECT_EQ(CDate(2024, 1, 19), margin.LastDate());
  EXPECT_EQ(CDate(2024, 1, 12), margin.DateAt(1));
  for (int32_t at : {-1, 3, 4, INT32_MAX}) EXPECT_EQ(CDate(), margin.DateAt(at)) << at;
  EXPECT_EQ(CDate(), CMargin().FirstDate());
  EXPECT_EQ(CDate(), CMargin().LastDate());
}

TEST(MarginTest, DumpPrintsOneLineAnEntry) {
  const CMargin margin{Entry(20240105, 1234567.4, 89.75), Entry(20240112, 0, 2)};
  std::FILE* out = std::tmpfile();
  ASSERT_NE(nullptr, out);
  margin.Dump(out);
  std::rewind(out);
  std::string printed(256, '\0');
  printed.resize(std::fread(printed.data(), 1, printed.size(), out));
  std::fclose(out);
  EXPECT_EQ(
      "[日付:20240105][買残:1234567][売残:90]\n"
      "[日付:20240112][買残:0][売残:2]\n",
      Cp932FromUtf8(printed));
}
