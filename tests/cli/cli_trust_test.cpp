// A run that reports success has built a complete, well-formed folder, and
// one that cannot finish says why and can be continued: tickora-setup-cli
// against the simulated market in this process, its clock set by
// libfaketime from a file the test rewrites (frozen at the time written).

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/common/cli_market.h"
#include "tests/common/database_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr char kFaketime[] = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

// A Friday: before 15:00 its charts end the day before, after 15:40 the
// latest-price file is its own, after 15:50 the year's price file too.
const CDate kMarketDay(2026, 12, 4);

class CliTrustTest : public CliMarketTest {
 protected:
  CliTrustTest() : CliMarketTest(31, 300, kMarketDay, 2026) {}

  void SetUp() override {
    ASSERT_TRUE(fs::exists(kFaketime)) << "libfaketime is missing: run scripts/install-deps";
    CliMarketTest::SetUp();
    Env("LC_ALL", "C.UTF-8");  // the system's error texts in English
    Env("LD_PRELOAD", kFaketime);
    Env("FAKETIME_TIMESTAMP_FILE", dir_.Sub("clock"));
    Env("FAKETIME_NO_CACHE", "1");
    Env("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    // A sanitizer build wants its runtime first; libfaketime comes first.
    const char* asan = std::getenv("ASAN_OPTIONS");
    Env("ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0");
    SetClock("2026-12-04 14:00:00");
  }
  // The local time every later moment of the programs' clocks shows.
  void SetClock(const std::string& when) {
    const std::string temp = dir_.Sub("clock.new");
    std::ofstream(temp) << when << "\n";
    fs::rename(temp, dir_.Sub("clock"));
  }
  // An undisturbed run at the fixture's first clock reading.
  std::string Reference() {
    const std::string folder = dir_.Sub("ref");
    EXPECT_TRUE(Finishes(Args(folder)));
    return folder;
  }
  void ExpectSameFolder(const std::string& want, const std::string& got) {
    EXPECT_FALSE(fs::exists(ResumeFilePath(got)));
    EXPECT_GT(FolderFiles(want).size(), 300u);
    EXPECT_EQ("", FolderDifferences(got, want));
  }
};

// Killed at 14:00 in the price stage, three chart files lost; resumed at
// 16:00 (after both price cut-offs) and killed in the margin stage, the
// whole daily folder and a third of the margin files lost; then resumed the
// next morning. Every resume goes on with the reading of 14:00 and fetches
// again the files lost since the interruption (chart files of issues the
// price stage had finished, margin files of issues before the position), so
// the folder is the undisturbed 14:00 run's. A run whose clock passes 15:00
// in the price stage ends every chart on the day its first reading gave.
// The same reference serves the stopped run and the runs into a locked
// folder below.
TEST_F(CliTrustTest, OneClockReadingLostFilesFetchedAgainStopSignalsAndOneRunPerFolder) {
  const std::string ref = Reference();
  const std::string killed = dir_.Sub("killed");
  EXPECT_EQ(128 + SIGKILL, KillAt(Args(killed), killed, 3, 150));
  for (const char* code : {"1001", "1301", "1305"}) fs::remove(killed + "/daily/" + code + ".dat");
  SetClock("2026-12-04 16:00:00");
  EXPECT_EQ(128 + SIGKILL, KillAt(Resume(killed), killed, 4, 150));
  fs::remove_all(killed + "/daily");
  const std::vector<fs::path> margins(fs::directory_iterator(killed + "/margin"),
                                      fs::directory_iterator());
  ASSERT_GT(margins.size(), 20u);
  for (size_t i = 0; i < margins.size(); i += 3) fs::remove(margins[i]);
  fs::create_directory(killed + "/daily");
  SetClock("2026-12-05 09:00:00");
  ASSERT_TRUE(Finishes(Resume(killed)));
  ExpectSameFolder(ref, killed);

  SetClock("2026-12-04 14:59:00");
  const std::string crossing = dir_.Sub("crossing");
  std::string err;
  EXPECT_EQ(0, RunUntil(Args(crossing), crossing, 3, 5,
                        [&](CliProcess&, const CResumePosition&) {
                          SetClock("2026-12-04 15:30:00");
                        },
                        &err))
      << err;
  ExpectSameFolder(ref, crossing);

  // Ctrl-C is seen at the next issue, not at the next refresh of the
  // display, and leaves the charting application's data, which only a
  // finished run removes, and a database that a resume finishes.
  SetClock("2026-12-04 14:00:00");
  const std::string stopped = dir_.Sub("stopped");
  const std::string data = dir_.Sub("config/Zelvane/Tickora/data");
  fs::create_directories(data);
  std::int32_t signalled = -1;
  EXPECT_EQ(130, RunUntil(Args(stopped), stopped, 3, 50,
                          [&](CliProcess& cli, const CResumePosition& p) {
                            // The position read once the signal is pending: the
                            // run cannot go further than that before it sees it.
                            signalled = p.resumeIndex;
                            cli.Signal(SIGINT);
                            CResumePosition now;
                            if (ReadResumeFile(ResumeFilePath(stopped), now) ==
                                ResumeFileResult::kOk) {
                              signalled = now.resumeIndex;
                            }
                          },
                          &err))
      << err;
  CResumePosition at;
  ASSERT_EQ(ResumeFileResult::kOk, ReadResumeFile(ResumeFilePath(stopped), at));
  EXPECT_EQ(3, at.stage);
  // The handler sets the run's cancel flag itself, but a busy machine may
  // take a few milliseconds to run it, and a few issues pass. Left to
  // the display's 200 ms loop, the cancel comes 50 to 200 issues later.
  EXPECT_LE(at.resumeIndex, signalled + 20);
  EXPECT_NE(std::string::npos, err.find("--resume")) << err;
  EXPECT_NE(std::string::npos, err.find("(3) 株価データのダウンロード の ")) << err;
  EXPECT_NE(std::string::npos, err.find("で中断しました。")) << err;
  EXPECT_FALSE(fs::exists(stopped + "/daily/quick2.dat"));
  EXPECT_TRUE(fs::exists(data));
  EXPECT_TRUE(Finishes(Resume(stopped)));
  ExpectSameFolder(ref, stopped);

  // One run per folder: a second run started while the first is still
  // reading the issue list pages (before any position exists) is refused at
  // once, and so is the second of two resumes; the folder ends as an
  // undisturbed run's.
  Faults({"delay=300@stock-list:/*"});
  const std::string folder = dir_.Sub("db");
  CliProcess first(dir_, Args(folder), dir_.Sub("first-err.txt"));
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(folder + "/setup.lock") && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(fs::exists(ResumeFilePath(folder)));
  CliProcess second(dir_, Args(folder), dir_.Sub("second-err.txt"));
  EXPECT_EQ(2, second.Wait());
  EXPECT_NE(std::string::npos, second.Err().find("in use by another setup run")) << second.Err();
  EXPECT_EQ(0, first.Wait()) << first.Err();
  ExpectSameFolder(ref, folder);

  const std::string twice = dir_.Sub("twice");
  EXPECT_EQ(128 + SIGKILL, KillAt(Args(twice), twice, 3, 10));
  CliProcess a(dir_, Resume(twice), dir_.Sub("a-err.txt"));
  CliProcess b(dir_, Resume(twice), dir_.Sub("b-err.txt"));
  const int sa = a.Wait();
  const int sb = b.Wait();
  EXPECT_TRUE((sa == 0 && sb == 2) || (sa == 2 && sb == 0)) << sa << " " << sb;
  ExpectSameFolder(ref, twice);
}

// A full temporary folder or database folder: the run stops naming the
// system's cause and the path, never takes the archive for broken (which
// would fill the charts from the pages' shorter history), and a resume
// after space was made ends in the undisturbed run's folder. Each folder is
// a small tmpfs in a mount namespace of this test's own.
class CliLocalFaultTest : public CliTrustTest {
 protected:
  void SetUp() override {
    // Once per process: the namespace lasts as long as the test's process.
    static const bool private_mounts = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                                       mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE,
                                             nullptr) == 0;
    if (!private_mounts) GTEST_SKIP() << "needs root for a private mount namespace";
    CliTrustTest::SetUp();
  }
  void TearDown() override {
    for (const std::string& path : mounts_) umount2(path.c_str(), MNT_DETACH);
  }
  std::string SmallDisk(const std::string& name, const std::string& size) {
    const std::string path = dir_.Sub(name);
    fs::create_directory(path);
    EXPECT_EQ(0, mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()))
        << std::strerror(errno);
    mounts_.push_back(path);
    return path;
  }

  std::vector<std::string> mounts_;
};

TEST_F(CliLocalFaultTest, AFullFolderIsNamedAndAResumeAfterMoreSpaceFinishes) {
  const std::string ref = Reference();
  const std::string full = std::strerror(ENOSPC);
  const std::string temp = SmallDisk("tmp", "256k"), disk = SmallDisk("disk", "2m");
  // A full temporary folder, then a full database folder.
  for (const auto& [small, folder] : {std::pair{temp, dir_.Sub("db")}, {disk, disk + "/db"}}) {
    ScopedEnv tmpdir("TMPDIR", small == temp ? temp.c_str() : std::getenv("TMPDIR"));
    CliProcess cli(dir_, Args(folder));
    EXPECT_EQ(1, cli.Wait());
    const std::string err = cli.Err();
    EXPECT_TRUE(err.find(full) != std::string::npos ||
                (small == disk && err.find("database or disk is full") != std::string::npos))
        << err;
    EXPECT_NE(std::string::npos, err.find(small == temp ? temp : folder)) << err;
    if (small == temp) {
      EXPECT_NE(std::string::npos, err.find("--resume")) << err;
      // The price stage stopped at its first issue rather than going on to
      // the pages.
      CResumePosition at;
      ASSERT_EQ(ResumeFileResult::kOk, ReadResumeFile(ResumeFilePath(folder), at));
      EXPECT_EQ(3, at.stage);
      EXPECT_EQ(0, at.resumeIndex);
    }
    EXPECT_EQ(0, mount("tmpfs", small.c_str(), "tmpfs", MS_REMOUNT, "size=256m"))
        << std::strerror(errno);
    EXPECT_TRUE(Finishes(Resume(folder)));
    ExpectSameFolder(ref, folder);
  }
}

// tickora-setup-cli against servers that send what broken or hostile ones
// send: the run finishes with only valid data in the folder, or stops with
// its cause, and its memory stays within 256 MiB whatever was sent.

constexpr long kMemoryBoundKb = 256 * 1024;

class CliHostileTest : public CliMarketTest {
 protected:
  CliHostileTest() : CliMarketTest(41, 40) {}
};

const std::string kArchive = std::string("archive:") + "/market/archive/v2/";

// Records no file may hold in every year file (non-calendar days, a far
// future day, repeats, NaN, infinity, negative values) and list rows whose
// codes name the folder's own files: all of it is refused and counted, and
// the folder is the undisturbed run's, byte for byte.
TEST_F(CliHostileTest, InvalidRecordsAndCodesNeverReachTheFolder) {
  ASSERT_TRUE(Finishes(Args(dir_.Sub("ref"))));
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
  for (const CSimRequestRecord& r : server_->Requests()) asked[r.path] += r.site == Site::kArchive;
  for (const auto& [path, count] : asked) EXPECT_LE(count, 1) << path;
  for (const auto& entry : fs::directory_iterator(tmp_.path())) {
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
