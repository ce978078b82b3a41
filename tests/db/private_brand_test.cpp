#include "db/private_brand.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "db/brand_record.h"

// This file is compiled with CP932 literals.

namespace {

using Entry = CPrivateBrand::Entry;
using P = CPrivateBrand;

TEST(PrivateBrandTest, TableHoldsTheFourteenIssues) {
  CPrivateBrand::Map map;
  map[42] = Entry{42, 1, "x", 0, "", ""};  // CopyTo replaces, not merges
  CPrivateBrand::Instance().CopyTo(map);
  std::vector<std::int32_t> codes;
  for (const auto& [code, entry] : map) codes.push_back(entry.code == code ? code : -code);
  EXPECT_EQ((std::vector<std::int32_t>{1001, 1002, 1003, 1004, 1051, 1101, 1102, 1103, 1104, 1105,
                                       1106, 1107, 1108, 1109}),
            codes);
  const std::string page = "/contents/marketdetail.aspx?&cntcode=JP&skubun=0&stkcode=0091"
                           "&exctype=01";
  EXPECT_EQ((Entry{1003, kKindIndex, "JASDAQ指数", 900, page + "&contents=2", page}), map[1003]);
  EXPECT_EQ((Entry{1051, kKindFutures, "日経225先物", 0, "", ""}), map[1051]);

  // Every currency page differs from the others only by its pair.
  const char* const pairs[] = {"USDJPY", "EURJPY", "GBPJPY", "AUDJPY", "NZDJPY",
                               "CADJPY", "ZARJPY", "CHFJPY", "HKDJPY"};
  for (std::int32_t code = 1101; code <= 1109; ++code) {
    const Entry& e = map[code];
    const std::string query = std::string("cntcode=US&skubun=8&stkcode=") + pairs[code - 1101];
    EXPECT_EQ(kKindCurrency, e.kind) << code;
    EXPECT_EQ("/contents/historicalTbody.aspx?" + query + "&exctype=000&pnum=3M", e.historyPage);
    EXPECT_EQ("/contents/marketdetail.aspx?&" + query + "&exctype=000", e.detailPage);
    EXPECT_NE(std::string::npos, e.name.find("\x81\x5E\x89\x7E")) << code;  // "／円"
  }
  EXPECT_EQ("米ドル／円", map[1101].name);
  EXPECT_EQ(592, map[1107].sourceNumber);
}

TEST(PrivateBrandTest, FindByDecimalValueOfTheTextAndKindNames) {
  const CPrivateBrand& brands = CPrivateBrand::Instance();
  EXPECT_EQ((Entry{1004, kKindIndex, "NYダウ", 0, "", ""}), brands.Find("1004"));
  // 4294968297 is 2^32 + 1001 and must not wrap onto 1001.
  for (const char* text : {"9999", "", "abc", "-1001", "4294968297"}) {
    EXPECT_EQ(Entry(), brands.Find(text)) << text;
  }
  EXPECT_EQ(1051, brands.Find(" +1051").code);
  EXPECT_EQ(1003, brands.Find("01003").code);
  EXPECT_EQ(1002, brands.Find("1002x").code);

  const char* const names[] = {"(不明)", "なし", "株", "ETF", "指数", "為替", "先物", "REIT",
                               "(不明)"};
  for (std::int32_t kind = -1; kind <= 7; ++kind) EXPECT_EQ(names[kind + 1], P::KindName(kind));
  EXPECT_EQ("(不明)", KindName(-1));
}

TEST(PrivateBrandCodeTest, CodeRules) {
  const struct { bool (*is)(const std::string&); std::vector<std::string> yes, no; } kRules[] = {
      {&P::IsNumericCode, {"123456789012345678901234"},
       {"", " 12", "12 ", "+12", "1.5", "12a", "７２", std::string("12\0" "3", 4)}},
      {&P::IsStockCode, {"7203", "123", "130A"},
       {"12", "12345", "7203a", "130AB", "A130", "7203\n"}},
      {&P::IsCurrencyCode, {"1100", "1199"}, {"1099", "1200", "01101", "+110", " 1101"}},
      {&P::IsPrivateCode, {"1001", "12345", "0", "1299", "10000"},
       {"1300", "7203", "9999", "130A", "", "-5"}},
      {&P::HasPortalPage, {"1001", "1003", "1105", "1199"},
       {"1000", "1004", "1051", "1200", "7203"}}};
  for (const auto& [is, yes, no] : kRules) {
    for (const std::string& text : yes) EXPECT_TRUE(is(text)) << text;
    for (const std::string& text : no) EXPECT_FALSE(is(text)) << text;
  }

  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const std::pair<const char*, std::int64_t> kValues[] = {
      {"-", 0}, {" \t-12x3", -12}, {"130A", 130}, {"9223372036854775807", kMax},
      {"99999999999999999999999", kMax}, {"-9223372036854775808", -kMax - 1},
      {"-99999999999999999999", -kMax - 1}};
  for (const auto& [text, value] : kValues) EXPECT_EQ(value, P::DecimalValue(text)) << text;
}

}  // namespace
