#include "tools/market-sim/sim_pages.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <regex>
#include <vector>

#include "db/private_brand.h"
#include "series/buffer_string.h"
#include "tests/market_sim/sim_test_market.h"
#include "web/html_tokenizer.h"

namespace {

// The page as the readers see it: tokens, every text converted to CP932.
struct Token { int32_t kind; std::string text; };
using Tokens = std::vector<Token>;
using Params = std::multimap<std::string, std::string>;
constexpr int32_t kStart = CHtmlTokenizer::kStartTag, kEnd = CHtmlTokenizer::kEndTag,
                  kName = CHtmlTokenizer::kAttributeName, kValue = CHtmlTokenizer::kAttributeValue,
                  kText = CHtmlTokenizer::kText;
struct Page { bool served; int status; Tokens tokens; };

Page Render(Site site, const std::string& path, Params params = {}, bool altered = false,
            const std::string& method = "GET", const CSimMarket& market = SmallMarket()) {
  CSimResponse response;
  const CSimRequest request{.site = site, .method = method, .path = path, .query = {}, .body = {},
                            .params = std::move(params), .alteredStructure = altered};
  Page page{RenderSitePage(market, request, response), response.status, {}};
  CBufferString buffer;
  CBuffer::Handle handle = buffer.OpenWrite();
  buffer.Write(handle, response.body.data(), static_cast<int32_t>(response.body.size()));
  buffer.Close(handle);
  CHtmlTokenizer tokenizer;
  tokenizer.Open(buffer);
  for (Token token; tokenizer.Next(token.kind, token.text);) {
    // Tag names compare without regard to case, as the readers compare them.
    if (token.kind == kStart || token.kind == kEnd) {
      for (char& c : token.text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    page.tokens.push_back({token.kind, ConvertUtf8ToAnsi(token.text)});
  }
  return page;
}

// The index of the first token of `kind` at or after `from` whose text
// equals `text` (or contains it, with `contains`); -1 when there is none.
int Find(const Tokens& t, int32_t kind, const std::string& text, int from = 0,
         bool contains = false) {
  for (int i = std::max(from, 0); i < static_cast<int>(t.size()); ++i) {
    if (t[i].kind == kind && (contains ? t[i].text.find(text) != std::string::npos : t[i].text == text)) return i;
  }
  return -1;
}

// The `n`th token of `kind` after index `i`; "?" past the end.
std::string After(const Tokens& t, int i, int32_t kind = kText, int n = 1) {
  for (int j = i + 1; i >= 0 && j < static_cast<int>(t.size()); ++j) {
    if (t[j].kind == kind && --n == 0) return t[j].text;
  }
  return "?";
}

// The texts of each table row after index `from`, up to the table's end.
std::vector<std::vector<std::string>> Rows(const Tokens& t, int from) {
  std::vector<std::vector<std::string>> rows;
  for (int i = std::max(from, 0); i < static_cast<int>(t.size()); ++i) {
    if (t[i].kind == kEnd && (t[i].text == "table" || t[i].text == "tbody")) break;
    if (t[i].kind == kStart && t[i].text == "tr") rows.emplace_back();
    if (t[i].kind == kText && !rows.empty()) rows.back().push_back(t[i].text);
  }
  return rows;
}

CDate DateOf(const std::string& text) {
  CDate date;
  date.Parse(text);
  return date;
}

// The first issue of the small market that `pick` accepts.
const CSimIssue& Pick(const std::function<bool(const CSimIssue&)>& pick) {
  for (const CSimIssue& issue : SmallMarket().Issues()) {
    if (pick(issue)) return issue;
  }
  ADD_FAILURE() << "the small market lacks an issue the test needs";
  return SmallMarket().Issues().front();
}
bool Listed(const CSimIssue& i) { return !i.builtIn && !i.IsDelisted(); }
// The codes that get the older quote page layout.
bool OddCode(const CSimIssue& i) {
  const char last = i.record.code.back();
  return isdigit(static_cast<unsigned char>(last)) && (last - '0') % 2 == 1;
}
std::shared_ptr<const CSimSeries> SeriesOf(const CSimIssue& i) { return SmallMarket().Series(i.record.code); }

// The path of a built-in issue's portal page; its fields go to `fields`.
std::string PortalPath(const std::string& page, Params& fields) {
  const size_t question = page.find('?');
  static const std::regex kField("([^&=]+)=([^&]*)");
  const std::string query = page.substr(question + 1);
  for (std::sregex_iterator it(query.begin(), query.end(), kField), end; it != end; ++it) {
    fields.emplace((*it)[1], (*it)[2]);
  }
  return page.substr(0, question);
}

// What every page shows is checked through its reader against the market,
// in tests/web; here, what the readers cannot see: unserved paths and the
// changed structures.

TEST(SimPagesTest, PathsOutsideThePagesAreNotServed) {
  for (const auto& [site, path] : {std::pair{Site::kStockList, "/market_jp/stock_list/price/all/all/0"},
                                   {Site::kStockList, "/market_jp/stock_list/price/all/all/x"},
                                   {Site::kFinance, "/quote/"}, {Site::kArchive, "/stock/1301"}}) {
    EXPECT_FALSE(Render(site, path).served) << path;
  }
}

// Each page against its changed structure: the anchor a reader keys on is
// found on the normal page and gone from the changed one.
TEST(SimPagesTest, AlteredStructureTakesAwayTheAnchors) {
  const std::string older = Pick([](const CSimIssue& i) { return Listed(i) && OddCode(i); }).record.code;
  const std::string newer = Pick([](const CSimIssue& i) { return Listed(i) && !OddCode(i); }).record.code;
  const std::string split =
      Pick([](const CSimIssue& i) { return Listed(i) && !SeriesOf(i)->splits.empty(); }).record.code;
  const std::string margin =
      Pick([](const CSimIssue& i) { return Listed(i) && !SeriesOf(i)->margin.empty(); }).record.code;
  Params portal;
  const std::string portalPath = PortalPath(CPrivateBrand::Instance().Find("1002").historyPage, portal);
  auto rowAfter = [](const std::string& text) {
    return [text](const Tokens& t) { return Find(t, kStart, "tr", Find(t, kText, text, 0, true)) > 0; };
  };
  auto has = [](int32_t kind, const std::string& text, bool contains = false) {
    return [=](const Tokens& t) { return Find(t, kind, text, 0, contains) >= 0; };
  };
  auto splitInfo = [](const Tokens& t) { return After(t, Find(t, kText, "分割情報"))[0] == '['; };
  const Params fx{{"cntcode", "US"}, {"skubun", "8"}, {"stkcode", "EURJPY"}, {"exctype", "000"}};
  struct Case {
    Site site;
    std::string path;
    Params params;
    std::function<bool(const Tokens&)> anchored;
    std::string method = "GET";
  };
  const Case cases[] = {
      {Site::kStockList, "/market_jp/stock_list/price/all/all/1", {}, rowAfter("業種")},
      {Site::kFinance, "/quote/" + older, {}, has(kValue, "stocksInfo clearFix")},
      {Site::kFinance, "/quote/" + newer, {}, has(kValue, "PriceBoardMain__name__6uDh")},
      {Site::kFinance, "/quote/" + newer + "/history", {}, rowAfter("調整後終値*")},
      {Site::kFinance, "/quote/" + margin + "/history", {{"styl", "margin"}}, rowAfter("信用倍率")},
      {Site::kFinanceStocks, "/stocks/chart/", {{"code", split}}, splitInfo},
      {Site::kIndexPortal, portalPath, portal, has(kStart, "th")},
      {Site::kIndexPortal, "/contents/marketdetail.aspx", fx, has(kText, "現在値")},
      {Site::kBrokerMobile, "/bsite/price/searchStock.do", {{"ipm_product_code", newer}},
       has(kValue, "ipm_product_code"), "POST"},
      {Site::kBrokerMobile, "/bsite/price/searchStock.do", {{"ipm_product_code", "9999"}},
       has(kText, "対象銘柄はありません", true), "POST"},
      {Site::kStockInfo, "/stock/" + newer, {}, has(kName, "data-price")},
      {Site::kFuturesData, "/data/", {}, [](const Tokens& t) {
         return DateOf(After(t, Find(t, kStart, "th"))).year != 0;  // a row headed by its date
       }},
      {Site::kBrokerFutures, "/future/3OSE11/index", {}, has(kText, "現在値")},
      {Site::kDowForecast, "/nydow/data/", {}, [](const Tokens& t) {
         const auto rows = Rows(t, Find(t, kEnd, "thead"));
         return !rows.empty() && rows.front().size() == 5;  // date and four figures
       }},
      {Site::kFinance, "/quote/%5EDJI", {}, has(kText, "用語")},
  };
  for (const Case& c : cases) {
    const Page normal = Render(c.site, c.path, c.params, false, c.method);
    const Page altered = Render(c.site, c.path, c.params, true, c.method);
    EXPECT_TRUE(c.anchored(normal.tokens)) << c.path;
    EXPECT_FALSE(c.anchored(altered.tokens)) << c.path;
    EXPECT_EQ(altered.status, 200) << c.path;
  }
}

}  // namespace
