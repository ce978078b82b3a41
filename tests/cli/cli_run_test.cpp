// tickora-setup-cli as a program against the simulated market in this
// process: a full run, runs killed at points spread over the four stages and
// resumed with --resume in a new process, which end in the same folder as an
// undisturbed run, and the refusals of bad options and of a position file
// that does not fit.

#include <filesystem>
#include <fstream>
#include <regex>

#include "db/db_stock3.h"
#include "tests/common/cli_market.h"
#include "tests/common/database_folder.h"

namespace fs = std::filesystem;

namespace {

// The runs of one test and the kill loop they share. Page mode reads every
// issue through a page answered a little late, so each stage lasts long
// enough to be killed in; archive mode answers each issue from files held
// locally, so its market is larger instead.
class CliRunTest : public CliMarketTest {
 protected:
  explicit CliRunTest(std::int32_t issues = 24, bool archive = false)
      : CliMarketTest(23, issues), archive_(archive) {}
  void SetUp() override {
    CliMarketTest::SetUp();
    if (!archive_) Faults({"delay=4@/*"});
  }
  std::vector<std::string> Args(const std::string& folder) const {
    return CliMarketTest::Args(dir_.Sub(folder), archive_);
  }

  // Runs into "killed" and kills the run once its position reaches each of
  // `kills` (stage, issue) in turn, the later kills in resumed runs; then a
  // last resume finishes, and the folder must equal an undisturbed run's.
  void KillResumeAndCompare(const std::vector<std::pair<std::int32_t, std::int32_t>>& kills) {
    CliProcess reference(dir_, Args("ref"), dir_.Sub("ref-err.txt"));
    const std::string position = ResumeFilePath(dir_.Sub("killed"));
    const std::vector<std::string> resume = Resume(dir_.Sub("killed"));
    for (const auto& [stage, index] : kills) {
      CResumePosition at;
      std::string err;
      ASSERT_EQ(128 + SIGKILL, KillAt(fs::exists(position) ? resume : Args("killed"),
                                      dir_.Sub("killed"), stage, index, &at, &err))
          << "stage " << stage << ": " << err;
      if (stage == 3 && index == 1) {
        // A position that does not fit the folder is refused in one line
        // before anything is touched: an issue list other than the one the
        // database gives, an index past its end.
        const std::pair<void (*)(CResumePosition&), const char*> tampered[] = {
            {[](CResumePosition& p) { ++p.issueHash; }, "issue list differs"},
            {[](CResumePosition& p) { p.resumeIndex = p.issueCount; }, "past the end"},
        };
        for (const auto& [change, message] : tampered) {
          CResumePosition other = at;
          change(other);
          ASSERT_TRUE(WriteResumeFile(position, other));
          CliProcess refused(dir_, resume);
          EXPECT_EQ(2, refused.Wait()) << message;
          const std::string err = refused.Err();
          EXPECT_NE(std::string::npos, err.find(message)) << err;
          EXPECT_EQ(err.size() - 1, err.find('\n')) << "one line: " << err;
        }
        ASSERT_TRUE(WriteResumeFile(position, at));
      }
      if (stage == 4 && index == 29) {
        // A position file emptied (a power cut between write and rename):
        // --resume starts the setup again from the beginning, and the
        // folder still ends as an undisturbed run's.
        std::ofstream(position, std::ios::trunc).flush();
        CliProcess plain(dir_, Args("killed"));
        EXPECT_EQ(2, plain.Wait());
        EXPECT_NE(std::string::npos, plain.Err().find("damaged")) << plain.Err();
        std::vector<std::string> args = Args("killed");
        args.insert(args.begin(), "--resume");
        EXPECT_TRUE(Finishes(args));
        break;
      }
    }
    if (fs::exists(position)) {
      ASSERT_TRUE(Finishes(resume));
    }
    ASSERT_EQ(0, reference.Wait()) << reference.Err();
    EXPECT_FALSE(fs::exists(position));

    const auto expected_files = FolderFiles(dir_.Sub("ref"));
    EXPECT_TRUE(expected_files.count("daily/quick2.dat"));
    EXPECT_TRUE(expected_files.count("margin/quickmg2.dat"));
    EXPECT_EQ(4u, ReadTables(dir_.Sub("ref/stock.mdb")).size());
    EXPECT_EQ("", FolderDifferences(dir_.Sub("killed"), dir_.Sub("ref")));
    // An update on the same market finds nothing new (in archive mode too,
    // where it fetches the year files ahead).
    ASSERT_TRUE(Finishes({"--update", "--quiet", dir_.Sub("ref")}));
    EXPECT_EQ("", FolderDifferences(dir_.Sub("killed"), dir_.Sub("ref")));
  }

  const bool archive_;
};

// A run into a folder with a name in Japanese (it must be made under that
// name) summarises what it wrote, removes the charting application's data
// of the old database, and posts the usage record once at the end, whose
// refusal fails nothing. Then an update killed in each of its stages in
// turn and resumed (by new processes, which check the position against the
// folder) ends in the folder an undisturbed update leaves, which on the
// same market finds nothing new. The folder holds a stock the market no
// longer lists, which the update leaves alone. An update is refused for a
// record of another version (its other refusals are in
// APositionThatDoesNotFitIsRefused).
TEST_F(CliRunTest, AnUpdateKilledAndResumedEqualsAnUndisturbedOne) {
  server_->ClearFaults();  // a request meets the first fault that matches it
  Faults({std::string("status=404@log:") + CSimServer::kLogPath, "delay=4@/*"});
  const std::string data = dir_.Sub("config/Zelvane/Tickora/data");
  fs::create_directories(data + "/sub");
  std::ofstream(data + "/sub/cache.bin") << "old";
  const std::string ref = dir_.Sub("株価db");
  CliProcess setup(dir_, Args("株価db"), dir_.Sub("ref-err.txt"));
  ASSERT_EQ(0, setup.Wait()) << setup.Err();
  EXPECT_FALSE(fs::exists(data));
  EXPECT_TRUE(fs::exists(dir_.Sub("config/Zelvane/Tickora")));
  int posts = 0;
  for (const CSimRequestRecord& r : server_->Requests()) {
    posts += r.site == Site::kLog && r.status == 404;
  }
  EXPECT_EQ(1, posts);
  EXPECT_NE(std::string::npos, setup.Out().find("セットアップが完了しました。")) << setup.Out();
  EXPECT_NE(std::string::npos, setup.Out().find("quick2.dat、quickmg2.dat")) << setup.Out();

  CBrandRecord gone;
  gone.code = "1301";
  while (market_.Find(gone.code) != nullptr) gone.code = std::to_string(std::stoi(gone.code) + 1);
  gone.kind = kKindStock;
  gone.market = "東証プライム";
  CDBStock3 db;
  ASSERT_TRUE(db.Open(ref + "/stock.mdb") && db.WriteBrand(gone));
  db.Close();
  const std::string killed = dir_.Sub("killed");
  fs::copy(ref, killed, fs::copy_options::recursive);
  fs::copy(ref, dir_.Sub("before"), fs::copy_options::recursive);
  for (const std::int32_t stage : {kStageIssues, kStageSplits, kStagePrices, kStageMargin}) {
    std::string err;
    const bool interrupted = fs::exists(ResumeFilePath(killed));
    EXPECT_EQ(128 + SIGKILL,
              KillAt(interrupted ? Resume(killed)
                                 : std::vector<std::string>{"--update", "--quiet", killed},
                     killed, stage, 3, nullptr, &err))
        << err;
  }
  ASSERT_TRUE(Finishes(Resume(killed)));
  CliProcess undisturbed(dir_, {"--update", "--quiet", ref});
  ASSERT_EQ(0, undisturbed.Wait()) << undisturbed.Err();
  EXPECT_NE(std::string::npos, undisturbed.Out().find("更新が完了しました。")) << undisturbed.Out();
  EXPECT_EQ("", FolderDifferences(killed, ref));
  EXPECT_EQ("", FolderDifferences(ref, dir_.Sub("before")));

  const std::string record = FileBytes(ref + "/setup-record.ini");
  std::ofstream(ref + "/setup-record.ini", std::ios::trunc)
      << std::regex_replace(record, std::regex("version=1"), "version=9");
  CliProcess other(dir_, {"--update", ref});
  EXPECT_EQ(2, other.Wait());
  EXPECT_NE(std::string::npos, other.Err().find("another version")) << other.Err();
}

TEST_F(CliRunTest, KilledInEveryStageAndResumedEqualsAnUndisturbedRun) {
  // Issues 0 to 13 are the built-in ones: the kills from 14 on land in the
  // listed issues, which have splits and margin balances to lose.
  KillResumeAndCompare({{1, 1}, {1, 3}, {2, 16}, {3, 1}, {3, 20}, {4, 17}, {4, 29}});
}

// The archive gives each issue in well under a millisecond, so the market
// has enough issues for every stage to last a few hundred of them.
class CliArchiveRunTest : public CliRunTest {
 protected:
  CliArchiveRunTest() : CliRunTest(600, true) {}
};

TEST_F(CliArchiveRunTest, KilledInEveryStageAndResumedEqualsAnUndisturbedRun) {
  KillResumeAndCompare({{1, 1}, {1, 200}, {2, 2}, {2, 300}, {3, 1}, {3, 300}, {4, 2}, {4, 300}});
}

// What bad options, a folder holding a position and an update of a folder
// no finished setup left are refused with, each time in one line and before
// the run touches anything.
TEST_F(CliRunTest, APositionThatDoesNotFitIsRefused) {
  const std::string folder = dir_.Sub("db");
  fs::create_directory(folder);
  const std::string path = ResumeFilePath(folder);
  CResumePosition position{.stage = 3, .resumeIndex = 5, .choices = {},
                           .firstDate = CDate(2020, 1, 1), .reading = {.date = CDate(2024, 3, 15)}};
  position.choices.margin = false;
  ASSERT_TRUE(WriteResumeFile(path, position));
  const std::string good = FileBytes(path);
  std::string other_version = good;
  other_version.replace(other_version.find("version=2"), 9, "version=3");
  std::string margin_stage = good;  // a stage the position's own choices leave out
  margin_stage.replace(margin_stage.find("stage=3"), 7, "stage=4");

  struct Case {
    std::string file;
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {good, {folder}, "continue it with --resume"},
      {good, {"--update", folder}, "continue it with --resume"},
      {good, {"--resume", "--margin", folder}, "--margin differs"},
      {good, {"--resume", "--from-year", "2021", folder}, "--from-year differs"},
      {good, {"--resume", "--kinds", "prime", folder}, "--kinds differs"},
      {other_version, {"--resume", folder}, "another version"},
      {good.substr(0, good.size() / 2), {folder}, "damaged"},
      {margin_stage, {folder}, "damaged"},
      {"", {"--resume", dir_.Sub("empty")}, "no interrupted setup"},
      {"", {"--update", dir_.Sub("empty")}, "holds no finished setup to update"},
      {"", {"--update", "--margin", folder}, "--update takes the choices"},
      {"", {folder, "--gap-tolerance"}, "--gap-tolerance needs a value"},
  };
  fs::create_directory(dir_.Sub("empty"));
  for (const Case& c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.file;
    CliProcess cli(dir_, c.args);
    EXPECT_EQ(2, cli.Wait()) << c.message;
    const std::string err = cli.Err();
    EXPECT_NE(std::string::npos, err.find(c.message)) << err;
    EXPECT_EQ(0u, err.find("tickora-setup-cli: ")) << err;
    EXPECT_EQ(err.size() - 1, err.find('\n')) << "one line: " << err;
    EXPECT_FALSE(fs::exists(folder + "/stock.mdb"));
  }
  CliProcess help(dir_, {"--help"});
  EXPECT_EQ(0, help.Wait());
  EXPECT_NE(std::string::npos, help.Out().find("--gap-tolerance N"));
}

}  // namespace
