// The fault matrix: every fault the simulated market can play, aimed at the
// requests of each stage, in archive mode and in page mode. A cell's run
// either absorbs the fault or stops with its stage's error; a resume after
// the fault is lifted finishes; and the folder then equals the one an
// undisturbed run leaves, file for file and row for row. In archive mode a
// lasting archive fault sends the stage to the pages, so that stage's part
// of the folder equals the page-mode run's part instead.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "series/chart_file.h"
#include "series/margin_file.h"
#include "series/quick_margin_file.h"
#include "series/quick_price_file.h"
#include "setup/series_stages.h"
#include "setup/setup_run.h"
#include "support/cp932.h"
#include "support/text.h"
#include "tests/common/database_folder.h"
#include "tests/common/temp_dir.h"
#include "tools/market-sim/sim_server.h"
#include "web/web_archive.h"
#include "web/web_history.h"
#include "web/web_stock.h"

namespace fs = std::filesystem;

namespace {

const CDate kToday(2024, 6, 19);  // a Wednesday
const CDate kFirst(2023, 1, 1);

bool InPeriod(const CDate& day) { return day >= kFirst && day <= kToday; }

// The parts of a database folder filled by stages 1 to 4, and the rest.
enum Part : unsigned { kBrandTable = 1, kSplitTable = 2, kDaily = 4, kMargin = 8 };
constexpr unsigned kOtherTables = 16, kAll = 31;
constexpr unsigned kStagePart[] = {0, kBrandTable, kSplitTable, kDaily, kMargin};

// What differs between two database folders in the chosen parts; empty
// when they are the same.
std::string Differences(const std::string& got, const std::string& want, unsigned parts) {
  return FolderDifferences(got, want, [parts](const std::string& name, bool table) {
    const unsigned part = !table ? (name.starts_with("daily/")    ? kDaily
                                    : name.starts_with("margin/") ? kMargin
                                                                  : 0u)
                          : name == Utf8FromCp932("銘柄") ? kBrandTable
                          : name == Utf8FromCp932("分割") ? kSplitTable
                                                          : kOtherTables;
    return (parts & part) != 0;
  });
}

// What differs in the sub-folder `sub` of `got` when each issue's file may
// be the one of either finished folder `a` or `b`: a stage that went to the
// pages for its first issues and back to the archive on resume holds both
// kinds. The quick margin file is compared issue by issue the same way.
std::string MixedDifferences(const std::string& got, const std::string& a, const std::string& b,
                             const std::string& sub) {
  std::string out;
  // What `maps[0]` holds that is in neither `maps[1]` nor `maps[2]`, and
  // what those two both hold that `maps[0]` lacks.
  const auto compare = [&out](auto (&maps)[3], const std::string& what) {
    for (const auto& [key, value] : maps[1]) {
      if (maps[2].count(key) && !maps[0].count(key)) out += " missing " + what + key;
    }
    for (const auto& [key, value] : maps[0]) {
      if (value != maps[1][key] && value != maps[2][key]) out += " differs " + what + key;
    }
  };
  std::map<std::string, std::string> files[3];
  CMarginTable quick[3];
  const std::string folders[3] = {got, a, b};
  for (int i = 0; i < 3; ++i) {
    files[i] = FolderFiles(folders[i] + "/" + sub);
    files[i].erase("quickmg2.dat");
    // A sub-folder without the file (daily/) has no entries; issues listed
    // without entries are left out.
    const fs::path quick_file = fs::path(folders[i]) / sub / "quickmg2.dat";
    if (fs::exists(quick_file)) {
      EXPECT_TRUE(ReadQuickMarginFile(quick_file.c_str(), quick[i])) << quick_file;
    }
    std::erase_if(quick[i], [](const auto& entry) { return entry.second.empty(); });
  }
  compare(files, sub + "/");
  compare(quick, "quick entries ");
  return out;
}

// The product's market source, which halts at the first question of stage
// `haltAt` the way a cancel there would, to leave a folder for the cells of
// that stage, and posts no usage record.
class MatrixMarket : public CWebMarket {
 public:
  int haltAt = 0;
  WorkerProgress* progress = nullptr;

  std::int32_t GetDivide(const std::string& code, std::vector<CDivideRecord>& splits) override {
    return Halt(2) ? CHttpClient::kErrorCancelled : CWebMarket::GetDivide(code, splits);
  }
  std::int32_t GetPrice(std::uint32_t& from, std::uint32_t to, const std::string& code,
                        CQuoteItems& records, bool& adjust) override {
    return Halt(3) ? CHttpClient::kErrorCancelled
                   : CWebMarket::GetPrice(from, to, code, records, adjust);
  }
  std::int32_t GetMargin(std::uint32_t& from, std::uint32_t to, const std::string& code,
                         std::vector<CMarginRecord>& records) override {
    return Halt(4) ? CHttpClient::kErrorCancelled
                   : CWebMarket::GetMargin(from, to, code, records);
  }
  void PostUsageLog(const std::string&) override {}

 private:
  bool Halt(int stage) {
    if (haltAt != stage || progress == nullptr) return false;
    progress->cancel = 1;
    return true;
  }
};

// A run over a MatrixMarket with short attempts and pauses.
class MatrixRun : public CSetupRun {
 public:
  explicit MatrixRun(const CRunChoices* choices)
      : CSetupRun(choices, std::make_unique<MatrixMarket>()) {
    SetPeriod(kFirst, CLocalTime{kToday, 16, 0});
    SetListPagePause(0);
    const auto quick = [](auto& client) {
      client.SetAttempts(2);
      client.SetRetryPause(1);
      client.SetStallTimeout(1);
    };
    quick(Market().Archive().Client());
    quick(Market().Stock().Client());
    quick(Market().History());
  }
  MatrixMarket& Halting() { return static_cast<MatrixMarket&>(Market()); }
};

// One fault kind: its text before "@", what it does in page mode (the
// result code of the stopped stage, 0 when the attempts absorb it), and
// in archive mode (absorbed, or sends the stage to the pages).
struct FaultKind {
  const char* text;
  std::int32_t pageCode;
  enum { kAbsorbed, kFallsBack, kNotApplicable } archive;
};

const FaultKind kKinds[] = {
    {"status=500", -500, FaultKind::kFallsBack},
    {"status=404", -404, FaultKind::kFallsBack},
    {"fail-first=1", 0, FaultKind::kAbsorbed},
    {"cut=40", CHttpClient::kErrorSend, FaultKind::kFallsBack},
    {"corrupt-gzip", -10000, FaultKind::kFallsBack},
    {"delay=100", 0, FaultKind::kAbsorbed},
    {"hang", CHttpClient::kErrorSend, FaultKind::kAbsorbed},
    {"redirect-loop", CHttpClient::kErrorTooManyRedirects, FaultKind::kFallsBack},
    {"altered", -10000, FaultKind::kNotApplicable},
};

class FaultMatrixTest : public ::testing::Test {
 protected:
  struct Server {
    explicit Server(const CSimMarket& market) : sim(market, CSimServerOptions()) {
      EXPECT_TRUE(sim.Start());
      for (const auto& [name, value] : sim.Environment()) setenv(name.c_str(), value.c_str(), 1);
    }
    CSimServer sim;
  };

  // The undisturbed run of a mode: its folder, and copies of the folder
  // that a second run, halting before stages 2, 3 and 4, left at each.
  struct Reference {
    std::string folder;
    std::string before[5];
  };

  static void SetUpTestSuite() {
    market_ = new CSimMarket({.seed = 11, .issueCount = 12, .firstYear = 2022, .today = kToday});
    dir_ = new TempDir;
  }
  static void TearDownTestSuite() {
    delete market_;
    delete dir_;
  }

  // The mode's reference, made once for the suite; the halting run then
  // finishes, to the same folder as the undisturbed one.
  static const Reference& Undisturbed(bool use_archive) {
    Reference& ref = references_[use_archive];
    if (!ref.folder.empty()) return ref;
    const std::string name = use_archive ? "archive" : "pages";
    Server server(*market_);
    CRunChoices choices;
    choices.databaseFolder = dir_->Sub(name);
    choices.useArchive = use_archive;
    {
      MatrixRun run(&choices);
      WorkerProgress progress;
      progress.ResetForFreshRun();
      run.Run(progress);
      EXPECT_EQ("", progress.Error()) << name;
      EXPECT_EQ(5, progress.stage) << name;
      issues_ = run.IssueList();
    }
    CRunChoices chain = choices;
    chain.databaseFolder = dir_->Sub(name + "-chain");
    MatrixRun run(&chain);
    WorkerProgress progress;
    progress.ResetForFreshRun();
    run.Halting().progress = &progress;
    for (int stage = 2; stage <= 5; ++stage) {
      run.Halting().haltAt = stage;
      run.Run(progress);
      if (stage == 5) break;
      EXPECT_EQ(stage, progress.stage);
      ref.before[stage] = dir_->Sub(name + "-before" + std::to_string(stage));
      fs::copy(chain.databaseFolder, ref.before[stage], fs::copy_options::recursive);
      progress.ResetForResume();
    }
    EXPECT_EQ(5, progress.stage);
    EXPECT_EQ("", Differences(chain.databaseFolder, choices.databaseFolder, kAll));
    ref.folder = choices.databaseFolder;
    return ref;
  }

  // A listed stock with splits and margin balances, from the middle of the
  // issue list: the page-mode faults aim at its requests, and a page read
  // wrongly as empty would lose its data.
  static std::string TargetStock() {
    std::vector<std::string> stocks;
    for (const std::string& code : issues_) {
      const auto series = market_->Series(code);
      if (!IsOutsideQuickRange(code) && series && !series->splits.empty() &&
          !series->margin.empty()) {
        stocks.push_back(code);
      }
    }
    return stocks.empty() ? "" : stocks[stocks.size() / 2];
  }

  // The paths a stage's faults go on: every archive file of the stage, or
  // the pages of `code`.
  static std::vector<std::string> Targets(bool archive, int stage, const std::string& code) {
    if (archive) {
      static const std::vector<std::string> files[] = {
          {}, {"brand-"}, {"divide-"}, {"price-", "priceyear-"}, {"margin"}};
      std::vector<std::string> out;
      for (const std::string& file : files[stage]) {
        out.push_back(std::string("archive:") + CWebArchive::kPathPrefix + file + "*");
      }
      return out;
    }
    switch (stage) {
      case 1: return {"finance:/quote/" + code};
      case 2: return {"finance-stocks:/stocks/chart/?code=" + code};
      case 3: return {"finance:/quote/" + code + "/history?from=*"};
      default: return {"finance:/quote/" + code + "/history?styl=margin*"};
    }
  }

  // Runs one cell and checks it against the undisturbed run of its mode,
  // or of page mode for a stage sent to the pages. With `pagesToo` an
  // archive-mode cell has the fault on the stock's pages as well, so the
  // stage stops there as in page mode.
  void RunCell(const FaultKind& kind, bool archive, int stage, bool pagesToo = false) {
    const std::string& want = Undisturbed(archive).folder;
    const std::string& pages = Undisturbed(false).folder;
    const std::string code = TargetStock();
    SCOPED_TRACE(StringFormat("%s, stage %d, %s mode, stock %s", kind.text, stage,
                              pagesToo ? "archive and page" : archive ? "archive" : "page",
                              code.c_str()));
    Server server(*market_);
    CRunChoices choices;
    choices.databaseFolder = dir_->Sub(StringFormat("cell%d", cells_++));
    choices.useArchive = archive;
    WorkerProgress progress;
    progress.ResetForFreshRun();
    if (stage > 1) {
      fs::copy(Undisturbed(archive).before[stage], choices.databaseFolder,
               fs::copy_options::recursive);
      progress.stage = stage;
      progress.ResetForResume();
    }
    std::vector<int> ids;
    std::vector<std::string> targets = Targets(archive, stage, code);
    if (pagesToo) {
      const std::vector<std::string> page_targets = Targets(false, stage, code);
      targets.insert(targets.end(), page_targets.begin(), page_targets.end());
    }
    for (const std::string& target : targets) {
      CSimFault fault;
      ASSERT_TRUE(ParseSimFault(std::string(kind.text) + "@" + target, fault)) << target;
      ids.push_back(server.sim.AddFault(fault));
    }
    // A lasting hang on an archive file would hold a server thread for
    // every issue's question: it is lifted after its first hit, and the
    // second attempt gets past it.
    const bool lift = archive && std::string(kind.text) == "hang";
    std::atomic<bool> done{false};
    std::atomic<int> lifted{0};
    std::thread lifter([&] {
      while (lift && !done) {
        for (int id : ids) {
          if (server.sim.FaultHits(id) > 0 && server.sim.RemoveFault(id)) ++lifted;
        }
        usleep(2000);
      }
    });
    MatrixRun run(&choices);
    run.Run(progress);
    done = true;
    lifter.join();
    int hits = 0;
    for (int id : ids) hits += server.sim.FaultHits(id);
    EXPECT_LT(0, hits + lifted);

    const bool stops = (!archive || pagesToo) && kind.pageCode != 0;
    if (stops) {
      const std::string head =
          stage == 1 ? StringFormat("ダウンロード(銘柄コード:%s)に失敗したので処理を中断します。\n\n",
                                    code.c_str())
                     : std::string("ダウンロードに失敗したので処理を中断します。\n\n");
      EXPECT_EQ(Utf8FromCp932(head + run.Market().GetMessage(kind.pageCode)),
                Utf8FromCp932(progress.Error()));
      EXPECT_EQ(stage, progress.stage);
      if (stage > 1) {
        EXPECT_EQ(std::find(issues_.begin(), issues_.end(), code) - issues_.begin(),
                  progress.resumeIndex.load());
      }
      server.sim.ClearFaults();
      progress.ResetForResume();
      run.Run(progress);
    }
    EXPECT_EQ("", Utf8FromCp932(progress.Error()));
    EXPECT_EQ(5, progress.stage);
    if (pagesToo) {
      // The issues before the stock came from the pages, the rest from the
      // archive; the tables are the same either way.
      EXPECT_EQ("", Differences(choices.databaseFolder, want, kAll & ~(kDaily | kMargin)));
      for (const auto& [sub, part] : {std::pair{"daily", kDaily}, std::pair{"margin", kMargin}}) {
        EXPECT_EQ("", stage == 3 || stage == 4
                          ? MixedDifferences(choices.databaseFolder, want, pages, sub)
                          : Differences(choices.databaseFolder, want, part));
      }
    } else if (archive && kind.archive == FaultKind::kFallsBack) {
      EXPECT_EQ("", Differences(choices.databaseFolder, want, kAll & ~kStagePart[stage]));
      EXPECT_EQ("", Differences(choices.databaseFolder, pages, kStagePart[stage]));
    } else {
      EXPECT_EQ("", Differences(choices.databaseFolder, want, kAll));
    }
    std::error_code ec;
    fs::remove_all(choices.databaseFolder, ec);
  }

  static inline CSimMarket* market_ = nullptr;
  static inline TempDir* dir_ = nullptr;
  static inline Reference references_[2];  // page mode, archive mode
  static inline std::vector<std::string> issues_;
  static inline int cells_ = 0;
};

TEST_F(FaultMatrixTest, PageMode) {
  Undisturbed(false);
  ASSERT_FALSE(TargetStock().empty());
  for (int stage = 1; stage <= 4; ++stage) {
    for (const FaultKind& kind : kKinds) RunCell(kind, false, stage);
  }
}

TEST_F(FaultMatrixTest, ArchiveModeFallingBackToPages) {
  for (int stage = 1; stage <= 4; ++stage) {
    for (const FaultKind& kind : kKinds) {
      if (kind.archive != FaultKind::kNotApplicable) RunCell(kind, true, stage);
    }
  }
}

// A lasting fault on the archive and on the pages at once: the stage stops
// at the stock whose pages fail, and a resume takes it up from there.
TEST_F(FaultMatrixTest, ArchiveAndPagesFailingTogether) {
  for (int stage = 1; stage <= 4; ++stage) {
    for (const FaultKind& kind : kKinds) {
      if (kind.archive == FaultKind::kFallsBack) RunCell(kind, true, stage, true);
    }
  }
}

// The undisturbed runs against the market and each other. The archive
// run has a row for every listed issue, and chart and margin files byte for
// byte those of the market's series within the period (bars as traded,
// gap-filled and carried to today). The market's archive and its pages
// express the same records, so with the clock after the close both runs
// store the same database and the same files. The built-in issues are the
// exception: their portal pages show only about the last three months, so
// the page run's chart file of such an issue holds just those days - byte
// for byte the tail of the archive run's file. The margin pages likewise
// show only the recent weeks, which are the tail of the archive run's
// margin file.
TEST_F(FaultMatrixTest, UndisturbedRunsHoldTheMarketsSeriesFromArchiveAndPagesAlike) {
  const std::string& archive = Undisturbed(true).folder;
  const std::string& pages = Undisturbed(false).folder;
  std::vector<CBrandRecord> brands;
  {
    CDBStock3 db;
    ASSERT_TRUE(db.Open(archive + "/stock.mdb"));
    ASSERT_TRUE(db.GetAllBrands(brands));
  }
  std::set<std::string> stored;
  for (const CBrandRecord& brand : brands) stored.insert(brand.code);
  int listed = 0;
  for (const CSimIssue& issue : market_->Issues()) {
    if (issue.builtIn || !issue.IsListedOn(kToday)) continue;
    ++listed;
    EXPECT_TRUE(stored.count(issue.record.code)) << issue.record.code;
  }
  EXPECT_LT(8, listed);
  const auto tables = ReadTables(archive + "/stock.mdb");
  size_t rows = 0;
  for (const auto& table : tables) rows += table.second.size();
  EXPECT_LT(brands.size(), rows);
  EXPECT_EQ(tables, ReadTables(pages + "/stock.mdb"));

  CChartTable quick_prices;
  CMarginTable quick_margins;
  ASSERT_TRUE(ReadQuickPriceFile((archive + "/daily/quick2.dat").c_str(), quick_prices));
  ASSERT_TRUE(ReadQuickMarginFile((archive + "/margin/quickmg2.dat").c_str(), quick_margins));
  const std::string expected_dir = dir_->Sub("expected");
  fs::create_directories(expected_dir);
  int charts = 0, margin_files = 0, built_in_days = 0, margin_weeks = 0;
  for (const std::string& code : issues_) {
    SCOPED_TRACE(code);
    const auto series = market_->Series(code);
    const CSimIssue* issue = market_->Find(code);
    ASSERT_TRUE(series != nullptr && issue != nullptr);
    CChart bars;
    std::copy_if(series->raw.begin(), series->raw.end(), std::back_inserter(bars),
                 [](const CDayRecord& bar) { return InPeriod(bar.Date()); });
    CMargin margin;
    std::copy_if(series->margin.begin(), series->margin.end(), std::back_inserter(margin),
                 [](const CMarginRecord& entry) { return InPeriod(entry.date); });
    const std::string chart = "/daily/" + code + ".dat", weeks = "/margin/mg" + code + ".dat";
    if (!bars.empty()) {
      ++charts;
      bars.FillGaps();
      bars.ExtendTo(kToday, CChart::LocalTime{kToday, 16});
      ASSERT_TRUE(bars.Save(std::make_unique<CChartSaverFile>(expected_dir.c_str(), code, false)));
    }
    const std::string from_archive = FileBytes(archive + chart);
    const std::string from_pages = FileBytes(pages + chart);
    EXPECT_TRUE(FileBytes(expected_dir + "/" + code + ".dat") == from_archive);
    EXPECT_EQ(!IsOutsideQuickRange(code) && !bars.empty(), quick_prices.count(code) == 1);
    if (!margin.empty()) {
      ++margin_files;
      ASSERT_TRUE(margin.Save(std::make_unique<CMarginSaverFile>(expected_dir.c_str(), code)));
    }
    const std::string archive_weeks = FileBytes(archive + weeks);
    const std::string page_weeks = FileBytes(pages + weeks);
    EXPECT_TRUE(FileBytes(expected_dir + "/mg" + code + ".dat") == archive_weeks);
    EXPECT_EQ(!margin.empty(), quick_margins.count(code) == 1);

    if (!issue->builtIn) {
      EXPECT_TRUE(from_archive == from_pages);
    } else {
      ASSERT_LT(0u, from_pages.size());
      EXPECT_TRUE(from_archive.ends_with(from_pages));
      built_in_days += static_cast<int>(from_pages.size() / 24);
    }
    EXPECT_EQ(archive_weeks.empty(), page_weeks.empty());
    EXPECT_TRUE(archive_weeks.ends_with(page_weeks));
    margin_weeks += !page_weeks.empty();
  }
  EXPECT_LT(20, charts);
  EXPECT_LT(5, margin_files);
  EXPECT_LT(100, built_in_days);
  EXPECT_LT(5, margin_weeks);
  // The quick price file leaves the built-in issues out, so it is the same;
  // the quick margin file holds more weeks than the margin pages show.
  EXPECT_TRUE(FileBytes(archive + "/daily/quick2.dat") == FileBytes(pages + "/daily/quick2.dat"));
}

}  // namespace
