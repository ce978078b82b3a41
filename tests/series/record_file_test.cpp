// Chart and margin files, one issue each, and the paths they take. The
// readers are checked against bytes put together here from the layouts
// (not by our writers), the writers against the same bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <random>

#include "series/chart_file.h"
#include "series/chunk_reader.h"
#include "series/chunk_writer.h"
#include "series/issue_file_path.h"
#include "series/margin_file.h"
#include "tests/common/temp_dir.h"
#include "tests/series/series_test_util.h"

namespace fs = std::filesystem;

// The raw close is not stored, values go through float32, and leading
// bars with a zero price are dropped on loading and on saving, from the
// file and from the caller's series.
TEST(ChartFileTest, LayoutRoundTripFloat32AndLeadingZeroPrices) {
  TempDir dir;
  const char* folder = dir.path().c_str();
  CChart chart{Bar(20240104, 100, 101.5, 99.25, 100.5, 12000)}, loaded;
  chart[0].rawClose = 77;
  // An append without a file makes it (what an append adds to a file is the
  // fuzz target's part); a plain save replaces a file, as below.
  ASSERT_TRUE(chart.Save(std::make_unique<CChartSaverFile>(folder, "1301", true)));
  EXPECT_EQ(PriceValues(chart[0]), ReadBytes(dir.Sub("1301.dat")));  // no raw close
  ASSERT_TRUE(loaded.Load(std::make_unique<CChartLoaderFile>(folder, "1301", 0)));
  chart[0].rawClose = 100.5;
  EXPECT_EQ(chart, loaded);
  chart = {Bar(20240104, 1234.5678, 2e9 + 1, 0.1, 1234.5678, 123456789)};
  ASSERT_TRUE(chart.Save(std::make_unique<CChartSaverFile>(folder, "7203A", false)));
  ASSERT_TRUE(loaded.Load(std::make_unique<CChartLoaderFile>(folder, "7203A", 0)));
  CDayRecord narrowed = Bar(20240104, 1234.5678f, 2e9f, 0.1f, 1234.5678f, 123456789.0f);
  narrowed.rawClose = narrowed.close;
  EXPECT_EQ(CChart{narrowed}, loaded);

  chart = {Bar(1, 5, 5, 0, 5), Bar(2, 5, 5, 5, 5, 9)};
  ASSERT_EQ(0, CChartSaverFile(folder, "1301", false).Save(chart));
  EXPECT_EQ(DateList({2}), Dates(chart));
  EXPECT_EQ(PriceValues(chart[0]), ReadBytes(dir.Sub("1301.dat")));
}

// Refused codes reach neither the folder nor anything around it.
TEST(IssueFilePathTest, OnlySafeCodesBecomePaths) {
  std::string path;
  EXPECT_TRUE(BuildChartFilePath("/db/daily", "7203A", path));
  EXPECT_EQ("/db/daily/7203A.dat", path);
  EXPECT_TRUE(BuildMarginFilePath("/db/margin", "1301", path));
  EXPECT_EQ("/db/margin/mg1301.dat", path);
  EXPECT_TRUE(BuildChartFilePath("d", std::string(20, 'z'), path));
  EXPECT_FALSE(BuildChartFilePath("", "1301", path));  // would be "/1301.dat"
  EXPECT_FALSE(BuildChartFilePath(std::string("a\0b", 3), "1301", path));
  EXPECT_FALSE(BuildMarginFilePath(std::string("a\0b", 3), "", path));  // no code: the whole path
  TempDir root;
  const std::string folder = root.Sub("daily");
  fs::create_directory(folder);
  const std::string refused[] = {
      "/", "..", ".", "../1301", "13/01", "1301/", std::string("13\0" "01", 5),
      std::string(21, '1'), "13 01", "1301.", "-1", "13\\01", "\x82\xa0", "1301\n", "../escape",
  };
  for (const std::string& code : refused) {
    path = "old";
    EXPECT_FALSE(IsSafeIssueFileCode(code)) << code;
    EXPECT_FALSE(BuildChartFilePath("/db", code, path)) << code;
    EXPECT_EQ("", path) << code;
    EXPECT_FALSE(BuildMarginFilePath("/db", code, path)) << code;
    CChart chart = ChartOn({20240104});
    CMargin margin{Entry(20240104, 1, 1)};
    EXPECT_EQ(-1, CChartSaverFile(folder.c_str(), code, false).Save(chart));
    EXPECT_EQ(-1, CMarginSaverFile(folder.c_str(), code).Save(margin));
    EXPECT_EQ(-1, CChartLoaderFile(folder.c_str(), code, 0).Load(chart));
    EXPECT_EQ(-1, CMarginLoaderFile(folder.c_str(), code, 0).Load(margin));
  }
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(root.path()), {}));
}

// Pieces of every size around the chunk's growth steps and its full size
// reach the file in order, and read back the same through chunks sized to
// the file.
TEST(ChunkFileTest, PiecesAcrossChunkBoundariesRoundTrip) {
  TempDir dir;
  const std::string path = dir.Sub("chunks.bin");
  const size_t sizes[] = {1, 7, (64 << 10) - 3, 64 << 10, 5, CChunkWriter::kChunkSize, 300000, 3};
  std::mt19937 random(5);
  std::string expected;
  CChunkWriter out;
  ASSERT_TRUE(out.Create(path.c_str()));
  for (size_t size : sizes) {
    std::string piece(size - 1, '\0');  // and a NUL: each piece is also a text
    for (char& c : piece) c = static_cast<char>(random() % 255 + 1);
    piece.push_back('\0');
    if (size % 2) std::memcpy(out.Extend(size), piece.data(), size); else out.Put(piece.data(), size);
    expected += piece;
  }
  EXPECT_EQ(nullptr, out.Extend(CChunkWriter::kChunkSize + 1));
  ASSERT_TRUE(out.Close());
  EXPECT_EQ(expected, ReadBytes(path));

  CChunkReader in;
  ASSERT_TRUE(in.Open(path.c_str()));
  size_t at = 0;
  for (size_t i = 0; i < std::size(sizes); at += sizes[i++]) {
    std::string text;
    const unsigned char* bytes = i % 3 ? in.Take(sizes[i]) : nullptr;
    EXPECT_TRUE(i % 3 ? bytes != nullptr && std::memcmp(expected.data() + at, bytes, sizes[i]) == 0
                      : in.TakeText(text) && expected.compare(at, sizes[i] - 1, text) == 0)
        << i;
  }
  EXPECT_TRUE(in.Left() == 0 && in.Take(1) == nullptr);
  // A text cut off by the end of the file is no text.
  WriteBytes(path, "ab");
  std::string text;
  ASSERT_TRUE(in.Open(path.c_str()));
  EXPECT_FALSE(in.TakeText(text));
}
