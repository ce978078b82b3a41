// Archive and quick files, which carry many issues each, and the index of
// an archive file. Expected files are put together here from the layouts,
// field by field, never by the writers under test. The fuzz targets hold
// the archive files to their layout both ways (versions, code order, spans
// of dates) and take the damaged files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "series/archive_index.h"
#include "series/archive_margin_file.h"
#include "series/archive_price_file.h"
#include "series/quick_margin_file.h"
#include "series/quick_price_file.h"
#include "support/text.h"
#include "tests/common/temp_dir.h"
#include "tests/series/series_test_util.h"

namespace {

std::string ArchiveHeader(float version, uint32_t made = 20240105) {
  return LeF32(version) + Le(made, 4);
}
// A current-layout price record of `code` with DayBar's values.
std::string Rec(const std::string& code, uint32_t date) {
  return code + '\0' + PriceValues(DayBar(date));
}
std::string QuickHeader(const char* magic, uint32_t begin, uint32_t end, uint32_t count) {
  return std::string(magic, 4) + Le(1, 4) + Le(begin, 4) + Le(end, 4) + Le(count, 4);
}
// Fridays from 2024-01-05 on: week 11 is 2024-03-22.
CMarginRecord Week(int k) { return {CDate(2024, 1, 5).AddDays(7 * k), 1234567.0 + k, 0.25 * k}; }
CMargin Weeks(int from, int to, int skip = -1) {
  CMargin margin;
  for (int k = from; k <= to; ++k) if (k != skip) margin.push_back(Week(k));
  return margin;
}

}  // namespace

// Readers are the fuzz targets' part, a missing file and a folder
// included. Writers: a code with a zero byte cannot be carried by the
// current layout (the fuzz targets hold the old layout's numbers to it,
// and a folder that does not exist to giving no file).
TEST(BulkFileTest, ReadersAndWritersRefuseWhatTheyCannotDo) {
  TempDir dir;
  const std::string path = dir.Sub("archive.bin");
  const std::string code("72\0" "3", 4);
  const CArchiveFileHeader header{2.0f, 20240110};
  EXPECT_FALSE(WriteArchivePriceFile(path.c_str(), {{code, DayBars({20240104})}}, 0, 1u << 31,
                                     header));
  EXPECT_FALSE(WriteArchiveMarginFile(path.c_str(), {{code, {Entry(20240104, 1, 2)}}}, 0,
                                      1u << 31, header));
  EXPECT_FALSE(std::filesystem::exists(path));
}

// January 2024 trades on 4, 5, 9-12, 15-19, 22 (8 is a holiday). With depth
// 10 and the end on the 22nd the window starts on the 9th; the first issue
// has bars from the 11th on, but the second from the 10th, so the file
// begins on the 10th. The first issue's own gap is not counted. Codes are
// cut to 8 bytes. The fuzz targets hold the readers to the layout.
TEST(QuickPriceFileTest, WriterFollowsTheLayout) {
  const CChartTable map{
      {"1301", DayBars({20240104, 20240105, 20240111, 20240112, 20240115, 20240116, 20240117,
                        20240118, 20240119, 20240122})},
      {"1332", DayBars(TradingDays(CDate(2024, 1, 10), 9))},
      {"72030000", DayBars({20240119, 20240122})},
      {"9999", {}},
      {"ABCDEFGHIJ", DayBars({20240122})},
  };
  std::string bytes = QuickHeader("QDB2", 20240110, 20240122, 5);
  for (const char* code : {"1301", "1332", "72030000", "9999", "ABCDEFGH"}) bytes += Padded(code, 8);
  for (const auto& [code, series] : map) {
    for (const CDayRecord& bar : series) {
      if (bar.DateNumber() >= 20240110) bytes += Padded(code, 8) + PriceValues(bar);
    }
  }
  TempDir dir;
  const std::string path = dir.Sub("quick2.dat");
  std::string error = "untouched";
  ASSERT_EQ(kQuickFileOk, WriteQuickPriceFile(path.c_str(), map, 10, 0, &error));
  EXPECT_EQ(bytes, ReadBytes(path));
  EXPECT_EQ("untouched", error);
}

// Checks made before the file is touched: the old one stays.
TEST(QuickPriceFileTest, RefusalsLeaveTheOldFile) {
  const CChart gapped = DayBars({20240104, 20240105, 20240110, 20240111});  // 9th missing
  CChartTable gaps{{"1000", DayBars({20240104, 20240109, 20240111})}};  // first: not counted
  for (int i = 0; i < 20; ++i) gaps[StringFormat("G%02d", i)] = gapped;
  CChartTable oneMore = gaps;
  oneMore["G20"] = gapped;
  // A series that ends like one without a gap may still have one earlier.
  const CChart full = DayBars(TradingDays(CDate(2024, 1, 4), 12));
  CChartTable tails{{"1000", full}, {"1001", full}, {"1002", full}};
  tails["1002"].erase(tails["1002"].begin() + 1, tails["1002"].begin() + 4);
  const CChartTable ends{{"1301", gapped}, {"1332", DayBars({20240110})}};
  struct Case { const CChartTable* map; int32_t depth, tolerance, status; const char* error; };
  const Case cases[] = {
      {&gaps, 10, 20, kQuickFileOk, ""},
      {&oneMore, 10, 21, kQuickFileOk, ""},
      {&oneMore, 10, 20, kQuickFileTooManyGaps, "fragmented data (G20:2024/1/9(火))"},
      {&gaps, 10, -1, kQuickFileTooManyGaps, "fragmented data (G00:2024/1/9(火))"},
      {&tails, 10, 0, kQuickFileTooManyGaps, "fragmented data (1002:2024/1/5(金))"},
      {&ends, 10, 99, kQuickFileEndMismatch, ""},
      {&gaps, 9, 99, kQuickFileBadDepth, ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.Sub("quick2.dat");
    WriteBytes(path, "old");
    std::string error;
    EXPECT_EQ(c.status, WriteQuickPriceFile(path.c_str(), *c.map, c.depth, c.tolerance, &error));
    EXPECT_EQ(c.error, error);
    EXPECT_EQ(c.status != kQuickFileOk, ReadBytes(path) == "old") << c.status;
    EXPECT_EQ(c.status, WriteQuickPriceFile(path.c_str(), *c.map, c.depth, c.tolerance, nullptr));
  }
}

// Weeks 0-11, depth 10: the window starts on week 2. The first issue skips
// week 2, so the file begins on week 3 unless an issue that ends with it
// has week 2; an issue that ends a week early has no say, but is written
// from the begin date on.
TEST(QuickMarginFileTest, WriterFollowsTheLayout) {
  CMarginTable map{{"1301", Weeks(0, 11, 2)}, {"1332", Weeks(0, 10)}, {"1333", {}}};
  std::string bytes = QuickHeader("QMD2", Week(3).date.ToNumber(), Week(11).date.ToNumber(), 3) +
                      Padded("1301", 8) + Padded("1332", 8) + Padded("1333", 8);
  for (int k = 3; k <= 11; ++k) bytes += Padded("1301", 8) + MarginValues(Week(k), true);
  for (int k = 3; k <= 10; ++k) bytes += Padded("1332", 8) + MarginValues(Week(k), true);
  TempDir dir;
  const std::string path = dir.Sub("quickmg2.dat");
  std::string error = "untouched";
  ASSERT_EQ(kQuickFileOk, WriteQuickMarginFile(path.c_str(), map, 10, &error));
  EXPECT_EQ(bytes, ReadBytes(path));
  EXPECT_EQ("untouched", error);
  CMarginTable table;
  CQuickFileHeader header;
  map["1334"] = Weeks(2, 11);
  ASSERT_EQ(kQuickFileOk, WriteQuickMarginFile(path.c_str(), map, 10, nullptr));
  ASSERT_TRUE(ReadQuickMarginFile(path.c_str(), table, &header));
  EXPECT_EQ(Week(2).date.ToNumber(), header.beginDate);
  EXPECT_EQ(Weeks(2, 10), table["1332"]);
  EXPECT_EQ(kQuickFileBadDepth, WriteQuickMarginFile(path.c_str(), map, 9, nullptr));
}

// Both writers: an empty map, series without bars, a folder that does not
// exist, and writes that stop in the header, the directory or the records.
// Files of the other kind or version are fuzz seeds.
TEST(QuickFileTest, EmptyMapsAndFailedWrites) {
  TempDir dir;
  const std::string path = dir.Sub("quick.dat");
  auto price = [&](const CChartTable& map) { return WriteQuickPriceFile(path.c_str(), map, 10, 0, nullptr); };
  auto margin = [&](const CMarginTable& map) { return WriteQuickMarginFile(path.c_str(), map, 10, nullptr); };
  ASSERT_EQ(kQuickFileOk, price({}));
  EXPECT_EQ(QuickHeader("QDB2", 0, 0, 0), ReadBytes(path));
  ASSERT_EQ(kQuickFileOk, margin({{"1301", {}}, {"72030000", {}}}));
  EXPECT_EQ(QuickHeader("QMD2", 0, 0, 2) + Padded("1301", 8) + "72030000", ReadBytes(path));
  const CChart bars = DayBars({20240104, 20240105});
  const CChartTable prices{{"1301", bars}, {"1332", bars}, {"1333", bars}};
  const CMarginTable margins{{"1301", Weeks(0, 1)}, {"1332", Weeks(0, 1)}, {"1333", Weeks(0, 1)}};
  // Header 20, directory 24, then six records of 32 or 20 bytes.
  struct Case { rlim_t limit; int32_t price, margin; };
  const Case cases[] = {
      {10, kQuickFileHeaderFailed, kQuickFileHeaderFailed},
      {30, kQuickFileDirectoryFailed, kQuickFileDirectoryFailed},
      {100, kQuickFileRecordFailed, kQuickFileRecordFailed},
      {164, kQuickFileRecordFailed, kQuickFileOk},
      {236, kQuickFileOk, kQuickFileOk},
  };
  for (const Case& c : cases) {
    int32_t statuses[2];
    {
      FileSizeLimit limit(c.limit);
      statuses[0] = price(prices);
      statuses[1] = margin(margins);
    }
    EXPECT_EQ(c.price, statuses[0]) << c.limit;
    EXPECT_EQ(c.margin, statuses[1]) << c.limit;
  }
}

// Codes that alternate from record to record cost a run each: past
// kMaxRuns the index stops and says so, whatever the file's length; codes
// that stay together cost one run an issue however many records they have.
TEST(ArchiveIndexTest, AlternatingCodesStopAtTheRunBound) {
  TempDir dir;
  std::string pair = Rec("1301", 20240104) + Rec("1302", 20240104);
  std::string chunk;
  while (chunk.size() < (1u << 20)) chunk += pair;
  const uint64_t perChunk = chunk.size() / pair.size() * 2;
  for (const bool alternate : {true, false}) {
    SCOPED_TRACE(alternate);
    CArchiveIndex index(kArchivePriceValueBytes);
    ASSERT_TRUE(index.Begin(dir.Sub("values")));
    const std::string head = ArchiveHeader(2);
    index.Add(head.data(), head.size());
    std::string together;
    if (!alternate) {
      for (uint64_t i = 0; i < perChunk; ++i) together += Rec("1301", 20240104);
    }
    const std::string& piece = alternate ? chunk : together;
    for (uint64_t fed = 0; fed <= CArchiveIndex::kMaxRuns + perChunk; fed += perChunk) {
      index.Add(piece.data(), piece.size());
    }
    EXPECT_EQ(alternate, index.TooManyRuns());
    EXPECT_EQ(alternate ? 2u : 1u, index.Issues());
    if (alternate) {
      EXPECT_LE(index.Records(), CArchiveIndex::kMaxRuns);
    }
  }
}

// The fuzz seeds compare the index with the whole-file reader; a code past
// the limit ends the records, which no comparison with the reader shows.
TEST(ArchiveIndexTest, ATooLongCodeEndsTheRecordsAndTheIndexOwnsItsValuesFile) {
  TempDir dir;
  const std::string values = dir.Sub("values");
  const std::string bytes = ArchiveHeader(2) + Rec("1301", 20240104) +
                            Rec(std::string(CArchiveIndex::kMaxCodeBytes + 1, 'L'), 20240105) +
                            Rec("7203", 20240105);
  for (size_t piece : {size_t{1}, bytes.size()}) {
    CArchiveIndex index(kArchivePriceValueBytes);
    ASSERT_TRUE(index.Begin(values));
    for (size_t at = 0; at < bytes.size(); at += piece) index.Add(bytes.data() + at, piece);
    ASSERT_TRUE(index.End());
    EXPECT_TRUE(index.Issues() == 1 && index.Records() == 1) << piece;
    EXPECT_EQ(access(values.c_str(), F_OK), 0);
    // Begun again without a header: nothing reads, the old file is gone.
    ASSERT_TRUE(index.Begin(dir.Sub("again")));
    index.Add(bytes.data(), 7);
    ASSERT_TRUE(index.End());
    EXPECT_FALSE(index.HasHeader());
    EXPECT_NE(access(values.c_str(), F_OK), 0);
  }
  EXPECT_NE(access(dir.Sub("again").c_str(), F_OK), 0);
}
