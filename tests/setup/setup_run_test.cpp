#include "setup/setup_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "db/brand_record.h"
#include "setup/setup_record.h"
#include "support/text.h"
#include "tests/common/scoped_env.h"
#include "tests/common/scripted_market.h"
#include "tests/common/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kAllSteps = "1:0-2 2:0-15 3:0-15 4:0-15 post:SetupComplete";

class SetupRunTest : public ::testing::Test {
 protected:
  SetupRunTest() : config_("XDG_CONFIG_HOME", dir_.Sub("config").c_str()) {
    choices_.databaseFolder = dir_.Sub("db");
  }

  // A run over a market that lists three issues and has no data for any,
  // on a one-month period: one call an issue in each stage. The issue list
  // holds 16: the 13 built-in indices and currency pairs, then the three.
  std::unique_ptr<CSetupRun> MakeRun() {
    auto market = std::make_unique<ScriptedMarket>();
    market_ = market.get();
    market->pages = {{"1301", "1302", "1303"}};
    market->existing = {"1301", "1302", "1303"};
    for (const char* code : {"1301", "1302", "1303"}) {
      market->brands[code].kind = kKindStock;
      market->brands[code].market = "東証プライム";
    }
    market->batch = 1;
    market->observed = &progress_;
    auto run = std::make_unique<CSetupRun>(&choices_, std::move(market));
    run->SetListPagePause(0);
    run->SetPeriod(CDate(2024, 3, 1), CLocalTime{CDate(2024, 3, 29), 16, 0});
    return run;
  }
  // What the market saw since the last call: "stage:first-last" record
  // positions for each stretch of calls in one stage (the listing, before
  // stage 1 begins, left out), then "post:" and each usage record.
  std::string Steps() {
    std::vector<std::string> steps;
    std::string stage;
    for (const std::string& at : market_->trail) {
      const std::string s = at.substr(0, at.find(':')), index = at.substr(at.find(':') + 1);
      if (s != stage) steps.push_back(s + ":" + index + "-");
      stage = s;
      steps.back().replace(steps.back().find('-') + 1, std::string::npos, index);
    }
    std::erase_if(steps, [](const std::string& step) { return step.starts_with("0:"); });
    for (const std::string& event : market_->posted) steps.push_back("post:" + event);
    market_->trail.clear();
    market_->posted.clear();
    return StringJoin(steps, ' ');
  }
  std::string SettingsPath() const { return dir_.Sub("config/Zelvane/Tickora/Tickora.ini"); }
  std::vector<std::string> Codes(CSetupRun& run) {
    std::vector<std::string> codes;
    EXPECT_TRUE(run.Database().GetCodesFrom(codes, ""));
    return codes;
  }

  TempDir dir_;
  ScopedEnv config_;
  CRunChoices choices_;
  WorkerProgress progress_;
  ScriptedMarket* market_ = nullptr;  // owned by the last run made
};

// One run (or a run and its resume) per row: the choices, where the first
// run fails, throws or sees a cancel, and the steps each run took. The
// settings file (`before`, nullptr for none) gets the markets only when it
// exists and the run ends (`after`).
TEST_F(SetupRunTest, GatesAndResumeFollowTheStageAndIssueWhereARunStopped) {
  const struct {
    const char* name;
    bool splits, margin, archive;
    const char *fail, *cancel, *thrown;  // market calls
    std::string first;    // steps of the first run
    int stage, index;     // where it left the record
    const char* error;
    std::string resumed;  // steps of the resume, "" for none
    const char *before = nullptr, *after = nullptr;
  } cases[] = {
      // Other keys and lists survive; sections come back in name order.
      {"fresh", true, true, true, "", "", "", kAllSteps, 5, 15, "", "",
       "<Recent>\n7203,x\n\n[Config]\nIncludeMarkets,old\nTheme,dark\n",
       "[Config]\nIncludeMarkets,東証プライム\nTheme,dark\n\n<Recent>\n7203,x\n\n"},
      {"no splits or margin", false, false, false, "", "", "",
       "1:0-2 3:0-15 post:SetupComplete", 5, 15, "", "", "",
       "[Config]\nIncludeMarkets,東証プライム\n\n"},
      // Stages 1 and 2 do not run again although splits are chosen; stage 3
      // restarts at the failed issue and stage 4 runs in full.
      {"failure", true, true, true, "price:1302#1", "", "", "1:0-2 2:0-15 3:0-14", 3, 14,
       "ダウンロードに失敗したので処理を中断します。\n\nmessage -404",
       "3:14-15 4:0-15 post:SetupComplete", "[Config]\nIncludeMarkets,old\n\n",
       "[Config]\nIncludeMarkets,old\n\n"},
      // An exception in a stage (a page too large for memory, say) fails
      // that stage like any other failure.
      {"exception", true, true, true, "", "", "price:1302#1", "1:0-2 2:0-15 3:0-14", 3, 14,
       "予期しないエラーが発生したので処理を中断します。\n\nstd::bad_alloc",
       "3:14-15 4:0-15 post:SetupComplete"},
      {"cancel at the first issue", true, true, true, "", "last:0#1", "", "1:0-0", 1, 0, "",
       kAllSteps},
      {"cancel before the last issue", true, true, true, "", "divide:1302#1", "",
       "1:0-2 2:0-14", 2, 15, "", "2:15-15 3:0-15 4:0-15 post:SetupComplete"},
  };
  choices_.etf = choices_.reit = choices_.standard = choices_.growth = false;
  fs::create_directories(fs::path(SettingsPath()).parent_path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(SettingsPath());
    if (c.before) std::ofstream(SettingsPath(), std::ios::binary) << c.before;
    choices_.splits = c.splits;
    choices_.margin = c.margin;
    choices_.useArchive = c.archive;
    std::unique_ptr<CSetupRun> run = MakeRun();
    market_->fail = {c.fail};
    market_->cancel = {c.cancel};
    market_->thrown = {c.thrown};
    progress_.ResetForFreshRun();
    run->Run(progress_);
    EXPECT_EQ(c.first, Steps());
    EXPECT_EQ(c.archive, market_->ArchivePreference());
    EXPECT_EQ(c.stage, progress_.stage);
    EXPECT_EQ(c.index, progress_.resumeIndex);
    EXPECT_EQ(c.error, progress_.Error());
    // Only a finished run leaves the record of the setup; a fresh one
    // removes the one of the run before.
    EXPECT_EQ(c.stage == 5, fs::exists(SetupRecordPath(choices_.databaseFolder)));
    if (c.after) EXPECT_EQ(c.after, FileBytes(SettingsPath()));
    else EXPECT_FALSE(fs::exists(SettingsPath()));  // never created
    if (c.resumed.empty()) continue;
    progress_.ResetForResume();
    run->Run(progress_);
    EXPECT_EQ(c.resumed, Steps());
    EXPECT_EQ(5, progress_.stage);
    EXPECT_EQ("", progress_.Error());
  }
  // A resume into a stage that is no longer chosen opens no gate; the run
  // still finishes.
  choices_.splits = false;
  std::unique_ptr<CSetupRun> run = MakeRun();
  progress_.stage = 2;
  progress_.ResetForResume();
  run->Run(progress_);
  EXPECT_EQ("post:SetupComplete", Steps());
  EXPECT_EQ(5, progress_.stage);
}

// A database that cannot be created stops the run and its retry starts
// afresh; later fresh runs replace the database and resumes reconnect to it.
TEST_F(SetupRunTest, FreshRunsReplaceTheDatabaseAndResumesReconnectToIt) {
  std::unique_ptr<CSetupRun> run = MakeRun();
  // Only a file is deleted: a folder named stock.mdb, empty or not, stays
  // and the file cannot be made.
  for (const bool empty : {true, false}) {
    fs::create_directories(dir_.Sub("db/stock.mdb"));
    if (!empty) std::ofstream(dir_.Sub("db/stock.mdb/keep")) << "x";
    progress_.ResetForFreshRun();
    run->Run(progress_);
    EXPECT_EQ("データベースファイルを作成できませんでした", progress_.Error()) << empty;
    EXPECT_EQ(0, progress_.stage);
    EXPECT_EQ("", Steps());
    EXPECT_TRUE(fs::is_directory(dir_.Sub("db/stock.mdb"))) << empty;
  }
  // The user clears the way and presses Next again: a resume with stage 0.
  fs::remove_all(dir_.Sub("db/stock.mdb"));
  progress_.ResetForResume();
  run->Run(progress_);
  ASSERT_EQ("", progress_.Error());
  EXPECT_EQ(kAllSteps, Steps());
  EXPECT_EQ(17u, Codes(*run).size());
  CBrandRecord brand;
  brand.code = "7203";  // of no kind: in no issue list
  ASSERT_TRUE(run->Database().WriteBrand(brand));
  run->Database().Close();

  progress_.stage = 3;
  progress_.resumeIndex = 1;
  progress_.ResetForResume();
  run->Run(progress_);
  EXPECT_EQ("3:1-15 4:0-15 post:SetupComplete", Steps());
  EXPECT_EQ(18u, Codes(*run).size());

  // A fresh run reads the issue list again from its new database, which
  // now has a fourth stock.
  market_->pages[0].push_back("1304");
  market_->existing.insert("1304");
  market_->brands["1304"] = market_->brands["1303"];
  progress_.ResetForFreshRun();
  run->Run(progress_);
  EXPECT_EQ("1:0-3 2:0-16 3:0-16 4:0-16 post:SetupComplete", Steps());
  const std::vector<std::string> codes = Codes(*run);
  ASSERT_EQ(18u, codes.size());
  EXPECT_EQ("1001", codes.front());
  EXPECT_EQ("1304", codes.back());

  run->Database().Close();
  fs::remove(run->DatabaseFilePath());
  progress_.stage = 2;
  progress_.ResetForResume();
  run->Run(progress_);
  EXPECT_EQ("データベースに接続できませんでした", progress_.Error());
  EXPECT_EQ("", Steps());
}

TEST_F(SetupRunTest, FoldersAreMadeOnlyAtTheLastLevelAndFailuresUndoTheirOwnWork) {
  std::ofstream(dir_.Sub("file")) << "x";
  fs::create_directories(dir_.Sub("kept/daily"));
  std::ofstream(dir_.Sub("kept/daily/7203.dat")) << "bars";
  fs::create_directories(dir_.Sub("blocked"));
  std::ofstream(dir_.Sub("blocked/margin")) << "x";
  const std::pair<std::string, bool> cases[] = {
      {dir_.Sub("missing/db"), false}, {dir_.Sub("file"), false},
      {dir_.Sub("blocked"), false},    {"", false},
      {dir_.Sub("kept"), true},
  };
  for (const auto& [folder, ok] : cases) {
    choices_.databaseFolder = folder;
    EXPECT_EQ(ok, MakeRun()->CreateFolders()) << folder;
  }
  EXPECT_FALSE(fs::exists(dir_.Sub("missing")));
  EXPECT_TRUE(fs::is_regular_file(dir_.Sub("file")));
  EXPECT_FALSE(fs::exists(dir_.Sub("blocked/daily")));
  EXPECT_TRUE(fs::is_regular_file(dir_.Sub("blocked/margin")));
  EXPECT_TRUE(fs::is_regular_file(dir_.Sub("kept/daily/7203.dat")));
  EXPECT_TRUE(fs::is_directory(dir_.Sub("kept/margin")));

  choices_.databaseFolder = dir_.Sub("missing/db");
  std::unique_ptr<CSetupRun> run = MakeRun();
  run->Run(progress_);
  EXPECT_EQ("データベースフォルダを作成できませんでした", progress_.Error());
  EXPECT_EQ("", Steps());
}

// A record of another version is told apart from a damaged one, a missing
// one from both. What a record holds and the damage it is refused for are
// checked by the setup_record fuzz target and its seeds.
TEST_F(SetupRunTest, SetupRecordOfAnotherVersionOrMissing) {
  CSetupRecord record;
  record.firstDate = CDate(2001, 1, 1);
  record.reading = {CDate(2024, 3, 29), 15, 41};
  const std::string path = dir_.Sub("record.ini");
  ASSERT_TRUE(WriteSetupRecord(path, record));
  const std::string other =
      std::regex_replace(FileBytes(path), std::regex("version=1"), "version=2");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << other;
  EXPECT_EQ(SetupRecordResult::kOtherVersion, ReadSetupRecord(path, record));
  EXPECT_EQ(SetupRecordResult::kMissing, ReadSetupRecord(dir_.Sub("none.ini"), record));
}

// The resets keep what they should, and a reader sees only whole texts
// while another thread writes them.
TEST(WorkerProgressTest, ResetsKeepWhatTheyShouldAndReadersSeeOnlyWholeTexts) {
  WorkerProgress p;
  auto state = [&p] {
    return StringFormat("%d %d %d %d %d %d '%s' %s", p.stage.load(), p.resumeIndex.load(),
                        p.total.load(), p.done.load(), p.cancel.load(), p.resume.load(),
                        p.Error().c_str(), p.Status().c_str());
  };
  p.stage = 3;
  p.resumeIndex = 42;
  p.total = 9;
  p.done = 4;
  p.cancel = 1;
  p.SetError("boom");
  p.SetStatus("last");
  p.ResetForResume();
  EXPECT_EQ("3 42 100 0 0 1 '' last", state());
  p.cancel = 1;
  p.SetError("boom");
  p.ResetForFreshRun();
  EXPECT_EQ("0 0 100 0 0 0 '' last", state());

  const std::string a(1000, 'a'), b(3, 'b');
  p.SetStatus(a);
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) p.SetStatus(i % 2 ? a : b);
  });
  int bad = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string s = p.Status();
    bad += s != a && s != b;
  }
  writer.join();
  EXPECT_EQ(0, bad);
}

}  // namespace
