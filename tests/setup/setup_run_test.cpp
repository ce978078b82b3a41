#include "setup/setup_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <new>

#include "db/db_stock3.h"
#include "support/text.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kAllSteps =
    "archive:1 1:0 1:1 1:2 load 2:0 2:1 2:2 3:0 3:1 3:2 4:0 4:1 4:2 post:SetupComplete";

// A run whose steps follow the common stage shape over three issues and
// record what they were asked to do. A step can be told to fail or to see a
// cancel at one issue; the real database set-up can be switched on.
class ScriptedRun : public CSetupRun {
 public:
  using CSetupRun::CSetupRun;

  // What happened, in order: "init", "archive:1", "load", "post:...",
  // and "S:i" for issue i of stage S.
  std::vector<std::string> log;
  std::pair<int, int> failAt{0, -1};    // stage, issue
  std::pair<int, int> cancelAt{0, -1};  // stage, issue
  std::pair<int, int> throwAt{0, -1};   // stage, issue: std::bad_alloc
  bool realInit = false;
  bool loadFails = false;  // LoadIssueList stops after its first issue

  std::string Log() const { return StringJoin(log, ' '); }

 protected:
  bool InitDatabase(WorkerProgress& progress) override {
    if (realInit) return CSetupRun::InitDatabase(progress);
    log.push_back("init");
    return true;
  }
  bool DownloadIssues(WorkerProgress& p) override { return Stage(1, p); }
  bool DownloadSplits(WorkerProgress& p) override { return Stage(2, p); }
  bool DownloadPrices(WorkerProgress& p) override { return Stage(3, p); }
  bool DownloadMargins(WorkerProgress& p) override { return Stage(4, p); }
  bool LoadIssueList(WorkerProgress& progress) override {
    log.push_back("load");
    issueList() = {"1301", "1302", "1303"};
    if (loadFails) {
      issueList().resize(1);
      progress.SetError("load failed");
    }
    return !loadFails;
  }
  void SetArchivePreference(bool use) override { log.push_back(use ? "archive:1" : "archive:0"); }
  void PostUsageLog(const std::string& event) override {
    log.push_back("post:" + event);
  }

 private:
  bool Stage(int stage, WorkerProgress& progress) {
    if (stage > 1 && !EnsureIssueList(progress)) return false;
    const int first = BeginStage(progress);
    const int count = stage > 1 ? static_cast<int>(IssueList().size()) : 3;
    for (int i = first; i < count; ++i) {
      progress.stage = stage;
      progress.resumeIndex = i;
      if (progress.cancel || cancelAt == std::make_pair(stage, i)) {
        progress.cancel = 1;
        return false;
      }
      if (throwAt == std::make_pair(stage, i)) throw std::bad_alloc();
      if (failAt == std::make_pair(stage, i)) {
        progress.SetError("stage " + std::to_string(stage) + " failed");
        return false;
      }
      log.push_back(std::to_string(stage) + ":" + std::to_string(i));
    }
    return true;
  }
};

class SetupRunTest : public ::testing::Test {
 protected:
  SetupRunTest() : config_("XDG_CONFIG_HOME", dir_.Sub("config").c_str()) {
    choices_.databaseFolder = dir_.Sub("db");
  }
  ~SetupRunTest() override { CDBStock3::Instance().Close(); }

  std::string SettingsPath() const { return dir_.Sub("config/Zelvane/Tickora/Tickora.ini"); }
  std::vector<std::string> Codes() {
    std::vector<std::string> codes;
    EXPECT_TRUE(CDBStock3::Instance().GetCodesFrom(codes, ""));
    return codes;
  }

  TempDir dir_;
  ScopedEnv config_;
  CRunChoices choices_;
  WorkerProgress progress_;
};

// One run (or a run and its resume) per row: the choices, where the first
// run fails or sees a cancel, and the steps each run took.
TEST_F(SetupRunTest, GatesAndResumeFollowTheStageAndIssueWhereARunStopped) {
  const std::string all = "init " + kAllSteps;
  const struct {
    const char* name;
    bool splits, margin, archive;
    std::pair<int, int> fail, cancel, thrown;  // stage, issue
    std::string first;    // log of the first run
    int stage, index;     // where it left the record
    const char* error;
    std::string resumed;  // log of the resume, "" for none
  } cases[] = {
      {"fresh", true, true, true, {0, -1}, {0, -1}, {0, -1}, all, 5, 2, "", ""},
      {"no splits or margin", false, false, false, {0, -1}, {0, -1}, {0, -1},
       "init archive:0 1:0 1:1 1:2 load 3:0 3:1 3:2 post:SetupComplete", 5, 2, "", ""},
      // Stages 1 and 2 do not run again although splits are chosen; stage 3
      // restarts at the failed issue and stage 4 runs in full.
      {"failure", true, true, true, {3, 1}, {0, -1}, {0, -1},
       "init archive:1 1:0 1:1 1:2 load 2:0 2:1 2:2 3:0", 3, 1, "stage 3 failed",
       "init archive:1 3:1 3:2 4:0 4:1 4:2 post:SetupComplete"},
      // An exception in a stage (a page too large for memory, say) fails
      // that stage like any other failure.
      {"exception", true, true, true, {0, -1}, {0, -1}, {3, 1},
       "init archive:1 1:0 1:1 1:2 load 2:0 2:1 2:2 3:0", 3, 1,
       "予期しないエラーが発生したので処理を中断します。\n\nstd::bad_alloc",
       "init archive:1 3:1 3:2 4:0 4:1 4:2 post:SetupComplete"},
      {"cancel before the first issue", true, true, true, {0, -1}, {1, 0}, {0, -1},
       "init archive:1", 1, 0, "", all},
      {"cancel at the last issue", true, true, true, {0, -1}, {2, 2}, {0, -1},
       "init archive:1 1:0 1:1 1:2 load 2:0 2:1", 2, 2, "",
       "init archive:1 2:2 3:0 3:1 3:2 4:0 4:1 4:2 post:SetupComplete"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    choices_.splits = c.splits;
    choices_.margin = c.margin;
    choices_.useArchive = c.archive;
    ScriptedRun run(&choices_);
    run.failAt = c.fail;
    run.cancelAt = c.cancel;
    run.throwAt = c.thrown;
    progress_.ResetForFreshRun();
    run.Run(progress_);
    EXPECT_EQ(c.first, run.Log());
    EXPECT_EQ(c.stage, progress_.stage);
    EXPECT_EQ(c.index, progress_.resumeIndex);
    EXPECT_EQ(c.error, progress_.Error());
    if (c.resumed.empty()) continue;
    run.failAt = run.cancelAt = run.throwAt = {0, -1};
    run.log.clear();
    progress_.ResetForResume();
    run.Run(progress_);
    EXPECT_EQ(c.resumed, run.Log());
    EXPECT_EQ(5, progress_.stage);
    EXPECT_EQ("", progress_.Error());
  }
  // A resume into a stage that is no longer chosen opens no gate; the run
  // still finishes.
  choices_.splits = false;
  ScriptedRun run(&choices_);
  progress_.stage = 2;
  progress_.ResetForResume();
  run.Run(progress_);
  EXPECT_EQ("init archive:1 post:SetupComplete", run.Log());
  EXPECT_EQ(5, progress_.stage);

  // An issue list that could be read only in part is not worked on: the
  // resume reads it again rather than run the later stages over the part.
  choices_.splits = true;
  ScriptedRun partial(&choices_);
  partial.loadFails = true;
  progress_.ResetForFreshRun();
  partial.Run(progress_);
  EXPECT_EQ("load failed", progress_.Error());
  partial.loadFails = false;
  partial.log.clear();
  progress_.ResetForResume();
  partial.Run(progress_);
  EXPECT_EQ("init archive:1 1:2 load 2:0 2:1 2:2 3:0 3:1 3:2 4:0 4:1 4:2 post:SetupComplete",
            partial.Log());
}

// A database that cannot be created stops the run and its retry starts
// afresh; later fresh runs replace the database and resumes reconnect to it.
TEST_F(SetupRunTest, FreshRunsReplaceTheDatabaseAndResumesReconnectToIt) {
  ScriptedRun run(&choices_);
  run.realInit = true;
  // Only a file is deleted: a folder named stock.mdb, empty or not, stays
  // and the file cannot be made.
  for (const bool empty : {true, false}) {
    fs::create_directories(dir_.Sub("db/stock.mdb"));
    if (!empty) std::ofstream(dir_.Sub("db/stock.mdb/keep")) << "x";
    progress_.ResetForFreshRun();
    run.Run(progress_);
    EXPECT_EQ("データベースファイルを作成できませんでした", progress_.Error()) << empty;
    EXPECT_EQ(0, progress_.stage);
    EXPECT_EQ("", run.Log());
    EXPECT_TRUE(fs::is_directory(dir_.Sub("db/stock.mdb"))) << empty;
  }
  // The user clears the way and presses Next again: a resume with stage 0.
  fs::remove_all(dir_.Sub("db/stock.mdb"));
  progress_.ResetForResume();
  run.Run(progress_);
  ASSERT_EQ("", progress_.Error());
  EXPECT_EQ(kAllSteps, run.Log());
  EXPECT_EQ(14u, Codes().size());
  CBrandRecord brand;
  brand.code = "7203";
  ASSERT_TRUE(CDBStock3::Instance().WriteBrand(brand));
  CDBStock3::Instance().Close();

  progress_.stage = 3;
  progress_.resumeIndex = 1;
  progress_.ResetForResume();
  run.log.clear();
  run.Run(progress_);
  EXPECT_EQ("archive:1 3:1 3:2 4:0 4:1 4:2 post:SetupComplete", run.Log());
  EXPECT_EQ(15u, Codes().size());

  // A fresh run reads the issue list again from its new database.
  progress_.ResetForFreshRun();
  run.log.clear();
  run.Run(progress_);
  EXPECT_EQ(kAllSteps, run.Log());
  const std::vector<std::string> codes = Codes();
  ASSERT_EQ(14u, codes.size());  // the built-in issues only
  EXPECT_EQ("1001", codes.front());
  EXPECT_EQ("1109", codes.back());

  CDBStock3::Instance().Close();
  fs::remove(run.DatabaseFilePath());
  progress_.stage = 2;
  progress_.ResetForResume();
  run.log.clear();
  run.Run(progress_);
  EXPECT_EQ("データベースに接続できませんでした", progress_.Error());
  EXPECT_EQ("", run.Log());
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
    EXPECT_EQ(ok, ScriptedRun(&choices_).CreateFolders()) << folder;
  }
  EXPECT_FALSE(fs::exists(dir_.Sub("missing")));
  EXPECT_TRUE(fs::is_regular_file(dir_.Sub("file")));
  EXPECT_FALSE(fs::exists(dir_.Sub("blocked/daily")));
  EXPECT_TRUE(fs::is_regular_file(dir_.Sub("blocked/margin")));
  EXPECT_TRUE(fs::is_regular_file(dir_.Sub("kept/daily/7203.dat")));
  EXPECT_TRUE(fs::is_directory(dir_.Sub("kept/margin")));

  choices_.databaseFolder = dir_.Sub("missing/db");
  ScriptedRun run(&choices_);
  run.Run(progress_);
  EXPECT_EQ("データベースフォルダを作成できませんでした", progress_.Error());
  EXPECT_EQ("", run.Log());
}

TEST_F(SetupRunTest, SettingsFileGetsTheMarketsOnlyWhenItExistsAndTheRunEnds) {
  const struct {
    const char* before;  // nullptr: no settings file
    bool fail;
    const char* after;
  } cases[] = {
      // Other keys and lists survive; sections come back in name order.
      {"<Recent>\n7203,x\n\n[Config]\nIncludeMarkets,old\nTheme,dark\n", false,
       "[Config]\nIncludeMarkets,東証プライム\nTheme,dark\n\n<Recent>\n7203,x\n\n"},
      {"", false, "[Config]\nIncludeMarkets,東証プライム\n\n"},
      {"[Config]\nIncludeMarkets,old\n\n", true, "[Config]\nIncludeMarkets,old\n\n"},
      {nullptr, false, nullptr},
  };
  choices_.etf = choices_.reit = choices_.standard = choices_.growth = false;
  for (const auto& c : cases) {
    fs::remove(SettingsPath());
    fs::create_directories(fs::path(SettingsPath()).parent_path());
    if (c.before) std::ofstream(SettingsPath(), std::ios::binary) << c.before;
    ScriptedRun run(&choices_);
    if (c.fail) run.failAt = {1, 0};
    progress_.ResetForFreshRun();
    run.Run(progress_);
    EXPECT_EQ(c.fail ? 1 : 5, progress_.stage);
    if (c.after) EXPECT_EQ(c.after, FileBytes(SettingsPath()));
    else EXPECT_FALSE(fs::exists(SettingsPath()));  // never created
  }
}

}  // namespace
