// The price readers against the simulated market, through the real HTTP
// client: what they read equals the market model's own bars.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/cp932.h"
#include "tests/web/archive_test_util.h"
#include "web/site_urls.h"
#include "db/private_brand.h"
#include "web/web_history.h"
#include "web/web_result.h"

namespace {

CLocalTime Time(uint32_t n, int hour, int minute = 0) {
  return {CDate(n / 10000, n / 100 % 100, n % 100), hour, minute};
}

// Open, high, low and close equal but for the last bits of rounding.
void ExpectPrices(const CDayRecord& got, const CDayRecord& want, const std::string& what) {
  const double g[] = {got.open, got.high, got.low, got.close};
  const double w[] = {want.open, want.high, want.low, want.close};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(g[i], w[i], 1e-9 * w[i]) << what << " #" << i;
}

class PriceReadersSimTest : public SimMarketTest {
 protected:
  void SetUp() override {
    SimMarketTest::SetUp();
    history_.SetAttempts(1);
    history_.SetRetryPause(0);
    for (const CSimIssue& issue : market_.Issues()) {
      if (!issue.builtIn && !issue.IsDelisted()) stocks_.push_back(issue.record.code);
      if (issue.IsDelisted() && delisted_.empty()) delisted_ = issue.record.code;
    }
    ASSERT_GE(stocks_.size(), 3u);
    ASSERT_FALSE(delisted_.empty());
  }

  const CSimMarket& market_ = SmallMarket();  // its last day: Wednesday 2024-06-19
  std::vector<std::string> stocks_;
  std::string delisted_;
  CLocalTime now_ = Time(20240619, 16);
  CWebHistory history_{[this] { return now_; }};
};

TEST_F(PriceReadersSimTest, StockHistoryStepsAndTheLastDayFollowTheClock) {
  const std::string& code = stocks_[0];
  ASSERT_EQ(market_.Series(code)->raw.back().DateNumber(), 20240619u);
  struct Case { uint32_t from, to; CLocalTime now; uint32_t nextFrom, lastDelivered; };
  const Case cases[] = {
      {20240501, 20240531, Time(20240619, 16), 20240526, 20240524},  // asks 1-25 May
      {20240610, 20240619, Time(20240619, 14, 59), 20240620, 20240618},
      {20240610, 20240619, Time(20240619, 15, 0), 20240620, 20240619},
      {20240615, 20240616, Time(20240619, 16), 20240617, 0},  // a weekend: no rows
  };
  for (const Case& c : cases) {
    now_ = c.now;
    uint32_t from = c.from;
    CQuoteItems items;
    bool adjust = true;
    ASSERT_EQ(history_.GetPrice(from, c.to, code, items, adjust), 0);
    EXPECT_EQ(from, c.nextFrom) << c.from;
    EXPECT_EQ(items.empty() ? 0u : items.back().record.DateNumber(), c.lastDelivered) << c.from;
  }
  const CSimRequestRecord first = server_.Requests().front();
  EXPECT_EQ(first.path, "/quote/" + code + "/history");
  EXPECT_EQ(first.query, "from=20240501&to=20240525&timeFrame=d&page=1");
}

TEST_F(PriceReadersSimTest, QuotesOfStocksFromEitherSiteAndOfBuiltInIssues) {
  std::vector<std::string> codes(stocks_.begin(), stocks_.begin() + 3);
  codes.insert(codes.end(), {delisted_, "9999", "1001", "1002", "1101", "1105", "1051", "1004"});
  // The broker first; then, with the broker failing, the second site.
  for (const bool brokerDown : {false, true}) {
    if (brokerDown) AddFault("status=503@broker-mobile:/bsite/price/searchStock.do");
    for (int32_t position = 0; position < static_cast<int32_t>(codes.size());) {
      const size_t index = static_cast<size_t>(position);
      const std::string code = codes[index];
      CQuoteItems items;
      ASSERT_EQ(history_.GetPriceLast(position, codes, items), 0) << code;
      EXPECT_EQ(position, static_cast<int32_t>(index) + 1);
      if (code == delisted_ || code == "9999") {
        EXPECT_TRUE(items.empty()) << code;
        continue;
      }
      ASSERT_EQ(items.size(), 1u) << code;
      EXPECT_EQ(items[0].code, code);
      CDayRecord want = market_.Series(code)->raw.back();
      // A stock that did not trade on the last day shows its close alone.
      const bool stock = index < 3;
      if (!stock) want.volume = 0;
      if (stock && !(want.Date() == market_.LastDate())) {
        want.open = want.high = want.low = want.close;
        want.volume = 0;
      }
      const CDayRecord& got = items[0].record;
      // A Wednesday at 16:00: every rule gives the day itself but the
      // Dow's (New York has not opened yet).
      EXPECT_EQ(got.DateNumber(), code == "1004" ? 20240618u : 20240619u) << code;
      ExpectPrices(got, want, code);
      EXPECT_EQ(got.rawClose, got.close) << code;
      EXPECT_EQ(got.volume, want.volume) << code;
    }
    size_t second = 0;
    for (const CSimRequestRecord& r : server_.Requests()) second += r.site == Site::kStockInfo;
    // The second site is asked only when the broker fails: once a stock.
    EXPECT_EQ(second, brokerDown ? 5u : 0u);
    server_.ClearRequests();
  }
}

TEST_F(PriceReadersSimTest, HistoriesOfBuiltInIssues) {
  // `adjust`: the portal's, every bar of its last three months.
  struct Case { const char* code; uint32_t from, to; bool adjust; uint32_t nextFrom, first, last; };
  const Case cases[] = {
      {"1002", 20240101, 20240110, true, 20240111, 0, 0},
      {"1101", 20240601, 20240619, true, 20240620, 0, 0},
      {"1051", 20240501, 20240531, false, 20240601, 20240501, 20240531},
      {"1004", 20240501, 20240531, false, 20240521, 20240501, 20240520},  // asks 1-20 May
  };
  for (const Case& c : cases) {
    const CChart& bars = market_.Series(c.code)->raw;
    CDate start = bars.back().Date();
    start.AddMonths(-3);
    std::vector<CDayRecord> want;
    for (const CDayRecord& bar : bars) {
      const uint32_t d = bar.DateNumber();
      if (c.adjust ? start < bar.Date() : d >= c.first && d <= c.last) want.push_back(bar);
    }
    uint32_t from = c.from;
    CQuoteItems items;
    bool adjust = !c.adjust;
    ASSERT_EQ(history_.GetPrice(from, c.to, c.code, items, adjust), 0) << c.code;
    EXPECT_EQ(adjust, c.adjust) << c.code;
    EXPECT_EQ(from, c.nextFrom) << c.code;
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(items.size(), want.size()) << c.code;
    for (size_t i = 0; i < want.size(); ++i) {
      CDayRecord expected = want[i];
      for (double* v : {&expected.open, &expected.high, &expected.low, &expected.close}) {
        if (c.adjust) *v = static_cast<float>(*v);  // stored in single precision
      }
      const CDayRecord& got = items[i].record;
      ASSERT_EQ(got.DateNumber(), expected.DateNumber()) << c.code;
      ExpectPrices(got, expected, c.code);
      EXPECT_EQ(items[i].code, c.code);
      EXPECT_EQ(got.rawClose, got.close);
      EXPECT_EQ(got.volume, 0);
    }
  }
}

TEST_F(PriceReadersSimTest, FailuresThroughTheClientGiveTheirCodes) {
  const std::string stock = stocks_[0];
  const std::string history = "/quote/" + stock + "/history";
  const int32_t kBad = kWebErrorPage;
  struct Case { std::vector<std::string> faults; std::string code; bool quote; int32_t result; };
  const Case cases[] = {
      {{}, "9999", false, -404},
      {{"status=500@finance:/quote/*"}, stock, false, -500},
      {{"altered@finance:/quote/*"}, stock, false, kBad},
      {{"altered@index-portal:/contents/*"}, "1003", false, kBad},
      {{"altered@futures-data:/data/"}, "1051", false, kBad},
      {{"altered@dow-forecast:/nydow/data/"}, "1004", false, kBad},
      {{"altered@index-portal:/contents/*"}, "1101", true, kBad},
      {{"altered@broker-futures:/future/3OSE11/index"}, "1051", true, kBad},
      {{"altered@finance:/quote/%5EDJI"}, "1004", true, kBad},
      {{"status=404@broker-futures:/future/3OSE11/index"}, "1051", true, -404},
      // The broker's changed page hands the code to the second site, whose
      // changed page is refused.
      {{"altered@broker-mobile:/bsite/price/searchStock.do", "altered@stock-info:/stock/*"},
       stock, true, kBad},
  };
  for (const Case& c : cases) {
    server_.ClearFaults();
    for (const std::string& fault : c.faults) AddFault(fault);
    const std::string what = c.faults.empty() ? c.code : c.faults.front();
    CQuoteItems items(1);
    int32_t result = 0;
    if (c.quote) {
      int32_t position = 0;
      result = history_.GetPriceLast(position, {c.code}, items);
      EXPECT_EQ(position, 0) << what;
    } else {
      uint32_t from = 20240601;
      bool adjust = false;
      result = history_.GetPrice(from, 20240619, c.code, items, adjust);
      EXPECT_EQ(from, 20240601u) << what;
    }
    EXPECT_EQ(result, c.result) << what;
    EXPECT_TRUE(items.empty()) << what;
  }

  // A transient failure is asked again, then passed on.
  server_.ClearFaults();
  server_.ClearRequests();
  AddFault("status=500@finance:" + history);
  history_.SetAttempts(3);
  uint32_t from = 20240601;
  CQuoteItems items;
  bool adjust = false;
  EXPECT_EQ(history_.GetPrice(from, 20240619, stock, items, adjust), -500);
  EXPECT_EQ(server_.Requests().size(), 3u);
}

TEST_F(PriceReadersSimTest, BrokerReadsAreSpaced) {
  for (int32_t position = 0; position < 3;) {
    CQuoteItems items;
    ASSERT_EQ(history_.GetPriceLast(position, stocks_, items), 0);
  }
  std::vector<int64_t> times;
  for (const CSimRequestRecord& r : server_.Requests()) {
    if (r.site == Site::kBrokerMobile) times.push_back(r.timeMs);
  }
  ASSERT_EQ(times.size(), 3u);
  // The server stamps wall time, the reader spaces by a monotonic clock:
  // allow a few milliseconds between them.
  EXPECT_GE(times[1] - times[0], 295);
  EXPECT_GE(times[2] - times[1], 295);
}

}  // namespace

namespace {

// Fixed pages (UTF-8, by path) served on the loopback, every site pointed
// at the server; a path without a page answers 404.
class CannedPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto serve = [this](const httplib::Request& req, httplib::Response& res) {
      const std::lock_guard<std::mutex> lock(mutex_);
      asked_.push_back(req.method + " " + req.target + " " + req.body);
      const auto it = pages_.find(req.path);
      if (it == pages_.end()) {
        res.status = 404;
      } else {
        res.set_content(it->second, "text/html; charset=utf-8");
      }
    };
    server_.server->Get(".*", serve);
    server_.server->Post(".*", serve);
    ASSERT_TRUE(server_.Start());
    for (const CSiteSetting& s : SiteSettings()) {
      env_.push_back(std::make_unique<ScopedEnv>(s.variable, server_.Url("").c_str()));
    }
    history_.SetAttempts(1);
  }
  void Page(const std::string& path, const std::string& cp932) {
    const std::lock_guard<std::mutex> lock(mutex_);
    pages_[path] = Utf8FromCp932(cp932);
  }

  LocalServer server_;
  std::mutex mutex_;  // the server's thread writes, the test reads after each answer
  std::vector<std::unique_ptr<ScopedEnv>> env_;
  std::map<std::string, std::string> pages_;
  std::vector<std::string> asked_;  // method, target and body of each request
  CLocalTime now_ = Time(20240311, 16);
  CWebHistory history_{[this] { return now_; }};
};

// A table of one row a date: the date in a `cell`, then `figures` cells.
std::string Rows(const std::vector<const char*>& dates, const char* cell, int figures) {
  std::string page = "<table><thead><tr><td>日付</td></tr></thead><tbody>";
  for (const char* d : dates) {
    page += std::string("<tr><") + cell + ">" + d + "</" + cell + ">";
    for (int i = 1; i <= figures; ++i) page += "<td>" + std::to_string(i) + "</td>";
    page += "</tr>";
  }
  return page + "</tbody></table></html>";
}

// Whichever order a page lists its days in, the bars come oldest first.
TEST_F(CannedPagesTest, BuiltInHistoriesComeOldestFirstInEitherPageOrder) {
  const std::string portal = CPrivateBrand::Instance().Find("1101").historyPage;
  const std::vector<const char*> newest = {"2024/03/08", "2024/03/07", "2024/03/06"};
  const std::vector<const char*> oldest = {"2024/03/06", "2024/03/07", "2024/03/08"};
  for (const auto* order : {&newest, &oldest}) {
    Page("/nydow/data/", Rows(*order, "td", 4));
    Page("/data/", Rows(*order, "th", 8));
    Page(portal.substr(0, portal.find('?')), Rows(*order, "th", 4));
    for (const char* code : {"1004", "1051", "1101"}) {
      uint32_t from = 20240301;
      CQuoteItems items;
      bool adjust = false;
      ASSERT_EQ(history_.GetPrice(from, 20240310, code, items, adjust), 0) << code;
      ASSERT_EQ(items.size(), 3u) << code;
      for (size_t i = 0; i < 3; ++i) EXPECT_EQ(items[i].record.DateNumber(), 20240306u + i) << code;
    }
  }
}

// The broker's form goes out in its field order, the button's label as
// its Shift_JIS bytes escaped one by one.
TEST_F(CannedPagesTest, BrokerFormAndDowRangeAsSent) {
  int32_t position = 0;
  CQuoteItems items;
  EXPECT_EQ(history_.GetPriceLast(position, {"7203"}, items), 0);  // both sites 404
  uint32_t from = 20240301;
  bool adjust = false;
  EXPECT_EQ(history_.GetPrice(from, 20240331, "1004", items, adjust), -404);
  const std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_EQ(asked_, (std::vector<std::string>{
                        "POST /bsite/price/searchStock.do ipm_product_code=7203&stock_name=&id=%8C%9F%8D%F5",
                        "GET /stock/7203 ",
                        "GET /nydow/data/?start_date=2024-03-01&end_date=2024-03-20 "}));
}

}  // namespace
