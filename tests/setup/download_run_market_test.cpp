// Whole setup runs against the simulated market served in this process:
// once from the bulk archive, once from the pages, compared with the
// market's own series and with each other.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/db_control.h"
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

// A run over the test period into `folder`, on a clock after the close (so
// that today's bar is complete on every source), posting nothing.
class NoPostRun : public CDownloadRun {
 public:
  NoPostRun(CRunChoices* choices, const std::string& folder, bool use_archive)
      : CDownloadRun(choices, nullptr) {
    choices->databaseFolder = folder;
    choices->useArchive = use_archive;
    SetPeriod(kFirst, CLocalTime{kToday, 16, 0});
    SetListPagePause(0);
  }

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
    market_ = std::make_unique<CSimMarket>(MarketOptions());
    server_ = std::make_unique<CSimServer>(*market_, CSimServerOptions());
    ASSERT_TRUE(server_->Start());
    dir_ = std::make_unique<TempDir>();
    for (const auto& [name, value] : server_->Environment()) setenv(name.c_str(), value.c_str(), 1);
    archive_ = RunInto("archive", true);
    pages_ = RunInto("pages", false);
  }
  static void TearDownTestSuite() {
    server_.reset();
    dir_.reset();
  }

  static Result RunInto(const std::string& name, bool use_archive) {
    CRunChoices choices;
    NoPostRun run(&choices, dir_->Sub(name), use_archive);
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

  static inline std::unique_ptr<CSimMarket> market_;
  static inline std::unique_ptr<CSimServer> server_;
  static inline std::unique_ptr<TempDir> dir_;
  static inline Result archive_, pages_;
};

// The archive run against the market: a row for every listed issue, and
// chart and margin files byte for byte those of the market's series within
// the period (bars as traded, gap-filled and carried to today).
TEST_F(DownloadRunMarketTest, EveryListedIssueHasItsRowChartMarginAndQuickEntries) {
  const Result& run = archive_;
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
  const std::string expected_dir = dir_->Sub("expected");
  fs::create_directories(expected_dir);
  int charts = 0, margin_files = 0;
  for (const std::string& code : run.issues) {
    SCOPED_TRACE(code);
    const auto series = market_->Series(code);
    ASSERT_TRUE(series != nullptr);
    CChart bars;
    for (const CDayRecord& bar : series->raw) {
      if (bar.DateNumber() >= kFirst.ToNumber() && bar.DateNumber() <= kToday.ToNumber()) {
        bars.push_back(bar);
      }
    }
    CMargin margin;
    for (const CMarginRecord& entry : series->margin) {
      if (entry.date >= kFirst && entry.date <= kToday) margin.push_back(entry);
    }
    const std::string chart = "/" + code + ".dat", weeks = "/mg" + code + ".dat";
    if (!bars.empty()) {
      ++charts;
      bars.FillGaps();
      bars.ExtendTo(kToday, CChart::LocalTime{kToday, 16});
      ASSERT_TRUE(bars.Save(std::make_unique<CChartSaverFile>(expected_dir.c_str(), code, false)));
    }
    EXPECT_TRUE(ReadBytes(expected_dir + chart) == ReadBytes(run.folder + "/daily" + chart));
    EXPECT_EQ(!CDownloadRun::IsOutsideQuickRange(code) && !bars.empty(), quick_prices.count(code) == 1);
    if (!margin.empty()) {
      ++margin_files;
      ASSERT_TRUE(margin.Save(std::make_unique<CMarginSaverFile>(expected_dir.c_str(), code)));
    }
    EXPECT_TRUE(ReadBytes(expected_dir + weeks) == ReadBytes(run.folder + "/margin" + weeks));
    EXPECT_EQ(!margin.empty(), quick_margins.count(code) == 1);
  }
  EXPECT_LT(20, charts);
  EXPECT_LT(10, margin_files);
}

// Every row of every table of the run's database, each cell as text, the
// tables by name and the rows by their first three columns.
std::vector<std::vector<std::string>> DatabaseRows(const std::string& folder) {
  CDBControl db;
  EXPECT_TRUE(db.Open(folder + "/stock.mdb")) << folder;
  CDBControl::Rows tables, rows;
  EXPECT_TRUE(db.Execute("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name") &&
              db.Fetch(1, tables));
  std::vector<std::vector<std::string>> out;
  for (const CDBControl::Row& table : tables) {
    const std::string name = table[0].ToString();
    EXPECT_TRUE(db.Execute("SELECT * FROM " + name + " ORDER BY 1, 2, 3") && db.Fetch(16, rows))
        << name;
    out.push_back({"table", name});
    for (const CDBControl::Row& row : rows) {
      out.emplace_back();
      for (const CDBVar& cell : row) out.back().push_back(Utf8FromCp932(cell.ToString()));
    }
  }
  return out;
}

// The market's archive and its pages express the same records, so with the
// clock after the close both runs store the same database and the same
// files. The built-in issues are the exception: their portal pages show
// only about the last three months, so the page run's chart file of such
// an issue holds just those days - byte for byte the tail of the archive
// run's file. The margin pages likewise show only the recent weeks, which
// are the tail of the archive run's margin file.
TEST_F(DownloadRunMarketTest, ArchiveAndPagesGiveTheSameDatabaseAndFiles) {
  ASSERT_EQ(archive_.issues, pages_.issues);
  const auto rows = DatabaseRows(archive_.folder);
  EXPECT_LT(archive_.brands.size(), rows.size());
  EXPECT_EQ(rows, DatabaseRows(pages_.folder));

  int built_in_days = 0, margin_weeks = 0;
  for (const std::string& code : archive_.issues) {
    SCOPED_TRACE(code);
    const std::string chart = "/daily/" + code + ".dat";
    const std::string from_archive = ReadBytes(archive_.folder + chart);
    const std::string from_pages = ReadBytes(pages_.folder + chart);
    const CSimIssue* issue = market_->Find(code);
    ASSERT_TRUE(issue != nullptr);
    if (!issue->builtIn) {
      EXPECT_TRUE(from_archive == from_pages);
    } else {
      ASSERT_LT(0u, from_pages.size());
      ASSERT_LE(from_pages.size(), from_archive.size());
      EXPECT_TRUE(from_archive.compare(from_archive.size() - from_pages.size(),
                                       from_pages.size(), from_pages) == 0);
      built_in_days += static_cast<int>(from_pages.size() / 24);
    }
    const std::string margin = "/margin/mg" + code + ".dat";
    const std::string archive_weeks = ReadBytes(archive_.folder + margin);
    const std::string page_weeks = ReadBytes(pages_.folder + margin);
    EXPECT_EQ(archive_weeks.empty(), page_weeks.empty());
    ASSERT_LE(page_weeks.size(), archive_weeks.size());
    EXPECT_TRUE(archive_weeks.compare(archive_weeks.size() - page_weeks.size(), page_weeks.size(),
                                      page_weeks) == 0);
    margin_weeks += !page_weeks.empty();
  }
  EXPECT_LT(100, built_in_days);
  EXPECT_LT(10, margin_weeks);
  // The quick price file leaves the built-in issues out, so it is the same;
  // the quick margin file holds more weeks than the margin pages show.
  EXPECT_TRUE(ReadBytes(archive_.folder + "/daily/quick2.dat") ==
              ReadBytes(pages_.folder + "/daily/quick2.dat"));
}

// A cancel while an archive file hangs ends the run within moments, as a
// cancel; the resume fetches that file again and leaves the same files as
// the undisturbed run.
TEST_F(DownloadRunMarketTest, ACancelDuringAHangingDownloadResumesToTheSameFiles) {
  CSimFault fault;
  ASSERT_TRUE(ParseSimFault("hang@archive:/market/archive/v2/price-2023.bin", fault));
  const int hang = server_->AddFault(fault);
  CRunChoices choices;
  NoPostRun run(&choices, dir_->Sub("cancelled"), true);
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
    for (const auto& entry : fs::directory_iterator(archive_.folder + sub)) {
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
