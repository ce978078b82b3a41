#include "tools/market-sim/sim_archive.h"

#include <gtest/gtest.h>

#include <fstream>

#include "series/archive_margin_file.h"
#include "series/archive_price_file.h"
#include "tests/common/temp_dir.h"
#include "tests/market_sim/sim_test_market.h"

namespace {

TEST(SimArchiveTest, ServesOnlyWellFormedNamesUpToToday) {
  CSimArchive archive(SmallMarket());
  struct Case {
    const char* name;
    bool served;
  } cases[] = {
      {"brand-20240615.bin", true},       // the Saturday before today
      {"divide-20240608.bin", true},
      {"brand-20240622.bin", false},      // a Saturday after today
      {"brand-20240614.bin", false},      // a Friday
      {"price-2023.bin", true},
      {"price-2021.bin", true},           // before the first year: no records
      {"price-2024.bin", false},          // the current year comes as priceyear
      {"price-202.bin", false},
      {"price-02023.bin", false},
      {"price-2023.bin.gz", false},
      {"priceyear-20240619.bin", true},   // today, a Wednesday
      {"priceyear-20240615.bin", false},  // a Saturday
      {"priceyear-20240620.bin", false},  // tomorrow
      {"pricelast-20240230.bin", false},  // no such day
      {"pricelast-20211230.bin", false},  // before the first date
      {"pricelast-20240618.bin", true},
      {"margin-2022.bin", true},
      {"marginyear-20240619.bin", true},  // a Wednesday
      {"marginyear-20240618.bin", false},  // a Tuesday
      {"brand-2024061.bin", false},
      {"brand-+2024061.bin", false},
      {"quote-20240619.bin", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<const std::string> gzip;
    EXPECT_EQ(archive.Fetch(c.name, gzip), c.served ? 200 : 404);
    EXPECT_EQ(gzip != nullptr, c.served);
  }
  // Made once, then served from memory.
  std::shared_ptr<const std::string> first, second;
  ASSERT_EQ(archive.Fetch("pricelast-20240618.bin", first), 200);
  ASSERT_EQ(archive.Fetch("pricelast-20240618.bin", second), 200);
  EXPECT_EQ(first, second);
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

  struct PriceCase {
    const char* name;
    uint32_t from, to, made;
  } prices[] = {
      {"price-2022.bin", 20220101, 20221231, 20221231},
      {"priceyear-20240619.bin", 20240101, 20240619, 20240619},
  };
  for (const PriceCase& c : prices) {
    SCOPED_TRACE(c.name);
    CChartTable table, expected;
    CArchiveFileHeader header;
    ASSERT_TRUE(ReadArchivePriceFile(Unpacked(archive, dir, c.name).c_str(), table, &header));
    EXPECT_EQ(header.madeDate, c.made);
    market.AdjustedBars(c.from, c.to, expected);
    ASSERT_EQ(table.size(), expected.size());
    for (auto& [code, chart] : expected) {
      for (CDayRecord& bar : chart) bar.rawClose = 0;  // the file has no raw close
      EXPECT_EQ(table[code], chart) << code;
    }
  }

  CChartTable latest, expectedLatest;
  ASSERT_TRUE(ReadArchivePriceFile(Unpacked(archive, dir, "pricelast-20240618.bin").c_str(),
                                   latest));
  market.LatestBars(CDate(2024, 6, 18), expectedLatest);
  ASSERT_GT(expectedLatest.size(), 20u);
  for (auto& [code, chart] : expectedLatest) chart[0].rawClose = 0;
  EXPECT_EQ(latest, expectedLatest);

  for (const char* name : {"margin-2023.bin", "marginyear-20240619.bin"}) {
    SCOPED_TRACE(name);
    CMarginTable table, expected;
    ASSERT_TRUE(ReadArchiveMarginFile(Unpacked(archive, dir, name).c_str(), table));
    if (name[6] == 'y') {
      market.AdjustedMargins(20240101, 20240619, expected);
    } else {
      market.AdjustedMargins(20230101, 20231231, expected);
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(table, expected);
  }

  // A year before the market's first: a header and no records.
  CChartTable none;
  CArchiveFileHeader header;
  ASSERT_TRUE(ReadArchivePriceFile(Unpacked(archive, dir, "price-2021.bin").c_str(), none,
                                   &header));
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(header.version, kArchiveVersion);
}

}  // namespace
