#include "db/db_stock3.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/temp_dir.h"

namespace {

using Codes = std::vector<std::string>;

CBrandRecord Brand(const std::string& code, const std::string& name,
                   const std::string& market = "東証プライム",
                   const std::string& industry = "電気機器") {
  CBrandRecord b;
  b.code = code;
  b.kind = kKindStock;
  b.market = market;
  b.industry = industry;
  b.name = name;
  b.unit = 100;
  b.lendable = 2;
  b.sharesOutstanding = 1234567890.0;
  b.dividend = 12.5;
  b.eps = 101.25;
  b.bps = 2000.5;
  return b;
}

CDayRecord Bar(std::uint32_t date, double close) {
  CDayRecord bar;
  bar.SetDateNumber(date);
  bar.open = close - 1;
  bar.high = close + 2;
  bar.low = close - 3;
  bar.close = close;
  bar.volume = 150000;
  return bar;
}

CDate Day(std::uint32_t number) {
  CDate d;
  d.FromNumber(number);
  return d;
}

class DBStock3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.Sub("stock.mdb");
    ASSERT_TRUE(db_.CreateDatabase(path_));
    ASSERT_TRUE(db_.Open(path_));
    ASSERT_TRUE(db_.CreateTables());
  }

  TempDir dir_;
  std::string path_;
  CDBStock3 db_;
};

TEST_F(DBStock3Test, CreateTablesOnAnExistingSchemaFailsAtTheFirstTable) {
  EXPECT_FALSE(db_.CreateTables());
  std::string error;
  db_.GetError(&error);
  EXPECT_EQ("42S01", error.substr(0, 5));
}

TEST_F(DBStock3Test, RegistersTheFourteenBuiltInIssues) {
  ASSERT_TRUE(db_.RegisterPrivateBrands());
  std::vector<CBrandRecord> brands;
  ASSERT_TRUE(db_.GetAllBrands(brands));
  ASSERT_EQ(14u, brands.size());
  EXPECT_EQ("1001", brands[0].code);
  EXPECT_EQ("日経平均", brands[0].name);
  EXPECT_EQ(kKindIndex, brands[0].kind);
  EXPECT_EQ(1u, brands[0].unit);
  // An empty CHAR(20) value comes back as its twenty blanks.
  EXPECT_EQ(std::string(20, ' '), brands[0].market);
  EXPECT_EQ("1109", brands.back().code);
  EXPECT_EQ("香港ドル／円", brands.back().name);
  // A second registration collides with the first and fails.
  EXPECT_FALSE(db_.RegisterPrivateBrands());

  Codes codes;
  ASSERT_TRUE(db_.GetCurrencyCodes(codes));
  EXPECT_EQ(9u, codes.size());
  ASSERT_TRUE(db_.GetPrivateCodes(codes));
  EXPECT_EQ(14u, codes.size());
}

TEST_F(DBStock3Test, WriteBrandInsertsThenUpdatesOneRow) {
  CBrandRecord b = Brand("7203", "トヨタ自動車");
  ASSERT_TRUE(db_.WriteBrand(b));
  b.name = "トヨタ自動車(株)";
  b.unit = 1000;
  ASSERT_TRUE(db_.WriteBrand(b));
  std::vector<CBrandRecord> all;
  ASSERT_TRUE(db_.GetAllBrands(all));
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ(b, all[0]);  // every field back as written, lendable 2 kept
  EXPECT_EQ(1000, db_.GetUnit("7203"));
  EXPECT_EQ("トヨタ自動車(株)", db_.GetName("7203"));
  EXPECT_EQ("東証プライム", db_.GetMarket("7203"));
  EXPECT_EQ("電気機器", db_.GetIndustry("7203"));
}

TEST_F(DBStock3Test, InsertBrandStoresTheMarginStatusAsZeroOrOne) {
  CBrandRecord b = Brand("6758", "ソニーグループ");
  ASSERT_TRUE(db_.InsertBrand(b));
  EXPECT_FALSE(db_.InsertBrand(b));  // the key exists
  CBrandRecord back;
  ASSERT_TRUE(db_.GetBrand("6758", back));
  EXPECT_EQ(1u, back.lendable);
  b.lendable = 0;
  ASSERT_TRUE(db_.UpdateBrand(b));
  ASSERT_TRUE(db_.GetBrand("6758", back));
  EXPECT_EQ(0u, back.lendable);
}

TEST_F(DBStock3Test, TextsWithApostrophesBackslashesAnd5CTrailBytesRoundTrip) {
  // 表 and ソ end with the byte 0x5C; the apostrophes would end the text
  // value early if they were not doubled.
  CBrandRecord b = Brand("130A", "O'Neil表\\ソ''", "東証グロース", "サービス業'");
  ASSERT_TRUE(db_.WriteBrand(b));
  ASSERT_TRUE(db_.WriteBrand(b));  // the update path quotes the same way
  CBrandRecord back;
  ASSERT_TRUE(db_.GetBrand("130A", back));
  EXPECT_EQ(b, back);
  // A hostile name stays a name.
  CBrandRecord evil = Brand("9999", "x'); DELETE FROM 銘柄; --");
  ASSERT_TRUE(db_.WriteBrand(evil));
  EXPECT_EQ(evil.name, db_.GetName("9999"));
  EXPECT_EQ("O'Neil表\\ソ''", db_.GetName("130A"));
  ASSERT_TRUE(db_.DeleteBrand("130A"));
  EXPECT_EQ("", db_.GetName("130A"));
}

TEST_F(DBStock3Test, AbsentIssuesGiveTheFailureValues) {
  CBrandRecord untouched = Brand("1", "keep");
  EXPECT_FALSE(db_.GetBrand("7203", untouched));
  EXPECT_EQ("keep", untouched.name);
  EXPECT_EQ(-1, db_.GetUnit("7203"));
  EXPECT_EQ("", db_.GetName("7203"));
  EXPECT_EQ(0u, db_.GetLastDate("7203"));
  EXPECT_EQ(0.0, db_.GetLastClose("7203"));
  EXPECT_EQ(0u, db_.GetLastDateAll());
  CDayRecord bar;
  EXPECT_FALSE(db_.GetLastChart("7203", bar));
}

TEST_F(DBStock3Test, CodeRangesCompareAsText) {
  ASSERT_TRUE(db_.RegisterPrivateBrands());
  for (const char* code : {"1301", "130A", "7203", "9984"}) {
    ASSERT_TRUE(db_.WriteBrand(Brand(code, "n")));
  }
  Codes codes;
  ASSERT_TRUE(db_.GetStockCodes(codes));
  EXPECT_EQ((Codes{"1301", "130A", "7203", "9984"}), codes);
  ASSERT_TRUE(db_.GetCodesFrom(codes, "7"));
  EXPECT_EQ((Codes{"7203", "9984"}), codes);
  ASSERT_TRUE(db_.GetCodesFrom(codes, ""));
  EXPECT_EQ(18u, codes.size());
}

TEST_F(DBStock3Test, IndustriesAndMarketsComeInDisplayOrder) {
  ASSERT_TRUE(db_.WriteBrand(Brand("1301", "a", "名証メイン", "化学")));
  ASSERT_TRUE(db_.WriteBrand(Brand("1302", "b", "東証プライム", "業種なし")));
  ASSERT_TRUE(db_.WriteBrand(Brand("1303", "c", "札証", "電気機器")));
  ASSERT_TRUE(db_.WriteBrand(Brand("1304", "d", "東証グロース", "化学")));
  Codes list;
  ASSERT_TRUE(db_.GetIndustries(list));
  EXPECT_EQ((Codes{"電気機器", "化学", "業種なし"}), list);
  ASSERT_TRUE(db_.GetMarkets(list));
  ASSERT_EQ(4u, list.size());
  EXPECT_EQ("名証メイン", list[2]);
  EXPECT_EQ("札証", list[3]);
}

TEST_F(DBStock3Test, SplitsAreKeyedByCodeAndDate) {
  CDivideRecord d;
  d.date = Day(20240401);
  d.ratio = 2.0;
  ASSERT_TRUE(db_.WriteDivide("7203", d));
  d.ratio = 3.0;
  ASSERT_TRUE(db_.WriteDivide("7203", d));  // same key: updated
  d.date = Day(20210927);
  d.ratio = 5.0;
  ASSERT_TRUE(db_.WriteDivide("7203", d));
  d.date = Day(20230101);
  d.ratio = 1.5;
  ASSERT_TRUE(db_.WriteDivide("6758", d));

  std::vector<CDBStock3::CodeDivide> splits;
  ASSERT_TRUE(db_.GetDivides("7203", splits));
  ASSERT_EQ(2u, splits.size());
  EXPECT_EQ(20210927u, splits[0].second.date.ToNumber());
  EXPECT_EQ(5.0, splits[0].second.ratio);
  EXPECT_EQ(3.0, splits[1].second.ratio);
  EXPECT_EQ("7203", splits[1].first);

  ASSERT_TRUE(db_.GetAllDivides(splits));
  ASSERT_EQ(3u, splits.size());
  EXPECT_EQ("6758", splits[1].first);  // date order across issues
  ASSERT_TRUE(db_.DeleteDivides("7203"));
  ASSERT_TRUE(db_.GetAllDivides(splits));
  EXPECT_EQ(1u, splits.size());
}

TEST_F(DBStock3Test, MarginBalancesWriteAndReadByRange) {
  for (std::uint32_t date : {20240105u, 20240112u, 20240119u}) {
    CMarginRecord m;
    m.date = Day(date);
    m.buy = date % 100 * 1000.0;
    m.sell = 7.0;
    ASSERT_TRUE(db_.WriteMargin("7203", m));
  }
  CMarginRecord m;
  m.date = Day(20240112);
  m.buy = 1.0;
  m.sell = 2.0;
  ASSERT_TRUE(db_.WriteMargin("7203", m));

  std::vector<CMarginRecord> margins;
  ASSERT_TRUE(db_.GetMargins("7203", margins));
  ASSERT_EQ(3u, margins.size());
  EXPECT_EQ(1.0, margins[1].buy);
  ASSERT_TRUE(db_.GetMarginRange("7203", Day(20240110), Day(20240119), margins));
  ASSERT_EQ(2u, margins.size());
  EXPECT_EQ(20240119u, margins[1].date.ToNumber());
  ASSERT_TRUE(db_.DeleteMarginRange(Day(20240101), Day(20240112)));
  ASSERT_TRUE(db_.GetMargins("7203", margins));
  EXPECT_EQ(1u, margins.size());
}

TEST_F(DBStock3Test, BarsSortAsDatesAndTheLatestIsFound) {
  // 2024/10/1 must sort after 2024/9/30 although its text sorts before.
  ASSERT_TRUE(db_.WriteChart("7203", Bar(20241001, 300)));
  ASSERT_TRUE(db_.WriteChart("7203", Bar(20240930, 200)));
  ASSERT_TRUE(db_.WriteChart("7203", Bar(20240305, 100)));
  ASSERT_TRUE(db_.WriteChart("7203", Bar(20241001, 301)));  // update
  ASSERT_TRUE(db_.WriteChart("6758", Bar(20241002, 50)));

  std::vector<CDayRecord> bars;
  ASSERT_TRUE(db_.GetCharts("7203", bars));
  ASSERT_EQ(3u, bars.size());
  EXPECT_EQ(20240305u, bars[0].DateNumber());
  EXPECT_EQ(20241001u, bars[2].DateNumber());
  EXPECT_EQ(301.0, bars[2].close);
  EXPECT_EQ(150000.0, bars[2].volume);

  EXPECT_EQ(20241001u, db_.GetLastDate("7203"));
  EXPECT_EQ(301.0, db_.GetLastClose("7203"));
  EXPECT_EQ(20241001u, db_.GetReferenceLastDate());
  EXPECT_EQ(20241002u, db_.GetLastDateAll());
  CDayRecord last;
  ASSERT_TRUE(db_.GetLastChart("7203", last));
  EXPECT_EQ(Bar(20241001, 301).high, last.high);

  ASSERT_TRUE(db_.GetChartRange("7203", Day(20240901), Day(20241001), bars));
  EXPECT_EQ(2u, bars.size());

  bool exists = false;
  ASSERT_TRUE(db_.HasChart("7203", Day(20240930), exists));
  EXPECT_TRUE(exists);
  ASSERT_TRUE(db_.HasChart("7203", Day(20240929), exists));
  EXPECT_FALSE(exists);

  std::vector<CDBStock3::CodeBar> day;
  ASSERT_TRUE(db_.GetChartsOfDay(Day(20241002), day));
  ASSERT_EQ(1u, day.size());
  EXPECT_EQ("6758", day[0].first);
  EXPECT_EQ(20241002u, day[0].second.DateNumber());

  ASSERT_TRUE(db_.DeleteChartDay(Day(20241001)));
  EXPECT_EQ(20240930u, db_.GetLastDate("7203"));
  ASSERT_TRUE(db_.DeleteChartRange(Day(20240101), Day(20241231)));
  EXPECT_EQ(0u, db_.GetLastDateAll());
}

TEST_F(DBStock3Test, BulkDeletesEmptyTheirTables) {
  ASSERT_TRUE(db_.RegisterPrivateBrands());
  ASSERT_TRUE(db_.WriteChart("7203", Bar(20240305, 1)));
  ASSERT_TRUE(db_.DeleteAllBrands());
  ASSERT_TRUE(db_.DeleteAllCharts());
  ASSERT_TRUE(db_.DeleteAllDivides());
  ASSERT_TRUE(db_.DeleteAllMargins());
  Codes codes;
  ASSERT_TRUE(db_.GetCodesFrom(codes, ""));
  EXPECT_TRUE(codes.empty());
  EXPECT_EQ(0u, db_.GetLastDateAll());
}

TEST_F(DBStock3Test, AClosedDatabaseFailsEveryOperationAndKeepsOutputs) {
  db_.Close();
  EXPECT_FALSE(db_.WriteBrand(Brand("7203", "x")));
  EXPECT_FALSE(db_.CreateTables());
  Codes codes{"keep"};
  EXPECT_FALSE(db_.GetCodesFrom(codes, ""));
  EXPECT_EQ(Codes{"keep"}, codes);
  EXPECT_EQ(-1, db_.GetUnit("7203"));
  EXPECT_EQ(0u, db_.GetLastDateAll());
  bool exists = true;
  EXPECT_FALSE(db_.HasChart("7203", Day(20240305), exists));
}

TEST(DBStock3InstanceTest, IsOneObjectCreatedClosed) {
  CDBStock3& a = CDBStock3::Instance();
  EXPECT_EQ(&a, &CDBStock3::Instance());
}

}  // namespace
