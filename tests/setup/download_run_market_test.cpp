// Whole setup runs against the simulated market served in this process:
// once from the bulk archive, once from the pages, compared with the
// market's own series and with each other.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/db_stock3.h"
#include "series/chart.h"
#include "series/chart_file.h"
#include "series/margin.h"
#include "series/margin_file.h"
#include "series/quick_margin_file.h"
#include "series/quick_price_file.h"
#include "setup/download_run.h"
#include "support/cp932.h"
#include "tests/common/monotonic_ms.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_server.h"

namespace fs = std::filesystem;

// Issue records print their fields, the texts as UTF-8.
void PrintTo(const CBrandRecord& b, std::ostream* out) {
  *out << b.code << " kind " << b.kind << " " << Utf8FromCp932(b.market) << " / "
       << Utf8FromCp932(b.industry) << " / " << Utf8FromCp932(b.name) << " unit " << b.unit
       << " lendable " << b.lendable << " shares " << b.sharesOutstanding << " dividend "
       << b.dividend << " eps " << b.eps << " bps " << b.bps;
}

namespace {

const CDate kToday(2024, 6, 19);  // a Wednesday
const CDate kFirst(2023, 1, 1);

CSimMarketOptions MarketOptions() {
  CSimMarketOptions options;
  options.seed = 5;
  options.issueCount = 30;
  options.firstYear = 2022;
  options.today = kToday;
  return options;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class NoPostRun : public CDownloadRun {
 public:
  using CDownloadRun::CDownloadRun;

 protected:
  void PostUsageLog(const std::string&) override {}
};

// One market and its server for the whole suite; each run goes into a
// folder of its own and is kept for the comparisons.
class DownloadRunMarketTest : public ::testing::Test {
 protected:
  struct Result {
    std::string folder;
    std::vector<std::string> issues;
    std::vector<CBrandRecord> brands;
  };

  static void SetUpTestSuite() {
    market_ = new CSimMarket(MarketOptions());
    server_ = new CSimServer(*market_, CSimServerOptions());
    ASSERT_TRUE(server_->Start());
    dir_ = new TempDir;
    for (const auto& [name, value] : server_->Environment()) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    archive_ = new Result(RunInto("archive", true));
    pages_ = new Result(RunInto("pages", false));
  }
  static void TearDownTestSuite() {
    delete archive_;
    delete pages_;
    delete server_;
    delete market_;
    delete dir_;
  }

  static Result RunInto(const std::string& name, bool use_archive) {
    CRunChoices choices;
    choices.databaseFolder = dir_->Sub(name);
    choices.useArchive = use_archive;
    // After the close, so that today's bar is complete on every source.
    NoPostRun run(&choices, nullptr, [] { return CLocalTime{kToday, 16, 0}; });
    run.SetPeriod(kFirst, kToday);
    run.SetListPagePause(0);
    WorkerProgress progress;
    progress.ResetForFreshRun();
    run.Run(progress);
    EXPECT_EQ("", progress.Error()) << name;
    EXPECT_EQ(5, progress.stage) << name;
    Result result{choices.databaseFolder, run.IssueList(), {}};
    EXPECT_TRUE(CDBStock3::Instance().GetAllBrands(result.brands));
    CDBStock3::Instance().Close();
    return result;
  }

  static inline CSimMarket* market_ = nullptr;
  static inline CSimServer* server_ = nullptr;
  static inline TempDir* dir_ = nullptr;
  static inline Result* archive_ = nullptr;
  static inline Result* pages_ = nullptr;
};

TEST_F(DownloadRunMarketTest, EveryListedIssueHasItsRowChartMarginAndQuickEntries) {
  const Result& run = *archive_;
  std::set<std::string> stored;
  for (const CBrandRecord& brand : run.brands) stored.insert(brand.code);
  int listed = 0;
  for (const CSimIssue& issue : market_->Issues()) {
    if (issue.builtIn || !issue.IsListedOn(kToday)) continue;
    ++listed;
    EXPECT_TRUE(stored.count(issue.record.code)) << issue.record.code;
  }
  EXPECT_LT(20, listed);

  CChartTable quick_prices;
  CMarginTable quick_margins;
  ASSERT_TRUE(ReadQuickPriceFile((run.folder + "/daily/quick2.dat").c_str(), quick_prices));
  ASSERT_TRUE(ReadQuickMarginFile((run.folder + "/margin/quickmg2.dat").c_str(), quick_margins));
  const std::string daily = run.folder + "/daily";
  const std::string margins = run.folder + "/margin";
  int charts = 0, margin_files = 0;
  for (const std::string& code : run.issues) {
    SCOPED_TRACE(code);
    const auto series = market_->Series(code);
    ASSERT_TRUE(series != nullptr);
    // The bars as traded within the period, gap-filled and carried to today.
    CChart expected;
    for (const CDayRecord& bar : series->raw) {
      if (bar.DateNumber() >= kFirst.ToNumber() && bar.DateNumber() <= kToday.ToNumber()) {
        expected.push_back(bar);
      }
    }
    CChart chart;
    const bool has_file = chart.Load(std::make_unique<CChartLoaderFile>(daily.c_str(), code, 0));
    ASSERT_EQ(!expected.empty(), has_file);
    if (!has_file) continue;
    ++charts;
    expected.FillGaps();
    expected.ExtendTo(kToday, CChart::LocalTime{kToday, 16});
    ASSERT_EQ(expected.size(), chart.size());
    for (size_t i = 0; i < chart.size(); ++i) {
      ASSERT_EQ(expected[i].DateNumber(), chart[i].DateNumber());
      ASSERT_EQ(static_cast<float>(expected[i].close), chart[i].close) << chart[i].DateNumber();
      ASSERT_EQ(static_cast<float>(expected[i].volume), chart[i].volume) << chart[i].DateNumber();
    }
    EXPECT_EQ(!CDownloadRun::IsOutsideQuickRange(code), quick_prices.count(code) == 1);

    CMargin reported;
    for (const CMarginRecord& entry : series->margin) {
      if (entry.date >= kFirst && entry.date <= kToday) reported.push_back(entry);
    }
    CMargin margin;
    const bool has_margin =
        margin.Load(std::make_unique<CMarginLoaderFile>(margins.c_str(), code, 0));
    ASSERT_EQ(!reported.empty(), has_margin);
    if (has_margin) {
      ++margin_files;
      EXPECT_EQ(reported, margin);
      EXPECT_EQ(1u, quick_margins.count(code));
    }
  }
  EXPECT_LT(20, charts);
  EXPECT_LT(10, margin_files);
}

// The issue record as the stock pages give it: the name cut at "(株)",
// EPS and BPS read from their first digit, no industry for ETFs and REITs.
CBrandRecord AsOnThePages(CBrandRecord record) {
  const std::string company = "(株)";
  const size_t at = record.name.find(company);
  if (at == 0) record.name.erase(0, company.size());
  else if (at != std::string::npos) record.name.erase(at);
  record.eps = std::fabs(record.eps);
  record.bps = std::fabs(record.bps);
  if (record.kind == kKindEtf || record.kind == kKindReit) record.industry.clear();
  return record;
}

TEST_F(DownloadRunMarketTest, ArchiveAndPagesGiveTheSameDatabaseAndCharts) {
  ASSERT_EQ(archive_->issues, pages_->issues);
  ASSERT_EQ(archive_->brands.size(), pages_->brands.size());
  for (size_t i = 0; i < archive_->brands.size(); ++i) {
    CBrandRecord from_pages = pages_->brands[i];
    if (from_pages.kind == kKindEtf || from_pages.kind == kKindReit) from_pages.industry.clear();
    EXPECT_EQ(AsOnThePages(archive_->brands[i]), from_pages);
  }
  // Listed issues: the same files. The built-in issues' pages show only
  // recent days and no volume: their prices agree on the days they show.
  int built_in_days = 0;
  for (const std::string& code : archive_->issues) {
    SCOPED_TRACE(code);
    if (!CDownloadRun::IsOutsideQuickRange(code)) {
      const std::string chart = "/daily/" + code + ".dat";
      EXPECT_TRUE(ReadBytes(archive_->folder + chart) == ReadBytes(pages_->folder + chart));
      continue;
    }
    CChart from_archive, from_pages;
    const std::string a = archive_->folder + "/daily", p = pages_->folder + "/daily";
    from_archive.Load(std::make_unique<CChartLoaderFile>(a.c_str(), code, 0));
    from_pages.Load(std::make_unique<CChartLoaderFile>(p.c_str(), code, 0));
    for (const CDayRecord& bar : from_pages) {
      int k = 0;
      ASSERT_TRUE(from_archive.Find(bar.DateNumber(), k, CChart::kFindExact));
      EXPECT_EQ(from_archive[k].open, bar.open);
      EXPECT_EQ(from_archive[k].high, bar.high);
      EXPECT_EQ(from_archive[k].low, bar.low);
      EXPECT_EQ(from_archive[k].close, bar.close);
      ++built_in_days;
    }
  }
  EXPECT_LT(100, built_in_days);
  EXPECT_TRUE(ReadBytes(archive_->folder + "/daily/quick2.dat") ==
              ReadBytes(pages_->folder + "/daily/quick2.dat"));

  // The margin pages show only the recent weeks: those agree.
  int compared = 0;
  for (const std::string& code : archive_->issues) {
    CMargin from_archive, from_pages;
    const std::string a = archive_->folder + "/margin", p = pages_->folder + "/margin";
    const bool in_archive = from_archive.Load(std::make_unique<CMarginLoaderFile>(a.c_str(), code, 0));
    const bool in_pages = from_pages.Load(std::make_unique<CMarginLoaderFile>(p.c_str(), code, 0));
    EXPECT_EQ(in_archive, in_pages) << code;
    for (const CMarginRecord& entry : from_pages) {
      int index = 0;
      ASSERT_TRUE(from_archive.Find(entry.date.ToNumber(), index, CMargin::kFindExact)) << code;
      EXPECT_EQ(from_archive[index], entry) << code;
      ++compared;
    }
  }
  EXPECT_LT(0, compared);
}

// A cancel while an archive file hangs ends the run within moments, as a
// cancel; the resume fetches that file again and leaves the same files as
// the undisturbed run.
TEST_F(DownloadRunMarketTest, ACancelDuringAHangingDownloadResumesToTheSameFiles) {
  CSimFault fault;
  ASSERT_TRUE(ParseSimFault("hang@archive:/market/archive/v2/price-2023.bin", fault));
  const int hang = server_->AddFault(fault);
  CRunChoices choices;
  choices.databaseFolder = dir_->Sub("cancelled");
  choices.useArchive = true;
  NoPostRun run(&choices, nullptr, [] { return CLocalTime{kToday, 16, 0}; });
  run.SetPeriod(kFirst, kToday);
  run.SetListPagePause(0);
  WorkerProgress progress;
  progress.ResetForFreshRun();
  std::atomic<int64_t> cancelledAt{0};
  std::thread canceller([&] {
    for (int i = 0; i < 30000 && server_->FaultHits(hang) == 0; ++i) usleep(1000);
    usleep(200000);
    cancelledAt = MonotonicMs();
    progress.cancel = 1;
  });
  run.Run(progress);
  const int64_t stoppedAt = MonotonicMs();
  canceller.join();
  EXPECT_LT(stoppedAt - cancelledAt, 3000);  // the stall limit is 10 s
  EXPECT_EQ("", progress.Error());
  EXPECT_EQ(3, progress.stage);
  EXPECT_EQ(1, server_->FaultHits(hang));

  server_->RemoveFault(hang);
  progress.ResetForResume();
  run.Run(progress);
  EXPECT_EQ("", progress.Error());
  EXPECT_EQ(5, progress.stage);
  CDBStock3::Instance().Close();
  for (const char* sub : {"/daily", "/margin"}) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(archive_->folder + sub)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(ReadBytes(entry.path().string()) ==
                  ReadBytes(choices.databaseFolder + sub + "/" + name)) << name;
      ++files;
    }
    EXPECT_EQ(files, std::distance(fs::directory_iterator(choices.databaseFolder + sub),
                                   fs::directory_iterator()));
  }
}

}  // namespace
