// Writing the data files under a temporary name: a failed or unfinished
// write leaves the old file whole and no temporary file behind. Failures
// are real ones: a file size limit (RLIMIT_FSIZE) makes the kernel refuse
// the bytes beyond it, as a full disk would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "series/archive_margin_file.h"
#include "series/archive_price_file.h"
#include "series/chart_file.h"
#include "series/chunk_writer.h"
#include "series/margin_file.h"
#include "series/quick_file.h"
#include "series/quick_margin_file.h"
#include "series/quick_price_file.h"
#include "support/replace_file.h"
#include "tests/common/temp_dir.h"
#include "tests/series/series_test_util.h"

namespace fs = std::filesystem;

namespace {

// The names in `dir`, sorted.
std::vector<std::string> Names(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// Each writer, made to fail part way by the size limit, keeps the old file
// byte for byte and leaves nothing else in the folder; without the limit
// the same write replaces it.
TEST(ReplaceFileTest, FailedWritesKeepTheOldFileAndLeaveNoTemporary) {
  CChart chart = DayBars(TradingDays(CDate(2024, 3, 4), 40));
  const CChartTable prices{{"1301", chart}, {"7203", chart}};
  CMarginTable margins;
  for (int i = 0; i < 12; ++i) margins["1301"].push_back(Entry(20240105 + 100 * i, i, i));
  // Each writes into the folder given first, whose file is the path given
  // second, and answers whether it succeeded.
  using Write = std::function<bool(const char*, const char*)>;
  const struct { const char* file; Write write; } cases[] = {
      {"1301.dat",
       [&](auto folder, auto) { return !CChartSaverFile(folder, "1301", false).Save(chart); }},
      {"1301.dat",
       [&](auto folder, auto) { return !CChartSaverFile(folder, "1301", true).Save(chart); }},
      {"mg1301.dat",
       [&](auto folder, auto) { return !CMarginSaverFile(folder, "1301").Save(margins["1301"]); }},
      {"quick2.dat",
       [&](auto, auto path) { return !WriteQuickPriceFile(path, prices, 10, 0, nullptr); }},
      {"quickmg2.dat",
       [&](auto, auto path) { return !WriteQuickMarginFile(path, margins, 10, nullptr); }},
      {"prices.bin",
       [&](auto, auto path) { return WriteArchivePriceFile(path, prices, 0, UINT32_MAX, {}); }},
      {"margins.bin",
       [&](auto, auto path) { return WriteArchiveMarginFile(path, margins, 0, UINT32_MAX, {}); }},
  };
  // One old bar dated before the new ones, so that an append adds them all.
  const std::string old = PriceValues(DayBar(20240301));
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    TempDir dir;
    const std::string path = dir.Sub(c.file);
    WriteBytes(path, old);
    bool written;
    {
      FileSizeLimit limit(old.size() + 8);
      written = c.write(dir.path().c_str(), path.c_str());
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(old, ReadBytes(path));
    EXPECT_EQ(std::vector<std::string>{c.file}, Names(dir));

    EXPECT_TRUE(c.write(dir.path().c_str(), path.c_str()));
    EXPECT_GT(ReadBytes(path).size(), old.size() + 8);
    EXPECT_EQ(std::vector<std::string>{c.file}, Names(dir));
  }
}

// Until Close the real name holds the old file, as it would for a process
// killed at that point; a writer dropped unclosed leaves it so for good.
TEST(ReplaceFileTest, TheRealNameChangesOnlyAtClose) {
  TempDir dir;
  const std::string path = dir.Sub("quick2.dat");
  WriteBytes(path, "old");
  {
    CChunkWriter out;
    ASSERT_TRUE(out.Create(path.c_str()));
    out.Put("new bytes", 9);
    ASSERT_TRUE(out.Flush());
    EXPECT_EQ("old", ReadBytes(path));
    EXPECT_EQ(2u, Names(dir).size());
  }
  EXPECT_EQ("old", ReadBytes(path));
  EXPECT_EQ(std::vector<std::string>{"quick2.dat"}, Names(dir));
}

// What a killed writer left goes; data files and other temporary names stay.
TEST(ReplaceFileTest, LeftReplacementsAreRemovedAndNothingElse) {
  TempDir dir;
  for (const char* name : {"1301.dat", "1301.dat.4711-0.tmp", "mg1301.dat.12-345.tmp",
                           "note.tmp", "1301.dat.-1.tmp", "1301.dat.12-.tmp", ".1-2.tmp",
                           "1301.dat.1x-2.tmp"}) {
    WriteBytes(dir.Sub(name), "x");
  }
  std::filesystem::create_directory(dir.Sub("sub.1-2.tmp"));
  EXPECT_EQ(2, RemoveLeftReplacements(dir.path().string()));
  EXPECT_EQ((std::vector<std::string>{".1-2.tmp", "1301.dat", "1301.dat.-1.tmp",
                                      "1301.dat.12-.tmp", "1301.dat.1x-2.tmp", "note.tmp",
                                      "sub.1-2.tmp"}),
            Names(dir));
  EXPECT_EQ(0, RemoveLeftReplacements(dir.Sub("missing")));
}

// The new file keeps the old one's permission bits; a link keeps naming
// the file, which is replaced where it lies; a device is written in place;
// a move that fails removes the new file.
TEST(ReplaceFileTest, ModesLinksDevicesAndAFailedMove) {
  TempDir dir;
  const std::string path = dir.Sub("1301.dat");
  WriteBytes(path, "old");
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  // Another group than the process's own (root may give any).
  const bool other_group = geteuid() == 0 && chown(path.c_str(), -1, getegid() + 1) == 0;
  fs::create_directory(dir.Sub("real"));
  WriteBytes(dir.Sub("real/7203.dat"), "old");
  fs::create_symlink(dir.Sub("real/7203.dat"), dir.Sub("7203.dat"));
  for (const std::string& name : {path, dir.Sub("7203.dat")}) {
    CReplaceFile out;
    ASSERT_TRUE(out.Open(name));
    EXPECT_TRUE(out.Replacing());
    std::fputs("new", out.File());
    EXPECT_TRUE(out.Commit());
  }
  struct stat info {};
  ASSERT_EQ(0, stat(path.c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 07777);
  if (other_group) {
    EXPECT_EQ(getegid() + 1, info.st_gid);
  }
  EXPECT_EQ("new", ReadBytes(path));
  EXPECT_TRUE(fs::is_symlink(dir.Sub("7203.dat")));
  EXPECT_EQ("new", ReadBytes(dir.Sub("real/7203.dat")));
  EXPECT_EQ(std::vector<std::string>{"7203.dat"},
            std::vector<std::string>{fs::directory_iterator(dir.Sub("real"))->path().filename()});

  CReplaceFile device;
  ASSERT_TRUE(device.Open("/dev/null"));
  EXPECT_FALSE(device.Replacing());
  EXPECT_TRUE(device.Commit());
  // A link to nothing makes the file it names.
  fs::create_symlink(dir.Sub("real/9984.dat"), dir.Sub("9984.dat"));
  ASSERT_TRUE(device.Open(dir.Sub("9984.dat")));
  std::fputs("made", device.File());
  EXPECT_TRUE(device.Commit());
  EXPECT_TRUE(fs::is_symlink(dir.Sub("9984.dat")));
  EXPECT_EQ("made", ReadBytes(dir.Sub("real/9984.dat")));

  CReplaceFile out;
  ASSERT_TRUE(out.Open(path));
  std::fputs("newer", out.File());
  fs::remove(path);
  fs::create_directories(dir.Sub("1301.dat/in"));
  EXPECT_FALSE(out.Commit());
  EXPECT_EQ((std::vector<std::string>{"1301.dat", "7203.dat", "9984.dat", "real"}), Names(dir));
  EXPECT_FALSE(out.Open(dir.Sub("no/such/folder.dat")));
  EXPECT_FALSE(out.Open(dir.Sub("real")));

  // Links placed at every temporary name this process would try next are
  // never written through: the open fails or steps past them.
  const std::string target = dir.Sub("4502.dat");
  WriteBytes(dir.Sub("outside"), "keep");
  for (int k = 0; k < 300; ++k) {
    fs::create_symlink(dir.Sub("outside"), target + "." + std::to_string(getpid()) + "-" +
                                               std::to_string(k) + ".tmp");
  }
  if (out.Open(target)) {
    std::fputs("through", out.File());
    EXPECT_TRUE(out.Commit());
  }
  EXPECT_EQ("keep", ReadBytes(dir.Sub("outside")));
}
