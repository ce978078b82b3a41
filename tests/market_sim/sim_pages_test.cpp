#include "tools/market-sim/sim_pages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>
#include <vector>

#include "db/private_brand.h"
#include "series/buffer_string.h"
#include "tests/market_sim/sim_test_market.h"
#include "web/html_tokenizer.h"

namespace {

// The page as the readers see it: tokens, every text converted to CP932.
struct Token {
  int32_t kind;
  std::string text;
};
using Tokens = std::vector<Token>;
constexpr int32_t kStart = CHtmlTokenizer::kStartTag, kEnd = CHtmlTokenizer::kEndTag,
                  kName = CHtmlTokenizer::kAttributeName, kValue = CHtmlTokenizer::kAttributeValue,
                  kText = CHtmlTokenizer::kText;

Tokens Tokenize(const std::string& utf8) {
  CBufferString buffer;
  CBuffer::Handle handle = buffer.OpenWrite();
  buffer.Write(handle, utf8.data(), static_cast<int32_t>(utf8.size()));
  buffer.Close(handle);
  CHtmlTokenizer tokenizer;
  tokenizer.Open(buffer);
  Tokens tokens;
  Token token;
  while (tokenizer.Next(token.kind, token.text)) {
    tokens.push_back({token.kind, ConvertUtf8ToAnsi(token.text)});
  }
  return tokens;
}

struct Page {
  bool served = false;
  int status = 0;
  Tokens tokens;
};

Page Render(Site site, const std::string& path, std::multimap<std::string, std::string> params = {},
            bool altered = false, const std::string& method = "GET",
            const CSimMarket& market = SmallMarket()) {
  CSimRequest request;
  request.site = site;
  request.method = method;
  request.path = path;
  request.params = std::move(params);
  request.alteredStructure = altered;
  CSimResponse response;
  Page page;
  page.served = RenderSitePage(market, request, response);
  page.status = response.status;
  page.tokens = Tokenize(response.body);
  return page;
}

// The index of the first token of `kind` at or after `from` whose text
// equals `text` (or contains it, with `contains`); -1 when there is none.
int Find(const Tokens& t, int32_t kind, const std::string& text, int from = 0,
         bool contains = false) {
  for (int i = std::max(from, 0); i < static_cast<int>(t.size()); ++i) {
    if (t[i].kind == kind &&
        (contains ? t[i].text.find(text) != std::string::npos : t[i].text == text)) {
      return i;
    }
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
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (; i < text.size() &&
         (isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.' || text[i] == ',');
       ++i) {
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
std::shared_ptr<const CSimSeries> SeriesOf(const CSimIssue& i) {
  return SmallMarket().Series(i.record.code);
}

TEST(SimPagesTest, ListPagesNameEveryListedIssueThenEnd) {
  CSimMarketOptions options = SmallMarketOptions();
  options.issueCount = 120;
  const CSimMarket market(options);
  std::vector<std::string> expected;
  for (const CSimIssue& issue : market.Issues()) {
    if (!issue.builtIn && !issue.IsDelisted()) expected.push_back(issue.record.code);
  }
  std::vector<std::string> codes;
  int page = 1;
  for (;; ++page) {
    const Page p =
        Render(Site::kStockList, "/market_jp/stock_list/price/all/all/" + std::to_string(page), {},
               false, "GET", market);
    ASSERT_TRUE(p.served);
    EXPECT_EQ(p.status, 200);
    const int head = Find(p.tokens, kText, "業種");
    if (head < 0) break;
    static const std::regex kCode("\\(([A-Za-z0-9]+)/[^)]*\\)");
    size_t rows = 0;
    for (int br = Find(p.tokens, kStart, "br", head); br >= 0;
         br = Find(p.tokens, kStart, "br", br + 1), ++rows) {
      std::smatch match;
      const std::string text = After(p.tokens, br);
      if (std::regex_search(text, match, kCode)) codes.push_back(match[1]);
    }
    EXPECT_LE(rows, 50u);
  }
  EXPECT_EQ(page,
            static_cast<int>((expected.size() + 49) / 50) + 1);  // the first page past the end
  EXPECT_EQ(codes, expected);
  EXPECT_FALSE(Render(Site::kStockList, "/market_jp/stock_list/price/all/all/0").served);
  EXPECT_FALSE(Render(Site::kStockList, "/market_jp/stock_list/price/all/all/x").served);
  EXPECT_FALSE(Render(Site::kFinance, "/quote/").served);
  EXPECT_FALSE(Render(Site::kArchive, "/stock/1301").served);
}

TEST(SimPagesTest, QuotePagesShowTheIssueRecordInBothLayouts) {
  const CSimIssue& older = Pick([](const CSimIssue& i) {
    return Listed(i) && OddCode(i) && i.record.kind == kKindStock && i.record.eps < 0;
  });
  const CBrandRecord& o = older.record;
  Tokens t = Render(Site::kFinance, "/quote/" + o.code).tokens;
  EXPECT_EQ(After(t, Find(t, kValue, "stockMainTabName")), o.market);
  const int info = Find(t, kValue, "stocksInfo clearFix");
  EXPECT_EQ(After(t, info), o.code);
  EXPECT_EQ(After(t, info, kText, 2), o.industry);
  EXPECT_EQ(After(t, Find(t, kValue, "株価詳細")), o.name);
  EXPECT_EQ(Number(After(t, Find(t, kText, "あたりの値段", 0, true))), o.unit);
  EXPECT_EQ(Number(After(t, Find(t, kText, "銘柄の規模", 0, true))), o.sharesOutstanding);
  EXPECT_EQ(Number(After(t, Find(t, kText, "年間配当金", 0, true))), o.dividend);
  const std::string eps = After(t, Find(t, kText, "純資産倍率", 0, true));
  EXPECT_EQ(eps[0], '-');  // a loss, read from its first digit
  EXPECT_DOUBLE_EQ(Number(eps.substr(1)), -o.eps);
  EXPECT_DOUBLE_EQ(Number(After(t, Find(t, kText, "1株利益", 0, true))), o.bps);
  const std::string ratio = After(t, Find(t, kText, "信用買残の売残に対する割合"));
  EXPECT_EQ(ratio == "---", o.lendable == 0);
  EXPECT_EQ(ratio == "0.00", o.lendable == 1);

  const CSimIssue& newer = Pick([](const CSimIssue& i) {
    return Listed(i) && !OddCode(i) && i.record.kind == kKindStock && i.record.lendable == 2;
  });
  const CBrandRecord& n = newer.record;
  t = Render(Site::kFinance, "/quote/" + n.code).tokens;
  const std::string longValue = "StyledNumber__value__3rXW DataListItem__value__11kV";
  EXPECT_EQ(After(t, Find(t, kValue, "PriceBoardMenu__toggle__4C2X")), n.market);
  EXPECT_EQ(After(t, Find(t, kValue, "PriceBoardMain__name__6uDh")), n.name);
  const int code = Find(t, kValue, "PriceBoardMain__code__2wso");
  EXPECT_EQ(After(t, code), n.code);
  EXPECT_EQ(After(t, code, kText, 2), n.industry);
  EXPECT_EQ(Number(After(t, Find(t, kValue, longValue, Find(t, kText, "単元株数")))), n.unit);
  EXPECT_EQ(Number(After(t, Find(t, kValue, longValue, Find(t, kText, "発行済株式数")))),
            n.sharesOutstanding);
  EXPECT_EQ(Number(After(t, Find(t, kValue, longValue, Find(t, kText, "BPS（実績）")))), n.bps);
  const int margin = Find(t, kText, "信用倍率");
  EXPECT_GT(Number(After(t, Find(t, kValue, "StyledNumber__value__3rXW", margin))), 0);

  // Funds name their kind where a stock names its industry; a REIT counts
  // investment units, the help mark between the name and the figure.
  const CSimIssue& reit = Pick([](const CSimIssue& i) { return i.record.kind == kKindReit; });
  t = Render(Site::kFinance, "/quote/" + reit.record.code).tokens;
  const int industry = OddCode(reit) ? Find(t, kValue, "stocksInfo clearFix")
                                     : Find(t, kValue, "PriceBoardMain__code__2wso");
  EXPECT_EQ(After(t, industry, kText, 2), "REIT");
  if (!OddCode(reit)) {
    EXPECT_EQ(Number(After(t, Find(t, kText, "発行済投資口数"), kText, 2)),
              reit.record.sharesOutstanding);
  }
  const CSimIssue& retired = Pick([](const CSimIssue& i) { return Listed(i) && i.retiredMarket; });
  const Page r = Render(Site::kFinance, "/quote/" + retired.record.code);
  EXPECT_EQ(r.status, 200);
  EXPECT_GE(Find(r.tokens, kText, retired.record.market), 0);

  const CSimIssue& delisted = Pick([](const CSimIssue& i) { return i.IsDelisted(); });
  for (const std::string& gone : {std::string("9999"), delisted.record.code, std::string("1001")}) {
    const Page p = Render(Site::kFinance, "/quote/" + gone);
    EXPECT_TRUE(p.served);
    EXPECT_EQ(p.status, 404) << gone;
  }
}

TEST(SimPagesTest, PriceHistoryShowsTradedBarsNewestFirstWithSplitNotices) {
  const CSimIssue& issue =
      Pick([](const CSimIssue& i) { return Listed(i) && SeriesOf(i)->splits.size() == 1; });
  const auto series = SeriesOf(issue);
  const CDivideRecord split = series->splits.front();
  const CDate from = split.date.SubDays(10), to = split.date.AddDays(10);
  const std::string path = "/quote/" + issue.record.code + "/history";
  const Page p = Render(Site::kFinance, path,
                        {{"from", std::to_string(from.ToNumber())},
                         {"to", std::to_string(to.ToNumber())},
                         {"timeFrame", "d"},
                         {"page", "1"}});
  const auto rows = Rows(p.tokens, Find(p.tokens, kText, "調整後終値*", 0, true));
  std::vector<CDayRecord> bars;
  for (auto it = series->raw.rbegin(); it != series->raw.rend(); ++it) {
    if (!(to < it->Date()) && !(it->Date() < from)) bars.push_back(*it);
  }
  ASSERT_EQ(rows.size(), bars.size() + 1);
  size_t bar = 0;
  int notices = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    ASSERT_FALSE(row.empty());
    if (Number(row[1]) == 0) {  // the notice: a text in place of prices
      ++notices;
      EXPECT_EQ(DateOf(row[0]), split.date);
      EXPECT_EQ(row.size(), 2u);
      // Above the bar of its day, below the later ones.
      if (r + 1 < rows.size()) {
        EXPECT_FALSE(split.date < DateOf(rows[r + 1][0]));
      }
      if (r > 0) {
        EXPECT_LT(split.date, DateOf(rows[r - 1][0]));
      }
      continue;
    }
    ASSERT_EQ(row.size(), 7u);
    const CDayRecord& b = bars[bar++];
    EXPECT_EQ(DateOf(row[0]), b.Date());
    EXPECT_EQ(Number(row[1]), b.open);
    EXPECT_EQ(Number(row[2]), b.high);
    EXPECT_EQ(Number(row[3]), b.low);
    EXPECT_EQ(Number(row[4]), b.close);
    EXPECT_EQ(Number(row[5]), b.volume);
    // The last column is restated on today's shares: before the split it
    // is the close divided by the ratio (and by any later split's).
    double adjusted = b.close;
    for (const CDivideRecord& s : series->splits) {
      if (b.Date() < s.date) adjusted /= s.ratio;
    }
    EXPECT_NEAR(Number(row[6]), adjusted, 0.006);
  }
  EXPECT_EQ(notices, 1);

  // The whole history comes twenty rows a page; past the last, no rows.
  const Page first = Render(Site::kFinance, path, {{"page", "1"}});
  const auto all = Rows(first.tokens, Find(first.tokens, kText, "調整後終値*", 0, true));
  ASSERT_EQ(all.size(), 20u);
  EXPECT_EQ(DateOf(all[0][0]), series->raw.back().Date());
  const Page beyond = Render(Site::kFinance, path, {{"page", "999"}});
  EXPECT_TRUE(Rows(beyond.tokens, Find(beyond.tokens, kText, "調整後終値*", 0, true)).empty());
  EXPECT_EQ(Render(Site::kFinance, "/quote/9999/history").status, 404);
}

TEST(SimPagesTest, MarginHistoryListsReportedWeeksNewestFirst) {
  const CSimIssue& issue =
      Pick([](const CSimIssue& i) { return Listed(i) && SeriesOf(i)->margin.size() > 25; });
  const CMargin& margin = SeriesOf(issue)->margin;
  const std::string path = "/quote/" + issue.record.code + "/history";
  for (int page : {1, 2}) {
    const Page p =
        Render(Site::kFinance, path, {{"styl", "margin"}, {"page", std::to_string(page)}});
    const auto rows = Rows(p.tokens, Find(p.tokens, kText, "信用倍率"));
    ASSERT_EQ(rows.size(), page == 1 ? 20u : std::min<size_t>(20, margin.size() - 20));
    const CMarginRecord& newest = margin[margin.size() - 1 - (page - 1) * 20];
    EXPECT_EQ(DateOf(rows[0][0]), newest.date);
    EXPECT_EQ(Number(rows[0][1]), newest.sell);
    EXPECT_EQ(Number(rows[0][2]), newest.buy);
  }
  // Issues without margin trading, built-in ones too, have the page but
  // no table; an unknown code has no page.
  const CSimIssue& none =
      Pick([](const CSimIssue& i) { return Listed(i) && i.record.lendable == 0; });
  for (const std::string& code : {none.record.code, std::string("1001")}) {
    const Page p = Render(Site::kFinance, "/quote/" + code + "/history", {{"styl", "margin"}});
    EXPECT_EQ(p.status, 200);
    EXPECT_LT(Find(p.tokens, kText, "信用倍率"), 0);
  }
  EXPECT_EQ(Render(Site::kFinance, "/quote/9999/history", {{"styl", "margin"}}).status, 404);
}

TEST(SimPagesTest, SplitPageListsRatiosAndDatesNewestFirst) {
  const CSimIssue& issue =
      Pick([](const CSimIssue& i) { return SeriesOf(i) && SeriesOf(i)->splits.size() == 2; });
  const CDivide& splits = SeriesOf(issue)->splits;
  const Page p = Render(Site::kFinanceStocks, "/stocks/chart/", {{"code", issue.record.code}});
  int i = Find(p.tokens, kText, "分割情報");
  ASSERT_GE(i, 0);
  for (auto split = splits.rbegin(); split != splits.rend(); ++split) {
    const std::string ratio = After(p.tokens, i);
    const std::string date = After(p.tokens, i, kText, 2);
    EXPECT_EQ(ratio[0], '[');
    EXPECT_EQ(Number(ratio.substr(3)), split->ratio);
    EXPECT_EQ(DateOf(date.substr(2)), split->date);
    i = Find(p.tokens, kText, date, i);
  }
  // The last date closes the section.
  const int end = Find(p.tokens, kEnd, "td", i);
  ASSERT_GT(end, i);
  for (int j = i + 1; j < end; ++j) EXPECT_NE(p.tokens[j].kind, kText);
  const CSimIssue& plain =
      Pick([](const CSimIssue& i) { return Listed(i) && SeriesOf(i)->splits.empty(); });
  for (const std::string& code : {plain.record.code, std::string("9999"), std::string("1001")}) {
    const Page q = Render(Site::kFinanceStocks, "/stocks/chart/", {{"code", code}});
    EXPECT_EQ(q.status, 200);
    EXPECT_LT(Find(q.tokens, kText, "分割情報"), 0) << code;
  }
}

// The path and fields of a built-in issue's portal page.
std::string PortalPath(const std::string& page, std::multimap<std::string, std::string>& fields) {
  const size_t question = page.find('?');
  static const std::regex kField("([^&=]+)=([^&]*)");
  const std::string query = page.substr(question + 1);
  for (std::sregex_iterator it(query.begin(), query.end(), kField), end; it != end; ++it) {
    fields.emplace((*it)[1], (*it)[2]);
  }
  return page.substr(0, question);
}

TEST(SimPagesTest, PortalServesThreeMonthsOfRowsAndTheLatestFigures) {
  for (const char* code : {"1001", "1101"}) {
    const CPrivateBrand::Entry entry = CPrivateBrand::Instance().Find(code);
    const CChart& bars = SmallMarket().Series(code)->raw;
    std::multimap<std::string, std::string> fields;
    const std::string path = PortalPath(entry.historyPage, fields);
    const Page p = Render(Site::kIndexPortal, path, fields);
    ASSERT_TRUE(p.served) << code;
    CDate start = bars.back().Date();
    start.AddMonths(-3);
    size_t rows = 0;
    for (int th = Find(p.tokens, kStart, "th"); th >= 0;
         th = Find(p.tokens, kStart, "th", th + 1)) {
      const CDayRecord& bar = bars[bars.size() - 1 - rows++];
      EXPECT_EQ(DateOf(After(p.tokens, th)), bar.Date());
      EXPECT_NEAR(Number(After(p.tokens, th, kText, 2)), bar.open, 1e-9 * bar.open);
      EXPECT_NEAR(Number(After(p.tokens, th, kText, 5)), bar.close, 1e-9 * bar.close);
    }
    EXPECT_LT(start, bars[bars.size() - rows].Date());
    EXPECT_FALSE(start < bars[bars.size() - rows - 1].Date());

    fields.clear();
    const std::string detail = PortalPath(entry.detailPage, fields);
    const Page d = Render(Site::kIndexPortal, detail, fields);
    const Tokens& t = d.tokens;
    const int now = Find(t, kText, "現在値"), open = Find(t, kText, "始値", now),
              high = Find(t, kText, "高値", open), low = Find(t, kText, "安値", high);
    ASSERT_GT(now, 0);
    ASSERT_LT(now, open);
    EXPECT_NEAR(Number(After(t, now)), bars.back().close, 1e-9 * bars.back().close);
    EXPECT_NEAR(Number(After(t, open)), bars.back().open, 1e-9 * bars.back().open);
    EXPECT_NEAR(Number(After(t, high)), bars.back().high, 1e-9 * bars.back().high);
    EXPECT_NEAR(Number(After(t, low)), bars.back().low, 1e-9 * bars.back().low);
    EXPECT_NE(After(t, low, kText, 2), "?");  // a text follows the low
  }
  EXPECT_FALSE(Render(Site::kIndexPortal, "/contents/marketdetail.aspx",
                      {{"cntcode", "JP"}, {"skubun", "0"}, {"stkcode", "99"}, {"exctype", "02"}})
                   .served);
}

TEST(SimPagesTest, BrokerFormAnswersTheQuoteOrNoSuchIssue) {
  const CSimIssue& issue =
      Pick([](const CSimIssue& i) { return Listed(i) && i.record.kind == kKindStock; });
  const CDayRecord& bar = SeriesOf(issue)->raw.back();
  const std::string path = "/bsite/price/searchStock.do";
  auto post = [&](const std::string& code) {
    return Render(Site::kBrokerMobile, path,
                  {{"ipm_product_code", code}, {"stock_name", ""}, {"id", "検索"}}, false, "POST")
        .tokens;
  };
  const Tokens t = post(issue.record.code);
  EXPECT_LT(Find(t, kText, "対象銘柄はありません", 0, true), 0);
  EXPECT_EQ(After(t, Find(t, kValue, "ipm_product_code"), kValue), issue.record.code);
  // The figures in the order the form's answer gives them.
  int i = Find(t, kText, "現在値", Find(t, kValue, "ipm_product_code"), true);
  for (const auto& [label, value] :
       std::vector<std::pair<std::string, double>>{{"現在値", bar.close},
                                                   {"始値", bar.open},
                                                   {"出来高", bar.volume},
                                                   {"高値", bar.high},
                                                   {"安値", bar.low}}) {
    i = Find(t, kText, label, i, true);
    ASSERT_GE(i, 0) << label;
    EXPECT_EQ(Number(After(t, i)), value) << label;
  }
  const CSimIssue& delisted = Pick([](const CSimIssue& i) { return i.IsDelisted(); });
  for (const std::string& code : {std::string("9999"), delisted.record.code, std::string("1001")}) {
    const Tokens n = post(code);
    const int none = Find(n, kText, "対象銘柄はありません", 0, true);
    ASSERT_GE(none, 0) << code;
    EXPECT_LT(none, Find(n, kValue, "ipm_product_code"));
  }
  EXPECT_EQ(Render(Site::kBrokerMobile, path).status, 200);  // the bare form
}

TEST(SimPagesTest, StockInfoPageCarriesTheQuoteAndMarksDelistedIssues) {
  const CSimIssue& issue =
      Pick([](const CSimIssue& i) { return Listed(i) && i.record.name[0] == '('; });
  const CDayRecord& bar = SeriesOf(issue)->raw.back();
  Tokens t = Render(Site::kStockInfo, "/stock/" + issue.record.code).tokens;
  const std::string title = After(t, Find(t, kStart, "title"));
  EXPECT_EQ(title.substr(title.find('(') + 1, issue.record.code.size()), issue.record.code);
  const int open = Find(t, kText, "始値");
  EXPECT_EQ(Number(After(t, open)), bar.open);
  EXPECT_EQ(Number(After(t, Find(t, kText, "高値", open))), bar.high);
  EXPECT_EQ(Number(After(t, Find(t, kText, "安値", open))), bar.low);
  const int volume = Find(t, kText, "出来高", open);
  EXPECT_EQ(Number(After(t, volume)), bar.volume);
  EXPECT_EQ(Number(After(t, Find(t, CHtmlTokenizer::kAttributeName, "data-price", volume), kValue)),
            bar.close);

  const CSimIssue& delisted = Pick([](const CSimIssue& i) { return i.IsDelisted(); });
  t = Render(Site::kStockInfo, "/stock/" + delisted.record.code).tokens;
  const int gone = Find(t, kText, "上場廃止");
  ASSERT_GE(gone, 0);
  EXPECT_LT(gone, Find(t, kText, "始値"));
  EXPECT_EQ(Render(Site::kStockInfo, "/stock/9999").status, 404);
  EXPECT_EQ(Render(Site::kStockInfo, "/stock/1001").status, 404);
}

TEST(SimPagesTest, FuturesAndDowPagesServeTheirSeries) {
  const CChart& future = SmallMarket().Series("1051")->raw;
  Tokens t = Render(Site::kFuturesData, "/data/").tokens;
  size_t rows = 0;
  for (int th = Find(t, kStart, "th"); th >= 0; th = Find(t, kStart, "th", th + 1)) {
    const CDayRecord& bar = future[future.size() - 1 - rows++];
    ASSERT_EQ(DateOf(After(t, th)), bar.Date());
    EXPECT_EQ(Number(After(t, th, kText, 2)), bar.open);
    EXPECT_EQ(Number(After(t, th, kText, 5)), bar.close);
    EXPECT_GT(Number(After(t, th, kText, 9)), 0);  // the night session's close
  }
  EXPECT_EQ(rows, future.size());
  t = Render(Site::kBrokerFutures, "/future/3OSE11/index").tokens;
  EXPECT_EQ(Number(After(t, Find(t, kText, "現在値"))), future.back().close);
  EXPECT_EQ(Number(After(t, Find(t, kText, "安値"))), future.back().low);

  const CChart& dow = SmallMarket().Series("1004")->raw;
  t = Render(Site::kDowForecast, "/nydow/data/",
             {{"start_date", "2024-05-27"}, {"end_date", "2024-06-14"}})
          .tokens;
  std::vector<CDate> dates;
  for (const auto& row : Rows(t, Find(t, kEnd, "thead"))) {
    ASSERT_EQ(row.size(), 5u);
    dates.push_back(DateOf(row[0]));
    int32_t index = -1;
    ASSERT_TRUE(dow.Find(dates.back().ToNumber(), index, CChart::kFindExact));
    EXPECT_NEAR(Number(row[4]), dow[index].close, 1e-9 * dow[index].close);
  }
  ASSERT_EQ(dates.size(), 15u);  // three weeks of Mondays to Fridays
  EXPECT_EQ(dates.front(), CDate(2024, 6, 14));
  EXPECT_EQ(dates.back(), CDate(2024, 5, 27));

  t = Render(Site::kFinance, "/quote/%5EDJI").tokens;
  const CDayRecord& last = dow.back();
  int term = -1;
  for (double value : {last.close, last.open, last.high, last.low}) {
    term = Find(t, kText, "用語", term + 1);
    ASSERT_GE(term, 0);
    EXPECT_NEAR(Number(After(t, term)), value, 1e-9 * value);
  }
}

// Each page against its changed structure: the anchor a reader keys on is
// found on the normal page and gone from the changed one.
TEST(SimPagesTest, AlteredStructureTakesAwayTheAnchors) {
  const std::string older =
      Pick([](const CSimIssue& i) { return Listed(i) && OddCode(i); }).record.code;
  const std::string newer =
      Pick([](const CSimIssue& i) { return Listed(i) && !OddCode(i); }).record.code;
  const CSimIssue& split =
      Pick([](const CSimIssue& i) { return Listed(i) && !SeriesOf(i)->splits.empty(); });
  const CSimIssue& margin =
      Pick([](const CSimIssue& i) { return Listed(i) && !SeriesOf(i)->margin.empty(); });
  std::multimap<std::string, std::string> portal;
  const std::string portalPath =
      PortalPath(CPrivateBrand::Instance().Find("1002").historyPage, portal);
  auto rowAfter = [](const std::string& text) {
    return [text](const Tokens& t) {
      return Find(t, kStart, "tr", Find(t, kText, text, 0, true)) > 0;
    };
  };
  auto has = [](int32_t kind, const std::string& text) {
    return [kind, text](const Tokens& t) { return Find(t, kind, text) >= 0; };
  };
  struct Case {
    Site site;
    std::string path;
    std::multimap<std::string, std::string> params;
    std::function<bool(const Tokens&)> anchored;
    std::string method = "GET";
  };
  const Case cases[] = {
      {Site::kStockList, "/market_jp/stock_list/price/all/all/1", {}, rowAfter("業種")},
      {Site::kFinance, "/quote/" + older, {}, has(kValue, "stocksInfo clearFix")},
      {Site::kFinance, "/quote/" + newer, {}, has(kValue, "PriceBoardMain__name__6uDh")},
      {Site::kFinance, "/quote/" + newer + "/history", {}, rowAfter("調整後終値*")},
      {Site::kFinance,
       "/quote/" + margin.record.code + "/history",
       {{"styl", "margin"}},
       rowAfter("信用倍率")},
      {Site::kFinanceStocks,
       "/stocks/chart/",
       {{"code", split.record.code}},
       [](const Tokens& t) { return After(t, Find(t, kText, "分割情報"))[0] == '['; }},
      {Site::kIndexPortal, portalPath, portal, has(kStart, "th")},
      {Site::kIndexPortal,
       "/contents/marketdetail.aspx",
       {{"cntcode", "US"}, {"skubun", "8"}, {"stkcode", "EURJPY"}, {"exctype", "000"}},
       has(kText, "現在値")},
      {Site::kBrokerMobile,
       "/bsite/price/searchStock.do",
       {{"ipm_product_code", newer}},
       has(kValue, "ipm_product_code"),
       "POST"},
      {Site::kBrokerMobile,
       "/bsite/price/searchStock.do",
       {{"ipm_product_code", "9999"}},
       [](const Tokens& t) { return Find(t, kText, "対象銘柄はありません", 0, true) >= 0; },
       "POST"},
      {Site::kStockInfo, "/stock/" + newer, {}, has(CHtmlTokenizer::kAttributeName, "data-price")},
      {Site::kFuturesData, "/data/", {}, has(kStart, "th")},
      {Site::kBrokerFutures, "/future/3OSE11/index", {}, has(kText, "現在値")},
      {Site::kDowForecast, "/nydow/data/", {}, has(kEnd, "thead")},
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
