#include "setup/setup_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/settings_file.h"
#include "support/text.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A run whose steps follow the common stage shape over a fixed list of
// issues and record what they were asked to do. A step can be told to fail
// or to see a cancel at one issue.
class ScriptedRun : public CSetupRun {
 public:
  explicit ScriptedRun(const CRunOptions* options) : CSetupRun(options) {}

  // What happened, in order: "init", "archive:1", "load", "post:...",
  // and "S:i" for issue i of stage S.
  std::vector<std::string> log;
  bool initOk = true;
  std::pair<int, int> failAt{0, -1};    // stage, issue
  std::pair<int, int> cancelAt{0, -1};  // stage, issue
  int issueCount = 3;

  std::string Log() const { return StringJoin(log, ' '); }

 protected:
  bool InitDatabase(WorkerProgress& progress) override {
    log.push_back("init");
    if (!initOk) progress.SetError("init failed");
    return initOk;
  }
  bool DownloadIssues(WorkerProgress& p) override { return Stage(1, p); }
  bool DownloadSplits(WorkerProgress& p) override { return Stage(2, p); }
  bool DownloadPrices(WorkerProgress& p) override { return Stage(3, p); }
  bool DownloadMargins(WorkerProgress& p) override { return Stage(4, p); }
  bool LoadIssueList(WorkerProgress&) override {
    log.push_back("load");
    for (int i = 0; i < issueCount; ++i) {
      issueList().push_back(std::to_string(1301 + i));
    }
    return true;
  }
  void SetArchivePreference(bool use) override {
    log.push_back(use ? "archive:1" : "archive:0");
  }
  void PostUsageLog(const std::string& event) override {
    log.push_back("post:" + event);
  }

 private:
  bool Stage(int stage, WorkerProgress& progress) {
    if (stage > 1 && !EnsureIssueList(progress)) return false;
    const int count = issueCount;
    const int first = TakeFirstIndex(progress);
    progress.total = count - first;
    for (int i = first; i < count; ++i) {
      progress.stage = stage;
      progress.resumeIndex = i;
      if (progress.cancel || cancelAt == std::make_pair(stage, i)) {
        progress.cancel = 1;
        return false;
      }
      if (failAt == std::make_pair(stage, i)) {
        progress.SetError("stage " + std::to_string(stage) + " failed");
        return false;
      }
      log.push_back(std::to_string(stage) + ":" + std::to_string(i));
      progress.done = i - first + 1;
    }
    progress.done = progress.total.load();
    return true;
  }
};

class SetupRunTest : public ::testing::Test {
 protected:
  SetupRunTest() : config_("XDG_CONFIG_HOME", dir_.Sub("config").c_str()) {
    choices_.databaseFolder = dir_.Sub("db");
  }

  void WriteSettingsFile(const std::string& content) {
    fs::create_directories(dir_.Sub("config/Zelvane/Tickora"));
    std::ofstream(SettingsPath(), std::ios::binary) << content;
  }
  std::string SettingsPath() const {
    return dir_.Sub("config/Zelvane/Tickora/Tickora.ini");
  }
  std::string ReadSettingsFile() const {
    std::ifstream in(SettingsPath(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  TempDir dir_;
  ScopedEnv config_;
  CRunChoices choices_;
  WorkerProgress progress_;
};

// One run (or a run and its resume) per row: the choices, where the first
// run fails or sees a cancel, and the steps each run took.
TEST_F(SetupRunTest, GatesAndResumeFollowTheStageAndIssueWhereARunStopped) {
  const std::string kAll =
      "init archive:1 1:0 1:1 1:2 load 2:0 2:1 2:2 3:0 3:1 3:2 4:0 4:1 4:2 "
      "post:SetupComplete";
  struct Case {
    const char* name;
    bool splits, margin, archive;
    std::pair<int, int> fail, cancel;
    const char* first;   // log of the first run
    int stage, index;    // where it left the record
    const char* error;
    const char* resumed;  // log of the resume, "" for none
  } cases[] = {
      {"fresh", true, true, true, {0, -1}, {0, -1}, kAll.c_str(), 5, 2, "", ""},
      {"no splits or margin", false, false, false, {0, -1}, {0, -1},
       "init archive:0 1:0 1:1 1:2 load 3:0 3:1 3:2 post:SetupComplete", 5, 2,
       "", ""},
      // Stages 1 and 2 do not run again although splits are chosen; stage 3
      // restarts at the failed issue and stage 4 runs in full.
      {"failure", true, true, true, {3, 1}, {0, -1},
       "init archive:1 1:0 1:1 1:2 load 2:0 2:1 2:2 3:0", 3, 1,
       "stage 3 failed",
       "init archive:1 3:1 3:2 4:0 4:1 4:2 post:SetupComplete"},
      {"cancel before the first issue", true, true, true, {0, -1}, {1, 0},
       "init archive:1", 1, 0, "", kAll.c_str()},
      {"cancel at the last issue", true, true, true, {0, -1}, {2, 2},
       "init archive:1 1:0 1:1 1:2 load 2:0 2:1", 2, 2, "",
       "init archive:1 2:2 3:0 3:1 3:2 4:0 4:1 4:2 post:SetupComplete"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    choices_.splits = c.splits;
    choices_.margin = c.margin;
    choices_.useArchive = c.archive;
    ScriptedRun run(&choices_);
    run.failAt = c.fail;
    run.cancelAt = c.cancel;
    progress_.ResetForFreshRun();
    run.Run(progress_);
    EXPECT_EQ(c.first, run.Log());
    EXPECT_EQ(c.stage, progress_.stage);
    EXPECT_EQ(c.index, progress_.resumeIndex);
    EXPECT_EQ(c.error, progress_.Error());
    if (*c.resumed == '\0') continue;
    run.failAt = run.cancelAt = {0, -1};
    run.log.clear();
    progress_.ResetForResume();
    run.Run(progress_);
    EXPECT_EQ(c.resumed, run.Log());
    EXPECT_EQ(5, progress_.stage);
    EXPECT_EQ("", progress_.Error());
  }
  EXPECT_TRUE(fs::is_directory(dir_.Sub("db/daily")));
  EXPECT_TRUE(fs::is_directory(dir_.Sub("db/margin")));
}

TEST_F(SetupRunTest, ResumeIntoAStageThatIsNotChosenRunsNoStage) {
  // The gate of the interrupted stage is closed by the choice, so no stage
  // takes the resume flag; the run still finishes.
  choices_.margin = false;
  ScriptedRun run(&choices_);
  progress_.stage = 4;
  progress_.resumeIndex = 1;
  progress_.ResetForResume();
  run.Run(progress_);
  EXPECT_EQ("init archive:1 post:SetupComplete", run.Log());
  EXPECT_EQ(5, progress_.stage);
}

TEST_F(SetupRunTest, InitFailureStopsBeforeAnyStage) {
  ScriptedRun run(&choices_);
  run.initOk = false;
  run.Run(progress_);
  EXPECT_EQ("init", run.Log());
  EXPECT_EQ("init failed", progress_.Error());
  EXPECT_EQ(0, progress_.stage);
}

TEST_F(SetupRunTest, FolderThatCannotBeMadeGivesTheErrorAndLeavesNothing) {
  const std::string kError = "データベースフォルダを作成できませんでした";
  {  // The parent folder does not exist.
    choices_.databaseFolder = dir_.Sub("missing/db");
    ScriptedRun run(&choices_);
    run.Run(progress_);
    EXPECT_EQ(kError, progress_.Error());
    EXPECT_EQ("", run.Log());
    EXPECT_FALSE(fs::exists(dir_.Sub("missing")));
  }
  {  // A file where the database folder should be.
    choices_.databaseFolder = dir_.Sub("db3");
    ScriptedRun run(&choices_);
    std::ofstream(dir_.Sub("db3")) << "x";
    EXPECT_FALSE(run.CreateFolders());
    EXPECT_TRUE(fs::is_regular_file(dir_.Sub("db3")));
  }
  {  // An existing database folder whose "margin" is a file: the folder
     // and its contents stay, the "daily" folder made by this call goes.
    choices_.databaseFolder = dir_.Sub("db4");
    fs::create_directory(dir_.Sub("db4"));
    std::ofstream(dir_.Sub("db4/margin")) << "x";
    ScriptedRun run(&choices_);
    EXPECT_FALSE(run.CreateFolders());
    EXPECT_TRUE(fs::is_directory(dir_.Sub("db4")));
    EXPECT_FALSE(fs::exists(dir_.Sub("db4/daily")));
    EXPECT_TRUE(fs::is_regular_file(dir_.Sub("db4/margin")));
  }
  {  // Empty folder text.
    choices_.databaseFolder = "";
    ScriptedRun run(&choices_);
    EXPECT_FALSE(run.CreateFolders());
  }
}

TEST_F(SetupRunTest, CreateFoldersKeepsExistingFolders) {
  fs::create_directories(dir_.Sub("db/daily"));
  std::ofstream(dir_.Sub("db/daily/7203.dat")) << "bars";
  ScriptedRun run(&choices_);
  EXPECT_TRUE(run.CreateFolders());
  EXPECT_TRUE(fs::is_regular_file(dir_.Sub("db/daily/7203.dat")));
  EXPECT_TRUE(fs::is_directory(dir_.Sub("db/margin")));
}

TEST_F(SetupRunTest, IncludeMarketsFollowsTheCheckedItems) {
  // Items: ETF, REIT, prime, standard, growth, other markets.
  const std::pair<const char*, const char*> cases[] = {
      {"100010", "東証;東証グロース"},
      {"101000", "東証;東証プライム"},
      {"000010", "東証グロース"},
      {"010001", "東証"},
      {"111111", "東証;東証プライム;東証スタンダード;東証グロース"},
      {"000001", ""},
      {"000000", ""},
  };
  for (const auto& [items, expected] : cases) {
    CRunChoices choices;
    bool* flags[] = {&choices.etf,      &choices.reit,   &choices.prime,
                     &choices.standard, &choices.growth, &choices.otherMarkets};
    for (int i = 0; i < 6; ++i) *flags[i] = items[i] == '1';
    EXPECT_EQ(expected, ScriptedRun(&choices).BuildIncludeMarkets()) << items;
  }
}

TEST_F(SetupRunTest, SettingsFileGetsTheMarketsOnlyWhenItExistsAndTheRunEnds) {
  struct Case {
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
  for (const Case& c : cases) {
    fs::remove_all(dir_.Sub("config"));
    if (c.before) WriteSettingsFile(c.before);
    ScriptedRun run(&choices_);
    if (c.fail) run.failAt = {1, 0};
    progress_.ResetForFreshRun();
    run.Run(progress_);
    EXPECT_EQ(c.fail ? 1 : 5, progress_.stage);
    if (c.after) {
      EXPECT_EQ(c.after, ReadSettingsFile());
    } else {  // never created, and the usage record is still posted
      EXPECT_FALSE(fs::exists(dir_.Sub("config")));
      EXPECT_EQ("post:SetupComplete", run.log.back());
    }
  }
}

TEST(SetupRunUnitsTest, FirstIndexTakesTheResumePositionOnce) {
  WorkerProgress progress;
  progress.resumeIndex = 7;
  EXPECT_EQ(0, CSetupRun::TakeFirstIndex(progress));
  progress.resume = 1;
  EXPECT_EQ(7, CSetupRun::TakeFirstIndex(progress));
  EXPECT_EQ(0, progress.resume);
  EXPECT_EQ(0, CSetupRun::TakeFirstIndex(progress));
}

TEST(SetupRunUnitsTest, DaysInPeriodCountsBothEnds) {
  CRunChoices choices;
  ScriptedRun run(&choices);
  CDate first, today;
  ASSERT_TRUE(first.FromNumber(20240101));
  ASSERT_TRUE(today.FromNumber(20240101));
  run.SetPeriod(first, today);
  EXPECT_EQ(1, run.DaysInPeriod());
  ASSERT_TRUE(today.FromNumber(20250101));
  run.SetPeriod(first, today);
  EXPECT_EQ(367, run.DaysInPeriod());  // 2024 is a leap year
}

}  // namespace
