// tickora-setup-cli as a program: its exit statuses, what it prints and
// what it leaves in the folder, against the simulated market in this
// process.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "db/db_stock3.h"
#include "tests/cli/cli_process.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_server.h"

namespace fs = std::filesystem;

namespace {

TEST(CliProcessTest, BadOptionsTouchNothingAndExitWith2) {
  TempDir dir;
  const std::string folder = dir.Sub("db");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--kinds", "etf,bonds", folder}, {folder, "--gap-tolerance"}}) {
    CliProcess cli(dir, args);
    EXPECT_EQ(2, cli.Wait()) << args[0];
    const std::string err = cli.Err();
    EXPECT_EQ(0u, err.find("tickora-setup-cli: ")) << err;
    EXPECT_EQ(err.size() - 1, err.find('\n')) << "one line: " << err;
    EXPECT_FALSE(fs::exists(folder));
  }
  CliProcess help(dir, {"--help"});
  EXPECT_EQ(0, help.Wait());
  EXPECT_NE(std::string::npos, help.Out().find("--gap-tolerance N"));
}

// A small market dated today, so that the front end's own today matches it.
// The folder has a name in Japanese: it must be made under that name.
class CliMarketTest : public ::testing::Test {
 protected:
  static CSimMarketOptions MarketOptions() {
    CSimMarketOptions options;
    options.seed = 11;
    options.issueCount = 30;
    options.today = CDate::Today();
    options.firstYear = options.today.year - 1;
    return options;
  }
  CliMarketTest() : market_(MarketOptions()), server_(market_, CSimServerOptions()) {
    EXPECT_TRUE(server_.Start());
    for (const auto& [name, value] : server_.Environment()) {
      env_.push_back(std::make_unique<ScopedEnv>(name.c_str(), value.c_str()));
    }
    env_.push_back(std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", dir_.Sub("config").c_str()));
  }
  std::vector<std::string> Args() const {
    return {"--from-year", std::to_string(market_.Today().year - 1), "--kinds",
            "etf,reit,prime,standard,growth,other", "--margin", dir_.Sub("株価db")};
  }

  TempDir dir_;
  CSimMarket market_;
  CSimServer server_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
};

// The usage record is posted once at the end; its refusal fails nothing.
TEST_F(CliMarketTest, AFullRunSummarisesWhatItWroteAndPostsTheUsageRecord) {
  CSimFault refused;
  ASSERT_TRUE(ParseSimFault(std::string("status=404@log:") + CSimServer::kLogPath, refused));
  server_.AddFault(refused);
  // The charting application's data of the old database goes with a
  // finished run.
  const std::string data = dir_.Sub("config/Zelvane/Tickora/data");
  fs::create_directories(data + "/sub");
  std::ofstream(data + "/sub/cache.bin") << "old";
  CliProcess cli(dir_, Args());
  ASSERT_EQ(0, cli.Wait()) << cli.Err();
  EXPECT_FALSE(fs::exists(data));
  EXPECT_TRUE(fs::exists(dir_.Sub("config/Zelvane/Tickora")));
  int posts = 0;
  for (const CSimRequestRecord& r : server_.Requests()) posts += r.site == Site::kLog && r.status == 404;
  EXPECT_EQ(1, posts);
  const std::string out = cli.Out();
  EXPECT_NE(std::string::npos, out.find("セットアップが完了しました。")) << out;
  EXPECT_NE(std::string::npos, out.find("quick2.dat、quickmg2.dat")) << out;
  EXPECT_TRUE(fs::exists(dir_.Sub("株価db/daily/quick2.dat")));
  EXPECT_TRUE(fs::exists(dir_.Sub("株価db/margin/quickmg2.dat")));
}

TEST_F(CliMarketTest, InterruptStopsAtTheNextIssueAndLeavesAUsableDatabase) {
  // From the pages, each answered late, so that the run is still going.
  CSimFault slow;
  slow.kind = CSimFault::Kind::kDelay;
  slow.site = Site::kFinance;
  slow.path = "/";
  slow.prefix = true;
  slow.delayMs = 20;
  server_.AddFault(slow);
  std::vector<std::string> args = Args();
  args.insert(args.begin(), "--no-archive");
  const std::string data = dir_.Sub("config/Zelvane/Tickora/data");
  fs::create_directories(data);
  CliProcess cli(dir_, args);
  // Interrupted once the first chart files are there.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto has_chart = [this] {
    std::error_code ec;
    return fs::is_directory(dir_.Sub("株価db/daily"), ec) && !fs::is_empty(dir_.Sub("株価db/daily"), ec);
  };
  while (std::chrono::steady_clock::now() < give_up && !has_chart()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  cli.Signal(SIGINT);
  ASSERT_EQ(130, cli.Wait()) << cli.Err();
  EXPECT_NE(std::string::npos, cli.Err().find("(3) 株価データのダウンロード の ")) << cli.Err();
  EXPECT_NE(std::string::npos, cli.Err().find("で中断しました。")) << cli.Err();
  EXPECT_FALSE(fs::exists(dir_.Sub("株価db/daily/quick2.dat")));
  EXPECT_TRUE(fs::exists(data));  // kept until a run finishes
  CDBStock3 db;
  ASSERT_TRUE(db.Open(dir_.Sub("株価db/stock.mdb")));
  std::vector<std::string> codes;
  EXPECT_TRUE(db.GetCodesFrom(codes, ""));
  EXPECT_LT(14u, codes.size());
}

}  // namespace
