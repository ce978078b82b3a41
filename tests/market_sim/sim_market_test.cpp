// The simulator's pages, archive files and faults are checked through the
// readers and the runs that use them (tests/web, tests/setup, tests/cli);
// here, what those tests rely on and cannot see: the same options make the
// same market, a market of a later today new listings, delistings and
// splits, fault texts read
// as the command line gives them, and the request log counts what each
// client costs the link.
#include "tools/market-sim/sim_market.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <vector>

#include "tests/market_sim/sim_test_market.h"
#include "tools/market-sim/sim_pages.h"
#include "tools/market-sim/sim_server.h"

namespace {

// Two todays of one seed and horizon: between them some issues were
// listed, some delisted and some split, so that an update from the earlier
// to the later has all of those to take in. (That the past stays the same
// is shown by the update runs, which equal a setup at the later day.)
TEST(SimMarketTest, ALaterTodayAddsWhatHappenedSince) {
  const CDate horizon(2026, 12, 31);
  const CSimMarket early({.seed = 3, .issueCount = 400, .firstYear = 2023,
                          .today = CDate(2024, 6, 14), .horizon = horizon});
  const CSimMarket later({.seed = 3, .issueCount = 400, .firstYear = 2023,
                          .today = CDate(2024, 12, 27), .horizon = horizon});
  int listed = 0, delisted = 0, split = 0;
  ASSERT_EQ(early.Issues().size(), later.Issues().size());
  for (size_t i = 0; i < early.Issues().size(); ++i) {
    const CSimIssue &a = early.Issues()[i], &b = later.Issues()[i];
    listed += !a.IsListedOn(early.LastDate()) && b.IsListedOn(later.LastDate());
    delisted += a.IsListedOn(early.LastDate()) && !b.IsListedOn(later.LastDate());
    const std::string& code = a.record.code;
    split += later.Series(code)->splits.size() > early.Series(code)->splits.size();
  }
  EXPECT_GT(listed, 0);
  EXPECT_GT(delisted, 0);
  EXPECT_GT(split, 0);
}

TEST(SimMarketTest, SameOptionsGiveTheSameMarketAnotherSeedAnother) {
  CSimMarketOptions options = SmallMarketOptions();
  options.cacheIssues = 1;
  const CSimMarket a(options);
  const CSimMarket& b = SmallMarket();
  ASSERT_EQ(a.Issues().size(), b.Issues().size());
  for (size_t i = 0; i < a.Issues().size(); ++i) {
    const CSimIssue &x = a.Issues()[i], &y = b.Issues()[i];
    EXPECT_TRUE(x.record == y.record && x.listed == y.listed && x.delisted == y.delisted &&
                x.retiredMarket == y.retiredMarket) << x.record.code;
  }
  // With a cache of one series, the first issue is made twice here.
  const std::string first = a.Issues()[20].record.code;
  const CSimSeries once = *a.Series(first);
  a.Series(a.Issues()[30].record.code);
  for (const CSimSeries& s : {*a.Series(first), *b.Series(first)}) {
    EXPECT_TRUE(s.raw == once.raw && s.adjusted == once.adjusted && s.margin == once.margin &&
                s.adjustedMargin == once.adjustedMargin && s.splits == once.splits);
  }

  options.seed = 8;
  const CSimMarket other(options);
  size_t differing = 0;
  for (size_t i = 0; i < other.Issues().size() && i < a.Issues().size(); ++i) {
    differing += other.Issues()[i].record == a.Issues()[i].record ? 0 : 1;
  }
  EXPECT_GT(differing, 20u);
  EXPECT_NE(other.Series("1001")->raw, a.Series("1001")->raw);
}

TEST(SimFaultTest, ParsesTheCommandLineForm) {
  CSimFault f;
  ASSERT_TRUE(ParseSimFault("fail-first=3/502@stock-list:/list*", f));
  EXPECT_TRUE(f.kind == CSimFault::Kind::kFailFirst && f.count == 3 && f.status == 502 &&
              f.site == Site::kStockList && f.path == "/list" && f.prefix);
  ASSERT_TRUE(ParseSimFault("cut=0@/a?b=c:d", f));
  EXPECT_TRUE(f.kind == CSimFault::Kind::kCutBody && f.bytes == 0 && !f.site && f.path == "/a?b=c:d" &&
              !f.prefix);
  ASSERT_TRUE(ParseSimFault("altered@broker-futures:/", f));
  EXPECT_EQ(f.kind, CSimFault::Kind::kAlteredStructure);
  for (const char* bad : {"status=404", "status=99@/a", "status=@/a", "hang=1@/a", "cut=-1@/a",
                          "redirect=0@/a", "delay=5@nowhere:/a", "stall@/a", "status=404@a",
                          "fail-first=2/@/a"}) {
    EXPECT_FALSE(ParseSimFault(bad, f)) << bad;
  }
}

// A client that closes its connection after each request costs one
// connection and one TLS handshake a request, and every request names its
// connection, numbered from 1. Through a link of limited rate and some
// latency a page still arrives byte for byte. (Kept connections are
// counted by the readers' tests.)
TEST(SimServerTest, TheRequestLogCountsConnectionsHandshakesAndRequests) {
  const CSimRequest request{.site = Site::kStockList, .method = "GET",
                            .path = "/market_jp/stock_list/price/all/all/1"};
  CSimResponse page;
  ASSERT_TRUE(RenderSitePage(SmallMarket(), request, page));
  EXPECT_GT(page.body.size(), 5000u);  // several pieces of the limited link
  CSimServer server(SmallMarket(), {.https = true, .latencyMs = 5, .bandwidth = 200000});
  ASSERT_TRUE(server.Start());
  httplib::Client client(server.BaseUrl(Site::kStockList));
  client.set_keep_alive(false);
  client.set_ca_cert_path(server.CaFile().c_str());
  client.enable_server_certificate_verification(true);
  for (int i = 0; i < 3; ++i) {
    const httplib::Result result = client.Get(request.path.c_str());
    ASSERT_TRUE(result && result->status == 200);
    EXPECT_TRUE(result->body == page.body);
  }
  const CSimLinkCounts got = server.Counts(Site::kStockList);
  EXPECT_TRUE(got.connections == 3 && got.handshakes == 3 && got.requests == 3);
  std::vector<int64_t> connections;
  for (const CSimRequestRecord& r : server.Requests()) connections.push_back(r.connection);
  EXPECT_EQ(connections, (std::vector<int64_t>{1, 2, 3}));
  server.ClearRequests();
  EXPECT_EQ(server.Counts().connections, 0);
}

}  // namespace
