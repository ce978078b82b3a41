// Updates: a setup at one day followed by an update at a later one leaves
// the folder a setup at the later day leaves. First against a scripted
// market whose answers end on the run's day, then against the simulated
// market moving in time, through the real archive client and page
// readers; there the issues delisted in between are the exception, which
// the updated folder keeps as they were. In page mode the portal's
// histories and the margin pages reach back a fixed span from their day:
// the updated files then hold the fresh ones' records after older ones
// that a setup at the later day can no longer have.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "setup/resume_file.h"
#include "setup/setup_record.h"
#include "setup/setup_run.h"
#include "support/cp932.h"
#include "tests/common/database_folder.h"
#include "tests/common/scoped_env.h"
#include "tests/common/scripted_market.h"
#include "tests/common/sim_market_fixture.h"
#include "tests/common/temp_dir.h"
#include "tools/market-sim/sim_server.h"

namespace {

const CDate kFirst(2023, 12, 1);

// Four stocks traded on every trading day from 1 December to 29 March but
// some (1305 not on 7 and 8 February, 130A not from 26 February: halted),
// 7203 sent adjusted for its 1:2 split of 1 February once `asOf` is past
// it (announced on 15 January), weekly margin balances for two of them.
void Fill(ScriptedMarket& market, const CDate& asOf) {
  const char* codes[] = {"1301", "1305", "130A", "7203"};
  market.pages = {{codes, codes + 4}};
  market.existing = {codes, codes + 4};
  market.batch = 4;
  double base = 100;
  for (const char* code : codes) {
    market.brands[code].kind = kKindStock;
    market.brands[code].market = "東証プライム";
    market.brands[code].name = code;
    for (CDate day = kFirst; day.ToNumber() <= 20240329; day = day.AddDays(1)) {
      const std::uint32_t n = day.ToNumber();
      if (!day.IsBusinessDay() || (code[3] == '5' && (n == 20240207 || n == 20240208)) ||
          (code[3] == 'A' && n >= 20240226)) {
        continue;
      }
      CDayRecord bar;
      bar.SetDateNumber(n);
      bar.open = bar.close = base += 1;
      bar.high = base + 3;
      bar.low = base - 3;
      bar.volume = 500;
      if (code[0] == '7' && n < 20240201 && asOf.ToNumber() >= 20240201) {
        bar.open /= 2, bar.high /= 2, bar.low /= 2, bar.close /= 2, bar.volume *= 2;
      }
      market.prices[code].push_back(bar);
    }
  }
  market.adjusted = {"7203"};
  // Announced in January: an update across it must fetch it.
  if (asOf.ToNumber() >= 20240115) market.divides["7203"] = {{CDate(2024, 2, 1), 2.0}};
  for (const char* code : {"1301", "7203"}) {
    for (CDate friday(2023, 12, 1); friday.ToNumber() <= 20240329; friday = friday.AddDays(7)) {
      market.margins[code].push_back({friday, 4000.0 + friday.day, 600.0 + friday.month});
    }
  }
  market.wholeMargins = {"7203"};  // as the pages give them: every week at every call
}

class UpdateTest : public ::testing::Test {
 protected:
  UpdateTest() : config_("XDG_CONFIG_HOME", dir_.Sub("config").c_str()) {}

  // A run into `folder` at 16:00 on `day`, a setup or an update; with a
  // record, the market stops (as a cancel would) at its question `stop`.
  int Run(const std::string& folder, const CDate& day, bool update, const std::string& stop = "",
          bool resume = false) {
    CRunChoices& choices = choices_[folder];
    choices.databaseFolder = folder;
    auto market = std::make_unique<ScriptedMarket>();
    Fill(*market, day);
    market->observed = &progress_;
    market->stopped = {stop};
    const ScriptedMarket& asked = *market;
    CSetupRun run(&choices, std::move(market));
    run.SetListPagePause(0);
    run.KeepPositionFile(true);
    if (resume) {
      CResumePosition position;
      EXPECT_EQ(ResumeFileResult::kOk, ReadResumeFile(ResumeFilePath(folder), position));
      run.ContinueFrom(position);
      progress_.stage = position.stage;
      progress_.resumeIndex = position.resumeIndex;
      progress_.ResetForResume();
    } else {
      run.SetPeriod(kFirst, CLocalTime{day, 16, 0});
      run.SetUpdate(update);
      progress_.ResetForFreshRun();
    }
    run.Run(progress_);
    EXPECT_EQ("", progress_.Error());
    calls_ = asked.calls;
    return progress_.stage;
  }

  TempDir dir_;
  ScopedEnv config_;
  std::map<std::string, CRunChoices> choices_;
  WorkerProgress progress_;
  std::map<std::string, int> calls_;  // the last run's questions
};

// For a trading day, a week across a holiday (23 February) and the halt of
// 130A, and a quarter across 7203's split: the updated folder is the one
// a setup at the later day makes, and the chart files only grew.
TEST_F(UpdateTest, ASetupAndAnUpdateEqualASetupAtTheLaterDay) {
  const struct {
    CDate day, later;
    int asked;  // history questions of the update for an issue: a month each
  } cases[] = {{CDate(2024, 2, 14), CDate(2024, 2, 15), 1},
               {CDate(2024, 2, 21), CDate(2024, 2, 28), 1},
               {CDate(2023, 12, 29), CDate(2024, 3, 29), 4}};
  for (const auto& [day, later, asked] : cases) {
    const std::string name = std::to_string(day.ToNumber()) + "-" + std::to_string(later.ToNumber());
    SCOPED_TRACE(name);
    const std::string updated = dir_.Sub("updated" + name), fresh = dir_.Sub("fresh" + name);
    ASSERT_EQ(kStageFinished, Run(updated, day, false));
    const std::string chart = updated + "/daily/1301.dat";
    const std::string before = FileBytes(chart);
    struct stat file {};
    ASSERT_EQ(0, stat(chart.c_str(), &file));
    ASSERT_EQ(kStageFinished, Run(updated, later, true));
    EXPECT_EQ(asked, calls_["price:1301"]);
    EXPECT_EQ(asked, calls_["margin:1301"]);
    ASSERT_EQ(kStageFinished, Run(fresh, later, false));
    EXPECT_EQ("", FolderDifferences(updated, fresh));
    // Appended in place: the same file, its old bytes first.
    struct stat grown {};
    ASSERT_EQ(0, stat(chart.c_str(), &grown));
    EXPECT_EQ(file.st_ino, grown.st_ino);
    EXPECT_EQ(0u, FileBytes(chart).rfind(before, 0));
    CSetupRecord record;
    ASSERT_EQ(SetupRecordResult::kOk, ReadSetupRecord(SetupRecordPath(updated), record));
    EXPECT_EQ(later, record.reading.date);
  }
}

// An update stopped in its price and its margin stage, with the file it
// was appending to cut inside a record (as a kill during the write leaves
// it), ends after a resume in the folder of an undisturbed update.
TEST_F(UpdateTest, AnUpdateStoppedMidAppendAndResumedEqualsAnUndisturbedOne) {
  const CDate day(2024, 2, 14), later(2024, 3, 29);
  const std::string want = dir_.Sub("want");
  ASSERT_EQ(kStageFinished, Run(want, day, false));
  ASSERT_EQ(kStageFinished, Run(want, later, true));
  for (const char* stop : {"price:130A#1", "margin:7203#1"}) {
    SCOPED_TRACE(stop);
    const std::string folder = dir_.Sub(std::string("stopped-") + stop[0]);
    ASSERT_EQ(kStageFinished, Run(folder, day, false));
    EXPECT_NE(kStageFinished, Run(folder, later, true, stop));
    const std::string file = folder + (stop[0] == 'p' ? "/daily/130A.dat" : "/margin/mg7203.dat");
    std::ofstream(file, std::ios::binary | std::ios::app) << "cut";
    EXPECT_EQ(kStageFinished, Run(folder, later, true, "", true));
    EXPECT_EQ("", FolderDifferences(folder, want));
  }
}

const CDate kSimFirst(2024, 1, 1);

CSimMarketOptions MarketOn(const CDate& today) {
  return {.seed = 17, .issueCount = 30, .firstYear = 2024, .today = today,
          .horizon = CDate(2025, 12, 31)};
}

class UpdateSimTest : public SimMarketFixture {
 protected:
  void SetUp() override {}  // each run serves the market of its own day

  // A setup or an update into `folder` at 18:00 on `today`, against the
  // market of that day.
  void Run(const std::string& folder, const CDate& today, bool update, bool archive) {
    const CSimMarket market(MarketOn(today));
    Serve(market);
    CRunChoices choices;
    choices.databaseFolder = folder;
    choices.useArchive = archive;
    CSetupRun run(&choices);
    run.SetListPagePause(0);
    run.SetPeriod(kSimFirst, CLocalTime{today, 18, 0});
    run.SetUpdate(update);
    WorkerProgress progress;
    progress.ResetForFreshRun();
    run.Run(progress);
    EXPECT_EQ("", Utf8FromCp932(progress.Error()));
    EXPECT_EQ(kStageFinished, progress.stage);
    server_.reset();  // before the market it serves goes
  }

  ScopedEnv config_{"XDG_CONFIG_HOME", tmp_.Sub("config").c_str()};
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
    const std::string updated = tmp_.Sub("updated" + name), fresh = tmp_.Sub("fresh" + name);
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
