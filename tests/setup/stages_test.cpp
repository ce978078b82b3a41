#include "setup/issue_list.h"
#include "setup/issue_stage.h"
#include "setup/series_stages.h"
#include "setup/setup_run.h"
#include "setup/split_stage.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "db/db_stock3.h"
#include "series/chart.h"
#include "series/chart_file.h"
#include "series/margin.h"
#include "series/margin_file.h"
#include "setup/resume_file.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tests/common/scripted_market.h"

namespace fs = std::filesystem;

namespace {

const CDate kFirst(2024, 1, 1);
const CDate kToday(2024, 3, 29);
constexpr int kUnits = 89;  // 1 January to 29 March 2024

CBrandRecord Brand(const char* code, int kind, const char* market) {
  CBrandRecord brand;
  brand.code = code;
  brand.kind = kind;
  brand.market = market;
  brand.name = std::string("名") + code;
  return brand;
}

CDayRecord Bar(std::uint32_t date, double open, double spread, double close, double volume) {
  CDayRecord bar;
  bar.SetDateNumber(date);
  bar.open = open;
  bar.high = open + spread;
  bar.low = open - spread;
  bar.close = close;
  bar.volume = volume;
  return bar;
}

// Bars as traded on every trading day from 4 January to 28 March.
std::vector<CDayRecord> TradedBars(double base) {
  std::vector<CDayRecord> bars;
  for (CDate day(2024, 1, 4); day.ToNumber() <= 20240328; day = day.AddDays(1)) {
    if (!day.IsBusinessDay()) continue;
    bars.push_back(Bar(day.ToNumber(), base, 8, base + 2, 1000));
    base += 4;
  }
  return bars;
}

// The stages one by one over a scripted market and a fresh database, on a
// fixed clock after the close.
class StagesTest : public ::testing::Test {
 public:
  StagesTest() : config_("XDG_CONFIG_HOME", dir_.Sub("config").c_str()) {
    choices_.databaseFolder = dir_.Sub("db");
    market_.observed = &progress_;
    issueStage_.SetListPagePause(0);
    fs::create_directories(daily_);
    fs::create_directories(margin_);
    const std::string path = DatabaseFileIn(choices_.databaseFolder);
    EXPECT_TRUE(db_.CreateDatabase(path) && db_.Open(path) && db_.CreateTables() &&
                db_.RegisterPrivateBrands());
    CResumePosition run;
    run.firstDate = kFirst;
    run.reading = {kToday, 16, 0};
    position_.Begin(choices_.databaseFolder, run);
  }

  CRunContext Context(CRunPosition& position) {
    return {choices_, db_, market_, progress_, position, kFirst, {kToday, 16, 0}, 20, refused_};
  }
  bool Issues() {
    CRunContext run = Context(position_);
    return issueStage_.Run(run);
  }
  bool LoadList() {
    CRunContext run = Context(position_);
    return LoadIssueList(run, list_);
  }
  // Runs a stage over the issue list.
  template <bool (*kStage)(CRunContext&, const std::vector<std::string>&)>
  bool Over() {
    CRunContext run = Context(position_);
    return kStage(run, list_);
  }

 protected:
  // Issues of every kind in the database instead of the built-in ones, and
  // a market that has bars, splits and margin balances for some of them.
  void StockMarket() {
    ASSERT_TRUE(db_.DeleteAllBrands());
    for (const CBrandRecord& brand :
         {Brand("1001", kKindIndex, ""), Brand("1301", kKindStock, "東証プライム"),
          Brand("1305", kKindEtf, "東証"), Brand("130A", kKindStock, "東証グロース"),
          Brand("7203", kKindStock, "東証プライム"), Brand("8801", kKindStock, "東証")}) {
      ASSERT_TRUE(db_.WriteBrand(brand));
    }
    for (const char* code : {"1001", "1301", "130A", "8801"}) {
      market_.prices[code] = TradedBars(100);
    }
    // 7203 comes adjusted for a 1:2 split on 1 February and misses 14
    // February.
    std::vector<CDayRecord>& bars = market_.prices["7203"] = TradedBars(1000);
    for (auto it = bars.begin(); it != bars.end();) {
      if (it->DateNumber() == 20240214) { it = bars.erase(it); continue; }
      if (it->DateNumber() < 20240201) {
        it->open /= 2, it->high /= 2, it->low /= 2, it->close /= 2, it->volume *= 2;
      }
      ++it;
    }
    market_.adjusted = {"7203"};
    CDivideRecord split{CDate(2024, 2, 1), 2.0};
    ASSERT_TRUE(db_.WriteDivide("7203", split));
    for (const char* code : {"1301", "7203"}) {
      for (CDate friday(2024, 1, 5); friday <= kToday; friday = friday.AddDays(7)) {
        market_.margins[code].push_back({friday, 5000.0 + friday.day, 700.0});
      }
    }
    ASSERT_TRUE(LoadList());
    ASSERT_EQ((std::vector<std::string>{"1001", "1301", "1305", "130A", "7203", "8801"}),
              list_);
  }
  // A fresh run of a stage, the market's scripted failures replaced and its
  // calls counted afresh; with `index`, a resume there instead.
  void Again(std::set<std::string> fail = {}, std::set<std::string> cancel = {},
             int index = -1) {
    market_.calls.clear();
    market_.fail = std::move(fail);
    market_.cancel = std::move(cancel);
    market_.stopped.clear();
    market_.failWith.clear();
    progress_.ResetForFreshRun();
    if (index < 0) return;
    progress_.resumeIndex = index;
    progress_.ResetForResume();
  }
  TempDir dir_;
  const std::string daily_ = DailyFolderIn(dir_.Sub("db"));
  const std::string margin_ = MarginFolderIn(dir_.Sub("db"));
  ScopedEnv config_;
  CRunChoices choices_;
  WorkerProgress progress_;
  CDBStock3 db_;
  ScriptedMarket market_;
  CRunPosition position_;
  CIssueStage issueStage_;
  std::vector<std::string> list_;
  std::int64_t refused_ = 0;
};

// A row is keyed by the code asked for, and a figure that is not a finite
// number is stored as 0.
TEST_F(StagesTest, IssueStageStoresEachListedIssueOnceWithItsUnitsAndFallsBack) {
  market_.pages = {{"1301", "1305", "7203"}, {"8801", "1301"}};
  market_.existing = {"1301", "1305", "7203", "8801"};
  market_.extraFound = {"7203"};  // found again in every batch
  for (const char* code : {"1301", "1305", "7203", "8801"}) {
    market_.brands[code] = Brand(code, kKindStock, "東証プライム");
  }
  CBrandRecord& odd = market_.brands["1301"];
  odd.code = "9999";
  odd.dividend = std::numeric_limits<double>::quiet_NaN();
  odd.eps = -std::numeric_limits<double>::infinity();
  odd.bps = 12.5;
  ASSERT_TRUE(Issues());
  EXPECT_EQ(5, progress_.total);
  EXPECT_EQ(5, progress_.done);
  // Each issue counts the codes examined up to it within its batch.
  EXPECT_EQ((std::vector<int>{0, 0, 1, 2}), market_.doneAtBrand);
  EXPECT_EQ(1, market_.Calls("list:3"));  // the empty page ends the list
  EXPECT_EQ(0, market_.Calls("list:4"));
  EXPECT_EQ("銘柄コード 8801 の銘柄データをダウンロードしました", progress_.Status());
  CBrandRecord stored;  // 1301's after the loop
  for (const char* code : {"1305", "7203", "8801", "1301"}) {
    EXPECT_EQ(1, market_.Calls(std::string("brand:") + code)) << code;
    ASSERT_TRUE(db_.GetBrand(code, stored)) << code;
    EXPECT_EQ(std::string("名") + code, stored.name);
  }
  EXPECT_EQ(0.0, stored.dividend);
  EXPECT_EQ(0.0, stored.eps);
  EXPECT_EQ(12.5, stored.bps);
  EXPECT_FALSE(db_.GetBrand("9999", stored));

  // A failing first page gives the fixed codes; a later page that fails
  // other than by being missing leaves the listing incomplete, so the stage
  // stops rather than drop the later pages' issues; pages without end stop
  // at 100.
  const struct {
    const char* name;
    std::map<std::string, std::int32_t> failWith;
    std::int32_t batch;
    bool endless;
    int total;
    std::map<std::string, int> calls;
    const char* error;
  } cases[] = {
      {"first page", {{"list:1#1", -404}}, 500, false, 8700,
       {{"last:8500", 1}, {"last:8700", 0}, {"brand:1300", 1}, {"brand:9999", 1}}, ""},
      {"page broken", {{"list:2#1", -500}}, 2, false, 100, {{"last:0", 0}},
       "ダウンロード(銘柄一覧)に失敗したので処理を中断します。\n\nmessage -500"},
      {"page missing", {{"list:2#1", -404}}, 2, false, 3, {}, ""},
      {"endless", {}, 2, true, 100, {{"list:100", 1}, {"list:101", 0}}, ""},
  };
  market_.existing.insert({"1300", "9999"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Again();
    market_.failWith = c.failWith;
    market_.batch = c.batch;
    market_.endlessPages = c.endless;
    EXPECT_EQ(!*c.error, Issues());
    EXPECT_EQ(c.error, progress_.Error());
    EXPECT_EQ(1, progress_.stage);
    EXPECT_EQ(c.total, progress_.total);
    for (const auto& [call, count] : c.calls) EXPECT_EQ(count, market_.Calls(call)) << call;
  }
}

// A resumed stage 1 goes on through the code list it worked on, also in
// another process: here the fixed list (the first list page failed once),
// where the real listing would put the position past its end. Without the
// kept list the stage starts again at its first code.
TEST_F(StagesTest, AResumedIssueStageGoesOnThroughTheListItWorkedOn) {
  position_.Keep(true);
  market_.pages = {{"1301", "7203"}};
  market_.existing = {"1301", "7203", "9984"};
  market_.fail = {"list:1#1", "last:6000#1"};
  progress_.ResetForFreshRun();
  EXPECT_FALSE(Issues());
  CResumePosition position;
  const std::string folder = choices_.databaseFolder;
  ASSERT_EQ(ResumeFileResult::kOk, ReadResumeFile(ResumeFilePath(folder), position));
  EXPECT_EQ(6000, position.resumeIndex);
  EXPECT_EQ(8700, position.issueCount);

  // Another process: a new stage and position, the market's calls counted
  // afresh.
  for (const bool kept : {true, false}) {
    SCOPED_TRACE(kept);
    if (!kept) fs::remove(ResumeCodesPath(folder));
    Again({}, {}, position.resumeIndex);
    progress_.stage = 1;
    CIssueStage stage;
    stage.SetListPagePause(0);
    CRunPosition other;
    other.Keep(true);
    other.Begin(folder, position);
    other.Expect(position.issueCount, position.issueHash);
    CRunContext run = Context(other);
    ASSERT_TRUE(stage.Run(run)) << progress_.Error();
    EXPECT_EQ(kept ? 8700 - 6000 : 2, progress_.total);
    EXPECT_EQ(kept ? 0 : 1, market_.Calls("list:1"));
    EXPECT_EQ(1, market_.Calls("brand:9984") + market_.Calls("brand:1301"));
  }
}

// One failure, cancel, download the cancel stopped, or file that cannot be
// written (a folder where it is to go) per row: the stage stops at its
// issue (its batch in the issue stage) with its error, none for a cancel,
// and a file's error names the system's cause; the price and margin stages
// leave the old quick file. An issue stage then resumes there and finishes.
TEST_F(StagesTest, FailuresAndCancelsStopTheStageWhereTheyHappened) {
  StockMarket();
  market_.pages = {{"1301", "1305", "7203", "8801"}};
  market_.existing = {"1301", "1305", "7203", "8801"};
  const std::string failed = "ダウンロードに失敗したので処理を中断します。\n\nmessage -404";
  const std::string unwritten = "DBへの書き込みに失敗したので処理を中断します";
  const auto prices = &StagesTest::Over<RunPriceStage>;
  const auto margins = &StagesTest::Over<RunMarginStage>;
  const struct {
    bool (StagesTest::*run)();
    const char *fail, *cancel, *stopped, *directory;
    int resume;
    std::string error;
    int stage, index;
  } cases[] = {
      {&StagesTest::Issues, "last:2#1", "", "", "", 0,
       "ダウンロード(銘柄存在チェック)に失敗したので処理を中断します。\n\nmessage -404", 1, 2},
      {&StagesTest::Issues, "brand:8801#1", "", "", "", 0,
       "ダウンロード(銘柄コード:8801)に失敗したので処理を中断します。\n\nmessage -404", 1, 2},
      {&StagesTest::Issues, "", "brand:7203#1", "", "", 0, "", 1, 2},
      {&StagesTest::Issues, "", "last:0#1", "", "", 0, "", 1, 0},
      {&StagesTest::Issues, "", "", "last:0#1", "", 0, "", 1, 0},
      {&StagesTest::Issues, "", "", "brand:7203#1", "", 0, "", 1, 2},
      {&StagesTest::Over<RunSplitStage>, "", "", "divide:130A#1", "", 0, "", 2, 3},
      {prices, "", "", "price:7203#2", "", 0, "", 3, 4},
      {prices, "price:130A#2", "", "", "", 0, failed, 3, 3},
      {prices, "", "price:7203#2", "", "", 0, "", 3, 4},
      {prices, "", "", "", "130A.dat", 0, unwritten, 3, 3},
      // An earlier issue whose file does not read is fetched again.
      {prices, "", "", "", "1301.dat", 3, unwritten, 3, 3},
      {prices, "", "", "", "quick2.dat", 0, "クイックDBを作成できなかったので処理を中断します(-102)",
       3, 5},
      {margins, "", "", "margin:7203#2", "", 0, "", 4, 4},
      {margins, "margin:7203#1", "", "", "", 0, failed, 4, 4},
      {margins, "", "", "", "quickmg2.dat", 0,
       "クイックDB(信用残)を作成できなかったので処理を中断します(-102)", 4, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fail) + c.cancel + c.stopped + c.directory);
    const std::string folder = c.stage == 4 ? margin_ : daily_;
    const std::string quick = folder + (c.stage == 4 ? "/quickmg2.dat" : "/quick2.dat");
    if (c.stage > 2) {
      fs::remove_all(folder);
      fs::create_directory(folder);
      if (*c.directory) fs::create_directory(folder + "/" + c.directory);
      if (!fs::exists(quick)) std::ofstream(quick) << "old";
    }
    Again({c.fail}, {c.cancel}, c.resume ? c.resume : -1);
    market_.stopped = {c.stopped};
    EXPECT_FALSE((this->*c.run)());
    const std::string cause = *c.directory ? "\n\n" + std::string(strerror(EISDIR)) + " (" +
                                                 folder + "/" + c.directory + ")"
                                           : "";
    EXPECT_EQ(c.error + cause, progress_.Error());
    EXPECT_EQ(c.stage, progress_.stage);
    EXPECT_EQ(c.index, progress_.resumeIndex);
    if (c.stage > 2 && fs::is_regular_file(quick)) {
      EXPECT_EQ("old", FileBytes(quick));
    }
    if (c.stage > 1) continue;
    Again({}, {}, progress_.resumeIndex);
    ASSERT_TRUE(Issues());
    EXPECT_EQ(4 - c.index, progress_.total);
    EXPECT_EQ(c.index == 0 ? 1 : 0, market_.Calls("brand:1301"));
  }
  // The cancelled status without a cancel from the user is a failure like
  // any other: it must not end the run looking like a cancel or a success.
  Again();
  market_.failWith = {{"price:7203#1", CHttpClient::kErrorCancelled}};
  EXPECT_FALSE(Over<RunPriceStage>());
  EXPECT_EQ("ダウンロードに失敗したので処理を中断します。\n\nmessage -1011", progress_.Error());
  db_.Close();
  Again();
  EXPECT_FALSE(Issues());
  EXPECT_EQ(0u, progress_.Error().find(
                    "銘柄コード 1301 の情報のデータベースへの書き込みに失敗したので処理を中断します\n"));
}

// The checked items give the issue list and the settings' markets text.
TEST_F(StagesTest, IssueListAndMarketsTextFollowTheCheckedItems) {
  StockMarket();
  // Items: ETF, REIT, prime, standard, growth, other markets.
  const struct {
    const char* items;
    const char* markets;
    std::vector<std::string> list;
  } cases[] = {
      {"000000", "", {"1001"}},
      {"100000", "東証", {"1001", "1305"}},
      {"001000", "東証プライム", {"1001", "1301", "7203"}},
      {"000011", "東証グロース", {"1001", "130A", "8801"}},
      {"100010", "東証;東証グロース", {"1001", "1305", "130A"}},
      {"101000", "東証;東証プライム", {"1001", "1301", "1305", "7203"}},
      {"010001", "東証", {"1001", "8801"}},
      {"000001", "", {"1001", "8801"}},
      {"111111", "東証;東証プライム;東証スタンダード;東証グロース",
       {"1001", "1301", "1305", "130A", "7203", "8801"}},
  };
  for (const auto& c : cases) {
    bool* flags[] = {&choices_.etf,      &choices_.reit,   &choices_.prime,
                     &choices_.standard, &choices_.growth, &choices_.otherMarkets};
    for (int i = 0; i < 6; ++i) *flags[i] = c.items[i] == '1';
    EXPECT_EQ(c.markets, CSetupRun(&choices_).BuildIncludeMarkets()) << c.items;
    ASSERT_TRUE(LoadList());
    EXPECT_EQ(c.list, list_) << c.items;
  }
}

// The price, margin and split stages in turn over a source that also sends
// records no file may hold: those are refused and counted, and the files
// and rows come out as if the source had never sent them. The price and
// margin stages count a unit per issue and day, report the last issue and
// day, and write a file only for an issue with data.
TEST_F(StagesTest, SeriesStagesStoreWhatTheSourceSentThatAFileMayHold) {
  StockMarket();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Dated after today: the records no file may hold at all come from the
  // archive's bad records in the command-line runs.
  market_.extraBars["1301"] = {Bar(20991231, 100, 0, 100, 1)};
  market_.extraEntries["1301"] = {{CDate(2099, 1, 2), 1, 1}};
  ASSERT_TRUE(Over<RunPriceStage>());
  EXPECT_EQ(6 * kUnits, progress_.total);
  EXPECT_EQ(progress_.total, progress_.done);
  EXPECT_EQ("銘柄コード 8801(6/6個目) の 2024/3/31 までの株価データをダウンロードしました",
            progress_.Status());
  EXPECT_EQ(3, market_.Calls("price:1305"));  // one call a month
  EXPECT_FALSE(fs::exists(daily_ + "/1305.dat"));
  EXPECT_TRUE(fs::exists(daily_ + "/1001.dat"));
  // The bars are stored as traded (7203's came adjusted), a missing day
  // (7203's 14 February) filled from the day before, and carried to today.
  for (const auto& [code, base] : {std::pair{"1301", 100.0}, std::pair{"7203", 1000.0}}) {
    SCOPED_TRACE(code);
    CChart chart;
    ASSERT_TRUE(chart.Load(std::make_unique<CChartLoaderFile>(daily_.c_str(), code, 0)));
    const std::vector<CDayRecord> traded = TradedBars(base);
    ASSERT_EQ(traded.size() + 1, chart.size());
    for (size_t i = 0; i < traded.size(); ++i) {
      const bool filled = base > 100 && traded[i].DateNumber() == 20240214;
      EXPECT_EQ(traded[i].DateNumber(), chart[i].DateNumber());
      EXPECT_EQ(filled ? chart[i - 1].close : traded[i].open, chart[i].open) << i;
      EXPECT_EQ(filled ? 0.0 : traded[i].volume, chart[i].volume) << i;
    }
    EXPECT_EQ(20240329u, chart.back().DateNumber());
    EXPECT_EQ(chart[chart.size() - 2].close, chart.back().close);
  }

  Again();
  market_.wholeMargins = {"7203"};  // repeated at each of its three calls: stored once
  ASSERT_TRUE(Over<RunMarginStage>());
  EXPECT_EQ(6 * kUnits, progress_.done);
  EXPECT_EQ("銘柄コード 8801(6/6個目) の 2024/3/31 までの信用残データをダウンロードしました",
            progress_.Status());
  for (const char* code : {"1301", "7203"}) {
    CMargin margin;
    ASSERT_TRUE(margin.Load(std::make_unique<CMarginLoaderFile>(margin_.c_str(), code, 0)));
    EXPECT_EQ(market_.margins[code], margin) << code;
  }
  EXPECT_FALSE(fs::exists(margin_ + "/mg1001.dat"));

  // Two splits on one day: the later one stands. A resume updates the rows
  // of the splits it fetches again instead of adding them.
  market_.divides["1301"] = {{CDate(2024, 2, 30), 2.0}, {CDate(2024, 1, 10), nan},
                              {CDate(2024, 1, 11), -1.0}, {CDate(2024, 1, 12), 2.0},
                              {CDate(2024, 1, 12), 3.0}};
  market_.divides["7203"] = {{CDate(2024, 2, 1), 2.0}, {CDate(2024, 3, 1), 1.5}};
  Again({"divide:8801#1"});
  EXPECT_FALSE(Over<RunSplitStage>());
  EXPECT_EQ("ダウンロードに失敗したので処理を中断します。\n\nmessage -404", progress_.Error());
  EXPECT_EQ(2, progress_.stage);
  EXPECT_EQ(5, progress_.resumeIndex);
  EXPECT_EQ(5, progress_.done);
  EXPECT_EQ("銘柄コード 7203(5/6個目) の銘柄の分割データをDBに書き込みました", progress_.Status());
  Again({}, {}, 4);
  ASSERT_TRUE(Over<RunSplitStage>());
  EXPECT_EQ(2, progress_.total);
  EXPECT_EQ(0, market_.Calls("divide:1301"));
  std::vector<CDBStock3::CodeDivide> rows;
  ASSERT_TRUE(db_.GetDivides("1301", rows));
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(3.0, rows[0].second.ratio);
  ASSERT_TRUE(db_.GetDivides("7203", rows));
  EXPECT_EQ(2u, rows.size());
  EXPECT_EQ(1 + 1 + 3, refused_);
}

}  // namespace
