#include "series/archive_index.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "series/archive_price_file.h"
#include "tests/common/temp_dir.h"
#include "tests/series/series_test_util.h"

namespace {

std::string Head(float version) { return LeF32(version) + Le(20240105, 4); }
std::string Rec(const std::string& code, uint32_t date) {
  return code + std::string(1, '\0') + PriceValues(DayBar(date));
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

// The fuzz seeds compare the index with the whole-file reader; a code past
// the limit ends the records, which no comparison with the reader shows.
TEST(ArchiveIndexTest, ATooLongCodeEndsTheRecordsAndTheIndexOwnsItsValuesFile) {
  TempDir dir;
  const std::string values = dir.Sub("values");
  const std::string bytes = Head(2) + Rec("1301", 20240104) +
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
  CArchiveIndex nowhere(kArchiveMarginValueBytes);
  EXPECT_FALSE(nowhere.Begin(dir.Sub("no/such/folder")));
  EXPECT_FALSE(nowhere.End());
}

}  // namespace
