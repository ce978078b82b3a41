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

TEST_F(SetupRunTest, FreshRunCallsEveryStepInOrder) {
  ScriptedRun run(&choices_);
  progress_.ResetForFreshRun();
  run.Run(progress_);
  EXPECT_EQ(
      "init archive:1 1:0 1:1 1:2 load 2:0 2:1 2:2 3:0 3:1 3:2 4:0 4:1 4:2 "
      "post:SetupComplete",
      run.Log());
  EXPECT_EQ(5, progress_.stage);
  EXPECT_EQ("", progress_.Error());
  EXPECT_TRUE(fs::is_directory(choices_.databaseFolder));
  EXPECT_TRUE(fs::is_directory(run.DailyFolder()));
  EXPECT_TRUE(fs::is_directory(run.MarginFolder()));
  EXPECT_EQ(choices_.databaseFolder + "/stock.mdb", run.DatabaseFilePath());
}

TEST_F(SetupRunTest, UncheckedSplitsAndMarginSkipTheirStages) {
  choices_.splits = false;
  choices_.margin = false;
  choices_.useArchive = false;
  ScriptedRun run(&choices_);
  run.Run(progress_);
  EXPECT_EQ("init archive:0 1:0 1:1 1:2 load 3:0 3:1 3:2 post:SetupComplete",
            run.Log());
  EXPECT_EQ(5, progress_.stage);
}

TEST_F(SetupRunTest, FailureStopsTheRunAndResumeRetriesThatIssue) {
  ScriptedRun run(&choices_);
  run.failAt = {3, 1};
  run.Run(progress_);
  EXPECT_EQ("init archive:1 1:0 1:1 1:2 load 2:0 2:1 2:2 3:0", run.Log());
  EXPECT_EQ("stage 3 failed", progress_.Error());
  EXPECT_EQ(3, progress_.stage);
  EXPECT_EQ(1, progress_.resumeIndex);

  // The resumed run skips stages 1 and 2 even though splits are chosen,
  // restarts stage 3 at issue 1 and runs stage 4 in full. The issue list
  // loaded by the first run is kept.
  run.failAt = {0, -1};
  run.log.clear();
  progress_.ResetForResume();
  run.Run(progress_);
  EXPECT_EQ("init archive:1 3:1 3:2 4:0 4:1 4:2 post:SetupComplete", run.Log());
  EXPECT_EQ("", progress_.Error());
  EXPECT_EQ(5, progress_.stage);
  EXPECT_EQ(0, progress_.resume);
}

TEST_F(SetupRunTest, CancelBeforeTheFirstIssueLeavesNoErrorAndResumesThere) {
  ScriptedRun run(&choices_);
  progress_.cancel = 1;
  run.Run(progress_);
  EXPECT_EQ("init archive:1", run.Log());
  EXPECT_EQ("", progress_.Error());
  EXPECT_EQ(1, progress_.stage);
  EXPECT_EQ(0, progress_.resumeIndex);

  run.log.clear();
  progress_.ResetForResume();
  run.Run(progress_);
  EXPECT_EQ(
      "init archive:1 1:0 1:1 1:2 load 2:0 2:1 2:2 3:0 3:1 3:2 4:0 4:1 4:2 "
      "post:SetupComplete",
      run.Log());
}

TEST_F(SetupRunTest, CancelDuringTheLastIssueRestartsThatIssue) {
  ScriptedRun run(&choices_);
  run.cancelAt = {2, 2};
  run.Run(progress_);
  EXPECT_EQ("", progress_.Error());
  EXPECT_EQ(2, progress_.stage);
  EXPECT_EQ(2, progress_.resumeIndex);
  EXPECT_NE(std::string::npos, run.Log().find("2:1"));
  EXPECT_EQ(std::string::npos, run.Log().find("2:2"));

  run.cancelAt = {0, -1};
  run.log.clear();
  progress_.ResetForResume();
  run.Run(progress_);
  EXPECT_EQ("init archive:1 2:2 3:0 3:1 3:2 4:0 4:1 4:2 post:SetupComplete",
            run.Log());
}

TEST_F(SetupRunTest, ResumeAtStageFourWithMarginUncheckedRunsNoStage) {
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
  struct Case {
    bool etf, reit, prime, standard, growth, other;
    const char* expected;
  };
  const Case cases[] = {
      {true, false, true, false, false, false, "東証;東証プライム"},
      {false, false, false, false, true, false, "東証グロース"},
      {false, true, false, false, false, true, "東証"},
      {true, true, true, true, true, true,
       "東証;東証プライム;東証スタンダード;東証グロース"},
      {false, false, false, false, false, true, ""},
      {false, false, false, false, false, false, ""},
  };
  for (const Case& c : cases) {
    CRunChoices choices;
    choices.etf = c.etf;
    choices.reit = c.reit;
    choices.prime = c.prime;
    choices.standard = c.standard;
    choices.growth = c.growth;
    choices.otherMarkets = c.other;
    ScriptedRun run(&choices);
    EXPECT_EQ(c.expected, run.BuildIncludeMarkets());
  }
}

TEST_F(SetupRunTest, SettingsFileGetsTheMarketsAndKeepsItsOtherContent) {
  WriteSettingsFile("[Config]\nIncludeMarkets,old\nTheme,dark\n\n<Recent>\n7203,x\n\n");
  choices_.etf = choices_.reit = choices_.standard = choices_.growth = false;
  ScriptedRun run(&choices_);
  run.Run(progress_);
  ASSERT_EQ(5, progress_.stage);
  EXPECT_EQ(
      "[Config]\nIncludeMarkets,東証プライム\nTheme,dark\n\n<Recent>\n7203,x\n\n",
      ReadSettingsFile());
}

TEST_F(SetupRunTest, NothingCheckedWritesAnEmptyValue) {
  WriteSettingsFile("[Config]\n");
  choices_.etf = choices_.reit = choices_.prime = false;
  choices_.standard = choices_.growth = choices_.otherMarkets = false;
  ScriptedRun run(&choices_);
  run.Run(progress_);
  EXPECT_EQ("[Config]\nIncludeMarkets,\n\n", ReadSettingsFile());
}

TEST_F(SetupRunTest, MissingSettingsFileIsNeverCreated) {
  ScriptedRun run(&choices_);
  run.Run(progress_);
  EXPECT_EQ(5, progress_.stage);
  EXPECT_EQ("", progress_.Error());
  EXPECT_FALSE(fs::exists(dir_.Sub("config")));
  EXPECT_EQ("post:SetupComplete", run.log.back());
}

TEST_F(SetupRunTest, FailedRunDoesNotTouchTheSettingsFile) {
  WriteSettingsFile("[Config]\nIncludeMarkets,old\n\n");
  ScriptedRun run(&choices_);
  run.failAt = {1, 0};
  run.Run(progress_);
  EXPECT_EQ("[Config]\nIncludeMarkets,old\n\n", ReadSettingsFile());
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
