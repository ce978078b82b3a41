#include "db/brand_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/cp932.h"
#include "tests/common/temp_dir.h"

// This file is compiled with CP932 literals. File contents are built byte
// by byte from the layout of the issue list file, never by the writer.

namespace {

using Bytes = std::string;

const Bytes kHeaderV2("\x00\x00\x00\x40" "\xBB\xD7\x34\x01", 8);  // 2.0f, 20240315
const Bytes kHeaderV1("\x00\x00\x80\x3F" "\x15\xDB\x32\x01", 8);  // 1.0f, 20110101
const Bytes kOne("\x00\x00\x00\x00\x00\x00\xF0\x3F", 8);          // 1.0
const Bytes kMinusHalf("\x00\x00\x00\x00\x00\x00\xE0\xBF", 8);    // -0.5
const Bytes kBillion("\x00\x00\x00\x00\x65\xCD\xCD\x41", 8);      // 1e9
const Bytes kZero(8, '\0');

Bytes Text(const std::string& text) { return text + Bytes(1, '\0'); }

Bytes U32(std::uint32_t v) {
  Bytes b;
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
  return b;
}

// The fields after the code; the four doubles are given as bytes.
Bytes Tail(std::int32_t kind, const std::string& market, const std::string& industry,
           const std::string& name, std::uint32_t unit, std::uint32_t lendable,
           const Bytes& shares, const Bytes& dividend, const Bytes& eps,
           const Bytes& bps) {
  return U32(static_cast<std::uint32_t>(kind)) + Text(market) + Text(industry) +
         Text(name) + U32(unit) + U32(lendable) + shares + dividend + eps + bps;
}
const Bytes kPlainTail = Tail(1, "M", "I", "N", 1, 0, kZero, kZero, kZero, kZero);

CBrandRecord Record(const std::string& code, std::int32_t kind, const std::string& market,
                    const std::string& industry, const std::string& name,
                    std::uint32_t unit = 0, std::uint32_t lendable = 0, double shares = 0,
                    double dividend = 0, double eps = 0, double bps = 0) {
  return CBrandRecord{code, kind, market, industry, name, unit, lendable,
                      shares, dividend, eps, bps};
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<CBrandRecord> Records(const CBrandMap& map) {
  std::vector<CBrandRecord> out;
  for (const auto& [code, record] : map) out.push_back(record);
  return out;
}

// Three records in code order, their bytes, and where each record ends.
struct SmallFile {
  std::vector<CBrandRecord> records = {
      Record("1301", 1, "東証プライム", "水産・農林業", "極洋", 100, 1, 1e9, 1.0, -0.5, 1.0),
      Record("130A", 2, "東証", "", "ETF", 1),
      Record("7203", 1, "東証プライム", "輸送用機器", "トヨタ自動車", 100, 2)};
  std::vector<std::size_t> ends;
  Bytes bytes = kHeaderV2;

  SmallFile() {
    bytes += Text("1301") + Tail(1, "東証プライム", "水産・農林業", "極洋", 100, 1,
                                 kBillion, kOne, kMinusHalf, kOne);
    ends.push_back(bytes.size());
    bytes += Text("130A") + Tail(2, "東証", "", "ETF", 1, 0, kZero, kZero, kZero, kZero);
    ends.push_back(bytes.size());
    bytes += Text("7203") + Tail(1, "東証プライム", "輸送用機器", "トヨタ自動車", 100,
                                 2, kZero, kZero, kZero, kZero);
    ends.push_back(bytes.size());
  }
};

}  // namespace

// Readable failure messages.
void PrintTo(const CBrandRecord& r, std::ostream* os) {
  *os << "{" << r.code << "," << r.kind << "," << r.market << "," << r.industry << ","
      << r.name << "," << r.unit << "," << r.lendable << "," << r.sharesOutstanding << ","
      << r.dividend << "," << r.eps << "," << r.bps << "}";
}

TEST(BrandMapFileTest, Version2FileMatchesTheLayoutBothWays) {
  TempDir dir;
  SmallFile f;
  WriteFile(dir.Sub("in.bin"), f.bytes);
  CBrandMap map;
  ASSERT_TRUE(map.Load(dir.Sub("in.bin")));
  EXPECT_EQ(f.records, Records(map));

  CBrandMap shuffled;  // inserted out of order; written in code order
  for (int i : {2, 0, 1}) ASSERT_TRUE(shuffled.Insert(f.records[i]));
  ASSERT_TRUE(shuffled.Save(dir.Sub("out.bin"), CDate(2024, 3, 15)));
  EXPECT_EQ(f.bytes, ReadFile(dir.Sub("out.bin")));

  // Without a date, the header carries today (either day around midnight).
  CDate before = CDate::Today();
  ASSERT_TRUE(map.Save(dir.Sub("today.bin")));
  Bytes date = ReadFile(dir.Sub("today.bin")).substr(4, 4);
  EXPECT_TRUE(date == U32(before.ToNumber()) || date == U32(CDate::Today().ToNumber()));
}

TEST(BrandMapFileTest, Version1FileHasFourByteCodes) {
  TempDir dir;
  // A full code, a three-digit code padded with NUL and one with a blank.
  Bytes bytes = kHeaderV1 + "7203" +
                Tail(1, "東証1部", "輸送用機器", "トヨタ", 100, 1, kOne, kZero, kZero, kZero) +
                Bytes("130\0", 4) + kPlainTail + "131 " +
                Tail(6, "東証", "", "REIT", 1, 0, kZero, kZero, kZero, kOne);
  WriteFile(dir.Sub("v1.bin"), bytes);
  CBrandMap map;
  ASSERT_TRUE(map.Load(dir.Sub("v1.bin")));
  EXPECT_EQ((std::vector<CBrandRecord>{
                Record("130", 1, "M", "I", "N", 1),
                Record("131", 6, "東証", "", "REIT", 1, 0, 0, 0, 0, 1.0),
                Record("7203", 1, "東証1部", "輸送用機器", "トヨタ", 100, 1, 1.0)}),
            Records(map));

  // Loaded again from what Save wrote, as version 2.
  ASSERT_TRUE(map.Save(dir.Sub("v2.bin"), CDate(2024, 3, 15)));
  CBrandMap again;
  ASSERT_TRUE(again.Load(dir.Sub("v2.bin")));
  EXPECT_EQ(Records(map), Records(again));

  // The version alone picks the form: just below 2.0 the code is "7203"
  // and the kind starts at its NUL; NaN is not below 2.0.
  const Bytes record = Text("7203") + kPlainTail;
  WriteFile(dir.Sub("a.bin"), Bytes("\xFF\xFF\xFF\x3F", 4) + U32(0) + record);
  ASSERT_TRUE(map.Load(dir.Sub("a.bin")));
  ASSERT_EQ(1u, map.Size());
  EXPECT_EQ(256, map.Find("7203")->kind);
  WriteFile(dir.Sub("b.bin"), Bytes("\x00\x00\xC0\x7F", 4) + U32(0) + record);
  ASSERT_TRUE(map.Load(dir.Sub("b.bin")));
  EXPECT_EQ(1, map.Find("7203")->kind);
}

TEST(BrandMapFileTest, RoundTripKeepsAwkwardBytes) {
  TempDir dir;
  CBrandMap map;
  // 表 and ソ end with 0x5C, the byte of a backslash.
  ASSERT_TRUE(map.Insert(Record("O'Neil\\", 1, "表'", "ソ\\\\", "能表示'ソ", 0,
                                0xFFFFFFFFu, -1e300, 1e-300, -0.0, 12.34)));
  ASSERT_TRUE(map.Insert(Record(std::string(20, '9'), -7, "", "", "")));
  ASSERT_TRUE(map.Insert(Record("", 0, "x", "y", "z")));
  ASSERT_TRUE(map.Save(dir.Sub("r.bin")));
  CBrandMap loaded;
  ASSERT_TRUE(loaded.Load(dir.Sub("r.bin")));
  EXPECT_EQ(Records(map), Records(loaded));
  EXPECT_EQ("\x95\x5C'", loaded.Find("O'Neil\\")->market);
}

TEST(BrandMapDamageTest, MissingEmptyOrShortHeader) {
  TempDir dir;
  CBrandMap map;
  map.Insert(Record("1301", 1, "", "", ""));
  EXPECT_FALSE(map.Load(dir.Sub("absent.bin")));
  EXPECT_TRUE(map.Empty());
  map.Insert(Record("1301", 1, "", "", ""));
  WriteFile(dir.Sub("empty.bin"), "");
  EXPECT_FALSE(map.Load(dir.Sub("empty.bin")));
  EXPECT_TRUE(map.Empty());
  WriteFile(dir.Sub("header.bin"), kHeaderV2);
  EXPECT_TRUE(map.Load(dir.Sub("header.bin")));
  EXPECT_TRUE(map.Empty());
}

TEST(BrandMapDamageTest, EveryCutKeepsTheWholeRecordsBeforeIt) {
  TempDir dir;
  SmallFile f;
  const std::string path = dir.Sub("cut.bin");
  for (std::size_t length = 0; length <= f.bytes.size(); ++length) {
    SCOPED_TRACE(length);
    WriteFile(path, f.bytes.substr(0, length));
    CBrandMap map;
    ASSERT_EQ(length >= 8, map.Load(path));
    auto whole = std::count_if(f.ends.begin(), f.ends.end(),
                               [length](std::size_t end) { return end <= length; });
    EXPECT_EQ(std::vector<CBrandRecord>(f.records.begin(), f.records.begin() + whole),
              Records(map));
  }
}

TEST(BrandMapDamageTest, UnendedOrOverlongTextsEndTheList) {
  TempDir dir;
  SmallFile f;
  const std::string limit(CBrandMap::kMaxTextBytes, 'x');
  const std::string twenty(20, '1');
  // Each damage is followed by a whole record, which must not load either.
  const Bytes cases[] = {
      f.bytes + Text("9") + U32(1) + Bytes(1 << 20, 'M'),   // 1 MB market, no NUL
      f.bytes + Text(std::string(21, '2')) + kPlainTail,     // 21-byte code
      f.bytes + Text("9") + Tail(1, "", "", limit + "x", 1, 0, kZero, kZero, kZero, kZero),
  };
  CBrandMap map;
  for (const Bytes& bytes : cases) {
    WriteFile(dir.Sub("bad.bin"), bytes + Text("9999") + kPlainTail);
    ASSERT_TRUE(map.Load(dir.Sub("bad.bin")));
    EXPECT_EQ(f.records, Records(map));
  }
  WriteFile(dir.Sub("bad.bin"), f.bytes + "9984");  // code cut before its NUL
  ASSERT_TRUE(map.Load(dir.Sub("bad.bin")));
  EXPECT_EQ(f.records, Records(map));
  // At the limits the record is whole.
  WriteFile(dir.Sub("limit.bin"),
            kHeaderV2 + Text(twenty) +
                Tail(1, "", "", limit, 1, 0, kZero, kZero, kZero, kZero));
  ASSERT_TRUE(map.Load(dir.Sub("limit.bin")));
  ASSERT_NE(nullptr, map.Find(twenty));
  EXPECT_EQ(limit, map.Find(twenty)->name);
}

TEST(BrandMapDamageTest, LaterRecordWithTheSameCodeWins) {
  TempDir dir;
  WriteFile(dir.Sub("dup.bin"),
            kHeaderV2 + Text("7203") + kPlainTail + Text("7203") +
                Tail(1, "B", "", "new", 100, 1, kOne, kZero, kZero, kZero));
  CBrandMap map;
  ASSERT_TRUE(map.Load(dir.Sub("dup.bin")));
  EXPECT_EQ((std::vector<CBrandRecord>{Record("7203", 1, "B", "", "new", 100, 1, 1.0)}),
            Records(map));
}

TEST(BrandMapDamageTest, SaveRefusesWhatTheFileCannotCarry) {
  TempDir dir;
  CBrandMap map;
  EXPECT_FALSE(map.Insert(Record(std::string(21, '1'), 1, "", "", "")));
  EXPECT_FALSE(map.Insert(Record(std::string("72\0" "3", 4), 1, "", "", "")));
  EXPECT_TRUE(map.Empty());
  ASSERT_TRUE(map.Insert(Record("7203", 1, "", "", std::string("a\0b", 3))));
  EXPECT_FALSE(map.Save(dir.Sub("nul.bin")));
  EXPECT_FALSE(std::filesystem::exists(dir.Sub("nul.bin")));

  map.Insert(Record("7203", 1, "", "", ""));
  EXPECT_FALSE(map.Save(dir.Sub("no/such/folder/x.bin")));
  // A device that takes no byte: the failure shows when the buffer flushes.
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(map.Save("/dev/full"));
  }
}

TEST(BrandMapTest, OrderReplaceAndErase) {
  CBrandMap map;
  for (const char* code : {"9999", "\x82\x50", "1301", "13", "130A", "1001"}) {
    map.Insert(Record(code, 1, "", "", ""));
  }
  map.Insert(Record("13", 6, "X", "", ""));
  std::vector<std::string> codes;
  for (const auto& [code, record] : map) codes.push_back(code);
  EXPECT_EQ((std::vector<std::string>{"1001", "13", "1301", "130A", "9999", "\x82\x50"}),
            codes);
  EXPECT_EQ(Record("13", 6, "X", "", ""), *map.Find("13"));
  EXPECT_TRUE(map.Erase("13"));
  EXPECT_FALSE(map.Erase("13"));
  EXPECT_EQ(nullptr, map.Find("13"));
}

TEST(BrandMapTest, DumpPrintsRecordsAndCount) {
  CBrandMap map;
  map.Insert(Record("7203", 1, "東証プライム", "輸送用機器", "トヨタ", 100, 1, 1.5e9,
                    60.0, 300.25, -2.5));
  map.Insert(Record("1001", 3, "", "", "日経平均", 1));
  auto dump = [&map](bool brief) {
    std::FILE* out = std::tmpfile();
    map.Dump(brief, out);
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(out);
    return Cp932FromUtf8(text);  // printed as UTF-8 for the terminal
  };
  EXPECT_EQ("[1001:3:日経平均::]\n[7203:1:トヨタ:東証プライム:輸送用機器]\n銘柄数=2\n",
            dump(true));
  EXPECT_EQ("[1001:3:日経平均::]\n 貸借=0\n 単元=1\n 配当=0.000000\n 発行済=0.000000\n"
            " EPS=0.000000\n BPS=0.000000\n"
            "[7203:1:トヨタ:東証プライム:輸送用機器]\n 貸借=1\n 単元=100\n"
            " 配当=60.000000\n 発行済=1500000000.000000\n EPS=300.250000\n"
            " BPS=-2.500000\n銘柄数=2\n",
            dump(false));
}

TEST(BrandMapTest, MarketAndIndustryOrders) {
  std::vector<std::string> markets = {"その他市場", "名証2部", "東証プライム", "マザーズ",
                                      "東証グロース"};
  CBrandMap::SortMarkets(markets);
  EXPECT_EQ((std::vector<std::string>{"東証グロース", "東証プライム", "マザーズ", "名証2部",
                                      "その他市場"}),
            markets);
  // 名 (0x96) ranks before 札 (0x8E) and 福 (0x95); names shorter than a
  // double-byte character and ASCII names rank last, by text.
  markets = {"JQ", "", "福証", "札証", "X", "名証", "東"};
  CBrandMap::SortMarkets(markets);
  EXPECT_EQ((std::vector<std::string>{"東", "名証", "札証", "福証", "", "JQ", "X"}),
            markets);

  std::vector<std::string> industries = {"業種なし", "化学", "", "電気機器", "業種なし"};
  CBrandMap::SortIndustries(industries);
  EXPECT_EQ((std::vector<std::string>{"電気機器", "化学", "", "業種なし", "業種なし"}),
            industries);
  EXPECT_FALSE(CBrandMap::IndustryBefore("業種なし", "業種なし"));
}
