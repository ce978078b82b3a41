#include "web/web_stock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>

#include "series/buffer_string.h"
#include "tests/common/scoped_env.h"
#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_server.h"
#include "web/web_result.h"

namespace {

// The small market of the simulated market's own tests: 30 issues, today
// 2024-06-19. With `retired`, a few stocks are listed on retired markets.
const CSimMarket& Market(bool retired = false) {
  auto options = [](bool withRetired) {
    CSimMarketOptions o;
    o.seed = 7;
    o.issueCount = 30;
    o.firstYear = 2022;
    o.today = CDate(2024, 6, 19);
    o.retiredMarkets = withRetired;
    return o;
  };
  static const CSimMarket plain(options(false));
  static const CSimMarket withRetired(options(true));
  return retired ? withRetired : plain;
}

// The record the quote page gives for an issue of the market: funds have
// no industry, the name loses its "(株)", EPS is read without its sign.
CBrandRecord PageRecord(const CBrandRecord& model) {
  CBrandRecord r = model;
  if (r.kind == kKindEtf || r.kind == kKindReit) r.industry.clear();
  static const std::string kMark = "(株)";
  const size_t at = r.name.find(kMark);
  if (at == 0) r.name = r.name.substr(kMark.size());
  if (at != std::string::npos && at > 0) r.name = r.name.substr(0, at);
  r.eps = std::fabs(r.eps);
  return r;
}

// A simulated market server for one test, with every site variable
// pointing the readers at it, and a reader that does not wait between
// attempts.
class WebStockSimTest : public ::testing::Test {
 protected:
  void Serve(const CSimMarket& market) {
    server_ = std::make_unique<CSimServer>(market, CSimServerOptions());
    ASSERT_TRUE(server_->Start());
    for (const auto& [name, value] : server_->Environment()) {
      names_.push_back(name);  // ScopedEnv keeps the name's pointer
      env_.push_back(std::make_unique<ScopedEnv>(names_.back().c_str(), value.c_str()));
    }
    stock_.Client().SetAttempts(3);
    stock_.Client().SetRetryPause(1);
  }
  void SetUp() override { Serve(Market()); }

  int AddFault(const std::string& text) {
    CSimFault fault;
    EXPECT_TRUE(ParseSimFault(text, fault)) << text;
    return server_->AddFault(fault);
  }

  const CSimIssue& Pick(bool (*pick)(const CSimIssue&)) {
    for (const CSimIssue& issue : server_->Market().Issues()) {
      if (pick(issue)) return issue;
    }
    ADD_FAILURE() << "the market lacks an issue the test needs";
    return server_->Market().Issues().front();
  }

  ScopedEnv noProxy_{"no_proxy", "*"};
  ScopedEnv noProxyUpper_{"NO_PROXY", "*"};
  std::unique_ptr<CSimServer> server_;
  std::deque<std::string> names_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
  CWebStock stock_;
};

bool Listed(const CSimIssue& i) { return !i.builtIn && !i.IsDelisted(); }

TEST_F(WebStockSimTest, EveryListedIssueReadsAsTheModel) {
  size_t layouts[2] = {}, special = 0;
  for (const CSimIssue& issue : Market().Issues()) {
    if (!Listed(issue)) continue;
    SCOPED_TRACE(issue.record.code);
    CBrandRecord record;
    ASSERT_EQ(stock_.GetBrand(issue.record.code, record), 0);
    EXPECT_EQ(record, PageRecord(issue.record));
    ++layouts[(issue.record.code.back() - '0') % 2 == 1 ? 0 : 1];
    special += issue.autoMarket + issue.noIndustry;
  }
  // Both layouts and the market 自動 and the date in the industry's place
  // were among them.
  EXPECT_GT(layouts[0], 0u);
  EXPECT_GT(layouts[1], 0u);
  EXPECT_GE(special, 2u);
}

TEST_F(WebStockSimTest, CodesWithoutAnIssuePageAreRefused) {
  const CSimIssue& delisted = Pick([](const CSimIssue& i) { return i.IsDelisted(); });
  for (const std::string& code : {delisted.record.code, std::string("9999"), std::string("1001")}) {
    CBrandRecord record;
    EXPECT_EQ(stock_.GetBrand(code, record), kWebErrorPage) << code;
  }
}

TEST_F(WebStockSimTest, RetiredMarketsAreRefusedOnlyWhenAskedFor) {
  size_t retired = 0;
  for (const CSimIssue& issue : Market().Issues()) EXPECT_FALSE(issue.retiredMarket);
  server_.reset();
  env_.clear();
  Serve(Market(true));
  for (const CSimIssue& issue : Market(true).Issues()) {
    if (!Listed(issue) || !issue.retiredMarket) continue;
    ++retired;
    CBrandRecord record;
    EXPECT_EQ(stock_.GetBrand(issue.record.code, record), kWebErrorRetiredMarket);
    EXPECT_EQ(record.market, issue.record.market);
  }
  EXPECT_GE(retired, 1u);
}

TEST_F(WebStockSimTest, ListPagesNameTheListedIssuesUntilTheyEnd) {
  std::vector<std::string> expected, read;
  for (const CSimIssue& issue : Market().Issues()) {
    if (Listed(issue)) expected.push_back(issue.record.code);
  }
  int32_t page = 1;
  for (std::vector<std::string> codes;; ++page) {
    ASSERT_EQ(stock_.GetBrandList(page, codes), 0);
    if (codes.empty()) break;
    read.insert(read.end(), codes.begin(), codes.end());
  }
  EXPECT_EQ(read, expected);
  EXPECT_EQ(page, 2);  // 30 issues fit one page of fifty
}

// Every issue, delisted ones included: the older host keeps their pages.
TEST_F(WebStockSimTest, SplitsReadAsTheModelNewestFirst) {
  size_t withSplits = 0;
  for (const CSimIssue& issue : Market().Issues()) {
    SCOPED_TRACE(issue.record.code);
    const CDivide& model = Market().Series(issue.record.code)->splits;
    std::vector<CDivideRecord> splits;
    ASSERT_EQ(stock_.GetDivide(issue.record.code, splits), 0);
    EXPECT_EQ(splits, std::vector<CDivideRecord>(model.rbegin(), model.rend()));
    withSplits += !model.empty();
  }
  EXPECT_GE(withSplits, 2u);
  std::vector<CDivideRecord> splits(1);
  EXPECT_EQ(stock_.GetDivide("9999", splits), 0);
  EXPECT_TRUE(splits.empty());
}

TEST_F(WebStockSimTest, MarginIsTheNewestTwentyWeeksOldestFirst) {
  const CSimIssue& issue = Pick([](const CSimIssue& i) {
    return Listed(i) && Market().Series(i.record.code)->margin.size() > 30;
  });
  const CMargin& model = Market().Series(issue.record.code)->margin;
  std::uint32_t from = 20240101;
  std::vector<CMarginRecord> records;
  ASSERT_EQ(stock_.GetMargin(from, 20240619, issue.record.code, records), 0);
  EXPECT_EQ(from, CDate(2024, 1, 1).AddDays(140).ToNumber());
  EXPECT_EQ(records, std::vector<CMarginRecord>(model.end() - 20, model.end()));

  // A span under twenty weeks is kept; no margin trading gives no rows.
  from = 20240601;
  ASSERT_EQ(stock_.GetMargin(from, 20240619, issue.record.code, records), 0);
  EXPECT_EQ(from, 20240620u);
  const CSimIssue& none = Pick([](const CSimIssue& i) { return Listed(i) && i.record.lendable == 0; });
  ASSERT_EQ(stock_.GetMargin(from, 20240619, none.record.code, records), 0);
  EXPECT_TRUE(records.empty());
}

// Failures through the real client: each gives its code and its message,
// and leaves `from` where it was.
TEST_F(WebStockSimTest, FailuresGiveTheirCodeAndMessage) {
  const CSimIssue& issue = Pick([](const CSimIssue& i) {
    return Listed(i) && Market().Series(i.record.code)->margin.size() > 0;
  });
  const std::string& code = issue.record.code;
  const std::string margin = "/quote/" + code + "/history?styl=margin&page=1";
  // A cut inside the table of balances.
  CBufferString page;
  ASSERT_EQ(stock_.Client().Get(server_->BaseUrl(Site::kFinance) + margin, page), 0);
  const size_t rows = std::string(page.GetText()).find("<tbody>");
  ASSERT_NE(rows, std::string::npos);
  const std::string cut = "cut=" + std::to_string(rows + 200) + "@finance:" + margin;
  struct Case {
    std::string fault;
    std::int32_t result;
    const char* message;
    int hits;  // requests the fault answered
  } const cases[] = {
      {"status=404@finance:" + margin, -404, "HTTPサーバーがステータスコード404を返しました", 1},
      {"status=500@finance:" + margin, -500, "HTTPサーバーがステータスコード500を返しました", 3},
      {cut, CHttpClient::kErrorSend, "不明なエラー(-1004)が発生しました", 3},
      {"altered@finance:" + margin, kWebErrorPage,
       "接続が途中で切断されたか、ダウンロード先サイトのWebページ仕様が変更された可能性があります。", 1},
      {"redirect=3@finance:" + margin, 0, "成功", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const int id = AddFault(c.fault);
    std::uint32_t from = 20240101;
    std::vector<CMarginRecord> records;
    const std::int32_t result = stock_.GetMargin(from, 20240619, code, records);
    if (c.fault == cut && result == kWebErrorPage) {
      // A client that hands a cut body on as a page: the walk refuses it.
      EXPECT_EQ(server_->FaultHits(id), 1);
    } else {
      EXPECT_EQ(result, c.result);
      EXPECT_EQ(GetWebMessage(result), c.message);
      EXPECT_EQ(server_->FaultHits(id), c.hits);
    }
    EXPECT_EQ(from == 20240101, c.result != 0);
    EXPECT_EQ(records.empty(), c.result != 0);
    server_->RemoveFault(id);
  }
}

// The changed pages of every reader are refused.
TEST_F(WebStockSimTest, AlteredPagesAreRefused) {
  const CSimIssue& older = Pick([](const CSimIssue& i) { return Listed(i) && i.record.code.back() == '1'; });
  const CSimIssue& newer = Pick([](const CSimIssue& i) { return Listed(i) && i.record.code.back() == '2'; });
  const CSimIssue& split = Pick([](const CSimIssue& i) {
    return Listed(i) && !Market().Series(i.record.code)->splits.empty();
  });
  AddFault("altered@/*");
  CBrandRecord record;
  EXPECT_EQ(stock_.GetBrand(older.record.code, record), kWebErrorPage);
  EXPECT_EQ(stock_.GetBrand(newer.record.code, record), kWebErrorPage);
  std::vector<std::string> codes;
  EXPECT_EQ(stock_.GetBrandList(1, codes), kWebErrorPage);
  std::vector<CDivideRecord> splits;
  EXPECT_EQ(stock_.GetDivide(split.record.code, splits), kWebErrorPage);
}

}  // namespace
