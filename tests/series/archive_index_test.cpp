#include "series/archive_index.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "series/archive_margin_file.h"
#include "series/archive_price_file.h"
#include "tests/common/temp_dir.h"
#include "tests/series/series_test_util.h"

namespace {

std::string Head(float version) { return LeF32(version) + Le(20240105, 4); }
std::string Rec(const std::string& code, uint32_t date) {
  return code + std::string(1, '\0') + PriceValues(DayBar(date));
}
std::string OldRec(uint16_t number, uint32_t date) { return Le(number, 2) + PriceValues(DayBar(date)); }

// The index takes the records the whole-file reader takes, however the
// bytes are cut into pieces; a code past the limit ends the records.
TEST(ArchiveIndexTest, TakesWhatTheFileReaderTakesInPiecesOfAnySize) {
  const std::string longest(CArchiveIndex::kMaxCodeBytes, 'L');
  struct Case { const char* name; std::string bytes; size_t issues; };
  const Case cases[] = {
      {"apart", Head(2) + Rec("1301", 20240104) + Rec("7203", 20240104) + Rec("1301", 20240105) +
                    Rec("", 20240109) + Rec("1301", 20240110), 3},
      {"cut in the values", Head(2) + Rec("1301", 20240104) + Rec("9984", 20240105).substr(0, 12), 1},
      {"cut in the code", Head(2) + Rec("1301", 20240104) + "99", 1},
      {"longest code", Head(2) + Rec(longest, 20240104) + Rec("130A", 20240105), 2},
      {"old layout", Head(1) + OldRec(7203, 20240104) + OldRec(1301, 20240104) +
                         OldRec(7203, 20240105) + OldRec(7, 20240105).substr(0, 20), 2},
      {"header only", Head(2), 0},
      {"code too long", Head(2) + Rec("1301", 20240104) + Rec(longest + "X", 20240105) +
                            Rec("7203", 20240105), 1},
  };
  TempDir dir;
  for (const Case& c : cases) {
    WriteBytes(dir.Sub("whole"), c.bytes);
    CChartTable expected;
    ASSERT_TRUE(ReadArchivePriceFile(dir.Sub("whole").c_str(), expected));
    if (c.issues == 1 && expected.size() > 1) expected.erase(std::next(expected.begin()), expected.end());
    for (size_t piece : {size_t{1}, size_t{3}, size_t{29}, c.bytes.size()}) {
      SCOPED_TRACE(std::string(c.name) + " in pieces of " + std::to_string(piece));
      CArchiveIndex index(kArchivePriceValueBytes);
      ASSERT_TRUE(index.Begin(dir.Sub("values")));
      for (size_t at = 0; at < c.bytes.size(); at += piece) {
        index.Add(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
      }
      ASSERT_TRUE(index.End());
      EXPECT_TRUE(index.HasHeader());
      EXPECT_EQ(index.Header().version, c.bytes[3] == 0x40 ? 2.0f : 1.0f);
      ASSERT_EQ(index.Issues(), c.issues);
      for (const auto& [code, bars] : expected) {
        CChart got;
        EXPECT_TRUE(ReadIndexedBars(index, code, got));
        EXPECT_EQ(got, bars) << code;
      }
    }
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
    const std::string head = Head(2);
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

TEST(ArchiveIndexTest, ReadsMarginsAndOwnsItsValuesFile) {
  TempDir dir;
  CMarginTable table;
  table["1301"] = {Entry(20240105, 1200, 300.5), Entry(20240112, 1e12, 0)};
  table["7203"] = {Entry(20240112, 5, 6)};
  ASSERT_TRUE(WriteArchiveMarginFile(dir.Sub("whole").c_str(), table, 20240101, 20241231, {}));
  const std::string bytes = ReadBytes(dir.Sub("whole"));
  const std::string values = dir.Sub("values");
  {
    CArchiveIndex index(kArchiveMarginValueBytes);
    ASSERT_TRUE(index.Begin(values));
    index.Add(bytes.data(), bytes.size());
    ASSERT_TRUE(index.End());
    for (const auto& [code, expected] : table) {
      CMargin got;
      ASSERT_TRUE(ReadIndexedMargins(index, code, got));
      EXPECT_EQ(got, expected) << code;
    }
    EXPECT_EQ(access(values.c_str(), F_OK), 0);
    // Begun again without a header: nothing reads, the old file is gone.
    ASSERT_TRUE(index.Begin(dir.Sub("again")));
    index.Add(bytes.data(), 7);
    ASSERT_TRUE(index.End());
    EXPECT_FALSE(index.HasHeader());
    EXPECT_NE(access(values.c_str(), F_OK), 0);
  }
  EXPECT_NE(access(dir.Sub("again").c_str(), F_OK), 0);
  CArchiveIndex nowhere(kArchiveMarginValueBytes);
  EXPECT_FALSE(nowhere.Begin(dir.Sub("no/such/folder")));
  EXPECT_FALSE(nowhere.End());
}

}  // namespace
