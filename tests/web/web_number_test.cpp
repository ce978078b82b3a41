#include "web/web_number.h"

#include <gtest/gtest.h>

#include <limits>

#include "web/http_client.h"
#include "web/web_market.h"
#include "web/web_result.h"

namespace {

constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();

TEST(WebNumberTest, ReadsFiguresAsPagesPrintThem) {
  struct Case { std::string text; std::int32_t integer; double floating; } const cases[] = {
      {"1,234,567", 1234567, 1234567.0}, {"  3,120円", 3120, 3120.0}, {"\t12.50", 12, 12.5},
      {"-12.5", 0, 0.0},  // a sign ends the gathering before any digit
      {"---", 0, 0.0},   {"", 0, 0.0},     {".5", 0, 0.5},   {".", 0, 0.0},
      {"1.2.3", 1, 1.2}, {"12 345", 12, 12.0}, {"１２３", 0, 0.0},  // full-width digits
      {"2147483648", kIntMax, 2147483648.0},
      {std::string(40, '9'), kIntMax, 1e40},
      {std::string(400, '9'), kIntMax, std::numeric_limits<double>::max()},
      {"0." + std::string(400, '0') + "1", 0, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseWebInt(c.text), c.integer) << c.text;
    EXPECT_DOUBLE_EQ(ParseWebDouble(c.text), c.floating) << c.text;
  }
}

// The market's texts: the pages' own by range, the archive's from -20000,
// the client's where the pages' ranges would only say "unknown".
TEST(WebMessageTest, EachCodeRangeHasItsTexts) {
  const CWebMarket market;
  const std::pair<std::int32_t, const char*> cases[] = {
      {0, "成功"},
      {3, "成功"},
      {-1, "HTTPサーバーがステータスコード1を返しました"},
      {-599, "HTTPサーバーがステータスコード599を返しました"},
      {-600, "不明なエラー(-600)が発生しました"},
      {-1004, "不明なエラー(-1004)が発生しました"},
      {kWebErrorPage,
       "接続が途中で切断されたか、ダウンロード先サイトのWebページ仕様が変更された可能性があります。"},
      {kWebErrorRetiredMarket, "不明なエラー(-10033)が発生しました"},
      {-19999, "不明なエラー(-19999)が発生しました"},
      {-20000, "圧縮ファイルの解凍に失敗しました。"},
      {-29999, "不明なエラーが発生しました。"},
      {-30000, "不明なエラー(-30000)が発生しました"},
      {CHttpClient::kErrorCancelled, "ダウンロードを中止しました"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(market.GetMessage(code), text) << code;
}

}  // namespace
