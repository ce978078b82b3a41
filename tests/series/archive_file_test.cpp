// Archive price and margin files, in the current layout (zero-terminated
// codes) and the old one (16-bit issue numbers). Expected files are put
// together here from the documented layout, field by field, never by the
// writers under test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "series/archive_margin_file.h"
#include "series/archive_price_file.h"
#include "tests/common/temp_dir.h"
#include "tests/series/file_bytes.h"

namespace {

std::string ArchiveHeader(float version, uint32_t made) { return LeF32(version) + Le(made, 4); }
// The code part of a record: the zero-terminated code, or the number.
std::string CodePart(const std::string& code, bool old) {
  return old ? Le(std::stoul(code), 2) : code + '\0';
}
std::string PriceValues(const CDayRecord& bar) {
  return Le(bar.DateNumber(), 4) + LeF32(bar.open) + LeF32(bar.high) + LeF32(bar.low) +
         LeF32(bar.close) + LeF32(bar.volume);
}
std::string MarginValues(const CMarginRecord& e) {
  return Le(e.date.ToNumber(), 4) + LeF64(e.buy) + LeF64(e.sell);
}

struct Layout { float version; bool old; };
const Layout kLayouts[] = {{1.0f, true}, {1.5f, true}, {NAN, true}, {2.0f, false}, {2.5f, false}};

}  // namespace

// Records of one issue need not follow one another: the reader appends each
// to its code's series in file order. The writers put the records dated
// within the range issue by issue, in code order.
TEST(ArchiveFileTest, ReadersAndWritersFollowTheLayout) {
  EXPECT_EQ(std::string("\x00\x00\x00\x40\xad\xd7\x34\x01\x37\x32\x30\x33\x00\xad\xd7\x34\x01"
                        "\x00\x00\x30\x41\x00\x00\x40\x41\x00\x00\x20\x41\x00\x00\x38\x41"
                        "\x00\xe0\x2b\x46", 37),
            ArchiveHeader(2.0f, 20240301) + CodePart("7203", false) +
                PriceValues(Bar(20240301, 11, 12, 10, 11.5, 11000)));
  for (const Layout& layout : kLayouts) {
    std::vector<std::string> codes{"7203", "1301", "7203", "0", "65535"};
    if (!layout.old) codes.insert(codes.end(), {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "", "7203A"});
    const CArchiveFileHeader header{layout.version, 20240310};
    const std::string head = ArchiveHeader(layout.version, 20240310);
    std::string prices = head, margins = head;
    CChartTable priceTable{{"stale", {DayBar(20240101)}}}, expectedPrices;
    CMarginTable marginTable{{"stale", {Entry(20240101, 1, 1)}}}, expectedMargins;
    uint32_t date = 20240301;
    for (const std::string& code : codes) {
      const CMarginRecord entry = Entry(date, 1234567.891 * date, 0.1);
      prices += CodePart(code, layout.old) + PriceValues(DayBar(date));
      margins += CodePart(code, layout.old) + MarginValues(entry);
      expectedPrices[code].push_back(DayBar(date++));
      expectedMargins[code].push_back(entry);
    }
    TempDir dir;
    const std::string file = dir.Sub("archive.bin");
    const char* path = file.c_str();
    CArchiveFileHeader read;
    WriteBytes(path, prices);
    ASSERT_TRUE(ReadArchivePriceFile(path, priceTable, &read));
    EXPECT_EQ(expectedPrices, priceTable) << layout.version;
    EXPECT_EQ(head, ArchiveHeader(read.version, read.madeDate));
    WriteBytes(path, margins);
    ASSERT_TRUE(ReadArchiveMarginFile(path, marginTable));
    EXPECT_EQ(expectedMargins, marginTable) << layout.version;

    prices = margins = head;
    for (const auto& [code, series] : expectedPrices) {
      for (const CDayRecord& bar : series) {
        if (bar.DateNumber() >= 20240302 && bar.DateNumber() <= 20240304) {
          prices += CodePart(code, layout.old) + PriceValues(bar);
          margins += CodePart(code, layout.old) + MarginValues(expectedMargins[code][&bar - &series[0]]);
        }
      }
    }
    ASSERT_TRUE(WriteArchivePriceFile(path, expectedPrices, 20240302, 20240304, header));
    EXPECT_EQ(prices, ReadBytes(path));
    ASSERT_TRUE(WriteArchiveMarginFile(path, expectedMargins, 20240302, 20240304, header));
    EXPECT_EQ(margins, ReadBytes(path));
    ASSERT_TRUE(WriteArchivePriceFile(path, expectedPrices, 20240304, 20240302, header));
    EXPECT_EQ(head, ReadBytes(path));
    // Round trips.
    ASSERT_TRUE(WriteArchivePriceFile(path, expectedPrices, 0, UINT32_MAX, header));
    ASSERT_TRUE(ReadArchivePriceFile(path, priceTable));
    EXPECT_EQ(expectedPrices, priceTable);
    ASSERT_TRUE(WriteArchiveMarginFile(path, expectedMargins, 0, UINT32_MAX, header));
    ASSERT_TRUE(ReadArchiveMarginFile(path, marginTable));
    EXPECT_EQ(expectedMargins, marginTable);
  }
}

// A code the layout cannot give back is refused before the file is made;
// one without records in the range does not matter.
TEST(ArchiveFileTest, WritersRefuseWhatTheyCannotWrite) {
  struct Case { float version; std::string code; bool ok; };
  const Case cases[] = {
      {1.0f, "7203", true},   {1.0f, "0", true},     {1.0f, "65535", true},
      {1.0f, "65536", false}, {1.0f, "0123", false}, {1.0f, "72A0", false},
      {1.0f, "", false},      {1.0f, "-1", false},   {1.0f, "+1", false},
      {1.0f, "7203 ", false}, {2.0f, "7203A", true}, {2.0f, "", true},
      {2.0f, std::string("72\0" "3", 4), false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.Sub("archive.bin");
    const CArchiveFileHeader header{c.version, 20240110};
    const CChartTable prices{{c.code, DayBars({20240104})}, {"1301", DayBars({20240105})}};
    const CMarginTable margins{{c.code, {Entry(20240104, 1, 2)}}};
    EXPECT_EQ(c.ok, WriteArchivePriceFile(path.c_str(), prices, 20240104, 20240105, header)) << c.code;
    EXPECT_EQ(c.ok, std::filesystem::exists(path));
    EXPECT_EQ(c.ok, WriteArchiveMarginFile(path.c_str(), margins, 20240104, 20240105, header));
    EXPECT_TRUE(WriteArchivePriceFile(path.c_str(), prices, 20240105, 20240105, header));
  }
  TempDir dir;
  const std::string missing = dir.Sub("none/archive.bin");
  EXPECT_FALSE(WriteArchivePriceFile(missing.c_str(), {}, 0, 1, {}));
  EXPECT_FALSE(WriteArchiveMarginFile(missing.c_str(), {}, 0, 1, {}));
  bool ok[2];
  {
    FileSizeLimit limit(20);  // less than the header and one record
    ok[0] = WriteArchivePriceFile(dir.Sub("a").c_str(), {{"1", DayBars({1})}}, 0, 9, {});
    ok[1] = WriteArchiveMarginFile(dir.Sub("b").c_str(), {{"1", {Entry(1, 1, 2)}}}, 0, 9, {});
  }
  EXPECT_FALSE(ok[0]);
  EXPECT_FALSE(ok[1]);
}
