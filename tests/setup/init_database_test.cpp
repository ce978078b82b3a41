#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/db_stock3.h"
#include "setup/setup_run.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A run with the real database initialisation and stages that only note
// the index they start at.
class InitRun : public CSetupRun {
 public:
  using CSetupRun::CSetupRun;
  std::vector<std::string> starts;

 protected:
  bool DownloadIssues(WorkerProgress& p) override { return Note("1", p); }
  bool DownloadSplits(WorkerProgress& p) override { return Note("2", p); }
  bool DownloadPrices(WorkerProgress& p) override { return Note("3", p); }
  bool DownloadMargins(WorkerProgress& p) override { return Note("4", p); }
  bool LoadIssueList(WorkerProgress&) override { return true; }
  void SetArchivePreference(bool) override {}
  void PostUsageLog(const std::string&) override {}

 private:
  bool Note(const std::string& stage, WorkerProgress& progress) {
    starts.push_back(stage + ":" + std::to_string(TakeFirstIndex(progress)));
    progress.stage = std::stoi(stage);
    return true;
  }
};

class InitDatabaseTest : public ::testing::Test {
 protected:
  InitDatabaseTest() : config_("XDG_CONFIG_HOME", dir_.Sub("config").c_str()) {
    choices_.databaseFolder = dir_.Sub("db");
  }
  ~InitDatabaseTest() override { CDBStock3::Instance().Close(); }

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

TEST_F(InitDatabaseTest, FreshRunReplacesAnEarlierDatabase) {
  InitRun first(&choices_);
  first.Run(progress_);
  ASSERT_EQ("", progress_.Error());
  CBrandRecord brand;
  brand.code = "7203";
  ASSERT_TRUE(CDBStock3::Instance().WriteBrand(brand));
  ASSERT_EQ(15u, Codes().size());

  InitRun second(&choices_);
  progress_.ResetForFreshRun();
  second.Run(progress_);
  ASSERT_EQ("", progress_.Error());
  EXPECT_EQ(&CDBStock3::Instance(), second.Database());
  std::vector<std::string> codes = Codes();
  ASSERT_EQ(14u, codes.size());
  EXPECT_EQ("1001", codes.front());
  EXPECT_EQ("1109", codes.back());
}

TEST_F(InitDatabaseTest, ResumedRunReconnectsAndKeepsTheRows) {
  InitRun run(&choices_);
  run.Run(progress_);
  CBrandRecord brand;
  brand.code = "7203";
  ASSERT_TRUE(CDBStock3::Instance().WriteBrand(brand));
  CDBStock3::Instance().Close();

  progress_.stage = 3;
  progress_.resumeIndex = 5;
  progress_.ResetForResume();
  run.starts.clear();
  run.Run(progress_);
  EXPECT_EQ("", progress_.Error());
  EXPECT_EQ((std::vector<std::string>{"3:5", "4:0"}), run.starts);
  EXPECT_EQ(15u, Codes().size());
}

TEST_F(InitDatabaseTest, ResumeWithoutTheDatabaseFileCannotConnect) {
  InitRun run(&choices_);
  run.Run(progress_);
  CDBStock3::Instance().Close();
  fs::remove(run.DatabaseFilePath());

  progress_.stage = 2;
  progress_.ResetForResume();
  run.starts.clear();
  run.Run(progress_);
  EXPECT_EQ("データベースに接続できませんでした", progress_.Error());
  EXPECT_TRUE(run.starts.empty());
}

TEST_F(InitDatabaseTest, FileThatCannotBeReplacedFailsCreation) {
  // A folder named stock.mdb with something in it survives the deletion.
  fs::create_directories(dir_.Sub("db/stock.mdb"));
  std::ofstream(dir_.Sub("db/stock.mdb/keep")) << "x";
  InitRun run(&choices_);
  run.Run(progress_);
  EXPECT_EQ("データベースファイルを作成できませんでした", progress_.Error());
  EXPECT_EQ(0, progress_.stage);
  EXPECT_TRUE(fs::exists(dir_.Sub("db/stock.mdb/keep")));
}

TEST_F(InitDatabaseTest, RetryAfterAnInitFailureStartsAFreshRun) {
  fs::create_directories(dir_.Sub("db/stock.mdb"));
  std::ofstream(dir_.Sub("db/stock.mdb/keep")) << "x";
  InitRun run(&choices_);
  run.Run(progress_);
  ASSERT_NE("", progress_.Error());

  // The user clears the way and presses Next again: a resume with stage 0.
  fs::remove_all(dir_.Sub("db/stock.mdb"));
  progress_.ResetForResume();
  run.Run(progress_);
  EXPECT_EQ("", progress_.Error());
  EXPECT_EQ((std::vector<std::string>{"1:0", "2:0", "3:0", "4:0"}), run.starts);
  EXPECT_EQ(14u, Codes().size());
}

}  // namespace
