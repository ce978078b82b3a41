#include "db/private_brand.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "db/brand_record.h"

// This file is compiled with CP932 literals.

using Entry = CPrivateBrand::Entry;

TEST(PrivateBrandTest, TableHoldsTheFourteenIssues) {
  CPrivateBrand::Map map;
  map[42] = Entry{42, 1, "x", 0, "", ""};  // CopyTo replaces, not merges
  CPrivateBrand::Instance().CopyTo(map);
  std::vector<std::int32_t> codes;
  for (const auto& [code, entry] : map) {
    EXPECT_EQ(code, entry.code);
    codes.push_back(code);
  }
  EXPECT_EQ((std::vector<std::int32_t>{1001, 1002, 1003, 1004, 1051, 1101, 1102,
                                       1103, 1104, 1105, 1106, 1107, 1108, 1109}),
            codes);
  EXPECT_EQ((Entry{1003, kKindIndex, "JASDAQ指数", 900,
                   "/contents/marketdetail.aspx?&cntcode=JP&skubun=0"
                   "&stkcode=0091&exctype=01&contents=2",
                   "/contents/marketdetail.aspx?&cntcode=JP&skubun=0"
                   "&stkcode=0091&exctype=01"}),
            map[1003]);
  EXPECT_EQ((Entry{1051, kKindFutures, "日経225先物", 0, "", ""}), map[1051]);

  // Every currency page differs from the others only by its pair.
  const char* const pairs[] = {"USDJPY", "EURJPY", "GBPJPY", "AUDJPY", "NZDJPY",
                               "CADJPY", "ZARJPY", "CHFJPY", "HKDJPY"};
  for (std::int32_t code = 1101; code <= 1109; ++code) {
    const Entry& e = map[code];
    const std::string pair = pairs[code - 1101];
    EXPECT_EQ(kKindCurrency, e.kind) << code;
    EXPECT_EQ("/contents/historicalTbody.aspx?cntcode=US&skubun=8&stkcode=" +
                  pair + "&exctype=000&pnum=3M", e.historyPage);
    EXPECT_EQ("/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=" + pair +
                  "&exctype=000", e.detailPage);
    EXPECT_NE(std::string::npos, e.name.find("\x81\x5E\x89\x7E"))  // "／円"
        << code;
  }
  EXPECT_EQ(592, map[1107].sourceNumber);
}

TEST(PrivateBrandTest, FindByDecimalValueOfTheText) {
  const CPrivateBrand& brands = CPrivateBrand::Instance();
  Entry dollar = brands.Find("1101");
  EXPECT_EQ("米ドル／円", dollar.name);
  EXPECT_EQ("/contents/marketdetail.aspx?&cntcode=US&skubun=8&stkcode=USDJPY"
            "&exctype=000", dollar.detailPage);
  Entry dow = brands.Find("1004");
  EXPECT_EQ((Entry{1004, kKindIndex, "NYダウ", 0, "", ""}), dow);

  // 4294968297 is 2^32 + 1001 and must not wrap onto 1001.
  for (const char* text : {"9999", "", "abc", "-1001", "4294968297"}) {
    EXPECT_EQ(Entry(), brands.Find(text)) << text;
  }
  EXPECT_EQ(1051, brands.Find(" +1051").code);
  EXPECT_EQ(1003, brands.Find("01003").code);
  EXPECT_EQ(1002, brands.Find("1002x").code);
}

TEST(PrivateBrandTest, ConcurrentFirstCallsShareOneInstance) {
  std::vector<const CPrivateBrand*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &CPrivateBrand::Instance(); });
  }
  for (std::thread& t : threads) t.join();
  for (const CPrivateBrand* p : seen) EXPECT_EQ(&CPrivateBrand::Instance(), p);
}

TEST(PrivateBrandTest, KindNames) {
  const char* const names[] = {"なし", "株", "ETF", "指数", "為替", "先物", "REIT"};
  for (std::int32_t kind = 0; kind <= 6; ++kind) {
    EXPECT_EQ(names[kind], CPrivateBrand::KindName(kind));
  }
  EXPECT_EQ("(不明)", CPrivateBrand::KindName(7));
  EXPECT_EQ("(不明)", KindName(-1));
}

TEST(PrivateBrandCodeTest, NumericAndStockCodes) {
  EXPECT_TRUE(CPrivateBrand::IsNumericCode("123456789012345678901234"));
  for (const char* text : {"", " 12", "12 ", "+12", "1.5", "12a", "７２"}) {
    EXPECT_FALSE(CPrivateBrand::IsNumericCode(text)) << text;
  }
  EXPECT_FALSE(CPrivateBrand::IsNumericCode(std::string("12\0" "3", 4)));

  for (const char* text : {"7203", "123", "130A"}) {
    EXPECT_TRUE(CPrivateBrand::IsStockCode(text)) << text;
  }
  for (const char* text : {"12", "12345", "7203a", "130AB", "A130", "7203\n"}) {
    EXPECT_FALSE(CPrivateBrand::IsStockCode(text)) << text;
  }
}

TEST(PrivateBrandCodeTest, CurrencyPrivateAndPortalCodes) {
  EXPECT_TRUE(CPrivateBrand::IsCurrencyCode("1100"));
  EXPECT_TRUE(CPrivateBrand::IsCurrencyCode("1199"));
  for (const char* text : {"1099", "1200", "01101", "+110", " 1101"}) {
    EXPECT_FALSE(CPrivateBrand::IsCurrencyCode(text)) << text;
  }
  for (const char* text : {"1001", "12345", "0", "1299", "10000"}) {
    EXPECT_TRUE(CPrivateBrand::IsPrivateCode(text)) << text;
  }
  for (const char* text : {"1300", "7203", "9999", "130A", "", "-5"}) {
    EXPECT_FALSE(CPrivateBrand::IsPrivateCode(text)) << text;
  }
  for (const char* text : {"1001", "1003", "1105", "1199"}) {
    EXPECT_TRUE(CPrivateBrand::HasPortalPage(text)) << text;
  }
  for (const char* text : {"1000", "1004", "1051", "1200", "7203"}) {
    EXPECT_FALSE(CPrivateBrand::HasPortalPage(text)) << text;
  }
}

TEST(PrivateBrandCodeTest, DecimalValueReadsTheLeadingNumber) {
  EXPECT_EQ(0, CPrivateBrand::DecimalValue("-"));
  EXPECT_EQ(-12, CPrivateBrand::DecimalValue(" \t-12x3"));
  EXPECT_EQ(130, CPrivateBrand::DecimalValue("130A"));
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(kMax, CPrivateBrand::DecimalValue("9223372036854775807"));
  EXPECT_EQ(kMax, CPrivateBrand::DecimalValue("99999999999999999999999"));
  EXPECT_EQ(-kMax - 1, CPrivateBrand::DecimalValue("-9223372036854775808"));
  EXPECT_EQ(-kMax - 1, CPrivateBrand::DecimalValue("-99999999999999999999"));
}
