#include "web/web_number.h"

#include <gtest/gtest.h>

#include <limits>

#include "web/web_result.h"

namespace {

TEST(WebNumberTest, ReadsFiguresAsPagesPrintThem) {
  struct Case {
    const char* text;
    std::int32_t integer;
    double floating;
  } const cases[] = {
      {"1,234,567", 1234567, 1234567.0},
      {"  3,120円", 3120, 3120.0},
      {"\t12.50", 12, 12.5},
      {"0.00", 0, 0.0},
      {"3.25倍", 3, 3.25},
      {"-12.5", 0, 0.0},  // a sign ends the gathering before any digit
      {"+3", 0, 0.0},
      {"---", 0, 0.0},
      {"", 0, 0.0},
      {".5", 0, 0.5},
      {".", 0, 0.0},
      {"1.2.3", 1, 1.2},
      {"1,,0", 10, 10.0},
      {",5", 5, 5.0},
      {"12 345", 12, 12.0},  // a blank inside ends it
      {"１２３", 0, 0.0},    // full-width digits are not digits
      {"2147483647", 2147483647, 2147483647.0},
      {"2147483648", std::numeric_limits<std::int32_t>::max(), 2147483648.0},
      {"1234567890123456789012345678901234567890", std::numeric_limits<std::int32_t>::max(),
       1.2345678901234568e39},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseWebInt(c.text), c.integer) << c.text;
    EXPECT_DOUBLE_EQ(ParseWebDouble(c.text), c.floating) << c.text;
  }
}

TEST(WebNumberTest, FiguresBeyondADoubleAreClamped) {
  EXPECT_EQ(ParseWebDouble(std::string(400, '9')), std::numeric_limits<double>::max());
  EXPECT_EQ(ParseWebDouble("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_EQ(ParseWebInt(std::string(100000, '7')), std::numeric_limits<std::int32_t>::max());
}

TEST(WebResultTest, MessagesOfEveryRange) {
  struct Case {
    std::int32_t code;
    const char* text;
  } const cases[] = {
      {0, "成功"},
      {3, "成功"},
      {-1, "HTTPサーバーがステータスコード1を返しました"},
      {-404, "HTTPサーバーがステータスコード404を返しました"},
      {-599, "HTTPサーバーがステータスコード599を返しました"},
      {-600, "不明なエラー(-600)が発生しました"},
      {-1004, "不明なエラー(-1004)が発生しました"},
      {kWebErrorPage,
       "接続が途中で切断されたか、ダウンロード先サイトのWebページ仕様が変更された可能性があります。"},
      {kWebErrorNoPortalPage, "不明なエラー(-10001)が発生しました"},
      {kWebErrorRetiredMarket, "不明なエラー(-10033)が発生しました"},
  };
  for (const Case& c : cases) EXPECT_EQ(GetWebMessage(c.code), c.text) << c.code;
}

}  // namespace
