// The archive's year files fetched ahead of the questions, against the
// simulated market: what arrives ahead answers without a request of its
// own, a failure met ahead is the question's failure, and a cancel reaches
// a transfer that a question waits for.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <thread>

#include "tests/common/sim_market_fixture.h"
#include "web/web_archive.h"

namespace {

const CDate kToday(2024, 6, 19);  // the small market's today

class ArchiveAheadTest : public SimMarketFixture {
 protected:
  ArchiveAheadTest() : archive_([] { return CLocalTime{kToday, 16, 0}; }) {
    archive_.Client().SetRetryPause(5);
  }
  // How often each archive file was asked for.
  std::map<std::string, int> Asked() const {
    std::map<std::string, int> asked;
    for (const CSimRequestRecord& r : server_->Requests()) {
      if (r.site == Site::kArchive) ++asked[r.path.substr(strlen(CWebArchive::kPathPrefix))];
    }
    return asked;
  }
  // Waits (a few seconds at most) until `count` files were asked for.
  void AwaitFiles(size_t count) const {
    for (int i = 0; i < 500 && Asked().size() < count; ++i) usleep(10000);
  }
  CWebArchive archive_;
};

// Queued before any question, every year arrives by itself; the questions
// then ask for nothing, and a 404 met ahead is the answer of the first
// question for that year, while the next question fetches it again, as
// without fetching ahead.
TEST_F(ArchiveAheadTest, YearsArriveBeforeTheQuestionsAndAFailureIsMetOnce) {
  AddFault("status=404@archive:" + std::string(CWebArchive::kPathPrefix) + "margin-2023.bin");
  archive_.FetchPricesAhead(2022);
  archive_.FetchMarginsAhead(2023);
  AwaitFiles(5);
  const std::map<std::string, int> ahead = {
      {"price-2022.bin", 1},          {"price-2023.bin", 1}, {"priceyear-20240619.bin", 1},
      {"marginyear-20240619.bin", 1}, {"margin-2023.bin", 1}};
  // Ahead, each 404 costs one request: the attempts absorb only transient
  // failures.
  EXPECT_EQ(ahead, Asked());
  const std::string code = SmallMarket().Issues().back().record.code;
  CQuoteItems bars;
  bool adjust = false;
  for (uint32_t from = 20220301; from <= 20240619;) {
    ASSERT_EQ(0, archive_.GetPrice(from, 20240619, code, bars, adjust));
  }
  std::vector<CMarginRecord> weeks;
  uint32_t from = 20240101;
  EXPECT_EQ(0, archive_.GetMargin(from, 20240619, code, weeks));
  EXPECT_EQ(ahead, Asked());
  for (const int asked : {1, 2}) {
    from = 20230101;
    EXPECT_EQ(-404, archive_.GetMargin(from, 20231231, code, weeks));
    EXPECT_EQ(asked, Asked()["margin-2023.bin"]);
  }
}

// A question that waits for a year under way ahead stops it when the
// owner's cancel flag is set, and answers the cancel; the year is fetched
// again by the next question once the flag is down. Without the cancel the
// wait would end only with the stalled transfer's failure.
TEST_F(ArchiveAheadTest, ACancelReachesTheTransferAQuestionWaitsFor) {
  const int hang = AddFault("hang@archive:" + std::string(CWebArchive::kPathPrefix) +
                            "price-2023.bin");
  std::atomic<std::uint8_t> cancel{0};
  archive_.Client().SetCancelFlag(&cancel);
  archive_.Client().SetAttempts(1);
  archive_.Client().SetStallTimeout(20);
  archive_.FetchPricesAhead(2023);
  while (server_->FaultHits(hang) == 0) usleep(5000);
  std::thread user([&] {
    usleep(100000);
    cancel = 1;
  });
  CQuoteItems bars;
  bool adjust = false;
  uint32_t from = 20230101;
  const std::string code = SmallMarket().Issues().back().record.code;
  EXPECT_EQ(CHttpClient::kErrorCancelled, archive_.GetPrice(from, 20231231, code, bars, adjust));
  user.join();
  cancel = 0;
  server_->RemoveFault(hang);
  from = 20230101;
  EXPECT_EQ(0, archive_.GetPrice(from, 20231231, code, bars, adjust));
  EXPECT_FALSE(bars.empty());
}

}  // namespace
