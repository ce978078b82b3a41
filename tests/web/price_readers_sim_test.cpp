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

void ExpectPrice(double got, double want, const std::string& what) {
  EXPECT_NEAR(got, want, 1e-9 * want + 1e-12) << what;
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
  }

  int AddFault(const std::string& text) {
    CSimFault fault;
    EXPECT_TRUE(ParseSimFault(text, fault)) << text;
    return server_.AddFault(fault);
  }

  const CSimMarket& market_ = SmallMarket();
  ScopedEnv noProxy_{"no_proxy", "*"};
  ScopedEnv noProxyUpper_{"NO_PROXY", "*"};
  CSimServer server_{market_, CSimServerOptions()};
  std::vector<std::unique_ptr<ScopedEnv>> env_;
  CLocalTime now_ = At(20240619, 16);  // the market's last day, after the close
  CWebHistory history_{[this] { return now_; }};
};

const CSimIssue* FindIssue(const CSimMarket& market, bool (*pick)(const CSimIssue&)) {
  for (const CSimIssue& issue : market.Issues()) {
    if (pick(issue)) return &issue;
  }
  return nullptr;
}

bool ListedStock(const CSimIssue& i) { return !i.builtIn && !i.IsDelisted(); }

// Reads a stock's whole range the way the price stage does.
int32_t ReadAll(CWebHistory& history, uint32_t from, uint32_t to, const std::string& code,
                CQuoteItems& all, int& calls) {
  all.clear();
  calls = 0;
  while (from <= to) {
    CQuoteItems part;
    bool adjust = true;
    const int32_t result = history.GetPrice(from, to, code, part, adjust);
    if (result != 0) return result;
    EXPECT_FALSE(adjust);
    all.insert(all.end(), part.begin(), part.end());
    if (++calls > 100) return -1;
  }
  return 0;
}

TEST_F(PriceReadersSimTest, StockHistoriesEqualTheModelAcrossSplits) {
  std::vector<const CSimIssue*> issues;
  const CSimIssue* split = nullptr;
  for (const CSimIssue& issue : market_.Issues()) {
    if (!ListedStock(issue)) continue;
    const auto series = market_.Series(issue.record.code);
    for (const CDivideRecord& s : series->splits) {
      if (split == nullptr && s.date.year == 2024 && s.date.month <= 5) split = &issue;
    }
    if (issues.size() < 3) issues.push_back(&issue);
  }
  ASSERT_NE(split, nullptr) << "the small market lacks a split in 2024";
  issues.push_back(split);
  for (const CSimIssue* issue : issues) {
    const std::string& code = issue->record.code;
    const auto series = market_.Series(code);
    CQuoteItems items;
    int calls = 0;
    ASSERT_EQ(ReadAll(history_, 20240101, 20240619, code, items, calls), 0) << code;
    EXPECT_EQ(calls, 7) << code;  // 171 days, 25 a request
    std::vector<CDayRecord> want;
    for (const CDayRecord& bar : series->raw) {
      if (bar.DateNumber() >= 20240101 && bar.DateNumber() <= 20240619) want.push_back(bar);
    }
    ASSERT_EQ(items.size(), want.size()) << code;
    for (size_t i = 0; i < want.size(); ++i) {
      const CDayRecord& got = items[i].record;
      const std::string what = code + " " + std::to_string(want[i].DateNumber());
      EXPECT_EQ(items[i].code, code);
      ASSERT_EQ(got.DateNumber(), want[i].DateNumber()) << what;
      ExpectPrice(got.open, want[i].open, what);
      ExpectPrice(got.high, want[i].high, what);
      ExpectPrice(got.low, want[i].low, what);
      ExpectPrice(got.close, want[i].close, what);
      EXPECT_EQ(got.volume, want[i].volume) << what;
      int32_t index = -1;
      ASSERT_TRUE(series->adjusted.Find(want[i].DateNumber(), index, CChart::kFindExact));
      EXPECT_NEAR(got.rawClose, series->adjusted[index].close, 0.006) << what;
    }
  }
}

TEST_F(PriceReadersSimTest, StockHistoryStepsAndTheLastDayFollowTheClock) {
  const CSimIssue* issue = FindIssue(market_, ListedStock);
  ASSERT_NE(issue, nullptr);
  const std::string& code = issue->record.code;
  const auto series = market_.Series(code);
  ASSERT_EQ(series->raw.back().DateNumber(), 20240619u);
  struct Case {
    uint32_t from, to;
    CLocalTime now;
    uint32_t nextFrom, lastDelivered;
  };
  const Case cases[] = {
      {20240501, 20240531, At(20240619, 16), 20240526, 20240524},  // 1-25 May asked
      {20240610, 20240619, At(20240619, 14, 59), 20240620, 20240618},
      {20240610, 20240619, At(20240619, 15, 0), 20240620, 20240619},
      {20240615, 20240616, At(20240619, 16), 20240617, 0},  // a weekend: no rows
  };
  for (const Case& c : cases) {
    now_ = c.now;
    uint32_t from = c.from;
    CQuoteItems items;
    bool adjust = true;
    ASSERT_EQ(history_.GetPrice(from, c.to, code, items, adjust), 0);
    EXPECT_FALSE(adjust);
    EXPECT_EQ(from, c.nextFrom) << c.from;
    EXPECT_EQ(items.empty() ? 0u : items.back().record.DateNumber(), c.lastDelivered) << c.from;
  }
  const std::vector<CSimRequestRecord> log = server_.Requests();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().path, "/quote/" + code + "/history");
  EXPECT_EQ(log.front().query, "from=20240501&to=20240525&timeFrame=d&page=1");
}

// The expected quote of a listed issue: its last bar, or its close alone
// when it did not trade on the last day.
CDayRecord LastQuote(const CSimMarket& market, const std::string& code) {
  const auto series = market.Series(code);
  CDayRecord bar = series->raw.back();
  if (!(bar.Date() == market.LastDate())) {
    bar.open = bar.high = bar.low = bar.close;
    bar.volume = 0;
  }
  bar.rawClose = bar.close;
  return bar;
}

TEST_F(PriceReadersSimTest, QuotesOfStocksFromEitherSiteAndOfBuiltInIssues) {
  std::vector<std::string> codes;
  std::string delisted;
  for (const CSimIssue& issue : market_.Issues()) {
    if (ListedStock(issue) && codes.size() < 3) codes.push_back(issue.record.code);
    if (issue.IsDelisted() && delisted.empty()) delisted = issue.record.code;
  }
  ASSERT_EQ(codes.size(), 3u);
  ASSERT_FALSE(delisted.empty());
  const size_t stocks = codes.size();
  codes.insert(codes.end(), {delisted, "9999", "1001", "1002", "1101", "1105", "1051", "1004"});

  // The broker first; then, with the broker failing, the second site.
  for (const bool brokerDown : {false, true}) {
    if (brokerDown) AddFault("status=503@broker-mobile:/bsite/price/searchStock.do");
    for (int32_t position = 0; position < static_cast<int32_t>(codes.size());) {
      const std::string code = codes[static_cast<size_t>(position)];
      CQuoteItems items;
      const int32_t before = position;
      ASSERT_EQ(history_.GetPriceLast(position, codes, items), 0) << code;
      EXPECT_EQ(position, before + 1);
      if (code == delisted || code == "9999") {
        EXPECT_TRUE(items.empty()) << code;
        continue;
      }
      ASSERT_EQ(items.size(), 1u) << code;
      EXPECT_EQ(items[0].code, code);
      const CDayRecord& got = items[0].record;
      CDayRecord want = static_cast<size_t>(before) < stocks ? LastQuote(market_, code)
                                                           : market_.Series(code)->raw.back();
      if (static_cast<size_t>(before) >= stocks) {
        want.volume = 0;
        want.rawClose = want.close;
      }
      // A Wednesday at 16:00: every rule gives the day itself but the
      // Dow's (New York has not opened yet).
      EXPECT_EQ(got.DateNumber(), code == "1004" ? 20240618u : 20240619u) << code;
      ExpectPrice(got.open, want.open, code);
      ExpectPrice(got.high, want.high, code);
      ExpectPrice(got.low, want.low, code);
      ExpectPrice(got.close, want.close, code);
      ExpectPrice(got.rawClose, want.close, code);
      EXPECT_EQ(got.volume, want.volume) << code;
    }
    size_t second = 0;
    for (const CSimRequestRecord& r : server_.Requests()) second += r.site == Site::kStockInfo;
    // The second site is asked only when the broker fails: once a stock.
    EXPECT_EQ(second, brokerDown ? stocks + 2 : 0u);
    server_.ClearRequests();
  }
}

TEST_F(PriceReadersSimTest, HistoriesOfBuiltInIssues) {
  struct Case {
    const char* code;
    uint32_t from, to;
    bool adjust;
    uint32_t nextFrom;
    uint32_t first, last;  // the range of model bars expected
  };
  const Case cases[] = {
      // The portal gives its three months whatever was asked.
      {"1002", 20240101, 20240110, true, 20240111, 20240320, 20240619},
      {"1101", 20240601, 20240619, true, 20240620, 20240320, 20240619},
      {"1051", 20240501, 20240531, false, 20240601, 20240501, 20240531},
      // 1 to 31 May asks for 1 to 20 May.
      {"1004", 20240501, 20240531, false, 20240521, 20240501, 20240520},
  };
  for (const Case& c : cases) {
    const CChart& bars = market_.Series(c.code)->raw;
    std::vector<CDayRecord> want;
    CDate start = bars.back().Date();
    start.AddMonths(-3);
    for (const CDayRecord& bar : bars) {
      const bool portal = c.adjust;
      if (portal ? start < bar.Date() : bar.DateNumber() >= c.first && bar.DateNumber() <= c.last) {
        want.push_back(bar);
      }
    }
    uint32_t from = c.from;
    CQuoteItems items;
    bool adjust = !c.adjust;
    ASSERT_EQ(history_.GetPrice(from, c.to, c.code, items, adjust), 0) << c.code;
    EXPECT_EQ(adjust, c.adjust) << c.code;
    EXPECT_EQ(from, c.nextFrom) << c.code;
    ASSERT_EQ(items.size(), want.size()) << c.code;
    ASSERT_FALSE(want.empty());
    for (size_t i = 0; i < want.size(); ++i) {
      const CDayRecord& got = items[i].record;
      EXPECT_EQ(items[i].code, c.code);
      ASSERT_EQ(got.DateNumber(), want[i].DateNumber()) << c.code;
      if (c.adjust) {
        EXPECT_FLOAT_EQ(static_cast<float>(got.open), static_cast<float>(want[i].open));
        EXPECT_FLOAT_EQ(static_cast<float>(got.close), static_cast<float>(want[i].close));
        EXPECT_EQ(got.close, static_cast<double>(static_cast<float>(got.close)));
      } else {
        ExpectPrice(got.open, want[i].open, c.code);
        ExpectPrice(got.high, want[i].high, c.code);
        ExpectPrice(got.low, want[i].low, c.code);
        ExpectPrice(got.close, want[i].close, c.code);
      }
      EXPECT_EQ(got.rawClose, got.close);
      EXPECT_EQ(got.volume, 0);
    }
  }
  bool found = false;
  for (const CSimRequestRecord& r : server_.Requests()) {
    found |= r.path == "/nydow/data/" && r.query == "start_date=2024-05-01&end_date=2024-05-20";
  }
  EXPECT_TRUE(found);
}

struct FailureCase {
  std::vector<std::string> faults;
  const char* code;
  bool quote;
  int32_t result;
  const char* message;
};

TEST_F(PriceReadersSimTest, FailuresThroughTheClientGiveTheirCodesAndTexts) {
  const CSimIssue* issue = FindIssue(market_, ListedStock);
  ASSERT_NE(issue, nullptr);
  const std::string stock = issue->record.code;
  const std::string history = "/quote/" + stock + "/history";
  const std::string page = "ページ仕様が変更された";
  const FailureCase cases[] = {
      {{}, "9999", false, -404, "ステータスコード404を返しました"},
      {{"status=500@finance:/quote/*"}, "", false, -500, "ステータスコード500を返しました"},
      {{"altered@finance:/quote/*"}, "", false, kWebErrorPage, page.c_str()},
      {{"altered@index-portal:/contents/*"}, "1003", false, kWebErrorPage, page.c_str()},
      {{"altered@futures-data:/data/"}, "1051", false, kWebErrorPage, page.c_str()},
      {{"altered@dow-forecast:/nydow/data/"}, "1004", false, kWebErrorPage, page.c_str()},
      {{"altered@index-portal:/contents/*"}, "1101", true, kWebErrorPage, page.c_str()},
      {{"altered@broker-futures:/future/3OSE11/index"}, "1051", true, kWebErrorPage, page.c_str()},
      {{"altered@finance:/quote/%5EDJI"}, "1004", true, kWebErrorPage, page.c_str()},
      {{"status=404@broker-futures:/future/3OSE11/index"}, "1051", true, -404, "404"},
      // The broker's changed page hands the code to the second site, whose
      // changed page is refused.
      {{"altered@broker-mobile:/bsite/price/searchStock.do", "altered@stock-info:/stock/*"},
       "",
       true,
       kWebErrorPage,
       page.c_str()},
  };
  history_.SetAttempts(3);
  for (const FailureCase& c : cases) {
    server_.ClearFaults();
    server_.ClearRequests();
    for (const std::string& fault : c.faults) AddFault(fault);
    const std::string what = c.faults.empty() ? "no fault" : c.faults.front();
    const std::string code = *c.code != '\0' ? c.code : stock;
    CQuoteItems items(1);
    int32_t result = 0;
    uint32_t from = 20240601;
    if (c.quote) {
      int32_t position = 0;
      result = history_.GetPriceLast(position, {code}, items);
      EXPECT_EQ(position, 0) << what;
    } else {
      bool adjust = false;
      result = history_.GetPrice(from, 20240619, code, items, adjust);
      EXPECT_EQ(from, 20240601u) << what;
    }
    EXPECT_EQ(result, c.result) << what;
    EXPECT_TRUE(items.empty()) << what;
    EXPECT_NE(GetWebMessage(result).find(c.message), std::string::npos) << what;
  }
  // A page cut in the middle of its table is refused: by the client when
  // it sees the body end short of its length, else by the reader.
  server_.ClearFaults();
  {
    CHttpClient client;
    CBufferString whole;
    ASSERT_EQ(client.Get(SiteAddress(Site::kFinance, history + "?from=20240601&to=20240619&"
                                                      "timeFrame=d&page=1"),
                         whole),
              0);
    const size_t length = std::string(whole.GetText()).size();
    AddFault("cut=" + std::to_string(length / 2) + "@finance:" + history);
    uint32_t from = 20240601;
    CQuoteItems items;
    bool adjust = false;
    const int32_t result = history_.GetPrice(from, 20240619, stock, items, adjust);
    EXPECT_TRUE(result == -1004 || result == kWebErrorPage) << result;
    EXPECT_TRUE(items.empty());
  }
  // A transient failure is asked again, then passed on.
  server_.ClearFaults();
  server_.ClearRequests();
  AddFault("status=500@finance:" + history);
  uint32_t from = 20240601;
  CQuoteItems items;
  bool adjust = false;
  EXPECT_EQ(history_.GetPrice(from, 20240619, stock, items, adjust), -500);
  EXPECT_EQ(server_.Requests().size(), 3u);
}

TEST_F(PriceReadersSimTest, RedirectsAndRowsCutShortStillRead) {
  const CSimIssue* issue = FindIssue(market_, ListedStock);
  ASSERT_NE(issue, nullptr);
  const std::string code = issue->record.code;
  auto count = [&](const std::string& c, uint32_t from, uint32_t to) {
    CQuoteItems items;
    bool adjust = false;
    EXPECT_EQ(history_.GetPrice(from, to, c, items, adjust), 0) << c;
    return items.size();
  };
  const size_t plain = count(code, 20240603, 20240619);
  EXPECT_EQ(plain, 13u);
  AddFault("redirect=2@finance:/quote/*");
  EXPECT_EQ(count(code, 20240603, 20240619), plain);

  // The futures page breaking off in its oldest row loses that row only;
  // the Dow page breaking off after its oldest row's close loses nothing.
  const CChart& future = market_.Series("1051")->raw;
  const uint32_t oldest = future.front().DateNumber();
  const size_t fullFuture = count("1051", oldest, 20240619);
  const size_t fullDow = count("1004", 20240603, 20240619);
  EXPECT_EQ(fullFuture, future.size());
  AddFault("short-rows@futures-data:/data/");
  AddFault("short-rows@dow-forecast:/nydow/data/");
  EXPECT_EQ(count("1051", oldest, 20240619), fullFuture - 1);
  EXPECT_EQ(count("1004", 20240603, 20240619), fullDow);
}

TEST_F(PriceReadersSimTest, BrokerReadsAreSpacedButFailuresAreNot) {
  std::vector<std::string> codes;
  for (const CSimIssue& issue : market_.Issues()) {
    if (ListedStock(issue) && codes.size() < 3) codes.push_back(issue.record.code);
  }
  for (int32_t position = 0; position < 3;) {
    CQuoteItems items;
    ASSERT_EQ(history_.GetPriceLast(position, codes, items), 0);
  }
  std::vector<int64_t> times;
  for (const CSimRequestRecord& r : server_.Requests()) {
    if (r.site == Site::kBrokerMobile) times.push_back(r.timeMs);
  }
  ASSERT_EQ(times.size(), 3u);
  // The server's clock (wall time) may tick a little apart from the
  // reader's: allow a few milliseconds.
  EXPECT_GE(times[1] - times[0], 295);
  EXPECT_GE(times[2] - times[1], 295);
}

}  // namespace
