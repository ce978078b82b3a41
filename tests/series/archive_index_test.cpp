#include "series/archive_index.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "series/archive_margin_file.h"
#include "series/archive_price_file.h"
#include "tests/common/temp_dir.h"
#include "tests/series/series_test_util.h"

namespace {

std::string Header(float version, uint32_t made = 20240105) {
  return LeF32(version) + Le(made, 4);
}
std::string PriceRecord(const std::string& code, uint32_t date) {
  return code + std::string(1, '\0') + PriceValues(DayBar(date));
}
std::string OldPriceRecord(uint16_t number, uint32_t date) {
  return Le(number, 2) + PriceValues(DayBar(date));
}

// Feeds `bytes` to an index in pieces of `piece` bytes.
void Feed(CArchiveIndex& index, const std::string& path, const std::string& bytes, size_t piece) {
  ASSERT_TRUE(index.Begin(path));
  for (size_t at = 0; at < bytes.size(); at += piece) {
    index.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
  }
  ASSERT_TRUE(index.End());
}

// Every issue's bars through the index, as a table.
CChartTable Bars(const CArchiveIndex& index, const CChartTable& codes) {
  CChartTable out;
  for (const auto& [code, unused] : codes) {
    EXPECT_TRUE(index.Contains(code)) << code;
    EXPECT_TRUE(ReadIndexedBars(index, code, out[code]));
  }
  return out;
}

// The index takes the same records as the whole-file reader, however the
// bytes are cut into pieces: records of one code apart from each other,
// the old layout, a tail cut inside a record, codes of many lengths.
TEST(ArchiveIndexTest, TakesWhatTheFileReaderTakesInPiecesOfAnySize) {
  const std::string longCode(CArchiveIndex::kMaxCodeBytes, 'L');
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"contiguous",
       Header(2.0f) + PriceRecord("1301", 20240104) + PriceRecord("1301", 20240105) +
           PriceRecord("7203", 20240104) + PriceRecord("130A", 20240105)},
      {"apart", Header(2.0f) + PriceRecord("1301", 20240104) + PriceRecord("7203", 20240104) +
                    PriceRecord("1301", 20240105) + PriceRecord("", 20240109) +
                    PriceRecord("1301", 20240110)},
      {"cut in the values",
       Header(2.0f) + PriceRecord("1301", 20240104) + PriceRecord("9984", 20240105).substr(0, 12)},
      {"cut in the code", Header(2.0f) + PriceRecord("1301", 20240104) + "99"},
      {"longest code", Header(2.0f) + PriceRecord(longCode, 20240104) + PriceRecord("1", 20240105)},
      {"old layout", Header(1.0f) + OldPriceRecord(7203, 20240104) + OldPriceRecord(1301, 20240104) +
                         OldPriceRecord(7203, 20240105) + OldPriceRecord(7, 20240105).substr(0, 20)},
      {"header only", Header(2.0f)},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir.Sub("whole"), c.bytes);
    CChartTable expected;
    CArchiveFileHeader header;
    ASSERT_TRUE(ReadArchivePriceFile(dir.Sub("whole").c_str(), expected, &header));
    for (size_t piece : {size_t{1}, size_t{3}, size_t{29}, c.bytes.size()}) {
      SCOPED_TRACE(piece);
      CArchiveIndex index(kArchivePriceValueBytes);
      Feed(index, dir.Sub("values"), c.bytes, piece);
      ASSERT_TRUE(index.HasHeader());
      EXPECT_EQ(index.Header().version, header.version);
      EXPECT_EQ(index.Header().madeDate, header.madeDate);
      EXPECT_EQ(index.Issues(), expected.size());
      EXPECT_EQ(Bars(index, expected), expected);
      CChart none;
      EXPECT_TRUE(ReadIndexedBars(index, "0000", none));
      EXPECT_TRUE(none.empty());
    }
  }
}

TEST(ArchiveIndexTest, ReadsMarginFilesAsTheirReaderDoes) {
  TempDir dir;
  CMarginTable table;
  table["1301"] = {Entry(20240105, 1200, 300.5), Entry(20240112, 1e12, 0)};
  table["7203"] = {Entry(20240112, 5, 6)};
  CArchiveFileHeader header;
  ASSERT_TRUE(WriteArchiveMarginFile(dir.Sub("whole").c_str(), table, 20240101, 20241231, header));
  std::string bytes;
  {
    std::ifstream in(dir.Sub("whole"), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  CArchiveIndex index(kArchiveMarginValueBytes);
  Feed(index, dir.Sub("values"), bytes, 5);
  for (const auto& [code, expected] : table) {
    CMargin got;
    ASSERT_TRUE(ReadIndexedMargins(index, code, got));
    EXPECT_EQ(got, expected) << code;
  }
}

// A code running past the limit is a damaged tail: the records before it
// stay, nothing after it is taken; too few bytes for a header do not read.
TEST(ArchiveIndexTest, EndsAtAnOverlongCodeAndNeedsAWholeHeader) {
  TempDir dir;
  const std::string bytes = Header(2.0f) + PriceRecord("1301", 20240104) +
                            PriceRecord(std::string(CArchiveIndex::kMaxCodeBytes + 1, 'X'), 20240105) +
                            PriceRecord("7203", 20240105);
  for (size_t piece : {size_t{7}, bytes.size()}) {
    CArchiveIndex index(kArchivePriceValueBytes);
    Feed(index, dir.Sub("values"), bytes, piece);
    EXPECT_EQ(index.Issues(), 1u);
    EXPECT_EQ(index.Records(), 1u);
  }
  CArchiveIndex shortFile(kArchivePriceValueBytes);
  Feed(shortFile, dir.Sub("values"), Header(2.0f).substr(0, 7), 7);
  EXPECT_FALSE(shortFile.HasHeader());
  EXPECT_EQ(shortFile.Issues(), 0u);
}

TEST(ArchiveIndexTest, OwnsItsValuesFile) {
  TempDir dir;
  const std::string first = dir.Sub("first"), second = dir.Sub("second");
  {
    CArchiveIndex index(kArchivePriceValueBytes);
    Feed(index, first, Header(2.0f) + PriceRecord("1301", 20240104), 100);
    EXPECT_EQ(access(first.c_str(), F_OK), 0);
    // Begun again: the old file goes, the new one holds only new records.
    Feed(index, second, Header(2.0f) + PriceRecord("7203", 20240104), 100);
    EXPECT_NE(access(first.c_str(), F_OK), 0);
    EXPECT_FALSE(index.Contains("1301"));
    EXPECT_TRUE(index.Contains("7203"));
  }
  EXPECT_NE(access(second.c_str(), F_OK), 0);
  CArchiveIndex unwritable(kArchivePriceValueBytes);
  EXPECT_FALSE(unwritable.Begin(dir.Sub("no/such/folder")));
  EXPECT_FALSE(unwritable.End());
}

}  // namespace
