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
Tokens TokensOf(Site site, const std::string& path, Params params = {}) {
  return Render(site, path, std::move(params)).tokens;
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

// A figure read the way the readers read one: leading blanks skipped,
// digits and "." gathered, "," skipped, up to the first other byte.
double Number(const std::string& text) {
  std::string digits;
  for (size_t i = text.find_first_not_of(' '); i < text.size(); ++i) {
    if (!isdigit(static_cast<unsigned char>(text[i])) && text[i] != '.' && text[i] != ',') break;
    if (text[i] != ',') digits += text[i];
  }
  return digits.empty() ? 0 : std::stod(digits);
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
std::string Delisted() { return Pick([](const CSimIssue& i) { return i.IsDelisted(); }).record.code; }

// The figure after each label in turn, each label searched after the one
// before; none after a label that is missing.
std::vector<double> Figures(const Tokens& t, const std::vector<std::string>& labels, int from = 0,
                            bool contains = false) {
  std::vector<double> figures;
  for (const std::string& label : labels) {
    if ((from = Find(t, kText, label, from, contains)) < 0) break;
    figures.push_back(Number(After(t, from++)));
  }
  return figures;
}
// Figures equal but for the last bits of rounding.
void ExpectFigures(const std::vector<double>& expected, const std::vector<double>& figures) {
  ASSERT_EQ(expected.size(), figures.size());
  for (size_t i = 0; i < figures.size(); ++i) EXPECT_NEAR(figures[i], expected[i], 1e-9 * expected[i]) << i;
}
// A page of rows each headed by its date (th), newest first: every row's
// date, open and close are those of the last bars. Gives the row count.
size_t ExpectDatedRows(const Tokens& t, const CChart& bars) {
  size_t rows = 0;
  for (int th = Find(t, kStart, "th"); th >= 0 && rows < bars.size(); th = Find(t, kStart, "th", th + 1)) {
    const CDayRecord& bar = bars[bars.size() - 1 - rows++];
    EXPECT_EQ(DateOf(After(t, th)), bar.Date());
    ExpectFigures({bar.open, bar.close}, {Number(After(t, th, kText, 2)), Number(After(t, th, kText, 5))});
  }
  return rows;
}

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

// The stock pages (quote, list, split and margin) are checked through
// their readers against the market, in tests/web.

TEST(SimPagesTest, PathsOutsideThePagesAreNotServed) {
  for (const auto& [site, path] : {std::pair{Site::kStockList, "/market_jp/stock_list/price/all/all/0"},
                                   {Site::kStockList, "/market_jp/stock_list/price/all/all/x"},
                                   {Site::kFinance, "/quote/"}, {Site::kArchive, "/stock/1301"}}) {
    EXPECT_FALSE(Render(site, path).served) << path;
  }
}

TEST(SimPagesTest, PriceHistoryShowsTradedBarsNewestFirstWithSplitNotices) {
  const CSimIssue& issue =
      Pick([](const CSimIssue& i) { return Listed(i) && SeriesOf(i)->splits.size() == 1; });
  const auto series = SeriesOf(issue);
  const CDivideRecord split = series->splits.front();
  const CDate from = split.date.SubDays(10), to = split.date.AddDays(10);
  const std::string path = "/quote/" + issue.record.code + "/history";
  auto rowsOf = [&](Params params) {
    const Tokens t = TokensOf(Site::kFinance, path, std::move(params));
    return Rows(t, Find(t, kText, "調整後終値*", 0, true));
  };
  const auto rows = rowsOf({{"from", std::to_string(from.ToNumber())},
                            {"to", std::to_string(to.ToNumber())}, {"timeFrame", "d"}, {"page", "1"}});
  std::vector<CDayRecord> bars;
  for (auto it = series->raw.rbegin(); it != series->raw.rend(); ++it) {
    if (!(to < it->Date()) && !(it->Date() < from)) bars.push_back(*it);
  }
  ASSERT_EQ(rows.size(), bars.size() + 1);
  size_t bar = 0, notices = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    ASSERT_FALSE(row.empty());
    if (Number(row[1]) == 0) {  // the notice: a text in place of prices
      ++notices;
      EXPECT_EQ(DateOf(row[0]), split.date);
      EXPECT_EQ(row.size(), 2u);
      // Above the bar of its day, below the later ones.
      EXPECT_TRUE(r + 1 == rows.size() || !(split.date < DateOf(rows[r + 1][0])));
      EXPECT_TRUE(r == 0 || split.date < DateOf(rows[r - 1][0]));
      continue;
    }
    ASSERT_EQ(row.size(), 7u);
    const CDayRecord& b = bars[bar++];
    EXPECT_EQ(DateOf(row[0]), b.Date());
    EXPECT_EQ((std::vector<double>{b.open, b.high, b.low, b.close, b.volume}),
              (std::vector<double>{Number(row[1]), Number(row[2]), Number(row[3]), Number(row[4]),
                                   Number(row[5])}));
    // The last column is restated on today's shares: before the split it
    // is the close divided by the ratio (and by any later split's).
    double adjusted = b.close;
    for (const CDivideRecord& s : series->splits) {
      if (b.Date() < s.date) adjusted /= s.ratio;
    }
    EXPECT_NEAR(Number(row[6]), adjusted, 0.006);
  }
  EXPECT_EQ(notices, 1u);

  // The whole history comes twenty rows a page; past the last, no rows.
  const auto all = rowsOf({{"page", "1"}});
  ASSERT_EQ(all.size(), 20u);
  EXPECT_EQ(DateOf(all[0][0]), series->raw.back().Date());
  EXPECT_TRUE(rowsOf({{"page", "999"}}).empty());
  EXPECT_EQ(Render(Site::kFinance, "/quote/9999/history").status, 404);
}

TEST(SimPagesTest, PortalServesThreeMonthsOfRowsAndTheLatestFigures) {
  for (const char* code : {"1001", "1101"}) {
    const CPrivateBrand::Entry entry = CPrivateBrand::Instance().Find(code);
    const CChart& bars = SmallMarket().Series(code)->raw;
    Params fields;
    const std::string path = PortalPath(entry.historyPage, fields);
    const Page p = Render(Site::kIndexPortal, path, fields);
    ASSERT_TRUE(p.served) << code;
    const size_t rows = ExpectDatedRows(p.tokens, bars);
    CDate start = bars.back().Date();
    start.AddMonths(-3);
    EXPECT_LT(start, bars[bars.size() - rows].Date());
    EXPECT_FALSE(start < bars[bars.size() - rows - 1].Date());

    fields.clear();
    const std::string detail = PortalPath(entry.detailPage, fields);
    const Tokens t = TokensOf(Site::kIndexPortal, detail, fields);
    const CDayRecord& last = bars.back();
    ExpectFigures({last.close, last.open, last.high, last.low}, Figures(t, {"現在値", "始値", "高値", "安値"}));
    EXPECT_NE(After(t, Find(t, kText, "安値"), kText, 2), "?");  // a text follows the low
  }
  EXPECT_FALSE(Render(Site::kIndexPortal, "/contents/marketdetail.aspx",
                      {{"cntcode", "JP"}, {"skubun", "0"}, {"stkcode", "99"}, {"exctype", "02"}})
                   .served);
}

TEST(SimPagesTest, BrokerFormAnswersTheQuoteOrNoSuchIssue) {
  const CSimIssue& issue = Pick([](const CSimIssue& i) { return Listed(i) && i.record.kind == kKindStock; });
  const CDayRecord& bar = SeriesOf(issue)->raw.back();
  const std::string path = "/bsite/price/searchStock.do";
  auto post = [&](const std::string& code) {
    return Render(Site::kBrokerMobile, path, {{"ipm_product_code", code}, {"stock_name", ""}, {"id", "検索"}},
                  false, "POST").tokens;
  };
  const Tokens t = post(issue.record.code);
  EXPECT_LT(Find(t, kText, "対象銘柄はありません", 0, true), 0);
  const int form = Find(t, kValue, "ipm_product_code");
  EXPECT_EQ(After(t, form, kValue), issue.record.code);
  // The figures in the order the form's answer gives them.
  ExpectFigures({bar.close, bar.open, bar.volume, bar.high, bar.low},
                Figures(t, {"現在値", "始値", "出来高", "高値", "安値"}, form, true));
  for (const std::string& code : {std::string("9999"), Delisted(), std::string("1001")}) {
    const Tokens n = post(code);
    const int none = Find(n, kText, "対象銘柄はありません", 0, true);
    ASSERT_GE(none, 0) << code;
    EXPECT_LT(none, Find(n, kValue, "ipm_product_code"));
  }
  EXPECT_EQ(Render(Site::kBrokerMobile, path).status, 200);  // the bare form
}

TEST(SimPagesTest, StockInfoPageCarriesTheQuoteAndMarksDelistedIssues) {
  const CSimIssue& issue = Pick([](const CSimIssue& i) { return Listed(i) && i.record.name[0] == '('; });
  const CDayRecord& bar = SeriesOf(issue)->raw.back();
  Tokens t = TokensOf(Site::kStockInfo, "/stock/" + issue.record.code);
  const std::string title = After(t, Find(t, kStart, "title"));
  EXPECT_EQ(title.substr(title.find('(') + 1, issue.record.code.size()), issue.record.code);
  ExpectFigures({bar.open, bar.high, bar.low, bar.volume}, Figures(t, {"始値", "高値", "安値", "出来高"}));
  EXPECT_EQ(Number(After(t, Find(t, kName, "data-price", Find(t, kText, "出来高")), kValue)), bar.close);
  t = TokensOf(Site::kStockInfo, "/stock/" + Delisted());
  const int gone = Find(t, kText, "上場廃止");
  ASSERT_GE(gone, 0);
  EXPECT_LT(gone, Find(t, kText, "始値"));
  EXPECT_EQ(Render(Site::kStockInfo, "/stock/9999").status, 404);
  EXPECT_EQ(Render(Site::kStockInfo, "/stock/1001").status, 404);
}

TEST(SimPagesTest, FuturesAndDowPagesServeTheirSeries) {
  const CChart& future = SmallMarket().Series("1051")->raw;
  Tokens t = TokensOf(Site::kFuturesData, "/data/");
  EXPECT_EQ(ExpectDatedRows(t, future), future.size());
  EXPECT_GT(Number(After(t, Find(t, kStart, "th"), kText, 9)), 0);  // the night session's close
  t = TokensOf(Site::kBrokerFutures, "/future/3OSE11/index");
  ExpectFigures({future.back().close, future.back().low}, Figures(t, {"現在値", "安値"}));

  const CChart& dow = SmallMarket().Series("1004")->raw;
  t = TokensOf(Site::kDowForecast, "/nydow/data/", {{"start_date", "2024-05-27"}, {"end_date", "2024-06-14"}});
  std::vector<CDate> dates;
  for (const auto& row : Rows(t, Find(t, kEnd, "thead"))) {
    ASSERT_EQ(row.size(), 5u);
    dates.push_back(DateOf(row[0]));
    int32_t index = -1;
    ASSERT_TRUE(dow.Find(dates.back().ToNumber(), index, CChart::kFindExact));
    ExpectFigures({dow[index].close}, {Number(row[4])});
  }
  ASSERT_EQ(dates.size(), 15u);  // three weeks of Mondays to Fridays
  EXPECT_EQ(dates.front(), CDate(2024, 6, 14));
  EXPECT_EQ(dates.back(), CDate(2024, 5, 27));
  const CDayRecord& last = dow.back();
  ExpectFigures({last.close, last.open, last.high, last.low},
                Figures(TokensOf(Site::kFinance, "/quote/%5EDJI"), {"用語", "用語", "用語", "用語"}));
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
