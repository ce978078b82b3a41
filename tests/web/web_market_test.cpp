#include "web/web_market.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "tests/common/monotonic_ms.h"
#include "tests/web/archive_test_util.h"
#include "web/web_history.h"
#include "web/web_result.h"
#include "web/web_stock.h"

namespace {

// A listed stock of the small market with margin trading and a split.
std::string Stock() {
  for (const CSimIssue& issue : SmallMarket().Issues()) {
    if (issue.record.kind == kKindStock && !issue.IsDelisted() && issue.record.lendable != 0 &&
        !SmallMarket().Series(issue.record.code)->splits.empty()) {
      return issue.record.code;
    }
  }
  return "";
}

// The page reader's answer, bars with the raw close the market gives them.
Answer AskPage(int question, const std::string& code) {
  CWebStock stock;
  CWebHistory history(At(kToday, 16, 0));
  stock.Client().SetRetryPause(5);
  history.SetRetryPause(5);
  Answer a = question == 2 || question == 3 ? Ask(question, history, code) : Ask(question, stock, code);
  for (CQuoteItem& item : a.bars) item.record.rawClose = item.record.close;
  return a;
}

class WebMarketTest : public SimMarketTest {
 protected:
  std::unique_ptr<CWebMarket> MakeMarket() {
    auto market = std::make_unique<CWebMarket>(At(kToday, 16, 0));
    market->Archive().Client().SetRetryPause(5);
    market->Stock().Client().SetRetryPause(5);
    market->History().SetRetryPause(5);
    return market;
  }
  size_t PageRequests() const {
    const auto all = server_.Requests();
    return std::count_if(all.begin(), all.end(), [](const auto& r) { return r.site != Site::kArchive; });
  }
};

// Every negative archive code sends the question to the page reader, whose
// answer is then the market's; with the preference off no archive file is
// asked for at all.
TEST_F(WebMarketTest, FallsBackToThePagesOnEveryArchiveFailure) {
  const std::string code = Stock();
  for (int q = 0; q < 5; ++q) {
    const Answer page = AskPage(q, code);
    EXPECT_EQ(page.result, 0) << kFiles[q];
    EXPECT_FALSE(page.Empty()) << kFiles[q];
    std::vector<std::function<void()>> failures;
    for (const char* spec : {"status=404", "status=500", "corrupt-gzip"}) {
      failures.push_back([=, this] { AddFault(std::string(spec) + "@archive:" + CWebArchive::kPathPrefix + kFiles[q]); });
    }
    std::optional<FixedArchive> unreadable;  // -20001
    failures.push_back([&] { unreadable.emplace(std::string("\0\0", 2)); });
    failures.push_back([] {});  // the preference off
    for (size_t f = 0; f < failures.size(); ++f) {
      SCOPED_TRACE(std::string(kFiles[q]) + " failure " + std::to_string(f));
      server_.ClearRequests();
      failures[f]();
      auto market = MakeMarket();
      market->SetArchivePreference(f + 1 < failures.size());
      EXPECT_EQ(Ask(q, *market, code), page);
      EXPECT_GT(PageRequests(), 0u);
      // The last two ask the simulated archive nothing: the unreadable
      // file comes from a server of its own.
      EXPECT_EQ(Requested().empty(), f + 2 >= failures.size());
      server_.ClearFaults();
      unreadable.reset();
    }
    // A temporary folder where nothing can be made is a local fault: it
    // stands as the answer, with its cause, and no page is asked.
    {
      ScopedEnv nowhere("TMPDIR", "/proc");
      server_.ClearRequests();
      auto market = MakeMarket();
      EXPECT_EQ(Ask(q, *market, code).result, CWebArchive::kErrorLocal) << kFiles[q];
      EXPECT_EQ(PageRequests(), 0u);
      EXPECT_NE(market->GetMessage(CWebArchive::kErrorLocal).find("/proc"), std::string::npos);
    }
  }
  auto market = MakeMarket();
  market->SetArchivePreference(false);
  std::vector<std::string> codes;
  EXPECT_EQ(market->GetBrandList(1, codes), 0);
  EXPECT_FALSE(codes.empty());
  EXPECT_TRUE(Requested().empty());
}

// 0 and 1 from the archive are final: no page is asked for. The one
// exception is an issue the loaded issue file lacks: its details are asked
// of the pages, as a blank row would drop out of every later stage.
TEST_F(WebMarketTest, NeverFallsBackOnAnArchiveAnswer) {
  auto market = MakeMarket();
  EXPECT_TRUE(market->ArchivePreference());
  for (const std::string& code : {Stock(), std::string("0000")}) {
    for (int q = 1; q < 5; ++q) {
      const Answer answer = Ask(q, *market, code);
      EXPECT_EQ(answer.result, code == "0000" && q == 1 ? 1 : 0) << kFiles[q];
      EXPECT_EQ(answer.Empty(), code == "0000") << kFiles[q];
    }
  }
  EXPECT_EQ(Ask(0, *market, Stock()).result, 0);
  EXPECT_EQ(PageRequests(), 0u);
  Ask(0, *market, "0000");
  EXPECT_EQ(PageRequests(), 1u);
}

// Both sources give prices as traded and balances as reported: the bars
// agree as the chart files hold them (float32), and so do the margin
// entries of the weeks the margin page shows.
TEST_F(WebMarketTest, ArchiveAndPagesAgree) {
  auto archive = MakeMarket();
  auto pages = MakeMarket();
  pages->SetArchivePreference(false);
  auto bars = [](CWebMarket& source) {
    std::vector<std::vector<float>> out;
    for (uint32_t from = 20220105; from <= 20240619;) {
      CQuoteItems items;
      bool adjust = true;
      if (source.GetPrice(from, 20240619, Stock(), items, adjust) != 0 || adjust) return out;
      for (const CQuoteItem& i : items) {
        const CDayRecord& b = i.record;
        out.push_back({float(b.DateNumber()), float(b.open), float(b.high), float(b.low),
                       float(b.close), float(b.volume), float(b.rawClose == b.close)});
      }
    }
    return out;
  };
  const auto fromPages = bars(*pages);
  EXPECT_GT(fromPages.size(), 500u);
  auto fromArchive = bars(*archive);
  for (auto& bar : fromArchive) bar.back() = 1;  // archive bars carry no raw close
  EXPECT_EQ(fromArchive, fromPages);

  const Answer shown = Ask(4, *pages, Stock());
  ASSERT_FALSE(shown.margin.empty());
  for (const CMarginRecord& entry : shown.margin) {
    uint32_t from = entry.date.ToNumber();
    std::vector<CMarginRecord> same;
    ASSERT_EQ(archive->GetMargin(from, entry.date.ToNumber(), Stock(), same), 0);
    EXPECT_EQ(same, std::vector<CMarginRecord>{entry});
  }
}

// A cancel while the archive server hangs ends the question at once with
// the cancel's code; no page is asked for instead.
TEST_F(WebMarketTest, ACancelledArchiveDownloadIsNotFallenBackFrom) {
  const std::string code = Stock();
  for (int q : {0, 2}) {  // a file read whole, a year kept by index
    SCOPED_TRACE(kFiles[q]);
    const int hang = AddFault(std::string("hang@archive:") + CWebArchive::kPathPrefix + kFiles[q]);
    std::atomic<std::uint8_t> cancel{0};
    auto market = MakeMarket();
    // The archive alone sees the flag, so a fallback would reach the pages.
    market->Archive().Client().SetCancelFlag(&cancel);
    std::thread canceller([&] {
      for (int i = 0; i < 10000 && server_.FaultHits(hang) == 0; ++i) usleep(1000);
      usleep(200000);
      cancel = 1;
    });
    const int64_t start = MonotonicMs();
    const Answer cancelled = Ask(q, *market, code);
    // A correctness bound far below the client's 10 s stall limit.
    EXPECT_LT(MonotonicMs() - start, 3000);
    canceller.join();
    EXPECT_EQ(cancelled.result, CHttpClient::kErrorCancelled);
    EXPECT_TRUE(cancelled.Empty());
    EXPECT_EQ(server_.FaultHits(hang), 1);
    EXPECT_EQ(PageRequests(), 0u);

    server_.RemoveFault(hang);
  }
}

// With the flag set, no source the market reads from sends anything: the
// flag reaches the client of every page reader.
TEST_F(WebMarketTest, ASetFlagReachesEveryReader) {
  std::atomic<std::uint8_t> cancel{1};
  auto market = MakeMarket();
  market->SetCancelFlag(&cancel);
  for (const bool archive : {true, false}) {
    market->SetArchivePreference(archive);
    for (const std::string& code : {Stock(), std::string("1001"), std::string("1004"),
                                   std::string("1051"), std::string("1101")}) {
      for (int q = 0; q < 5; ++q) {
        EXPECT_EQ(Ask(q, *market, code).result, CHttpClient::kErrorCancelled) << code << " " << kFiles[q];
      }
    }
  }
  std::vector<std::string> codes;
  EXPECT_EQ(market->GetBrandList(1, codes), CHttpClient::kErrorCancelled);
  EXPECT_TRUE(server_.Requests().empty());
}

TEST(WebMarketMessageTest, EachCodeRangeHasItsTexts) {
  CWebMarket market;
  for (const int32_t code : {0, 1, -20000, -20001, -20003, -29999}) {
    EXPECT_EQ(market.GetMessage(code), code >= 0 ? "成功" : CWebArchive::GetArchiveMessage(code));
  }
  for (const int32_t code : {-1, -404, -1004, -10000, -19999, -30000}) {
    EXPECT_EQ(market.GetMessage(code), GetWebMessage(code));
  }
  EXPECT_EQ(market.GetMessage(-20002), "アーカイブがありません。");
  EXPECT_EQ(market.GetMessage(-20003), "該当の時系列データがありません。");
  EXPECT_EQ(market.GetMessage(-29999), "不明なエラーが発生しました。");
  EXPECT_EQ(market.GetMessage(CHttpClient::kErrorCancelled), "ダウンロードを中止しました");
}

}  // namespace
