// tickora-setup-cli against servers that send what broken or hostile ones
// send: the run finishes with only valid data in the folder, or stops with
// its cause, and its memory stays within 256 MiB whatever was sent.

#include <filesystem>
#include <map>

#include "tests/common/cli_market.h"
#include "tests/common/database_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr long kMemoryBoundKb = 256 * 1024;

class CliHostileTest : public CliMarketTest {
 protected:
  CliHostileTest() : CliMarketTest(41, 40) {}
  void SetUp() override {
    CliMarketTest::SetUp();
    Env("TMPDIR", dir_.path().string());
  }
};

const std::string kArchive = std::string("archive:") + "/market/archive/v2/";

// Records no file may hold in every year file (non-calendar days, a far
// future day, repeats, NaN, infinity, negative values) and list rows whose
// codes name the folder's own files: all of it is refused and counted, and
// the folder is the undisturbed run's, byte for byte.
TEST_F(CliHostileTest, InvalidRecordsAndCodesNeverReachTheFolder) {
  CliProcess ref(dir_, Args(dir_.Sub("ref")));
  ASSERT_EQ(0, ref.Wait()) << ref.Err();
  Faults({"bad-records@" + kArchive + "price*", "bad-records@" + kArchive + "margin*",
          "hostile-codes@stock-list:/*"});
  CliProcess got(dir_, Args(dir_.Sub("got")));
  ASSERT_EQ(0, got.Wait()) << got.Err();
  EXPECT_NE(std::string::npos, got.Out().find("不正なコードの銘柄 3 件を除外しました"))
      << got.Out();
  EXPECT_NE(std::string::npos, got.Out().find("不正なデータ ")) << got.Out();
  EXPECT_EQ("", FolderDifferences(dir_.Sub("got"), dir_.Sub("ref")));
  EXPECT_LT(got.PeakKb(), kMemoryBoundKb);
}

// A gzip bomb, a body without end and a year whose codes alternate record
// by record: each file counts as broken once (the pages answer for it) and
// the run finishes within its memory bound, with nothing of them left in
// the temporary folder.
TEST_F(CliHostileTest, BombsEndlessBodiesAndAlternatingCodesStayWithinBounds) {
  const int year = static_cast<int>(market_.Today().year) - 1;
  Faults({"gzip-bomb=536870912@" + kArchive + "price-" + std::to_string(year) + ".bin",
          "endless@" + kArchive + "priceyear-*",
          "alternating-codes@" + kArchive + "margin-" + std::to_string(year) + ".bin"});
  CliProcess got(dir_, Args(dir_.Sub("got")));
  EXPECT_EQ(0, got.Wait()) << got.Err();
  EXPECT_LT(got.PeakKb(), kMemoryBoundKb);
  // Every archive file is asked for once: a refused one is never asked
  // again, however many issues it would have answered.
  std::map<std::string, int> asked;
  for (const CSimRequestRecord& r : server_.Requests()) asked[r.path] += r.site == Site::kArchive;
  for (const auto& [path, count] : asked) EXPECT_LE(count, 1) << path;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find("tickora-archive-"));
  }
}

// A quote page whose code carries terminal escapes: the issue is left out
// and counted, and not one escape byte reaches the user's terminal.
TEST_F(CliHostileTest, ACodeWithTerminalEscapesNeverReachesTheTerminal) {
  Faults({"hostile-codes@broker-mobile:/*"});
  CliProcess cli(dir_, {"--no-archive", "--kinds", "prime", dir_.Sub("got")});
  ASSERT_EQ(0, cli.Wait()) << cli.Err();
  EXPECT_NE(std::string::npos, cli.Out().find("不正なコードの銘柄 ")) << cli.Out();
  EXPECT_EQ(std::string::npos, (cli.Out() + cli.Err()).find('\x1b'));
  EXPECT_EQ(std::string::npos, (cli.Out() + cli.Err()).find('\x07'));
  EXPECT_LT(cli.PeakKb(), kMemoryBoundKb);
}

// A page without end in page mode: the exchange stops at the page cap, the
// run stops with its cause, within its memory bound.
TEST_F(CliHostileTest, APageWithoutEndStopsTheRunWithItsCause) {
  Faults({"endless@finance:/quote/*"});
  CliProcess got(dir_, Args(dir_.Sub("got"), false));
  EXPECT_EQ(1, got.Wait());
  EXPECT_NE(std::string::npos, got.Err().find("サーバーの応答が大きすぎるので受信を中止しました"))
      << got.Err();
  EXPECT_LT(got.PeakKb(), kMemoryBoundKb);
}

}  // namespace
