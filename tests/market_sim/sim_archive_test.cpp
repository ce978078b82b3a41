#include "tools/market-sim/sim_archive.h"

#include <gtest/gtest.h>

#include <fstream>

#include "series/archive_margin_file.h"
#include "series/archive_price_file.h"
#include "tests/common/temp_dir.h"
#include "tests/market_sim/sim_test_market.h"

namespace {

// Today is Wednesday 2024-06-19. Issue and split lists come for Saturdays,
// prices and margins of past years whole, this year's up to a trading day
// (margins: a Wednesday), the latest prices for a trading day.
TEST(SimArchiveTest, ServesOnlyWellFormedNamesUpToToday) {
  CSimArchive archive(SmallMarket());
  struct Case { const char* name; bool served; };
  const Case cases[] = {
      {"brand-20240615.bin", true},       {"divide-20240608.bin", true},
      {"brand-20240622.bin", false},      {"brand-20240614.bin", false},  // after today, a Friday
      {"price-2023.bin", true},           {"price-2021.bin", true},  // before the first year: empty
      {"price-2024.bin", false},          {"price-202.bin", false},
      {"price-02023.bin", false},         {"price-2023.bin.gz", false},
      {"priceyear-20240619.bin", true},   {"priceyear-20240615.bin", false},  // a Saturday
      {"priceyear-20240620.bin", false},  {"pricelast-20240230.bin", false},  // no such day
      {"pricelast-20211230.bin", false},  {"pricelast-20240618.bin", true},
      {"margin-2022.bin", true},          {"marginyear-20240619.bin", true},
      {"marginyear-20240618.bin", false}, {"brand-2024061.bin", false},
      {"brand-+2024061.bin", false},      {"quote-20240619.bin", false},
      {"", false},
  };
  for (const Case& c : cases) {
    std::shared_ptr<const std::string> gzip;
    EXPECT_EQ(archive.Fetch(c.name, gzip), c.served ? 200 : 404) << c.name;
    EXPECT_EQ(gzip != nullptr, c.served) << c.name;
  }
  // Made once, then served from memory.
  std::shared_ptr<const std::string> first, second;
  ASSERT_EQ(archive.Fetch("pricelast-20240618.bin", first), 200);
  ASSERT_EQ(archive.Fetch("pricelast-20240618.bin", second), 200);
  EXPECT_EQ(first, second);
}

// A bar as an archive price file carries it: values narrowed to float32,
// no raw close.
CDayRecord AsInFile(CDayRecord bar) {
  for (double* v : {&bar.open, &bar.high, &bar.low, &bar.close, &bar.volume}) {
    *v = static_cast<float>(*v);
  }
  bar.rawClose = 0;
  return bar;
}

// Fetches a file, unpacks it to a file of the temporary folder and gives
// its path.
std::string Unpacked(CSimArchive& archive, const TempDir& dir, const std::string& name) {
  std::shared_ptr<const std::string> gzip;
  EXPECT_EQ(archive.Fetch(name, gzip), 200) << name;
  std::string bytes;
  EXPECT_TRUE(gzip && Gunzip(*gzip, bytes)) << name;
  const std::string path = dir.Sub(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(SimArchiveTest, FilesReadBackWithTheSystemsReadersAsTheMarket) {
  const CSimMarket& market = SmallMarket();
  CSimArchive archive(market);
  TempDir dir;

  CBrandMap brands, expectedBrands;
  ASSERT_TRUE(brands.Load(Unpacked(archive, dir, "brand-20240615.bin")));
  market.BrandsOn(CDate(2024, 6, 15), expectedBrands);
  ASSERT_GT(brands.Size(), 20u);
  EXPECT_EQ(std::vector(brands.begin(), brands.end()),
            std::vector(expectedBrands.begin(), expectedBrands.end()));

  CDivideMap splits, expectedSplits;
  ASSERT_TRUE(splits.Load(Unpacked(archive, dir, "divide-20240615.bin")));
  market.SplitsUpTo(CDate(2024, 6, 15), expectedSplits);
  ASSERT_FALSE(splits.Empty());
  EXPECT_EQ(std::vector(splits.begin(), splits.end()),
            std::vector(expectedSplits.begin(), expectedSplits.end()));

  // Year files are made on their last day; a year before the market's
  // first has a header and no records.
  struct Case { const char* name; uint32_t from, to, made; };
  for (const Case& c : {Case{"price-2022.bin", 20220101, 20221231, 20221231},
                        {"priceyear-20240619.bin", 20240101, 20240619, 20240619},
                        {"price-2021.bin", 20210101, 20211231, 20211231}}) {
    SCOPED_TRACE(c.name);
    CChartTable table, expected;
    CArchiveFileHeader header;
    ASSERT_TRUE(ReadArchivePriceFile(Unpacked(archive, dir, c.name).c_str(), table, &header));
    EXPECT_EQ(header.madeDate, c.made);
    EXPECT_EQ(header.version, kArchiveVersion);
    // Prices as traded, narrowed to float32, without raw close.
    market.TradedBars(c.from, c.to, expected);
    for (auto& [code, chart] : expected) {
      for (CDayRecord& bar : chart) bar = AsInFile(bar);
    }
    EXPECT_EQ(table.empty(), c.from < 20220101);
    EXPECT_EQ(table, expected);
  }
  for (const Case& c : {Case{"margin-2023.bin", 20230101, 20231231, 0},
                        {"marginyear-20240619.bin", 20240101, 20240619, 0}}) {
    CMarginTable table, expected;
    ASSERT_TRUE(ReadArchiveMarginFile(Unpacked(archive, dir, c.name).c_str(), table));
    market.ReportedMargins(c.from, c.to, expected);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(table, expected) << c.name;
  }

  CChartTable latest, expectedLatest;
  ASSERT_TRUE(ReadArchivePriceFile(Unpacked(archive, dir, "pricelast-20240618.bin").c_str(), latest));
  market.LatestBars(CDate(2024, 6, 18), expectedLatest);
  ASSERT_GT(expectedLatest.size(), 20u);
  for (auto& [code, chart] : expectedLatest) chart[0] = AsInFile(chart[0]);
  EXPECT_EQ(latest, expectedLatest);
}

}  // namespace
