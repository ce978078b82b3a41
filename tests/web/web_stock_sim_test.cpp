#include "web/web_stock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>

#include "series/buffer_string.h"
#include "tests/common/scoped_env.h"
#include "tests/market_sim/sim_test_market.h"
#include "tools/market-sim/sim_server.h"
#include "web/web_result.h"

namespace {

// The small market with a few stocks on retired markets.
const CSimMarket& RetiredMarket() {
  static const CSimMarket market([] {
    CSimMarketOptions options = SmallMarketOptions();
    options.retiredMarkets = true;
    return options;
  }());
  return market;
}

bool Listed(const CSimIssue& i) { return !i.builtIn && !i.IsDelisted(); }
bool HasMargin(const CSimIssue& i) {
  return Listed(i) && SmallMarket().Series(i.record.code)->margin.size() > 30;
}
bool HasSplit(const CSimIssue& i) { return !SmallMarket().Series(i.record.code)->splits.empty(); }
// The two quote page layouts.
bool Older(const CSimIssue& i) { return Listed(i) && i.record.code.back() == '1'; }
bool Newer(const CSimIssue& i) { return Listed(i) && i.record.code.back() == '2'; }

// The record the quote page gives for an issue of the market: funds have
// no industry, the name loses its "(株)", EPS is read without its sign.
CBrandRecord PageRecord(const CBrandRecord& model) {
  CBrandRecord r = model;
  if (r.kind == kKindEtf || r.kind == kKindReit) r.industry.clear();
  const size_t at = r.name.find("(株)");
  if (at != std::string::npos) r.name = at == 0 ? r.name.substr(4) : r.name.substr(0, at);
  r.eps = std::fabs(r.eps);
  return r;
}

// A simulated market server on the small market, every site variable
// pointing the readers at it; three attempts, no wait between them.
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
  void SetUp() override { Serve(SmallMarket()); }

  const CSimIssue& Pick(bool (*pick)(const CSimIssue&)) {
    for (const CSimIssue& issue : server_->Market().Issues()) if (pick(issue)) return issue;
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

TEST_F(WebStockSimTest, IssuePagesReadAsTheModel) {
  size_t special = 0;
  for (const CSimIssue& issue : SmallMarket().Issues()) {
    CBrandRecord record;
    const std::int32_t result = stock_.GetBrand(issue.record.code, record);
    // Delisted and built-in issues get the page "no such issue".
    EXPECT_EQ(result, Listed(issue) ? 0 : kWebErrorPage) << issue.record.code;
    if (result == 0) {
      EXPECT_EQ(record, PageRecord(issue.record)) << issue.record.code;
    }
    special += Listed(issue) && (issue.autoMarket || issue.noIndustry);
  }
  EXPECT_GE(special, 2u);  // the market 自動 and a date in the industry's place

  // Retired markets only when the market is made with them.
  server_.reset();
  env_.clear();
  Serve(RetiredMarket());
  size_t retired = 0;
  for (const CSimIssue& issue : RetiredMarket().Issues()) {
    if (!Listed(issue) || !issue.retiredMarket) continue;
    ++retired;
    CBrandRecord record;
    EXPECT_EQ(stock_.GetBrand(issue.record.code, record), kWebErrorRetiredMarket);
    EXPECT_EQ(record.market, issue.record.market);
  }
  EXPECT_GE(retired, 1u);
}

TEST_F(WebStockSimTest, ListSplitsAndMarginReadAsTheModel) {
  std::vector<std::string> expected, read, codes;
  for (const CSimIssue& issue : SmallMarket().Issues()) if (Listed(issue)) expected.push_back(issue.record.code);
  int32_t page = 1;
  for (; stock_.GetBrandList(page, codes) == 0 && !codes.empty(); ++page) {
    read.insert(read.end(), codes.begin(), codes.end());
  }
  EXPECT_EQ(read, expected);
  EXPECT_EQ(page, 2);  // 30 issues fit one page of fifty; page 2 ends the list

  // Splits of every issue, delisted ones too, newest first as listed.
  size_t withSplits = 0;
  for (const CSimIssue& issue : SmallMarket().Issues()) {
    const CDivide& model = SmallMarket().Series(issue.record.code)->splits;
    std::vector<CDivideRecord> splits;
    EXPECT_EQ(stock_.GetDivide(issue.record.code, splits), 0);
    EXPECT_EQ(splits, std::vector<CDivideRecord>(model.rbegin(), model.rend()))
        << issue.record.code;
    withSplits += !model.empty();
  }
  EXPECT_GE(withSplits, 2u);

  // The newest twenty weeks, oldest first; `from` moves 140 days on.
  const CSimIssue& issue = Pick(HasMargin);
  const CMargin& model = SmallMarket().Series(issue.record.code)->margin;
  std::uint32_t from = 20240101;
  std::vector<CMarginRecord> records;
  ASSERT_EQ(stock_.GetMargin(from, 20240619, issue.record.code, records), 0);
  EXPECT_EQ(from, CDate(2024, 1, 1).AddDays(140).ToNumber());
  EXPECT_EQ(records, std::vector<CMarginRecord>(model.end() - 20, model.end()));
  // Spans in days from `from` to `to`, and where `from` ends up: twenty
  // whole weeks or more are cut to 139 days, anything shorter is kept.
  const CDate first(2024, 1, 1);
  for (const auto& [span, moved] : {std::pair{18, 19}, {139, 140}, {140, 140}, {200, 140}}) {
    from = first.ToNumber();
    ASSERT_EQ(stock_.GetMargin(from, first.AddDays(span).ToNumber(), issue.record.code, records), 0);
    EXPECT_EQ(from, first.AddDays(moved).ToNumber()) << span;
  }
  const CSimIssue& none = Pick([](const CSimIssue& i) { return Listed(i) && i.record.lendable == 0; });
  EXPECT_EQ(stock_.GetMargin(from, 20240619, none.record.code, records), 0);
  EXPECT_TRUE(records.empty());
}

// Failures through the real client: each gives its code and leaves `from`
// where it was.
TEST_F(WebStockSimTest, FailuresGiveTheirCodeAndMessage) {
  const std::string margin =
      "/quote/" + Pick(HasMargin).record.code + "/history?styl=margin&page=1";
  CBufferString page;  // cut inside the table of balances
  ASSERT_EQ(stock_.Client().Get(server_->BaseUrl(Site::kFinance) + margin, page), 0);
  const size_t rows = std::string(page.GetText()).find("<tbody>");
  const std::string cut = "cut=" + std::to_string(rows + 200) + "@finance:" + margin;
  // `hits`: requests the fault answered.
  struct Case { std::string fault; std::int32_t result; int hits; } const cases[] = {
      {"status=404@finance:" + margin, -404, 1},
      {"status=500@finance:" + margin, -500, 3},
      {cut, CHttpClient::kErrorSend, 3},
      {"altered@finance:" + margin, kWebErrorPage, 1},
      {"redirect=3@finance:" + margin, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    CSimFault fault;
    ASSERT_TRUE(ParseSimFault(c.fault, fault));
    const int id = server_->AddFault(fault);
    std::uint32_t from = 20240101;
    std::vector<CMarginRecord> records(1);  // emptied whatever happens
    EXPECT_EQ(stock_.GetMargin(from, 20240619, Pick(HasMargin).record.code, records), c.result);
    EXPECT_EQ(server_->FaultHits(id), c.hits);
    EXPECT_EQ(from == 20240101, c.result != 0);
    EXPECT_EQ(records.empty(), c.result != 0);
    server_->RemoveFault(id);
  }

  // A missing page: the lists are emptied, the record is left as it was.
  CSimFault missing;
  ASSERT_TRUE(ParseSimFault("status=404@/*", missing));
  const int missingId = server_->AddFault(missing);
  CBrandRecord kept;
  kept.name = "x";
  CBrandRecord left = kept;
  EXPECT_EQ(stock_.GetBrand(Pick(Older).record.code, left), -404);
  EXPECT_EQ(left, kept);
  std::vector<std::string> listed{"1301"};
  EXPECT_EQ(stock_.GetBrandList(1, listed), -404);
  EXPECT_TRUE(listed.empty());
  std::vector<CDivideRecord> split(1);
  EXPECT_EQ(stock_.GetDivide(Pick(HasSplit).record.code, split), -404);
  EXPECT_TRUE(split.empty());
  server_->RemoveFault(missingId);

  // The changed pages of the other readers, both quote layouts among them.
  CSimFault altered;
  ASSERT_TRUE(ParseSimFault("altered@/*", altered));
  server_->AddFault(altered);
  CBrandRecord record;
  EXPECT_EQ(stock_.GetBrand(Pick(Older).record.code, record), kWebErrorPage);
  EXPECT_EQ(stock_.GetBrand(Pick(Newer).record.code, record), kWebErrorPage);
  std::vector<std::string> codes;
  EXPECT_EQ(stock_.GetBrandList(1, codes), kWebErrorPage);
  std::vector<CDivideRecord> splits;
  EXPECT_EQ(stock_.GetDivide(Pick(HasSplit).record.code, splits), kWebErrorPage);
}

}  // namespace
