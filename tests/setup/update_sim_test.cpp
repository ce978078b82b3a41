// Updates against the simulated market moving in time, through the real
// archive client and page readers: a setup at one day followed by an
// update at a later one leaves the folder a setup at the later day leaves,
// but for the issues delisted in between, which the updated folder keeps
// as they were. In page mode the portal's histories and the margin pages
// reach back a fixed span from their day: the updated files then hold the
// fresh ones' records after older ones that a setup at the later day can
// no longer have.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "setup/setup_run.h"
#include "support/cp932.h"
#include "tests/common/database_folder.h"
#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tools/market-sim/sim_server.h"

namespace {

const CDate kFirst(2024, 1, 1);

CSimMarketOptions MarketOn(const CDate& today) {
  return {.seed = 17, .issueCount = 30, .firstYear = 2024, .today = today,
          .horizon = CDate(2025, 12, 31)};
}

class UpdateSimTest : public ::testing::Test {
 protected:
  UpdateSimTest() : config_("XDG_CONFIG_HOME", dir_.Sub("config").c_str()) {}

  // A setup or an update into `folder` at 18:00 on `today`, against the
  // market of that day.
  void Run(const std::string& folder, const CDate& today, bool update, bool archive) {
    const CSimMarket market(MarketOn(today));
    CSimServer server(market, CSimServerOptions());
    ASSERT_TRUE(server.Start());
    std::vector<std::unique_ptr<ScopedEnv>> env;
    for (const auto& [name, value] : server.Environment()) {
      env.push_back(std::make_unique<ScopedEnv>(name.c_str(), value.c_str()));
    }
    CRunChoices choices;
    choices.databaseFolder = folder;
    choices.useArchive = archive;
    CSetupRun run(&choices);
    run.SetListPagePause(0);
    run.SetPeriod(kFirst, CLocalTime{today, 18, 0});
    run.SetUpdate(update);
    WorkerProgress progress;
    progress.ResetForFreshRun();
    run.Run(progress);
    EXPECT_EQ("", Utf8FromCp932(progress.Error()));
    EXPECT_EQ(kStageFinished, progress.stage);
  }

  TempDir dir_;
  ScopedEnv config_;
};

// A trading day, a week across a holiday (15 July), and a quarter with
// splits, listings and delistings in archive mode; a trading day in page
// mode.
TEST_F(UpdateSimTest, ASetupAndAnUpdateEqualASetupAtTheLaterDayButKeepTheDelisted) {
  const struct {
    CDate day, later;
    bool archive;
  } cases[] = {{CDate(2024, 6, 13), CDate(2024, 6, 14), true},
               {CDate(2024, 7, 12), CDate(2024, 7, 19), true},
               {CDate(2024, 3, 29), CDate(2024, 6, 28), true},
               {CDate(2024, 6, 13), CDate(2024, 6, 14), false}};
  int delistings = 0;
  for (const auto& [day, later, archive] : cases) {
    const std::string name = std::to_string(later.ToNumber()) + (archive ? "a" : "p");
    SCOPED_TRACE(name);
    const std::string updated = dir_.Sub("updated" + name), fresh = dir_.Sub("fresh" + name);
    Run(updated, day, false, archive);
    Run(updated, later, true, archive);
    Run(fresh, later, false, archive);
    // The issues listed on the earlier day and no longer on the later.
    const CSimMarket before(MarketOn(day)), after(MarketOn(later));
    std::set<std::string> gone;
    for (size_t i = 0; i < before.Issues().size(); ++i) {
      const CSimIssue& issue = before.Issues()[i];
      if (!issue.builtIn && issue.IsListedOn(before.LastDate()) &&
          !after.Issues()[i].IsListedOn(after.LastDate())) {
        gone.insert(issue.record.code);
      }
    }
    delistings += static_cast<int>(gone.size());
    // Whether a file's name or a table's row names none of those issues.
    const auto kept = [&gone](const std::string& text) {
      return std::none_of(gone.begin(), gone.end(), [&text](const std::string& code) {
        return text.find(code) != std::string::npos;
      });
    };
    for (const std::string& code : gone) {
      EXPECT_TRUE(std::filesystem::exists(updated + "/daily/" + code + ".dat")) << code;
    }
    const std::string tables[] = {Utf8FromCp932("銘柄"), Utf8FromCp932("分割")};
    if (archive) {
      EXPECT_EQ("", FolderDifferences(updated, fresh, [&](const std::string& name, bool table) {
                  return table ? name != tables[0] && name != tables[1] : kept(name);
                }));
    } else {
      const auto files = FolderFiles(updated);
      for (const auto& [file, bytes] : FolderFiles(fresh)) {
        if (file.find("quick") != std::string::npos || !files.count(file)) continue;
        EXPECT_TRUE(files.at(file).ends_with(bytes)) << file;
      }
    }
    auto got = ReadTables(updated + "/stock.mdb"), want = ReadTables(fresh + "/stock.mdb");
    for (const std::string& table : tables) {
      std::erase_if(got[table], [&kept](const std::string& row) { return !kept(row); });
      EXPECT_EQ(want[table], got[table]) << table;
    }
  }
  EXPECT_GT(delistings, 0);
}

}  // namespace
