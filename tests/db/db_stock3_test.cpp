#include "db/db_stock3.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "support/cp932.h"
#include "tests/common/decimal_comma_locale.h"
#include "tests/common/temp_dir.h"

namespace {

using Codes = std::vector<std::string>;
using Bars = std::vector<CDayRecord>;
using Splits = std::vector<CDBStock3::CodeDivide>;

CBrandRecord Brand(std::string code, std::string name, std::string market = "東証プライム",
                   std::string industry = "電気機器") {
  return {code, kKindStock, market, industry, name, 100, 2, 1234567890.0, 12.5, 101.25, 2000.5};
}

CDayRecord Bar(std::uint32_t date, double close) {
  CDayRecord bar;
  bar.SetDateNumber(date);
  bar.open = close - 1;
  bar.high = close + 2;
  bar.low = close - 3.5;
  bar.close = close;
  bar.volume = 150000;
  return bar;
}

CDate Day(std::uint32_t n) { return CDate(n / 10000, n / 100 % 100, n % 100); }

// The answers for an issue with no row, on an open or a closed database;
// the out parameters keep what they held.
void ExpectAbsent(CDBStock3& db, const std::string& code) {
  SCOPED_TRACE(code);
  CBrandRecord brand = Brand("1", "keep");
  CDayRecord bar = Bar(20240305, 1);
  EXPECT_FALSE(db.GetBrand(code, brand) || db.GetLastChart(code, bar));
  EXPECT_TRUE(brand == Brand("1", "keep") && bar == Bar(20240305, 1));
  EXPECT_EQ(-1, db.GetUnit(code));
  EXPECT_EQ("", db.GetName(code) + db.GetMarket(code) + db.GetIndustry(code));
  EXPECT_EQ(0u, db.GetLastDate(code));
  EXPECT_EQ(0.0, db.GetLastClose(code));
}

class DBStock3Test : public ::testing::Test {
 protected:
  // Every case runs where the decimal separator is a comma: statements and
  // cells must still use a point.
  void SetUp() override {
    ASSERT_TRUE(locale_.Active());
    const std::string path = dir_.Sub("stock.mdb");
    ASSERT_TRUE(db_.CreateDatabase(path) && db_.Open(path) && db_.CreateTables());
  }

  // Every write that quotes the code, the second of a pair taking the
  // update path; split and margin as in kSplit and kMargin, closes 7 to 9.
  std::vector<bool> Writes(const std::string& code) {
    const CBrandRecord b = Brand(code, code, code, code);
    return {db_.InsertBrand(b), db_.UpdateBrand(b), db_.WriteBrand(b),
            db_.WriteDivide(code, kSplit), db_.WriteDivide(code, kSplit),
            db_.WriteMargin(code, kMargin), db_.WriteMargin(code, kMargin),
            db_.InsertChart(code, Bar(20240305, 7)), db_.UpdateChart(code, Bar(20240305, 8)),
            db_.WriteChart(code, Bar(20240305, 9))};
  }
  const CDivideRecord kSplit{Day(20240301), 1.5};
  const CMarginRecord kMargin{Day(20240301), 10, 20.5};
  DecimalCommaLocale locale_;
  TempDir dir_;
  CDBStock3 db_;
};

TEST_F(DBStock3Test, SchemaBuiltInIssuesCodeRangesAndDisplayOrders) {
  EXPECT_FALSE(db_.CreateTables());  // the tables exist
  const char* rows[][3] = {{"9984", "名証メイン", "化学"}, {"130A", "東証プライム", "業種なし"},
                           {"1301", "札証", "電気機器"}, {"7203", "東証グロース", "化学"}};
  for (auto& row : rows) ASSERT_TRUE(db_.WriteBrand(Brand(row[0], "n", row[1], row[2])));
  // The second write of a code takes the update path; InsertBrand alone
  // stores the margin status as 0 or 1, and never updates.
  CBrandRecord toyota = Brand("7203", "トヨタ自動車(株)", "東証グロース", "化学");
  toyota.unit = 1000;
  ASSERT_TRUE(db_.WriteBrand(toyota));
  CBrandRecord sony = Brand("6758", "ソニーグループ");
  ASSERT_TRUE(db_.InsertBrand(sony));
  EXPECT_FALSE(db_.InsertBrand(sony));
  sony.lendable = 1;
  EXPECT_EQ("トヨタ自動車(株)/東証グロース/化学/1000",
            db_.GetName("7203") + "/" + db_.GetMarket("7203") + "/" + db_.GetIndustry("7203") +
                "/" + std::to_string(db_.GetUnit("7203")));
  Codes codes;
  ASSERT_TRUE(db_.GetIndustries(codes));
  EXPECT_EQ((Codes{"電気機器", "化学", "業種なし"}), codes);
  ASSERT_TRUE(db_.GetMarkets(codes));
  EXPECT_EQ((Codes{"東証グロース", "東証プライム", "名証メイン", "札証"}), codes);

  ASSERT_TRUE(db_.RegisterPrivateBrands());
  EXPECT_FALSE(db_.RegisterPrivateBrands());  // collides with the first
  std::vector<CBrandRecord> brands;
  ASSERT_TRUE(db_.GetAllBrands(brands) && brands.size() == 19);
  // An empty CHAR(20) value comes back as its twenty blanks.
  const std::string b20(20, ' ');
  EXPECT_EQ((CBrandRecord{"1001", kKindIndex, b20, b20, "日経平均", 1}), brands[0]);
  EXPECT_EQ(sony, brands[16]);  // every field
  EXPECT_EQ(toyota, brands[17]);
  ASSERT_TRUE(db_.GetCurrencyCodes(codes));
  EXPECT_EQ(9u, codes.size());
  ASSERT_TRUE(db_.GetPrivateCodes(codes));
  EXPECT_EQ(14u, codes.size());
  ASSERT_TRUE(db_.GetStockCodes(codes));
  EXPECT_EQ((Codes{"1301", "130A", "6758", "7203", "9984"}), codes);  // compared as text
  ASSERT_TRUE(db_.GetCodesFrom(codes, ""));
  EXPECT_EQ(19u, codes.size());
  ASSERT_TRUE(db_.DeleteAllBrands() && db_.GetCodesFrom(codes, ""));
  EXPECT_TRUE(codes.empty());
}

// Codes made of apostrophes, lead bytes (before an apostrophe, before a
// byte that cannot follow one, at the end) and 0x5C trail bytes (表 and ソ
// end with it) go through every statement that quotes a text, as code,
// name, market and industry. An apostrophe left single would end the text
// early; a lone 0x82 taken as a character with the apostrophe after it
// would leave the rest outside the quotes. Each must run and touch the rows
// of its own code only.
TEST_F(DBStock3Test, OddCodesGoThroughEveryQuotingStatement) {
  const CBrandRecord keep = Brand("0000", "keep");
  ASSERT_TRUE(db_.WriteBrand(keep) && db_.WriteDivide("0000", kSplit) &&
              db_.WriteMargin("0000", kMargin) && db_.WriteChart("0000", Bar(20240305, 5)));
  for (const std::string text : {"'", "''0000", "\x82'", "\x82\x01'", "a\xE0", "\x95\x5C'",
                                 "\\'", "\xFF\x81", "0000'--", "O'N表\\ソ''"}) {
    SCOPED_TRACE(::testing::PrintToString(text));
    ASSERT_EQ(std::vector<bool>(10, true), Writes(text));
    CBrandRecord back;
    Codes codes;
    Splits splits;
    std::vector<CMarginRecord> margins, range;
    Bars bars, barRange;
    CDayRecord last;
    bool exists = false;
    ASSERT_TRUE(db_.GetBrand(text, back) && db_.GetCodesFrom(codes, text) &&
                db_.GetDivides(text, splits) && db_.GetMargins(text, margins) &&
                db_.GetMarginRange(text, Day(20240101), Day(20241231), range) &&
                db_.GetCharts(text, bars) && db_.HasChart(text, Day(20240305), exists) &&
                db_.GetChartRange(text, Day(20240101), Day(20241231), barRange) &&
                db_.GetLastChart(text, last));
    EXPECT_EQ(Cp932FromUtf8(Utf8FromCp932(text)), db_.GetName(text));
    EXPECT_TRUE(exists && splits.size() == 1 && margins.size() == 1 && range.size() == 1 &&
                bars.size() == 1 && barRange.size() == 1);
    EXPECT_EQ(100, db_.GetUnit(text) + db_.GetMarket(text).empty() + db_.GetIndustry(text).empty());
    EXPECT_EQ(9.0, db_.GetLastClose(text));
    EXPECT_EQ(20240305u, db_.GetLastDate(text));

    ASSERT_TRUE(db_.DeleteDivides(text) && db_.DeleteMargins(text) && db_.DeleteCharts(text) &&
                db_.DeleteBrand(text));
    ExpectAbsent(db_, text);
    // The other issue keeps every row.
    ASSERT_TRUE(db_.GetBrand("0000", back) && db_.GetDivides("0000", splits) &&
                db_.GetMargins("0000", margins) && db_.GetCharts("0000", bars));
    EXPECT_TRUE(keep == back && splits.size() == 1 && margins.size() == 1 && bars.size() == 1);
  }

  db_.Close();
  ExpectAbsent(db_, "0000");
  EXPECT_EQ(0u, db_.GetLastDateAll());
  EXPECT_FALSE(db_.WriteBrand(Brand("7203", "x")));
  Codes codes{"keep"};
  EXPECT_FALSE(db_.GetCodesFrom(codes, ""));
  EXPECT_EQ(Codes{"keep"}, codes);
}

// A code longer than the code column holds is refused by every write, with
// a truncation error, before any statement runs; 20 bytes go in.
TEST_F(DBStock3Test, CodesLongerThanTheColumnAreRefused) {
  for (const std::string& code : {std::string(21, '1'), std::string("1301'); DELETE FROM 銘柄; --")}) {
    EXPECT_EQ(std::vector<bool>(10, false), Writes(code));
    std::string error;
    db_.GetError(&error);
    EXPECT_EQ("22001", error.substr(0, 5));
  }
  Codes codes;
  ASSERT_TRUE(db_.GetCodesFrom(codes, ""));
  EXPECT_TRUE(codes.empty() && db_.GetLastDateAll() == 0);
  EXPECT_EQ(std::vector<bool>(10, true), Writes(std::string(20, '1')));
  // No statement holds a number that is not finite.
  CBrandRecord odd = Brand("7203", "n");
  odd.eps = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(db_.WriteBrand(odd));
  EXPECT_FALSE(db_.WriteDivide("7203", {Day(20240301), std::numeric_limits<double>::quiet_NaN()}));
}

TEST_F(DBStock3Test, SplitsAndMarginsAreKeyedByCodeAndDate) {
  for (auto [d, ratio] : {std::pair{20240401, 2.0}, {20240401, 3.0}, {20210927, 5.0}})
    ASSERT_TRUE(db_.WriteDivide("7203", {Day(d), ratio}));  // the same key again: updated
  ASSERT_TRUE(db_.WriteDivide("6758", {Day(20230101), 1.5}));
  Splits splits;
  ASSERT_TRUE(db_.GetDivides("7203", splits));
  EXPECT_EQ((Splits{{"7203", {Day(20210927), 5}}, {"7203", {Day(20240401), 3}}}), splits);
  ASSERT_TRUE(db_.GetAllDivides(splits) && splits.size() == 3);
  EXPECT_EQ("6758", splits[1].first);  // date order across issues
  ASSERT_TRUE(db_.DeleteDivides("7203") && db_.GetAllDivides(splits) && splits.size() == 1);
  ASSERT_TRUE(db_.DeleteAllDivides() && db_.GetAllDivides(splits) && splits.empty());

  for (auto [d, buy] :
       {std::pair{20240105, 5.0}, {20240112, 12.0}, {20240119, 19.0}, {20240112, 1.0}})
    ASSERT_TRUE(db_.WriteMargin("7203", {Day(d), buy, buy + 0.25}));  // the last one updates
  std::vector<CMarginRecord> rows;
  ASSERT_TRUE(db_.GetMarginRange("7203", Day(20240110), Day(20240119), rows));
  EXPECT_EQ((std::vector<CMarginRecord>{{Day(20240112), 1, 1.25}, {Day(20240119), 19, 19.25}}), rows);
  ASSERT_TRUE(db_.DeleteMarginRange(Day(20240101), Day(20240112)) && db_.GetMargins("7203", rows));
  EXPECT_EQ(1u, rows.size());
  ASSERT_TRUE(db_.DeleteAllMargins() && db_.GetMargins("7203", rows) && rows.empty());
}

TEST_F(DBStock3Test, BarsSortAsDatesAndTheLatestIsFound) {
  // 2024/10/1 must sort after 2024/9/30 although its text sorts before.
  for (const CDayRecord& bar : {Bar(20241001, 300), Bar(20240930, 200), Bar(20240305, 100),
                                Bar(20241001, 301)})  // the last one updates
    ASSERT_TRUE(db_.WriteChart("7203", bar));
  ASSERT_TRUE(db_.WriteChart("6758", Bar(20241002, 50)));
  Bars bars;
  ASSERT_TRUE(db_.GetCharts("7203", bars));
  EXPECT_EQ((Bars{Bar(20240305, 100), Bar(20240930, 200), Bar(20241001, 301)}), bars);
  ASSERT_TRUE(db_.GetChartRange("7203", Day(20240901), Day(20241001), bars));
  EXPECT_EQ((Bars{Bar(20240930, 200), Bar(20241001, 301)}), bars);

  EXPECT_EQ(20241001u, db_.GetLastDate("7203"));
  EXPECT_EQ(301.0, db_.GetLastClose("7203"));
  EXPECT_EQ(20241001u, db_.GetReferenceLastDate());
  EXPECT_EQ(20241002u, db_.GetLastDateAll());
  CDayRecord last;
  ASSERT_TRUE(db_.GetLastChart("7203", last));
  EXPECT_EQ(Bar(20241001, 301), last);

  bool on = false, off = true;
  ASSERT_TRUE(db_.HasChart("7203", Day(20240930), on) && db_.HasChart("7203", Day(20240929), off));
  EXPECT_TRUE(on && !off);
  std::vector<CDBStock3::CodeBar> day;
  ASSERT_TRUE(db_.GetChartsOfDay(Day(20241002), day));
  EXPECT_EQ((std::vector<CDBStock3::CodeBar>{{"6758", Bar(20241002, 50)}}), day);

  ASSERT_TRUE(db_.DeleteChartDay(Day(20241001)));
  EXPECT_EQ(20240930u, db_.GetLastDate("7203"));
  ASSERT_TRUE(db_.DeleteChartRange(Day(20240101), Day(20240930)));
  EXPECT_EQ(0u, db_.GetLastDate("7203"));
  EXPECT_EQ(0u, db_.GetReferenceLastDate());  // 7203 has no bar left
  EXPECT_EQ(20241002u, db_.GetLastDateAll());
  ASSERT_TRUE(db_.DeleteAllCharts());
  EXPECT_EQ(0u, db_.GetLastDateAll());
}

}  // namespace
