#include "db/divide.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/db_stock3.h"
#include "db/divide_loader_db2.h"
#include "db/divide_map.h"
#include "series/chart.h"
#include "series/margin.h"
#include "tests/common/file_bytes.h"
#include "tests/common/temp_dir.h"

// This file is compiled with CP932 literals. Split list files are built
// byte by byte from their layout, never by the writer.

namespace {

using F = std::vector<double>;
using Dates = std::vector<std::uint32_t>;
const CDate kToday(2024, 6, 14);
const Dates kBars = {20240603, 20240604, 20240605, 20240607};

CDivideRecord Split(std::uint32_t d, double ratio) {
  return {CDate(d / 10000, d / 100 % 100, d % 100), ratio};
}

using Bytes = std::string;
using Entries = std::vector<std::pair<std::string, CDivideRecord>>;

const Bytes kHeaderV2("\x00\x00\x00\x40" "\xE6\xD8\x34\x01", 8);  // 2.0f, 20240614
const Bytes kHeaderV1("\x00\x00\x80\x3F" "\x15\xDB\x32\x01", 8);  // 1.0f, 20110101
const Bytes kTwo("\x00\x00\x00\x40", 4);
const Bytes kOneHalf("\x00\x00\xC0\x3F", 4);
const Bytes kJune6("\xDE\xD8\x34\x01");  // 20240606

// Every split of the map as (code, split), in map and list order.
Entries Flat(const CDivideMap& map) {
  Entries out;
  for (const auto& [code, list] : map) for (auto& split : list) out.emplace_back(code, split);
  return out;
}

// Four version 2 records in code and date order (dates 19990104, 20240606,
// 20000101, 20240606).
const Entries kSmall = {{"1301", Split(19990104, 1.5)}, {"1301", Split(20240606, 2)},
                        {"7203", Split(20000101, 10)}, {"\x82\x50", Split(20240606, 0.5)}};
const Bytes kSmallBytes = kHeaderV2 + Text0("1301") + "\x58\x06\x31\x01" + kOneHalf +
                          Text0("1301") + kJune6 + kTwo + Text0("7203") +
                          Bytes("\x65\x2D\x31\x01\x00\x00\x20\x41", 8) + Text0("\x82\x50") +
                          kJune6 + Bytes("\x00\x00\x00\x3F", 4);

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
      {{Split(20240610, 1.5), Split(20240615, 2), Split(20240620, 4)}, kBars, {1.5, 1.5, 1.5, 1.5}},
      {{Split(20240606, 2)}, {}, {}},  // empty series
      {five, kBars, {12, 8, 8, 4}},
      // Later splits count up to today, a split on today included.
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

TEST(DivideMapFileTest, Version2FileMatchesTheLayoutBothWays) {
  TempDir dir;
  WriteBytes(dir.Sub("in.bin"), kSmallBytes);
  CDivideMap map;
  ASSERT_TRUE(map.Load(dir.Sub("in.bin")));
  EXPECT_EQ(kSmall, Flat(map));

  CDivideMap added;  // codes added out of order; written in code order
  for (int i : {3, 2, 0, 1}) ASSERT_TRUE(added.Add(kSmall[i].first, kSmall[i].second));
  ASSERT_TRUE(added.Save(dir.Sub("out.bin"), CDate(2024, 6, 14)));
  EXPECT_EQ(kSmallBytes, ReadBytes(dir.Sub("out.bin")));
  // The header's date when none is given is the fuzz target's part.
}

TEST(DivideMapFileTest, Version1CodesAreSixteenBitNumbers) {
  TempDir dir;
  // 7203 = 0x1C23, -5 = 0xFFFB; the two 7203 splits are out of date order.
  const Bytes records = Bytes("\x23\x1C") + kJune6 + kTwo +
                        Bytes("\x23\x1C") + "\x58\x06\x31\x01" + kOneHalf +
                        Bytes("\xFB\xFF") + "\x65\x2D\x31\x01" + Bytes("\x00\x00\x40\x40", 4);
  const Entries expected = {
      {"-5", Split(20000101, 3)}, {"7203", Split(19990104, 1.5)}, {"7203", Split(20240606, 2)}};
  CDivideMap map;
  // 1.0 and the float just below 2.0 are version 1.
  for (const Bytes& header : {kHeaderV1, Bytes("\xFF\xFF\xFF\x3F\0\0\0\0", 8)}) {
    WriteBytes(dir.Sub("v1.bin"), header + records);
    ASSERT_TRUE(map.Load(dir.Sub("v1.bin")));
    EXPECT_EQ(expected, Flat(map));
  }

  // NaN is not below 2.0: as version 2 the first code runs up to the NUL in
  // the first ratio, and the next one is the last byte of the second date.
  WriteBytes(dir.Sub("nan.bin"), Bytes("\x00\x00\xC0\x7F\0\0\0\0", 8) + records);
  ASSERT_TRUE(map.Load(dir.Sub("nan.bin")));
  EXPECT_EQ(2u, map.Size());
  EXPECT_NE(nullptr, map.Find("\x23\x1C\xDE\xD8\x34\x01"));
  EXPECT_NE(nullptr, map.Find("\x01"));
}

// Odd codes and dates round trip in the fuzz seeds; every cut of a file,
// and saves that fail, are the fuzz target's part.
TEST(DivideMapFileTest, AddRefusesWhatTheFileCannotCarryButLoadTakesAnyCode) {
  TempDir dir;
  CDivideMap map;
  EXPECT_FALSE(map.Add(std::string(21, '1'), Split(20240606, 2)));
  EXPECT_FALSE(map.Add(std::string("72\0" "3", 4), Split(20240606, 2)));
  const Entries entries = {{"7203", Split(20240606, 2)}, {"7203", Split(19990104, 1.5)}};
  for (const auto& [code, split] : entries) ASSERT_TRUE(map.Add(code, split));
  EXPECT_EQ(entries, Flat(map));

  // A code of any length loads whole, and so does every record after it;
  // where a code is used decides whether it is usable.
  const std::string longCode(1000, '2');
  WriteBytes(dir.Sub("long.bin"),
             kSmallBytes + Text0(longCode) + kJune6 + kTwo + Text0("9999") + kJune6 + kTwo);
  ASSERT_TRUE(map.Load(dir.Sub("long.bin")));
  EXPECT_EQ(kSmall.size() + 2, Flat(map).size());
  EXPECT_TRUE(map.Find(longCode) != nullptr && map.Find("9999") != nullptr);
}
