#include "web/web_market.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

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

// A question's result and outputs, comparable as a whole.
struct Answer {
  int32_t result = 0;
  uint32_t from = 20240105;
  int32_t position = 0;
  CBrandRecord brand;
  std::vector<CDivideRecord> splits;
  CQuoteItems bars;
  bool adjust = false;
  std::vector<CMarginRecord> margin;
  bool operator==(const Answer&) const = default;
  bool Empty() const { return brand.code.empty() && splits.empty() && bars.empty() && margin.empty(); }
};

// Each question, asked of any source that has it (the market data source,
// or the page reader it falls back on).
const char* const kFiles[] = {"brand-20240615.bin", "divide-20240615.bin", "priceyear-20240619.bin",
                              "pricelast-20240619.bin", "marginyear-20240619.bin"};
template <typename Source>
Answer Ask(int question, Source& s, const std::string& code) {
  Answer a;
  if constexpr (requires { &Source::GetBrand; }) {
    if (question == 0) a.result = s.GetBrand(code, a.brand);
    if (question == 1) a.result = s.GetDivide(code, a.splits);
    if (question == 4) a.result = s.GetMargin(a.from, 20240619, code, a.margin);
  }
  if constexpr (requires { &Source::GetPrice; }) {
    if (question == 2) a.result = s.GetPrice(a.from, 20240619, code, a.bars, a.adjust);
    if (question == 3) a.result = s.GetPriceLast(a.position, {code}, a.bars);
  }
  return a;
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
    std::optional<ScopedEnv> nowhere;        // -1000
    failures.push_back([&] { unreadable.emplace(std::string("\0\0", 2)); });
    failures.push_back([&] { nowhere.emplace("TMPDIR", "/proc"); });
    failures.push_back([] {});  // the preference off
    for (size_t f = 0; f < failures.size(); ++f) {
      SCOPED_TRACE(std::string(kFiles[q]) + " failure " + std::to_string(f));
      server_.ClearRequests();
      failures[f]();
      auto market = MakeMarket();
      market->SetArchivePreference(f + 1 < failures.size());
      EXPECT_EQ(Ask(q, *market, code), page);
      EXPECT_GT(PageRequests(), 0u);
      // The last three ask the simulated archive nothing: the unreadable
      // file comes from a server of its own.
      EXPECT_EQ(Requested().empty(), f + 3 >= failures.size());
      server_.ClearFaults();
      unreadable.reset();
      nowhere.reset();
    }
  }
  auto market = MakeMarket();
  market->SetArchivePreference(false);
  std::vector<std::string> codes;
  EXPECT_EQ(market->GetBrandList(1, codes), 0);
  EXPECT_FALSE(codes.empty());
  EXPECT_TRUE(Requested().empty());
}

// 0 and 1 from the archive are final: no page is asked for.
TEST_F(WebMarketTest, NeverFallsBackOnAnArchiveAnswer) {
  auto market = MakeMarket();
  EXPECT_TRUE(market->ArchivePreference());
  for (const std::string& code : {Stock(), std::string("0000")}) {
    for (int q = 0; q < 5; ++q) {
      const Answer answer = Ask(q, *market, code);
      EXPECT_EQ(answer.result, code == "0000" && q < 2 ? 1 : 0) << kFiles[q];
      EXPECT_EQ(answer.Empty(), code == "0000") << kFiles[q];
    }
  }
  EXPECT_EQ(PageRequests(), 0u);
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
}

}  // namespace
