// Resuming tickora-setup-cli in a new process: runs killed at points spread
// over the four stages and resumed with --resume end in the same folder as
// an undisturbed run, and the position file is refused when it does not
// fit.

#include <signal.h>
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "setup/resume_file.h"
#include "tests/cli/cli_process.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_server.h"

namespace fs = std::filesystem;

namespace {

int CollectRow(void* rows, int count, char** values, char**) {
  std::string row;
  for (int i = 0; i < count; ++i) row += std::string(values[i] ? values[i] : "<null>") + "|";
  static_cast<std::vector<std::string>*>(rows)->push_back(row);
  return 0;
}

// Every row of every table, sorted, by table name.
std::map<std::string, std::vector<std::string>> TableRows(const std::string& path) {
  std::map<std::string, std::vector<std::string>> tables;
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::vector<std::string> names;  // each as a row: "name|"
  sqlite3_exec(db, "SELECT name FROM sqlite_master WHERE type='table'", CollectRow, &names,
               nullptr);
  for (std::string name : names) {
    name.pop_back();
    std::vector<std::string>& rows = tables[name];
    sqlite3_exec(db, ("SELECT * FROM \"" + name + "\"").c_str(), CollectRow, &rows, nullptr);
    std::sort(rows.begin(), rows.end());
  }
  sqlite3_close(db);
  return tables;
}

// The files of a folder by relative path, with their bytes; the database
// files are compared by their rows instead.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_regular_file() && name.rfind("stock.mdb", 0) != 0) {
      files[name] = ReadFile(entry.path().string());
    }
  }
  return files;
}

class CliResumeTest : public ::testing::Test {
 protected:
  static CSimMarketOptions MarketOptions() {
    CSimMarketOptions options;
    options.seed = 23;
    options.issueCount = 24;
    options.today = CDate::Today();
    options.firstYear = options.today.year - 1;
    return options;
  }
  CliResumeTest() : market_(MarketOptions()), server_(market_, CSimServerOptions()) {
    // Every page answered a little late, so that each stage lasts long
    // enough to be killed in.
    CSimFault slow;
    slow.kind = CSimFault::Kind::kDelay;
    slow.path = "/";
    slow.prefix = true;
    slow.delayMs = 4;
    server_.AddFault(slow);
    EXPECT_TRUE(server_.Start());
    for (const auto& [name, value] : server_.Environment()) {
      env_.push_back(std::make_unique<ScopedEnv>(name.c_str(), value.c_str()));
    }
    env_.push_back(std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", dir_.Sub("config").c_str()));
  }
  std::vector<std::string> Args(const std::string& folder) const {
    return {"--no-archive", "--from-year", std::to_string(market_.Today().year - 1),
            "--kinds", "etf,reit,prime,standard,growth,other", "--margin", "--quiet",
            dir_.Sub(folder)};
  }

  TempDir dir_;
  CSimMarket market_;
  CSimServer server_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
};

TEST_F(CliResumeTest, KilledInEveryStageAndResumedEqualsAnUndisturbedRun) {
  CliProcess reference(dir_, Args("ref"), dir_.Sub("ref-err.txt"));
  const std::string position = ResumeFilePath(dir_.Sub("killed"));
  // Each kill waits for the position to reach a stage and an issue past its
  // first; the later kills come from resumed runs.
  const std::vector<std::pair<std::int32_t, std::int32_t>> kills = {
      {1, 1}, {1, 3}, {2, 2}, {3, 1}, {3, 9}, {4, 2}, {4, 12}};
  const std::vector<std::string> resume = {"--resume", "--quiet", dir_.Sub("killed")};
  for (const auto& [stage, index] : kills) {
    CliProcess cli(dir_, fs::exists(position) ? resume : Args("killed"));
    CResumePosition at;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (cli.Wait(false) < 0 && std::chrono::steady_clock::now() < give_up) {
      if (ReadResumeFile(position, at) == ResumeFileResult::kOk &&
          (at.stage > stage || (at.stage == stage && at.resumeIndex >= index))) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    cli.Signal(SIGKILL);
    ASSERT_EQ(128 + SIGKILL, cli.Wait()) << "stage " << stage << ": " << cli.Err();
    EXPECT_EQ(stage, at.stage) << "killed too late to count for stage " << stage;
    if (stage == 3 && index == 1) {
      // A position whose issue list is not the one the database gives is
      // not continued on other issues.
      CResumePosition other = at;
      ++other.issueHash;
      ASSERT_TRUE(WriteResumeFile(position, other));
      CliProcess refused(dir_, resume);
      EXPECT_EQ(1, refused.Wait());
      EXPECT_NE(std::string::npos, refused.Err().find("銘柄リストが中断したときと異なる"))
          << refused.Err();
      ASSERT_TRUE(WriteResumeFile(position, at));
    }
  }
  CliProcess last(dir_, resume);
  ASSERT_EQ(0, last.Wait()) << last.Err();
  ASSERT_EQ(0, reference.Wait()) << reference.Err();
  EXPECT_FALSE(fs::exists(position));

  const auto expected_files = Files(dir_.Sub("ref"));
  const auto files = Files(dir_.Sub("killed"));
  ASSERT_EQ(expected_files.size(), files.size());
  for (const auto& [name, bytes] : expected_files) {
    EXPECT_TRUE(files.count(name) && bytes == files.at(name)) << name << " differs";
  }
  EXPECT_TRUE(expected_files.count("daily/quick2.dat"));
  EXPECT_TRUE(expected_files.count("margin/quickmg2.dat"));
  const auto expected_rows = TableRows(dir_.Sub("ref/stock.mdb"));
  EXPECT_EQ(4u, expected_rows.size());
  EXPECT_EQ(expected_rows, TableRows(dir_.Sub("killed/stock.mdb")));
}

// What a folder holding a position is refused with, each time before the
// run touches anything.
TEST_F(CliResumeTest, APositionThatDoesNotFitIsRefused) {
  const std::string folder = dir_.Sub("db");
  fs::create_directory(folder);
  const std::string path = ResumeFilePath(folder);
  CResumePosition position;
  position.stage = 3;
  position.resumeIndex = 5;
  position.choices.margin = false;
  position.firstDate = CDate(2020, 1, 1);
  position.today = CDate(2024, 3, 15);
  ASSERT_TRUE(WriteResumeFile(path, position));
  const std::string good = ReadFile(path);
  std::string other_version = good;
  other_version.replace(other_version.find("version=1"), 9, "version=2");

  struct Case {
    std::string file;
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {good, {folder}, "continue it with --resume"},
      {good, {"--resume", "--margin", folder}, "--margin differs"},
      {good, {"--resume", "--from-year", "2021", folder}, "--from-year differs"},
      {good, {"--resume", "--kinds", "prime", folder}, "--kinds differs"},
      {other_version, {"--resume", folder}, "another version"},
      {good.substr(0, good.size() / 2), {"--resume", folder}, "damaged"},
      {"", {"--resume", dir_.Sub("empty")}, "no interrupted setup"},
  };
  fs::create_directory(dir_.Sub("empty"));
  for (const Case& c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.file;
    CliProcess cli(dir_, c.args);
    EXPECT_EQ(2, cli.Wait()) << c.message;
    const std::string err = cli.Err();
    EXPECT_NE(std::string::npos, err.find(c.message)) << err;
    EXPECT_EQ(err.size() - 1, err.find('\n')) << "one line: " << err;
    EXPECT_FALSE(fs::exists(folder + "/stock.mdb"));
  }
}

}  // namespace
