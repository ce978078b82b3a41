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

CChartTable QuickPrices() {
  const CChart bars = DayBars(TradingDays(CDate(2024, 3, 4), 20));
  return {{"1301", bars}, {"7203", bars}};
}

CMarginTable QuickMargins() {
  CMarginTable table;
  for (int i = 0; i < 12; ++i) table["1301"].push_back(Entry(20240105 + 7 * (i % 4) + 100 * (i / 4), i, i));
  return table;
}

}  // namespace

// Each writer, made to fail part way by the size limit, keeps the old file
// byte for byte and leaves nothing else in the folder; without the limit
// the same write replaces it.
TEST(ReplaceFileTest, FailedWritesKeepTheOldFileAndLeaveNoTemporary) {
  struct Case {
    const char* name;
    const char* file;
    std::function<bool(const std::string& folder, const std::string& path)> write;
  };
  const CChart chart = DayBars(TradingDays(CDate(2024, 3, 4), 40));
  const Case cases[] = {
      {"chart", "1301.dat",
       [&](const std::string& folder, const std::string&) {
         CChart copy = chart;
         return CChartSaverFile(folder.c_str(), "1301", false).Save(copy) == 0;
       }},
      {"chart append", "1301.dat",
       [&](const std::string& folder, const std::string&) {
         CChart copy = chart;
         return CChartSaverFile(folder.c_str(), "1301", true).Save(copy) == 0;
       }},
      {"margin", "mg1301.dat",
       [&](const std::string& folder, const std::string&) {
         return CMarginSaverFile(folder.c_str(), "1301").Save(QuickMargins()["1301"]) == 0;
       }},
      {"quick price", "quick2.dat",
       [&](const std::string&, const std::string& path) {
         return WriteQuickPriceFile(path.c_str(), QuickPrices(), 10, 0, nullptr) == 0;
       }},
      {"quick margin", "quickmg2.dat",
       [&](const std::string&, const std::string& path) {
         return WriteQuickMarginFile(path.c_str(), QuickMargins(), 10, nullptr) == 0;
       }},
      {"archive price", "prices.bin",
       [&](const std::string&, const std::string& path) {
         CArchiveFileHeader header;
         return WriteArchivePriceFile(path.c_str(), QuickPrices(), 0, UINT32_MAX, header);
       }},
  };
  // One old bar dated before the new ones, so that an append adds them all.
  const std::string old = PriceValues(DayBar(20240301));
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.Sub(c.file);
    WriteBytes(path, old);
    bool written;
    {
      FileSizeLimit limit(old.size() + 8);
      written = c.write(dir.path().string(), path);
    }
    EXPECT_FALSE(written) << c.name;
    EXPECT_EQ(old, ReadBytes(path)) << c.name;
    EXPECT_EQ(std::vector<std::string>{c.file}, Names(dir)) << c.name;

    EXPECT_TRUE(c.write(dir.path().string(), path)) << c.name;
    EXPECT_GT(ReadBytes(path).size(), old.size() + 8) << c.name;
    EXPECT_EQ(std::vector<std::string>{c.file}, Names(dir)) << c.name;
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

  CChunkWriter out;
  ASSERT_TRUE(out.Create(path.c_str()));
  out.Put("new bytes", 9);
  ASSERT_TRUE(out.Close());
  EXPECT_EQ("new bytes", ReadBytes(path));
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

  // Links placed at every temporary name this process would try next are
  // never written through: the open fails or steps past them.
  WriteBytes(dir.Sub("outside"), "keep");
  for (int k = 0; k < 300; ++k) {
    fs::create_symlink(dir.Sub("outside"), path + "." + std::to_string(getpid()) + "-" +
                                               std::to_string(k) + ".tmp");
  }
  {
    CReplaceFile out;
    if (out.Open(path)) {
      std::fputs("through", out.File());
      EXPECT_TRUE(out.Commit());
    }
  }
  EXPECT_EQ("keep", ReadBytes(dir.Sub("outside")));
  fs::remove(dir.Sub("outside"));
  for (int k = 0; k < 300; ++k) {
    fs::remove(path + "." + std::to_string(getpid()) + "-" + std::to_string(k) + ".tmp");
  }
  WriteBytes(path, "new");

  CReplaceFile device;
  ASSERT_TRUE(device.Open("/dev/null"));
  EXPECT_FALSE(device.Replacing());
  EXPECT_TRUE(device.Commit());
  EXPECT_TRUE(fs::exists("/dev/null"));
  // A link to nothing makes the file it names.
  fs::create_symlink(dir.Sub("real/9984.dat"), dir.Sub("9984.dat"));
  ASSERT_TRUE(device.Open(dir.Sub("9984.dat")));
  std::fputs("made", device.File());
  EXPECT_TRUE(device.Commit());
  EXPECT_TRUE(fs::is_symlink(dir.Sub("9984.dat")));
  EXPECT_EQ("made", ReadBytes(dir.Sub("real/9984.dat")));
  fs::remove(dir.Sub("9984.dat"));
  fs::remove(dir.Sub("real/9984.dat"));

  CReplaceFile out;
  ASSERT_TRUE(out.Open(path));
  std::fputs("newer", out.File());
  fs::remove(path);
  fs::create_directories(dir.Sub("1301.dat/in"));
  EXPECT_FALSE(out.Commit());
  EXPECT_EQ((std::vector<std::string>{"1301.dat", "7203.dat", "real"}), Names(dir));
  EXPECT_FALSE(out.Open(dir.Sub("no/such/folder.dat")));
  EXPECT_FALSE(out.Open(dir.Sub("real")));
}
