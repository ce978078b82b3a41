// The price readers against the simulated market, through the real HTTP
// client: what they read equals the market model's own bars.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "series/buffer_string.h"
#include "tests/common/scoped_env.h"
#include "tests/market_sim/sim_test_market.h"
#include "tools/market-sim/sim_server.h"
#include "web/site_urls.h"
#include "web/web_history.h"
#include "web/web_result.h"

namespace {

CLocalTime At(uint32_t number, int hour, int minute = 0) {
  CLocalTime now;
  now.date.FromNumber(number);
  now.hour = hour;
  now.minute = minute;
  return now;
}

// Open, high, low and close equal but for the last bits of rounding.
void ExpectPrices(const CDayRecord& got, const CDayRecord& want, const std::string& what) {
  const double g[] = {got.open, got.high, got.low, got.close};
  const double w[] = {want.open, want.high, want.low, want.close};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(g[i], w[i], 1e-9 * w[i]) << what << " #" << i;
}

class PriceReadersSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    for (const auto& [name, value] : server_.Environment()) {
      env_.push_back(std::make_unique<ScopedEnv>(name.c_str(), value.c_str()));
    }
    history_.SetAttempts(1);
    history_.SetRetryPause(0);
    for (const CSimIssue& issue : market_.Issues()) {
      if (!issue.builtIn && !issue.IsDelisted()) stocks_.push_back(issue.record.code);
      if (issue.IsDelisted() && delisted_.empty()) delisted_ = issue.record.code;
    }
    ASSERT_GE(stocks_.size(), 3u);
    ASSERT_FALSE(delisted_.empty());
  }

  void Fault(const std::string& text) {
    CSimFault fault;
    ASSERT_TRUE(ParseSimFault(text, fault)) << text;
    server_.AddFault(fault);
  }

  // One GetPrice; the items, or none on failure.
  int32_t Price(uint32_t& from, uint32_t to, const std::string& code, CQuoteItems& items,
                bool& adjust) {
    return history_.GetPrice(from, to, code, items, adjust);
  }

  const CSimMarket& market_ = SmallMarket();  // its last day: Wednesday 2024-06-19
  ScopedEnv noProxy_{"no_proxy", "*"};
  ScopedEnv noProxyUpper_{"NO_PROXY", "*"};
  CSimServer server_{market_, CSimServerOptions()};
  std::vector<std::unique_ptr<ScopedEnv>> env_;
  std::vector<std::string> stocks_;
  std::string delisted_;
  CLocalTime now_ = At(20240619, 16);
  CWebHistory history_{[this] { return now_; }};
};

TEST_F(PriceReadersSimTest, StockHistoriesEqualTheModelAcrossSplits) {
  std::vector<std::string> codes(stocks_.begin(), stocks_.begin() + 3);
  for (const std::string& code : stocks_) {
    for (const CDivideRecord& s : market_.Series(code)->splits) {
      if (s.date.year == 2024 && s.date.month <= 5 && codes.size() == 3) codes.push_back(code);
    }
  }
  ASSERT_EQ(codes.size(), 4u) << "the small market lacks a split in 2024";
  for (const std::string& code : codes) {
    const auto series = market_.Series(code);
    CQuoteItems all;
    int calls = 0;
    for (uint32_t from = 20240101; from <= 20240619 && calls < 50; ++calls) {
      CQuoteItems part;
      bool adjust = true;
      ASSERT_EQ(Price(from, 20240619, code, part, adjust), 0) << code;
      EXPECT_FALSE(adjust);
      all.insert(all.end(), part.begin(), part.end());
    }
    EXPECT_EQ(calls, 7) << code;  // 171 days, 25 a request
    size_t i = 0;
    for (const CDayRecord& bar : series->raw) {
      if (bar.DateNumber() < 20240101) continue;
      ASSERT_LT(i, all.size()) << code;
      const CDayRecord& got = all[i++].record;
      const std::string what = code + " " + std::to_string(bar.DateNumber());
      ASSERT_EQ(got.DateNumber(), bar.DateNumber()) << what;
      ExpectPrices(got, bar, what);
      EXPECT_EQ(got.volume, bar.volume) << what;
      int32_t index = -1;
      ASSERT_TRUE(series->adjusted.Find(bar.DateNumber(), index, CChart::kFindExact));
      EXPECT_NEAR(got.rawClose, series->adjusted[index].close, 0.006) << what;
    }
    EXPECT_EQ(i, all.size()) << code;
  }
}

TEST_F(PriceReadersSimTest, StockHistoryStepsAndTheLastDayFollowTheClock) {
  const std::string& code = stocks_[0];
  ASSERT_EQ(market_.Series(code)->raw.back().DateNumber(), 20240619u);
  struct Case {
    uint32_t from, to;
    CLocalTime now;
    uint32_t nextFrom, lastDelivered;
  };
  const Case cases[] = {
      {20240501, 20240531, At(20240619, 16), 20240526, 20240524},  // asks 1-25 May
      {20240610, 20240619, At(20240619, 14, 59), 20240620, 20240618},
      {20240610, 20240619, At(20240619, 15, 0), 20240620, 20240619},
      {20240615, 20240616, At(20240619, 16), 20240617, 0},  // a weekend: no rows
  };
  for (const Case& c : cases) {
    now_ = c.now;
    uint32_t from = c.from;
    CQuoteItems items;
    bool adjust = true;
    ASSERT_EQ(Price(from, c.to, code, items, adjust), 0);
    EXPECT_EQ(from, c.nextFrom) << c.from;
    EXPECT_EQ(items.empty() ? 0u : items.back().record.DateNumber(), c.lastDelivered) << c.from;
  }
  const CSimRequestRecord first = server_.Requests().front();
  EXPECT_EQ(first.path, "/quote/" + code + "/history");
  EXPECT_EQ(first.query, "from=20240501&to=20240525&timeFrame=d&page=1");
}

TEST_F(PriceReadersSimTest, QuotesOfStocksFromEitherSiteAndOfBuiltInIssues) {
  std::vector<std::string> codes(stocks_.begin(), stocks_.begin() + 3);
  codes.insert(codes.end(),
               {delisted_, "9999", "1001", "1002", "1101", "1105", "1051", "1004"});
  // The broker first; then, with the broker failing, the second site.
  for (const bool brokerDown : {false, true}) {
    if (brokerDown) Fault("status=503@broker-mobile:/bsite/price/searchStock.do");
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
  struct Case {
    const char* code;
    uint32_t from, to;
    bool adjust;  // the portal's: every bar of its last three months
    uint32_t nextFrom, first, last;
  };
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
    ASSERT_EQ(Price(from, c.to, c.code, items, adjust), 0) << c.code;
    EXPECT_EQ(adjust, c.adjust) << c.code;
    EXPECT_EQ(from, c.nextFrom) << c.code;
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(items.size(), want.size()) << c.code;
    for (size_t i = 0; i < want.size(); ++i) {
      CDayRecord expected = want[i];
      if (c.adjust) {  // stored in single precision
        for (double* v : {&expected.open, &expected.high, &expected.low, &expected.close}) {
          *v = static_cast<float>(*v);
        }
      }
      const CDayRecord& got = items[i].record;
      ASSERT_EQ(got.DateNumber(), expected.DateNumber()) << c.code;
      ExpectPrices(got, expected, c.code);
      EXPECT_EQ(items[i].code, c.code);
      EXPECT_EQ(got.rawClose, got.close);
      EXPECT_EQ(got.volume, 0);
    }
  }
  bool shortened = false;
  for (const CSimRequestRecord& r : server_.Requests()) {
    shortened |= r.query == "start_date=2024-05-01&end_date=2024-05-20";
  }
  EXPECT_TRUE(shortened);
}

TEST_F(PriceReadersSimTest, FailuresThroughTheClientGiveTheirCodesAndTexts) {
  const std::string stock = stocks_[0];
  const std::string history = "/quote/" + stock + "/history";
  const char* changed = "ページ仕様が変更された";
  struct Case {
    std::vector<std::string> faults;
    std::string code;
    bool quote;
    int32_t result;
    const char* message;
  };
  const Case cases[] = {
      {{}, "9999", false, -404, "ステータスコード404を返しました"},
      {{"status=500@finance:/quote/*"}, stock, false, -500, "ステータスコード500を返しました"},
      {{"altered@finance:/quote/*"}, stock, false, kWebErrorPage, changed},
      {{"altered@index-portal:/contents/*"}, "1003", false, kWebErrorPage, changed},
      {{"altered@futures-data:/data/"}, "1051", false, kWebErrorPage, changed},
      {{"altered@dow-forecast:/nydow/data/"}, "1004", false, kWebErrorPage, changed},
      {{"altered@index-portal:/contents/*"}, "1101", true, kWebErrorPage, changed},
      {{"altered@broker-futures:/future/3OSE11/index"}, "1051", true, kWebErrorPage, changed},
      {{"altered@finance:/quote/%5EDJI"}, "1004", true, kWebErrorPage, changed},
      {{"status=404@broker-futures:/future/3OSE11/index"}, "1051", true, -404, "404"},
      // The broker's changed page hands the code to the second site, whose
      // changed page is refused.
      {{"altered@broker-mobile:/bsite/price/searchStock.do", "altered@stock-info:/stock/*"},
       stock, true, kWebErrorPage, changed},
  };
  for (const Case& c : cases) {
    server_.ClearFaults();
    for (const std::string& fault : c.faults) Fault(fault);
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
      result = Price(from, 20240619, c.code, items, adjust);
      EXPECT_EQ(from, 20240601u) << what;
    }
    EXPECT_EQ(result, c.result) << what;
    EXPECT_TRUE(items.empty()) << what;
    EXPECT_NE(GetWebMessage(result).find(c.message), std::string::npos) << what;
  }

  // A page cut in the middle of its table: the client sees the body end
  // short of its length.
  server_.ClearFaults();
  const std::string query = "?from=20240601&to=20240619&timeFrame=d&page=1";
  CHttpClient client;
  CBufferString whole;
  ASSERT_EQ(client.Get(SiteAddress(Site::kFinance, history + query), whole), 0);
  Fault("cut=" + std::to_string(std::string(whole.GetText()).size() / 2) + "@finance:" + history);
  uint32_t from = 20240601;
  CQuoteItems items;
  bool adjust = false;
  const int32_t cut = Price(from, 20240619, stock, items, adjust);
  EXPECT_EQ(cut, -1004);
  EXPECT_EQ(GetWebMessage(cut), "不明なエラー(-1004)が発生しました");
  EXPECT_TRUE(items.empty());

  // A transient failure is asked again, then passed on.
  server_.ClearFaults();
  server_.ClearRequests();
  Fault("status=500@finance:" + history);
  history_.SetAttempts(3);
  EXPECT_EQ(Price(from, 20240619, stock, items, adjust), -500);
  EXPECT_EQ(server_.Requests().size(), 3u);
}

TEST_F(PriceReadersSimTest, RedirectsAndRowsCutShortStillRead) {
  auto count = [&](const std::string& code, uint32_t from, uint32_t to) {
    CQuoteItems items;
    bool adjust = false;
    EXPECT_EQ(Price(from, to, code, items, adjust), 0) << code;
    return items.size();
  };
  EXPECT_EQ(count(stocks_[0], 20240603, 20240619), 13u);
  Fault("redirect=2@finance:/quote/*");
  EXPECT_EQ(count(stocks_[0], 20240603, 20240619), 13u);

  // The futures page breaking off in its oldest row loses that row only;
  // the Dow page breaking off after its oldest row's close loses nothing.
  const CChart& future = market_.Series("1051")->raw;
  const uint32_t oldest = future.front().DateNumber();
  EXPECT_EQ(count("1051", oldest, 20240619), future.size());
  const size_t dow = count("1004", 20240603, 20240619);
  Fault("short-rows@futures-data:/data/");
  Fault("short-rows@dow-forecast:/nydow/data/");
  EXPECT_EQ(count("1051", oldest, 20240619), future.size() - 1);
  EXPECT_EQ(count("1004", 20240603, 20240619), dow);
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
